#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include "node_pool.h"
#include "options.h"

// The checksum file a create run writes (a temporary file until it takes
// the list's place) and the list it replaces, so that neither is listed in
// the new one, whatever name leads to them. A list not there yet is known
// by the directory it is named in and its last name.
struct created_file {
  struct identity {
    bool known = false;
    dev_t device = 0;
    ino_t inode = 0;
  };
  identity writing, replaced, directory;
  char last[256] = "";

  // Notes the directory and last name of the list `name`.
  void noteName(const char* name);
  // Whether `path`, which names no file, names the list.
  bool names(const char* path) const;
  // Whether a directory entry of last name `name` and inode `inode` may be
  // either file, or the temporary file of a run that was killed: only those
  // need their own look to be told apart.
  bool mayBe(const char* name, ino_t inode) const;

  static void note(identity& id, const struct stat& status) {
    id.known = true;
    id.device = status.st_dev;
    id.inode = status.st_ino;
  }
  bool is(const struct stat& status) const {
    auto same = [&status](const identity& id) {
      return id.known && status.st_dev == id.device && status.st_ino == id.inode;
    };
    return S_ISREG(status.st_mode) && (same(writing) || same(replaced));
  }
};

// Told of each regular file as soon as gathering finds it, so that hashing
// may start meanwhile. Answers 0 to have it listed, a positive value to
// leave it out, or an error code that ends gathering. Asked first whether
// the list can carry the file's path at all.
//
// `status` is what stat gave, except for a regular file met in a walk where
// nothing else was to be learnt from it (see gather.cpp): then it holds the
// type, device and inode only, and a size of -1 (see lookedAt()).
class file_sink {
public:
  virtual bool listable(const char* path) = 0;
  virtual int found(const path_node& file, const struct stat& status) = 0;
  // Whether found() must be told each file's size.
  virtual bool needsSizes() const { return true; }
  // Whether the sink itself tells whether the user may read a file that
  // gathering did not look at, by the file as hashing opens it.
  virtual bool checksAccess() const { return false; }

protected:
  ~file_sink() = default;
};

// Whether gathering looked at the file whose status this is, rather than
// taking it as its directory entry showed it.
inline bool lookedAt(const struct stat& status) { return status.st_size >= 0; }

// Told of each checksum list that the operands of a verify run give, in
// their order.
class list_sink : public file_sink {
public:
  // Lists found are read, never written into one.
  bool listable(const char*) override { return true; }
  // Whether the regular file `path`, met in a directory's walk, is a list;
  // those that are not are passed over without a word. found() is then told
  // of each one that is.
  virtual bool wants(const char* path) const = 0;
  // An operand that is no directory: a list, whatever it is (reading it
  // tells what keeps it from being read).
  virtual int named(const char* name) = 0;
  // Whether the search is no longer wanted: it ends at the next directory.
  virtual bool stopped() const { return false; }

protected:
  ~list_sink() = default;
};

// Turns the operands argv[settings.firstOperand..], then those named in
// settings.filesFrom, into the regular files to hash, appended to `files` in
// the order found (and told to `sink`); directories (with -r) go
// breadth-first through `directories`, each one's entries in byte order
// with settings.sorted. Names matching settings.excludes are left out.
// Returns 0, or the code that ends the create run (Path error, File read
// error, Invalid line, an errno code). `*leftOut` tells whether an operand
// did not exist, or an operand or a file or directory met in a walk could
// not be read: the list then lacks files the user asked for.
int gatherFiles(const run_settings& settings, int argc, char** argv, const created_file& created,
                path_list& files, path_list& directories, file_sink& sink, bool* leftOut);

// Turns the operands argv[first..] of a verify run into the lists to verify,
// told to `sink`: an operand that is a directory stands for the lists
// directly in it (with settings.recursive, in its whole tree), found by the
// rules of gathering (no loops, -x, excludes, sorted), appended to `lists`
// (directories go through `directories`). Only the sink judges a list found:
// it is read, not listed, so nothing else is checked of it. Returns 0, or
// the code that ends the run; `*leftOut` tells whether a directory or an
// entry met could not be looked at (reported, and the search went on).
int gatherLists(const run_settings& settings, int first, int argc, char** argv, list_sink& sink,
                path_list& lists, path_list& directories, bool* leftOut);

// The longest path gathering accepts from a walk, in bytes.
inline constexpr size_t longestWalkPath = 263;
