// Captions and album texts in Markdown: what reaches the page, and what never does.

#include "engine/modern/markdown.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(MarkdownTest, RendersCommonMark) {
  EXPECT_EQ(MarkdownToHtml("Tram *28* to **Gra\xC3\xA7" "a**"), "<p>Tram <em>28</em> to <strong>Gra\xC3\xA7" "a</strong></p>\n");
  EXPECT_EQ(MarkdownToHtml("[map](https://example.org/?a=1&b=2)"),
            "<p><a href=\"https://example.org/?a=1&amp;b=2\">map</a></p>\n");
  EXPECT_EQ(MarkdownToHtml(""), "");
  EXPECT_EQ(MarkdownToHtml(" \n\t\n"), "");
}

TEST(MarkdownTest, NothingThatRunsReachesThePage) {
  const char* hostile[] = {
      "<script>alert(1)</script>",
      "text <img src=x onerror=alert(1)> more",
      "[click](javascript:alert(1))",
      "[click](JAVASCRIPT:alert(1))",
      "[click](vbscript:msgbox)",
      "![x](javascript:alert(1))",
      "<a href=\"javascript:alert(1)\">x</a>",
      "[x](data:text/html;base64,PHNjcmlwdD4=)",
  };
  for (const char* text : hostile) {
    SCOPED_TRACE(text);
    const std::string html = MarkdownToHtml(text);
    EXPECT_EQ(html.find("<script"), std::string::npos);
    EXPECT_EQ(html.find("<img src=x"), std::string::npos);
    EXPECT_EQ(html.find("javascript:"), std::string::npos);
    EXPECT_EQ(html.find("JAVASCRIPT:"), std::string::npos);
    EXPECT_EQ(html.find("vbscript:"), std::string::npos);
    EXPECT_EQ(html.find("data:text"), std::string::npos);
  }
}

TEST(MarkdownTest, FirstLineIsPlainText) {
  struct TCase {
    const char* markdown;
    const char* line;
  } cases[] = {
      {"Tram *28* climbing\nto Gra\xC3\xA7" "a", "Tram 28 climbing"},
      {"# Lisbon\n\nBody", "Lisbon"},
      {"\n\n  `code` and [a link](https://x.org)  \n", "code and a link"},
      {"<b>raw</b> words", "raw words"},
      {"", ""},
      {"---\n", ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.markdown);
    EXPECT_EQ(MarkdownFirstLine(c.markdown), c.line);
  }
}

}  // namespace
