// The engine's one way of reading a file: which spans come mapped and which
// read, where the file ends, and how a file that shrank or grew shows.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "hash/algorithm.h"
#include "pipeline/file_reader.h"
#include "pipeline_support.h"

namespace {

struct span_seen {
  size_t length;
  bool mapped, last;
  int failure;
  bool operator==(const span_seen&) const = default;
};

std::ostream& operator<<(std::ostream& out, const span_seen& s) {
  return out << "{" << s.length << (s.mapped ? " mapped" : " read") << (s.last ? " last" : "") << " failure "
             << s.failure << "}";
}

// Every span of `path` from `from` to `limit`, each checked against the
// pattern makeFile wrote, as a caller would take them.
std::vector<span_seen> spansOf(const std::string& path, unsigned long long from, unsigned long long limit,
                               bool mayMap, unsigned long long* misplaced) {
  file_reader reader;
  bool notRegular = false;
  EXPECT_EQ(reader.open(path.c_str(), true, &notRegular, 0), 0);
  std::vector<unsigned char> buffer(512 * 1024);
  std::vector<span_seen> seen;
  for (unsigned long long at = from; seen.size() < 100;) {
    file_span s = reader.next({at, limit, buffer.data(), buffer.size(), 0, mayMap, true});
    for (size_t i = 0; i < s.length; i += 4093) *misplaced += s.data[i] != patternByte(at + i);
    seen.push_back({s.length, s.mapped, s.last, s.failure});
    file_reader::release(s);
    at += s.length;
    if (s.last || s.failure != 0 || at >= limit) break;
  }
  // A short read ends the file at once where the read could wait for the
  // disk; where it could not (RWF_NOWAIT on a disk that spins), one more
  // read finds nothing. Both are the same end.
  size_t n = seen.size();
  if (n >= 2 && seen[n - 1] == span_seen{0, false, true, 0} && !seen[n - 2].mapped) {
    seen.pop_back();
    seen.back().last = true;
  }
  return seen;
}

TEST(FileReader, SpansMappedWhereCachedAndLargeReadElsewhere) {
  scratchDir dir;
  const unsigned long long mib = 1 << 20, whole = span_request::wholeFile;
  struct {
    const char* what;
    unsigned long long size, from, limit;
    bool mayMap;
    std::vector<span_seen> spans;
  } cases[] = {
      {"small: one short read", 100000, 0, whole, true, {{100000, false, true, 0}}},
      {"empty", 0, 0, whole, true, {{0, false, true, 0}}},
      {"cached MiB: mapped, then the end read", mib, 0, whole, true, {{mib, true, false, 0}, {0, false, true, 0}}},
      {"just under a MiB: read", mib - 1, 0, whole, true, {{524288, false, false, 0}, {524287, false, true, 0}}},
      {"40 MiB: mappings of 32 MiB at most",
       40 * mib, 0, whole, true, {{32 * mib, true, false, 0}, {8 * mib, true, false, 0}, {0, false, true, 0}}},
      {"a piece: mapped up to its limit only", 40 * mib, 3 * mib, 5 * mib, true, {{2 * mib, true, false, 0}}},
      {"a piece under a MiB: read", 40 * mib, 3 * mib, 3 * mib + 4096, true, {{4096, false, false, 0}}},
      {"mapping not allowed: reads", 2 * mib, 0, whole, false,
       {{524288, false, false, 0}, {524288, false, false, 0}, {524288, false, false, 0}, {524288, false, true, 0}}},
  };
  for (auto& c : cases) {
    std::string path = dir.file(std::to_string(c.size));
    makeFile(path, c.size);
    unsigned long long misplaced = 0;
    EXPECT_EQ(spansOf(path, c.from, c.limit, c.mayMap, &misplaced), c.spans) << c.what;
    EXPECT_EQ(misplaced, 0u) << c.what;
  }
}

// A file that shrank below its size at open: a read meets the new end (EIO);
// a mapped span faults on the pages past it, which feed() turns into EIO.
// A file that grew is read on to its new end.
TEST(FileReader, ShrinkIsAReadErrorGrowthIsReadOn) {
  scratchDir dir;
  std::string path = dir.file("f");
  const zorvik::algorithm& crc = zorvik::crc32Algorithm();
  std::vector<unsigned char> buffer(512 * 1024);
  bool notRegular = false;
  for (bool mapped : {false, true}) {
    SCOPED_TRACE(mapped ? "mapped" : "read");
    makeFile(path, 8 << 20);
    file_reader reader;
    ASSERT_EQ(reader.open(path.c_str(), true, &notRegular, 0), 0);
    file_span first = reader.next({0, span_request::wholeFile, buffer.data(), buffer.size(), 0, mapped, true});
    ASSERT_EQ(first.mapped, mapped);
    ASSERT_EQ(truncate(path.c_str(), 1 << 20), 0);
    uint32_t state;
    crc.init(&state);
    if (mapped) {
      EXPECT_EQ(file_reader::feed(first, 0, first.length, crc, &state), EIO);
    } else {
      EXPECT_EQ(file_reader::feed(first, 0, first.length, crc, &state), 0);
      file_span past = reader.next({2 << 20, span_request::wholeFile, buffer.data(), buffer.size()});
      EXPECT_EQ(past.failure, EIO);
      EXPECT_EQ(past.length, 0u);
    }
    file_reader::release(first);
  }
  makeFile(path, 1000);
  file_reader reader;
  ASSERT_EQ(reader.open(path.c_str(), true, &notRegular, 0), 0);
  FILE* more = fopen(path.c_str(), "ab");
  ASSERT_NE(more, nullptr);
  fputs("grown", more);
  fclose(more);
  file_span s = reader.next({0, span_request::wholeFile, buffer.data(), buffer.size()});
  EXPECT_EQ(s.length, 1005u);
  EXPECT_FALSE(s.failure);
  file_span end = reader.next({1005, span_request::wholeFile, buffer.data(), buffer.size()});
  EXPECT_TRUE(end.last);
  EXPECT_EQ(end.length, 0u);
}

}  // namespace
