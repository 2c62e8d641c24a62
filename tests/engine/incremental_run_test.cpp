// Re-runs over a catalogued tree: what stays untouched, what a doubtful
// manifest costs, what pruning removes and keeps, and runs killed midway.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <thread>

#include "engine/store/generated_names.h"
#include "fixtures/image_writers.h"
#include "fixtures/jpeg_coding_writer.h"
#include "fixtures/jpeg_fixtures.h"
#include "run_helpers.h"

namespace {

namespace fs = std::filesystem;

struct TFileState {
  std::string bytes;  // "/" for a folder, "->target" for a link
  ino_t inode = 0;
  int64_t mtime_ns = 0;
  bool operator==(const TFileState&) const = default;
};

using TTreeState = std::map<std::string, TFileState>;

TTreeState StateOf(const std::string& root) {
  TTreeState state;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
    const std::string relative = entry.path().lexically_relative(root).string();
    struct stat info {};
    EXPECT_EQ(::lstat(entry.path().c_str(), &info), 0);
    TFileState file;
    file.inode = info.st_ino;
    file.mtime_ns = static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    if (S_ISLNK(info.st_mode)) {
      file.bytes = "->" + fs::read_symlink(entry.path()).string();
    } else if (S_ISDIR(info.st_mode)) {
      file.bytes = "/";
      file.mtime_ns = 0;  // a folder's date moves with any temporary file in it
    } else {
      file.bytes = ReadFileBytes(entry.path().string());
    }
    state[relative] = file;
  }
  return state;
}

// The bytes of every entry, without identities.
std::map<std::string, std::string> BytesOf(const TTreeState& state) {
  std::map<std::string, std::string> bytes;
  for (const auto& [path, file] : state) bytes[path] = file.bytes;
  return bytes;
}

struct TCounts {
  int32_t decoded = 0;
  int32_t reused = 0;
};

class IncrementalRunTest : public TEngineTest {
 protected:
  void WritePhoto(const std::string& relative, int width, int height, uint32_t seed) {
    ASSERT_TRUE(MakeDirs(fs::path(Path(relative)).parent_path().string()));
    ASSERT_TRUE(WriteBytesFile(Path(relative),
                               EncodeJpegCoding(MakePhotoLikeImage(width, height, seed), JpegCodingsToCover()[0])));
  }

  void BuildTree() {
    for (int i = 0; i < 9; ++i) WritePhoto("tree/a/p" + std::to_string(i) + ".jpg", 120 + 7 * i, 90, i);
    ASSERT_TRUE(WriteTestGif(Path("tree/a/g.gif"), 50, 40));
    for (int i = 0; i < 3; ++i) WritePhoto("tree/b/c/q" + std::to_string(i) + ".jpg", 100, 100 + i, 30 + i);
    ASSERT_TRUE(WriteTestBmp24(Path("tree/b/d.bmp"), 30, 20));
  }

  TCounts Run(const std::function<void(TThreadVellumcast&)>& configure = {}) {
    TCounts counts;
    TThreadVellumcast worker;
    worker.options.path = Path("tree");
    worker.options.createthumbs = 1;
    worker.options.rowsperpage = 1;
    worker.options.cellsperrow = 3;
    if (configure) configure(worker);
    EXPECT_TRUE(worker.Start());
    worker.WaitFor();
    counts.decoded = worker.counters.decodedcount;
    counts.reused = worker.counters.reusedcount;
    return counts;
  }
};

constexpr int32_t kImages = 9 + 1 + 3 + 1;

TEST_F(IncrementalRunTest, AnUnchangedTreeIsReadNotWritten) {
  BuildTree();
  for (int32_t thumbs : {0, 1}) {
    SCOPED_TRACE(thumbs ? "thumbnails" : "no thumbnails");
    auto configure = [thumbs](TThreadVellumcast& w) { w.options.createthumbs = thumbs; };
    Run(configure);
    const TTreeState before = StateOf(Path("tree"));
    const TCounts again = Run(configure);
    EXPECT_EQ(again.decoded, 0);
    EXPECT_EQ(again.reused, thumbs ? kImages : 0);
    // Same bytes, same files (inodes), same dates: a publish step sees no change.
    EXPECT_TRUE(StateOf(Path("tree")) == before);
    EXPECT_TRUE(Exists("tree/a/vellumcast3.html"));
    if (thumbs == 1) {
      EXPECT_TRUE(Exists("tree/a/quarto_tn/vellumcast.manifest"));
    }
  }
  // With --rebuild every file is written anew, to the same bytes.
  const TTreeState before = StateOf(Path("tree"));
  const TCounts rebuilt = Run([](TThreadVellumcast& w) { w.options.rebuild = 1; });
  EXPECT_EQ(rebuilt.decoded, kImages);
  EXPECT_EQ(rebuilt.reused, 0);
  const TTreeState after = StateOf(Path("tree"));
  EXPECT_TRUE(BytesOf(after) == BytesOf(before));
  EXPECT_NE(after.at("a/vellumcast.html").inode, before.at("a/vellumcast.html").inode);
  EXPECT_NE(after.at("a/quarto_tn/quarto_tn0.jpg").inode, before.at("a/quarto_tn/quarto_tn0.jpg").inode);
}

TEST_F(IncrementalRunTest, AThumbnailDecodedAgainToTheSameBytesKeepsItsDate) {
  BuildTree();
  Run();
  const TTreeState before = StateOf(Path("tree"));
  fs::last_write_time(Path("tree/a/p4.jpg"), fs::file_time_type::clock::now());
  const TCounts counts = Run();
  EXPECT_EQ(counts.decoded, 1);
  const TTreeState after = StateOf(Path("tree"));
  EXPECT_TRUE(after.at("a/quarto_tn/quarto_tn4.jpg") == before.at("a/quarto_tn/quarto_tn4.jpg"));
  EXPECT_TRUE(after.at("a/vellumcast1.html") == before.at("a/vellumcast1.html"));
  // Only the manifest, which records the new date, changed.
  EXPECT_NE(after.at("a/quarto_tn/vellumcast.manifest").bytes,
            before.at("a/quarto_tn/vellumcast.manifest").bytes);
}

// Any doubt about a manifest or a thumbnail means decoding again, and the
// result is the tree of a rebuild.
TEST_F(IncrementalRunTest, ADoubtfulManifestOrThumbnailIsDecodedAgain) {
  const std::string manifest = "tree/a/quarto_tn/vellumcast.manifest";
  const struct {
    const char* label;
    std::function<void()> spoil;
    int32_t decodes;
    int32_t decodes_after = 0;  // a thumbnail that cannot be written is tried every time
  } cases[] = {
      {"manifest missing", [&] { fs::remove(Path(manifest)); }, 10},
      {"manifest cut short",
       [&] { fs::resize_file(Path(manifest), fs::file_size(Path(manifest)) - 5); }, 10},
      {"manifest of another version",
       [&] {
         std::string text = ReadFileBytes(Path(manifest));
         text.replace(text.find("settings 1 "), 11, "settings 2 ");
         ASSERT_TRUE(WriteFileBytes(Path(manifest), text));
       },
       10},
      {"manifest is garbage", [&] { ASSERT_TRUE(WriteFileBytes(Path(manifest), "\x01\x02")); },
       10},
      {"manifest is a link to a good copy",
       [&] {
         fs::rename(Path(manifest), Path("copy.manifest"));
         fs::create_symlink(Path("copy.manifest"), Path(manifest));
       },
       10, 10},  // a link is the user's: never replaced, so never trusted
      {"thumbnail of another size",
       [&] { ASSERT_TRUE(WriteFileBytes(Path("tree/a/quarto_tn/quarto_tn3.jpg"), "x")); }, 1},
      {"thumbnail missing", [&] { fs::remove(Path("tree/a/quarto_tn/quarto_tn5.jpg")); }, 1},
      {"thumbnail is a folder",
       [&] {
         fs::remove(Path("tree/a/quarto_tn/quarto_tn6.jpg"));
         fs::create_directory(Path("tree/a/quarto_tn/quarto_tn6.jpg"));
       },
       1, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    RemoveTree(Path("tree"));
    BuildTree();
    Run();
    c.spoil();
    if (HasFatalFailure()) return;
    const TCounts counts = Run();
    EXPECT_EQ(counts.decoded, c.decodes);
    EXPECT_EQ(counts.decoded + counts.reused, kImages);
    const auto incremental = BytesOf(StateOf(Path("tree")));
    Run([](TThreadVellumcast& w) { w.options.rebuild = 1; });
    EXPECT_TRUE(BytesOf(StateOf(Path("tree"))) == incremental);
    // The next run trusts what this one wrote.
    EXPECT_EQ(Run().decoded, c.decodes_after);
  }
}

TEST_F(IncrementalRunTest, PruningRemovesOnlyWhatRunsWroteAndNoLongerWrite) {
  BuildTree();
  // Files of the user's with names close to generated ones, and a link.
  ASSERT_TRUE(WriteFileBytes(Path("tree/a/notes.html"), "mine"));
  ASSERT_TRUE(WriteFileBytes(Path("tree/a/Vellumcast7.html"), "mine"));
  ASSERT_TRUE(WriteFileBytes(Path("tree/a/vellumcast02.html"), "mine"));
  ASSERT_TRUE(WriteFileBytes(Path("tree/a/keep.html"), "link target"));
  fs::create_symlink("keep.html", Path("tree/a/vellumcast9.html"));
  auto prune = [](TThreadVellumcast& w) { w.options.prune = kSwitchOn; };
  Run(prune);
  ASSERT_TRUE(WriteFileBytes(Path("tree/a/quarto_tn/quarto_tn50.jpg"), "mine"));
  ASSERT_TRUE(Exists("tree/a/vellumcast3.html"));

  // Without pruning, nothing is ever deleted.
  for (int i = 3; i < 9; ++i) fs::remove(Path("tree/a/p" + std::to_string(i) + ".jpg"));
  Run();
  EXPECT_TRUE(Exists("tree/a/vellumcast3.html"));
  EXPECT_TRUE(Exists("tree/a/quarto_tn/quarto_tn9.jpg"));

  // Four images left: one page of three cells and one of one.
  Run(prune);
  EXPECT_TRUE(Exists("tree/a/vellumcast1.html"));
  EXPECT_FALSE(Exists("tree/a/vellumcast2.html"));
  EXPECT_FALSE(Exists("tree/a/vellumcast3.html"));
  EXPECT_TRUE(Exists("tree/a/quarto_tn/quarto_tn3.jpg"));
  for (int i = 4; i < 10; ++i) EXPECT_FALSE(Exists("tree/a/quarto_tn/quarto_tn" + std::to_string(i) + ".jpg")) << i;
  for (const char* mine : {"notes.html", "Vellumcast7.html", "vellumcast02.html", "keep.html", "quarto_tn/quarto_tn50.jpg"})
    EXPECT_TRUE(Exists(std::string("tree/a/") + mine)) << mine;
  EXPECT_TRUE(fs::is_symlink(Path("tree/a/vellumcast9.html")));

  // No back links: no back-link pages.
  Run([](TThreadVellumcast& w) {
    w.options.prune = kSwitchOn;
    w.options.blinks = 0;
  });
  EXPECT_FALSE(Exists("tree/a/imageback.html"));
  EXPECT_FALSE(Exists("tree/imageback.html"));

  // No thumbnails: the thumbnails, the manifest and the emptied folder go.
  Run([](TThreadVellumcast& w) {
    w.options.prune = kSwitchOn;
    w.options.createthumbs = 0;
  });
  EXPECT_FALSE(Exists("tree/b/quarto_tn"));
  EXPECT_FALSE(Exists("tree/a/quarto_tn/vellumcast.manifest"));
  EXPECT_FALSE(Exists("tree/a/quarto_tn/quarto_tn0.jpg"));
  EXPECT_TRUE(Exists("tree/a/quarto_tn/quarto_tn50.jpg"));

  // A folder that no longer qualifies loses every page.
  Run(prune);
  for (int i = 0; i < 3; ++i) fs::remove(Path("tree/a/p" + std::to_string(i) + ".jpg"));
  fs::remove(Path("tree/a/g.gif"));
  Run(prune);
  EXPECT_FALSE(Exists("tree/a/vellumcast.html"));
  EXPECT_FALSE(Exists("tree/a/vellumcast1.html"));
  EXPECT_FALSE(Exists("tree/a/imageback.html"));
  EXPECT_FALSE(Exists("tree/a/quarto_tn/quarto_tn0.jpg"));
  EXPECT_FALSE(Exists("tree/a/quarto_tn/vellumcast.manifest"));
  for (const char* mine : {"notes.html", "Vellumcast7.html", "vellumcast02.html", "keep.html", "quarto_tn/quarto_tn50.jpg"})
    EXPECT_TRUE(Exists(std::string("tree/a/") + mine)) << mine;
  EXPECT_TRUE(Exists("tree/b/c/vellumcast.html"));
}

// Runs killed (SIGKILL) after a number of progress messages, in a child
// process: the next run still gives exactly the tree of a rebuild.
class TKillingOwner : public TOwnerWindow {
 public:
  explicit TKillingOwner(int after) : after_(after) {}
  void Post(uint32_t message) override {
    if (message == WM_INDEX_PROGRESS && ++seen_ == after_) ::kill(::getpid(), SIGKILL);
  }

 private:
  int after_;
  std::atomic<int> seen_{0};
};

TEST_F(IncrementalRunTest, ARunKilledAtAnyPointLeavesATreeTheNextRunMakesWhole) {
  for (int kill_after : {1, 2, 3, 5, 8, 12, 17}) {
    SCOPED_TRACE("killed after progress message " + std::to_string(kill_after));
    // Half the runs keep the cell size (thumbnails move and are reused),
    // half change it (every thumbnail is made anew).
    const int32_t width = kill_after % 2 == 0 ? 120 : 100;
    RemoveTree(Path("tree"));
    BuildTree();
    Run();
    // Changes that make the killed run move, decode and rewrite.
    WritePhoto("tree/a/a_first.jpg", 140, 100, 77);
    fs::remove(Path("tree/a/p2.jpg"));
    fs::last_write_time(Path("tree/b/c/q1.jpg"), fs::file_time_type::clock::now());
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      // Only the fast path in the child: it uses no thread made before the fork.
      TKillingOwner owner(kill_after);
      TThreadVellumcast worker;
      worker.options.path = Path("tree");
      worker.ownerwindow = &owner;
      worker.options.createthumbs = 1;
      worker.options.cellwidth = width;
      worker.options.rowsperpage = 1;
      worker.options.cellsperrow = 3;
      if (!worker.Start()) ::_exit(2);
      worker.WaitFor();
      ::_exit(0);
    }
    int status = 0;
    for (int waited = 0; ::waitpid(child, &status, WNOHANG) == 0; ++waited) {
      if (waited > 600) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
        FAIL() << "the run did not end";
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "not killed";
    const TCounts next = Run([width](TThreadVellumcast& w) { w.options.cellwidth = width; });
    EXPECT_EQ(next.decoded + next.reused, kImages);
    auto incremental = BytesOf(StateOf(Path("tree")));
    Run([width](TThreadVellumcast& w) {
      w.options.cellwidth = width;
      w.options.rebuild = 1;
    });
    auto rebuilt = BytesOf(StateOf(Path("tree")));
    EXPECT_TRUE(incremental == rebuilt);
    for (const auto& [path, bytes] : rebuilt) {
      if (incremental.count(path) == 0) ADD_FAILURE() << "only after the rebuild: " << path;
    }
    for (const auto& [path, bytes] : incremental) {
      const auto other = rebuilt.find(path);
      if (other == rebuilt.end()) {
        ADD_FAILURE() << "only after the re-run: " << path;
      } else if (other->second != bytes) {
        ADD_FAILURE() << "differs: " << path;
      }
    }
  }
}

}  // namespace
