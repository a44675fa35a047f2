#pragma once

// Checksum list types. Each type's value is the engine's id of the
// algorithm its lines carry, so a type is handed to the engine as it is.
enum checksum_type {
  type_sfv = 0,  // CRC-32
  type_md5 = 1,
  type_sha1 = 2,
  type_sha256 = 3,
  type_sha512 = 4,
  type_blake2b = 5,  // BLAKE2b-512
  type_xxh64 = 6,
  type_xxh128 = 7,  // XXH3, 128 bits
  typeCount = 8,
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
