#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "line_format.h"
#include "status_figures.h"

namespace {

__attribute__((format(printf, 1, 2))) std::string formatted(const char* format, ...) {
  char text[4096];
  va_list arguments;
  va_start(arguments, format);
  {
    line_sink out(text, sizeof text);
    formatLine(out, format, arguments);
  }
  va_end(arguments);
  return text;
}

TEST(LineFormat, NamesWithLineBreakingBytesAreEscaped) {
  const struct {
    const char* name;
    const char* shown;
  } cases[] = {
      {"plain.txt", "plain.txt: Ok\n"},
      {"back\\slash", "back\\slash: Ok\n"},  // alone, a backslash changes nothing
      {"tab\there", "tab\there: Ok\n"},
      {"h\xc3\xa9\xff", "h\xc3\xa9\xff: Ok\n"},
      {"good.txt: Ok\nbad.txt", "\\good.txt: Ok\\nbad.txt: Ok\n"},
      {"cr\rname", "\\cr\\rname: Ok\n"},
      {"bell\a\x01\x1f\x7f", "\\bell\\x07\\x01\\x1f\\x7f: Ok\n"},
      {"all\\\n\t", "\\all\\\\\\n\t: Ok\n"},
      {"\x1b[2J", "\\\\x1b[2J: Ok\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(formatted("%s: Ok\n", c.name), c.shown) << c.name;
}

TEST(LineFormat, OneEscapedNameEscapesEveryNameOfTheLine) {
  EXPECT_EQ(formatted("%s was previously seen as %s\n", "a\\b", "c\nd"),
            "\\a\\\\b was previously seen as c\\nd\n");
  EXPECT_EQ(formatted("%s was previously seen as %s\n", "a\\b", "c d"),
            "a\\b was previously seen as c d\n");
  // Messages are wide texts, never names; a precision cuts the name before
  // it is judged.
  EXPECT_EQ(formatted("%s: %ls\n", "x", L"File not found"), "x: File not found\n");
  EXPECT_EQ(formatted("%.3s|\n", "abc\n"), "abc|\n");
  EXPECT_EQ(formatted("%.4s|\n", "abc\n"), "\\abc\\n|\n");
  EXPECT_EQ(formatted("[%6s][%-6s]\n", "a\nb", "c\rd"), "\\[  a\\nb][c\\rd  ]\n");
}

TEST(LineFormat, EverythingElseAsPrintfWritesIt) {
  char expected[512];
  snprintf(expected, sizeof expected,
           "%d %i %5d|%-4d|%+d %ld %lld %u %lu %llu %zu %x %#X %o %hhd %hu %c%% %ls %5.2f %e %p %8s|%-8s|",
           -7, 42, 3, 9, 5, -123456789L, -1234567890123LL, 4000000000u, 123UL, 18446744073709551615ULL,
           static_cast<size_t>(77), 255u, 255u, 8u, 300, 70000u, 'z', L"wide", 3.14159, 1e300,
           static_cast<void*>(expected), "right", "left");
  EXPECT_EQ(formatted("%d %i %5d|%-4d|%+d %ld %lld %u %lu %llu %zu %x %#X %o %hhd %hu %c%% %ls %5.2f %e %p %8s|%-8s|",
                      -7, 42, 3, 9, 5, -123456789L, -1234567890123LL, 4000000000u, 123UL,
                      18446744073709551615ULL, static_cast<size_t>(77), 255u, 255u, 8u, 300, 70000u, 'z',
                      L"wide", 3.14159, 1e300, static_cast<void*>(expected), "right", "left"),
            expected);
  EXPECT_EQ(formatted("%*d|%-*d|%.*s|%*s|\n", 4, 1, 3, 2, 2, "name", -4, "a"), "   1|2  |na|a   |\n");
  EXPECT_EQ(formatted("100%% complete%c", '\r'), "100% complete\r");
}

TEST(LineFormat, SinksKeepWhatFitsOrWriteItAll) {
  char small[8];
  {
    line_sink out(small, sizeof small);
    out.put("abcdefghij", 10);
  }
  EXPECT_STREQ(small, "abcdefg");

  // A stream gets the whole line, however long, in pieces.
  std::string name(5000, 'n');
  name[2500] = '\r';
  char* text = nullptr;
  size_t length = 0;
  FILE* stream = open_memstream(&text, &length);
  ASSERT_NE(stream, nullptr);
  {
    line_sink out(stream);
    auto write = [&out](const char* format, ...) {
      va_list arguments;
      va_start(arguments, format);
      formatLine(out, format, arguments);
      va_end(arguments);
    };
    write("%s!\n", name.c_str());
  }
  fclose(stream);
  std::string expected = "\\" + name.substr(0, 2500) + "\\r" + name.substr(2501) + "!\n";
  EXPECT_EQ(std::string(text, length), expected);
  free(text);
}

TEST(StatusFigures, TimeLeft) {
  const struct {
    double seconds;
    const char* shown;
  } cases[] = {
      {0, "0:00"},          {0.2, "0:01"},         {59.2, "1:00"},        {61, "1:01"},
      {3599, "59:59"},      {3600, "1:00:00"},     {3661, "1:01:01"},     {359999, "99:59:59"},
      {359999.5, "--:--"},  {360000, "--:--"},     {1e300, "--:--"},      {INFINITY, "--:--"},
      {NAN, "--:--"},       {-5, "0:00"},
  };
  for (const auto& c : cases) {
    char text[32];
    formatTimeLeft(text, sizeof text, c.seconds);
    EXPECT_STREQ(text, c.shown) << c.seconds;
  }
}

TEST(StatusFigures, Sizes) {
  const struct {
    double bytes;
    const char* shown;
  } cases[] = {{0, "0 B"}, {999, "999 B"}, {1500, "1.5 kB"}, {123456, "123 kB"}, {5.4e9, "5.4 GB"},
               {2e15, "2000 TB"}};
  for (const auto& c : cases) {
    char text[32];
    formatSize(text, sizeof text, c.bytes);
    EXPECT_STREQ(text, c.shown) << c.bytes;
  }
}

TEST(StatusFigures, RateOverTheLastSecondsOnly) {
  rate_window rate;
  EXPECT_FALSE(rate.known());
  rate.sample(0, 0);
  rate.sample(0.3, 30);
  EXPECT_FALSE(rate.known());  // too short a time to tell
  // 100 bytes a second for 10 s, sampled ten times a second, then nothing.
  for (int tenth = 4; tenth <= 100; ++tenth) rate.sample(tenth / 10.0, 10ULL * tenth);
  ASSERT_TRUE(rate.known());
  EXPECT_NEAR(rate.perSecond(), 100, 0.5);
  for (int tenth = 101; tenth <= 120; ++tenth) rate.sample(tenth / 10.0, 1000);
  EXPECT_NEAR(rate.perSecond(), (1000 - 700) / 5.0, 1);
  for (int tenth = 121; tenth <= 160; ++tenth) rate.sample(tenth / 10.0, 1000);
  EXPECT_EQ(rate.perSecond(), 0);
  // A long pause between two samples still gives a rate.
  rate_window sparse;
  sparse.sample(0, 0);
  sparse.sample(30, 3000);
  ASSERT_TRUE(sparse.known());
  EXPECT_NEAR(sparse.perSecond(), 100, 0.001);
}

TEST(StatusFigures, VerifyTotalFromListedSizesAndSizesAtOpen) {
  const unsigned long long none = byte_total::unlisted;
  // Every size listed: the sum, whatever the engine has opened.
  byte_total listed;
  listed.submitted(100);
  listed.submitted(5000);
  EXPECT_EQ(listed.value(0), 5100u);
  EXPECT_EQ(listed.value(5100), 5100u);
  listed.taken(100, 100);
  EXPECT_EQ(listed.value(5100), 5100u);

  // No size listed: what the engine opened.
  byte_total opened;
  opened.submitted(none);
  opened.submitted(none);
  EXPECT_EQ(opened.value(0), 0u);
  EXPECT_EQ(opened.value(700), 700u);
  opened.taken(none, 300);
  EXPECT_EQ(opened.value(900), 900u);

  // Both: an opened file is counted once, by its listed size when it has
  // one, even before its result is taken.
  byte_total mixed;
  mixed.submitted(1000);
  mixed.submitted(none);
  EXPECT_EQ(mixed.value(1000), 1000u);        // the listed one is open
  EXPECT_EQ(mixed.value(1000 + 40), 1040u);   // and the other
  mixed.taken(1000, 1000);
  EXPECT_EQ(mixed.value(1040), 1040u);
  mixed.taken(none, 40);
  EXPECT_EQ(mixed.value(1040), 1040u);
  // A file that opened bigger than listed counts by its size at open while
  // awaited, by its listed size once taken.
  mixed.submitted(10);
  EXPECT_EQ(mixed.value(1040), 1050u);
  EXPECT_EQ(mixed.value(1040 + 50), 1090u);
  mixed.taken(10, 50);
  EXPECT_EQ(mixed.value(1090), 1050u);
}

}  // namespace
