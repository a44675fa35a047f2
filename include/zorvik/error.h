#pragma once

#include <cerrno>

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

// Only these errno values have codes of their own; everything else,
// EPERM included, is Unknown error.
inline int from_errno(int value) {
  switch (value) {
    case 0: return ok;
    case ENOENT: return file_not_found;
    case EIO: return file_read_error;
    case EACCES: return access_denied;
    case EEXIST: return file_already_exists;
    case EINVAL: return invalid_arguments;
    default: return unknown_error;
  }
}

// The code for the calling thread's current errno.
inline int translate_errno() { return from_errno(errno); }

// Defined by the program, which alone prints: the static text of `code`
// ("Unknown error" for any code outside the table), never null.
const wchar_t* message(int code);
// message(translate_errno()): for use right after a failed system call.
const wchar_t* errno_message();

}  // namespace error
