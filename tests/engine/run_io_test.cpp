// The file traffic of a run: the probe log through one descriptor per run,
// a folder's images listed once its subfolders are walked, page files written
// in large pieces.

#include <gtest/gtest.h>
#include <dirent.h>
#include <unistd.h>

#include <climits>
#include <string>
#include <vector>

#include "engine/classic/image_cell.h"
#include "engine/store/page_file.h"
#include "engine/run_helpers.h"
#include "fixtures/tree_writer.h"

namespace {

// Descriptors of this process open on a file whose path ends in "/fn.log".
int OpenProbeLogDescriptors() {
  int count = 0;
  DIR* fds = ::opendir("/proc/self/fd");
  if (fds == nullptr) return -1;
  while (const dirent* entry = ::readdir(fds)) {
    char target[PATH_MAX];
    const std::string link = std::string("/proc/self/fd/") + entry->d_name;
    const ssize_t length = ::readlink(link.c_str(), target, sizeof target - 1);
    if (length <= 0) continue;
    target[length] = '\0';
    const std::string path = target;
    if (path.size() >= 7 && path.compare(path.size() - 7, 7, "/fn.log") == 0) ++count;
  }
  ::closedir(fds);
  return count;
}

class RunIoTest : public TEngineTest {
 protected:
  void Touch(const std::string& relative) { ASSERT_TRUE(WriteFileBytes(Path(relative), "")); }
  void LogLine(const std::string& relative) {
    std::string out;
    WriteImageSize(out, Path(relative).c_str(), TCellOptions{});
  }
};

TEST_F(RunIoTest, ASessionKeepsOneDescriptorAndTheLogIsWholeAfterEveryLine) {
  ASSERT_TRUE(WriteFileBytes(Path("fn.log"), "earlier\r\n"));
  std::string expected = "earlier\r\n";
  {
    TProbeLogSession session;
    EXPECT_EQ(OpenProbeLogDescriptors(), 0);  // opened at the first line only
    for (const char* name : {"a.bmp", "b c.gif", "d.jpg"}) {
      LogLine(name);
      expected += Path(name) + "\r\n";
      EXPECT_EQ(Page("fn.log"), expected) << "no line may wait in a buffer";
      EXPECT_EQ(OpenProbeLogDescriptors(), 1);
    }
  }
  EXPECT_EQ(OpenProbeLogDescriptors(), 0);
  LogLine("e.bmp");  // without a session: opened and closed per line
  expected += Path("e.bmp") + "\r\n";
  EXPECT_EQ(Page("fn.log"), expected);
  EXPECT_EQ(OpenProbeLogDescriptors(), 0);
}

TEST_F(RunIoTest, ASessionWithoutLinesCreatesNoLogAndTheLogGoesWhereTheFirstLineIs) {
  ASSERT_TRUE(MakeDirs(Path("later")));
  {
    TProbeLogSession session;
    EXPECT_FALSE(Exists("fn.log"));
    ASSERT_EQ(::chdir(Path("later").c_str()), 0);
    LogLine("x.bmp");
    {
      TProbeLogSession inner;  // nested: its own descriptor, the same file, in order
      LogLine("y.bmp");
    }
    LogLine("z.bmp");
  }
  EXPECT_FALSE(Exists("fn.log"));
  EXPECT_EQ(Page("later/fn.log"), Path("x.bmp") + "\r\n" + Path("y.bmp") + "\r\n" + Path("z.bmp") + "\r\n");
}

// Counts the probe log descriptors at every message of a run.
class TDescriptorOwner : public TOwnerWindow {
 public:
  void Post(uint32_t) override {
    const int open = OpenProbeLogDescriptors();
    if (open > most) most = open;
  }
  int most = 0;
};

TEST_F(RunIoTest, ARunHoldsAtMostOneProbeLogDescriptorAndClosesIt) {
  for (const char* name : {"r/sub/a.bmp", "r/sub/b.bmp", "r/sub/deeper/c.bmp", "r/top.bmp"}) Touch(name);
  TDescriptorOwner owner;
  {
    TThreadVellumcast worker;
    worker.options.path = Path("r");
    worker.ownerwindow = &owner;
    ASSERT_TRUE(worker.Start());
    worker.WaitFor();
    EXPECT_EQ(worker.counters.filecount, 4);
  }
  EXPECT_EQ(owner.most, 1);
  EXPECT_EQ(OpenProbeLogDescriptors(), 0);
  // In the order of the cells: a folder after its subfolders.
  EXPECT_EQ(Page("fn.log"), Path("r/sub/deeper/c.bmp") + "\r\n" + Path("r/sub/a.bmp") + "\r\n" +
                                Path("r/sub/b.bmp") + "\r\n" + Path("r/top.bmp") + "\r\n");
}

// Adds an image to the top folder while its first subfolder's pages are
// written: the top folder's images are listed after its subfolders are
// walked, so the catalog holds it.
class TLateImageOwner : public TOwnerWindow {
 public:
  explicit TLateImageOwner(std::string path) : path_(std::move(path)) {}
  void Post(uint32_t message) override {
    if (message == WM_INDEX_PROGRESS && !written) written = WriteFileBytes(path_, "");
  }
  bool written = false;

 private:
  std::string path_;
};

TEST_F(RunIoTest, ImagesAddedWhileTheSubfoldersAreWalkedAreListed) {
  Touch("t/early.bmp");
  Touch("t/sub/inner.bmp");
  TLateImageOwner owner(Path("t/late.gif"));
  {
    TThreadVellumcast worker;
    worker.options.path = Path("t");
    worker.ownerwindow = &owner;
    ASSERT_TRUE(worker.Start());
    worker.WaitFor();
    EXPECT_EQ(worker.counters.filecount, 3);
  }
  ASSERT_TRUE(owner.written);
  const std::string top = Page("t/vellumcast.html");
  EXPECT_NE(top.find("<a href=\"late.gif\">"), std::string::npos) << top;
  EXPECT_NE(top.find("<a href=\"early.bmp\">"), std::string::npos);
  EXPECT_NE(top.find("<li><a href=\"sub/vellumcast.html\">sub</a> 1 images</li>"), std::string::npos);
}

TEST_F(RunIoTest, PagesLargerThanTheBufferAreWrittenWhole) {
  // Line feeds on both sides of every buffer boundary, and a long run without one.
  std::string text;
  std::string expected;
  for (int i = 0; i < 5000; ++i) {
    const std::string piece = std::string(static_cast<size_t>(i % 13), 'x') + "\n";
    text += piece;
    expected += piece.substr(0, piece.size() - 1) + "\r\n";
  }
  text += std::string(70000, 'y');
  expected += std::string(70000, 'y');
  TPageFile file;
  ASSERT_TRUE(file.Create(Path("vellumcast.html").c_str()));
  for (size_t at = 0; at < text.size(); at += 777) file.Write(text.substr(at, 777));
  EXPECT_FALSE(Exists("vellumcast.html"));
  ASSERT_TRUE(file.Commit());
  EXPECT_EQ(Page("vellumcast.html"), expected);
}

}  // namespace
