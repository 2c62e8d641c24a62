// vellumcast-cli index refuses an output folder that would put the catalog
// among the photos (empty as given, the tree itself, inside it, holding it,
// through links or not made yet) with exit 2 before anything is written, and
// takes one that lies apart.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "cli/cli_runner.h"
#include "fixtures/image_writers.h"
#include "fixtures/tree_writer.h"

namespace {

namespace fs = std::filesystem;

// Every entry below `root` (links not followed) with its kind, size and
// modification time, the folders' included: a file made or removed anywhere
// shows.
std::map<std::string, std::string> Fingerprint(const std::string& root) {
  std::map<std::string, std::string> state;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
    struct stat info {};
    EXPECT_EQ(::lstat(entry.path().c_str(), &info), 0);
    state[entry.path().lexically_relative(root).string()] =
        std::to_string(info.st_mode) + " " + std::to_string(info.st_size) + " " +
        std::to_string(info.st_mtim.tv_sec) + "." + std::to_string(info.st_mtim.tv_nsec);
  }
  return state;
}

class CliOutputOverlapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(WriteTestBmp24(dir_.Join("photos/a.bmp"), 8, 6));
    ASSERT_TRUE(WriteTestBmp24(dir_.Join("photos/sub/b.bmp"), 6, 8));
    ASSERT_EQ(::symlink("photos", dir_.Join("tree-link").c_str()), 0);
    ASSERT_EQ(::symlink("photos/sub", dir_.Join("sub-link").c_str()), 0);
    ASSERT_EQ(::symlink(".", dir_.Join("here").c_str()), 0);
    ASSERT_TRUE(WriteFileBytes(dir_.Join("empty.conf"), "title = T\noutput =\n"));
    ASSERT_TRUE(WriteFileBytes(dir_.Join("window-key.conf"), "outputpath=\n"));
  }

  TScratchDir dir_{"vc-cli-overlap"};
};

TEST_F(CliOutputOverlapTest, OverlappingOutputFoldersAreRefusedBeforeAnythingIsWritten) {
  const std::string empty = "needs a folder; an empty one would write the catalog into the photo tree";
  const std::string outside = "; choose a folder outside it";
  const struct {
    const char* label;
    std::vector<std::string> args;
    std::string message;  // the first line of stderr, after "vellumcast-cli index: "
  } cases[] = {
      {"empty, joined", {"--output=", "photos"}, "--output " + empty},
      {"empty, apart", {"--output", "", "photos"}, "--output " + empty},
      {"empty in a configuration file", {"--config=empty.conf", "photos"}, "empty.conf:2: output " + empty},
      {"empty under the window's key", {"--config=window-key.conf", "photos"},
       "window-key.conf:1: outputpath " + empty},
      {"the tree", {"--output=photos", "photos"},
       "the output folder 'photos' is the photo folder 'photos' itself" + outside},
      {"the tree, spelt otherwise", {"--output=./photos/", "photos"},
       "the output folder './photos/' is the photo folder 'photos' itself" + outside},
      {"the tree, absolute", {"--output=" + dir_.Join("photos"), "photos"},
       "the output folder '" + dir_.Join("photos") + "' is the photo folder 'photos' itself" + outside},
      {"the tree through a link", {"--output=tree-link", "photos"},
       "the output folder 'tree-link' is the photo folder 'photos' itself" + outside},
      {"the tree given through a link", {"--output=photos", "tree-link"},
       "the output folder 'photos' is the photo folder 'tree-link' itself" + outside},
      {"a missing folder that comes back to the tree", {"--output=new/../photos", "photos"},
       "the output folder 'new/../photos' is the photo folder 'photos' itself" + outside},
      {"a photo folder inside", {"--output=photos/sub", "photos"},
       "the output folder 'photos/sub' lies inside the photo folder 'photos'" + outside},
      {"a new folder inside", {"--output=photos/web/site", "photos"},
       "the output folder 'photos/web/site' lies inside the photo folder 'photos'" + outside},
      {"inside through a link", {"--output=sub-link", "photos"},
       "the output folder 'sub-link' lies inside the photo folder 'photos'" + outside},
      {"a new folder inside, through a link", {"--output=here/tree-link/web", "photos"},
       "the output folder 'here/tree-link/web' lies inside the photo folder 'photos'" + outside},
      {"the current folder", {"--output=.", "photos"},
       "the output folder '.' contains the photo folder 'photos'" + outside},
      {"the root", {"--output=/", "photos"}, "the output folder '/' contains the photo folder 'photos'" + outside},
      {"holding the tree, given through a link", {"--output=" + dir_.path(), "sub-link"},
       "the output folder '" + dir_.path() + "' contains the photo folder 'sub-link'" + outside},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const auto before = Fingerprint(dir_.path());
    std::vector<std::string> args = {"index", "--createthumbs=1"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const TCliResult r = RunCli(args, dir_.path());
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.err.substr(0, r.err.find('\n')), "vellumcast-cli index: " + c.message);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(Fingerprint(dir_.path()), before);
  }
}

TEST_F(CliOutputOverlapTest, AnOutputFolderApartIsTaken) {
  const struct {
    const char* label;
    std::string output;
    std::string page;  // the top page the run writes
  } cases[] = {
      {"a sibling", "site", "site/vellumcast.html"},
      {"a sibling whose name starts as the tree's", "photos-site", "photos-site/vellumcast.html"},
      {"a new folder through a link to the parent", "here/web/new", "web/new/vellumcast.html"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const TCliResult r = RunCli({"index", "--output=" + c.output, "photos"}, dir_.path());
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(FileExists(dir_.Join(c.page)));
    EXPECT_FALSE(FileExists(dir_.Join("photos/vellumcast.html")));
  }
}

// The window keeps "no output folder" as an empty value: read through
// --settings it is the run into the tree, not a refusal.
TEST_F(CliOutputOverlapTest, TheWindowsEmptyOutputFolderMeansNone) {
  TScratchDir home{"vc-overlap-home"};
  ASSERT_TRUE(WriteFileBytes(home.Join("Korvane/vellumcast.conf"), "[General]\noutputpath=\n"));
  const char* old = std::getenv("XDG_CONFIG_HOME");
  const std::string saved = old != nullptr ? old : "";
  ::setenv("XDG_CONFIG_HOME", home.path().c_str(), 1);
  const TCliResult r = RunCli({"index", "--settings", "photos"}, dir_.path());
  if (old != nullptr) {
    ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
  } else {
    ::unsetenv("XDG_CONFIG_HOME");
  }
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(FileExists(dir_.Join("photos/vellumcast.html")));
}

}  // namespace
