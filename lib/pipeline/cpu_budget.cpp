#include "pipeline/cpu_budget.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sched.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Reads a small file whole into `text`, keeping only complete lines when it
// does not fit. False when it cannot be read.
bool readText(const char* path, char* text, size_t size) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  size_t used = 0;
  ssize_t n;
  while (used + 1 < size && (n = read(fd, text + used, size - 1 - used)) > 0) used += static_cast<size_t>(n);
  close(fd);
  text[used] = '\0';
  if (used + 1 == size) {
    char* last = strrchr(text, '\n');
    if (last != nullptr) last[1] = '\0';
  }
  return true;
}

// The CPUs the cpu.max in `dir` allows; INT_MAX when it sets no limit.
int quotaCpus(const char* dir) {
  char path[PATH_MAX];
  char text[64];
  if (snprintf(path, sizeof path, "%s/cpu.max", dir) >= static_cast<int>(sizeof path)) return INT_MAX;
  if (!readText(path, text, sizeof text)) return INT_MAX;
  char* end;
  long long quota = strtoll(text, &end, 10);
  if (end == text) return INT_MAX;  // "max"
  long long period = strtoll(end, nullptr, 10);
  if (quota <= 0 || period <= 0) return INT_MAX;
  long long cpus = (quota + period - 1) / period;
  return cpus < INT_MAX ? static_cast<int>(cpus) : INT_MAX;
}

// The cgroup v2 line's path ("0::/a/b" gives "/a/b") into `path`. False
// without one, or when the cgroup lies outside the mount ("/.." steps).
bool unifiedPath(const char* text, char* path, size_t size) {
  const char* line = text;
  while (strncmp(line, "0::", 3) != 0) {
    line = strchr(line, '\n');
    if (line == nullptr) return false;
    ++line;
  }
  line += 3;
  size_t length = strcspn(line, "\n");
  if (line[0] != '/' || length >= size) return false;
  memcpy(path, line, length);
  path[length] = '\0';
  if (strstr(path, "/../") != nullptr) return false;
  return !(length >= 3 && strcmp(path + length - 3, "/..") == 0);
}

int affinityCount() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) return CPU_COUNT(&set);
  // More CPUs than a cpu_set_t holds.
  return static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN));
}

bool isUnified(const char* path) {
  struct statfs about;
  return statfs(path, &about) == 0 && about.f_type == CGROUP2_SUPER_MAGIC;
}

}  // namespace

int usableCpus(const char* procSelfCgroup, const char* cgroupRoot, int affinityCount) {
  int cpus = affinityCount;
  char relative[PATH_MAX];
  char dir[PATH_MAX];
  if (procSelfCgroup != nullptr && cgroupRoot != nullptr &&
      unifiedPath(procSelfCgroup, relative, sizeof relative) &&
      snprintf(dir, sizeof dir, "%s%s", cgroupRoot, relative) < static_cast<int>(sizeof dir)) {
    // From the process's cgroup up to the mount point, the first included.
    size_t rootLength = strlen(cgroupRoot);
    for (;;) {
      size_t length = strlen(dir);
      while (length > rootLength && dir[length - 1] == '/') dir[--length] = '\0';
      int quota = quotaCpus(dir);
      if (quota < cpus) cpus = quota;
      if (length <= rootLength) break;
      char* slash = strrchr(dir + rootLength, '/');
      if (slash == nullptr) break;
      *slash = '\0';
    }
  }
  return cpus > 1 ? cpus : 1;
}

int usableCpus() {
  char text[8192];
  if (!readText("/proc/self/cgroup", text, sizeof text)) return usableCpus(nullptr, nullptr, affinityCount());
  // Mounted alone, or beside the v1 hierarchies on a hybrid system.
  const char* root = isUnified("/sys/fs/cgroup")           ? "/sys/fs/cgroup"
                     : isUnified("/sys/fs/cgroup/unified") ? "/sys/fs/cgroup/unified"
                                                           : nullptr;
  return usableCpus(text, root, affinityCount());
}
