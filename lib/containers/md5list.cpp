#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include <zorvik/container.h>
#include <zorvik/error.h>
#include <zorvik/text.h>

#include "hex.h"
#include "list_format.h"
#include "pending.h"
#include "util/write_text.h"

namespace {

// The escape md5sum writes for `c` in an escaped line, or null for a byte
// that stands for itself.
const char* escapeOf(char c) {
  switch (c) {
    case '\\': return "\\\\";
    case '\n': return "\\n";
    case '\r': return "\\r";
    default: return nullptr;
  }
}

// The line as md5sum writes it for a name it escapes: a backslash first.
int escapedLine(FILE* file, const container::processed_file& entry) {
  return error::from_write([file, &entry] {
    if (fprintf(file, "\\%s *", entry.hashText) < 0) return false;
    for (const char* c = entry.path; *c != '\0'; ++c) {
      const char* escape = escapeOf(*c);
      if ((escape != nullptr ? fputs(escape, file) : putc(*c, file)) == EOF) return false;
    }
    return putc('\n', file) != EOF;
  });
}

// A name with a line feed or carriage return cannot stand in a line as it
// is and is escaped. Other names, backslashes included, are written plainly,
// which md5sum reads literally.
int entryLine(FILE* file, const container::processed_file& entry, int) {
  if (strpbrk(entry.path, "\n\r") != nullptr) return escapedLine(file, entry);
  return writeText(file, "%s *%s\n", entry.hashText, entry.path);
}

// The parts of an entry line, plain ("<digits> *<name>") or BSD style
// ("MD5 (<name>) = <digits>").
struct entry_fields {
  char* name;
  size_t nameLength;
  const char* digits;  // 32 of them
};

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

// The line without a carriage return at its end (lists written on
// Windows): its new length.
size_t withoutCarriageReturn(char* line, size_t length) {
  if (length > 0 && line[length - 1] == '\r') line[--length] = '\0';
  return length;
}

bool splitPlain(char* line, size_t length, entry_fields* fields) {
  if (length < 34 || line[32] != ' ' || (line[33] != ' ' && line[33] != '*')) return false;
  *fields = {line + 34, length - 34, line};
  return true;
}

// md5sum --tag writes one blank before the parenthesis, rhash --bsd pads
// with more. The digits close the line, so the name runs to its last ") = ".
bool splitBsd(char* line, size_t length, entry_fields* fields) {
  const size_t tail = 4 + 32;  // ") = " and the digits
  if (strncmp(line, "MD5", 3) != 0) return false;
  size_t open = 3;
  while (open < length && line[open] == ' ') ++open;
  if (open >= length || line[open] != '(' || length - open - 1 < tail) return false;
  size_t close = length - tail;
  if (memcmp(line + close, ") = ", 4) != 0) return false;
  *fields = {line + open + 1, close - open - 1, line + close + 4};
  return true;
}

// An entry line of either form, escaped or not, split in place; false for
// any other line.
bool splitEntry(char* line, size_t length, entry_fields* fields) {
  if (line[0] == '\\') {  // md5sum's escaped line
    long unescaped = unescape(++line, length - 1);
    if (unescaped < 0) return false;
    length = static_cast<size_t>(unescaped);
  }
  return splitBsd(line, length, fields) || splitPlain(line, length, fields);
}

void digestText(char* text, const void* hash) {
  writeHexBytes(text, static_cast<const unsigned char*>(hash), 16);
}

}  // namespace

const list_format md5Format = {1, entryLine, digestText};

md5::md5() = default;

md5::~md5() = default;

int md5::create(const wchar_t* path) { return beginCreate(path, false); }

int md5::addFile(const wchar_t* path, const void* hash) {
  if (path == nullptr || hash == nullptr) return error::invalid_arguments;
  char text[33];
  digestText(text, hash);
  return queue(newPendingEntry(path, text));
}

int md5::close() {
  if (_file == nullptr) return error::file_not_open;
  if (_mode != 1) {
    fclose(_file);
    _file = nullptr;
    return error::ok;
  }
  return finishCreate(md5Format.passes, md5Format.line);
}

int md5::open(const wchar_t* path) {
  restart();
  _mode = 0;
  if (path == nullptr) return error::invalid_arguments;
  _file = _wfopen(path, L"r");
  if (_file == nullptr) return error::translate_errno();
  return error::ok;
}

int md5::getNextFile(wchar_t* name, int length, unsigned long long* size, void* hash) {
  if (size != nullptr) *size = ~0ULL;
  if (name == nullptr || hash == nullptr || length < 1) return error::invalid_arguments;
  long read;
  size_t lineLength;
  // A carriage return alone is an empty line of a list written on Windows.
  do {
    read = readEntryLine();
    if (read <= 0) return static_cast<int>(read);
    lineLength = withoutCarriageReturn(_line, static_cast<size_t>(read));
  } while (lineLength == 0);
  entry_fields fields;
  unsigned char digest[16];
  if (!splitEntry(_line, lineLength, &fields) || !readHexBytes(fields.digits, digest, sizeof digest)) {
    return error::invalid_line;
  }
  fields.name[fields.nameLength] = '\0';
  if (bytesToWide(name, fields.name, static_cast<size_t>(length)) < 0) return error::invalid_line;
  memcpy(hash, digest, sizeof digest);
  return read > INT_MAX ? INT_MAX : static_cast<int>(read);
}

int md5::isPreviouslyVerified(wchar_t*) { return 0; }

int md5::setPreviouslyVerified(bool) { return error::ok; }
