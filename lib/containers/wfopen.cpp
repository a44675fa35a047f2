#include <climits>
#include <cerrno>
#include <cwchar>

#include <zorvik/container.h>
#include <zorvik/text.h>

FILE* _wfopen(const wchar_t* path, const wchar_t* mode) {
  // PATH_MAX bytes hold any path the kernel accepts; anything longer fails
  // as the kernel would, rather than opening a cut name.
  char name[PATH_MAX];
  char how[32];
  if (wideToBytes(name, path, sizeof name) < 0) {
    // Otherwise a character with no byte of its own: no file can carry it.
    errno = wcslen(path) >= sizeof name ? ENAMETOOLONG : EILSEQ;
    return nullptr;
  }
  if (wideToBytes(how, mode, sizeof how) < 0) {
    errno = EINVAL;
    return nullptr;
  }
  return fopen(name, how);
}
