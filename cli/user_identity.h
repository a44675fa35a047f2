#pragma once

#include <sys/stat.h>
#include <sys/types.h>

// Who runs the program: the real user id and the supplementary groups, read
// once. Decides from a status record alone whether this user may read a file.
class user_identity {
public:
  // Reads the identity; when the groups cannot be read it holds none.
  user_identity();
  // A given identity (for tests): `groups` is copied.
  user_identity(uid_t uid, const gid_t* groups, int count);
  ~user_identity();
  user_identity(const user_identity&) = delete;
  user_identity& operator=(const user_identity&) = delete;

  // Only the one class that applies is consulted: the owner by the owner
  // bit, a group member by the group bit, everyone else by the others bit.
  // The primary group, the effective id and ACLs play no part.
  bool can_read(const struct stat& status) const;
  // The same for searching a directory: looking up the names in it.
  bool can_search(const struct stat& status) const;
  // Whether can_read() says yes to every file, whatever its status.
  bool can_read_any() const { return _uid == 0; }

  // Frees the group list; the identity then holds no groups.
  void release();

private:
  int _groupCount;
  gid_t* _groups;
  // Whether the class that applies has its bit among `bits` (user, group
  // and others bits of one kind).
  bool may(const struct stat& status, mode_t bits) const;

  uid_t _uid;
};

// The program's identity, built before main() and released at exit.
const user_identity& programIdentity();
