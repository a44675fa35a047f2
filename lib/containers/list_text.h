#pragma once

#include <cstddef>

// What of a GNU-style list's lines is the list itself. Such lists (MD5 lists
// and the lists of the other digests) may come OpenPGP clear-signed:
//
//   -----BEGIN PGP SIGNED MESSAGE-----
//   Hash: SHA256
//
//   <the list, a line beginning with "-" written as "- -...">
//   -----BEGIN PGP SIGNATURE-----
//   ...
//   -----END PGP SIGNATURE-----
//
// The header is one only as the first line that is not empty. Its "Hash:"
// lines and the empty line after them, and the whole signature block, are
// no part of the list, and "- " is taken off the lines between; the
// signature is not checked. Lines after the signature block are read as in
// a list without one: an update writes its new lines there.

// Where a reader stands in a list; a new reading starts at listStart.
enum list_wrapping : unsigned char {
  listStart,      // no line read yet
  listPlain,      // in lines that belong to the list as they are
  listHeaders,    // after the clear-signed header, in its "Hash:" lines
  listSigned,     // in the signed text
  listSignature,  // in the signature block
};

// The entry text of `line` (`*length` bytes, no line feed, terminated),
// which a reader at `*wrapping` just read, moving it on: null for a line of
// the wrapping, a comment (a line beginning with "#", or with ";" when
// `semicolons`) or a line empty without its carriage return; otherwise
// the text inside `line`, a carriage return at its end taken off, and its
// length in `*length`.
char* listEntryText(unsigned char* wrapping, char* line, size_t* length, bool semicolons);
