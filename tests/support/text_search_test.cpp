#include "support/text_search.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(FindNoCase, FindsLowerCaseNeedlesInAnyCase) {
  const std::string line = "<HTML><Body bgcolor=x>text</BODY></html>";
  EXPECT_EQ(FindNoCase(line.data(), line.size(), "<body"), 6);
  EXPECT_EQ(FindNoCase(line.data(), line.size(), "</body"), 26);
  EXPECT_EQ(FindNoCase(line.data(), line.size(), "</html"), 33);
  EXPECT_EQ(FindNoCase(line.data(), line.size(), "<head"), -1);
  EXPECT_EQ(FindNoCase(line.data(), 5, "<html>"), -1);
  const char with_nul[] = "a\0<BODY>";
  EXPECT_EQ(FindNoCase(with_nul, sizeof with_nul - 1, "<body"), 2);
}

TEST(EndsWithNoCase, NeedsTheSuffixInAnyCaseAndSomethingBeforeIt) {
  struct TCase {
    const char* text;
    size_t length;  // of `text` looked at
    const char* suffix;
    bool ends;
  };
  const TCase cases[] = {
      {"index.html", 10, ".html", true},
      {"INDEX.HTML", 10, ".html", true},
      {"index.htm", 9, ".html", false},
      {".html", 5, ".html", false},         // nothing before the suffix
      {"a.html", 6, ".htm", false},
      {"a.html.bak", 6, ".html", true},     // only the first `length` bytes count
      {"a.htmlx", 7, ".html", false},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(EndsWithNoCase(c.text, c.length, c.suffix), c.ends) << c.text << " " << c.length;
  }
}

}  // namespace
