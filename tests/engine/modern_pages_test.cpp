// The modern style's folder pages and viewer pages: document structure,
// pagination, links between pages, names in text and URL positions,
// templates, covers, and images that cannot be decoded.

#include "engine/modern/page_writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>

#include <string>
#include <vector>

#include "engine/store/generated_names.h"
#include "engine/modern/html.h"
#include "engine/modern/page_parts.h"
#include "engine/run_helpers.h"
#include "fixtures/exif_writer.h"
#include "fixtures/image_writers.h"
#include "fixtures/jpeg_fixtures.h"
#include "fixtures/tree_writer.h"

namespace {

std::string WithoutCr(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c != '\r') out += c;
  }
  return out;
}

int Count(const std::string& text, const std::string& needle) {
  int n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

#define EXPECT_HAS(text, needle) EXPECT_NE((text).find(needle), std::string::npos) << "missing: " << (needle) << "\nin:\n" << (text)
#define EXPECT_LACKS(text, needle) EXPECT_EQ((text).find(needle), std::string::npos) << "present: " << (needle) << "\nin:\n" << (text)

class ModernPagesTest : public TEngineTest {
 protected:
  std::string Modern(const std::string& relative) const { return WithoutCr(Page(relative)); }
  std::string Viewer(const std::string& folder, const std::string& image) const {
    return Modern(folder + "/" + ViewerPageName(image.c_str()));
  }
  static void Style(TThreadVellumcast& worker) {
    worker.options.style = kStyleModern;
    worker.options.title = "My <Photos>";
  }
};

TEST(ModernHtmlTest, TextIsEscapedValidUtf8) {
  struct TCase {
    const char* in;
    const char* out;
  };
  const TCase cases[] = {
      {"plain name.jpg", "plain name.jpg"},
      {"a&b<c>\"d'", "a&amp;b&lt;c&gt;&quot;d'"},
      {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x93\xB7", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x93\xB7"},
      {"bad\xE9x", "bad\xEF\xBF\xBDx"},                  // Latin-1 byte
      {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},          // overlong '/'
      {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // surrogate
      {"cut\xE2\x82", "cut\xEF\xBF\xBD\xEF\xBF\xBD"},    // sequence cut short
  };
  for (const TCase& c : cases) {
    std::string out;
    AppendModernText(out, c.in);
    EXPECT_EQ(out, c.out) << c.in;
  }
}

TEST(ModernHtmlTest, UrlSegmentsArePercentEncoded) {
  struct TCase {
    const char* in;
    const char* out;
  };
  const TCase cases[] = {
      {"photo-1_a.JPG", "photo-1_a.JPG"},
      {"my photo.jpg", "my%20photo.jpg"},
      {"a&b.jpg", "a%26b.jpg"},
      {"c:d.jpg", "c%3Ad.jpg"},
      {"javascript:x", "javascript%3Ax"},
      {"q?#%.jpg", "q%3F%23%25.jpg"},
      {"a/b\\c\"<>'.jpg", "a%2Fb%5Cc%22%3C%3E%27.jpg"},
      {"caf\xC3\xA9.jpg", "caf%C3%A9.jpg"},
      {"..", "%2E%2E"},
  };
  for (const TCase& c : cases) {
    std::string out;
    AppendModernUrl(out, c.in);
    EXPECT_EQ(out, c.out) << c.in;
  }
  std::string path;
  AppendModernUrlPath(path, "my dir/quarto_tn/vc-1.jpg");
  EXPECT_EQ(path, "my%20dir/quarto_tn/vc-1.jpg");
}

TEST_F(ModernPagesTest, FolderPageStructure) {
  ASSERT_TRUE(WriteTestJpeg(Path("pics/trip/b.jpg"), 400, 300));
  ASSERT_TRUE(WriteTestGif(Path("pics/trip/A.gif"), 64, 48));
  ASSERT_TRUE(WriteTestJpeg(Path("pics/one/x.jpg"), 300, 200));
  const TRunResult run = RunIndex(Path("pics"), Style);
  EXPECT_EQ(run.filecount, 3);
  EXPECT_EQ(run.indexcount, 3);

  const std::string trip = Modern("pics/trip/vellumcast.html");
  EXPECT_EQ(trip.rfind("<!doctype html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n", 0), 0u);
  EXPECT_HAS(trip, "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">");
  EXPECT_HAS(trip, kGeneratorMarker);
  EXPECT_HAS(trip, "<title>trip \xE2\x80\x93 My &lt;Photos&gt;</title>");
  EXPECT_HAS(trip, "<p class=\"vc-site\">My &lt;Photos&gt;</p>");
  EXPECT_HAS(trip, "<li><a href=\"../vellumcast.html\">pics</a></li>\n<li aria-current=\"page\">trip</li>");
  for (const char* landmark : {"<header", "<nav", "<main", "<footer"}) EXPECT_HAS(trip, landmark);
  EXPECT_HAS(trip, "prefers-color-scheme:dark");
  EXPECT_HAS(trip, ":focus-visible");
  EXPECT_GT(trip.find("http"), trip.find("<footer"));  // nothing fetched: the footer text is the only address
  // Byte order of names: A.gif before b.jpg; each cell links to its viewer page.
  const size_t a = trip.find(ViewerPageName("A.gif"));
  const size_t b = trip.find(ViewerPageName("b.jpg"));
  ASSERT_NE(a, std::string::npos);
  ASSERT_NE(b, std::string::npos);
  EXPECT_LT(a, b);
  char stem[32];
  NamedImageStem("b.jpg", stem, sizeof stem);
  const std::string s = stem;
  // A 400 x 300 photo fitted into the 120 x 80 cell: about 107 x 80.
  const std::string cell = "<img src=\"quarto_tn/" + s + "-1x.jpg\" srcset=\"quarto_tn/" + s +
                           "-1x.jpg 1x, quarto_tn/" + s + "-2x.jpg 2x\" width=\"10";
  EXPECT_HAS(trip, cell);
  EXPECT_HAS(trip.substr(trip.find(cell)), "\" height=\"80\" alt=\"b.jpg\" loading=\"lazy\" decoding=\"async\">");
  EXPECT_TRUE(Exists("pics/trip/quarto_tn/" + s + "-1x.jpg"));
  EXPECT_LACKS(trip, "Page 1 of");  // one page: no pager
  EXPECT_LACKS(trip, "Folders");

  // The top page: cards with covers from the subfolders and their counts.
  const std::string top = Modern("pics/vellumcast.html");
  NamedImageStem("A.gif", stem, sizeof stem);
  EXPECT_HAS(top, "<li><a href=\"trip/vellumcast.html\"><img src=\"trip/quarto_tn/" + std::string(stem) +
                      "-1x.jpg\" alt=\"\"");
  EXPECT_HAS(top, "<span class=\"vc-name\">trip</span><span class=\"vc-count\">2 images</span>");
  EXPECT_HAS(top, "<span class=\"vc-name\">one</span><span class=\"vc-count\">1 image</span>");
  EXPECT_LT(top.find("vc-name\">trip"), top.find("vc-name\">one"));  // sort 1: larger total first
  EXPECT_HAS(top, "<li aria-current=\"page\">pics</li>");
  EXPECT_LACKS(top, "<ul class=\"vc-grid\">");
  // Back-link pages lead to the first page as in the classic style.
  EXPECT_HAS(Modern("pics/trip/imageback.html"), "<meta http-equiv=\"refresh\" content=\"0; url=vellumcast.html\">");
}

TEST_F(ModernPagesTest, PagesAndViewerChain) {
  std::vector<std::string> names;
  for (int i = 0; i < 9; ++i) {
    names.push_back("p" + std::to_string(i) + ".bmp");
    ASSERT_TRUE(WriteTestBmp24(Path("top/" + names.back()), 40, 30));
  }
  RunIndex(Path("top"), [](TThreadVellumcast& w) {
    Style(w);
    w.options.rowsperpage = 2;
    w.options.cellsperrow = 4;
  });
  const std::string first = Modern("top/vellumcast.html");
  const std::string second = Modern("top/vellumcast1.html");
  EXPECT_FALSE(Exists("top/vellumcast2.html"));
  EXPECT_EQ(Count(first, "<span>Page 1 of 2</span>"), 2);  // top and bottom
  EXPECT_EQ(Count(first, "<a rel=\"next\" href=\"vellumcast1.html\">Next</a>"), 2);
  EXPECT_LACKS(first, "Previous");
  EXPECT_EQ(Count(first, "<li><a href=\"vellumcast-view-"), 8);
  EXPECT_EQ(Count(second, "<a rel=\"prev\" href=\"vellumcast.html\">Previous</a>"), 2);
  EXPECT_EQ(Count(second, "<li><a href=\"vellumcast-view-"), 1);
  EXPECT_HAS(second, "<title>top, page 2 of 2 \xE2\x80\x93 My &lt;Photos&gt;</title>");

  for (size_t i = 0; i < names.size(); ++i) {
    const std::string viewer = Viewer("top", names[i]);
    EXPECT_HAS(viewer, std::string("<a id=\"vc-back\" href=\"") + (i < 8 ? "vellumcast.html" : "vellumcast1.html"));
    EXPECT_HAS(viewer, "<span>" + std::to_string(i + 1) + " of 9</span>");
    if (i > 0) {
      EXPECT_HAS(viewer, "<a id=\"vc-prev\" rel=\"prev\" href=\"" + ViewerPageName(names[i - 1].c_str()) + "\">");
    } else {
      EXPECT_LACKS(viewer, "vc-prev\" rel");
    }
    if (i + 1 < names.size()) {
      EXPECT_HAS(viewer, "<a id=\"vc-next\" rel=\"next\" href=\"" + ViewerPageName(names[i + 1].c_str()) + "\">");
    } else {
      EXPECT_LACKS(viewer, "vc-next\" rel");
    }
    EXPECT_HAS(viewer, "<a href=\"" + names[i] + "\">Original file</a>");
    EXPECT_HAS(viewer, "<dt>Size</dt><dd>40 \xC3\x97 30 pixels</dd>");
    EXPECT_HAS(viewer, "ArrowLeft");
  }
}

TEST_F(ModernPagesTest, NamesInTextAndUrlPositions) {
  const std::string odd = "a&b \"c\" <d> caf\xC3\xA9 x:y #1?.bmp";
  const std::string bad = "bad\xE9.bmp";
  ASSERT_TRUE(WriteTestBmp24(Path("top/" + odd), 20, 20));
  ASSERT_TRUE(WriteTestBmp24(Path("top/" + bad), 20, 20));
  ASSERT_TRUE(WriteTestBmp24(Path("top/R&D 2024/z.bmp"), 20, 20));
  RunIndex(Path("top"), Style);
  const std::string top = Modern("top/vellumcast.html");
  EXPECT_HAS(top, "alt=\"a&amp;b &quot;c&quot; &lt;d&gt; caf\xC3\xA9 x:y #1?.bmp\"");
  EXPECT_HAS(top, "alt=\"bad\xEF\xBF\xBD.bmp\"");
  EXPECT_HAS(top, "<a href=\"R%26D%202024/vellumcast.html\">");
  EXPECT_HAS(top, "<img src=\"R%26D%202024/quarto_tn/");
  EXPECT_HAS(top, "<span class=\"vc-name\">R&amp;D 2024</span>");
  const std::string viewer = Viewer("top", odd);
  EXPECT_HAS(viewer, "<a href=\"a%26b%20%22c%22%20%3Cd%3E%20caf%C3%A9%20x%3Ay%20%231%3F.bmp\">Original file</a>");
  EXPECT_HAS(Viewer("top", bad), "<h1>bad\xEF\xBF\xBD.bmp</h1>");
  EXPECT_HAS(Viewer("top", bad), "<a href=\"bad%E9.bmp\">Original file</a>");
  EXPECT_HAS(Modern("top/R&D 2024/vellumcast.html"), "<li aria-current=\"page\">R&amp;D 2024</li>");
}

TEST_F(ModernPagesTest, ViewerShowsTheExifFactsAndTheUprightSize) {
  TTestExif exif;
  exif.orientation = 6;  // stored on its side: shown 300 x 400
  exif.make = "Korvane";
  exif.model = "Korvane K1";
  exif.date_original = "2024:05:01 14:03:22";
  exif.exposure_time = {1, 250};
  exif.f_number = {28, 10};
  exif.iso = 100;
  const std::vector<uint8_t> jpeg =
      InsertApp1(EncodeJpeg(StoredForOrientation(MakeGradientImage(300, 400), 6)), MakeExifBlock(exif));
  ASSERT_TRUE(MakeDirs(Path("top")));
  ASSERT_TRUE(WriteBytesFile(Path("top/portrait.jpg"), jpeg));
  RunIndex(Path("top"), Style);
  const std::string viewer = Viewer("top", "portrait.jpg");
  EXPECT_HAS(viewer, "<dt>Size</dt><dd>300 \xC3\x97 400 pixels</dd>");
  EXPECT_HAS(viewer, "<dt>Taken</dt><dd>2024-05-01 14:03:22</dd>");
  EXPECT_HAS(viewer, "<dt>Camera</dt><dd>Korvane K1</dd>");
  EXPECT_HAS(viewer, "<dt>Exposure</dt><dd>1/250 s, f/2.8, ISO 100</dd>");
  // Turned by its orientation: the viewer shows the upright web copy.
  char stem[32];
  NamedImageStem("portrait.jpg", stem, sizeof stem);
  EXPECT_HAS(viewer, "<img src=\"quarto_tn/" + std::string(stem) + "-web.jpg\" alt=\"portrait.jpg\" width=\"300\" height=\"400\">");
  EXPECT_HAS(Modern("top/vellumcast.html"), "width=\"60\" height=\"80\" alt=\"portrait.jpg\"");
}

TEST_F(ModernPagesTest, UndecodableImageShowsTheOriginal) {
  ASSERT_TRUE(WriteFileBytes(Path("top/broken.jpg"), "not a JPEG at all"));
  ASSERT_TRUE(WriteFileBytes(Path("top/empty.bmp"), ""));
  const TRunResult run = RunIndex(Path("top"), Style);
  EXPECT_EQ(run.filecount, 2);
  const std::string top = Modern("top/vellumcast.html");
  EXPECT_HAS(top, "<img src=\"broken.jpg\" width=\"120\" height=\"80\" alt=\"broken.jpg\" loading=\"lazy\"");
  EXPECT_HAS(Viewer("top", "broken.jpg"), "<img src=\"broken.jpg\" alt=\"broken.jpg\">");
  EXPECT_LACKS(Viewer("top", "broken.jpg"), "<dt>Size</dt>");
}

TEST_F(ModernPagesTest, PassThroughFolderForwardsAndShowsTheCover) {
  ASSERT_TRUE(WriteTestJpeg(Path("top/travel/2023/h.jpg"), 200, 100));
  RunIndex(Path("top"), Style);
  const std::string travel = Modern("top/travel/vellumcast.html");
  EXPECT_HAS(travel, "<meta http-equiv=\"refresh\" content=\"0; url=2023/vellumcast.html\">");
  char stem[32];
  NamedImageStem("h.jpg", stem, sizeof stem);
  // The top page's card of travel shows the first image below it.
  EXPECT_HAS(Modern("top/vellumcast.html"), "<img src=\"travel/2023/quarto_tn/" + std::string(stem) + "-1x.jpg\"");
  // Breadcrumb of the deepest folder: every ancestor linked.
  EXPECT_HAS(Modern("top/travel/2023/vellumcast.html"),
             "<li><a href=\"../../vellumcast.html\">top</a></li>\n<li><a href=\"../vellumcast.html\">travel</a></li>\n"
             "<li aria-current=\"page\">2023</li>");
  // A pass-through folder below the top passes "Up" on to its parent.
  EXPECT_HAS(Modern("top/travel/imageback.html"), "url=../imageback.html");
  EXPECT_HAS(Modern("top/travel/2023/imageback.html"), "url=vellumcast.html");
}

TEST_F(ModernPagesTest, TemplatesGoIntoTheBody) {
  ASSERT_TRUE(WriteTestBmp24(Path("top/a.bmp"), 20, 20));
  ASSERT_TRUE(WriteFileBytes(Path("head.html"),
                             "<!DOCTYPE html>\n<HTML><head><title>Mine</title>\n<style>.banner{color:red}</style>\n"
                             "<link rel=\"stylesheet\" href=\"site.css\">\n</head>\n"
                             "<BODY class=\"x\"><div class=\"banner\">Banner \xE9</div>\n</Body></html>\nafter\n"));
  ASSERT_TRUE(WriteFileBytes(Path("foot.html"), "<html><body>\n<p>Footer words</p>\n</body></html>\n"));
  RunIndex(Path("top"), [this](TThreadVellumcast& w) {
    Style(w);
    w.options.headertemplate = Path("head.html");
    w.options.footertemplate = Path("foot.html");
  });
  const std::string top = Modern("top/vellumcast.html");
  const size_t head_end = top.find("</head>");
  EXPECT_LT(top.find("<style>.banner{color:red}</style>"), head_end);
  EXPECT_LT(top.find("<link rel=\"stylesheet\" href=\"site.css\">"), head_end);
  EXPECT_HAS(top, "<body>\n<div class=\"banner\">Banner \xEF\xBF\xBD</div>\n<header");
  EXPECT_LACKS(top, "Mine");
  EXPECT_LACKS(top, "\nafter");
  EXPECT_LACKS(top, "class=\"vc-site\"");  // the template replaces the title line
  EXPECT_HAS(top, "\n<p>Footer words</p>\n</body>\n</html>\n");
  EXPECT_EQ(Count(top, "<body"), 1);
  EXPECT_EQ(Count(top, "</body>"), 1);
  EXPECT_EQ(Count(top, "<html"), 1);
}

TEST_F(ModernPagesTest, FirstPageNameAndUserFile) {
  ASSERT_TRUE(WriteTestBmp24(Path("top/a.bmp"), 20, 20));
  ASSERT_TRUE(WriteTestBmp24(Path("top/sub/b.bmp"), 20, 20));
  ASSERT_TRUE(WriteTestBmp24(Path("top/own/c.bmp"), 20, 20));
  ASSERT_TRUE(WriteFileBytes(Path("top/own/index.html"), "mine"));
  RunIndex(Path("top"), [](TThreadVellumcast& w) {
    Style(w);
    w.options.firstpage = "index.html";
  });
  EXPECT_EQ(Page("top/own/index.html"), "mine");
  const std::string top = Modern("top/index.html");
  EXPECT_HAS(top, "<a href=\"sub/index.html\">");
  EXPECT_HAS(top, "<a href=\"own/vellumcast.html\">");
  EXPECT_HAS(Modern("top/sub/index.html"), "<li><a href=\"../index.html\">top</a></li>");
  EXPECT_HAS(Viewer("top/sub", "b.bmp"), "<a id=\"vc-back\" href=\"index.html\">");
  EXPECT_FALSE(Exists("top/vellumcast.html"));
}

TEST_F(ModernPagesTest, ClassicStyleWritesNoViewerPages) {
  ASSERT_TRUE(WriteTestBmp24(Path("top/a.bmp"), 20, 20));
  RunIndex(Path("top"));
  EXPECT_FALSE(Exists("top/" + ViewerPageName("a.bmp")));
  EXPECT_EQ(Page("top/vellumcast.html").rfind("<html><head><title>Vellumcast</title>\r\n</head>", 0), 0u);
}

TEST_F(ModernPagesTest, NoHierarchyLinksNoCardsAndPlainBreadcrumb) {
  ASSERT_TRUE(WriteTestBmp24(Path("top/a.bmp"), 20, 20));
  ASSERT_TRUE(WriteTestBmp24(Path("top/sub/b.bmp"), 20, 20));
  RunIndex(Path("top"), [](TThreadVellumcast& w) {
    Style(w);
    w.options.hlinks = 0;
  });
  EXPECT_LACKS(Modern("top/vellumcast.html"), "class=\"vc-folders\"");
  EXPECT_HAS(Modern("top/sub/vellumcast.html"), "<li>top</li>");
}

}  // namespace

// With prune, the viewer page and per-image files of an image that is gone
// go too; those of the other images, and look-alikes a run never writes (in
// another case, or a link), stay.
TEST_F(ModernPagesTest, PruneRemovesTheFilesOfImagesThatAreGone) {
  ASSERT_TRUE(WriteTestJpeg(Path("f/a.jpg"), 300, 200));
  ASSERT_TRUE(WriteTestJpeg(Path("f/b.jpg"), 300, 200));
  const auto modern_pruned = [](TThreadVellumcast& w) {
    Style(w);
    w.options.prune = kSwitchOn;
  };
  RunIndex(Path("f"), modern_pruned);
  char stem_a[32];
  char stem_b[32];
  NamedImageStem("a.jpg", stem_a, sizeof stem_a);
  NamedImageStem("b.jpg", stem_b, sizeof stem_b);
  const std::string viewer_b = ViewerPageName("b.jpg");
  const std::string thumb_b = std::string("f/quarto_tn/") + stem_b + "-1x.jpg";
  ASSERT_TRUE(Exists("f/" + viewer_b));
  ASSERT_TRUE(Exists(thumb_b));

  std::string upper = viewer_b;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  ASSERT_TRUE(WriteFileBytes(Path("f/" + upper), "mine"));
  const std::string linked = std::string("f/quarto_tn/vc-0123456789abcdef-2x.jpg");
  ASSERT_TRUE(WriteFileBytes(Path("f/keep.jpg.txt"), "mine"));
  ASSERT_EQ(::symlink("../keep.jpg.txt", Path(linked).c_str()), 0);
  ASSERT_EQ(::unlink(Path("f/b.jpg").c_str()), 0);

  RunIndex(Path("f"), modern_pruned);
  EXPECT_FALSE(Exists("f/" + viewer_b));
  EXPECT_FALSE(Exists(thumb_b));
  EXPECT_TRUE(Exists("f/" + ViewerPageName("a.jpg")));
  EXPECT_TRUE(Exists(std::string("f/quarto_tn/") + stem_a + "-1x.jpg"));
  EXPECT_EQ(Page("f/" + upper), "mine");
  struct stat info {};
  EXPECT_EQ(::lstat(Path(linked).c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
}
