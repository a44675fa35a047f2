#pragma once

#include <cstddef>

// Where an update puts its new lines in the text of the old list:
//
//   - new comment lines (SFV's size-and-time comments) before the first
//     entry line, or before the record when there is none;
//   - new entry lines before the verification record, or at the end; in a
//     list whose entry lines stand after the record (edited by hand), after
//     the last entry line, the record lines moved to the end, so that the
//     record stays last and every old entry keeps its place in the count;
//   - each new line on a line of its own, ending as the list's lines end
//     (CR LF when its first line does).
//
// The record's binding line is bound to the new entry lines only when it was
// bound to the old ones: a record bound to other lines (the list was edited
// by hand since) stays bound to those, and vouches for nothing.
//
// `comments` is null for a format without them. The new text goes to the
// malloc'd `*text` of `*length` bytes; false without memory.
bool layOutUpdate(const char* old, size_t oldLength, const char* comments, size_t commentsLength,
                  const char* entries, size_t entriesLength, char** text, size_t* length);
