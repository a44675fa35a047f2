#pragma once

#include <sys/stat.h>

// When the verification record may vouch for a file: only when the file's
// times prove that nothing changed it since the run that wrote the record
// began.

// Whether `path` lies on a file system whose times another machine stamps
// (NFS, SMB/CIFS, FUSE, 9p, Ceph and the like); looked up once per device.
bool stampedElsewhere(const char* path, dev_t device);

// Whether both the modification and the status-change time of `status` lie
// strictly before `recordTicks`, the start of the run that wrote the record.
// Times kept in coarse steps (a status-change time that is a multiple of
// a second or of 10^k ns shows them) compare with the record time rounded
// down to such a step, whole seconds to an even second; times stamped
// elsewhere with the record time 2 s earlier, rounded down to an even
// second, for clocks kept within 2 s of each other.
bool unchangedSince(const struct stat& status, unsigned long long recordTicks, bool elsewhere);
