#include <locale.h>
#include <string.h>

#include <zorvik/error.h>
#include <zorvik/text.h>

namespace error {

namespace {

// The C library's English text of `value`: LANG and LC_ALL change nothing
// the program prints. Kept per thread, as the value it names is.
const wchar_t* systemText(int value) {
  static const locale_t plain = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  static thread_local wchar_t text[256];
  if (plain == static_cast<locale_t>(nullptr)) return L"Unknown error";
  if (bytesToWide(text, strerror_l(value, plain), sizeof text / sizeof text[0]) < 0)
    return L"Unknown error";
  return text;
}

}  // namespace

const wchar_t* message(int code) {
  switch (code) {
    case ok: return L"Ok";
    case unknown_error: {
      int value = unknown_errno();
      unknown_errno() = 0;
      return value != 0 ? systemText(value) : L"Unknown error";
    }
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
