#pragma once

#include <zorvik/engine.h>

// Checksum list types. Each type is the engine's id of the algorithm its
// lines carry, so a type is handed to the engine as it is.
enum checksum_type {
  type_sfv = engine::crc32,
  type_md5 = engine::md5,
  type_sha1 = engine::sha1,
  type_sha256 = engine::sha256,
  type_sha512 = engine::sha512,
  type_blake2b = engine::blake2b,
  type_xxh64 = engine::xxh64,
  type_xxh128 = engine::xxh128,
  typeCount,
};

// The type `-t` names ("sfv", "sha256", ...; any letter case), or -1.
int typeFromOption(const char* text);

// The type a list's name gives: its extension (the text from its last dot:
// ".sfv", ".sha256", ".b2", ...) or its last component as lists are
// conventionally named ("SHA256SUMS", "B2SUMS", "MD5SUMS", ...), in any
// letter case; -1 when it gives none.
int typeFromName(const char* name);

// The type's name as -t takes it, for messages: "sfv", "md5", "sha256", ...
const char* typeName(int type);
