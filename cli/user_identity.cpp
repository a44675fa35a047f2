#include "user_identity.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

user_identity::user_identity() : _groupCount(0), _groups(nullptr), _uid(getuid()) {
  int count = getgroups(0, nullptr);
  if (count <= 0) return;
  gid_t* groups = static_cast<gid_t*>(malloc(sizeof(gid_t) * count));
  if (groups == nullptr) return;
  if (getgroups(count, groups) < count) {
    free(groups);
    return;
  }
  _groups = groups;
  _groupCount = count;
}

user_identity::user_identity(uid_t uid, const gid_t* groups, int count)
    : _groupCount(0), _groups(nullptr), _uid(uid) {
  if (count <= 0) return;
  _groups = static_cast<gid_t*>(malloc(sizeof(gid_t) * count));
  if (_groups == nullptr) return;
  memcpy(_groups, groups, sizeof(gid_t) * count);
  _groupCount = count;
}

user_identity::~user_identity() { release(); }

void user_identity::release() {
  free(_groups);
  _groups = nullptr;
  _groupCount = 0;
}

bool user_identity::can_read(const struct stat& status) const {
  return may(status, S_IRUSR | S_IRGRP | S_IROTH);
}

bool user_identity::can_search(const struct stat& status) const {
  return may(status, S_IXUSR | S_IXGRP | S_IXOTH);
}

bool user_identity::may(const struct stat& status, mode_t bits) const {
  if (_uid == 0) return true;
  mode_t applies = S_IRWXO;
  if (_uid == status.st_uid) {
    applies = S_IRWXU;
  } else {
    for (int i = 0; i < _groupCount; ++i) {
      if (_groups[i] == status.st_gid) {
        applies = S_IRWXG;
        break;
      }
    }
  }
  return (status.st_mode & bits & applies) != 0;
}
