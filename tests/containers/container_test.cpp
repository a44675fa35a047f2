#include <algorithm>
#include <cerrno>
#include <climits>
#include <string>
#include <vector>

#include "scratch.h"

using namespace std::string_literals;

namespace {

class containerBase : public scratch {
protected:
  // Every line readFileString gives for `content` with rooms of `length`.
  std::vector<std::wstring> lines(const std::string& content, int length) {
    write("lines.txt", content);
    md5 list;
    EXPECT_EQ(list.open(wide(path("lines.txt")).c_str()), 0);
    std::vector<std::wstring> result;
    std::vector<wchar_t> buffer(static_cast<size_t>(length));
    for (int got; (got = list.readFileString(buffer.data(), length)) > 0;) {
      EXPECT_EQ(static_cast<size_t>(got), wcslen(buffer.data()));
      result.emplace_back(buffer.data());
    }
    return result;
  }
};

TEST_F(containerBase, readFileStringSplitsLines) {
  struct {
    std::string content;
    int length;
    std::vector<std::wstring> expected;
  } cases[] = {
      {"a\r\nbc\r\n"s, 512, {L"a\r", L"bc\r"}},
      {"\n\nx\n\n\ny\n\n\n"s, 512, {L"x", L"y"}},
      {"\n\n\n"s, 512, {}},
      {""s, 512, {}},
      {"first\nlast"s, 512, {L"first", L"last"}},
      {"abcdefghijklmnopqrst\n"s, 10, {L"abcdefghi", L"jklmnopqr", L"st"}},
      {"abcdefghi\nz\n"s, 10, {L"abcdefghi", L"z"}},
      {"ab\0cd\nnext\n"s, 512, {L"ab", L"next"}},
      {"\0hidden\nshown\n"s, 512, {L"shown"}},
      {"caf\xc3\xa9 \x80\xff\n"s, 512, {L"caf\u00c3\u00a9 \u0080\u00ff"}},
  };
  for (const auto& c : cases) EXPECT_EQ(lines(c.content, c.length), c.expected) << c.content;
}

TEST_F(containerBase, readFileStringWithoutFile) {
  md5 list;
  wchar_t buffer[16];
  EXPECT_EQ(list.readFileString(buffer, 16), -4);
  ASSERT_EQ(list.open(wide(path("missing")).c_str()), -4);
  EXPECT_EQ(list.readFileString(buffer, 16), -4);
  write("one", "x\n");
  ASSERT_EQ(list.open(wide(path("one")).c_str()), 0);
  EXPECT_EQ(list.readFileString(buffer, 1), -8);  // could never take a character
  EXPECT_EQ(list.readFileString(buffer, 2), 1);
  EXPECT_EQ(list.readFileString(buffer, 2), 0);
}

TEST_F(containerBase, ticksRoundTrip) {
  struct {
    long long seconds;
    long nanoseconds;
    unsigned long long ticks;
    long long back;
  } cases[] = {
      {0, 0, 116444736000000000ULL, 0},
      {0, 49, 116444736000000000ULL, 0},
      {0, 50, 116444736000000001ULL, 0},
      {1275309005, 999999999, 116444736000000000ULL + 12753090050000000ULL + 10000000ULL,
       1275309006},
      // Before 1970 the seconds go down, not towards zero.
      {-1, 500000000, 116444736000000000ULL - 5000000ULL, -1},
      {-86400, 0, 116444736000000000ULL - 864000000000ULL, -86400},
  };
  for (const auto& c : cases) {
    struct stat status {};
    status.st_mtim.tv_sec = static_cast<time_t>(c.seconds);
    status.st_mtim.tv_nsec = c.nanoseconds;
    EXPECT_EQ(container::ticksFromStat(status), c.ticks) << c.seconds;
    EXPECT_EQ(container::secondsFromTicks(c.ticks), c.back) << c.seconds;
  }
  unsigned long long before = static_cast<unsigned long long>(time(nullptr));
  long long now = container::secondsFromTicks(container::ticksNow());
  EXPECT_GE(now, static_cast<long long>(before));
  EXPECT_LE(now, static_cast<long long>(before) + 5);
}

TEST_F(containerBase, wfopenKeepsBytesAndRefusesCutNames) {
  std::string name = "n\xe9 \xff\x80";
  FILE* file = _wfopen(wide(path(name)).c_str(), L"w");
  ASSERT_NE(file, nullptr);
  fclose(file);
  EXPECT_EQ(access(path(name).c_str(), F_OK), 0);

  std::wstring longPath = wide(_dir + "/" + std::string(PATH_MAX, 'a'));
  errno = 0;
  EXPECT_EQ(_wfopen(longPath.c_str(), L"r"), nullptr);
  EXPECT_EQ(errno, ENAMETOOLONG);
  std::wstring unrepresentable = wide(_dir + "/") + L"\u263a";
  EXPECT_EQ(_wfopen(unrepresentable.c_str(), L"w"), nullptr);
  EXPECT_EQ(errno, EILSEQ);
}

// A new list takes the old one's place only when it is complete: until
// close() succeeds the old list, or its absence, stays as it was. A list
// named through a link is replaced at the link's target, with its mode.
TEST_F(containerBase, newListReplacesTheOldOneOnlyWhenClosed) {
  unsigned char crc[4] = {1, 2, 3, 4};
  ASSERT_EQ(mkdir(path("real").c_str(), 0755), 0);
  ASSERT_EQ(symlink("real/target.sfv", path("link.sfv").c_str()), 0);
  struct {
    const char* name;   // the list as the caller names it
    const char* file;   // where its bytes are
    const char* old;    // its content before, null when absent
    bool closed;
  } cases[] = {
      {"new.sfv", "new.sfv", nullptr, false},
      {"old.sfv", "old.sfv", "old\n", false},
      {"old.sfv", "old.sfv", "old\n", true},
      {"link.sfv", "real/target.sfv", "old\n", false},
      {"link.sfv", "real/target.sfv", "old\n", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + (c.closed ? " closed" : " dropped"));
    if (c.old != nullptr) {
      write(c.file, c.old);
      ASSERT_EQ(chmod(path(c.file).c_str(), 0640), 0);
    }
    {
      sfv list;
      ASSERT_EQ(list.create(wide(path(c.name)).c_str()), 0);
      list.addFile(L"a", crc);
      if (c.closed) {
        ASSERT_EQ(list.close(), 0);
      }
    }
    struct stat status;
    if (c.closed) {
      EXPECT_NE(read(c.file).find("\na 04030201\n"), std::string::npos);
      ASSERT_EQ(stat(path(c.file).c_str(), &status), 0);
      EXPECT_EQ(status.st_mode & 07777, 0640u);
    } else if (c.old != nullptr) {
      EXPECT_EQ(read(c.file), c.old);
    } else {
      EXPECT_NE(stat(path(c.file).c_str(), &status), 0);
    }
    ASSERT_EQ(lstat(path("link.sfv").c_str(), &status), 0);
    EXPECT_TRUE(S_ISLNK(status.st_mode));
    for (const char* directory : {".", "real"}) {
      std::string leftovers = listing(directory);
      EXPECT_EQ(leftovers.find(".zorvik-partial-"), std::string::npos) << leftovers;
    }
  }
}

TEST_F(containerBase, longPendingListIsReleased) {
  // A recursive release of 300,000 nodes would overflow the stack.
  md5 list;
  ASSERT_EQ(list.create(wide(path("big.md5")).c_str()), 0);
  unsigned char digest[16] = {};
  for (int i = 0; i < 300000; ++i) ASSERT_EQ(list.addFile(L"some/file/name", digest), 0);
  ASSERT_EQ(list.create(wide(path("again.md5")).c_str()), 0);  // drops the first list
  for (int i = 0; i < 300000; ++i) ASSERT_EQ(list.addFile(L"other", digest), 0);
  ASSERT_EQ(list.close(), 0);
  std::string content = read("again.md5");
  EXPECT_EQ(std::count(content.begin(), content.end(), '\n'), 300003);
  EXPECT_EQ(content.find("some/file"), std::string::npos);
}

}  // namespace
