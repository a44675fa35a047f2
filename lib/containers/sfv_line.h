#pragma once

#include <cstddef>
#include <cstdint>

// An SFV entry line (no line feed, not a comment), read:
//
//   - blanks, tabs and carriage returns at its end are taken off;
//   - it splits at its last blank (U+0020): the checksum is after it and is
//     exactly eight hexadecimal digits, of either case;
//   - the name is before it, with white space at its end removed, then one
//     leading double quote and, after that one, one trailing double quote.
//
// Anything else (no blank, another checksum) is an invalid line.
struct sfv_entry {
  size_t nameStart;
  size_t nameLength;
  size_t written;  // the name as written: the bytes before the last blank
  uint32_t crc;
};
bool readSfvEntry(const char* line, size_t length, sfv_entry* entry);

// Whether 3.00, which read the checksum as wcstoul does (a sign, a 0x
// prefix, any count of digits, anything after them ignored) and split
// before taking blanks off, read `line` as an entry that is now invalid or
// another entry: the bits of a record it wrote then stand for other entries.
bool readOtherwiseBefore(const char* line, size_t length);
