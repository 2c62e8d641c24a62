#include "support/utf8.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct TUtf8Case {
  const char* label;
  std::string bytes;
  size_t size;  // 0: invalid at the start
  uint32_t code_point;
};

// The edges of each sequence length, and each way a sequence can be invalid.
TEST(Utf8, DecodesValidSequencesAndRefusesEveryInvalidForm) {
  const std::vector<TUtf8Case> cases = {
      {"ASCII", "A", 1, 0x41},
      {"lowest two-byte", "\xC2\x80", 2, 0x80},
      {"highest two-byte", "\xDF\xBF", 2, 0x7FF},
      {"lowest three-byte", "\xE0\xA0\x80", 3, 0x800},
      {"below the surrogates", "\xED\x9F\xBF", 3, 0xD7FF},
      {"above the surrogates", "\xEE\x80\x80", 3, 0xE000},
      {"highest three-byte", "\xEF\xBF\xBF", 3, 0xFFFF},
      {"lowest four-byte", "\xF0\x90\x80\x80", 4, 0x10000},
      {"highest", "\xF4\x8F\xBF\xBF", 4, 0x10FFFF},
      {"stray continuation", "\x80", 0, 0},
      {"C0 overlong", "\xC0\x80", 0, 0},
      {"C1 overlong", "\xC1\xBF", 0, 0},
      {"three-byte overlong", "\xE0\x9F\xBF", 0, 0},
      {"four-byte overlong", "\xF0\x8F\xBF\xBF", 0, 0},
      {"first surrogate", "\xED\xA0\x80", 0, 0},
      {"last surrogate", "\xED\xBF\xBF", 0, 0},
      {"past U+10FFFF", "\xF4\x90\x80\x80", 0, 0},
      {"F5 lead", "\xF5\x80\x80\x80", 0, 0},
      {"FF", "\xFF", 0, 0},
      {"missing continuation", "\xC3", 0, 0},
      {"ASCII where a continuation belongs", "\xE2\x82" "A", 0, 0},
      {"second continuation missing", "\xF0\x9F\x98", 0, 0},
  };
  for (const TUtf8Case& c : cases) {
    SCOPED_TRACE(c.label);
    uint32_t code_point = 0xDEAD;
    const size_t size = DecodeUtf8Sequence(reinterpret_cast<const unsigned char*>(c.bytes.data()), c.bytes.size(),
                                           &code_point);
    EXPECT_EQ(size, c.size);
    if (c.size != 0) {
      EXPECT_EQ(code_point, c.code_point);
    }
  }
}

// The length given bounds the read: a sequence cut by the end of the text
// is invalid even when more bytes follow in memory.
TEST(Utf8, ReadsNoFurtherThanTheLengthGiven) {
  const unsigned char bytes[] = {0xE2, 0x82, 0xAC};
  uint32_t code_point = 0;
  EXPECT_EQ(DecodeUtf8Sequence(bytes, 2, &code_point), 0u);
  EXPECT_EQ(DecodeUtf8Sequence(bytes, 3, &code_point), 3u);
  EXPECT_EQ(code_point, 0x20ACu);
}

}  // namespace
