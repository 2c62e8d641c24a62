#include "engine/store/clean.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "engine/run_helpers.h"
#include "fixtures/image_writers.h"

namespace fs = std::filesystem;

namespace {

// A fresh folder per test with helpers to lay out small trees in it.
class CleanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "vellumcast-clean-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    tree_ = root_ / "tree";
    outside_ = root_ / "outside";
    fs::create_directories(tree_);
    fs::create_directories(outside_);
  }

  void TearDown() override {
    std::error_code ignored;
    // Give back permissions a test may have taken away, then remove everything.
    for (auto it = fs::recursive_directory_iterator(root_, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored)) {
      if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
      }
    }
    fs::remove_all(root_, ignored);
  }

  static void MakeFile(const fs::path& path, const std::string& content = "x") {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
  }

  static std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  // Every entry below `folder`, relative to it, without following links.
  static std::set<std::string> Listing(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
      names.insert(entry.path().lexically_relative(folder).generic_string());
    }
    return names;
  }

  static bool Exists(const fs::path& path) { return fs::exists(fs::symlink_status(path)); }

  fs::path root_;
  fs::path tree_;
  fs::path outside_;
};

struct NameCase {
  const char* name;
  bool removed;
};

// Each name is a regular file, tried at the top and one level down: the rule
// depends on the entry's own name only, matched exactly without regard to
// case, never by a part of the name.
TEST_F(CleanTest, CatalogFolderFilesGoByTheirExactNamesOnly) {
  const std::vector<NameCase> cases = {
      {"vellumcast.html", true},
      {"vellumcast1.html", true},
      {"vellumcast12.html", true},
      {"Vellumcast.HTML", true},
      {"VELLUMCAST3.Html", true},
      {"imageback.html", true},
      {"ImageBack.HTML", true},
      {"vellumcast3.html.tmp4242-1", true},
      {"imageback.html.tmp4242-2", true},
      {"vellumcast-view-0123456789abcdef.html", true},
      {"vellumcast-view-0123456789ABCDEF.html.tmp9-1", true},
      {"myvellumcast.html", false},
      {"vellumcast.html.bak", false},
      {"my vellumcast.html notes.txt", false},
      {"imageback.html~", false},
      {"old_imageback.html", false},
      {"vellumcast0.html", false},
      {"vellumcast01.html", false},
      {"vellumcast-1.html", false},
      {"vellumcast.htm", false},
      {"vellumcast.txt", false},
      {"vellumcast", false},
      {".html", false},
      {"vellumcast.html.tmp", false},
      {"vellumcast.html.tmp12-", false},
      {"notes.txt.tmp12-3", false},
      {"vellumcast-view-0123.html", false},
      {"index.html", false},
      {"photo.jpg", false},
      {"fn.log", false},
      // Thumbnail names count only inside a thumbnail folder.
      {"quarto_tn0.jpg", false},
      {"My quarto_tn photo.jpg", false},
      {"quarto_tn_holiday.jpg", false},
      {"x_quarto_tn.jpg", false},
      {"vellumcast.manifest", false},
      {"vc-0123456789abcdef-1x.jpg", false},
  };
  for (const auto& c : cases) {
    MakeFile(tree_ / c.name);
    MakeFile(tree_ / "sub" / c.name);
  }

  const TCleanResult result = DeleteGenerated(tree_.c_str());

  int expected_removed = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Exists(tree_ / c.name), !c.removed);
    EXPECT_EQ(Exists(tree_ / "sub" / c.name), !c.removed);
    if (c.removed) expected_removed += 2;
  }
  EXPECT_EQ(result.files_removed, expected_removed);
  EXPECT_EQ(result.folders_removed, 0);
  EXPECT_TRUE(Exists(tree_ / "sub"));  // an ordinary folder is never removed
}

// Inside a thumbnail folder only what runs put there goes; the folder stays
// because of the user's files.
TEST_F(CleanTest, ThumbnailFolderFilesGoByTheirExactNamesOnly) {
  const std::vector<NameCase> cases = {
      {"quarto_tn0.jpg", true},
      {"quarto_tn17.jpg", true},
      {"Quarto_TN3.JPG", true},
      {"quarto_tn0.jpg.tmp77_3", true},
      {"quarto_tn1.jpg.tmp77_w4", true},
      {"vc-0123456789abcdef-1x.jpg", true},
      {"vc-0123456789abcdef-2x.jpg", true},
      {"VC-0123456789ABCDEF-web.jpg", true},
      {"vellumcast.manifest", true},
      {"vellumcast.manifest.tmp5-6", true},
      {"quarto_tn00.jpg", false},
      {"quarto_tn.jpg", false},
      {"quarto_tn0.jpeg", false},
      {"quarto_tn0.gif", false},
      {"quarto_tn0.jpg.bak", false},
      {"My quarto_tn photo.jpg", false},
      {"quarto_tn_holiday.jpg", false},
      {"x_quarto_tn.jpg", false},
      {"vc-0123456789abcdef-3x.jpg", false},
      {"vc-0123456789abcde-1x.jpg", false},
      {"vellumcast.html", false},
      {"photo.jpg", false},
  };
  for (const auto& c : cases) MakeFile(tree_ / "quarto_tn" / c.name);

  const TCleanResult result = DeleteGenerated(tree_.c_str());

  int expected_removed = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Exists(tree_ / "quarto_tn" / c.name), !c.removed);
    if (c.removed) ++expected_removed;
  }
  EXPECT_EQ(result.files_removed, expected_removed);
  EXPECT_EQ(result.folders_removed, 0);
}

// The user's own names that merely contain the generated ones, side by side
// with what a run wrote.
TEST_F(CleanTest, UserFilesNamedAlmostLikeGeneratedOnesStay) {
  const std::vector<std::string> user_files = {
      "My quarto_tn photo.jpg",     "quarto_tn_holiday.jpg",
      "my vellumcast.html notes.txt", "vellumcast.html.bak",
      "imageback.html~",            "my_quarto_tn_pics/quarto_tn0.jpg",
      "my_quarto_tn_pics/beach.jpg", "quarto_tn/mine.png",
  };
  for (const auto& name : user_files) MakeFile(tree_ / name, "mine");
  MakeFile(tree_ / "vellumcast.html");
  MakeFile(tree_ / "quarto_tn" / "quarto_tn0.jpg");
  MakeFile(tree_ / "my_quarto_tn_pics" / "vellumcast.html");

  const TCleanResult result = DeleteGenerated(tree_.c_str());

  EXPECT_EQ(result.files_removed, 3);
  EXPECT_EQ(result.folders_removed, 0);
  std::set<std::string> expected = {"my_quarto_tn_pics", "quarto_tn"};
  for (const auto& name : user_files) {
    expected.insert(name);
    EXPECT_EQ(ReadFile(tree_ / name), "mine") << name;
  }
  EXPECT_EQ(Listing(tree_), expected);
}

// A first page under another name goes only when the page itself says that
// Vellumcast wrote it, and only when the clean-up is told that name.
TEST_F(CleanTest, OtherFirstPageNameGoesOnlyWithTheGeneratorMarker) {
  const std::string marked = std::string("<html><head>") + kGeneratorMarker + "<title>x</title>";
  const std::string late_marker = std::string(kGeneratorMarkerWindow, ' ') + kGeneratorMarker;
  MakeFile(tree_ / "index.html", marked);
  MakeFile(tree_ / "a" / "INDEX.HTML", marked);
  MakeFile(tree_ / "a" / "index.html.tmp31-2", marked);
  MakeFile(tree_ / "b" / "index.html", "<html><body>the user's own home page</body></html>");
  MakeFile(tree_ / "c" / "index.html", late_marker);
  MakeFile(tree_ / "c" / "index.htm", marked);
  MakeFile(tree_ / "c" / "my index.html", marked);
  MakeFile(outside_ / "index.html", marked);
  fs::create_directories(tree_ / "d");
  fs::create_symlink(outside_ / "index.html", tree_ / "d" / "index.html");

  // Without the name: every index.html stays.
  TCleanResult result = DeleteGenerated(tree_.c_str());
  EXPECT_EQ(result.files_removed, 0);
  EXPECT_TRUE(Exists(tree_ / "index.html"));

  TCleanOptions options;
  options.firstpage = "index.html";
  result = DeleteGenerated(tree_.c_str(), options);

  EXPECT_EQ(result.files_removed, 3);
  EXPECT_FALSE(Exists(tree_ / "index.html"));
  EXPECT_FALSE(Exists(tree_ / "a" / "INDEX.HTML"));
  EXPECT_FALSE(Exists(tree_ / "a" / "index.html.tmp31-2"));
  EXPECT_TRUE(Exists(tree_ / "b" / "index.html"));
  EXPECT_TRUE(Exists(tree_ / "c" / "index.html"));
  EXPECT_TRUE(Exists(tree_ / "c" / "index.htm"));
  EXPECT_TRUE(Exists(tree_ / "c" / "my index.html"));
  EXPECT_TRUE(Exists(tree_ / "d" / "index.html"));
  EXPECT_EQ(ReadFile(outside_ / "index.html"), marked);
}

// A dry run reports exactly what a clean-up removes, and removes nothing.
TEST_F(CleanTest, DryRunListsWhatWouldGoAndChangesNothing) {
  MakeFile(tree_ / "vellumcast.html");
  MakeFile(tree_ / "photo.jpg");
  MakeFile(tree_ / "a" / "vellumcast1.html");
  MakeFile(tree_ / "a" / "quarto_tn" / "quarto_tn0.jpg");
  MakeFile(tree_ / "a" / "quarto_tn" / "quarto_tn1.jpg");
  MakeFile(tree_ / "b" / "quarto_tn" / "quarto_tn0.jpg");
  MakeFile(tree_ / "b" / "quarto_tn" / "mine.png");
  const std::set<std::string> before = Listing(tree_);

  using TSeen = std::vector<std::pair<std::string, bool>>;
  const auto record = [](const char* path, bool is_folder, void* context) {
    static_cast<TSeen*>(context)->emplace_back(fs::path(path).lexically_normal().string(), is_folder);
  };
  TSeen dry;
  TCleanOptions options;
  options.dry_run = true;
  options.on_remove = record;
  options.context = &dry;
  const TCleanResult would = DeleteGenerated(tree_.c_str(), options);
  EXPECT_EQ(Listing(tree_), before);

  TSeen real;
  options.dry_run = false;
  options.context = &real;
  const TCleanResult did = DeleteGenerated(tree_.c_str(), options);

  EXPECT_EQ(would.files_removed, 5);
  EXPECT_EQ(would.folders_removed, 1);
  EXPECT_EQ(did.files_removed, would.files_removed);
  EXPECT_EQ(did.folders_removed, would.folders_removed);
  EXPECT_EQ(std::set(dry.begin(), dry.end()), std::set(real.begin(), real.end()));
  EXPECT_EQ(dry.size(), 6u);
  EXPECT_TRUE(std::count(dry.begin(), dry.end(), std::make_pair((tree_ / "a" / "quarto_tn").string(), true)));
  // The folder is reported after its contents.
  const auto at = [&real](const fs::path& path, bool is_folder) {
    return std::find(real.begin(), real.end(), std::make_pair(path.string(), is_folder)) - real.begin();
  };
  EXPECT_GT(at(tree_ / "a" / "quarto_tn", true), at(tree_ / "a" / "quarto_tn" / "quarto_tn0.jpg", false));
  EXPECT_GT(at(tree_ / "a" / "quarto_tn", true), at(tree_ / "a" / "quarto_tn" / "quarto_tn1.jpg", false));
  EXPECT_EQ(Listing(tree_), (std::set<std::string>{"photo.jpg", "a", "b", "b/quarto_tn", "b/quarto_tn/mine.png"}));
}

// The layout a run with thumbnails and several pages leaves behind, over
// three levels, with the user's own files beside it.
TEST_F(CleanTest, RemovesEverythingARunGeneratesAndKeepsTheRest) {
  const std::vector<std::string> user_files = {
      "fn.log",          "a/A.gif",         "a/b.jpg",       "a/c.bmp",
      "a/notes.txt",     "a/b/deep.jpg",    "a/b/c/x.gif",   "empty/readme",
  };
  const std::vector<std::string> generated_files = {
      "vellumcast.html",
      "imageback.html",
      "a/vellumcast.html",
      "a/vellumcast1.html",
      "a/vellumcast2.html",
      "a/imageback.html",
      "a/quarto_tn/quarto_tn0.jpg",
      "a/quarto_tn/quarto_tn1.jpg",
      "a/quarto_tn/quarto_tn2.jpg",
      "a/b/vellumcast.html",
      "a/b/imageback.html",
      "a/b/quarto_tn/quarto_tn0.jpg",
      "a/b/quarto_tn/quarto_tn9.jpg",  // stale: beyond the folder's image count
      "a/b/c/vellumcast.html",
      "a/b/c/imageback.html",
      "a/b/c/quarto_tn/quarto_tn0.jpg",
  };
  for (const auto& name : user_files) MakeFile(tree_ / name);
  for (const auto& name : generated_files) MakeFile(tree_ / name);

  const TCleanResult result = DeleteGenerated(tree_.c_str());

  EXPECT_EQ(result.files_removed, static_cast<int32_t>(generated_files.size()));
  EXPECT_EQ(result.folders_removed, 3);
  std::set<std::string> expected = {"a", "a/b", "a/b/c", "empty"};
  for (const auto& name : user_files) expected.insert(name);
  EXPECT_EQ(Listing(tree_), expected);

  // A second clean-up finds nothing more to do.
  const TCleanResult again = DeleteGenerated(tree_.c_str());
  EXPECT_EQ(again.files_removed, 0);
  EXPECT_EQ(again.folders_removed, 0);
}

TEST_F(CleanTest, ThumbnailFolderWithAUserFileStays) {
  MakeFile(tree_ / "quarto_tn" / "quarto_tn0.jpg");
  MakeFile(tree_ / "quarto_tn" / "quarto_tn1.jpg");
  MakeFile(tree_ / "quarto_tn" / "mine.png", "keep");

  const TCleanResult result = DeleteGenerated(tree_.c_str());

  EXPECT_EQ(result.files_removed, 2);
  EXPECT_EQ(result.folders_removed, 0);
  EXPECT_EQ(Listing(tree_), (std::set<std::string>{"quarto_tn", "quarto_tn/mine.png"}));
  EXPECT_EQ(ReadFile(tree_ / "quarto_tn" / "mine.png"), "keep");
}

// Folders are judged by their own names too: only a folder named exactly
// quarto_tn (without regard to case) holds thumbnails, and it goes only when
// the clean-up emptied it. Runs write nothing in a folder below it.
TEST_F(CleanTest, FoldersNamedLikeGeneratedFilesAreSearchedNotDeleted) {
  MakeFile(tree_ / "vellumcast.html" / "vellumcast.html");
  MakeFile(tree_ / "vellumcast.html" / "photo.jpg");
  MakeFile(tree_ / "imageback.html" / "index.html");
  MakeFile(tree_ / "quarto_tn0.jpg" / "quarto_tn0.jpg");
  MakeFile(tree_ / "quarto_tn0.jpg" / "photo.jpg");
  MakeFile(tree_ / "old_quarto_tn" / "photo.jpg");
  MakeFile(tree_ / "old_quarto_tn" / "quarto_tn0.jpg");
  MakeFile(tree_ / "quarto_tn2" / "quarto_tn5.jpg");
  MakeFile(tree_ / "Quarto_TN" / "quarto_tn1.jpg");                 // emptied: goes
  fs::create_directories(tree_ / "x" / "quarto_tn");                 // empty already: stays
  MakeFile(tree_ / "y" / "quarto_tn" / "quarto_tn" / "quarto_tn0.jpg");  // not entered

  const TCleanResult result = DeleteGenerated(tree_.c_str());

  EXPECT_EQ(result.files_removed, 2);
  EXPECT_EQ(result.folders_removed, 1);
  EXPECT_EQ(Listing(tree_), (std::set<std::string>{
                                "vellumcast.html",
                                "vellumcast.html/photo.jpg",
                                "imageback.html",
                                "imageback.html/index.html",
                                "quarto_tn0.jpg",
                                "quarto_tn0.jpg/quarto_tn0.jpg",
                                "quarto_tn0.jpg/photo.jpg",
                                "old_quarto_tn",
                                "old_quarto_tn/photo.jpg",
                                "old_quarto_tn/quarto_tn0.jpg",
                                "quarto_tn2",
                                "quarto_tn2/quarto_tn5.jpg",
                                "x",
                                "x/quarto_tn",
                                "y",
                                "y/quarto_tn",
                                "y/quarto_tn/quarto_tn",
                                "y/quarto_tn/quarto_tn/quarto_tn0.jpg",
                            }));
}

// The folder given is cleaned but never removed, whatever its name.
TEST_F(CleanTest, StartingFolderItselfStays) {
  const fs::path start = tree_ / "quarto_tn";
  MakeFile(start / "quarto_tn0.jpg");

  const TCleanResult result = DeleteGenerated(start.c_str());

  EXPECT_EQ(result.files_removed, 1);
  EXPECT_EQ(result.folders_removed, 0);
  EXPECT_TRUE(fs::is_directory(start));
}

TEST_F(CleanTest, TrailingSeparatorGivesTheSameResult) {
  MakeFile(tree_ / "a" / "vellumcast.html");
  MakeFile(tree_ / "a" / "quarto_tn" / "quarto_tn0.jpg");

  const std::string with_separator = tree_.string() + "/";
  const TCleanResult result = DeleteGenerated(with_separator.c_str());

  EXPECT_EQ(result.files_removed, 2);
  EXPECT_EQ(result.folders_removed, 1);
  EXPECT_EQ(Listing(tree_), (std::set<std::string>{"a"}));
}

TEST_F(CleanTest, EmptyPathCleansTheCurrentFolder) {
  MakeFile(tree_ / "vellumcast.html");
  MakeFile(tree_ / "a" / "imageback.html");
  MakeFile(tree_ / "a" / "photo.jpg");
  MakeFile(outside_ / "vellumcast.html");

  const fs::path previous = fs::current_path();
  fs::current_path(tree_);
  const TCleanResult result = DeleteGenerated("");
  fs::current_path(previous);

  EXPECT_EQ(result.files_removed, 2);
  EXPECT_EQ(Listing(tree_), (std::set<std::string>{"a", "a/photo.jpg"}));
  EXPECT_TRUE(Exists(outside_ / "vellumcast.html"));
}

TEST_F(CleanTest, FolderThatCannotBeListedIsANoOp) {
  MakeFile(root_ / "plain.txt");
  for (const std::string& path :
       {(root_ / "missing").string(), (root_ / "plain.txt").string()}) {
    SCOPED_TRACE(path);
    const TCleanResult result = DeleteGenerated(path.c_str());
    EXPECT_EQ(result.files_removed, 0);
    EXPECT_EQ(result.folders_removed, 0);
  }
  const TCleanResult none = DeleteGenerated(nullptr);
  EXPECT_EQ(none.files_removed, 0);
  EXPECT_TRUE(Exists(root_ / "plain.txt"));
}

// Links are left as they are and never followed: whatever they point at,
// inside the tree or outside it, keeps every file.
TEST_F(CleanTest, SymbolicLinksAreNeitherFollowedNorDeleted) {
  MakeFile(outside_ / "vellumcast.html", "outside page");
  MakeFile(outside_ / "imageback.html", "outside back");
  MakeFile(outside_ / "quarto_tn" / "quarto_tn0.jpg", "outside thumb");
  MakeFile(tree_ / "vellumcast.html");

  fs::create_directory_symlink(outside_, tree_ / "linked");
  fs::create_directory_symlink(outside_ / "quarto_tn", tree_ / "quarto_tn");
  fs::create_symlink(outside_ / "imageback.html", tree_ / "imageback.html");
  fs::create_symlink(root_ / "nowhere.html", tree_ / "vellumcast1.html");  // dangling
  fs::create_directory_symlink(tree_, tree_ / "loop");                     // a loop
  fs::create_directory_symlink("..", tree_ / "up");                        // to the parent

  const TCleanResult result = DeleteGenerated(tree_.c_str());

  EXPECT_EQ(result.files_removed, 1);  // only the real vellumcast.html
  EXPECT_EQ(result.folders_removed, 0);
  EXPECT_EQ(Listing(tree_), (std::set<std::string>{"linked", "quarto_tn", "imageback.html",
                                                   "vellumcast1.html", "loop", "up"}));
  EXPECT_EQ(ReadFile(outside_ / "vellumcast.html"), "outside page");
  EXPECT_EQ(ReadFile(outside_ / "imageback.html"), "outside back");
  EXPECT_EQ(ReadFile(outside_ / "quarto_tn" / "quarto_tn0.jpg"), "outside thumb");
}

// A link that resolves back to an ancestor folder does not make the clean-up
// run in circles or reach above its start.
TEST_F(CleanTest, LinkLoopBelowTheStartEnds) {
  MakeFile(tree_ / "a" / "b" / "vellumcast.html");
  MakeFile(root_ / "vellumcast.html", "above the start");
  fs::create_directory_symlink("../..", tree_ / "a" / "b" / "back");
  fs::create_directory_symlink("../../..", tree_ / "a" / "b" / "above");

  const TCleanResult result = DeleteGenerated(tree_.c_str());

  EXPECT_EQ(result.files_removed, 1);
  EXPECT_EQ(ReadFile(root_ / "vellumcast.html"), "above the start");
}

// The folder the user names may itself be a link: it is followed, as the
// user asked for it, and only what lies below is judged entry by entry.
TEST_F(CleanTest, StartingFolderGivenThroughALinkIsCleaned) {
  MakeFile(outside_ / "vellumcast.html");
  MakeFile(outside_ / "photo.jpg");
  fs::create_directory_symlink(outside_, root_ / "start");

  const TCleanResult result = DeleteGenerated((root_ / "start").c_str());

  EXPECT_EQ(result.files_removed, 1);
  EXPECT_EQ(Listing(outside_), (std::set<std::string>{"photo.jpg"}));
}

TEST_F(CleanTest, SpecialFilesWithGeneratedNamesStay) {
  ASSERT_EQ(mkfifo((tree_ / "vellumcast.html").c_str(), 0600), 0);
  ASSERT_EQ(mkfifo((tree_ / "quarto_tn3.jpg").c_str(), 0600), 0);

  const TCleanResult result = DeleteGenerated(tree_.c_str());

  EXPECT_EQ(result.files_removed, 0);
  EXPECT_TRUE(Exists(tree_ / "vellumcast.html"));
  EXPECT_TRUE(Exists(tree_ / "quarto_tn3.jpg"));
}

// Entries whose full path would pass 1023 characters are skipped whole. Had
// the path been cut to fit, the cut path would name the user's file instead.
TEST_F(CleanTest, PathsPastTheLimitAreSkippedNeverCut) {
  fs::path deep = tree_;
  const std::string segment(200, 'd');
  while (deep.string().size() + 1 + segment.size() < 1007) deep /= segment;
  deep /= std::string(1007 - deep.string().size() - 1, 'e');
  ASSERT_EQ(deep.string().size(), 1007u);

  // 1007 + 1 + 15 = 1023 characters: the longest path that fits.
  const std::string user_name = "vellumcast1.htm";
  const std::string fits_name = "vellumcast.html";
  const std::string long_name = user_name + "l";  // "vellumcast1.html", one past the limit
  ASSERT_EQ((deep / user_name).string().size(), 1023u);
  ASSERT_EQ((deep / fits_name).string().size(), 1023u);
  ASSERT_EQ((deep / long_name).string().size(), 1024u);
  MakeFile(deep / user_name, "user");
  MakeFile(deep / fits_name);
  MakeFile(deep / long_name);
  MakeFile(tree_ / "vellumcast.html");

  const TCleanResult result = DeleteGenerated(tree_.c_str());

  EXPECT_EQ(result.files_removed, 2);
  EXPECT_FALSE(Exists(tree_ / "vellumcast.html"));
  EXPECT_FALSE(Exists(deep / fits_name));
  EXPECT_TRUE(Exists(deep / long_name));
  EXPECT_EQ(ReadFile(deep / user_name), "user");
}

// A tree as deep as the path limit allows is cleaned to the bottom even when
// the process may hold only a few files open at once.
TEST_F(CleanTest, DeepTreeIsCleanedWithFewFileDescriptors) {
  fs::path deep = tree_;
  int level = 0;
  std::vector<fs::path> pages;
  while (deep.string().size() + 2 + std::string("/quarto_tn/quarto_tn0.jpg").size() <= 1023) {
    deep /= "d";
    if (++level % 20 == 0) pages.push_back(deep / "vellumcast.html");
  }
  ASSERT_GT(level, 300);
  for (const auto& page : pages) MakeFile(page);
  MakeFile(deep / "quarto_tn" / "quarto_tn0.jpg");

  struct rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
  struct rlimit low = saved;
  low.rlim_cur = 32;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
  const TCleanResult result = DeleteGenerated(tree_.c_str());
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);

  EXPECT_EQ(result.files_removed, static_cast<int32_t>(pages.size()) + 1);
  EXPECT_EQ(result.folders_removed, 1);
  for (const auto& page : pages) EXPECT_FALSE(Exists(page)) << page.string().size();
  EXPECT_FALSE(Exists(deep / "quarto_tn"));
}

TEST_F(CleanTest, StartingPathPastTheLimitIsRefused) {
  const std::string too_long(1024, 'a');
  const TCleanResult result = DeleteGenerated(too_long.c_str());
  EXPECT_EQ(result.files_removed, 0);
  EXPECT_EQ(result.folders_removed, 0);
}

// DeleteGenerated as an ordinary user, so that permissions bind: as root
// the tree is handed to "nobody" and the clean-up runs in a child process
// that has dropped its privileges. False when that cannot be arranged.
bool DeleteGeneratedUnprivileged(const fs::path& own, const fs::path& folder, TCleanResult* result) {
  if (geteuid() != 0) {
    *result = DeleteGenerated(folder.c_str());
    return true;
  }
  constexpr uid_t kNobody = 65534;
  for (const auto& entry : fs::recursive_directory_iterator(own)) {
    if (lchown(entry.path().c_str(), kNobody, kNobody) != 0) return false;
  }
  if (chown(own.c_str(), kNobody, kNobody) != 0) return false;
  int channel[2];
  if (pipe(channel) != 0) return false;
  const pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) {
    close(channel[0]);
    if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(3);
    const TCleanResult counts = DeleteGenerated(folder.c_str());
    const bool sent = write(channel[1], &counts, sizeof counts) == static_cast<ssize_t>(sizeof counts);
    _exit(sent ? 0 : 4);
  }
  close(channel[1]);
  const bool received = read(channel[0], result, sizeof *result) == static_cast<ssize_t>(sizeof *result);
  close(channel[0]);
  int status = 0;
  waitpid(child, &status, 0);
  return received && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A file in a read-only folder and a folder that cannot be listed stay; the
// walk goes on with the rest.
TEST_F(CleanTest, FilesThatCannotBeDeletedStayAndTheWalkGoesOn) {
  MakeFile(tree_ / "locked" / "vellumcast.html");
  MakeFile(tree_ / "locked" / "quarto_tn" / "quarto_tn0.jpg");
  MakeFile(tree_ / "closed" / "vellumcast.html");
  MakeFile(tree_ / "z" / "vellumcast.html");
  fs::permissions(tree_ / "locked", fs::perms::owner_read | fs::perms::owner_exec);
  fs::permissions(tree_ / "closed", fs::perms::none);

  TCleanResult result;
  if (!DeleteGeneratedUnprivileged(root_, tree_, &result)) {
    GTEST_SKIP() << "cannot run the clean-up as user nobody (65534) to make permissions bind";
  }

  EXPECT_EQ(result.files_removed, 2);  // the thumbnail inside locked/quarto_tn and z's page
  EXPECT_EQ(result.folders_removed, 0);  // locked/quarto_tn is empty but its parent is read-only
  EXPECT_TRUE(Exists(tree_ / "locked" / "vellumcast.html"));
  EXPECT_TRUE(Exists(tree_ / "locked" / "quarto_tn"));
  EXPECT_FALSE(Exists(tree_ / "locked" / "quarto_tn" / "quarto_tn0.jpg"));
  EXPECT_FALSE(Exists(tree_ / "z" / "vellumcast.html"));
  fs::permissions(tree_ / "closed", fs::perms::owner_all);
  EXPECT_TRUE(Exists(tree_ / "closed" / "vellumcast.html"));
}

// Real runs: a paged run with thumbnails, then a run with one page per
// folder that leaves the earlier later pages behind. The clean-up brings the
// tree back to exactly the user's files; the probe log stays.
class CleanAfterRunTest : public TEngineTest {};

TEST_F(CleanAfterRunTest, TreeReturnsToTheUserFiles) {
  ASSERT_TRUE(WriteTestJpeg(Path("pics/top.jpg"), 64, 48));
  ASSERT_TRUE(WriteTestGif(Path("pics/animals/owl.gif"), 40, 60));
  ASSERT_TRUE(WriteTestBmp24(Path("pics/animals/heron.bmp"), 50, 30));
  ASSERT_TRUE(WriteTestJpeg(Path("pics/animals/fox.jpg"), 30, 30));
  ASSERT_TRUE(WriteTestJpeg(Path("pics/animals/cats/tabby.jpg"), 80, 80));
  ASSERT_TRUE(WriteTestJpeg(Path("pics/travel/2023/harbour.jpg"), 90, 60));
  ASSERT_TRUE(WriteFileBytes(Path("pics/notes/readme.txt"), "notes"));
  const fs::path tree = Path("pics");
  const auto listing = [&tree] {
    std::set<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(tree)) {
      names.insert(entry.path().lexically_relative(tree).generic_string());
    }
    return names;
  };
  const std::set<std::string> user_files = listing();

  RunIndex(tree.string(), [](TThreadVellumcast& w) {
    w.options.createthumbs = 1;
    w.options.rowsperpage = 1;
    w.options.cellsperrow = 1;
  });
  RunIndex(tree.string());
  ASSERT_TRUE(fs::exists(tree / "animals" / "quarto_tn" / "quarto_tn2.jpg"));
  ASSERT_TRUE(fs::exists(tree / "animals" / "vellumcast2.html"));  // stale after the second run
  ASSERT_TRUE(fs::exists(tree / "travel" / "imageback.html"));
  ASSERT_TRUE(fs::exists(Path("fn.log")));

  const TCleanResult result = DeleteGenerated(tree.c_str());

  EXPECT_EQ(listing(), user_files);
  EXPECT_EQ(result.folders_removed, 4);  // pics, animals, cats and 2023 had thumbnails
  EXPECT_GT(result.files_removed, 0);
  EXPECT_TRUE(fs::exists(Path("fn.log")));
}

}  // namespace
