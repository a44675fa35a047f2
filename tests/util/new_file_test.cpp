// Write failures as codes, and the new file that replaces an old one whole.
#include "util/new_file.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include <zorvik/error.h>

#include "support/scratch_dir.h"

namespace {

struct writeCase {
  int errnoSet;  // by the failing write; 0: none
  int unset;     // what a failure without errno means
  int code;
  int reason;    // error::unknown_errno() afterwards
};

TEST(WriteFailure, CodeFromTheFailedWrite) {
  const writeCase cases[] = {
      {ENOENT, 0, error::file_not_found, 0},
      {EIO, ENOSPC, error::file_read_error, 0},
      {ENOSPC, 0, error::unknown_error, ENOSPC},
      // A stream flagged by an earlier failure: no reason, not even a stale one.
      {0, 0, error::unknown_error, 0},
      // A descriptor write that wrote nothing: a full disk.
      {0, ENOSPC, error::unknown_error, ENOSPC},
  };
  for (const writeCase& c : cases) {
    errno = EPERM;
    error::unknown_errno() = EPERM;
    int code = error::from_write(
        [&c] {
          if (c.errnoSet != 0) errno = c.errnoSet;
          return false;
        },
        c.unset);
    EXPECT_EQ(code, c.code) << c.errnoSet << " " << c.unset;
    EXPECT_EQ(error::unknown_errno(), c.reason) << c.errnoSet << " " << c.unset;
  }
  error::unknown_errno() = EPERM;
  EXPECT_EQ(error::from_write([] { return true; }), error::ok);
  EXPECT_EQ(error::unknown_errno(), EPERM);
}

// Names in `directory` other than "." and "..", sorted.
std::string namesIn(const std::string& directory) {
  std::string names;
  dirent** entries;
  int count = scandir(directory.c_str(), &entries, nullptr, alphasort);
  for (int i = 0; i < count; ++i) {
    if (strcmp(entries[i]->d_name, ".") != 0 && strcmp(entries[i]->d_name, "..") != 0)
      names += std::string(entries[i]->d_name) + " ";
    free(entries[i]);
  }
  if (count >= 0) free(entries);
  return names;
}

class NewFile : public ::testing::Test {
protected:
  std::string file(const std::string& name) const { return _scratch.file("files/" + name); }
  void SetUp() override { mkdir(file("").c_str(), 0755); }
  // Writes `text` into a file just made, and closes it synced.
  static int fill(int descriptor, const char* text) {
    FILE* stream = fdopen(descriptor, "w");
    if (stream == nullptr) return error::unknown_error;
    fputs(text, stream);
    return closeSynced(&stream);
  }
  scratchDir _scratch;
};

TEST_F(NewFile, ReplacesTheFileALinkNamesWholeAndKeepsTheLink) {
  scratchDir::write(file("real"), "old\n");
  ASSERT_EQ(symlink("real", file("name").c_str()), 0);
  new_file made;
  int descriptor = makeNewFile(&made, file("name").c_str(), ".new-XXXXXX");
  ASSERT_GE(descriptor, 0);
  EXPECT_EQ(std::string(made.target), file("real"));
  EXPECT_EQ(std::string(made.temporary).rfind(file("real.new-"), 0), 0u) << made.temporary;
  EXPECT_EQ(fill(descriptor, "new\n"), error::ok);
  EXPECT_EQ(scratchDir::read(file("name")), "old\n");
  EXPECT_EQ(putNewFile(&made), error::ok);
  EXPECT_EQ(scratchDir::read(file("real")), "new\n");
  struct stat status;
  ASSERT_EQ(lstat(file("name").c_str(), &status), 0);
  EXPECT_TRUE(S_ISLNK(status.st_mode));
  EXPECT_EQ(namesIn(file("")), "name real ");
}

TEST_F(NewFile, AFailedRenameLeavesTheOldFileAndNoTemporary) {
  ASSERT_EQ(mkdir(file("dir").c_str(), 0755), 0);
  new_file made;
  int descriptor = makeNewFile(&made, file("dir").c_str(), ".new-XXXXXX");
  ASSERT_GE(descriptor, 0);
  EXPECT_EQ(fill(descriptor, "text\n"), error::ok);
  EXPECT_EQ(putNewFile(&made), error::unknown_error);
  EXPECT_EQ(error::unknown_errno(), EISDIR);
  EXPECT_EQ(namesIn(file("")), "dir ");
}

TEST_F(NewFile, TemporariesAreDroppedOneByOneOrAllAtOnce) {
  new_file one, two, three;
  int descriptors[] = {makeNewFile(&one, file("one").c_str(), ".new-XXXXXX"),
                       makeNewFile(&two, file("two").c_str(), ".new-XXXXXX"),
                       makeNewFile(&three, file("three").c_str(), ".new-XXXXXX")};
  for (int descriptor : descriptors) {
    ASSERT_GE(descriptor, 0);
    close(descriptor);
  }
  dropNewFile(&one);
  EXPECT_EQ(one.temporary[0], '\0');
  std::string left = namesIn(file(""));
  EXPECT_EQ(left.size(), strlen("three.new-XXXXXX two.new-XXXXXX ")) << left;
  EXPECT_EQ(left.rfind("three.new-", 0), 0u) << left;
  // As a signal handler would, while the others are still being written.
  dropAllNewFiles();
  EXPECT_EQ(namesIn(file("")), "");
  dropNewFile(&two);
  dropNewFile(&three);
}

TEST_F(NewFile, NamesWithoutRoomOrWithoutEndFailBeforeAnyFileIsMade) {
  ASSERT_EQ(symlink("loop", file("loop").c_str()), 0);
  std::string longName = file(std::string(PATH_MAX - file("").size() - 8, 'n'));
  const std::string names[] = {file("loop"), longName};
  for (const std::string& name : names) {
    new_file made;
    errno = 0;
    EXPECT_EQ(makeNewFile(&made, name.c_str(), ".new-XXXXXX"), -1) << name;
    EXPECT_EQ(errno, ENAMETOOLONG) << name;
    EXPECT_EQ(made.target[0], '\0') << name;
  }
  // A directory that takes no file: the target is known, the temporary not.
  new_file made;
  EXPECT_EQ(makeNewFile(&made, file("missing/list").c_str(), ".new-XXXXXX"), -1);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(std::string(made.target), file("missing/list"));
  EXPECT_EQ(made.temporary[0], '\0');
  EXPECT_EQ(namesIn(file("")), "loop ");
}

TEST_F(NewFile, ClosingReportsWhatTheDeviceRefused) {
  FILE* full = fopen("/dev/full", "w");
  ASSERT_NE(full, nullptr);
  fputs("anything\n", full);
  EXPECT_EQ(closeSynced(&full), error::unknown_error);
  EXPECT_EQ(error::unknown_errno(), ENOSPC);
  EXPECT_EQ(full, nullptr);
}

TEST_F(NewFile, TakesTheModeOfTheFileItReplacesOrThatOfAPlainCreate) {
  mode_t mask = umask(027);
  new_file made;
  int descriptor = makeNewFile(&made, file("fresh").c_str(), ".new-XXXXXX");
  ASSERT_GE(descriptor, 0);
  adoptAttributes(descriptor, nullptr);
  struct stat status;
  ASSERT_EQ(fstat(descriptor, &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0640u);
  struct stat old = status;
  old.st_mode = S_IFREG | 0604;
  adoptAttributes(descriptor, &old);
  ASSERT_EQ(fstat(descriptor, &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0604u);
  umask(mask);
  close(descriptor);
  dropNewFile(&made);
}

}  // namespace
