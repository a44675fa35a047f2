#include "pipeline/rotational.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <climits>
#include <cstdio>

// The device's sysfs directory is opened through its link under dev/block
// and every step after it is taken from an open directory, so the kernel
// follows the (relative) links and ".." leads to the real parent, inside
// whatever tree the root names.

namespace {

// Stacked devices nest a few levels at most; the limit also ends a cycle.
constexpr int maxDepth = 8;

pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;
char g_root[PATH_MAX] = "/sys";

struct known {
  dev_t device;
  bool rotational;
};
// A run meets only a handful of devices; past this many, lookups repeat.
known g_known[32];
int g_knownCount = 0;

int openDirectory(int at, const char* name) {
  return openat(at, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

bool rotationalAt(int dir, int depth);

// Whether `dir` has members; if so, `*any` tells whether one is rotational.
bool membersOf(int dir, int depth, bool* any) {
  int fd = openDirectory(dir, "slaves");
  if (fd < 0) return false;
  DIR* members = fdopendir(fd);
  if (members == nullptr) {
    close(fd);
    return false;
  }
  bool found = false;
  *any = false;
  while (!*any) {
    dirent* entry = readdir(members);
    if (entry == nullptr) break;
    if (entry->d_name[0] == '.') continue;
    found = true;
    int member = openDirectory(dirfd(members), entry->d_name);
    if (member < 0) continue;
    *any = rotationalAt(member, depth + 1);
    close(member);
  }
  closedir(members);
  return found;
}

bool rotationalAt(int dir, int depth) {
  if (depth > maxDepth) return false;
  if (faccessat(dir, "partition", F_OK, 0) == 0) {
    int disk = openDirectory(dir, "..");
    if (disk < 0) return false;
    bool answer = rotationalAt(disk, depth + 1);
    close(disk);
    return answer;
  }
  bool any;
  if (membersOf(dir, depth, &any)) return any;
  int fd = openat(dir, "queue/rotational", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char flag = 0;
  bool answer = read(fd, &flag, 1) == 1 && flag == '1';
  close(fd);
  return answer;
}

bool lookUp(dev_t device) {
  char path[PATH_MAX];
  int length = snprintf(path, sizeof path, "%s/dev/block/%u:%u", g_root, major(device), minor(device));
  if (length < 0 || length >= static_cast<int>(sizeof path)) return false;
  int dir = openDirectory(AT_FDCWD, path);
  if (dir < 0) return false;
  bool answer = rotationalAt(dir, 0);
  close(dir);
  return answer;
}

}  // namespace

bool isRotational(dev_t device) {
  pthread_mutex_lock(&g_lock);
  int i = 0;
  while (i < g_knownCount && g_known[i].device != device) ++i;
  bool answer;
  if (i < g_knownCount) {
    answer = g_known[i].rotational;
  } else {
    answer = lookUp(device);
    if (g_knownCount < static_cast<int>(sizeof g_known / sizeof g_known[0]))
      g_known[g_knownCount++] = {device, answer};
  }
  pthread_mutex_unlock(&g_lock);
  return answer;
}

void setSysfsRoot(const char* root) {
  pthread_mutex_lock(&g_lock);
  snprintf(g_root, sizeof g_root, "%s", root != nullptr ? root : "/sys");
  g_knownCount = 0;
  pthread_mutex_unlock(&g_lock);
}
