// Album texts and the search index as vellumcast-cli shows them: an
// unusable index.md is a warning (the run still succeeds), and index.md,
// being the user's file, outlives pruning and the clean-up; the search index
// goes where the catalog's top page is, is removed by the clean-up, and one
// that cannot be written is reported like any page.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cli/cli_runner.h"
#include "engine/store/generated_names.h"
#include "fixtures/image_writers.h"
#include "fixtures/tree_writer.h"

namespace {

namespace fs = std::filesystem;

class CliAlbumTest : public ::testing::Test {
 protected:
  TScratchDir dir_{"vc-cli-album"};
  std::string At(const std::string& relative) const { return dir_.Join(relative); }
  bool Exists(const std::string& relative) const {
    struct stat info;
    return ::lstat(At(relative).c_str(), &info) == 0;
  }
};

TEST_F(CliAlbumTest, IndexMdOutlivesPruneAndClean) {
  const std::string album = "Title: Harbour\n\nBoats.\n";
  struct TCase {
    const char* label;
    std::vector<std::string> extra;  // index options before the folder
  };
  const TCase cases[] = {
      {"in the tree", {}},
      {"output folder", {"--output=out"}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.label);
    RemoveTree(At("t"));
    RemoveTree(At("out"));
    ASSERT_TRUE(WriteTestJpeg(At("t/a/p1.jpg"), 60, 40));
    ASSERT_TRUE(WriteTestJpeg(At("t/a/p2.jpg"), 60, 40));
    ASSERT_TRUE(WriteFileBytes(At("t/a/index.md"), album));
    ASSERT_TRUE(WriteFileBytes(At("t/index.md"), "Title: Top\n"));
    std::vector<std::string> args = {"index", "--style=modern", "--prune=1"};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    args.push_back("t");
    TCliResult r = RunCli(args, dir_.path());
    ASSERT_EQ(r.exit_code, 0) << r.err;
    // Every image gone: the folder's pages are pruned, its index.md stays.
    ASSERT_TRUE(fs::remove(At("t/a/p1.jpg")));
    ASSERT_TRUE(fs::remove(At("t/a/p2.jpg")));
    r = RunCli(args, dir_.path());
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(ReadFileBytes(At("t/a/index.md")), album);
    const std::string catalog = c.extra.empty() ? "t" : "out";
    EXPECT_FALSE(Exists(catalog + "/a/vellumcast.html"));
    r = RunCli({"clean", catalog}, dir_.path());
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(ReadFileBytes(At("t/a/index.md")), album);
    EXPECT_EQ(ReadFileBytes(At("t/index.md")), "Title: Top\n");
  }
}

TEST_F(CliAlbumTest, AnUnusableIndexMdIsAWarningNotAFailure) {
  ASSERT_TRUE(WriteTestJpeg(At("t/p1.jpg"), 60, 40));
  ASSERT_TRUE(WriteFileBytes(At("t/index.md"), "Title: \xFF\xFE\n"));
  const TCliResult r = RunCli({"index", "--style=modern", "t"}, dir_.path());
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.err.find("warning: not used t/index.md: not UTF-8 text"), std::string::npos) << r.err;
  EXPECT_NE(ReadFileBytes(At("t/vellumcast.html")).find("<h1>t</h1>"), std::string::npos);
}

TEST_F(CliAlbumTest, TheSearchIndexGoesWithTheTopPageAndTheCleanUpTakesIt) {
  struct TCase {
    const char* label;
    std::vector<std::string> extra;
    const char* top;    // where the top page goes
    const char* other;  // where no index may be
  };
  const TCase cases[] = {
      {"in the tree", {}, "t", "out"},
      {"output folder", {"--output=out"}, "out", "t"},
  };
  const std::string index = std::string("/") + kSearchIndexFile;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.label);
    RemoveTree(At("t"));
    RemoveTree(At("out"));
    ASSERT_TRUE(WriteTestJpeg(At("t/a/p1.jpg"), 60, 40));
    ASSERT_TRUE(WriteTestJpeg(At("t/p2.jpg"), 60, 40));
    // A user's file of that name below the top is neither written nor pruned.
    ASSERT_TRUE(WriteFileBytes(At(std::string(c.top) + "/a" + index), "mine"));
    std::vector<std::string> args = {"index", "--style=modern", "--prune=1"};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    args.push_back("t");
    TCliResult r = RunCli(args, dir_.path());
    ASSERT_EQ(r.exit_code, 0) << r.err;
    ASSERT_TRUE(Exists(c.top + index));
    EXPECT_FALSE(Exists(c.other + index));
    EXPECT_NE(ReadFileBytes(At(c.top + index)).find("\"n\":\"p1.jpg\",\"p\":\"a/"), std::string::npos);
    r = RunCli(args, dir_.path());
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(ReadFileBytes(At(std::string(c.top) + "/a" + index)), "mine");
    r = RunCli({"clean", c.top}, dir_.path());
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_FALSE(Exists(c.top + index));
    EXPECT_TRUE(Exists("t/p2.jpg"));
  }
}

TEST_F(CliAlbumTest, ASearchIndexThatCannotBeWrittenIsReportedAndExitsThree) {
  ASSERT_TRUE(WriteTestJpeg(At("t/p1.jpg"), 60, 40));
  // A folder in the index's place: putting the file there fails for real.
  ASSERT_TRUE(MakeDirs(At(std::string("t/") + kSearchIndexFile)));
  const TCliResult r = RunCli({"index", "--style=modern", "t"}, dir_.path());
  EXPECT_EQ(r.exit_code, 3);
  EXPECT_NE(r.err.find(std::string("vellumcast-cli: cannot write t/") + kSearchIndexFile + ": "), std::string::npos)
      << r.err;
  EXPECT_TRUE(Exists("t/vellumcast.html"));
}

}  // namespace
