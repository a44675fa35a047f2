#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <cerrno>

// Reads `length` bytes at `offset` of `fd` into `buffer`, more calls after
// short ones: 0, or the errno of the failure. An early end of file gives
// EIO: the file shrank under us.
inline int readExactly(int fd, unsigned char* buffer, unsigned int length,
                       unsigned long long offset) {
  unsigned int got = 0;
  while (got < length) {
    ssize_t n = pread(fd, buffer + got, length - got, static_cast<off_t>(offset + got));
    if (n > 0)
      got += static_cast<unsigned int>(n);
    else if (n == 0)
      return EIO;
    else if (errno != EINTR)
      return errno;
  }
  return 0;
}
