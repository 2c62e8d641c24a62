// Catalog pages byte for byte, CR LF line ends included.

#include "engine/classic/page_writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/run_helpers.h"
#include "platform/dir_listing.h"
#include "fixtures/image_writers.h"
#include "fixtures/tree_writer.h"
#include "support/product.h"

namespace {

const std::string kFooterText = std::string("Vellumcast: ") + kHomePageAddress;
const std::string kHead = "<html><head><title>Vellumcast</title>\n</head><body>\n<center><h3>Vellumcast!</h3>\n</center>";
const std::string kFoot = "<hr>\n<center>" + kFooterText + "\n</center></body></html>\n";

std::string BackLinkPage(const std::string& target) {
  return "<html><head><title>Back Up</title><META HTTP-EQUIV=\"Refresh\" CONTENT=\"0; URL=" + target +
         "\">\n</head><body><a href=vellumcast.html>vellumcast.html</a></body></html>\n";
}

// A cell of a BMP (never probed): the browser scales it to the cell width.
std::string BmpCell(const std::string& name, bool with_name = false) {
  return "<td><a href=\"" + name + "\"><img src=\"" + name + "\" width=120>" +
         (with_name ? "<br>" + name : std::string()) + "</a></td>\n";
}

class PageWriterTest : public TEngineTest {
 protected:
  void Touch(const std::string& relative) { ASSERT_TRUE(WriteFileBytes(Path(relative), "")); }
  void TouchImages(const std::string& folder, int count, const char* prefix = "i") {
    for (int i = 0; i < count; ++i) Touch(folder + "/" + prefix + std::to_string(i) + ".bmp");
  }
};

TEST_F(PageWriterTest, WorkedExample) {
  ASSERT_TRUE(WriteTestJpeg(Path("pics/trip/b.jpg"), 100, 200));
  ASSERT_TRUE(WriteTestGif(Path("pics/trip/A.gif"), 640, 480));
  ASSERT_TRUE(WriteTestBmp24(Path("pics/trip/c.bmp"), 30, 20));

  const TRunResult run = RunIndex(Path("pics"));

  EXPECT_EQ(Page("pics/trip/vellumcast.html"),
            Crlf(kHead +
                 "<Center><a href=../imageback.html>Up Level</a>\n"
                 "</Center><hr>\n"
                 "<table border=1 align=center><tr><td><a href=\"A.gif\"><img src=\"A.gif\" width=106 height=80><br>A.gif</a></td>\n"
                 "<td><a href=\"b.jpg\"><img src=\"b.jpg\" width=40 height=80><br>b.jpg</a></td>\n"
                 "<td><a href=\"c.bmp\"><img src=\"c.bmp\" width=120><br>c.bmp</a></td>\n"
                 "</tr></table>\n" +
                 kFoot));
  EXPECT_EQ(Page("pics/vellumcast.html"),
            Crlf("<html><head><title>Vellumcast</title>\n"
                 "<META HTTP-EQUIV=\"Refresh\" CONTENT=\"0; URL=trip/vellumcast.html\">\n"
                 "</head><body>\n"
                 "<center><h3>Vellumcast!</h3>\n"
                 "</center><h3>Browser auto-redirection to trip</h3>\n"
                 "<ul>\n"
                 "<li><a href=\"trip/vellumcast.html\">trip</a> 3 images</li>\n"
                 "</ul><hr><Center></Center>" +
                 kFoot));
  EXPECT_EQ(Page("pics/trip/imageback.html"), Crlf(BackLinkPage("vellumcast.html")));
  EXPECT_EQ(Page("pics/imageback.html"), Crlf(BackLinkPage("vellumcast.html")));

  EXPECT_EQ(run.dircount, 1);
  EXPECT_EQ(run.filecount, 3);
  EXPECT_EQ(run.indexcount, 2);
  EXPECT_EQ(run.ProgressMessages(), 4);  // three cells, one subfolder
  ASSERT_FALSE(run.messages.empty());
  EXPECT_EQ(run.messages.back(), WM_INDEX_DONE);

  // One probe-log line per full-image cell, in the current folder.
  EXPECT_EQ(Page("fn.log"), Crlf(Path("pics/trip/A.gif") + "\n" + Path("pics/trip/b.jpg") + "\n" +
                                 Path("pics/trip/c.bmp") + "\n"));
}

TEST_F(PageWriterTest, PaginationWithPreviousAndNext) {
  TouchImages("p", 9);
  const TRunResult run = RunIndex(Path("p"), [](TThreadVellumcast& w) {
    w.options.rowsperpage = 2;
    w.options.includefilenames = 0;
  });
  std::string first_rows = "<tr>";
  for (int i = 0; i < 4; ++i) first_rows += BmpCell("i" + std::to_string(i) + ".bmp");
  first_rows += "</tr><tr>";
  for (int i = 4; i < 8; ++i) first_rows += BmpCell("i" + std::to_string(i) + ".bmp");
  first_rows += "</tr></table>";
  EXPECT_EQ(Page("p/vellumcast.html"),
            Crlf(kHead + "<Center><a href=vellumcast1.html>Next Page</a>\n</Center><hr>\n"
                         "<table border=1 align=center>" + first_rows + kFoot));
  EXPECT_EQ(Page("p/vellumcast1.html"),
            Crlf(kHead + "<Center><a href=vellumcast.html>Previous Page</a>\n</Center><hr>\n"
                         "<table border=1 align=center><tr>" + BmpCell("i8.bmp") + "</tr></table>\n" + kFoot));
  EXPECT_FALSE(Exists("p/vellumcast2.html"));
  EXPECT_EQ(run.filecount, 9);
  EXPECT_EQ(run.indexcount, 1);
}

TEST_F(PageWriterTest, ExactlyFullPagesMakeNoEmptyTrailingPage) {
  TouchImages("p", 8);
  RunIndex(Path("p"), [](TThreadVellumcast& w) { w.options.rowsperpage = 2; });
  const std::string page = Page("p/vellumcast.html");
  EXPECT_EQ(page.find("Next Page"), std::string::npos);
  EXPECT_NE(page.find(Crlf("</tr></table><hr>\n<center>")), std::string::npos);
  EXPECT_FALSE(Exists("p/vellumcast1.html"));
}

TEST_F(PageWriterTest, NoRowLimitPutsEveryImageOnOnePage) {
  for (int rows : {0, -1}) {
    TouchImages("p" + std::to_string(-rows), 9);
    RunIndex(Path("p" + std::to_string(-rows)), [rows](TThreadVellumcast& w) { w.options.rowsperpage = rows; });
    const std::string page = Page("p" + std::to_string(-rows) + "/vellumcast.html");
    EXPECT_NE(page.find(Crlf(BmpCell("i8.bmp", true) + "</tr></table>\n<hr>")), std::string::npos) << rows;
    EXPECT_EQ(page.find("Page</a>"), std::string::npos) << rows;
    EXPECT_FALSE(Exists("p" + std::to_string(-rows) + "/vellumcast1.html")) << rows;
  }
}

// Counts below one, as a hand-edited setting may give them, down to the
// lowest 32-bit value: every cell is a row of its own, as with one per row.
TEST_F(PageWriterTest, CellsPerRowBelowOneGivesOneCellPerRow) {
  TouchImages("one", 3);
  RunIndex(Path("one"), [](TThreadVellumcast& w) { w.options.cellsperrow = 1; });
  const std::string expected = Page("one/vellumcast.html");
  ASSERT_NE(expected.find(Crlf("</tr><tr><td><a href=\"i2.bmp\">")), std::string::npos);
  for (const int32_t cells : {0, -1, INT32_MIN}) {
    const std::string folder = "c" + std::to_string(static_cast<int64_t>(cells) * -1);
    TouchImages(folder, 3);
    RunIndex(Path(folder), [cells](TThreadVellumcast& w) { w.options.cellsperrow = cells; });
    EXPECT_EQ(Page(folder + "/vellumcast.html"), expected) << cells;
  }
}

TEST_F(PageWriterTest, ImagesSortInByteOrder) {
  for (const char* name : {"b.gif", "a.gif", "A.gif"}) Touch(std::string("o/") + name);
  RunIndex(Path("o"));
  const std::string page = Page("o/vellumcast.html");
  const size_t upper = page.find("\"A.gif\"");
  const size_t lower = page.find("\"a.gif\"");
  const size_t b = page.find("\"b.gif\"");
  ASSERT_NE(upper, std::string::npos);
  EXPECT_LT(upper, lower);
  EXPECT_LT(lower, b);
}

TEST_F(PageWriterTest, RedirectChainAndBackLinkPages) {
  TouchImages("root/a/b", 2);
  const TRunResult run = RunIndex(Path("root"), [](TThreadVellumcast& w) { w.options.includefilenames = 0; });
  EXPECT_EQ(Page("root/a/vellumcast.html"),
            Crlf("<html><head><title>Vellumcast</title>\n"
                 "<META HTTP-EQUIV=\"Refresh\" CONTENT=\"0; URL=b/vellumcast.html\">\n"
                 "</head><body>\n"
                 "<center><h3>Vellumcast!</h3>\n"
                 "</center><h3>Browser auto-redirection to b</h3>\n"
                 "<a href=../imageback.html>Up Level</a><br>\n"
                 "<ul>\n"
                 "<li><a href=\"b/vellumcast.html\">b</a> 2 images</li>\n"
                 "</ul><hr><Center></Center>" +
                 kFoot));
  EXPECT_NE(Page("root/vellumcast.html").find("URL=a/vellumcast.html"), std::string::npos);
  // An Up Level into the pass-through folder a passes on to its parent at once.
  EXPECT_EQ(Page("root/a/imageback.html"), Crlf(BackLinkPage("../imageback.html")));
  EXPECT_EQ(Page("root/imageback.html"), Crlf(BackLinkPage("vellumcast.html")));
  EXPECT_EQ(Page("root/a/b/imageback.html"), Crlf(BackLinkPage("vellumcast.html")));
  EXPECT_EQ(run.dircount, 2);
  EXPECT_EQ(run.indexcount, 3);
  EXPECT_EQ(run.filecount, 2);
}

TEST_F(PageWriterTest, ImagesBesideOneSubfolderMeanNoRedirect) {
  TouchImages("r/sub", 1);
  TouchImages("r", 1, "own");
  RunIndex(Path("r"));
  const std::string page = Page("r/vellumcast.html");
  EXPECT_EQ(page.find("Refresh"), std::string::npos);
  EXPECT_EQ(page.find("auto-redirection"), std::string::npos);
  // One image: 1 images (there is no singular form).
  EXPECT_NE(page.find(Crlf("<li><a href=\"sub/vellumcast.html\">sub</a> 1 images</li>\n")), std::string::npos);
}

TEST_F(PageWriterTest, HierarchyListInBothSortOrders) {
  TouchImages("s/x", 5);
  TouchImages("s/B", 12);
  TouchImages("s/a", 12);
  TouchImages("s/z", 20);
  TouchImages("s", 1, "own");
  struct TCase {
    int sort;
    const char* order;
  };
  for (const TCase& c : {TCase{1, "z a B x"}, TCase{0, "a B x z"}}) {
    RunIndex(Path("s"), [&c](TThreadVellumcast& w) { w.options.sort = c.sort; });
    const std::string page = Page("s/vellumcast.html");
    std::string order;
    for (size_t at = page.find("<li><a href=\""); at != std::string::npos; at = page.find("<li><a href=\"", at + 1)) {
      if (!order.empty()) order += ' ';
      order += page.substr(at + 13, page.find('/', at + 13) - at - 13);
    }
    EXPECT_EQ(order, c.order) << "sort " << c.sort;
  }
  EXPECT_NE(Page("s/vellumcast.html").find(Crlf("<li><a href=\"z/vellumcast.html\">z</a> 20 images</li>\n")),
            std::string::npos);
}

TEST_F(PageWriterTest, DirFirstPageOnlyKeepsTheListOnPageZero) {
  TouchImages("t/d/sub", 1);
  TouchImages("t/d", 5);
  for (int first_only : {1, 0}) {
    RunIndex(Path("t"), [first_only](TThreadVellumcast& w) {
      w.options.cellsperrow = 2;
      w.options.rowsperpage = 1;
      w.options.dirfirstpageonly = first_only;
      w.options.includefilenames = 0;
    });
    const std::string list = Crlf("<a href=../imageback.html>Up Level</a><br>\n<ul>\n"
                                  "<li><a href=\"sub/vellumcast.html\">sub</a> 1 images</li>\n</ul><hr>");
    const std::string page0 = Page("t/d/vellumcast.html");
    const std::string page1 = Page("t/d/vellumcast1.html");
    EXPECT_NE(page0.find(list + Crlf("<Center><a href=../imageback.html>Up Level</a>\n"
                                     "<a href=vellumcast1.html>Next Page</a>\n</Center><hr>\n")),
              std::string::npos);
    EXPECT_EQ(page1.find("<ul>") == std::string::npos, first_only == 1);
    EXPECT_NE(page1.find(Crlf("<Center><a href=../imageback.html>Up Level</a>\n"
                              "<a href=vellumcast.html>Previous Page</a>\n"
                              "<a href=vellumcast2.html>Next Page</a>\n</Center><hr>\n")),
              std::string::npos);
  }
}

TEST_F(PageWriterTest, UpLevelStandsOnceOnAOnePageFolderWithSubfolders) {
  TouchImages("u/d/sub", 1);
  TouchImages("u/d", 2);
  RunIndex(Path("u"), [](TThreadVellumcast& w) { w.options.includefilenames = 0; });
  EXPECT_EQ(Page("u/d/vellumcast.html"),
            Crlf(kHead +
                 "<a href=../imageback.html>Up Level</a><br>\n<ul>\n"
                 "<li><a href=\"sub/vellumcast.html\">sub</a> 1 images</li>\n"
                 "</ul><hr><Center></Center><table border=1 align=center><tr>" +
                 BmpCell("i0.bmp") + BmpCell("i1.bmp") + "</tr></table>\n" + kFoot));
}

TEST_F(PageWriterTest, HierarchyAndBackLinksOff) {
  TouchImages("h/withimages/sub", 1);
  TouchImages("h/withimages", 1);
  TouchImages("h/noimages/sub", 1);
  const TRunResult run = RunIndex(Path("h"), [](TThreadVellumcast& w) {
    w.options.hlinks = 0;
    w.options.blinks = 0;
  });
  const std::string page = Page("h/withimages/vellumcast.html");
  EXPECT_EQ(page.find("<ul>"), std::string::npos);
  EXPECT_EQ(page.find("Up Level"), std::string::npos);
  EXPECT_FALSE(Exists("h/noimages/vellumcast.html"));
  EXPECT_FALSE(Exists("h/vellumcast.html"));
  EXPECT_FALSE(Exists("h/withimages/imageback.html"));
  EXPECT_FALSE(Exists("h/noimages/imageback.html"));
  EXPECT_EQ(run.indexcount, 3);  // withimages, withimages/sub, noimages/sub
}

TEST_F(PageWriterTest, DefaultHeadAndFootFollowTheirOptions) {
  TouchImages("c", 1);
  RunIndex(Path("c"), [](TThreadVellumcast& w) {
    w.options.title = "";
    w.options.footertext = "";
    w.options.centernavbar = 0;
    w.options.centertable = 0;
    w.options.includefilenames = 0;
  });
  EXPECT_EQ(Page("c/vellumcast.html"),
            Crlf("<html><head><title>Vellumcast</title>\n</head><body>\n<table border=1><tr>" +
                 BmpCell("i0.bmp") + "</tr></table>\n</body></html>\n"));
  RunIndex(Path("c"), [](TThreadVellumcast& w) {
    w.options.title = "<i>Mine &amp; yours</i>";
    w.options.footertext = "<b>foot</b>";
    w.options.centertitle = 0;
    w.options.centerfooter = 0;
  });
  const std::string page = Page("c/vellumcast.html");
  EXPECT_NE(page.find(Crlf("</head><body>\n<h3><i>Mine &amp; yours</i></h3>\n<Center>")), std::string::npos);
  EXPECT_NE(page.find(Crlf("<hr>\n<b>foot</b>\n</body></html>\n")), std::string::npos);
}

TEST_F(PageWriterTest, NamesAreEscapedInUrlsAndText) {
  for (const char* name : {"my photo.bmp", "a&b<c>.bmp", "q?#%\".bmp", "\xC3\xA9t\xC3\xA9.bmp", " lead.bmp",
                           "tab\tname.bmp"}) {
    Touch(std::string("e/R&D <1>/") + name);
  }
  RunIndex(Path("e"));
  const std::string page = Page("e/R&D <1>/vellumcast.html");
  EXPECT_NE(page.find(Crlf(BmpCell("my photo.bmp", true))), std::string::npos);
  EXPECT_NE(page.find("<td><a href=\"a&amp;b<c>.bmp\"><img src=\"a&amp;b<c>.bmp\" width=120><br>a&amp;b&lt;c&gt;.bmp</a></td>"),
            std::string::npos);
  EXPECT_NE(page.find("<td><a href=\"q%3F%23%25%22.bmp\"><img src=\"q%3F%23%25%22.bmp\" width=120><br>q?#%\".bmp</a>"),
            std::string::npos);
  EXPECT_NE(page.find("<a href=\"%C3%A9t%C3%A9.bmp\"><img src=\"%C3%A9t%C3%A9.bmp\" width=120><br>&#233;t&#233;.bmp"),
            std::string::npos);
  EXPECT_NE(page.find("<a href=\"%20lead.bmp\"><img src=\"%20lead.bmp\" width=120><br> lead.bmp"), std::string::npos);
  EXPECT_NE(page.find("<a href=\"tab%09name.bmp\">"), std::string::npos);

  const std::string top = Page("e/vellumcast.html");
  EXPECT_NE(top.find("URL=R&amp;D <1>/vellumcast.html\">"), std::string::npos);
  EXPECT_NE(top.find("<h3>Browser auto-redirection to R&amp;D &lt;1&gt;</h3>"), std::string::npos);
  EXPECT_NE(top.find("<li><a href=\"R&amp;D <1>/vellumcast.html\">R&amp;D &lt;1&gt;</a> 6 images</li>"),
            std::string::npos);
}

bool IsPureAscii(const std::string& text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

// Names a browser would misread: a scheme-like name must stay a relative
// link (its colon encoded) in every URL position, the refresh URL included;
// names beyond ASCII keep their exact bytes in URLs and become character
// references in text, so the pages are pure ASCII.
TEST_F(PageWriterTest, SchemeLikeAndNonAsciiNamesStayRelativeLinksAndPagesStayAscii) {
  Touch("h/javascript:alert(3)/javascript:alert(3).bmp");
  Touch("h/javascript:alert(3)/a:b.bmp");
  Touch("h/javascript:alert(3)/caf\xC3\xA9.bmp");
  Touch("h/javascript:alert(3)/caf\xE9.bmp");  // Latin-1, not UTF-8
  Touch("h/javascript:alert(3)/sub\xC3\xA9/x.bmp");
  RunIndex(Path("h"), [](TThreadVellumcast& w) {
    w.options.title = "<i>Caf\xC3\xA9 \xE2\x82\xAC" "5</i>";
    w.options.footertext = "<b>\xFF</b>";
  });

  const std::string top = Page("h/vellumcast.html");
  EXPECT_NE(top.find("URL=javascript%3Aalert(3)/vellumcast.html\">"), std::string::npos) << top;
  EXPECT_NE(top.find("<li><a href=\"javascript%3Aalert(3)/vellumcast.html\">javascript:alert(3)</a> 5 images</li>"),
            std::string::npos);
  EXPECT_NE(top.find("<h3><i>Caf&#233; &#8364;5</i></h3>"), std::string::npos);
  EXPECT_NE(top.find("<b>&#65533;</b>"), std::string::npos);

  const std::string page = Page("h/javascript:alert(3)/vellumcast.html");
  EXPECT_NE(page.find("<td><a href=\"javascript%3Aalert(3).bmp\"><img src=\"javascript%3Aalert(3).bmp\" width=120>"
                      "<br>javascript:alert(3).bmp</a></td>"),
            std::string::npos)
      << page;
  EXPECT_NE(page.find("<a href=\"a%3Ab.bmp\"><img src=\"a%3Ab.bmp\" width=120><br>a:b.bmp</a>"), std::string::npos);
  EXPECT_NE(page.find("<a href=\"caf%C3%A9.bmp\"><img src=\"caf%C3%A9.bmp\" width=120><br>caf&#233;.bmp</a>"),
            std::string::npos);
  EXPECT_NE(page.find("<a href=\"caf%E9.bmp\"><img src=\"caf%E9.bmp\" width=120><br>caf&#65533;.bmp</a>"),
            std::string::npos);
  EXPECT_NE(page.find("<li><a href=\"sub%C3%A9/vellumcast.html\">sub&#233;</a> 1 images</li>"), std::string::npos);
  EXPECT_EQ(page.find("javascript:alert(3).bmp\""), std::string::npos);  // never a URL with the colon

  for (const char* written : {"h/vellumcast.html", "h/imageback.html", "h/javascript:alert(3)/vellumcast.html",
                              "h/javascript:alert(3)/imageback.html",
                              "h/javascript:alert(3)/sub\xC3\xA9/vellumcast.html"}) {
    SCOPED_TRACE(written);
    const std::string text = Page(written);
    EXPECT_FALSE(text.empty());
    EXPECT_TRUE(IsPureAscii(text));
  }
}

TEST_F(PageWriterTest, NothingOfAnEarlierRunIsDeleted) {
  TouchImages("k", 1);
  Touch("k/vellumcast7.html");
  Touch("k/quarto_tn/quarto_tn9.jpg");
  RunIndex(Path("k"));
  EXPECT_TRUE(Exists("k/vellumcast7.html"));
  EXPECT_TRUE(Exists("k/quarto_tn/quarto_tn9.jpg"));
  EXPECT_TRUE(Exists("k/vellumcast.html"));
}

TEST_F(PageWriterTest, APageNameThatIsALinkIsNeitherWrittenThroughNorReplaced) {
  ASSERT_TRUE(WriteFileBytes(Path("outside.txt"), "keep me"));
  TouchImages("l", 1);
  TouchImages("m", 1);
  ASSERT_EQ(::symlink(Path("outside.txt").c_str(), Path("l/vellumcast.html").c_str()), 0);
  ASSERT_EQ(::symlink(Path("outside.txt").c_str(), Path("m/imageback.html").c_str()), 0);

  const TRunResult first_page = RunIndex(Path("l"));
  EXPECT_EQ(first_page.indexcount, 0);  // its first page was not written
  EXPECT_EQ(first_page.failures, 1);
  EXPECT_EQ(first_page.failure_lines,
            std::vector<std::string>{"cannot write " + Path("l/vellumcast.html") +
                                     ": a symbolic link stands in its place"});
  EXPECT_FALSE(Exists("l/imageback.html"));  // the folder ends at its failed page

  const TRunResult back_link = RunIndex(Path("m"));
  EXPECT_EQ(back_link.indexcount, 1);
  EXPECT_EQ(back_link.failures, 1);
  EXPECT_NE(Page("m/vellumcast.html").find("<table"), std::string::npos);

  EXPECT_EQ(Page("outside.txt"), "keep me");
  for (const char* link : {"l/vellumcast.html", "m/imageback.html"}) {
    struct stat info;
    ASSERT_EQ(::lstat(Path(link).c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode)) << link;
  }
}

TEST_F(PageWriterTest, APageThatCannotBeWrittenEndsTheFolderAndLeavesNoTemporaryFile) {
  TouchImages("f", 1);
  ASSERT_TRUE(MakeDirs(Path("f/vellumcast.html")));  // a folder where the page goes
  const TRunResult run = RunIndex(Path("f"));
  EXPECT_FALSE(Exists("f/imageback.html"));
  EXPECT_EQ(run.indexcount, 0);  // no catalog: its first page is not there
  ASSERT_EQ(run.failure_lines.size(), 1u);
  EXPECT_EQ(run.failure_lines[0], "cannot write " + Path("f/vellumcast.html") + ": Is a directory");
  TDirListing listing(Path("f").c_str(), "*tmp*");
  EXPECT_FALSE(listing.Next()) << listing.Name();
}

TEST_F(PageWriterTest, WithThumbnailsTheCellPointsAtTheThumbnail) {
  ASSERT_TRUE(WriteTestGif(Path("th/A.gif"), 64, 48));
  ASSERT_TRUE(WriteTestBmp24(Path("th/c.bmp"), 40, 30));
  ASSERT_TRUE(WriteFileBytes(Path("th/broken.jpg"), "not a jpeg"));
  RunIndex(Path("th"), [](TThreadVellumcast& w) { w.options.createthumbs = 1; });
  const std::string page = Page("th/vellumcast.html");
  EXPECT_NE(page.find("<td><a href=\"A.gif\"><img src=quarto_tn/quarto_tn0.jpg width=120 height=80><br>A.gif</a></td>"),
            std::string::npos);
  // An image that cannot be decoded falls back to the full image.
  EXPECT_NE(page.find("<td><a href=\"broken.jpg\"><img src=\"broken.jpg\" width=120><br>broken.jpg</a></td>"),
            std::string::npos);
  EXPECT_NE(page.find("<img src=quarto_tn/quarto_tn2.jpg width=120 height=80><br>c.bmp"), std::string::npos);
  EXPECT_TRUE(Exists("th/quarto_tn/quarto_tn0.jpg"));
  EXPECT_TRUE(Exists("th/quarto_tn/quarto_tn2.jpg"));
}

TEST(PageFileName, NamesPagesFromZero) {
  char out[64];
  ASSERT_TRUE(PageFileName(out, sizeof out, nullptr, 0));
  EXPECT_STREQ(out, "vellumcast.html");
  ASSERT_TRUE(PageFileName(out, sizeof out, nullptr, 12));
  EXPECT_STREQ(out, "vellumcast12.html");
  ASSERT_TRUE(PageFileName(out, sizeof out, "pics/", 1));
  EXPECT_STREQ(out, "pics/vellumcast1.html");
  ASSERT_TRUE(PageFileName(out, sizeof out, "pics", 0));
  EXPECT_STREQ(out, "pics/vellumcast.html");
  EXPECT_FALSE(PageFileName(out, 10, "pics", 0));
}

}  // namespace
