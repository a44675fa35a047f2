#include <zorvik/error.h>

namespace error {

const wchar_t* message(int code) {
  switch (code) {
    case ok: return L"Ok";
    case file_not_open: return L"File not open";
    case file_read_error: return L"File read error";
    case file_not_found: return L"File not found";
    case access_denied: return L"Access denied";
    case invalid_line: return L"Invalid line";
    case file_already_exists: return L"File already exists";
    case invalid_arguments: return L"Invalid arguments";
    case path_error: return L"Path error";
    default: return L"Unknown error";
  }
}

const wchar_t* errno_message() { return message(translate_errno()); }

}  // namespace error
