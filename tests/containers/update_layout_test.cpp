#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "containers/record_format.h"
#include "containers/update_layout.h"

namespace {

// The binding line of a record bound to the entry lines `entries` (each
// ending in a line feed).
std::string bindingTo(const std::string& entries) {
  MD5_CTX digest;
  MD5Init(&digest);
  for (size_t at = 0; at < entries.size();) {
    size_t end = entries.find('\n', at);
    digestEntry(&digest, entries.data() + at, end - at);
    at = end + 1;
  }
  unsigned char bytes[16];
  MD5Final(bytes, &digest);
  char text[80];
  writeBinding(text, bytes, 2049, 77);
  return ";R3-" + std::string(text) + "\n";
}

std::string updated(const std::string& old, const char* comments, const std::string& entries) {
  char* text = nullptr;
  size_t length = 0;
  EXPECT_TRUE(layOutUpdate(old.data(), old.size(), comments, comments != nullptr ? strlen(comments) : 0,
                           entries.data(), entries.size(), &text, &length));
  std::string result(text != nullptr ? text : "", length);
  free(text);
  return result;
}

const std::string record = ";R2-sig\n;R2-time\n;R2-bits\n";

TEST(updateLayout, newLinesWhereTheyBelong) {
  struct {
    const char* name;
    std::string old;
    const char* comments;  // null: a format without them
    std::string expected;
  } cases[] = {
      {"comments after comments, entries before the record",
       "; h\n; 1 a\na 1\n" + record + ";R4-x\n", "; 2 b\n",
       "; h\n; 1 a\n; 2 b\na 1\nb 2\n" + record + ";R4-x\n"},
      {"no record: at the end", "; h\n; 1 a\na 1\n", "; 2 b\n", "; h\n; 1 a\n; 2 b\na 1\nb 2\n"},
      {"empty list", "", "; 2 b\n", "; 2 b\nb 2\n"},
      {"only comments", "; h\n;\n", "; 2 b\n", "; h\n;\n; 2 b\nb 2\n"},
      {"only comments, no last line feed: no blank line", "; only a comment", "; 2 b\n",
       "; only a comment\n; 2 b\nb 2\n"},
      {"last entry without its line feed", "a 1", "; 2 b\n", "; 2 b\na 1\nb 2\n"},
      {"CR LF list: new lines end alike", "; h\r\n; 1 a\r\na 1\r\n", "; 2 b\n",
       "; h\r\n; 1 a\r\n; 2 b\r\na 1\r\nb 2\r\n"},
      {"CR LF list with a record", "a 1\r\n" + record, "; 2 b\n", "; 2 b\r\na 1\r\nb 2\r\n" + record},
      {"entries after the record: after the last, the record last",
       "; 1 a\na 1\n" + record + "c 3\n", "; 2 b\n", "; 1 a\n; 2 b\na 1\nc 3\nb 2\n" + record},
      {"comments and blanks after the record stay in place",
       "a 1\n;R2-sig\n\n;R2-time\nc 3\n; note\n;R7-other\n", "; 2 b\n",
       "; 2 b\na 1\n\nc 3\nb 2\n; note\n;R2-sig\n;R2-time\n;R7-other\n"},
      {"every entry after the record", record + "a 1\n", "; 2 b\n", "; 2 b\na 1\nb 2\n" + record},
      {"MD5: at the end", "; h\nd1 *a\n", nullptr, "; h\nd1 *a\nb 2\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(updated(c.old, c.comments, "b 2\n"), c.expected) << c.name;
}

// A record is bound to the new entry lines only when it was bound to the
// old ones; otherwise its bits could fall on other entries.
TEST(updateLayout, rebindsOnlyARecordBoundToTheListAsItWas) {
  struct {
    const char* name;
    std::string oldEntries;   // as the list holds them
    std::string boundTo;      // as its record was bound
    std::string added;
    std::string expectedBinding;
  } cases[] = {
      {"bound: rebound", "a 1\n", "a 1\n", "b 2\n", bindingTo("a 1\nb 2\n")},
      {"a line removed by hand", "bad 1\n", "gone 1\nbad 1\n", "new 2\n", bindingTo("gone 1\nbad 1\n")},
      {"a checksum changed by hand, nothing added", "a 2\n", "a 1\n", "", bindingTo("a 1\n")},
  };
  for (const auto& c : cases) {
    std::string old = c.oldEntries + record + bindingTo(c.boundTo) + ";R4-x\n";
    std::string got = updated(old, "; c\n", c.added);
    size_t binding = got.find(";R3-");
    ASSERT_NE(binding, std::string::npos) << c.name;
    EXPECT_EQ(got.substr(binding, got.find('\n', binding) + 1 - binding), c.expectedBinding) << c.name;
    EXPECT_EQ(got.substr(got.size() - 6), ";R4-x\n") << c.name;
  }
  // Entries after a record bound to them all: rebound, the record last.
  std::string old = "a 1\n" + record + bindingTo("a 1\nc 3\n") + "c 3\n";
  EXPECT_EQ(updated(old, nullptr, "b 2\n"), "a 1\nc 3\nb 2\n" + record + bindingTo("a 1\nc 3\nb 2\n"));
}

}  // namespace
