// What a run could not write is counted and named, never reported as done:
// read-only folders, a full disk, more failures than the report keeps.

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "engine/run_helpers.h"
#include "engine/run/run_report.h"
#include "fixtures/image_writers.h"
#include "fixtures/mount_fixtures.h"
#include "fixtures/tree_writer.h"
#include "platform/dir_listing.h"

namespace {

class RunFailuresTest : public TEngineTest {
 protected:
  void Touch(const std::string& relative) { ASSERT_TRUE(WriteFileBytes(Path(relative), "")); }
  // Names below `relative` that hold "tmp": left-over temporary files.
  int TemporaryFiles(const std::string& relative) {
    int found = 0;
    TDirListing listing(Path(relative).c_str(), "*tmp*");
    while (listing.Next()) ++found;
    return found;
  }
};

TEST_F(RunFailuresTest, ReadOnlyStartingFolderCountsNoCatalogAndNamesEveryPage) {
  Touch("ro/a.bmp");
  Touch("ro/sub/b.bmp");
  TReadOnlyBind read_only(Path("ro"));
  if (!read_only.Mounted()) GTEST_SKIP() << read_only.Why();
  const TRunResult run = RunIndex(Path("ro"));
  EXPECT_EQ(run.filecount, 0);    // no page could be started for a cell
  EXPECT_EQ(run.indexcount, 0);
  EXPECT_EQ(run.failures, 2);
  EXPECT_EQ(run.failure_lines,
            (std::vector<std::string>{"cannot write " + Path("ro/sub/vellumcast.html") + ": Read-only file system",
                                      "cannot write " + Path("ro/vellumcast.html") + ": Read-only file system"}));
  EXPECT_FALSE(Exists("ro/vellumcast.html"));
}

TEST_F(RunFailuresTest, AnUnwritableSubfolderFailsAloneAndTheRestIsWritten) {
  Touch("t/a.bmp");
  Touch("t/locked/b.bmp");
  Touch("t/open/c.bmp");
  TReadOnlyBind read_only(Path("t/locked"));
  if (!read_only.Mounted()) GTEST_SKIP() << read_only.Why();
  const TRunResult run = RunIndex(Path("t"));
  EXPECT_EQ(run.indexcount, 2);
  EXPECT_EQ(run.failure_lines,
            std::vector<std::string>{"cannot write " + Path("t/locked/vellumcast.html") + ": Read-only file system"});
  EXPECT_TRUE(Exists("t/open/vellumcast.html"));
  EXPECT_TRUE(Exists("t/vellumcast.html"));
}

TEST_F(RunFailuresTest, AFullDiskFailsPagesAndThumbnailsAndLeavesNoPartFiles) {
  for (const bool straightforward : {true, false}) {
    SCOPED_TRACE(straightforward ? "straightforward" : "fast");
    const std::string root = straightforward ? "full1" : "full2";
    ASSERT_TRUE(MakeDirs(Path(root)));
    TTinyTmpfs disk(Path(root), 64 * 1024);
    if (!disk.Mounted()) GTEST_SKIP() << disk.Why();
    ASSERT_TRUE(WriteTestJpeg(Path(root + "/a.jpg"), 64, 48));
    ASSERT_TRUE(WriteTestJpeg(Path(root + "/b.jpg"), 48, 64));
    ASSERT_TRUE(disk.Fill("filler"));
    const TRunResult run = RunIndex(Path(root), [&](TThreadVellumcast& w) {
      w.options.createthumbs = 1;
      w.options.straightforward = straightforward ? 1 : 0;
    });
    EXPECT_EQ(run.filecount, 0);  // the page holding the two cells was not written
    EXPECT_EQ(run.indexcount, 0);
    EXPECT_EQ(run.failures, 3);  // two thumbnails, then the page
    ASSERT_EQ(run.failure_lines.size(), 3u);
    EXPECT_EQ(run.failure_lines[0],
              "cannot write " + Path(root + "/quarto_tn/quarto_tn0.jpg") + ": No space left on device");
    EXPECT_EQ(run.failure_lines[2], "cannot write " + Path(root + "/vellumcast.html") + ": No space left on device");
    EXPECT_FALSE(Exists(root + "/vellumcast.html"));
    EXPECT_EQ(TemporaryFiles(root), 0);
    EXPECT_EQ(TemporaryFiles(root + "/quarto_tn"), 0);
  }
}

TEST_F(RunFailuresTest, EveryFailureIsCountedAndTheFirstTwentyAreKept) {
  for (int i = 0; i < 25; ++i) Touch("many/s" + std::to_string(100 + i) + "/a.bmp");
  TReadOnlyBind read_only(Path("many"));
  if (!read_only.Mounted()) GTEST_SKIP() << read_only.Why();
  const TRunResult run = RunIndex(Path("many"), [](TThreadVellumcast& w) { w.options.sort = 0; });
  EXPECT_EQ(run.failures, 26);  // 25 subfolders and the top folder
  ASSERT_EQ(run.failure_lines.size(), static_cast<size_t>(TRunReport::kKeptEntries));
  EXPECT_EQ(run.indexcount, 0);
}

TEST(RunReport, CountsEveryKindKeepsTheFirstInOrderAndIsSafeAcrossThreads) {
  TRunReport report;
  report.AddFailure(TRunFailure::kPage, "/x/vellumcast.html", EROFS);
  report.AddWarning(TRunWarning::kNotEntered, "/x/out", 0, "a symbolic link to a folder outside the starting folder");
  report.AddFailure(TRunFailure::kThumbnail, "/x/quarto_tn/quarto_tn0.jpg", 0);
  TRunEntry entry;
  ASSERT_TRUE(report.KeptFailure(0, &entry));
  EXPECT_STREQ(entry.action, "cannot write");
  EXPECT_STREQ(entry.path, "/x/vellumcast.html");
  EXPECT_STREQ(entry.reason, "Read-only file system");
  ASSERT_TRUE(report.KeptFailure(1, &entry));
  EXPECT_STREQ(entry.reason, "unknown error");
  EXPECT_FALSE(report.KeptFailure(2, &entry));
  ASSERT_TRUE(report.KeptWarning(0, &entry));
  EXPECT_STREQ(entry.action, "not entered");

  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&report] {
      for (int i = 0; i < 500; ++i) report.AddFailure(TRunFailure::kBackLink, "/y/imageback.html", ENOSPC);
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(report.Failures(TRunFailure::kBackLink), 2000);
  EXPECT_EQ(report.FailureCount(), 2002);
  EXPECT_EQ(report.WarningCount(), 1);
  EXPECT_TRUE(report.KeptFailure(TRunReport::kKeptEntries - 1, &entry));
  EXPECT_FALSE(report.KeptFailure(TRunReport::kKeptEntries, &entry));
}

}  // namespace
