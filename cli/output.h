#pragma once

#include <cstddef>

// Every line the program prints goes through these. Their "%s" arguments
// are names (messages are "%ls"): a line holding a name with a control
// character begins with a backslash and shows its names escaped (see
// formatLine), so that no name can break or rewrite a line.

// Writes a problem report to standard error. Standard output is flushed
// first, so that both streams keep their order when they share a terminal
// or a file.
void report(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Writes a progress line (ending in "\r") to standard output and flushes it,
// since no line feed would; or shows it in the status line, when that is on
// the same terminal.
void progress(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Writes to standard output, unless the run was asked for its exit status
// alone (--status); then nothing goes there.
void say(const char* format, ...) __attribute__((format(printf, 1, 2)));
void keepStandardOutputSilent();

// The line as say() would write it, into `out` of `room` bytes (cut to
// fit), for showing elsewhere.
void formatShown(char* out, size_t room, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// Lines written elsewhere: while a thread has set one, its say() and
// report() hand each line, as they would write it, to the capture instead.
class line_capture {
public:
  virtual void captured(bool toError, const char* line) = 0;

protected:
  ~line_capture() = default;
};
// Sets (null: ends) the calling thread's capture.
void captureLines(line_capture* capture);
// Writes a captured line where it was meant to go, as say() or report().
void writeCaptured(bool toError, const char* line);

// Ends standard output: flushes and closes it. When anything written to it
// was lost, says so on standard error and turns a `value` of 0 into Unknown
// error; other values stay. Returns the value to exit with.
int finishOutput(int value);
