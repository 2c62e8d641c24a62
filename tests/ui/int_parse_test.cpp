// The integer parse of the number boxes.

#include <gtest/gtest.h>

#include <optional>
#include <ostream>

#include "ui/int_parse.h"

namespace {

struct TParseCase {
  const char* text;
  std::optional<int32_t> expected;
};

void PrintTo(const TParseCase& c, std::ostream* out) { *out << '"' << c.text << '"'; }

class IntParseTest : public ::testing::TestWithParam<TParseCase> {};

TEST_P(IntParseTest, ReadsWholeNumbersOnly) {
  const TParseCase& c = GetParam();
  EXPECT_EQ(ParseInt32(c.text), c.expected) << "text: [" << c.text << "]";
  EXPECT_EQ(StrToIntDef(QString::fromLatin1(c.text), 0), c.expected.value_or(0)) << "text: [" << c.text << "]";
}

INSTANTIATE_TEST_SUITE_P(
    Table, IntParseTest,
    ::testing::Values(
        // decimal, with sign and leading blanks
        TParseCase{"140", 140}, TParseCase{" 140", 140}, TParseCase{"\t 140", 140}, TParseCase{"-7", -7},
        TParseCase{"+7", 7}, TParseCase{"  -12", -12}, TParseCase{"007", 7}, TParseCase{"0", 0},
        TParseCase{"-0", 0},
        // hexadecimal prefixes, either case of prefix and digits
        TParseCase{"$1F", 31}, TParseCase{"$ff", 255}, TParseCase{"x10", 16}, TParseCase{"X10", 16},
        TParseCase{"0x10", 16}, TParseCase{"0XaB", 171}, TParseCase{"-$10", -16}, TParseCase{" -0x7fffffff", -2147483647},
        // the ends of the 32-bit range, and one past them
        TParseCase{"2147483647", 2147483647}, TParseCase{"-2147483648", INT32_MIN},
        TParseCase{"2147483648", std::nullopt}, TParseCase{"-2147483649", std::nullopt},
        TParseCase{"$7FFFFFFF", 2147483647}, TParseCase{"-$80000000", INT32_MIN},
        TParseCase{"$80000000", std::nullopt}, TParseCase{"$FFFFFFFF", std::nullopt},
        TParseCase{"99999999999999999999", std::nullopt},
        // anything else refused: empty, trailing blanks, stray characters
        TParseCase{"", std::nullopt}, TParseCase{" ", std::nullopt}, TParseCase{"abc", std::nullopt},
        TParseCase{"12x", std::nullopt}, TParseCase{"140 ", std::nullopt}, TParseCase{"1 4", std::nullopt},
        TParseCase{"-", std::nullopt}, TParseCase{"+", std::nullopt}, TParseCase{"$", std::nullopt},
        TParseCase{"0x", std::nullopt}, TParseCase{"x", std::nullopt}, TParseCase{"--1", std::nullopt},
        TParseCase{"+-1", std::nullopt}, TParseCase{"$-1", std::nullopt}, TParseCase{"0x$1", std::nullopt},
        TParseCase{"1.5", std::nullopt}, TParseCase{"1e3", std::nullopt}, TParseCase{"12g", std::nullopt},
        TParseCase{"$1G", std::nullopt}, TParseCase{"\n1", std::nullopt}, TParseCase{"1\n", std::nullopt}));

TEST(IntParseText, NonLatinDigitsAndNulAreNotNumbers) {
  // Arabic-Indic digits and full-width digits are digits to Unicode, not here.
  EXPECT_EQ(StrToIntDef(QString::fromUtf8("\u0661\u0662"), -5), -5);
  EXPECT_EQ(StrToIntDef(QString::fromUtf8("\uFF11"), -5), -5);
  EXPECT_EQ(StrToIntDef(QString::fromLatin1("1\0" "2", 3), -5), -5);
  EXPECT_EQ(StrToIntDef(QStringLiteral("12"), -5), 12);
}

}  // namespace
