// What runs write, as vellumcast-cli shows it: every page kind goes the same
// way (reported when it cannot be written, rewritten under --rebuild=1),
// pruning and the clean-up go by the record of what runs wrote, never by a
// name alone, and the counters count only what was written.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cli/cli_runner.h"
#include "engine/modern/page_parts.h"
#include "engine/store/generated_names.h"
#include "fixtures/image_writers.h"
#include "fixtures/mount_fixtures.h"
#include "fixtures/tree_writer.h"

namespace {

namespace fs = std::filesystem;

class CliRecordTest : public ::testing::Test {
 protected:
  TScratchDir dir_{"vc-cli-record"};

  std::string At(const std::string& relative) const { return dir_.Join(relative); }
  bool Exists(const std::string& relative) const {
    struct stat info;
    return ::lstat(At(relative).c_str(), &info) == 0;
  }
  // Sets the file's modification time far into the past.
  void Age(const std::string& relative) const {
    struct utimbuf old_time{1000000000, 1000000000};
    ASSERT_EQ(::utime(At(relative).c_str(), &old_time), 0) << relative;
  }
  time_t ModifiedAt(const std::string& relative) const {
    struct stat info;
    return ::stat(At(relative).c_str(), &info) == 0 ? info.st_mtime : 0;
  }
  void TwoImages(const std::string& folder) const {
    ASSERT_TRUE(WriteTestJpeg(At(folder + "/p1.jpg"), 300, 200));
    ASSERT_TRUE(WriteTestJpeg(At(folder + "/p2.jpg"), 200, 300));
  }
};

std::string Viewer(const char* image) { return ViewerPageName(image); }

// A user's files named like generated ones stay, in the tree and in an
// output folder, in a folder with images and in one without; what a run
// recorded writing and no longer writes goes.
TEST_F(CliRecordTest, PruneRemovesOnlyWhatARunRecordedWriting) {
  struct TCase {
    const char* label;
    std::vector<std::string> extra;  // arguments before the folder
    const char* where;               // where the pages go, relative to the scratch folder
  };
  const std::vector<TCase> cases = {
      {"modern in the tree", {"--style=modern"}, "t"},
      {"modern, output folder", {"--style=modern", "--output=out"}, "out"},
      {"classic --prune=1", {"--prune=1"}, "t"},
      {"classic --prune=1, output folder", {"--prune=1", "--output=out"}, "out"},
  };
  const std::vector<std::string> mine = {"a/vellumcast5.html", "e/vellumcast.html",
                                         "a/vellumcast-view-0123456789abcdef.html",
                                         "a/quarto_tn/vc-0123456789abcdef-1x.jpg"};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.label);
    RemoveTree(At("t"));
    RemoveTree(At("out"));
    TwoImages("t/a");
    ASSERT_TRUE(MakeDirs(At("t/e")));
    ASSERT_TRUE(MakeDirs(At(std::string(c.where) + "/e")));
    for (const std::string& file : mine) ASSERT_TRUE(WriteFileBytes(At(std::string(c.where) + "/" + file), "mine"));
    std::vector<std::string> args = {"index"};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    args.push_back("t");
    TCliResult r = RunCli(args, dir_.path());
    ASSERT_EQ(r.exit_code, 0) << r.err;
    for (const std::string& file : mine) {
      EXPECT_EQ(ReadFileBytes(At(std::string(c.where) + "/" + file)), "mine") << file;
    }
    EXPECT_TRUE(Exists(std::string(c.where) + "/" + kPageRecordFile));

    // An image that goes takes the pages a run made for it along.
    const bool modern = c.extra[0] == "--style=modern";
    const std::string gone_viewer = std::string(c.where) + "/a/" + Viewer("p2.jpg");
    if (modern) {
      ASSERT_TRUE(Exists(gone_viewer));
    }
    ASSERT_TRUE(fs::remove(At("t/a/p2.jpg")));
    ASSERT_TRUE(fs::remove(At("t/a/p1.jpg")));
    r = RunCli(args, dir_.path());
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_FALSE(Exists(gone_viewer));
    EXPECT_FALSE(Exists(std::string(c.where) + "/a/vellumcast.html"));
    EXPECT_FALSE(Exists(std::string(c.where) + "/a/imageback.html"));
    for (const std::string& file : mine) {
      EXPECT_EQ(ReadFileBytes(At(std::string(c.where) + "/" + file)), "mine") << file;
    }
  }
}

// A default classic run adds no record: its output stays what it always was.
TEST_F(CliRecordTest, ADefaultClassicRunKeepsNoRecord) {
  TwoImages("t/a");
  const TCliResult r = RunCli({"index", "t"}, dir_.path());
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_FALSE(Exists(std::string("t/") + kPageRecordFile));
  EXPECT_FALSE(Exists(std::string("t/a/") + kPageRecordFile));
}

// The record tells a plain clean which first pages under another name runs wrote.
TEST_F(CliRecordTest, APlainCleanRemovesTheFirstPagesARunWroteUnderAnotherName) {
  TwoImages("t/a");
  ASSERT_TRUE(WriteFileBytes(At("t/b/index.html"), "the user's own page"));
  ASSERT_TRUE(WriteTestJpeg(At("t/b/p.jpg"), 50, 40));
  TCliResult r = RunCli({"index", "--firstpage=index.html", "--createthumbs=1", "t"}, dir_.path());
  ASSERT_EQ(r.exit_code, 0) << r.err;
  ASSERT_TRUE(Exists("t/index.html"));
  ASSERT_TRUE(Exists("t/a/index.html"));
  r = RunCli({"clean", "t"}, dir_.path());
  ASSERT_EQ(r.exit_code, 0) << r.err;
  for (const char* gone : {"t/index.html", "t/a/index.html", "t/a/quarto_tn", "t/a/imageback.html",
                           "t/a/vellumcast-pages.list", "t/b/vellumcast.html"}) {
    EXPECT_FALSE(Exists(gone)) << gone;
  }
  EXPECT_EQ(ReadFileBytes(At("t/b/index.html")), "the user's own page");
  EXPECT_TRUE(Exists("t/a/p1.jpg"));
}

// A viewer page that cannot be written is reported like any other page.
TEST_F(CliRecordTest, AViewerPageThatCannotBeWrittenIsReportedAndExitsThree) {
  TwoImages("t");
  // A folder in the page's place: putting the page there fails for real.
  ASSERT_TRUE(MakeDirs(At("t/" + Viewer("p2.jpg"))));
  const TCliResult r = RunCli({"index", "--style=modern", "t"}, dir_.path());
  EXPECT_EQ(r.exit_code, 3);
  EXPECT_NE(r.err.find("vellumcast-cli: cannot write t/" + Viewer("p2.jpg") + ": "), std::string::npos) << r.err;
  EXPECT_TRUE(Exists("t/" + Viewer("p1.jpg")));
}

// --rebuild=1 writes every page kind afresh; without it an unchanged page keeps its date.
TEST_F(CliRecordTest, RebuildRewritesEveryPageKind) {
  TwoImages("t/a");
  ASSERT_EQ(RunCli({"index", "--style=modern", "t"}, dir_.path()).exit_code, 0);
  const std::vector<std::string> pages = {"t/vellumcast.html", "t/a/vellumcast.html", "t/a/imageback.html",
                                          "t/a/" + Viewer("p1.jpg"), "t/a/" + Viewer("p2.jpg")};
  struct TCase {
    const char* rebuild;
    bool rewritten;
  };
  for (const TCase& c : {TCase{"--rebuild=0", false}, TCase{"--rebuild=1", true}}) {
    SCOPED_TRACE(c.rebuild);
    for (const std::string& page : pages) Age(page);
    const TCliResult r = RunCli({"index", "--style=modern", c.rebuild, "t"}, dir_.path());
    ASSERT_EQ(r.exit_code, 0) << r.err;
    for (const std::string& page : pages) EXPECT_EQ(ModifiedAt(page) != 1000000000, c.rewritten) << page;
  }
}

// --rebuild=1 makes the modern images and their facts again: a damaged
// thumbnail and a damaged manifest do not survive it.
TEST_F(CliRecordTest, RebuildRemakesModernThumbnailsAndFacts) {
  TwoImages("t");
  ASSERT_EQ(RunCli({"index", "--style=modern", "t"}, dir_.path()).exit_code, 0);
  char stem[32];
  NamedImageStem("p1.jpg", stem, sizeof stem);
  const std::string thumb = std::string("t/quarto_tn/") + stem + "-1x.jpg";
  const std::string good_thumb = ReadFileBytes(At(thumb));
  const std::string good_page = ReadFileBytes(At("t/" + Viewer("p1.jpg")));
  ASSERT_FALSE(good_thumb.empty());
  ASSERT_NE(good_page.find(" width=\"300\""), std::string::npos);
  ASSERT_TRUE(WriteFileBytes(At(thumb), "damaged"));
  // The width of p1.jpg (300) edited in the manifest.
  std::string manifest = ReadFileBytes(At("t/quarto_tn/vellumcast-modern.manifest"));
  const size_t line = manifest.find("\np1.jpg\t");
  ASSERT_NE(line, std::string::npos);
  const size_t width = manifest.find("\t300\t", line);
  ASSERT_NE(width, std::string::npos);
  manifest.replace(width, 5, "\t2147483647\t");
  ASSERT_TRUE(WriteFileBytes(At("t/quarto_tn/vellumcast-modern.manifest"), manifest));

  const TCliResult r = RunCli({"index", "--style=modern", "--rebuild=1", "t"}, dir_.path());
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(ReadFileBytes(At(thumb)), good_thumb);
  EXPECT_EQ(ReadFileBytes(At("t/" + Viewer("p1.jpg"))), good_page);
  EXPECT_EQ(ReadFileBytes(At("t/vellumcast.html")).find("2147483647"), std::string::npos);
}

// -v tells how many images were decoded and how many reused, in both styles.
TEST_F(CliRecordTest, VerboseCountsDecodedAndReusedImagesInBothStyles) {
  TwoImages("t");
  for (const char* style : {"--style=classic", "--style=modern"}) {
    SCOPED_TRACE(style);
    RemoveTree(At("t/quarto_tn"));
    struct TStep {
      const char* rebuild;
      const char* expected;
    };
    for (const TStep& step : {TStep{"--rebuild=0", "decoded 2, reused 0\n"}, TStep{"--rebuild=0", "decoded 0, reused 2\n"},
                              TStep{"--rebuild=1", "decoded 2, reused 0\n"}}) {
      const TCliResult r = RunCli({"index", "-v", style, "--createthumbs=1", step.rebuild, "t"}, dir_.path());
      ASSERT_EQ(r.exit_code, 0) << r.err;
      EXPECT_NE(r.out.find(step.expected), std::string::npos) << step.rebuild << "\n" << r.out;
    }
  }
}

// A subfolder whose page could not be written is neither linked from its
// parent nor counted in Files Processed.
TEST_F(CliRecordTest, ASubfolderWhosePageFailedIsNeitherLinkedNorCounted) {
  for (const char* style : {"--style=classic", "--style=modern"}) {
    SCOPED_TRACE(style);
    RemoveTree(At("t"));
    TwoImages("t/a");
    ASSERT_TRUE(MakeDirs(At("t/b")));
    TTinyTmpfs full(At("t/b"), 64 * 1024);
    if (!full.Mounted()) GTEST_SKIP() << full.Why();
    ASSERT_TRUE(WriteTestJpeg(At("t/b/p.jpg"), 20, 20));
    ASSERT_TRUE(full.Fill("filler"));
    const TCliResult r = RunCli({"index", style, "t"}, dir_.path());
    EXPECT_EQ(r.exit_code, 3) << r.err;
    EXPECT_NE(r.err.find("cannot write t/b/vellumcast.html"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("Files Processed: 2\n"), std::string::npos) << r.out;
    const std::string top = ReadFileBytes(At("t/vellumcast.html"));
    EXPECT_NE(top.find("a/vellumcast.html"), std::string::npos);
    EXPECT_EQ(top.find("b/vellumcast.html"), std::string::npos) << top;
  }
}

}  // namespace
