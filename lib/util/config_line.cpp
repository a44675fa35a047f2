#include "util/config_line.h"

#include <zorvik/config.h>

#include <cstring>

namespace {

// Bytes 0x80-0xFF count as blanks too: they are negative as signed chars.
bool isBlank(char c) { return static_cast<signed char>(c) <= 32; }

bool isQuote(char c) { return c == '"' || c == '\''; }

}  // namespace

char* get_config_line(char* buffer, FILE* file) {
  for (;;) {
    if (fgets(buffer, configLineSize, file) == nullptr) return nullptr;

    // Find where the content ends: at the end, or at a ";" outside quotes.
    char* p = buffer;
    for (;;) {
      char c = *p;
      if (c == '\0') break;
      if (c == ';') {
        *p = '\0';
        break;
      }
      if (isQuote(c) && !(p != buffer && p[-1] == '\\')) {
        char* q = p + 1;
        while (*q != '\0' && !(*q == c && q[-1] != '\\')) ++q;
        p = q;
        if (*p == '\0') break;
      }
      ++p;
    }

    while (p != buffer && isBlank(p[-1])) *--p = '\0';
    if (buffer[0] == '\0') continue;

    char* start = buffer;
    while (*start != '\0' && isBlank(*start)) ++start;
    if (*start == '\0') continue;
    if (start != buffer) memmove(buffer, start, strlen(start) + 1);
    return buffer;
  }
}

char* get_key_value(char* line, char** value) {
  char* equals = strchr(line, '=');
  if (equals == nullptr) return nullptr;
  *equals = '\0';
  for (char* p = equals; p != line && isBlank(p[-1]); --p) p[-1] = '\0';

  char* text = equals + 1;
  while (*text != '\0' && isBlank(*text)) ++text;
  if (isQuote(*text)) {
    size_t length = strlen(text);
    if (text[length - 1] == *text) {
      // A lone quote leaves an empty value.
      text[length - 1] = '\0';
      if (length > 1) ++text;
    }
  }
  *value = text;
  return line;
}
