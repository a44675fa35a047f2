#include "record_time.h"

#include <sys/statfs.h>

#include <ctime>
#include <mutex>

#include "ticks.h"

namespace {

unsigned long long downTo(unsigned long long ticks, unsigned long long step) {
  return ticks - ticks % step;
}

// The step, in ticks, that a status-change time's nanoseconds show the file
// system keeps its times in; 1 for times finer than 100 ns steps show.
unsigned long long stepOf(long nanoseconds) {
  if (nanoseconds == 0) return 2 * ticksPerSecond;  // whole seconds, or FAT's two
  if (nanoseconds % 100 != 0) return 1;
  unsigned long long step = 1;
  for (long ns = nanoseconds / 100; ns % 10 == 0 && step < ticksPerSecond / 10; ns /= 10) step *= 10;
  return step;
}

// Magic numbers of file systems whose times the server sets.
bool remoteType(unsigned long type) {
  switch (type) {
    case 0x6969:      // NFS
    case 0x517B:      // SMB
    case 0xFF534D42:  // CIFS
    case 0xFE534D42:  // SMB2
    case 0x65735546:  // FUSE
    case 0x01021997:  // 9p
    case 0x00C36400:  // Ceph
    case 0x6B414653:  // AFS (kernel)
    case 0x5346414F:  // AFS (OpenAFS)
    case 0x73757245:  // Coda
    case 0x0BD00BD0:  // Lustre
    case 0x47504653:  // GPFS
      return true;
    default:
      return false;
  }
}

}  // namespace

bool stampedElsewhere(const char* path, dev_t device) {
  // A few devices per run at most; the last ones looked up are kept.
  static std::mutex guard;
  static dev_t devices[8];
  static bool remote[8];
  static int known = 0;
  std::lock_guard<std::mutex> lock(guard);
  for (int i = 0; i < known; ++i)
    if (devices[i] == device) return remote[i];
  struct statfs about;
  // Unknown is taken as elsewhere: the wider margin is the safe one.
  bool answer = statfs(path, &about) != 0 || remoteType(static_cast<unsigned long>(about.f_type));
  int slot = known < 8 ? known++ : static_cast<int>(device % 8);
  devices[slot] = device;
  remote[slot] = answer;
  return answer;
}

bool unchangedSince(const struct stat& status, unsigned long long recordTicks, bool elsewhere) {
  unsigned long long limit = recordTicks;
  if (elsewhere) {
    limit = limit > 2 * ticksPerSecond ? downTo(limit - 2 * ticksPerSecond, 2 * ticksPerSecond) : 0;
  } else {
    limit = downTo(limit, stepOf(status.st_ctim.tv_nsec));
  }
  return ticksOf(status.st_mtim) < limit && ticksOf(status.st_ctim) < limit;
}
