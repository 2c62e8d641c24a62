// The first page name: which names are taken, user files of that name kept,
// and every link to a folder's first page following the name it got.

#include "engine/store/first_page.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/store/generated_names.h"
#include "engine/run_helpers.h"
#include "fixtures/image_writers.h"
#include "fixtures/tree_writer.h"

namespace {

TEST(FirstPageNameTest, TakesPlainHtmlNamesThatNameNoOtherGeneratedFile) {
  struct TCase {
    const char* name;
    bool valid;
  };
  const TCase cases[] = {
      {"index.html", true},
      {"index.htm", true},
      {"INDEX.HTML", true},
      {"catalog-2_a.html", true},
      {"vellumcast.html", true},
      {"", false},
      {"index", false},
      {"index.html.bak", false},
      {"a/index.html", false},
      {"../index.html", false},
      {".index.html", false},
      {"my index.html", false},
      {"in\"dex.html", false},
      {"caf\xC3\xA9.html", false},
      {"vellumcast2.html", false},
      {"VellumCast.html", false},
      {"imageback.html", false},
      {"vellumcast-view-0123456789abcdef.html", false},
      {"photo.jpg", false},
  };
  for (const TCase& c : cases) EXPECT_EQ(IsValidFirstPageName(c.name), c.valid) << c.name;
  EXPECT_TRUE(IsValidFirstPageName((std::string(123, 'a') + ".html").c_str()));
  EXPECT_FALSE(IsValidFirstPageName((std::string(124, 'a') + ".html").c_str()));
  EXPECT_FALSE(IsValidFirstPageName(nullptr));
}

class FirstPageRunTest : public TEngineTest {
 protected:
  // top: a.bmp; top/sub: b.bmp, c.bmp; top/pass: (only) top/pass/deep: d.bmp
  void MakeTree() {
    ASSERT_TRUE(WriteTestBmp24(Path("top/a.bmp"), 8, 8));
    ASSERT_TRUE(WriteTestBmp24(Path("top/sub/b.bmp"), 8, 8));
    ASSERT_TRUE(WriteTestBmp24(Path("top/sub/c.bmp"), 8, 8));
    ASSERT_TRUE(WriteTestBmp24(Path("top/pass/deep/d.bmp"), 8, 8));
  }
  static void Index(TThreadVellumcast& worker) { worker.options.firstpage = "index.html"; }
};

TEST_F(FirstPageRunTest, ClassicPagesTakeTheNameAndCarryTheMarker) {
  MakeTree();
  RunIndex(Path("top"), [](TThreadVellumcast& w) {
    Index(w);
    w.options.rowsperpage = 1;
    w.options.cellsperrow = 1;
  });
  EXPECT_FALSE(Exists("top/vellumcast.html"));
  EXPECT_FALSE(Exists("top/sub/vellumcast.html"));
  const std::string top = Page("top/index.html");
  EXPECT_EQ(top.rfind("<html><head><title>Vellumcast</title>\r\n" + std::string(kGeneratorMarker) + "\r\n", 0), 0u)
      << top;
  EXPECT_NE(top.find("<li><a href=\"sub/index.html\">sub</a> 2 images</li>"), std::string::npos) << top;
  EXPECT_NE(top.find("<li><a href=\"pass/index.html\">pass</a> 1 images</li>"), std::string::npos) << top;
  EXPECT_TRUE(IsGeneratedPageContent(Path("top/sub/index.html").c_str()));
  // The second page of sub leads back to the first under its name.
  EXPECT_NE(Page("top/sub/vellumcast1.html").find("<a href=index.html>Previous Page</a>"), std::string::npos);
  EXPECT_NE(Page("top/pass/index.html").find("CONTENT=\"0; URL=deep/index.html\""), std::string::npos);
  EXPECT_NE(Page("top/sub/imageback.html").find("URL=index.html\">"), std::string::npos);
  EXPECT_NE(Page("top/sub/imageback.html").find("<a href=index.html>index.html</a>"), std::string::npos);
}

TEST_F(FirstPageRunTest, UserFileOfThatNameStaysAndItsFolderKeepsTheDefault) {
  MakeTree();
  const std::string mine = "<html><body>My own sub page</body></html>\n";
  ASSERT_TRUE(WriteFileBytes(Path("top/sub/index.html"), mine));
  int32_t kept = -1;
  TRecordingOwner owner;
  {
    TThreadVellumcast worker;
    worker.options.path = Path("top");
    worker.options.firstpage = "index.html";
    ASSERT_TRUE(worker.Start());
    worker.WaitFor();
    kept = worker.counters.firstpagekept;
  }
  EXPECT_EQ(kept, 1);
  EXPECT_EQ(Page("top/sub/index.html"), mine);
  EXPECT_TRUE(Exists("top/sub/vellumcast.html"));
  EXPECT_NE(Page("top/index.html").find("<a href=\"sub/vellumcast.html\">sub</a>"), std::string::npos);
  EXPECT_NE(Page("top/index.html").find("<a href=\"pass/index.html\">pass</a>"), std::string::npos);
  EXPECT_NE(Page("top/sub/imageback.html").find("URL=vellumcast.html\">"), std::string::npos);
}

TEST_F(FirstPageRunTest, SecondRunReplacesItsOwnPages) {
  MakeTree();
  RunIndex(Path("top"), Index);
  ASSERT_TRUE(Exists("top/sub/index.html"));
  ASSERT_TRUE(WriteFileBytes(Path("top/sub/extra.bmp"), ""));
  int32_t kept = -1;
  {
    TThreadVellumcast worker;
    worker.options.path = Path("top");
    worker.options.firstpage = "index.html";
    ASSERT_TRUE(worker.Start());
    worker.WaitFor();
    kept = worker.counters.firstpagekept;
  }
  EXPECT_EQ(kept, 0);
  EXPECT_NE(Page("top/sub/index.html").find("extra.bmp"), std::string::npos);
  EXPECT_NE(Page("top/index.html").find("sub/index.html\">sub</a> 3 images"), std::string::npos);
}

TEST_F(FirstPageRunTest, DefaultNameWritesNoMarker) {
  MakeTree();
  RunIndex(Path("top"));
  EXPECT_EQ(Page("top/vellumcast.html").find(kGeneratorMarker), std::string::npos);
  EXPECT_FALSE(Exists("top/index.html"));
}

TEST_F(FirstPageRunTest, FolderNamedLikeTheFirstPageIsKeptToo) {
  MakeTree();
  ASSERT_TRUE(MakeDirs(Path("top/sub/index.html")));
  int32_t kept = -1;
  {
    TThreadVellumcast worker;
    worker.options.path = Path("top");
    worker.options.firstpage = "index.html";
    ASSERT_TRUE(worker.Start());
    worker.WaitFor();
    kept = worker.counters.firstpagekept;
  }
  EXPECT_EQ(kept, 1);
  EXPECT_TRUE(Exists("top/sub/vellumcast.html"));
  EXPECT_NE(Page("top/index.html").find("sub/vellumcast.html"), std::string::npos);
}

}  // namespace
