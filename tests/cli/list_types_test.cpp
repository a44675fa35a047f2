#include <gtest/gtest.h>

#include "list_types.h"

namespace {

TEST(ListTypes, NamesGiveTheirTypes) {
  const struct {
    const char* name;
    int type;
  } cases[] = {
      {"a.sfv", type_sfv},
      {"a.MD5", type_md5},
      {"dir/x.sha1", type_sha1},
      {"x.Sha256", type_sha256},
      {"x.sha512", type_sha512},
      {"x.B2", type_blake2b},
      {"x.xxh64", type_xxh64},
      {"x.XXH128", type_xxh128},
      {"MD5SUMS", type_md5},
      {"release/sha1sums", type_sha1},
      {"SHA256SUMS", type_sha256},
      {"./Sha512Sums", type_sha512},
      {"b2sums", type_blake2b},
      // The extension is the text from the last dot, wherever it stands.
      {"SHA1SUMS.sha256", type_sha256},
      {"list.sfv.bak", -1},
      {"sums.sfv/list", -1},
      {"d.sha256/SHA512SUMS", type_sha512},
      // A conventional name is the whole last component.
      {"SHA256SUMS.asc", -1},
      {"SHA256SUMS/list", -1},
      {"my-SHA256SUMS", -1},
      {"checksums.txt", -1},
      {"list", -1},
      {"x.xxh", -1},
      {".sha256", type_sha256},
      {"", -1},
  };
  for (const auto& c : cases) EXPECT_EQ(typeFromName(c.name), c.type) << c.name;
}

TEST(ListTypes, OptionsAndNamesRoundTrip) {
  for (int type = 0; type < typeCount; ++type) EXPECT_EQ(typeFromOption(typeName(type)), type) << type;
  const struct {
    const char* option;
    int type;
  } cases[] = {
      {"SFV", type_sfv},   {"Blake2B", type_blake2b}, {"XXH128", type_xxh128},
      {"sha", -1},         {"sha-256", -1},           {"b2", -1},
      {"crc", -1},         {"", -1},                  {"sha2561", -1},
  };
  for (const auto& c : cases) EXPECT_EQ(typeFromOption(c.option), c.type) << c.option;
}

}  // namespace
