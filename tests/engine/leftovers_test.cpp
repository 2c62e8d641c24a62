#include "engine/store/leftovers.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "engine/run_helpers.h"
#include "fixtures/image_writers.h"

namespace {

// An id no process can have: one past the system's highest process id.
std::string GoneWriter() {
  long pid_max = 4194304;
  std::ifstream("/proc/sys/kernel/pid_max") >> pid_max;
  return std::to_string(pid_max + 1);
}

TEST(Leftovers, WriterIdComesFromTheTemporarySuffix) {
  EXPECT_EQ(TemporaryWriterId("vellumcast.html.tmp4242-1"), 4242);
  EXPECT_EQ(TemporaryWriterId("quarto_tn0.jpg.tmp77_3"), 77);
  EXPECT_EQ(TemporaryWriterId("quarto_tn0.jpg.tmp77_w3"), 77);
  EXPECT_EQ(TemporaryWriterId("vellumcast.html"), -1);
  EXPECT_EQ(TemporaryWriterId("vellumcast.html.tmp99999999999999999999999-1"), -1);
}

class LeftoversTest : public TEngineTest {
 protected:
  void Touch(const std::string& relative, const std::string& bytes = "partial") {
    ASSERT_TRUE(WriteFileBytes(Path(relative), bytes));
  }
};

// A run killed while writing left temporary files; the next run that writes
// the folder removes exactly those, and nothing that only looks like them.
TEST_F(LeftoversTest, NextRunRemovesTheTemporaryFilesOfAKilledRun) {
  const std::string gone = GoneWriter();
  const std::string own = std::to_string(::getpid());
  Touch("t/a.bmp", "");
  const std::vector<std::string> leftovers = {
      "t/vellumcast.html.tmp" + gone + "-1",       "t/vellumcast3.html.tmp" + gone + "-2",
      "t/imageback.html.tmp" + gone + "-3",        "t/quarto_tn/quarto_tn0.jpg.tmp" + gone + "_4",
      "t/quarto_tn/quarto_tn5.jpg.tmp" + gone + "_w5", "t/quarto_tn/vellumcast.manifest.tmp" + gone + "-6",
      "v/vellumcast.html.tmp" + gone + "-7",  // a folder without a thumbnail folder
  };
  const std::vector<std::string> kept = {
      "t/notes.txt.tmp" + gone + "-1",               // base not generated
      "t/my vellumcast.html.tmp" + gone + "-1",      // base not generated
      "t/quarto_tn0.jpg.tmp" + gone + "_1",          // a thumbnail name outside the thumbnail folder
      "t/quarto_tn/vellumcast.html.tmp" + gone + "-1",  // a page name inside it
      "t/vellumcast7.html.tmp" + own + "-999",       // this process writes it
      "t/vellumcast8.html.tmp1-1",                   // process 1 is alive
      "t/sub/vellumcast.html.tmp" + gone + "-1",     // a folder the run does not write (no images)
      "outside/quarto_tn0.jpg.tmp" + gone + "_1",    // reached only through a link
  };
  for (const std::string& name : leftovers) Touch(name);
  for (const std::string& name : kept) Touch(name, "keep");
  ASSERT_TRUE(MakeDirs(Path("t/sub/empty")));
  ASSERT_TRUE(MakeDirs(Path("u")));
  Touch("u/b.bmp", "");
  Touch("v/c.bmp", "");
  ASSERT_EQ(::symlink(Path("outside").c_str(), Path("u/quarto_tn").c_str()), 0);
  ASSERT_EQ(::symlink(Path("t/notes.txt.tmp" + gone + "-1").c_str(),
                      Path("u/vellumcast.html.tmp" + gone + "-9").c_str()), 0);

  RunIndex(Path("t"), [](TThreadVellumcast& w) { w.options.hlinks = 0; });
  RunIndex(Path("u"));
  RunIndex(Path("v"));

  for (const std::string& name : leftovers) EXPECT_FALSE(Exists(name)) << name;
  for (const std::string& name : kept) EXPECT_EQ(Page(name), "keep") << name;
  struct stat info;
  EXPECT_EQ(::lstat(Path("u/vellumcast.html.tmp" + gone + "-9").c_str(), &info), 0);  // links stay
  EXPECT_TRUE(Exists("t/vellumcast.html"));
}

}  // namespace

namespace {

// A completed run puts its thumbnail manifest in place last: a thumbnail
// folder unchanged since is not listed again, and one changed since (here
// by a later run that died while writing) is.
TEST_F(LeftoversTest, ThumbnailFolderChangedSinceItsManifestIsLookedThrough) {
  const std::string gone = GoneWriter();
  ASSERT_TRUE(WriteTestJpeg(Path("t/a.jpg"), 40, 30));
  ASSERT_TRUE(WriteTestBmp24(Path("t/b.bmp"), 30, 40));
  const auto thumbnails = [](TThreadVellumcast& w) { w.options.createthumbs = 1; };
  RunIndex(Path("t"), thumbnails);
  ASSERT_TRUE(Exists("t/quarto_tn/vellumcast.manifest"));
  const std::string leftover = "t/quarto_tn/quarto_tn1.jpg.tmp" + gone + "_2";
  Touch(leftover);
  // The folder's time as a run that died a second after the manifest left it
  // (a test runs within one tick of the file system's clock).
  struct stat manifest;
  ASSERT_EQ(::stat(Path("t/quarto_tn/vellumcast.manifest").c_str(), &manifest), 0);
  timespec times[2] = {{0, UTIME_OMIT}, manifest.st_ctim};
  times[1].tv_sec += 1;
  ASSERT_EQ(::utimensat(AT_FDCWD, Path("t/quarto_tn").c_str(), times, 0), 0);
  RunIndex(Path("t"), thumbnails);
  EXPECT_FALSE(Exists(leftover));
  EXPECT_TRUE(Exists("t/quarto_tn/quarto_tn1.jpg"));
}

}  // namespace
