// Hexadecimal text of hashes: what the lists write, and what they read back.
#include <cstdint>
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "containers/hex.h"

namespace {

TEST(hexText, bytesAreWrittenLowerCaseAndReadInEitherCase) {
  const unsigned char bytes[] = {0x00, 0x09, 0x0a, 0x7f, 0x80, 0xa5, 0xf0, 0xff};
  char text[2 * sizeof bytes + 1];
  writeHexBytes(text, bytes, sizeof bytes);
  EXPECT_STREQ(text, "00090a7f80a5f0ff");
  const char* forms[] = {"00090a7f80a5f0ff", "00090A7F80A5F0FF", "00090a7F80A5f0Ff"};
  for (const char* form : forms) {
    unsigned char back[sizeof bytes] = {};
    ASSERT_TRUE(readHexBytes(form, back, sizeof back)) << form;
    EXPECT_EQ(std::string(back, back + sizeof back), std::string(bytes, bytes + sizeof bytes)) << form;
  }
}

TEST(hexText, aWordIsItsValueInEightUpperCaseDigits) {
  const uint32_t values[] = {0, 0x9, 0xCBF43926, 0x0000ABCD, 0xFFFFFFFF, 0x80000001};
  for (uint32_t value : values) {
    char text[9], expected[9];
    writeHexWord(text, value);
    snprintf(expected, sizeof expected, "%08X", value);
    EXPECT_STREQ(text, expected);
    uint32_t back = 0;
    ASSERT_TRUE(readHexWord(text, &back)) << text;
    EXPECT_EQ(back, value) << text;
  }
  uint32_t value = 0;
  ASSERT_TRUE(readHexWord("cbf43926", &value));
  EXPECT_EQ(value, 0xCBF43926u);
}

TEST(hexText, anythingButADigitAnywhereIsRefused) {
  const std::string digits = "0123456789abcdef";
  for (char bad : {'g', 'G', ' ', 'x', '-', '\0'}) {
    for (size_t at = 0; at < 8; ++at) {
      std::string text = digits;
      text[at] = bad;
      unsigned char bytes[4];
      uint32_t value = 7;
      EXPECT_FALSE(readHexBytes(text.c_str(), bytes, sizeof bytes)) << at << bad;
      EXPECT_FALSE(readHexWord(text.c_str(), &value)) << at << bad;
      EXPECT_EQ(value, 7u);
    }
  }
}

}  // namespace
