#include <cstdio>

#include <zorvik/container.h>
#include <zorvik/error.h>

#include "digest_line.h"
#include "hex.h"
#include "list_format.h"
#include "pending.h"
#include "util/write_text.h"

namespace {

// A name with a line feed or carriage return cannot stand in a line as it
// is and is escaped. Other names, backslashes included, are written plainly,
// which md5sum reads literally.
int entryLine(FILE* file, const container::processed_file& entry, int) {
  return writeDigestLine(file, entry.hashText, '*', entry.path, false);
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
  return readDigestEntry(*digestForm(engine::md5), true, name, length, hash);
}

int md5::isPreviouslyVerified(wchar_t*) { return 0; }

int md5::setPreviouslyVerified(bool) { return error::ok; }
