#include "output.h"

#include <stdio_ext.h>

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>

#include <zorvik/error.h>

#include "line_format.h"
#include "status_line.h"

namespace {

bool silent = false;

thread_local line_capture* capturing = nullptr;

// Room for any line gathering writes: a message and two names, each
// escaped at up to four bytes a byte.
constexpr size_t capturedRoom = 2 * 4 * PATH_MAX + 1024;

// The stream a line goes to, made ready for it: standard error is written
// after standard output is flushed, so that both keep their order where
// they share a terminal or a file.
FILE* lineStream(bool toError) {
  status_line::clear();
  if (!toError) return stdout;
  fflush(stdout);
  return stderr;
}

void writeLine(bool toError, const char* format, va_list arguments) {
  if (capturing != nullptr) {
    char text[capturedRoom];
    {
      line_sink line(text, sizeof text);
      formatLine(line, format, arguments);
    }
    capturing->captured(toError, text);
    return;
  }
  line_sink out(lineStream(toError));
  formatLine(out, format, arguments);
}

}  // namespace

void captureLines(line_capture* capture) { capturing = capture; }

void report(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  writeLine(true, format, arguments);
  va_end(arguments);
}

void keepStandardOutputSilent() { silent = true; }

void say(const char* format, ...) {
  if (silent) return;
  va_list arguments;
  va_start(arguments, format);
  writeLine(false, format, arguments);
  va_end(arguments);
}

void writeCaptured(bool toError, const char* line) {
  if (!toError && silent) return;
  fputs(line, lineStream(toError));
}

void formatShown(char* out, size_t room, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  line_sink text(out, room);
  formatLine(text, format, arguments);
  va_end(arguments);
}

void progress(const char* format, ...) {
  if (silent) return;
  va_list arguments;
  va_start(arguments, format);
  if (status_line::takesPercentages()) {
    char text[1024];
    {
      line_sink shown(text, sizeof text);
      formatLine(shown, format, arguments);
    }
    status_line::percentage(text);
  } else {
    status_line::clear();
    {
      line_sink out(stdout);
      formatLine(out, format, arguments);
    }
    fflush(stdout);
  }
  va_end(arguments);
}

int finishOutput(int value) {
  bool pending = __fpending(stdout) != 0;
  int code = error::from_write([] { return fflush(stdout) == 0 && ferror(stdout) == 0; });
  if (code != error::ok) {
    fclose(stdout);
  } else {
    code = error::from_write([] { return fclose(stdout) == 0; });
    // As coreutils judge it: a closed standard output that was never
    // written to is no loss.
    if (code != error::ok && !pending && errno == EBADF) code = error::ok;
  }
  if (code == error::ok) return value;
  fprintf(stderr, "Error writing output: %ls\n", error::message(code));
  return value == 0 ? error::unknown_error : value;
}
