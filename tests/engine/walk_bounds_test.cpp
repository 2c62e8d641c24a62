// A run writes only below its starting folder: links out of the tree are not
// entered unless asked for, kernel file systems never, and no linked
// thumbnail folder, page or probe log is written through.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/run_helpers.h"
#include "fixtures/image_writers.h"
#include "fixtures/tree_writer.h"
#include "platform/dir_listing.h"

namespace {

class WalkBoundsTest : public TEngineTest {
 protected:
  void Touch(const std::string& relative) { ASSERT_TRUE(WriteFileBytes(Path(relative), "")); }
  void Link(const std::string& target, const std::string& relative) {
    ASSERT_EQ(::symlink(target.c_str(), Path(relative).c_str()), 0) << relative;
  }
  bool IsLink(const std::string& relative) {
    struct stat info;
    return ::lstat(Path(relative).c_str(), &info) == 0 && S_ISLNK(info.st_mode);
  }
  int Entries(const std::string& relative) {
    int found = 0;
    TDirListing listing(Path(relative).c_str(), "*.*");
    while (listing.Next()) found += std::string(listing.Name()) != "." && std::string(listing.Name()) != "..";
    return found;
  }
};

TEST_F(WalkBoundsTest, LinksOutOfTheTreeAreEnteredOnlyOnRequest) {
  Touch("root/in/a.bmp");
  Touch("outside/o.bmp");
  Link(Path("outside"), "root/out");
  Link("in", "root/inner");  // inside the tree: walked as before
  const TRunResult kept_in = RunIndex(Path("root"));
  EXPECT_FALSE(Exists("outside/vellumcast.html"));
  EXPECT_EQ(Entries("outside"), 1);
  EXPECT_TRUE(Exists("root/in/vellumcast.html"));
  EXPECT_EQ(kept_in.warning_lines,
            std::vector<std::string>{"not entered " + Path("root/out") +
                                     ": a symbolic link to a folder outside the starting folder"});
  EXPECT_EQ(kept_in.failures, 0);
  EXPECT_EQ(Page("root/vellumcast.html").find("out/vellumcast.html"), std::string::npos);
  EXPECT_NE(Page("root/vellumcast.html").find("inner/vellumcast.html"), std::string::npos);

  const TRunResult followed = RunIndex(Path("root"), [](TThreadVellumcast& w) { w.options.followlinks = 1; });
  EXPECT_TRUE(Exists("outside/vellumcast.html"));
  EXPECT_EQ(followed.warnings, 0);
}

TEST_F(WalkBoundsTest, ALinkToTheRootFolderIsNotWalked) {
  Touch("r/a.bmp");
  Link("/", "r/everything");
  const TRunResult run = RunIndex(Path("r"));
  EXPECT_EQ(run.dircount, 1);
  EXPECT_EQ(run.indexcount, 1);
  EXPECT_EQ(run.warnings, 1);
}

TEST_F(WalkBoundsTest, KernelFileSystemsAreNeverEnteredEvenWhenFollowingLinks) {
  struct stat info;
  if (::stat("/proc/self", &info) != 0) GTEST_SKIP() << "no /proc here";
  Touch("k/a.bmp");
  Link("/proc", "k/proc");
  Link("/sys", "k/sys");
  Link("/dev", "k/dev");
  const TRunResult run = RunIndex(Path("k"), [](TThreadVellumcast& w) { w.options.followlinks = 1; });
  EXPECT_EQ(run.indexcount, 1);
  EXPECT_EQ(run.failures, 0);
  std::vector<std::string> expected;
  for (const char* name : {"dev", "proc", "sys"}) {
    expected.push_back("not entered " + Path(std::string("k/") + name) + ": a kernel file system");
  }
  std::vector<std::string> seen = run.warning_lines;
  std::sort(seen.begin(), seen.end());
  if (::stat("/sys/kernel", &info) != 0) expected.erase(expected.begin() + 2);  // no sysfs mounted
  EXPECT_EQ(seen, expected);
  // Started there, nothing is listed either.
  const TRunResult started = RunIndex("/proc");
  EXPECT_EQ(started.dircount, 0);
  EXPECT_EQ(started.warnings, 1);
}

// A linked thumbnail folder: write_trust_test.cpp, for both styles.

TEST_F(WalkBoundsTest, ALinkedProbeLogIsNotWrittenThroughAndTheRunGoesOn) {
  Touch("p/a.bmp");
  ASSERT_TRUE(WriteFileBytes(Path("log-target"), "untouched"));
  Link(Path("log-target"), "fn.log");  // the current folder is the scratch folder
  const TRunResult run = RunIndex(Path("p"));
  EXPECT_EQ(run.filecount, 1);
  EXPECT_EQ(run.indexcount, 1);
  EXPECT_EQ(Page("log-target"), "untouched");
  EXPECT_TRUE(IsLink("fn.log"));
}

}  // namespace
