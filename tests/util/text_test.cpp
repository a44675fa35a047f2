#include <zorvik/text.h>

#include <string>

#include <gtest/gtest.h>

namespace {

TEST(Text, EveryByteRoundTrips) {
  std::string bytes;
  for (int c = 1; c <= 255; ++c) bytes += static_cast<char>(c);
  wchar_t wide[256];
  ASSERT_EQ(bytesToWide(wide, bytes.c_str(), 256), 255);
  for (int i = 0; i < 255; ++i) EXPECT_EQ(wide[i], static_cast<wchar_t>(i + 1));
  EXPECT_EQ(wide[255], L'\0');
  char back[256];
  ASSERT_EQ(wideToBytes(back, wide, 256), 255);
  EXPECT_EQ(std::string(back), bytes);
}

TEST(Text, RefusesWhatDoesNotFit) {
  wchar_t wide[8];
  EXPECT_EQ(bytesToWide(wide, "abc", 3), -1);
  EXPECT_EQ(bytesToWide(wide, "abc", 4), 3);
  EXPECT_EQ(bytesToWide(wide, "", 0), -1);
  EXPECT_EQ(bytesToWide(wide, "", 1), 0);

  char narrow[8];
  EXPECT_EQ(wideToBytes(narrow, L"abc", 3), -1);
  EXPECT_EQ(wideToBytes(narrow, L"abc", 4), 3);
  EXPECT_EQ(wideToBytes(narrow, L"", 0), -1);
  const wchar_t tooWide[] = {L'a', 0x100, 0};
  EXPECT_EQ(wideToBytes(narrow, tooWide, 8), -1);
  const wchar_t negative[] = {L'a', static_cast<wchar_t>(-1), 0};
  EXPECT_EQ(wideToBytes(narrow, negative, 8), -1);
}

}  // namespace
