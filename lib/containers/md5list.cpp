#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include <zorvik/container.h>
#include <zorvik/error.h>
#include <zorvik/text.h>

#include "hex.h"
#include "output.h"
#include "pending.h"

namespace {

int entryLine(FILE* file, const container::processed_file& entry, int) {
  return fprintf(file, "%s *%s\n", entry.hashText, entry.path) < 0 ? writeFailure() : error::ok;
}

}  // namespace

md5::md5() = default;

md5::~md5() = default;

int md5::create(const wchar_t* path) { return beginCreate(path, false); }

int md5::addFile(const wchar_t* path, const void* hash) {
  if (path == nullptr || hash == nullptr) return error::invalid_arguments;
  const unsigned char* digest = static_cast<const unsigned char*>(hash);
  char text[33];
  for (int i = 0; i < 16; ++i) snprintf(text + 2 * i, 3, "%02x", digest[i]);
  return queue(newPendingEntry(path, text));
}

int md5::close() {
  if (_file == nullptr) return error::file_not_open;
  if (_mode != 1) {
    fclose(_file);
    _file = nullptr;
    return error::ok;
  }
  return finishCreate(1, entryLine);
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
  long read = readEntryLine();
  if (read <= 0) return static_cast<int>(read);
  if (read < 34 || _line[32] != ' ' || (_line[33] != ' ' && _line[33] != '*')) return error::invalid_line;
  unsigned char digest[16];
  for (int i = 0; i < 16; ++i) {
    int high = hexValue(_line[2 * i]), low = hexValue(_line[2 * i + 1]);
    if (high < 0 || low < 0) return error::invalid_line;
    digest[i] = static_cast<unsigned char>(high * 16 + low);
  }
  if (bytesToWide(name, _line + 34, static_cast<size_t>(length)) < 0) return error::invalid_line;
  memcpy(hash, digest, sizeof digest);
  return read > INT_MAX ? INT_MAX : static_cast<int>(read);
}

int md5::isPreviouslyVerified(wchar_t*) { return 0; }

int md5::setPreviouslyVerified(bool) { return error::ok; }
