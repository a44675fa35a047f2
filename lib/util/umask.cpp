#include "util/umask.h"

#include <sys/stat.h>

#include <cstdio>

mode_t currentUmask() {
  if (FILE* status = fopen("/proc/self/status", "r")) {
    char line[256];
    unsigned int mask;
    while (fgets(line, sizeof line, status) != nullptr) {
      if (sscanf(line, "Umask: %o", &mask) == 1) {
        fclose(status);
        return static_cast<mode_t>(mask);
      }
    }
    fclose(status);
  }
  mode_t mask = umask(022);
  umask(mask);
  return mask;
}
