#pragma once

#include <cstddef>

// The file that `path` finally names when it is a symbolic link (followed
// through chains of links, a relative target taken from the link's own
// directory), written into `out` of `room` bytes; `path` itself when it is
// no link. The final target need not exist. False with errno: that of a
// link that cannot be looked at or read, or ENAMETOOLONG for a loop, a
// chain too long or a result that does not fit.
bool linkTarget(const char* path, char* out, size_t room);
