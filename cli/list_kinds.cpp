#include "list_kinds.h"

#include <sys/stat.h>

#include <new>

#include <zorvik/text.h>

#include "output.h"
#include "run.h"

container* newList(int type) {
  switch (type) {
    case type_sfv: return new (std::nothrow) sfv();
    case type_md5: return new (std::nothrow) md5();
    default: return new (std::nothrow) digestlist(type);
  }
}

shown_digests::~shown_digests() {
  for (digest* d : _others) delete d;
}

hasher* shown_digests::of(int type) {
  if (type == type_sfv) return &_crc;
  if (type == type_md5) return &_md5;
  if (type < 0 || type >= typeCount) return nullptr;
  if (_others[type] == nullptr) _others[type] = new (std::nothrow) digest(type);
  return _others[type];
}

int guessedType(const char* name, bool* byLength) {
  *byLength = false;
  // Only a regular file is read twice alike: a pipe's first lines would be
  // gone by the time the list is read.
  struct stat status;
  if (stat(name, &status) != 0 || !S_ISREG(status.st_mode)) return type_sfv;
  wchar_t path[pathRoom];
  if (bytesToWide(path, name, pathRoom) < 0) return type_sfv;
  int algorithm = -1;
  int code = container::guessType(path, &algorithm, byLength);
  if (code != 0) return code;
  if (algorithm < 0 || algorithm >= typeCount) {
    *byLength = false;
    return type_sfv;
  }
  return algorithm;
}

void announceGuess(const char* name, int type) {
  report("%s: read as %s lines; -t chooses another\n", name, typeName(type));
}
