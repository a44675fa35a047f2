#pragma once

#include <sys/stat.h>

#include <climits>

// The exclusive advisory lock (flock) that a run holds on the list it will
// replace or rewrite, so that two runs on one list take turns and the later
// one reads what the earlier one wrote. Not held on pipes and devices.
struct list_guard {
  char name[PATH_MAX];  // the list locked, as named; empty while none is
  int file;             // the list, open for writing (and locked), or -1
  int directory;        // the locked directory of a list not there yet, or -1
  int refused;          // the code of a lock the file system refused, or 0
  // The list as a verify run opened it, to tell whether it was replaced or
  // rewritten meanwhile.
  char watched[PATH_MAX];  // empty while none is

  dev_t device;
  ino_t inode;
  off_t size;
  struct timespec modified;
  // A copy of the old list left behind when it could not be put back.
  char kept[PATH_MAX];
};

// A guard holding nothing; null without memory.
list_guard* newGuard();
// Unlocks and frees `guard` (may be null).
void deleteGuard(list_guard* guard);

// Opens and locks the list `name`, waiting for a run that holds it; then,
// should the name lead to another file by now (replaced by that run), the
// new one. A list not there yet is stood for by its directory, locked until
// the list is in place. Nothing is done when `guard` holds `name` already.
// A lock the file system refuses leaves the run unlocked, with the reason
// in `refused`. Returns 0, or the code of a list that cannot be opened for
// writing (Access denied for one the user may not write).
int lockList(list_guard* guard, const char* name);
// Releases what lockList() took.
void unlockList(list_guard* guard);

// Notes the list `name` that a verify run opened, as `status` shows it.
void watchList(list_guard* guard, const char* name, const struct stat& status);
// Locks the watched list, open at `descriptor` (until it is closed), and
// tells whether it is still the file at its name, unchanged since it was
// watched.
bool lockWatched(list_guard* guard, int descriptor);
