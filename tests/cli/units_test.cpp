#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <cwchar>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include <zorvik/error.h>

#include "node_pool.h"
#include "user_identity.h"

namespace {

TEST(Messages, EveryCodeHasItsText) {
  error::from_errno(0);  // no reason left over for Unknown error
  const struct {
    int code;
    const wchar_t* text;
  } cases[] = {
      {0, L"Ok"},
      {-1, L"Unknown error"},
      {-2, L"File not open"},
      {-3, L"File read error"},
      {-4, L"File not found"},
      {-5, L"Access denied"},
      {-6, L"Invalid line"},
      {-7, L"File already exists"},
      {-8, L"Invalid arguments"},
      {-9, L"Path error"},
      {1, L"Unknown error"},
      {-10, L"Unknown error"},
      {255, L"Unknown error"},
  };
  for (const auto& c : cases) {
    EXPECT_STREQ(error::message(c.code), c.text) << "code " << c.code;
  }
}

TEST(Messages, ErrnoMapping) {
  const struct {
    int value;
    int code;
  } cases[] = {
      {0, 0},       {ENOENT, -4}, {EIO, -3},     {EACCES, -5},  {EEXIST, -7},
      {EINVAL, -8}, {EPERM, -1},  {ENOTDIR, -1}, {EISDIR, -1},  {EMFILE, -1},
      {ENOSPC, -1}, {23, -1},     {1000, -1},    {-2, -1},      {ENAMETOOLONG, -1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(error::from_errno(c.value), c.code) << "errno " << c.value;
  }
}

TEST(Messages, ErrnoMessageFollowsCurrentErrno) {
  errno = EACCES;
  EXPECT_STREQ(error::errno_message(), L"Access denied");
  errno = ENOENT;
  EXPECT_STREQ(error::errno_message(), L"File not found");
  errno = ENOSPC;
  EXPECT_STREQ(error::errno_message(), L"No space left on device");
}

// A code made where the failure happened names its errno when printed
// later, once, on the same thread; never a reason that is not its own.
TEST(Messages, UnknownErrorNamesTheErrnoItWasMadeFrom) {
  const struct {
    int value;
    const wchar_t* text;
  } cases[] = {
      {ENOTDIR, L"Not a directory"},
      {ELOOP, L"Too many levels of symbolic links"},
      {EISDIR, L"Is a directory"},
      {EPERM, L"Operation not permitted"},
      {12345, L"Unknown error 12345"},
  };
  for (const auto& c : cases) {
    int code = error::from_errno(c.value);
    ASSERT_EQ(code, error::unknown_error);
    EXPECT_STREQ(error::message(code), c.text) << c.value;
    EXPECT_STREQ(error::message(code), L"Unknown error") << "a second time, " << c.value;
  }
  // A later mapping to a code of its own leaves no reason behind, nor does
  // one made on another thread.
  error::from_errno(ELOOP);
  error::from_errno(EACCES);
  EXPECT_STREQ(error::message(error::unknown_error), L"Unknown error");
  std::thread other([] { error::from_errno(ENOSPC); });
  other.join();
  EXPECT_STREQ(error::message(error::unknown_error), L"Unknown error");
  // Other codes never take it.
  error::from_errno(EROFS);
  EXPECT_STREQ(error::message(error::file_read_error), L"File read error");
  EXPECT_STREQ(error::message(error::unknown_error), L"Read-only file system");
}

TEST(NodePool, CountsBelowOneFillPages) {
  // With the program's 160-byte slots: 0 pages still give one slot, one
  // page gives 25, two give 51 (less the block's link word either way).
  ASSERT_EQ(sizeof(path_node), 160u);
  const struct {
    int count;
    int slots;
  } cases[] = {{0, 1}, {-1, 25}, {-2, 51}, {7, 7}};
  for (const auto& c : cases) {
    node_pool pool;
    pool.init(c.count, c.count, false, false, sizeof(path_node));
    EXPECT_EQ(pool.slotsPerBlock(false), c.slots) << c.count;
    EXPECT_EQ(pool.slotsPerBlock(true), c.slots) << c.count;
    EXPECT_EQ(pool.total(), c.slots) << c.count;
    pool.release_all();
  }
}

TEST(NodePool, GrowsByABlockAfterTheFirstIsUsedUp) {
  for (bool locking : {false, true}) {
    node_pool pool;
    pool.init(4096, 4096, locking, false, sizeof(path_node));
    for (int i = 0; i < 4096; ++i) ASSERT_NE(pool.alloc(), nullptr);
    EXPECT_EQ(pool.total(), 4096);
    ASSERT_NE(pool.alloc(), nullptr);
    EXPECT_EQ(pool.total(), 8192);
    pool.release_all();
    pool.release_all();  // finds nothing the second time
  }
}

TEST(NodePool, SlotsComeInAddressOrderAndAreReusedLastInFirstOut) {
  node_pool pool;
  pool.init(4, 4, false, false, 32);
  char* first = static_cast<char*>(pool.alloc());
  char* second = static_cast<char*>(pool.alloc());
  EXPECT_EQ(second, first + 32);
  char* third = static_cast<char*>(pool.alloc());
  pool.free(second);
  pool.free(first);
  pool.free(nullptr);
  EXPECT_EQ(pool.alloc(), first);
  EXPECT_EQ(pool.alloc(), second);
  EXPECT_EQ(pool.alloc(), third + 32);
  EXPECT_EQ(pool.total(), 4);
  pool.release_all();
}

TEST(NodePool, ZeroFillClearsReusedSlots) {
  node_pool pool;
  pool.init(2, 2, false, true, 64);
  unsigned char* slot = static_cast<unsigned char*>(pool.alloc());
  memset(slot, 0xAB, 64);
  pool.free(slot);
  ASSERT_EQ(pool.alloc(), slot);
  for (int i = 0; i < 64; ++i) ASSERT_EQ(slot[i], 0) << i;
  pool.release_all();
}

TEST(PathNode, ShortPathsStayInsideLongOnesGoToTheHeap) {
  for (size_t length : {0u, 1u, 127u, 128u, 600u}) {
    std::string text(length, 'p');
    path_node* node = new path_node(text.c_str(), 7, 9);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->path == node->inlineText, length <= 127) << length;
    EXPECT_EQ(text, node->path);
    EXPECT_EQ(node->next, nullptr);
    EXPECT_EQ(node->device, 7u);
    EXPECT_EQ(node->inode, 9u);
    delete node;
  }
  path_node* none = new path_node(nullptr, 0, 0);
  EXPECT_EQ(none->path, nullptr);
  EXPECT_FALSE(none->lostPath(nullptr));
  delete none;
}

TEST(PathNode, ListReleasesEveryNode) {
  path_list list;
  path_node* last = nullptr;
  for (int i = 0; i < 5000; ++i) {
    last = new path_node(std::to_string(i).c_str(), 0, i);
    list.append(last);
  }
  EXPECT_EQ(list.tail, &last->next);
  list.release();
  EXPECT_EQ(list.head, nullptr);
  EXPECT_EQ(list.tail, &list.head);
  // The last node's slot went back last, so it is handed out first.
  void* slot = programPool().alloc();
  EXPECT_EQ(slot, static_cast<void*>(last));
  programPool().free(slot);
}

struct stat statusOf(uid_t uid, gid_t gid, mode_t mode) {
  struct stat status;
  memset(&status, 0, sizeof status);
  status.st_uid = uid;
  status.st_gid = gid;
  status.st_mode = S_IFREG | mode;
  return status;
}

TEST(UserIdentity, OnlyTheClassThatAppliesCounts) {
  const gid_t groups[] = {50, 60};
  user_identity root(0, nullptr, 0);
  user_identity user(1000, groups, 2);
  user_identity loner(1000, nullptr, 0);
  const struct {
    const user_identity* who;
    uid_t uid;
    gid_t gid;
    mode_t mode;
    bool readable;
  } cases[] = {
      {&root, 5, 5, 0000, true},    // root reads anything
      {&user, 1000, 5, 0044, false},  // the owner is judged by the owner bit alone
      {&user, 1000, 5, 0400, true},
      {&user, 5, 60, 0604, false},  // a group member by the group bit alone
      {&user, 5, 60, 0040, true},
      {&user, 5, 70, 0004, true},   // neither: the others bit
      {&user, 5, 70, 0440, false},
      {&loner, 5, 1000, 0040, false},  // the primary group is not consulted
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.who->can_read(statusOf(c.uid, c.gid, c.mode)), c.readable)
        << "uid " << c.uid << " gid " << c.gid << " mode " << std::oct << c.mode;
    // Searching is judged the same way, by the search bit; a read bit alone
    // lets no one but root search.
    EXPECT_EQ(c.who->can_search(statusOf(c.uid, c.gid, c.mode >> 2)), c.readable)
        << "search: uid " << c.uid << " gid " << c.gid << " mode " << std::oct << (c.mode >> 2);
    EXPECT_EQ(c.who->can_search(statusOf(c.uid, c.gid, c.mode)), c.who == &root)
        << "search: uid " << c.uid << " gid " << c.gid << " mode " << std::oct << c.mode;
  }
}

}  // namespace
