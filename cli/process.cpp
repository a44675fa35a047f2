// The two process-wide objects, built before main() in this order, each
// with its release registered at exit right after it is built. Both live in
// one file so that the order is fixed.
#include <cstdlib>
#include <new>

#include "node_pool.h"
#include "user_identity.h"

namespace {

node_pool pool;

void releasePool() { pool.release_all(); }

bool buildPool() {
  pool.init(4096, 4096, false, false, sizeof(path_node));
  atexit(releasePool);
  return true;
}

const bool poolBuilt = buildPool();

// Storage of its own, so that no destructor runs at exit besides the
// registered release.
alignas(user_identity) unsigned char identityStorage[sizeof(user_identity)];
user_identity* identity = nullptr;

void releaseIdentity() { identity->release(); }

bool buildIdentity() {
  identity = new (identityStorage) user_identity();
  atexit(releaseIdentity);
  return true;
}

const bool identityBuilt = buildIdentity();

}  // namespace

node_pool& programPool() { return pool; }

const user_identity& programIdentity() { return *identity; }
