#include "list_types.h"

#include <strings.h>

#include <cstring>

namespace {

struct list_type {
  const char* option;       // as -t names it
  const char* extension;    // with its dot
  const char* conventional; // the name of such lists beside releases, or null
};

// Indexed by type.
constexpr list_type types[typeCount] = {
    {"sfv", ".sfv", nullptr},
    {"md5", ".md5", "MD5SUMS"},
    {"sha1", ".sha1", "SHA1SUMS"},
    {"sha256", ".sha256", "SHA256SUMS"},
    {"sha512", ".sha512", "SHA512SUMS"},
    {"blake2b", ".b2", "B2SUMS"},
    {"xxh64", ".xxh64", nullptr},
    {"xxh128", ".xxh128", nullptr},
};

}  // namespace

int typeFromOption(const char* text) {
  for (int type = 0; type < typeCount; ++type)
    if (strcasecmp(text, types[type].option) == 0) return type;
  return -1;
}

int typeFromName(const char* name) {
  const char* slash = strrchr(name, '/');
  const char* last = slash == nullptr ? name : slash + 1;
  const char* dot = strrchr(name, '.');
  for (int type = 0; type < typeCount; ++type) {
    const list_type& t = types[type];
    if (dot != nullptr && strcasecmp(dot, t.extension) == 0) return type;
    if (t.conventional != nullptr && strcasecmp(last, t.conventional) == 0) return type;
  }
  return -1;
}

const char* typeName(int type) {
  return type >= 0 && type < typeCount ? types[type].option : "sfv";
}
