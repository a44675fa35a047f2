#include "output.h"

#include <cstdarg>
#include <cstdio>

void report(const char* format, ...) {
  fflush(stdout);
  va_list arguments;
  va_start(arguments, format);
  vfprintf(stderr, format, arguments);
  va_end(arguments);
}

void progress(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  vprintf(format, arguments);
  va_end(arguments);
  fflush(stdout);
}
