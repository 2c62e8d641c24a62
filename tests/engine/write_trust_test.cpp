// What a run writes stays where the run means it to, in both page styles: a
// linked or read-only thumbnail folder and a linked page are reported (and
// never written through), a folder swapped for a link while the run is in it
// gets nothing more, and a FIFO named fn.log does not hold the run up.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "engine/run_helpers.h"
#include "engine/store/generated_names.h"
#include "fixtures/image_writers.h"
#include "fixtures/mount_fixtures.h"
#include "fixtures/tree_writer.h"
#include "platform/dir_listing.h"

namespace {

struct TStyleCase {
  const char* label;
  int32_t style;
  int32_t straightforward;
};

// Every style and cell path a trust rule must hold for.
const TStyleCase kStyles[] = {
    {"classic, fast", 0, 0},
    {"classic, straightforward", 0, 1},
    {"modern", 1, 0},
};

class WriteTrustTest : public TEngineTest {
 protected:
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
  // The thumbnail file the style writes first for image `name` of `root`.
  std::string FirstThumbnail(const TStyleCase& c, const std::string& root, const char* name) {
    if (c.style == 0) return Path(root + "/quarto_tn/quarto_tn0.jpg");
    char stem[32];
    NamedImageStem(name, stem, sizeof stem);
    return Path(root + "/quarto_tn/" + stem + "-1x.jpg");
  }
  static void Configure(TThreadVellumcast& w, const TStyleCase& c) {
    w.options.createthumbs = 1;
    w.options.style = static_cast<TPageStyle>(c.style);
    w.options.straightforward = c.straightforward;
  }
};

TEST_F(WriteTrustTest, ALinkedThumbnailFolderIsReportedAndNeverWrittenThrough) {
  int n = 0;
  for (const TStyleCase& c : kStyles) {
    SCOPED_TRACE(c.label);
    const std::string root = "lt" + std::to_string(n++);
    ASSERT_TRUE(WriteTestJpeg(Path(root + "/a.jpg"), 64, 48));
    ASSERT_TRUE(MakeDirs(Path(root + "-elsewhere")));
    // A file of a generated name out there must not be replaced either.
    ASSERT_TRUE(WriteFileBytes(Path(root + "-elsewhere/" + kModernManifestFile), "user's"));
    Link(Path(root + "-elsewhere"), root + "/quarto_tn");
    const TRunResult run = RunIndex(Path(root), [&](TThreadVellumcast& w) { Configure(w, c); });
    EXPECT_EQ(Entries(root + "-elsewhere"), 1);
    EXPECT_EQ(Page(root + "-elsewhere/" + kModernManifestFile), "user's");
    EXPECT_TRUE(IsLink(root + "/quarto_tn"));
    EXPECT_EQ(run.indexcount, 1);
    EXPECT_EQ(run.failure_lines, std::vector<std::string>{"cannot write " + FirstThumbnail(c, root, "a.jpg") +
                                                          ": its folder is a symbolic link"});
    // The cell shows the full image instead.
    EXPECT_EQ(Page(root + "/vellumcast.html").find("quarto_tn/"), std::string::npos);
  }
}

TEST_F(WriteTrustTest, AReadOnlyThumbnailFolderIsReported) {
  int n = 0;
  for (const TStyleCase& c : kStyles) {
    SCOPED_TRACE(c.label);
    const std::string root = "ro" + std::to_string(n++);
    ASSERT_TRUE(WriteTestJpeg(Path(root + "/a.jpg"), 64, 48));
    ASSERT_TRUE(MakeDirs(Path(root + "/quarto_tn")));
    TReadOnlyBind read_only(Path(root + "/quarto_tn"));
    if (!read_only.Mounted()) GTEST_SKIP() << read_only.Why();
    const TRunResult run = RunIndex(Path(root), [&](TThreadVellumcast& w) { Configure(w, c); });
    EXPECT_EQ(run.indexcount, 1);
    EXPECT_EQ(run.failure_lines, std::vector<std::string>{"cannot write " + FirstThumbnail(c, root, "a.jpg") +
                                                          ": Read-only file system"});
    EXPECT_EQ(Page(root + "/vellumcast.html").find("quarto_tn/"), std::string::npos);
    EXPECT_EQ(Entries(root + "/quarto_tn"), 0);
  }
}

TEST_F(WriteTrustTest, ALinkedPageIsReportedAndItsTargetKept) {
  int n = 0;
  for (const TStyleCase& c : kStyles) {
    SCOPED_TRACE(c.label);
    const std::string root = "lp" + std::to_string(n++);
    ASSERT_TRUE(WriteTestJpeg(Path(root + "/a.jpg"), 64, 48));
    ASSERT_TRUE(WriteFileBytes(Path(root + "-target.html"), "user's page"));
    // The classic style's back-link page; the modern style's viewer page of a.jpg.
    std::string page = kBackLinkPageFile;
    if (c.style == 1) {
      char stem[32];
      NamedImageStem("a.jpg", stem, sizeof stem);
      page = std::string(kViewerPagePrefix) + (stem + 3) + ".html";  // the stem without "vc-"
    }
    Link(Path(root + "-target.html"), root + "/" + page);
    const TRunResult run = RunIndex(Path(root), [&](TThreadVellumcast& w) { Configure(w, c); });
    EXPECT_EQ(Page(root + "-target.html"), "user's page");
    EXPECT_TRUE(IsLink(root + "/" + page));
    EXPECT_EQ(run.failure_lines, std::vector<std::string>{"cannot write " + Path(root + "/" + page) +
                                                          ": a symbolic link stands in its place"});
  }
}

// Swaps the folder being written for a link to another folder at the first
// cell written.
class TSwappingOwner : public TOwnerWindow {
 public:
  TSwappingOwner(std::string folder, std::string elsewhere)
      : folder_(std::move(folder)), elsewhere_(std::move(elsewhere)) {}
  void Post(uint32_t message) override {
    if (message != WM_INDEX_PROGRESS || swapped) return;
    swapped = std::rename(folder_.c_str(), (folder_ + "-moved").c_str()) == 0 &&
              ::symlink(elsewhere_.c_str(), folder_.c_str()) == 0;
  }
  bool swapped = false;

 private:
  std::string folder_;
  std::string elsewhere_;
};

TEST_F(WriteTrustTest, AFolderSwappedForALinkMidRunGetsNoWriteThroughTheLink) {
  int n = 0;
  for (const TStyleCase& c : kStyles) {
    SCOPED_TRACE(c.label);
    const std::string root = "sw" + std::to_string(n++);
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg"}) ASSERT_TRUE(WriteTestJpeg(Path(root + "/" + name), 64, 48));
    ASSERT_TRUE(MakeDirs(Path(root + "-elsewhere")));
    TSwappingOwner owner(Path(root), Path(root + "-elsewhere"));
    {
      TThreadVellumcast worker;
      worker.options.path = Path(root);
      worker.ownerwindow = &owner;
      Configure(worker, c);
      ASSERT_TRUE(worker.Start());
      worker.WaitFor();
    }
    ASSERT_TRUE(owner.swapped);
    EXPECT_EQ(Entries(root + "-elsewhere"), 0);
    // Everything went on into the folder the run was in.
    EXPECT_TRUE(Exists(root + "-moved/vellumcast.html"));
    EXPECT_TRUE(Exists(root + "-moved/quarto_tn"));
  }
}

TEST_F(WriteTrustTest, AFifoNamedLikeTheProbeLogDoesNotHoldTheRunUp) {
  ASSERT_EQ(::mkfifo(Path("fn.log").c_str(), 0666), 0);  // the current folder is the scratch folder
  ASSERT_TRUE(WriteTestJpeg(Path("f/a.jpg"), 64, 48));
  const TRunResult run = RunIndex(Path("f"));  // no thumbnails: a probe log line per cell
  EXPECT_EQ(run.filecount, 1);
  EXPECT_EQ(run.indexcount, 1);
  struct stat info;
  ASSERT_EQ(::lstat(Path("fn.log").c_str(), &info), 0);
  EXPECT_TRUE(S_ISFIFO(info.st_mode));
}

}  // namespace
