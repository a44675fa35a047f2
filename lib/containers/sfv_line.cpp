#include "sfv_line.h"

#include <cstring>

#include "hex.h"

namespace {

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The name before `blank`: white space at its end removed, then quotes.
void takeName(const char* line, size_t blank, sfv_entry* entry) {
  size_t start = 0, length = blank;
  while (length > 0 && isSpace(line[length - 1])) --length;
  if (length > 0 && line[0] == '"') {
    start = 1;
    --length;
    if (length > 0 && line[start + length - 1] == '"') --length;
  }
  entry->nameStart = start;
  entry->nameLength = length;
  entry->written = blank;
}

const char* lastBlank(const char* line, size_t length) {
  return static_cast<const char*>(memrchr(line, ' ', length));
}

// As wcstoul with base 16 and a 32-bit unsigned long reads it: blanks, a
// sign, a 0x prefix, digits up to the first other character; saturates.
uint32_t laxCrc(const char* text, const char* end) {
  while (text < end && isSpace(*text)) ++text;
  bool negative = false;
  if (text < end && (*text == '+' || *text == '-')) negative = *text++ == '-';
  if (end - text > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X') && hexValue(text[2]) >= 0)
    text += 2;
  unsigned long long value = 0;
  bool overflow = false;
  for (int digit; text < end && (digit = hexValue(*text)) >= 0; ++text) {
    value = value * 16 + static_cast<unsigned>(digit);
    if (value > 0xFFFFFFFFULL) {
      overflow = true;
      value = 0xFFFFFFFFULL;
    }
  }
  if (overflow) return 0xFFFFFFFFU;
  uint32_t result = static_cast<uint32_t>(value);
  return negative ? 0U - result : result;
}

// 3.00's reading: split at the last blank first; a checksum text of up to
// 1022 characters.
bool readLaxEntry(const char* line, size_t length, sfv_entry* entry) {
  const char* blank = lastBlank(line, length);
  if (blank == nullptr || line + length - (blank + 1) > 1022) return false;
  entry->crc = laxCrc(blank + 1, line + length);
  takeName(line, static_cast<size_t>(blank - line), entry);
  return true;
}

}  // namespace

bool readSfvEntry(const char* line, size_t length, sfv_entry* entry) {
  while (length > 0 && (line[length - 1] == ' ' || line[length - 1] == '\t' || line[length - 1] == '\r'))
    --length;
  const char* blank = lastBlank(line, length);
  if (blank == nullptr || line + length - (blank + 1) != 8 || !readHexWord(blank + 1, &entry->crc))
    return false;
  takeName(line, static_cast<size_t>(blank - line), entry);
  return true;
}

bool readOtherwiseBefore(const char* line, size_t length) {
  sfv_entry before, now;
  bool read = readSfvEntry(line, length, &now);
  // Nothing to take off its end and eight digits: both readings split it
  // at the same blank and read the same number.
  if (read && length > 0 && line[length - 1] != ' ' && line[length - 1] != '\t' && line[length - 1] != '\r')
    return false;
  if (!readLaxEntry(line, length, &before)) return false;
  if (!read) return true;
  return before.crc != now.crc || before.nameStart != now.nameStart ||
         before.nameLength != now.nameLength;
}
