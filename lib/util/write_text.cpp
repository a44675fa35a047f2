#include "util/write_text.h"

#include <cstdarg>

#include <zorvik/error.h>

int writeText(FILE* file, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  int code = error::from_write([&] { return vfprintf(file, format, arguments) >= 0; });
  va_end(arguments);
  return code;
}
