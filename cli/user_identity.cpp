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
  if (_uid == 0) return true;
  mode_t needed = S_IROTH;
  if (_uid == status.st_uid) {
    needed = S_IRUSR;
  } else {
    for (int i = 0; i < _groupCount; ++i) {
      if (_groups[i] == status.st_gid) {
        needed = S_IRGRP;
        break;
      }
    }
  }
  return (status.st_mode & needed) != 0;
}
