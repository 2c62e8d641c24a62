// Runs with an output folder: the catalog mirrors the tree in that folder,
// the photo tree is only read, the pages reach the originals by relative
// links, copies or hard links, re-runs write nothing, and pruning and the
// clean-up touch only what runs placed there.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "engine/store/clean.h"
#include "engine/store/generated_names.h"
#include "engine/publish/original_copies.h"
#include "fixtures/image_writers.h"
#include "fixtures/mount_fixtures.h"
#include "run_helpers.h"

namespace {

namespace fs = std::filesystem;

// Every entry below `root`: kind, bytes, inode, mode and modification time,
// folders included (a file made in one moves its time).
std::map<std::string, std::string> Fingerprint(const std::string& root) {
  std::map<std::string, std::string> state;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
    struct stat info {};
    EXPECT_EQ(::lstat(entry.path().c_str(), &info), 0);
    std::string line = std::to_string(info.st_ino) + " " + std::to_string(info.st_mode) + " " +
                       std::to_string(info.st_mtim.tv_sec) + "." + std::to_string(info.st_mtim.tv_nsec) + " ";
    if (S_ISREG(info.st_mode)) line += ReadFileBytes(entry.path().string());
    if (S_ISLNK(info.st_mode)) line += fs::read_symlink(entry.path()).string();
    state[entry.path().lexically_relative(root).string()] = line;
  }
  struct stat top {};
  EXPECT_EQ(::stat(root.c_str(), &top), 0);
  state["."] = std::to_string(top.st_mtim.tv_sec) + "." + std::to_string(top.st_mtim.tv_nsec);
  return state;
}

std::string PercentDecoded(const std::string& url) {
  std::string out;
  for (size_t i = 0; i < url.size(); ++i) {
    if (url[i] == '%' && i + 2 < url.size()) {
      out += static_cast<char>(std::stoi(url.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += url[i];
    }
  }
  return out;
}

// Every href, src and srcset URL of every page below `root` that names no
// existing file or folder, as "page -> url".
std::vector<std::string> BrokenLinks(const std::string& root) {
  std::vector<std::string> broken;
  const std::regex attribute(R"re((href|src|srcset)="([^"]*)")re");
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
    if (entry.path().extension() != ".html") continue;
    const std::string text = ReadFileBytes(entry.path().string());
    for (std::sregex_iterator m(text.begin(), text.end(), attribute), end; m != end; ++m) {
      std::vector<std::string> urls;
      if ((*m)[1] == "srcset") {
        std::regex candidate(R"(([^ ,]+)( [0-9.]+x)?)");
        const std::string value = (*m)[2];
        for (std::sregex_iterator c(value.begin(), value.end(), candidate), cend; c != cend; ++c) {
          urls.push_back((*c)[1]);
        }
      } else {
        urls.push_back((*m)[2]);
      }
      for (std::string url : urls) {
        if (url.empty() || url[0] == '#' || url.find(':') != std::string::npos) continue;
        url = std::regex_replace(url, std::regex("&amp;"), "&");
        const fs::path target = entry.path().parent_path() / PercentDecoded(url.substr(0, url.find_first_of("?#")));
        if (!fs::exists(target)) broken.push_back(entry.path().string() + " -> " + url);
      }
    }
  }
  return broken;
}

class OutputFolderTest : public TEngineTest {
 protected:
  void SetUp() override {
    TEngineTest::SetUp();
    ASSERT_TRUE(WriteTestJpeg(Path("photos/a.jpg"), 64, 48));
    ASSERT_TRUE(WriteTestJpeg(Path("photos/my trip/b c.jpg"), 40, 60, GradientPixels(3)));
    ASSERT_TRUE(WriteTestGif(Path("photos/my trip/deeper/d.gif"), 30, 20));
    ASSERT_TRUE(WriteTestBmp24(Path("photos/my trip/deeper/e.bmp"), 20, 30));
  }

  TRunResult Run(const std::function<void(TThreadVellumcast&)>& configure) {
    return RunIndex(Path("photos"), [&](TThreadVellumcast& worker) {
      worker.options.outputpath = Path("site/catalog");
      configure(worker);
    });
  }
};

void Modern(TThreadVellumcast& worker) {
  worker.options.style = kStyleModern;
  worker.options.createthumbs = 1;
  worker.options.prune = kSwitchOn;
  worker.options.formats = kFormatsAll;
  worker.options.skiphidden = kSwitchOn;
}

TEST_F(OutputFolderTest, ClassicMirrorsTheTreeAndLinksIntoIt) {
  const auto before = Fingerprint(Path("photos"));
  const TRunResult run = Run([](TThreadVellumcast& worker) { worker.options.createthumbs = 1; worker.options.prune = kSwitchOn; });
  EXPECT_EQ(run.failures, 0) << (run.failure_lines.empty() ? "" : run.failure_lines[0]);
  EXPECT_EQ(run.indexcount, 3);
  EXPECT_EQ(Fingerprint(Path("photos")), before);
  for (const char* file : {"site/catalog/vellumcast.html", "site/catalog/imageback.html",
                           "site/catalog/quarto_tn/quarto_tn0.jpg", "site/catalog/quarto_tn/vellumcast.manifest",
                           "site/catalog/my trip/vellumcast.html", "site/catalog/my trip/deeper/vellumcast.html",
                           "site/catalog/my trip/deeper/quarto_tn/quarto_tn1.jpg"}) {
    EXPECT_TRUE(Exists(file)) << file;
  }
  const std::string top = Page("site/catalog/vellumcast.html");
  EXPECT_NE(top.find("<a href=\"../../photos/a.jpg\"><img src=quarto_tn/quarto_tn0.jpg width=120 height=80>"), std::string::npos)
      << top;
  EXPECT_NE(Page("site/catalog/my trip/vellumcast.html").find("href=\"../../../photos/my trip/b c.jpg\""),
            std::string::npos);
  EXPECT_EQ(BrokenLinks(Path("site")), std::vector<std::string>{});
}

TEST_F(OutputFolderTest, FullImageCellsProbeTheSourceAndLogInTheOutputFolder) {
  const TRunResult run = Run([](TThreadVellumcast&) {});
  EXPECT_EQ(run.failures, 0);
  const std::string top = Page("site/catalog/vellumcast.html");
  // The size comes from the photo in the tree.
  EXPECT_NE(top.find("<img src=\"../../photos/a.jpg\" width=63 height=47>"), std::string::npos) << top;
  EXPECT_TRUE(Exists("site/catalog/fn.log"));
  EXPECT_FALSE(Exists("fn.log"));
  EXPECT_FALSE(Exists("photos/fn.log"));
  EXPECT_EQ(BrokenLinks(Path("site")), std::vector<std::string>{});
}

TEST_F(OutputFolderTest, ModernMirrorsTheTreeAndLinksResolve) {
  const auto before = Fingerprint(Path("photos"));
  const TRunResult run = Run(Modern);
  EXPECT_EQ(run.failures, 0) << (run.failure_lines.empty() ? "" : run.failure_lines[0]);
  EXPECT_EQ(Fingerprint(Path("photos")), before);
  EXPECT_TRUE(Exists("site/catalog/vellumcast.html"));
  EXPECT_TRUE(Exists("site/catalog/quarto_tn/vellumcast-modern.manifest"));
  EXPECT_TRUE(Exists("site/catalog/my trip/deeper/vellumcast.html"));
  // The top folder is shown by the photo folder's name, not the output folder's.
  EXPECT_NE(Page("site/catalog/vellumcast.html").find("<h1>photos</h1>"), std::string::npos);
  bool viewer_links_original = false;
  for (const fs::directory_entry& entry : fs::directory_iterator(Path("site/catalog"))) {
    if (IsViewerPageName(entry.path().filename().c_str()) &&
        ReadFileBytes(entry.path().string()).find("href=\"../../photos/a.jpg\">Original file") != std::string::npos) {
      viewer_links_original = true;
    }
  }
  EXPECT_TRUE(viewer_links_original);
  EXPECT_EQ(BrokenLinks(Path("site")), std::vector<std::string>{});
}

TEST_F(OutputFolderTest, TheTreeIsOnlyReadEvenWhenReadOnly) {
  TReadOnlyBind read_only(Path("photos"));
  if (!read_only.Mounted()) GTEST_SKIP() << "no read-only bind mount: " << read_only.Why();
  for (const auto& configure : std::vector<std::function<void(TThreadVellumcast&)>>{
           [](TThreadVellumcast& w) { w.options.createthumbs = 1; }, Modern}) {
    const TRunResult run = Run(configure);
    EXPECT_EQ(run.failures, 0) << (run.failure_lines.empty() ? "" : run.failure_lines[0]);
    EXPECT_EQ(run.warnings, 0) << (run.warning_lines.empty() ? "" : run.warning_lines[0]);
    EXPECT_EQ(run.indexcount, 3);
  }
}

struct TImagesCase {
  const char* name;
  TImagesMode images;
  bool beside;      // the original is a file in the output folder
  bool same_inode;  // ... and the same file as in the tree
  const char* href;
};

class OutputImagesTest : public OutputFolderTest, public ::testing::WithParamInterface<TImagesCase> {};

TEST_P(OutputImagesTest, PagesReachTheOriginals) {
  const TImagesCase& c = GetParam();
  bool classic = true;
  for (const auto& configure : std::vector<std::function<void(TThreadVellumcast&)>>{
           [](TThreadVellumcast&) {}, Modern}) {
    const TRunResult run = Run([&](TThreadVellumcast& worker) {
      configure(worker);
      worker.options.images = c.images;
    });
    if (classic) {
      EXPECT_NE(Page("site/catalog/my trip/vellumcast.html").find(c.href), std::string::npos);
    }
    classic = false;
    EXPECT_EQ(run.failures, 0);
    EXPECT_EQ(BrokenLinks(Path("site")), std::vector<std::string>{});
    EXPECT_EQ(Exists("site/catalog/my trip/b c.jpg"), c.beside);
    EXPECT_EQ(Exists("site/catalog/" + std::string(kOriginalsRecordFile)), c.beside);
    if (c.beside) {
      EXPECT_EQ(Page("site/catalog/my trip/b c.jpg"), Page("photos/my trip/b c.jpg"));
      struct stat source {}, copy {};
      ASSERT_EQ(::stat(Path("photos/my trip/b c.jpg").c_str(), &source), 0);
      ASSERT_EQ(::stat(Path("site/catalog/my trip/b c.jpg").c_str(), &copy), 0);
      EXPECT_EQ(source.st_ino == copy.st_ino, c.same_inode);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Modes, OutputImagesTest,
    ::testing::Values(TImagesCase{"link", kImagesLink, false, false, "<img src=\"../../../photos/my trip/b c.jpg\""},
                      TImagesCase{"copy", kImagesCopy, true, false, "<img src=\"b c.jpg\""},
                      TImagesCase{"hardlink", kImagesHardLink, true, true, "<img src=\"b c.jpg\""}),
    [](const ::testing::TestParamInfo<TImagesCase>& info) { return std::string(info.param.name); });

TEST_F(OutputFolderTest, HardLinksAcrossFileSystemsBecomeCopies) {
  ASSERT_TRUE(MakeDirs(Path("site")));
  TTinyTmpfs other(Path("site"), 4L << 20);
  if (!other.Mounted()) GTEST_SKIP() << "no tmpfs: " << other.Why();
  const TRunResult run = Run([](TThreadVellumcast& worker) { worker.options.images = kImagesHardLink; });
  EXPECT_EQ(run.failures, 0);
  EXPECT_EQ(run.warnings, 0);
  EXPECT_EQ(Page("site/catalog/a.jpg"), Page("photos/a.jpg"));
  EXPECT_EQ(BrokenLinks(Path("site")), std::vector<std::string>{});
}

TEST_F(OutputFolderTest, LinkedPhotosAreCopiedOnlyFromInsideTheTree) {
  ASSERT_TRUE(WriteTestJpeg(Path("elsewhere/secret.jpg"), 16, 16));
  ASSERT_EQ(::symlink(Path("elsewhere/secret.jpg").c_str(), Path("photos/outside.jpg").c_str()), 0);
  ASSERT_EQ(::symlink("a.jpg", Path("photos/inside.jpg").c_str()), 0);
  for (const TImagesMode images : {kImagesCopy, kImagesHardLink}) {
    const TRunResult run = Run([&](TThreadVellumcast& worker) { worker.options.images = images; });
    EXPECT_EQ(run.failures, 0);
    EXPECT_EQ(Page("site/catalog/inside.jpg"), Page("photos/a.jpg"));
    EXPECT_FALSE(Exists("site/catalog/outside.jpg"));
    EXPECT_NE(Page("site/catalog/vellumcast.html").find("href=\"../../photos/outside.jpg\""), std::string::npos);
    EXPECT_EQ(BrokenLinks(Path("site")), std::vector<std::string>{});
    RemoveTree(Path("site"));
  }
}

TEST_F(OutputFolderTest, ReRunWritesNothing) {
  for (const auto& configure : std::vector<std::function<void(TThreadVellumcast&)>>{
           [](TThreadVellumcast& w) { w.options.createthumbs = 1; w.options.images = kImagesCopy; },
           [](TThreadVellumcast& w) { Modern(w); w.options.images = kImagesCopy; }}) {
    Run(configure);
    const auto first = Fingerprint(Path("site"));
    const TRunResult again = Run(configure);
    EXPECT_EQ(again.failures, 0);
    EXPECT_EQ(Fingerprint(Path("site")), first);
    RemoveTree(Path("site"));
  }
}

TEST_F(OutputFolderTest, AChangedPhotoIsCopiedAgain) {
  Run([](TThreadVellumcast& w) { w.options.images = kImagesCopy; });
  ASSERT_TRUE(WriteTestJpeg(Path("photos/a.jpg"), 32, 32, GradientPixels(9)));
  Run([](TThreadVellumcast& w) { w.options.images = kImagesCopy; });
  EXPECT_EQ(Page("site/catalog/a.jpg"), Page("photos/a.jpg"));
}

TEST_F(OutputFolderTest, UnrecordedFilesInTheOutputFolderStay) {
  // A file of the user's own under an image's name, and one of no catalog's.
  ASSERT_TRUE(WriteFileBytes(Path("site/catalog/a.jpg"), "mine"));
  ASSERT_TRUE(WriteFileBytes(Path("site/catalog/my trip/notes.txt"), "notes"));
  auto copy_and_prune = [](TThreadVellumcast& w) {
    w.options.images = kImagesCopy;
    w.options.prune = kSwitchOn;
    w.options.createthumbs = 1;
  };
  Run(copy_and_prune);
  EXPECT_EQ(Page("site/catalog/a.jpg"), "mine");
  // The page reaches that image in the tree instead.
  EXPECT_NE(Page("site/catalog/vellumcast.html").find("href=\"../../photos/a.jpg\""), std::string::npos);
  EXPECT_TRUE(Exists("site/catalog/my trip/b c.jpg"));

  // A photo gone from the tree: its recorded copy goes with pruning.
  ASSERT_EQ(::unlink(Path("photos/my trip/b c.jpg").c_str()), 0);
  ASSERT_TRUE(WriteTestJpeg(Path("photos/my trip/f.jpg"), 16, 16));
  Run(copy_and_prune);
  EXPECT_FALSE(Exists("site/catalog/my trip/b c.jpg"));
  EXPECT_TRUE(Exists("site/catalog/my trip/f.jpg"));
  EXPECT_EQ(Page("site/catalog/my trip/notes.txt"), "notes");
  EXPECT_EQ(Page("site/catalog/a.jpg"), "mine");

  // A copy the user changed since is theirs: the clean-up leaves it.
  ASSERT_TRUE(WriteFileBytes(Path("site/catalog/my trip/deeper/d.gif"), "edited"));
  const TCleanResult cleaned = DeleteGenerated(Path("site/catalog").c_str());
  EXPECT_GT(cleaned.files_removed, 0);
  std::vector<std::string> left;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(Path("site/catalog"))) {
    if (entry.is_regular_file()) left.push_back(entry.path().lexically_relative(Path("site/catalog")).string());
  }
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"a.jpg", "my trip/deeper/d.gif", "my trip/notes.txt"}));
}

TEST_F(OutputFolderTest, OutputInsideTheTreeIsNotWalked) {
  const auto before = Fingerprint(Path("photos/my trip"));
  const TRunResult run = RunIndex(Path("photos"), [&](TThreadVellumcast& worker) {
    worker.options.outputpath = Path("photos/web");
    worker.options.createthumbs = 1;
  });
  EXPECT_EQ(run.failures, 0);
  EXPECT_EQ(run.indexcount, 3);
  EXPECT_TRUE(Exists("photos/web/my trip/vellumcast.html"));
  EXPECT_FALSE(Exists("photos/web/web"));
  EXPECT_FALSE(Exists("photos/vellumcast.html"));
  EXPECT_EQ(Page("photos/web/vellumcast.html").find("web/"), std::string::npos);
  EXPECT_EQ(Fingerprint(Path("photos/my trip")), before);
  // A second run finds its own catalog in the tree and still leaves it out.
  const TRunResult again = RunIndex(Path("photos"), [&](TThreadVellumcast& worker) {
    worker.options.outputpath = Path("photos/web");
    worker.options.createthumbs = 1;
  });
  EXPECT_EQ(again.indexcount, 3);
  EXPECT_FALSE(Exists("photos/web/web"));
}

TEST_F(OutputFolderTest, ALinkInTheOutputFolderNeverLeadsIntoTheTree) {
  ASSERT_TRUE(MakeDirs(Path("site/catalog")));
  ASSERT_EQ(::symlink(Path("photos/my trip").c_str(), Path("site/catalog/my trip").c_str()), 0);
  // Pages a run wrote into the tree earlier, in a folder that no longer gets any.
  ASSERT_TRUE(MakeDirs(Path("photos/empty")));
  ASSERT_TRUE(WriteFileBytes(Path("photos/empty/vellumcast.html"), "old page"));
  ASSERT_EQ(::symlink(Path("photos/empty").c_str(), Path("site/catalog/empty").c_str()), 0);
  const auto before = Fingerprint(Path("photos"));
  const TRunResult run = Run([](TThreadVellumcast& worker) { worker.options.createthumbs = 1; worker.options.prune = kSwitchOn; });
  EXPECT_EQ(Fingerprint(Path("photos")), before);
  EXPECT_GE(run.failures, 1);
  EXPECT_TRUE(Exists("site/catalog/vellumcast.html"));
}

TEST_F(OutputFolderTest, AnOutputFolderThatCannotBeMadeFailsTheRun) {
  ASSERT_TRUE(WriteFileBytes(Path("site"), "a file where the folder would go"));
  const TRunResult run = Run([](TThreadVellumcast&) {});
  EXPECT_EQ(run.indexcount, 0);
  EXPECT_GE(run.failures, 1);
  EXPECT_FALSE(Exists("photos/vellumcast.html"));
}

TEST(OriginalsRecord, AForgedRecordRemovesNothingChanged) {
  TScratchDir dir("vc-originals");
  ASSERT_TRUE(WriteFileBytes(dir.Join("photo.jpg"), "precious"));
  // No header, a path with a separator, a wrong size: all left alone.
  for (const std::string& record :
       {std::string("1 2 3 photo.jpg\n"), std::string("vellumcast originals 1\n8 0 0 ../x/photo.jpg\n"),
        std::string("vellumcast originals 1\n9 0 0 photo.jpg\n")}) {
    ASSERT_TRUE(WriteFileBytes(dir.Join(kOriginalsRecordFile), record));
    DeleteGenerated(dir.path().c_str());
    EXPECT_EQ(ReadFileBytes(dir.Join("photo.jpg")), "precious") << record;
  }
}

// A name holding a NUL reaches the file system as its part before the NUL:
// a record naming "photo.jpg<NUL>x.jpg" with the user's photo's own stamp
// must not make the clean-up remove the photo.
TEST(OriginalsRecord, ANameHoldingANulIsNoEntry) {
  TScratchDir dir("vc-originals");
  ASSERT_TRUE(WriteFileBytes(dir.Join("photo.jpg"), "precious"));
  struct stat info {};
  ASSERT_EQ(::stat(dir.Join("photo.jpg").c_str(), &info), 0);
  const std::string stamp = "8 " + std::to_string(info.st_mtim.tv_sec) + " " + std::to_string(info.st_mtim.tv_nsec);
  ASSERT_TRUE(WriteFileBytes(dir.Join(kOriginalsRecordFile),
                             "vellumcast originals 1\n" + stamp + " photo.jpg" + std::string(1, '\0') + "x.jpg\n"));
  DeleteGenerated(dir.path().c_str());
  EXPECT_EQ(ReadFileBytes(dir.Join("photo.jpg")), "precious");
}

// A record that is not a regular file (a FIFO would block a plain open
// forever, a link leads anywhere) is not read: nothing is removed.
TEST(OriginalsRecord, ARecordThatIsNoRegularFileIsNotRead) {
  TScratchDir dir("vc-originals");
  ASSERT_TRUE(WriteFileBytes(dir.Join("photo.jpg"), "precious"));
  struct stat info {};
  ASSERT_EQ(::stat(dir.Join("photo.jpg").c_str(), &info), 0);
  // A record that lists the photo as it is: read, it would remove it.
  ASSERT_TRUE(WriteFileBytes(dir.Join("elsewhere.list"), "vellumcast originals 1\n8 " +
                                                             std::to_string(info.st_mtim.tv_sec) + " " +
                                                             std::to_string(info.st_mtim.tv_nsec) + " photo.jpg\n"));
  ASSERT_EQ(::mkfifo(dir.Join(kOriginalsRecordFile).c_str(), 0600), 0);
  DeleteGenerated(dir.path().c_str());
  EXPECT_EQ(ReadFileBytes(dir.Join("photo.jpg")), "precious");
  ASSERT_EQ(std::remove(dir.Join(kOriginalsRecordFile).c_str()), 0);
  ASSERT_EQ(::symlink("elsewhere.list", dir.Join(kOriginalsRecordFile).c_str()), 0);
  DeleteGenerated(dir.path().c_str());
  EXPECT_EQ(ReadFileBytes(dir.Join("photo.jpg")), "precious");
}

}  // namespace
