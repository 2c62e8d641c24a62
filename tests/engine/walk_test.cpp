// The walk: which folders and files enter the catalog, counters, progress,
// cancel, and hostile trees.

#include "engine/run/walk.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>

#include "engine/run_helpers.h"
#include "fixtures/tree_writer.h"
#include "platform/dir_listing.h"
#include "support/path_util.h"

namespace {

class WalkTest : public TEngineTest {
 protected:
  void Touch(const std::string& relative) { ASSERT_TRUE(WriteFileBytes(Path(relative), "")); }
  // Every file name below `relative`, recursively, as "a/b/name" lines.
  std::string Files(const std::string& relative) {
    std::string found;
    ListInto(Path(relative), "", found);
    return found;
  }

 private:
  void ListInto(const std::string& folder, const std::string& prefix, std::string& found) {
    TDirListing listing(folder.c_str(), "*.*");
    std::vector<std::string> names;
    while (listing.Next()) {
      const std::string name = listing.Name();
      if (name == "." || name == "..") continue;
      names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
      struct stat info;
      const std::string full = folder + "/" + name;
      if (::lstat(full.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        ListInto(full, prefix + name + "/", found);
      } else {
        found += prefix + name + "\n";
      }
    }
  }
};

TEST_F(WalkTest, OnlyTheDeepestFolderHoldsImages) {
  for (int i = 0; i < 3; ++i) Touch("root/a/b/p" + std::to_string(i) + ".gif");
  const TRunResult run = RunIndex(Path("root"));
  EXPECT_EQ(run.dircount, 2);
  EXPECT_EQ(run.indexcount, 3);
  EXPECT_EQ(run.filecount, 3);
  EXPECT_EQ(run.ProgressMessages(), 5);
  EXPECT_EQ(run.messages.back(), WM_INDEX_DONE);

  TThreadVellumcast worker;
  const std::atomic<bool> stop{false};
  TIndexRun index_run(worker.options, worker.counters, worker.report, nullptr, stop);
  TFolderWalk walk(index_run);
  EXPECT_EQ(walk.IndexFolder(0, Path("root").c_str()), 3);
}

TEST_F(WalkTest, ThumbnailFoldersAreNeverWalked) {
  Touch("r/quarto_tn/a.gif");
  Touch("r/Quarto_TN/b.gif");
  Touch("r/quarto_tn2/c.gif");
  const TRunResult run = RunIndex(Path("r"));
  EXPECT_EQ(run.dircount, 1);
  EXPECT_EQ(run.filecount, 1);
  EXPECT_TRUE(Exists("r/quarto_tn2/vellumcast.html"));
  EXPECT_FALSE(Exists("r/quarto_tn/vellumcast.html"));
  EXPECT_FALSE(Exists("r/Quarto_TN/vellumcast.html"));
}

TEST_F(WalkTest, ThreeExtensionsInAnyCaseAndOnlyRegularFiles) {
  for (const char* name : {"a.GIF", "b.jpg", "c.Bmp", "d.jpeg", "e.tga", "f.fts", "g.jpe", "h.txt"}) {
    Touch(std::string("x/") + name);
  }
  ASSERT_TRUE(MakeDirs(Path("x/album.jpg")));  // a folder: walked, not a cell
  Touch("x/album.jpg/inside.bmp");
  ASSERT_EQ(::symlink("a.GIF", Path("x/alias.gif").c_str()), 0);
  ASSERT_EQ(::symlink("nowhere.gif", Path("x/dangling.gif").c_str()), 0);
  const TRunResult run = RunIndex(Path("x"), [](TThreadVellumcast& w) { w.options.includefilenames = 0; });
  const std::string page = Page("x/vellumcast.html");
  for (const char* listed : {"\"a.GIF\"", "\"b.jpg\"", "\"c.Bmp\"", "\"alias.gif\""}) {
    EXPECT_NE(page.find(std::string("<a href=") + listed), std::string::npos) << listed;
  }
  for (const char* absent : {"d.jpeg", "e.tga", "f.fts", "g.jpe", "h.txt", "dangling", "<a href=\"album.jpg\">"}) {
    EXPECT_EQ(page.find(absent), std::string::npos) << absent;
  }
  EXPECT_NE(page.find("<li><a href=\"album.jpg/vellumcast.html\">album.jpg</a> 1 images</li>"), std::string::npos);
  EXPECT_EQ(run.filecount, 5);
}

TEST_F(WalkTest, SubfoldersWithoutImagesCountButStayInvisible) {
  Touch("m/own.gif");
  ASSERT_TRUE(MakeDirs(Path("m/empty1")));
  Touch("m/empty2/readme.txt");
  const TRunResult run = RunIndex(Path("m"));
  EXPECT_EQ(run.dircount, 2);
  EXPECT_EQ(run.indexcount, 1);
  EXPECT_EQ(Page("m/vellumcast.html").find("<ul>"), std::string::npos);
  EXPECT_FALSE(Exists("m/empty1/vellumcast.html"));
  EXPECT_FALSE(Exists("m/empty1/imageback.html"));
}

TEST_F(WalkTest, AMissingStartingFolderWritesNothing) {
  Touch("keep/a.gif");
  for (const std::string& start : {Path("missing"), Path("keep/a.gif"), std::string(300, 'q')}) {
    const TRunResult run = RunIndex(start);
    EXPECT_EQ(run.dircount, 0) << start;
    EXPECT_EQ(run.filecount, 0);
    EXPECT_EQ(run.indexcount, 0);
    EXPECT_EQ(run.messages, std::vector<uint32_t>{WM_INDEX_DONE});
  }
  EXPECT_EQ(Files(""), "keep/a.gif\n");
}

TEST_F(WalkTest, TrailingSeparatorAndEmptyPathGiveTheSameCatalog) {
  Touch("same/s/a.gif");
  Touch("same/b.bmp");
  RunIndex(Path("same"));
  const std::string without = Page("same/vellumcast.html") + Page("same/s/vellumcast.html");
  RunIndex(Path("same/"));
  EXPECT_EQ(Page("same/vellumcast.html") + Page("same/s/vellumcast.html"), without);
  ASSERT_EQ(::chdir(Path("same").c_str()), 0);
  const TRunResult run = RunIndex("");
  EXPECT_EQ(run.filecount, 2);
  EXPECT_EQ(Page("same/vellumcast.html") + Page("same/s/vellumcast.html"), without);
}

TEST_F(WalkTest, CancelBeforeTheStartWritesNothing) {
  Touch("c/a.gif");
  const TRunResult run = RunIndex(Path("c"), {}, -1, true);
  EXPECT_EQ(run.messages, std::vector<uint32_t>{WM_INDEX_DONE});
  EXPECT_FALSE(Exists("c/vellumcast.html"));
}

TEST_F(WalkTest, CancelWritesOnlyFoldersWhoseWalkFinished) {
  for (const char* sub : {"a", "b", "c"}) {
    Touch(std::string("k/") + sub + "/one.gif");
    Touch(std::string("k/") + sub + "/two.gif");
  }
  Touch("k/own.gif");
  // The stop comes with the first progress message: the first cell of the
  // first subfolder. That folder was listed completely, so its pages are
  // finished (cells are not polled); then no other entry is taken, and the
  // top folder, whose walk was cut short, writes no page at all.
  const TRunResult run = RunIndex(Path("k"), {}, 1);
  EXPECT_EQ(run.dircount, 1);
  EXPECT_EQ(run.filecount, 2);
  EXPECT_EQ(run.indexcount, 1);
  EXPECT_EQ(run.ProgressMessages(), 3);
  EXPECT_EQ(run.messages.back(), WM_INDEX_DONE);
  EXPECT_FALSE(Exists("k/vellumcast.html"));
  EXPECT_FALSE(Exists("k/imageback.html"));
  int walked = 0;
  for (const char* sub : {"a", "b", "c"}) walked += Exists(std::string("k/") + sub + "/vellumcast.html") ? 1 : 0;
  EXPECT_EQ(walked, 1);
}

// Every page a cancelled run leaves equals the complete run's: pages of
// folders finished before the stop are whole, the others are untouched.
TEST_F(WalkTest, CancelAfterACompleteRunKeepsEveryPageWhole) {
  struct TCase {
    const char* label;
    int stop_after;   // progress messages before the stop
  };
  // Eight subfolders of two images, two progress messages each (cells) plus
  // one for the folder: the stop falls in the first, third and last folder.
  for (const TCase& c : {TCase{"first folder", 1}, TCase{"third folder", 8}, TCase{"last folder", 22},
                         TCase{"after the last folder", 24}}) {
    SCOPED_TRACE(c.label);
    const std::string root = std::string("w") + std::to_string(c.stop_after);
    for (int i = 0; i < 8; ++i) {
      Touch(root + "/s" + std::to_string(i) + "/a.gif");
      Touch(root + "/s" + std::to_string(i) + "/b.gif");
    }
    const TRunResult complete = RunIndex(Path(root));
    ASSERT_EQ(complete.indexcount, 9);
    const std::string before = Files(root);
    std::vector<std::string> pages;
    for (const std::string& page : {std::string("vellumcast.html"), std::string("imageback.html")}) {
      pages.push_back(page);
      for (int i = 0; i < 8; ++i) pages.push_back("s" + std::to_string(i) + "/" + page);
    }
    std::vector<std::string> expected;
    for (const std::string& page : pages) expected.push_back(Page(root + "/" + page));

    // The same run again, but with the options changed so that any page it
    // writes differs: a page equal to the old one was not written.
    const TRunResult cancelled = RunIndex(
        Path(root), [](TThreadVellumcast& w) { w.options.title = "second"; }, c.stop_after);
    EXPECT_EQ(Files(root), before);  // no file added, none lost
    int rewritten = 0;
    for (size_t i = 0; i < pages.size(); ++i) {
      const std::string now = Page(root + "/" + pages[i]);
      if (now == expected[i]) continue;
      // A page the cancelled run wrote is the whole page of its options.
      ++rewritten;
      EXPECT_NE(now.find("<h3>second</h3>"), std::string::npos) << pages[i];
      EXPECT_NE(now.find("</body></html>"), std::string::npos) << pages[i];
    }
    EXPECT_EQ(rewritten, cancelled.indexcount);  // back-link pages do not name the title
    // The top page lists all eight subfolders, as after the complete run.
    const std::string top = Page(root + "/vellumcast.html");
    size_t items = 0;
    for (size_t at = top.find("<li>"); at != std::string::npos; at = top.find("<li>", at + 1)) ++items;
    EXPECT_EQ(items, 8u);
  }
}

TEST_F(WalkTest, CancelInTheMiddleOfTheTopFolder) {
  for (int i = 0; i < 6; ++i) Touch("n/s" + std::to_string(i) + "/a.gif");
  // Six subfolders, two progress messages each; stop after the fourth.
  const TRunResult run = RunIndex(Path("n"), {}, 4);
  EXPECT_EQ(run.dircount, 2);
  EXPECT_EQ(run.filecount, 2);
  EXPECT_EQ(run.indexcount, 2);
  EXPECT_FALSE(Exists("n/vellumcast.html"));
}

TEST_F(WalkTest, CancelWhileAFolderListsItsOwnImagesWritesNoPageForIt) {
  Touch("t/s/a.gif");
  Touch("t/own.gif");
  // Progress: the cell of s, then s as walked; the stop comes with the
  // second, so t's own image listing sees it at its first entry.
  const TRunResult run = RunIndex(Path("t"), {}, 2);
  EXPECT_EQ(run.indexcount, 1);
  EXPECT_TRUE(Exists("t/s/vellumcast.html"));
  EXPECT_FALSE(Exists("t/vellumcast.html"));  // never a redirect page made of a cut listing
}

TEST_F(WalkTest, LinkLoopsEnd) {
  Touch("loop/a/img.gif");
  ASSERT_EQ(::symlink("..", Path("loop/a/up").c_str()), 0);
  ASSERT_EQ(::symlink(".", Path("loop/a/self").c_str()), 0);
  ASSERT_EQ(::symlink(Path("loop").c_str(), Path("loop/a/top").c_str()), 0);
  const TRunResult run = RunIndex(Path("loop"));
  EXPECT_EQ(run.filecount, 1);
  EXPECT_EQ(run.dircount, 4);
  const std::string a = Page("loop/a/vellumcast.html");
  EXPECT_EQ(a.find("<ul>"), std::string::npos);  // no loop entry in the list
}

TEST_F(WalkTest, LinkFanOutIsWalkedOnceNotExponentially) {
  // Level i holds two links to level i + 1: 2^30 paths, 31 folders.
  constexpr int kLevels = 30;
  for (int i = 0; i <= kLevels; ++i) ASSERT_TRUE(MakeDirs(Path("fan/l" + std::to_string(i))));
  Touch("fan/l" + std::to_string(kLevels) + "/deep.gif");
  for (int i = 0; i < kLevels; ++i) {
    const std::string target = Path("fan/l" + std::to_string(i + 1));
    ASSERT_EQ(::symlink(target.c_str(), Path("fan/l" + std::to_string(i) + "/x").c_str()), 0);
    ASSERT_EQ(::symlink(target.c_str(), Path("fan/l" + std::to_string(i) + "/y").c_str()), 0);
  }
  const auto start = std::chrono::steady_clock::now();
  // The links lead out of fan/l0 into its siblings: entered only on request.
  const TRunResult run = RunIndex(Path("fan/l0"), [](TThreadVellumcast& w) { w.options.followlinks = 1; });
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
  EXPECT_EQ(run.filecount, 1);
  // Both links of a level lead to the same catalog; each path counts its images.
  const std::string last = Page("fan/l29/vellumcast.html");
  EXPECT_NE(last.find("<li><a href=\"x/vellumcast.html\">x</a> 1 images</li>"), std::string::npos);
  EXPECT_NE(last.find("<li><a href=\"y/vellumcast.html\">y</a> 1 images</li>"), std::string::npos);
  EXPECT_NE(Page("fan/l0/vellumcast.html").find("<li><a href=\"y/vellumcast.html\">y</a> 536870912 images</li>"),
            std::string::npos);
}

TEST_F(WalkTest, UnreadableFoldersAreSkipped) {
  if (::geteuid() == 0) GTEST_SKIP() << "running as root: folder permissions do not stop root";
  Touch("u/open/a.gif");
  Touch("u/closed/b.gif");
  ASSERT_EQ(::chmod(Path("u/closed").c_str(), 0), 0);
  const TRunResult run = RunIndex(Path("u"));
  ::chmod(Path("u/closed").c_str(), 0700);
  EXPECT_EQ(run.filecount, 1);
  EXPECT_EQ(run.dircount, 2);
  EXPECT_FALSE(Exists("u/closed/vellumcast.html"));
}

TEST_F(WalkTest, AFolderThatVanishesOrIsNoFolderIsSkipped) {
  // Enumeration fails without permissions: a link to a folder that is gone.
  Touch("v/ok/a.gif");
  ASSERT_TRUE(MakeDirs(Path("gone")));
  ASSERT_EQ(::symlink(Path("gone").c_str(), Path("v/link").c_str()), 0);
  ASSERT_EQ(::rmdir(Path("gone").c_str()), 0);
  const TRunResult run = RunIndex(Path("v"));
  EXPECT_EQ(run.filecount, 1);
  EXPECT_EQ(run.dircount, 1);  // a dangling link is no folder
  EXPECT_TRUE(Exists("v/ok/vellumcast.html"));
}

TEST_F(WalkTest, AFifoNamedLikeAnImageBlocksNothing) {
  Touch("f/a.gif");
  ASSERT_EQ(::mkfifo(Path("f/x.gif").c_str(), 0600), 0);
  ASSERT_EQ(::mkfifo(Path("f/y.jpg").c_str(), 0600), 0);
  const TRunResult run = RunIndex(Path("f"), [](TThreadVellumcast& w) { w.options.createthumbs = 1; });
  EXPECT_EQ(run.filecount, 1);
  EXPECT_EQ(Page("f/vellumcast.html").find("x.gif"), std::string::npos);
}

TEST_F(WalkTest, FolderPathsOverTheLimitAreSkippedNeverCut) {
  // Build a folder path of exactly kMaxFolderPath characters, and one below it
  // that is one level too long.
  std::string base = Path("");
  base.pop_back();
  const size_t room = kMaxFolderPath - base.size() - 1;
  ASSERT_GT(room, 20u);
  std::string relative;
  while (relative.size() + 1 < room) {
    const size_t part = std::min<size_t>(room - relative.size() - (relative.empty() ? 0 : 1), 100);
    if (!relative.empty()) relative += '/';
    relative += std::string(part, 'd');
  }
  ASSERT_EQ(base.size() + 1 + relative.size(), kMaxFolderPath);
  Touch(relative + "/fits.gif");
  Touch(relative + "/over/lost.gif");
  const TRunResult run = RunIndex(base);
  EXPECT_TRUE(Exists(relative + "/vellumcast.html"));
  EXPECT_FALSE(Exists(relative + "/over/vellumcast.html"));
  EXPECT_EQ(run.filecount, 1);
  const std::string page = Page(relative + "/vellumcast.html");
  EXPECT_EQ(page.find("over"), std::string::npos);
}

TEST(CompareSubfolders, SortRules) {
  TStringManager table(sizeof(TStrEntry), 6, 0, nullptr);
  TStrEntry* x = table.FindOrAdd("x");
  TStrEntry* upper_b = table.FindOrAdd("B");
  TStrEntry* a = table.FindOrAdd("a");
  x->count = 5;
  upper_b->count = 12;
  a->count = 12;
  EXPECT_TRUE(CompareSubfolders(a, upper_b, 1));
  EXPECT_TRUE(CompareSubfolders(upper_b, x, 1));
  EXPECT_FALSE(CompareSubfolders(x, a, 1));
  EXPECT_TRUE(CompareSubfolders(a, upper_b, 0));
  EXPECT_TRUE(CompareSubfolders(upper_b, x, 0));
  EXPECT_FALSE(CompareSubfolders(a, a, 0));
  EXPECT_FALSE(CompareSubfolders(a, a, 1));
  EXPECT_FALSE(CompareSubfolders(a, x, 2));
  EXPECT_FALSE(CompareSubfolders(x, a, -1));
}

}  // namespace
