#include "record_format.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "hex.h"

namespace {

constexpr unsigned long long most = std::numeric_limits<unsigned long long>::max();

unsigned long long saturatingAdd(unsigned long long a, unsigned long long b) {
  return a > most - b ? most : a + b;
}

unsigned long long saturatingMultiply(unsigned long long a, unsigned long long b) {
  return b != 0 && a > most / b ? most : a * b;
}

unsigned long long unitSeconds(char unit) {
  switch (unit) {
    case 'd': case 'D': return 86400;
    case 'h': case 'H': return 3600;
    case 'm': case 'M': return 60;
    case 's': case 'S': return 1;
    default: return 0;
  }
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool isRecordLine(const char* line, size_t length) {
  return length >= 4 && line[0] == ';' && line[1] == 'R' && isDigit(line[2]) && line[3] == '-';
}

unsigned long long expiryTicks(const char* text) {
  if (text == nullptr) return 0;
  unsigned long long seconds = 0;
  const char* p = text;
  while (*p != '\0') {
    if (!isDigit(*p)) {
      ++p;
      continue;
    }
    unsigned long long number = 0;
    while (isDigit(*p)) {
      number = saturatingAdd(saturatingMultiply(number, 10), static_cast<unsigned long long>(*p - '0'));
      ++p;
    }
    if (*p == '\0') break;  // a number without its unit adds nothing
    seconds = saturatingAdd(seconds, saturatingMultiply(number, unitSeconds(*p)));
    ++p;
  }
  return saturatingMultiply(seconds, 10000000ULL);
}

void digestEntry(MD5_CTX* digest, const char* line, size_t length) {
  for (size_t done = 0; done < length;) {
    unsigned int piece = static_cast<unsigned int>(std::min<size_t>(length - done, 1u << 30));
    MD5Update(digest, reinterpret_cast<const unsigned char*>(line) + done, piece);
    done += piece;
  }
  MD5Update(digest, reinterpret_cast<const unsigned char*>("\n"), 1);
}

void writeBinding(char* text, const unsigned char* digest, unsigned long long device,
                  unsigned long long inode) {
  writeHexBytes(text, digest, 16);
  snprintf(text + 32, 48, "-%llu-%llu", device, inode);
}

bool readBinding(const char* text, unsigned char* digest, unsigned long long* device,
                 unsigned long long* inode) {
  if (!readHexBytes(text, digest, 16)) return false;
  char tail;
  return sscanf(text + 32, "-%llu-%llu%c", device, inode, &tail) == 2;
}
