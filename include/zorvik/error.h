#pragma once

#include <cerrno>

#include <zorvik/api.h>

// The system's error codes: 0 is success, small negative numbers are failures.
// The errno mapping is inline so that the library and the program carry the
// same one; the message texts belong to the program.
namespace error {

inline constexpr int ok = 0;
inline constexpr int unknown_error = -1;
inline constexpr int file_not_open = -2;
inline constexpr int file_read_error = -3;
inline constexpr int file_not_found = -4;
inline constexpr int access_denied = -5;
inline constexpr int invalid_line = -6;
inline constexpr int file_already_exists = -7;
inline constexpr int invalid_arguments = -8;
inline constexpr int path_error = -9;

// The errno behind the last code from_errno() gave on the calling thread
// when that code was Unknown error; 0 after a value with a code of its own.
// message(unknown_error) shows the system's text of it, so a failure mapped
// where it happens still names its reason when printed later on the same
// thread. A code carried to another thread takes its errno along by
// mapping it again there. Lives in the library, which both sides share.
ZORVIK_API int& unknown_errno();

// Only these errno values have codes of their own; everything else,
// EPERM included, is Unknown error.
inline int from_errno(int value) {
  int code;
  switch (value) {
    case 0: code = ok; break;
    case ENOENT: code = file_not_found; break;
    case EIO: code = file_read_error; break;
    case EACCES: code = access_denied; break;
    case EEXIST: code = file_already_exists; break;
    case EINVAL: code = invalid_arguments; break;
    default: code = unknown_error; break;
  }
  unknown_errno() = code == unknown_error ? value : 0;
  return code;
}

// The code for the calling thread's current errno.
inline int translate_errno() { return from_errno(errno); }

// How a failed write becomes a code, alike in the library and the program:
// `write` runs with errno cleared and returns whether it succeeded. Its
// errno is the reason; a failure that set none is Unknown error (a stream
// flagged by an earlier failure), or the code of `unset` where that has a
// meaning of its own (a descriptor write that wrote nothing: ENOSPC).
template <class Write>
int from_write(Write&& write, int unset = 0) {
  errno = 0;
  if (write()) return ok;
  int code = from_errno(errno != 0 ? errno : unset);
  return code != ok ? code : unknown_error;
}

// Defined by the program, which alone prints: the static text of `code`,
// never null. Unknown error shows the C library's English text of
// unknown_errno() when there is one, and takes it, so that the reason goes
// with one message only; "Unknown error" otherwise, and for any code
// outside the table.
const wchar_t* message(int code);
// message(translate_errno()): for use right after a failed system call.
const wchar_t* errno_message();

}  // namespace error
