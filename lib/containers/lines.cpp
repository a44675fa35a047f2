#include "lines.h"

#include <sys/types.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <zorvik/error.h>

long readWholeLine(FILE* file, char** buffer, size_t* room, unsigned long* lines) {
  for (;;) {
    errno = 0;
    ssize_t got = getline(buffer, room, file);
    if (got < 0) {
      if (feof(file) && !ferror(file)) return 0;
      // A read error without errno must still not look like the end.
      return errno != 0 ? error::translate_errno() : error::file_read_error;
    }
    ++*lines;
    size_t length = static_cast<size_t>(got);
    while (length > 0 && (*buffer)[length - 1] == '\n') --length;
    (*buffer)[length] = '\0';
    if (length > 0) return static_cast<long>(length);
  }
}
