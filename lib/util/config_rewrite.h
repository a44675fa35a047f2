#pragma once

// The rewrite of the user's configuration file; internal to the library.

// Rewrites the file at `path` with `key`=`value` in place of the key's first
// line (appended when there is none), dropping the key's later lines and
// writing the others in their cleaned form. A symbolic link at `path` stays:
// the file it finally names is replaced, or created when the link dangles.
// False when the file could not be read or replaced; it is then unchanged.
bool rewriteConfigFile(const char* path, const char* key, const char* value);
