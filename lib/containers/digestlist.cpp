// GNU-style lists of the digests other than CRC-32: written as coreutils'
// sha256sum and xxhsum write them, so that their -c checks them, and read
// in every form those tools, rhash and OpenSSL print.
#include <climits>
#include <cstdio>
#include <cstring>

#include <zorvik/container.h>
#include <zorvik/error.h>
#include <zorvik/text.h>

#include "digest_line.h"
#include "hex.h"
#include "pending.h"

namespace {

// Names with a line feed or carriage return are escaped, and for coreutils'
// digests those with a backslash, as sha256sum does. xxhsum reads no
// escaped line, but reads a backslash in a plain line as itself.
template <bool escapeBackslash>
int entryLine(FILE* file, const container::processed_file& entry, int) {
  return writeDigestLine(file, digitsOf(entry), ' ', entry.path, escapeBackslash);
}

}  // namespace

int container::readDigestEntry(const digest_form& form, bool semicolons, wchar_t* name, int length,
                               void* hash) {
  if (name == nullptr || hash == nullptr || length < 1) return error::invalid_arguments;
  char* text;
  size_t textLength;
  long read = readListLine(semicolons, &text, &textLength);
  if (read <= 0) return static_cast<int>(read);
  digest_fields fields;
  unsigned char digest[64];
  const size_t bytes = digestBytes(form);
  if (!splitDigestLine(text, textLength, form, &fields) || !readHexBytes(fields.digits, digest, bytes))
    return error::invalid_line;
  fields.name[fields.nameLength] = '\0';
  if (bytesToWide(name, fields.name, static_cast<size_t>(length)) < 0) return error::invalid_line;
  memcpy(hash, digest, bytes);
  return read > INT_MAX ? INT_MAX : static_cast<int>(read);
}

digestlist::digestlist(int algorithm)
    : _form(digestForm(algorithm)), _algorithm(algorithm) {}

digestlist::~digestlist() = default;

int digestlist::algorithm() const { return _algorithm; }

int digestlist::create(const wchar_t* path) {
  if (_form == nullptr) return error::invalid_arguments;
  return beginList(path);
}

int digestlist::addFile(const wchar_t* path, const void* hash) {
  if (_form == nullptr || path == nullptr || hash == nullptr) return error::invalid_arguments;
  char digits[2 * 64 + 1];
  writeHexBytes(digits, static_cast<const unsigned char*>(hash), digestBytes(*_form));
  return queue(newDigestEntry(path, digits));
}

int digestlist::close() {
  if (_file == nullptr) return error::file_not_open;
  return finishCreate(1, _form->escapesBackslash ? entryLine<true> : entryLine<false>);
}

int digestlist::open(const wchar_t* path) {
  restart();
  _mode = 0;
  if (_form == nullptr || path == nullptr) return error::invalid_arguments;
  _file = _wfopen(path, L"r");
  if (_file == nullptr) return error::translate_errno();
  return error::ok;
}

int digestlist::getNextFile(wchar_t* name, int length, unsigned long long* size, void* hash) {
  if (size != nullptr) *size = ~0ULL;
  if (_form == nullptr) return error::invalid_arguments;
  return readDigestEntry(*_form, false, name, length, hash);
}

int digestlist::isPreviouslyVerified(wchar_t*) { return 0; }

int digestlist::setPreviouslyVerified(bool) { return error::ok; }
