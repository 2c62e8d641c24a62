// Album texts in the modern style: a folder's index.md gives its pages a
// title (heading, breadcrumb, parent's card, page title), a description,
// a cover and the order of its images; without one, or with one that
// cannot be used, the pages are as they always were.

#include <gtest/gtest.h>
#include <utime.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "engine/modern/page_parts.h"
#include "engine/run_helpers.h"
#include "engine/store/generated_names.h"
#include "fixtures/image_writers.h"
#include "fixtures/tree_writer.h"

namespace {

namespace fs = std::filesystem;

#define EXPECT_HAS(text, needle) EXPECT_NE((text).find(needle), std::string::npos) << "missing: " << (needle) << "\nin:\n" << (text)
#define EXPECT_LACKS(text, needle) EXPECT_EQ((text).find(needle), std::string::npos) << "present: " << (needle) << "\nin:\n" << (text)

std::string WithoutCr(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c != '\r') out += c;
  }
  return out;
}

void ModernStyle(TThreadVellumcast& worker) { worker.options.style = kStyleModern; }

// Every page under `root`, by its path relative to it.
std::map<std::string, std::string> PagesUnder(const std::string& root) {
  std::map<std::string, std::string> pages;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.path().extension() == ".html") {
      pages[fs::relative(entry.path(), root).string()] = ReadFileBytes(entry.path().string());
    }
  }
  return pages;
}

// The file names of the grid cells of a folder page, in page order.
std::vector<std::string> CellOrder(const std::string& page) {
  std::vector<std::string> names;
  const std::string mark = "alt=\"";
  const size_t grid = page.find("<ul class=\"vc-grid\">");
  for (size_t at = page.find(mark, grid); grid != std::string::npos && at != std::string::npos;
       at = page.find(mark, at + 1)) {
    const size_t start = at + mark.size();
    names.push_back(page.substr(start, page.find('"', start) - start));
  }
  return names;
}

class AlbumPagesTest : public TEngineTest {
 protected:
  std::string Modern(const std::string& relative) const { return WithoutCr(Page(relative)); }
  void Album(const std::string& folder, const std::string& text) const {
    ASSERT_TRUE(WriteFileBytes(Path(folder + "/index.md"), text));
  }
  // An animals folder below pics: fox, heron, lynx (JPEG) and Owl (GIF), and pics/cats/tabby.
  void AnimalTree() const {
    for (const char* name : {"fox.jpg", "heron.jpg", "lynx.jpg"}) {
      ASSERT_TRUE(WriteTestJpeg(Path(std::string("pics/animals/") + name), 120, 90));
    }
    ASSERT_TRUE(WriteTestGif(Path("pics/animals/Owl.gif"), 64, 48));
    ASSERT_TRUE(WriteTestJpeg(Path("pics/animals/cats/tabby.jpg"), 80, 60));
  }
};

TEST_F(AlbumPagesTest, TitleDescriptionAndCoverShowWhereTheFolderIsNamed) {
  AnimalTree();
  Album("pics/animals", "Title: Wild Things\nThumbnail: lynx.jpg\n\nSeen on *one* walk.\n");
  Album("pics/animals/cats", "---\nTitle: Kitties\n---\n");
  const TRunResult run = RunIndex(Path("pics"), ModernStyle);
  EXPECT_EQ(run.warnings, 0);

  const std::string animals = Modern("pics/animals/vellumcast.html");
  EXPECT_HAS(animals, "<title>Wild Things \xE2\x80\x93 ");
  EXPECT_HAS(animals, "<li aria-current=\"page\">Wild Things</li>");
  EXPECT_HAS(animals, "<h1>Wild Things</h1>\n<div class=\"vc-description\"><p>Seen on <em>one</em> walk.</p>");
  // The subfolder's card and its own breadcrumb show the titles.
  EXPECT_HAS(animals, "<span class=\"vc-name\">Kitties</span>");
  const std::string cats = Modern("pics/animals/cats/vellumcast.html");
  EXPECT_HAS(cats, "<li><a href=\"../vellumcast.html\">Wild Things</a></li>\n<li aria-current=\"page\">Kitties</li>");
  EXPECT_HAS(cats, "<li><a href=\"../../vellumcast.html\">pics</a></li>");
  EXPECT_LACKS(cats, "vc-description");
  EXPECT_HAS(Modern("pics/animals/" + ViewerPageName("fox.jpg")), "Back to Wild Things");

  // The parent's card: the album's title and its chosen cover, not the first image.
  const std::string top = Modern("pics/vellumcast.html");
  char lynx[32];
  NamedImageStem("lynx.jpg", lynx, sizeof lynx);
  EXPECT_HAS(top, "<li><a href=\"animals/vellumcast.html\"><img src=\"animals/quarto_tn/" + std::string(lynx) +
                      "-1x.jpg\"");
  EXPECT_HAS(top, "<span class=\"vc-name\">Wild Things</span>");
  EXPECT_LACKS(top, "vc-name\">animals<");
}

TEST_F(AlbumPagesTest, SortAndReverseOrderTheAlbumsImages) {
  AnimalTree();
  for (const char* name : {"img10.jpg", "img9.jpg", "Img2.jpg"}) {
    ASSERT_TRUE(WriteTestJpeg(Path(std::string("pics/numbered/") + name), 40, 30));
  }
  // Dates (no EXIF: modification times) against the names' order.
  const std::pair<const char*, time_t> dates[] = {{"img10.jpg", 1000}, {"img9.jpg", 3000}, {"Img2.jpg", 2000}};
  for (const auto& [name, when] : dates) {
    struct utimbuf times{when, when};
    ASSERT_EQ(::utime(Path(std::string("pics/numbered/") + name).c_str(), &times), 0);
  }
  struct TCase {
    const char* index_md;  // nullptr: none
    std::vector<std::string> order;
  };
  const TCase cases[] = {
      {nullptr, {"Img2.jpg", "img10.jpg", "img9.jpg"}},  // the run's order: bytes
      {"Sort: name\n", {"Img2.jpg", "img10.jpg", "img9.jpg"}},
      {"Sort: natural\n", {"Img2.jpg", "img9.jpg", "img10.jpg"}},
      {"Sort: NATURAL\nReverse: yes\n", {"img10.jpg", "img9.jpg", "Img2.jpg"}},
      {"Sort: date\n", {"img10.jpg", "Img2.jpg", "img9.jpg"}},
      {"Sort: date\nReverse: yes\n", {"img9.jpg", "Img2.jpg", "img10.jpg"}},
      {"Reverse: yes\n", {"img9.jpg", "img10.jpg", "Img2.jpg"}},
      {"Sort: sideways\n", {"Img2.jpg", "img10.jpg", "img9.jpg"}},  // unknown: the run's order
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.index_md != nullptr ? c.index_md : "no index.md");
    std::remove(Path("pics/numbered/index.md").c_str());
    if (c.index_md != nullptr) Album("pics/numbered", c.index_md);
    RunIndex(Path("pics"), ModernStyle);
    EXPECT_EQ(CellOrder(Modern("pics/numbered/vellumcast.html")), c.order);
    // The viewer pages step through the same order.
    const std::string first = Modern("pics/numbered/" + ViewerPageName(c.order[0].c_str()));
    EXPECT_HAS(first, "id=\"vc-next\" rel=\"next\" href=\"" + ViewerPageName(c.order[1].c_str()) + "\"");
  }
}

// A file that cannot be used is reported and left out; a folder without one,
// or with an unusable one, gets the pages it always had.
TEST_F(AlbumPagesTest, UnusableIndexMdIsReportedAndThePagesAreAsWithout) {
  struct TCase {
    const char* label;
    std::string index_md;
    const char* warning;  // the report's line, after the path
  };
  const TCase cases[] = {
      {"not UTF-8", "Title: Caf\xE9\n", "not UTF-8 text"},
      {"too large", "Title: Big\n\n" + std::string(300 * 1024, 'x'), nullptr},
  };
  ASSERT_TRUE(WriteTestJpeg(Path("plain/pics/a/p1.jpg"), 60, 40));
  ASSERT_TRUE(WriteTestGif(Path("plain/pics/p2.gif"), 30, 20));
  RunIndex(Path("plain/pics"), ModernStyle);
  const auto plain = PagesUnder(Path("plain/pics"));
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.label);
    RemoveTree(Path("damaged"));
    ASSERT_TRUE(WriteTestJpeg(Path("damaged/pics/a/p1.jpg"), 60, 40));
    ASSERT_TRUE(WriteTestGif(Path("damaged/pics/p2.gif"), 30, 20));
    Album("damaged/pics/a", c.index_md);
    const TRunResult run = RunIndex(Path("damaged/pics"), ModernStyle);
    ASSERT_EQ(run.warnings, 1);
    const std::string expected = "not used " + Path("damaged/pics/a/index.md") + ": ";
    EXPECT_EQ(run.warning_lines[0].rfind(expected, 0), 0u) << run.warning_lines[0];
    if (c.warning != nullptr) EXPECT_EQ(run.warning_lines[0], expected + c.warning);
    EXPECT_EQ(PagesUnder(Path("damaged/pics")), plain);
  }
}

TEST_F(AlbumPagesTest, HostileTextsAreEscapedOrDropped) {
  AnimalTree();
  Album("pics/animals",
        "Title: </title><script>alert(1)</script> & \"q\"\nThumbnail: ../cats/tabby.jpg\n\n"
        "<script>alert(2)</script>\n\n[x](javascript:alert(3)) <img src=x onerror=alert(4)>\n");
  const TRunResult run = RunIndex(Path("pics"), ModernStyle);
  // A cover that is not an image of the folder: reported, the first image serves.
  ASSERT_EQ(run.warning_lines.size(), 1u);
  EXPECT_EQ(run.warning_lines[0],
            "not used " + Path("pics/animals/index.md") + ": Thumbnail: names no image of the folder");
  const std::string escaped = "&lt;/title&gt;&lt;script&gt;alert(1)&lt;/script&gt; &amp; &quot;q&quot;";
  for (const std::string page : {"pics/animals/vellumcast.html", "pics/vellumcast.html",
                                 "pics/animals/cats/vellumcast.html"}) {
    const std::string text = Modern(page);
    EXPECT_HAS(text, escaped);
    for (const char* bad : {"<script>alert", "alert(2)", "javascript:", "onerror", "</title><"}) EXPECT_LACKS(text, bad);
  }
  char owl[32];  // the first in byte order
  NamedImageStem("Owl.gif", owl, sizeof owl);
  EXPECT_HAS(Modern("pics/vellumcast.html"), "<img src=\"animals/quarto_tn/" + std::string(owl) + "-1x.jpg\"");
}

// The pages follow an edited index.md on the next run, and go back when it is removed.
TEST_F(AlbumPagesTest, AnEditedIndexMdChangesThePagesOnTheNextRun) {
  AnimalTree();
  RunIndex(Path("pics"), ModernStyle);
  const auto before = PagesUnder(Path("pics"));
  Album("pics/animals", "Title: First\n");
  RunIndex(Path("pics"), ModernStyle);
  EXPECT_HAS(Modern("pics/vellumcast.html"), "vc-name\">First<");
  Album("pics/animals", "Title: Second\n\nNow with words.\n");
  RunIndex(Path("pics"), ModernStyle);
  EXPECT_HAS(Modern("pics/vellumcast.html"), "vc-name\">Second<");
  EXPECT_HAS(Modern("pics/animals/cats/vellumcast.html"), ">Second</a>");
  EXPECT_HAS(Modern("pics/animals/vellumcast.html"), "<p>Now with words.</p>");
  ASSERT_TRUE(fs::remove(Path("pics/animals/index.md")));
  RunIndex(Path("pics"), ModernStyle);
  EXPECT_EQ(PagesUnder(Path("pics")), before);
}

}  // namespace
