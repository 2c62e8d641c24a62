// The thumbnails produced ahead on every core from sampled rows and the
// straightforward path (full decode, cell by cell) must give the same run:
// every file of the output tree byte for byte, the probe log, and the posted
// messages with the counter values at each, over JPEG files of every coding,
// damaged and truncated files, GIF and BMP files, the shared image corpus
// (when present),
// folders whose thumbnails or pages cannot be written, and several options.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "engine/classic/cell_producer.h"
#include "engine/run/thread_vellumcast.h"
#include "fixtures/corpus_dir.h"
#include "fixtures/exif_writer.h"
#include "fixtures/image_writers.h"
#include "fixtures/jpeg_coding_writer.h"
#include "fixtures/jpeg_fixtures.h"
#include "fixtures/tree_writer.h"

namespace {

namespace fs = std::filesystem;

struct TPost {
  uint32_t message;
  int32_t dircount;
  int32_t filecount;
  int32_t indexcount;
  bool operator==(const TPost&) const = default;
};

// Records every message with the worker's counters at the moment it is posted.
class TCounterOwner : public TOwnerWindow {
 public:
  explicit TCounterOwner(const TThreadVellumcast& worker) : worker_(worker) {}
  void Post(uint32_t message) override {
    std::lock_guard<std::mutex> lock(mutex_);
    posts_.push_back(TPost{message, worker_.counters.dircount.load(), worker_.counters.filecount.load(),
                           worker_.counters.indexcount.load()});
  }
  std::vector<TPost> Posts() {
    std::lock_guard<std::mutex> lock(mutex_);
    return posts_;
  }

 private:
  const TThreadVellumcast& worker_;
  std::mutex mutex_;
  std::vector<TPost> posts_;
};

// Every file, folder and link below `root`: relative path -> bytes ("/" for
// a folder, "->" and the target for a link).
using TTreeSnapshot = std::map<std::string, std::string>;

TTreeSnapshot Snapshot(const std::string& root) {
  TTreeSnapshot snapshot;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
    const std::string relative = entry.path().lexically_relative(root).string();
    if (entry.is_symlink()) {
      snapshot[relative] = "->" + fs::read_symlink(entry.path()).string();
    } else {
      snapshot[relative] = entry.is_directory() ? std::string("/") : ReadFileBytes(entry.path().string());
    }
  }
  return snapshot;
}

// Removes everything a run added to the tree and puts back the files it
// replaced, so the next run starts from the same files and no output of the
// first one is left behind.
void RestoreInputs(const std::string& root, const TTreeSnapshot& inputs) {
  std::vector<fs::path> added;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
    if (inputs.count(entry.path().lexically_relative(root).string()) == 0) added.push_back(entry.path());
  }
  for (auto it = added.rbegin(); it != added.rend(); ++it) {
    std::error_code ignored;
    fs::remove_all(*it, ignored);
  }
  const TTreeSnapshot now = Snapshot(root);
  for (const auto& [path, bytes] : inputs) {
    if (bytes == "/" || bytes.rfind("->", 0) == 0 || now.at(path) == bytes) continue;
    std::error_code ignored;
    fs::remove(fs::path(root) / path, ignored);
    EXPECT_TRUE(WriteFileBytes((fs::path(root) / path).string(), bytes)) << path;
  }
}

struct TRunRecord {
  TTreeSnapshot tree;
  std::string probe_log;
  std::vector<TPost> posts;
  int32_t dircount = 0;
  int32_t filecount = 0;
  int32_t indexcount = 0;
};

struct TRunConfig {
  const char* label;
  int32_t cellwidth;
  int32_t cellheight;
  int32_t thumbwhite;
  int32_t cellsperrow;
  int32_t rowsperpage;
  int32_t includefilenames;
  int32_t hlinks;
};

class IdentityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char saved[PATH_MAX];
    ASSERT_NE(::getcwd(saved, sizeof saved), nullptr);
    saved_cwd_ = saved;
    ASSERT_TRUE(MakeDirs(dir_.Join("cwd")));
    ASSERT_EQ(::chdir(dir_.Join("cwd").c_str()), 0);
  }
  void TearDown() override { EXPECT_EQ(::chdir(saved_cwd_.c_str()), 0); }

  std::string Root() const { return dir_.Join("tree"); }
  std::string In(const std::string& relative) const { return dir_.Join("tree/" + relative); }

  void WriteJpeg(const std::string& relative, const std::vector<uint8_t>& bytes) {
    ASSERT_FALSE(bytes.empty()) << relative;
    ASSERT_TRUE(MakeDirs(fs::path(In(relative)).parent_path().string())) << relative;
    ASSERT_TRUE(WriteBytesFile(In(relative), bytes)) << relative;
  }

  void BuildTree() {
    ASSERT_TRUE(MakeDirs(Root()));
    // Every coding at a few odd sizes, both orientations.
    int n = 0;
    for (const TJpegCoding& coding : JpegCodingsToCover()) {
      WriteJpeg("flavours/" + coding.label + "_a.jpg",
                EncodeJpegCoding(MakePhotoLikeImage(641, 479, n), coding));
      WriteJpeg("flavours/" + coding.label + "_b.jpg",
                EncodeJpegCoding(MakePhotoLikeImage(199, 301, n + 50), coding));
      WriteJpeg("flavours/small/" + coding.label + "_c.jpg",
                EncodeJpegCoding(MakePhotoLikeImage(37, 23, n + 90), coding));
      ++n;
    }
    const TJpegCoding baseline = JpegCodingsToCover()[0];
    WriteJpeg("flavours/small/tiny.jpg", EncodeJpegCoding(MakeGradientImage(2, 2), baseline));
    WriteJpeg("flavours/small/line.jpg", EncodeJpegCoding(MakeGradientImage(1, 500), baseline));
    WriteJpeg("flavours/small/narrow.jpg", EncodeJpegCoding(MakePhotoLikeImage(3, 400, 1), baseline));
    WriteJpeg("flavours/small/UPPER.JPG", EncodeJpegCoding(MakePhotoLikeImage(90, 60, 2), baseline));

    // Damaged files: cut short, without EOI, corrupt data, four components, not JPEG at all.
    for (const TJpegCoding& coding : JpegCodingsToCover()) {
      const std::vector<uint8_t> whole = EncodeJpegCoding(MakePhotoLikeImage(300, 200, n++), coding);
      for (int percent : {20, 55, 90}) {
        const std::vector<uint8_t> cut(whole.begin(),
                                       whole.begin() + static_cast<ptrdiff_t>(whole.size() * percent / 100));
        WriteJpeg("damaged/" + coding.label + "_cut" + std::to_string(percent) + ".jpg", cut);
      }
      WriteJpeg("damaged/" + coding.label + "_noeoi.jpg",
                std::vector<uint8_t>(whole.begin(), whole.end() - 2));
      std::vector<uint8_t> corrupt = whole;
      for (size_t at = whole.size() / 3; at + 1 < whole.size(); at += whole.size() / 5) corrupt[at] ^= 0x5A;
      WriteJpeg("damaged/" + coding.label + "_corrupt.jpg", corrupt);
    }
    TJpegFixtureOptions cmyk;
    cmyk.flavour = TJpegFlavour::kCmyk;
    WriteJpeg("damaged/cmyk.jpg", EncodeJpeg(MakeGradientImage(64, 48), cmyk));
    ASSERT_TRUE(WriteFileBytes(In("damaged/empty.jpg"), ""));
    ASSERT_TRUE(WriteFileBytes(In("damaged/text.jpg"), "no image here"));

    // Every EXIF orientation, at sizes that fill the cell and at a size
    // below it, in two codings; turned files cut short.
    for (int32_t orientation = 1; orientation <= 8; ++orientation) {
      const std::string stem = "oriented/o" + std::to_string(orientation);
      TJpegFixtureOptions coding;
      WriteJpeg(stem + "_a.jpg", EncodeOrientedJpeg(MakePhotoLikeImage(641, 479, orientation), orientation, coding));
      coding.flavour = TJpegFlavour::kBaseline444;
      WriteJpeg(stem + "_b.jpg", EncodeOrientedJpeg(MakePhotoLikeImage(199, 301, orientation), orientation, coding));
      coding.flavour = TJpegFlavour::kGrayscale;
      WriteJpeg(stem + "_c.jpg", EncodeOrientedJpeg(MakePhotoLikeImage(37, 23, orientation), orientation, coding));
      const std::vector<uint8_t> whole = EncodeOrientedJpeg(MakePhotoLikeImage(300, 200, orientation), orientation);
      WriteJpeg(stem + "_cut.jpg", std::vector<uint8_t>(whole.begin(), whole.begin() + static_cast<ptrdiff_t>(whole.size() / 2)));
    }

    // GIF and BMP files beside JPEG files.
    for (int i = 0; i < 6; ++i) {
      const int w = 20 + 97 * i;
      const int h = 300 - 41 * i;
      ASSERT_TRUE(WriteTestGif(In("other/g" + std::to_string(i) + ".gif"), w, h, GradientPixels(i)));
      ASSERT_TRUE(WriteTestBmp24(In("other/b" + std::to_string(i) + ".bmp"), h, w, GradientPixels(i + 9)));
      WriteJpeg("other/j" + std::to_string(i) + ".jpg",
                EncodeJpegCoding(MakePhotoLikeImage(w * 2, h, i), baseline));
    }
    ASSERT_TRUE(WriteTestBmp24(In("other/dot.bmp"), 1, 1));

    // More images than the look-ahead holds.
    for (int i = 0; i < 45; ++i) {
      WriteJpeg("many/m" + std::to_string(100 + i) + ".jpg",
                EncodeJpegCoding(MakePhotoLikeImage(160 + i, 120 + 2 * i, i), baseline));
    }

    // Thumbnails that cannot be written: the thumbnail folder is a file, or
    // one thumbnail's name is taken by a folder.
    for (const char* folder : {"blocked", "onecell"}) {
      for (int i = 0; i < 4; ++i) {
        WriteJpeg(std::string(folder) + "/p" + std::to_string(i) + ".jpg",
                  EncodeJpegCoding(MakePhotoLikeImage(200, 150, i), baseline));
      }
    }
    ASSERT_TRUE(WriteFileBytes(In("blocked/quarto_tn"), "a file, not a folder"));
    ASSERT_TRUE(MakeDirs(In("onecell/quarto_tn/quarto_tn1.jpg")));

    // A page that cannot be put in place ends its folder early: with pages of
    // one row, the first page fails and the images after it are never taken.
    for (int i = 0; i < 20; ++i) {
      WriteJpeg("stop/s" + std::to_string(10 + i) + ".jpg",
                EncodeJpegCoding(MakePhotoLikeImage(240, 180, i), baseline));
    }
    ASSERT_TRUE(MakeDirs(In("stop/vellumcast.html")));

    // Images that are links to files the run writes: a thumbnail of an
    // earlier cell (there from an earlier run), a page, a thumbnail not there
    // yet; and an ordinary link to another image.
    WriteJpeg("links/a.jpg", EncodeJpegCoding(MakePhotoLikeImage(300, 200, 1), baseline));
    WriteJpeg("links/quarto_tn/quarto_tn0.jpg", EncodeJpegCoding(MakePhotoLikeImage(90, 90, 2), baseline));
    WriteJpeg("links/vellumcast.html", EncodeJpegCoding(MakePhotoLikeImage(70, 50, 3), baseline));
    fs::create_symlink("quarto_tn/quarto_tn0.jpg", In("links/b.jpg"));
    fs::create_symlink("a.jpg", In("links/c.jpg"));
    fs::create_symlink("quarto_tn/quarto_tn9.jpg", In("links/d.jpg"));
    fs::create_symlink("vellumcast.html", In("links/e.jpg"));
    // A thumbnail folder that links back to its own folder: no thumbnail is
    // written through it, so the image named like the first thumbnail stays.
    WriteJpeg("selflink/a.jpg", EncodeJpegCoding(MakePhotoLikeImage(300, 200, 4), baseline));
    WriteJpeg("selflink/b.jpg", EncodeJpegCoding(MakePhotoLikeImage(200, 300, 5), baseline));
    WriteJpeg("selflink/quarto_tn0.jpg", EncodeJpegCoding(MakePhotoLikeImage(64, 64, 6), baseline));
    fs::create_symlink(".", In("selflink/quarto_tn"));
  }

  // The shared corpus: real files of every kind, good and bad. False when
  // the corpus is not there.
  bool BuildCorpusTree() {
    if (!CorpusPresent()) return false;
    for (const char* kind : {"jpeg", "gif", "bmp"}) {
      const fs::path from = fs::path(CorpusDir()) / kind;
      if (!fs::is_directory(from)) continue;
      for (const fs::directory_entry& entry : fs::directory_iterator(from)) {
        if (!entry.is_regular_file()) continue;
        std::string name = entry.path().filename().string();
        // The walk lists ".jpg" files only.
        if (entry.path().extension() == ".jpeg") name += ".jpg";
        EXPECT_TRUE(WriteFileBytes(In(std::string("corpus/") + kind + "/" + name),
                                   ReadFileBytes(entry.path().string())));
      }
    }
    return true;
  }

  TRunRecord Run(const TRunConfig& config, bool straightforward, TCatalogFormats formats = kFormatsClassic) {
    TRunRecord record;
    {
      TThreadVellumcast worker;
      TCounterOwner owner(worker);
      worker.options.path = Root();
      worker.ownerwindow = &owner;
      worker.options.createthumbs = 1;
      worker.options.straightforward = straightforward ? 1 : 0;
      worker.options.cellwidth = config.cellwidth;
      worker.options.cellheight = config.cellheight;
      worker.options.thumbwhite = config.thumbwhite;
      worker.options.cellsperrow = config.cellsperrow;
      worker.options.rowsperpage = config.rowsperpage;
      worker.options.includefilenames = config.includefilenames;
      worker.options.hlinks = config.hlinks;
      worker.options.formats = formats;
      EXPECT_TRUE(worker.Start());
      worker.WaitFor();
      record.dircount = worker.counters.dircount;
      record.filecount = worker.counters.filecount;
      record.indexcount = worker.counters.indexcount;
      record.posts = owner.Posts();
    }
    record.tree = Snapshot(Root());
    record.probe_log = ReadFileBytes(dir_.Join("cwd/fn.log"));
    std::error_code ignored;
    fs::remove(dir_.Join("cwd/fn.log"), ignored);
    return record;
  }

  TScratchDir dir_{"vc-identity"};
  std::string saved_cwd_;
};

// A thumbnail manifest without the file-system stamps of the sources and the
// checksum over them: what stays the same when the inputs are written anew
// between two runs (new inodes, new change times).
std::string ManifestWithoutStamps(const std::string& text) {
  std::string out;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 1;
    if (line.rfind("t ", 0) == 0) {
      // t <position> <thumbnail bytes> <4 stamp fields> <name>
      size_t cut = 0;
      for (int word = 0; word < 3 && cut != std::string::npos; ++word) cut = line.find(' ', cut + 1);
      size_t name = cut;
      for (int word = 0; word < 4 && name != std::string::npos; ++word) name = line.find(' ', name + 1);
      if (cut != std::string::npos && name != std::string::npos) line = line.substr(0, cut) + line.substr(name);
    } else if (line.rfind("end ", 0) == 0) {
      line = line.substr(0, line.rfind(' '));
    }
    out += line + "\n";
  }
  return out;
}

void ExpectSameTrees(const TTreeSnapshot& expected, const TTreeSnapshot& actual, bool stamps_may_differ = false) {
  for (const auto& [path, bytes] : expected) {
    const auto found = actual.find(path);
    const bool manifest = fs::path(path).filename() == "vellumcast.manifest";
    if (found == actual.end()) {
      ADD_FAILURE() << "missing on the fast path: " << path;
    } else if (stamps_may_differ && manifest) {
      EXPECT_EQ(ManifestWithoutStamps(bytes), ManifestWithoutStamps(found->second)) << path;
    } else if (found->second != bytes) {
      ADD_FAILURE() << "differs on the fast path: " << path << " (" << bytes.size() << " vs "
                    << found->second.size() << " bytes)";
    }
  }
  for (const auto& [path, bytes] : actual) {
    if (expected.count(path) == 0) ADD_FAILURE() << "only on the fast path: " << path;
  }
}

constexpr TRunConfig kConfigs[] = {
    {"defaults", 120, 80, 0, 4, -1, 1, 1},
    {"small white cells, pages of one row", 33, 21, 255, 4, 1, 1, 1},
    {"large cells, no names, no hierarchy", 200, 150, 0, 3, 2, 0, 0},
};

// The inputs are written anew between the two runs: the manifests' stamps of
// images that link to them differ.
void ExpectSameRuns(const TRunRecord& straightforward, const TRunRecord& fast) {
  ExpectSameTrees(straightforward.tree, fast.tree, true);
  EXPECT_EQ(straightforward.probe_log, fast.probe_log);
  EXPECT_EQ(straightforward.dircount, fast.dircount);
  EXPECT_EQ(straightforward.filecount, fast.filecount);
  EXPECT_EQ(straightforward.indexcount, fast.indexcount);
  ASSERT_EQ(straightforward.posts.size(), fast.posts.size());
  for (size_t i = 0; i < fast.posts.size(); ++i) {
    ASSERT_TRUE(straightforward.posts[i] == fast.posts[i]) << "message " << i << " differs";
  }
}

TEST_F(IdentityTest, FastAndStraightforwardRunsWriteTheSameBytesInTheSameOrder) {
  ASSERT_GE(CellProducerThreads(), 1);
  BuildTree();
  if (HasFatalFailure()) return;
  const TTreeSnapshot inputs = Snapshot(Root());

  const TRunConfig* configs = kConfigs;
  for (const TRunConfig& config : kConfigs) {
    SCOPED_TRACE(config.label);
    const TRunRecord straightforward = Run(config, true);
    RestoreInputs(Root(), inputs);
    const TRunRecord fast = Run(config, false);
    RestoreInputs(Root(), inputs);

    // The runs did real work: thumbnails, fallbacks to the full image, a stopped folder.
    EXPECT_GT(straightforward.tree.size(), inputs.size() + 200);
    EXPECT_NE(straightforward.probe_log.find("damaged"), std::string::npos);
    EXPECT_NE(straightforward.probe_log.find("blocked"), std::string::npos);
    EXPECT_NE(straightforward.probe_log.find("onecell/p1.jpg"), std::string::npos);
    EXPECT_EQ(straightforward.tree.count("many/quarto_tn/quarto_tn44.jpg"), 1u);
    EXPECT_EQ(straightforward.tree.at("selflink/quarto_tn0.jpg"), inputs.at("selflink/quarto_tn0.jpg"));

    // Every turned file that is whole got its thumbnail.
    for (int i = 0; i < 32; ++i) {
      if (i % 4 == 3) continue;  // o<N>_cut.jpg
      EXPECT_EQ(straightforward.tree.count("oriented/quarto_tn/quarto_tn" + std::to_string(i) + ".jpg"), 1u) << i;
    }

    ExpectSameRuns(straightforward, fast);
  }
  // With pages of one row, the stopped folder's first page failed after four
  // cells: the thumbnails produced ahead of it were never written.
  const TRunRecord again = Run(configs[1], false);
  EXPECT_EQ(again.tree.count("stop/quarto_tn/quarto_tn3.jpg"), 1u);
  EXPECT_EQ(again.tree.count("stop/quarto_tn/quarto_tn4.jpg"), 0u);
}

// Videos beside the photos change nothing of the classic catalog, with the
// described formats or every image format: the same files, bytes, probe log
// and messages as without them.
TEST_F(IdentityTest, VideosBesideThePhotosLeaveTheClassicCatalogAsItIs) {
  ASSERT_TRUE(MakeDirs(In("sub")));
  ASSERT_TRUE(WriteTestJpeg(In("a.jpg"), 320, 240));
  ASSERT_TRUE(WriteTestGif(In("b.gif"), 50, 40));
  ASSERT_TRUE(WriteTestBmp24(In("sub/c.bmp"), 64, 64));
  ASSERT_TRUE(WriteTestJpeg(In("sub/d.jpg"), 80, 60));
  const TTreeSnapshot photos = Snapshot(Root());
  // Classic runs never open a video: what the files hold does not matter.
  const std::vector<std::string> videos = {"clip.mp4", "Phone.MOV", "sub/e.webm", "sub/f.mkv", "g.avi",
                                           "h.3gp", "i.m4v", "sub/j.MTS"};
  for (const TCatalogFormats formats : {kFormatsClassic, kFormatsAll}) {
    SCOPED_TRACE(formats == kFormatsAll ? "all formats" : "classic formats");
    const TRunRecord without = Run(kConfigs[0], false, formats);
    RestoreInputs(Root(), photos);
    for (const std::string& video : videos) ASSERT_TRUE(WriteFileBytes(In(video), "....ftypmp42 not read"));
    TRunRecord with = Run(kConfigs[0], false, formats);
    for (const std::string& video : videos) {
      EXPECT_EQ(with.tree.erase(video), 1u) << video;
      ::unlink(In(video).c_str());
    }
    RestoreInputs(Root(), photos);
    EXPECT_GT(without.tree.size(), photos.size());
    ExpectSameRuns(without, with);
  }
}

// The same over the real files of the shared corpus, good and bad.
TEST_F(IdentityTest, FastAndStraightforwardRunsAgreeOverTheSharedCorpus) {
  if (!CorpusPresent()) GTEST_SKIP() << "no image corpus at " << CorpusDir() << " (MANIFEST.tsv missing)";
  ASSERT_TRUE(BuildCorpusTree());
  const TTreeSnapshot inputs = Snapshot(Root());
  for (const TRunConfig& config : kConfigs) {
    SCOPED_TRACE(config.label);
    const TRunRecord straightforward = Run(config, true);
    RestoreInputs(Root(), inputs);
    const TRunRecord fast = Run(config, false);
    RestoreInputs(Root(), inputs);
    EXPECT_GT(straightforward.filecount, 0);
    ExpectSameRuns(straightforward, fast);
  }
}

}  // namespace

// Incremental runs: after every change to a tree, a run that reuses what it
// can must leave exactly the tree that a run doing everything afresh leaves,
// and decode exactly the images whose thumbnails cannot be reused.

namespace {

struct TIncrementalSettings {
  int32_t cellwidth = 120;
  int32_t cellheight = 80;
  int32_t thumbwhite = 0;
  int32_t includefilenames = 1;
};

struct TIncrementalRun {
  int32_t decoded = 0;
  int32_t reused = 0;
  TTreeSnapshot tree;
};

class IncrementalIdentityTest : public IdentityTest, public ::testing::WithParamInterface<bool> {
 protected:
  TIncrementalRun RunOnce(const TIncrementalSettings& settings, bool rebuild) {
    TIncrementalRun run;
    {
      TThreadVellumcast worker;
      worker.options.path = Root();
      worker.options.createthumbs = 1;
      worker.options.straightforward = GetParam() ? 1 : 0;
      worker.options.rebuild = rebuild ? 1 : 0;
      worker.options.cellwidth = settings.cellwidth;
      worker.options.cellheight = settings.cellheight;
      worker.options.thumbwhite = settings.thumbwhite;
      worker.options.includefilenames = settings.includefilenames;
      worker.options.rowsperpage = 2;
      worker.options.cellsperrow = 3;
      EXPECT_TRUE(worker.Start());
      worker.WaitFor();
      run.decoded = worker.counters.decodedcount;
      run.reused = worker.counters.reusedcount;
    }
    run.tree = Snapshot(Root());
    return run;
  }

  void WritePhoto(const std::string& relative, int width, int height, uint32_t seed) {
    WriteJpeg(relative, EncodeJpegCoding(MakePhotoLikeImage(width, height, seed), JpegCodingsToCover()[0]));
  }

  void BuildSmallTree() {
    for (int i = 0; i < 7; ++i) WritePhoto("a/p" + std::to_string(10 + i) + ".jpg", 150 + 9 * i, 110, i);
    ASSERT_TRUE(WriteTestGif(In("a/g.gif"), 90, 70, GradientPixels(3)));
    ASSERT_TRUE(WriteTestBmp24(In("a/h.bmp"), 60, 80, GradientPixels(4)));
    ASSERT_TRUE(WriteFileBytes(In("a/broken.jpg"), "not an image"));
    for (int i = 0; i < 3; ++i) WritePhoto("b/c/q" + std::to_string(i) + ".jpg", 200, 140 + i, 20 + i);
  }
};

// Images whose thumbnail can never be made are tried again on every run.
constexpr int32_t kUndecodable = 1;
constexpr int32_t kThumbnailImages = 7 + 2 + 3;

TEST_P(IncrementalIdentityTest, EveryChangeGivesTheTreeOfARebuildAndDecodesOnlyWhatChanged) {
  BuildSmallTree();
  if (HasFatalFailure()) return;
  TIncrementalSettings settings;

  struct TStep {
    const char* label;
    std::function<void()> change;
    int32_t decodes;  // besides the undecodable image
  };
  const TStep steps[] = {
      {"first run, no manifest yet", [] {}, kThumbnailImages},
      {"nothing changed", [] {}, 0},
      {"image added before all others", [&] { WritePhoto("a/a0.jpg", 170, 120, 40); }, 1},
      {"image removed from the middle", [&] { fs::remove(In("a/p12.jpg")); }, 0},
      {"image replaced by another of the same size and date",
       [&] {
         // Another picture, padded after its end marker to the old file's length.
         const size_t size = fs::file_size(In("a/p13.jpg"));
         const fs::file_time_type date = fs::last_write_time(In("a/p13.jpg"));
         std::vector<uint8_t> bytes =
             EncodeJpegCoding(MakeSolidImage(177, 110, 200, 30, 60), JpegCodingsToCover()[0]);
         ASSERT_LT(bytes.size(), size);
         bytes.resize(size, 0);
         fs::remove(In("a/p13.jpg"));
         ASSERT_TRUE(WriteBytesFile(In("a/p13.jpg"), bytes));
         fs::last_write_time(In("a/p13.jpg"), date);
       },
       1},
      {"image touched", [&] { fs::last_write_time(In("a/p15.jpg"), fs::file_time_type::clock::now()); }, 1},
      {"image renamed", [&] { fs::rename(In("a/p16.jpg"), In("a/zz.jpg")); }, 1},
      {"two images swap names",
       [&] {
         fs::rename(In("a/p10.jpg"), In("a/swap.tmp"));
         fs::rename(In("a/p11.jpg"), In("a/p10.jpg"));
         fs::rename(In("a/swap.tmp"), In("a/p11.jpg"));
       },
       2},
      {"folder renamed", [&] { fs::rename(In("b"), In("b2")); }, 0},
      {"cell size changed", [&] { settings.cellwidth = 90; }, kThumbnailImages},
      {"thumbwhite changed", [&] { settings.thumbwhite = 255; }, kThumbnailImages},
      {"page settings changed", [&] { settings.includefilenames = 0; }, 0},
      {"everything changed back",
       [&] {
         settings = TIncrementalSettings{};
       },
       kThumbnailImages},
      {"nothing changed again", [] {}, 0},
  };
  for (const TStep& step : steps) {
    SCOPED_TRACE(step.label);
    step.change();
    if (HasFatalFailure()) return;
    const TIncrementalRun incremental = RunOnce(settings, false);
    EXPECT_EQ(incremental.decoded, step.decodes + kUndecodable);
    // Every image with a thumbnail was either decoded or reused.
    const int32_t images = static_cast<int32_t>(fs::exists(In("a/a0.jpg")) ? 1 : 0) + kThumbnailImages +
                           kUndecodable - (fs::exists(In("a/p12.jpg")) ? 0 : 1);
    EXPECT_EQ(incremental.decoded + incremental.reused, images);
    // A second run finds everything in place.
    const TIncrementalRun again = RunOnce(settings, false);
    EXPECT_EQ(again.decoded, kUndecodable);
    ExpectSameTrees(incremental.tree, again.tree);
    // And the tree is the one that doing everything afresh gives.
    const TIncrementalRun rebuilt = RunOnce(settings, true);
    EXPECT_EQ(rebuilt.reused, 0);
    ExpectSameTrees(rebuilt.tree, incremental.tree);
  }
}

INSTANTIATE_TEST_SUITE_P(BothPaths, IncrementalIdentityTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? std::string("Straightforward") : std::string("Fast");
                         });

}  // namespace
