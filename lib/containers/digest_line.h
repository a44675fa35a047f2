#pragma once

#include <cstddef>
#include <cstdio>

#include <zorvik/engine.h>

// The lines of GNU-style digest lists (MD5 lists and the lists of the other
// digests): how each algorithm's lines look, reading one, writing one.


// How one algorithm's lines are written by the tools that make such lists.
struct digest_form {
  int algorithm;            // engine id; engine::digestSize() bytes, twice as many digits
  const char* tag;          // BSD tag: "<tag> (<name>) = <digits>"
  const char* openssl[3];   // OpenSSL's names: "<name>(<file>)= <digits>"; null-ended
  // Whether a name with a backslash is written escaped (as coreutils does);
  // otherwise only names with a line feed or carriage return are.
  bool escapesBackslash;
};

// The digest bytes of `form`'s algorithm, as its registry entry has them.
size_t digestBytes(const digest_form& form);

// The form of `algorithm`, or null for an id without one (CRC-32, unknown).
const digest_form* digestForm(int algorithm);
// Every form, for telling them apart: `*count` of them.
const digest_form* digestForms(size_t* count);

// An entry line split in place.
struct digest_fields {
  char* name;           // not terminated: `nameLength` bytes
  size_t nameLength;
  const char* digits;   // 2 * size hexadecimal digits of either case
};

// An entry line of `form` (no line feed, no carriage return at its end):
//
//   - GNU: the digits, a blank, a blank or an asterisk, the name;
//   - BSD: the tag, any blanks, "(", the name, ") = ", the digits;
//   - OpenSSL: one of its names, any blanks, "(", the name, ")= ", the
//     digits;
//
// the digits exactly as many as the algorithm's; a tagged name runs to the
// separator before the digits, so it may hold ") = " itself. A line that
// begins with a backslash is escaped: without that backslash, "\\" stands
// for a backslash, "\n" for a line feed and "\r" for a carriage return
// anywhere in it, and any other backslash makes the line invalid. The
// escapes are undone in place. False for anything else.
bool splitDigestLine(char* line, size_t length, const digest_form& form, digest_fields* fields);

// Without undoing anything: whether `line` (a leading backslash skipped)
// has the shape of a BSD or OpenSSL line of `form`.
bool isTaggedLine(const char* line, size_t length, const digest_form& form);
// The count of hexadecimal digits a GNU-shaped line begins with (a leading
// backslash skipped), followed by a blank and a blank or an asterisk; 0
// for a line of another shape.
size_t gnuDigits(const char* line, size_t length);

// Writes a GNU line: `digits`, a blank, `mode` (a blank or an asterisk)
// and `name`, then a line feed. A name with a line feed or carriage return,
// or with a backslash when `escapeBackslash`, is escaped as above. 0 or the
// code of the failed write.
int writeDigestLine(FILE* file, const char* digits, char mode, const char* name,
                    bool escapeBackslash);
