#include "digest_line.h"

#include <cstring>

#include <zorvik/error.h>

#include "hash/algorithm.h"
#include "hex.h"
#include "util/write_text.h"

namespace {

// The names are those the tools print: coreutils' and xxhsum's tags,
// OpenSSL 1.1's and OpenSSL 3's digest names.
const digest_form forms[] = {
    {engine::md5, "MD5", {nullptr}, false},
    {engine::sha1, "SHA1", {"SHA1", nullptr}, true},
    {engine::sha256, "SHA256", {"SHA256", "SHA2-256", nullptr}, true},
    {engine::sha512, "SHA512", {"SHA512", "SHA2-512", nullptr}, true},
    {engine::blake2b, "BLAKE2b", {"BLAKE2b512", "BLAKE2B-512", nullptr}, true},
    // xxhsum reads no escapes: a backslash stays as it is.
    {engine::xxh64, "XXH64", {nullptr}, false},
    {engine::xxh128, "XXH128", {nullptr}, false},
};

}  // namespace

size_t digestBytes(const digest_form& form) {
  const zorvik::algorithm* entry = zorvik::findAlgorithm(form.algorithm);
  return entry != nullptr ? static_cast<size_t>(entry->digestSize) : 0;
}

namespace {

// The escape written for `c` in an escaped line, or null for a byte that
// stands for itself.
const char* escapeOf(char c) {
  switch (c) {
    case '\\': return "\\\\";
    case '\n': return "\\n";
    case '\r': return "\\r";
    default: return nullptr;
  }
}

// The byte an escape ending in `c` stands for, or NUL for no escape.
char escapedByte(char c) {
  switch (c) {
    case '\\': return '\\';
    case 'n': return '\n';
    case 'r': return '\r';
    default: return '\0';
  }
}

// Undoes the escapes of an escaped line (without its leading backslash) in
// place: its new length, or -1 for a backslash that starts no escape.
long unescape(char* text, size_t length) {
  size_t out = 0;
  for (size_t i = 0; i < length; ++i) {
    char c = text[i];
    if (c == '\\' && (++i == length || (c = escapedByte(text[i])) == '\0')) return -1;
    text[out++] = c;
  }
  text[out] = '\0';
  return static_cast<long>(out);
}

bool allHex(const char* text, size_t count) {
  for (size_t i = 0; i < count; ++i)
    if (hexValue(text[i]) < 0) return false;
  return true;
}

// "<name> (<file><separator><digits>" with any blanks before the
// parenthesis (rhash --bsd pads them): where the file's name stands. The
// digits close the line, so the name runs to the separator before them.
bool matchTagged(const char* line, size_t length, const char* name, const char* separator,
                 size_t digits, size_t* start, size_t* nameLength) {
  size_t tagLength = strlen(name), separatorLength = strlen(separator);
  if (length < tagLength || memcmp(line, name, tagLength) != 0) return false;
  size_t open = tagLength;
  while (open < length && line[open] == ' ') ++open;
  if (open >= length || line[open] != '(' || length - open - 1 < separatorLength + digits)
    return false;
  size_t close = length - separatorLength - digits;
  if (memcmp(line + close, separator, separatorLength) != 0) return false;
  *start = open + 1;
  *nameLength = close - open - 1;
  return true;
}

// The tagged forms of `form`, in turn, until `match` takes one.
template <class Match>
bool anyTagged(const digest_form& form, Match match) {
  if (match(form.tag, ") = ")) return true;
  for (const char* const* name = form.openssl; *name != nullptr; ++name)
    if (match(*name, ")= ")) return true;
  return false;
}

}  // namespace

const digest_form* digestForm(int algorithm) {
  for (const digest_form& form : forms)
    if (form.algorithm == algorithm) return &form;
  return nullptr;
}

const digest_form* digestForms(size_t* count) {
  *count = sizeof forms / sizeof forms[0];
  return forms;
}

bool splitDigestLine(char* line, size_t length, const digest_form& form, digest_fields* fields) {
  if (length > 0 && line[0] == '\\') {
    long unescaped = unescape(++line, length - 1);
    if (unescaped < 0) return false;
    length = static_cast<size_t>(unescaped);
  }
  const size_t digits = 2 * digestBytes(form);
  size_t start, nameLength;
  if (anyTagged(form, [&](const char* name, const char* separator) {
        return matchTagged(line, length, name, separator, digits, &start, &nameLength);
      })) {
    *fields = {line + start, nameLength, line + length - digits};
    return true;
  }
  if (length < digits + 2 || line[digits] != ' ' || (line[digits + 1] != ' ' && line[digits + 1] != '*'))
    return false;
  *fields = {line + digits + 2, length - digits - 2, line};
  return true;
}

bool isTaggedLine(const char* line, size_t length, const digest_form& form) {
  if (length > 0 && line[0] == '\\') ++line, --length;
  const size_t digits = 2 * digestBytes(form);
  size_t start, nameLength;
  return anyTagged(form, [&](const char* name, const char* separator) {
    return matchTagged(line, length, name, separator, digits, &start, &nameLength) &&
           allHex(line + length - digits, digits);
  });
}

size_t gnuDigits(const char* line, size_t length) {
  if (length > 0 && line[0] == '\\') ++line, --length;
  size_t digits = 0;
  while (digits < length && hexValue(line[digits]) >= 0) ++digits;
  if (digits == 0 || digits + 2 > length || line[digits] != ' ' ||
      (line[digits + 1] != ' ' && line[digits + 1] != '*'))
    return 0;
  return digits;
}

int writeDigestLine(FILE* file, const char* digits, char mode, const char* name,
                    bool escapeBackslash) {
  bool escaped = strpbrk(name, escapeBackslash ? "\\\n\r" : "\n\r") != nullptr;
  if (!escaped) return writeText(file, "%s %c%s\n", digits, mode, name);
  return error::from_write([=] {
    if (fprintf(file, "\\%s %c", digits, mode) < 0) return false;
    for (const char* c = name; *c != '\0'; ++c) {
      const char* escape = escapeOf(*c);
      if ((escape != nullptr ? fputs(escape, file) : putc(*c, file)) == EOF) return false;
    }
    return putc('\n', file) != EOF;
  });
}
