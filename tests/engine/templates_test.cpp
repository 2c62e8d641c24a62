// Header and footer templates: where they are cut, line pieces, line ends.

#include <gtest/gtest.h>

#include <string>

#include "engine/classic/page_writer.h"
#include "engine/run_helpers.h"
#include "engine/classic/template_reader.h"
#include "fixtures/tree_writer.h"
#include "support/product.h"

namespace {

const std::string kFoot = "<hr>\n<center>Vellumcast: " + std::string(kHomePageAddress) + "\n</center></body></html>\n";
const std::string kCell = "<tr><td><a href=\"i.bmp\"><img src=\"i.bmp\" width=120></a></td>\n</tr></table>\n";

class TemplateTest : public TEngineTest {
 protected:
  void SetUp() override {
    TEngineTest::SetUp();
    ASSERT_TRUE(WriteFileBytes(Path("t/i.bmp"), ""));
  }
  // The page of folder t (depth 0, one BMP cell) with the given templates.
  std::string PageWith(const std::string* header, const std::string* footer) {
    if (header != nullptr) {
      EXPECT_TRUE(WriteFileBytes(Path("head.html"), *header));
    }
    if (footer != nullptr) {
      EXPECT_TRUE(WriteFileBytes(Path("foot.html"), *footer));
    }
    RunIndex(Path("t"), [&](TThreadVellumcast& w) {
      w.options.includefilenames = 0;
      if (header != nullptr) w.options.headertemplate = Path("head.html");
      if (footer != nullptr) w.options.footertemplate = Path("foot.html");
    });
    return Page("t/vellumcast.html");
  }
};

TEST_F(TemplateTest, HeaderIsCutAtTheFirstBodyEndTag) {
  const std::string header = "<HTML><HEAD><TITLE>T</TITLE></HEAD><BODY>banner</Body></html>\nnever\n";
  EXPECT_EQ(PageWith(&header, nullptr),
            Crlf("<HTML><HEAD><TITLE>T</TITLE></HEAD><BODY>banner<Center></Center><table border=1 align=center>" +
                 kCell + kFoot));
}

TEST_F(TemplateTest, BodyEndIsLookedForBeforeHtmlEnd) {
  const std::string header = "<html><head></head><body>\n<p>top</html> and </BODY>\nnever\n";
  const std::string expected = Crlf("<html><head></head><body>\n<p>top</html> and <Center>");
  EXPECT_EQ(PageWith(&header, nullptr).substr(0, expected.size()), expected);
}

TEST_F(TemplateTest, HeaderWithoutEndTagsIsCopiedWhole) {
  const std::string header = "<html><head>\r\n<title>X</title></head>\r\n<body>\r\n";
  EXPECT_EQ(PageWith(&header, nullptr),
            Crlf("<html><head>\n<title>X</title></head>\n<body>\n<Center></Center><table border=1 align=center>" +
                 kCell + kFoot));
}

TEST_F(TemplateTest, LongLinesArriveIn1023BytePieces) {
  // "</body" straddles the end of the first piece, so it is not found there;
  // the later "</html" cuts.
  const std::string header = std::string(1019, 'x') + "</body>\n<p>after</p></html>\n";
  const std::string page = PageWith(&header, nullptr);
  EXPECT_EQ(page.substr(0, 1019 + 4 + 5 + 12),
            std::string(1019, 'x') + "</bo" + "dy>\r\n" + "<p>after</p>");
  EXPECT_EQ(page.substr(1019 + 4 + 5 + 12, 8), "<Center>");
}

TEST_F(TemplateTest, AMissingHeaderTemplateGivesTheBareHeadLine) {
  RunIndex(Path("t"), [&](TThreadVellumcast& w) {
    w.options.includefilenames = 0;
    w.options.headertemplate = Path("missing.html");
  });
  EXPECT_EQ(Page("t/vellumcast.html"),
            Crlf("<html><head><title>Vellumcast</title>\n<Center></Center><table border=1 align=center>" + kCell +
                 kFoot));
}

TEST_F(TemplateTest, FooterStartsAfterTheBodyStartTag) {
  const std::string footer = "<html><head>dropped</head>\n<BODY class=x>kept\n<p>more</p>\n</body></html>\n";
  EXPECT_EQ(PageWith(nullptr, &footer),
            Crlf("<html><head><title>Vellumcast</title>\n</head><body>\n<center><h3>Vellumcast!</h3>\n</center>"
                 "<Center></Center><table border=1 align=center>" +
                 kCell + "kept\n<p>more</p>\n</body></html>\n"));
}

TEST_F(TemplateTest, ABodyTagOverTwoLinesDropsTheRestOfItsFirstLine) {
  const std::string footer = "<html>\n<body\n bgcolor=white>\nfooter text\n</body></html>\n";
  const std::string page = PageWith(nullptr, &footer);
  EXPECT_EQ(page.substr(page.find("</tr></table>")), Crlf("</tr></table>\n bgcolor=white>\nfooter text\n</body></html>\n"));
}

TEST_F(TemplateTest, LaterBodyTagsLoseTheTextUpToTheirEnd) {
  const std::string footer = "<body>one\nx<body y>two\n";
  const std::string page = PageWith(nullptr, &footer);
  EXPECT_EQ(page.substr(page.find("</tr></table>")), Crlf("</tr></table>\none\ntwo\n"));
}

TEST_F(TemplateTest, AFooterWithoutBodyIsWrittenWhole) {
  const std::string footer = "<p>plain</p>\r\n<p>a\rb</p>\n";
  const std::string page = PageWith(nullptr, &footer);
  EXPECT_EQ(page.substr(page.find("</tr></table>")), "</tr></table>\r\n<p>plain</p>\r\n<p>a\rb</p>\r\n");
}

TEST_F(TemplateTest, AMissingFooterTemplateGivesTheDefaultFooter) {
  RunIndex(Path("t"), [&](TThreadVellumcast& w) { w.options.footertemplate = Path("missing.html"); });
  const std::string page = Page("t/vellumcast.html");
  EXPECT_EQ(page.substr(page.size() - Crlf(kFoot).size()), Crlf(kFoot));
}

TEST_F(TemplateTest, TemplatesAreNotOpenedUnlessRegularFiles) {
  ASSERT_EQ(::mkfifo(Path("fifo.html").c_str(), 0600), 0);
  RunIndex(Path("t"), [&](TThreadVellumcast& w) {
    w.options.headertemplate = Path("fifo.html");
    w.options.footertemplate = Path("fifo.html");
  });
  const std::string page = Page("t/vellumcast.html");
  const std::string head = Crlf("<html><head><title>Vellumcast</title>\n<Center>");
  EXPECT_EQ(page.substr(0, head.size()), head);
  EXPECT_EQ(page.substr(page.size() - Crlf(kFoot).size()), Crlf(kFoot));
}

TEST(TemplateReader, PiecesAndLineEnds) {
  TScratchDir dir("vc-template");
  const std::string text = "a\r\nb\rc\n" + std::string(2050, 'y') + "\r\nlast";
  ASSERT_TRUE(WriteFileBytes(dir.Join("t.html"), text));
  TTemplateReader reader(dir.Join("t.html").c_str());
  ASSERT_TRUE(reader.IsOpen());
  std::vector<std::string> pieces;
  const char* data;
  size_t length;
  while (reader.NextLine(&data, &length)) pieces.emplace_back(data, length);
  EXPECT_EQ(pieces, (std::vector<std::string>{"a\n", "b\rc\n", std::string(1023, 'y'), std::string(1023, 'y'),
                                              "yyyy\n", "last"}));
  TTemplateReader missing(dir.Join("none.html").c_str());
  EXPECT_FALSE(missing.IsOpen());
  EXPECT_FALSE(missing.NextLine(&data, &length));
}

}  // namespace
