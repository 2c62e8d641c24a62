#include "platform/dir_listing.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <string>

#include "fixtures/tree_writer.h"

namespace {

TEST(WildcardMatch, WindowsStylePatternsWithoutCase) {
  struct TCase {
    const char* pattern;
    const char* name;
    bool expected;
  };
  for (const TCase& c : {
           TCase{"*.gif", "A.GIF", true},      TCase{"*.gif", "a.gif", true},
           TCase{"*.gif", "a.gifx", false},    TCase{"*.gif", "gif", false},
           TCase{"*.gif", ".gif", true},       TCase{"*.gif", "a.b.gif", true},
           TCase{"*.*", "noext", true},        TCase{"*.*", ".", true},
           TCase{"*.*", "..", true},           TCase{"a?c", "abc", true},
           TCase{"a?c", "ac", false},          TCase{"*", "", true},
           TCase{"*a*a*a*a*b", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", false},
           TCase{"*.JPG", "x.jpg", true},      TCase{"*.jpg", "x.jpeg", false},
       }) {
    EXPECT_EQ(WildcardMatch(c.pattern, c.name), c.expected) << c.pattern << " ~ " << c.name;
  }
}

class DirListingTest : public ::testing::Test {
 protected:
  std::map<std::string, std::pair<bool, bool>> List(const std::string& folder, const char* pattern) {
    std::map<std::string, std::pair<bool, bool>> seen;
    TDirListing listing(folder.c_str(), pattern);
    EXPECT_TRUE(listing.IsOpen());
    while (listing.Next()) seen[listing.Name()] = {listing.IsDirectory(), listing.IsRegularFile()};
    return seen;
  }
  TScratchDir dir_{"vc-listing"};
};

TEST_F(DirListingTest, YieldsMatchingNamesWithTheirKind) {
  ASSERT_TRUE(WriteFileBytes(dir_.Join("a.GIF"), "x"));
  ASSERT_TRUE(WriteFileBytes(dir_.Join("b.jpg"), "x"));
  ASSERT_TRUE(MakeDirs(dir_.Join("folder.gif")));
  ASSERT_TRUE(MakeDirs(dir_.Join("sub")));
  ASSERT_EQ(::symlink("sub", dir_.Join("link.gif").c_str()), 0);
  ASSERT_EQ(::symlink("a.GIF", dir_.Join("alias.gif").c_str()), 0);
  ASSERT_EQ(::symlink("nowhere", dir_.Join("dangling.gif").c_str()), 0);
  ASSERT_EQ(::mkfifo(dir_.Join("pipe.gif").c_str(), 0600), 0);

  auto gifs = List(dir_.path(), "*.gif");
  using K = std::pair<bool, bool>;  // directory, regular file
  EXPECT_EQ(gifs, (std::map<std::string, K>{{"a.GIF", {false, true}},
                                            {"folder.gif", {true, false}},
                                            {"link.gif", {true, false}},
                                            {"alias.gif", {false, true}},
                                            {"dangling.gif", {false, false}},
                                            {"pipe.gif", {false, false}}}));
  std::map<std::string, bool> links;
  TDirListing listing(dir_.path().c_str(), "*.gif");
  while (listing.Next()) links[listing.Name()] = listing.IsLink();
  EXPECT_EQ(links, (std::map<std::string, bool>{{"a.GIF", false},
                                                {"folder.gif", false},
                                                {"link.gif", true},
                                                {"alias.gif", true},
                                                {"dangling.gif", true},
                                                {"pipe.gif", false}}));
  auto all = List(dir_.path(), "*.*");
  EXPECT_EQ(all.size(), 10u);  // eight entries, "." and ".."
  EXPECT_TRUE(all["."].first);
  EXPECT_TRUE(all[".."].first);
}

TEST_F(DirListingTest, AMissingFolderDoesNotOpen) {
  TDirListing listing(dir_.Join("missing").c_str(), "*.*");
  EXPECT_FALSE(listing.IsOpen());
  EXPECT_FALSE(listing.Next());
  EXPECT_EQ(listing.OpenError(), ENOENT);  // why, for the run's report
  ASSERT_TRUE(WriteFileBytes(dir_.Join("file"), "x"));
  TDirListing file_listing(dir_.Join("file").c_str(), "*.*");
  EXPECT_FALSE(file_listing.IsOpen());
  EXPECT_EQ(file_listing.OpenError(), ENOTDIR);
  TDirListing open_listing(dir_.path().c_str(), "*.*");
  EXPECT_EQ(open_listing.OpenError(), 0);
}

TEST_F(DirListingTest, AnEmptyFolderMeansTheCurrentFolder) {
  ASSERT_TRUE(WriteFileBytes(dir_.Join("here.bmp"), "x"));
  char saved[4096];
  ASSERT_NE(::getcwd(saved, sizeof saved), nullptr);
  ASSERT_EQ(::chdir(dir_.path().c_str()), 0);
  auto seen = List("", "*.bmp");
  ASSERT_EQ(::chdir(saved), 0);
  EXPECT_EQ(seen.size(), 1u);
  EXPECT_TRUE(seen["here.bmp"].second);
}

TEST_F(DirListingTest, RestartListsTheFolderAsItIsNowWithOtherPatterns) {
  ASSERT_TRUE(WriteFileBytes(dir_.Join("a.gif"), "x"));
  ASSERT_TRUE(WriteFileBytes(dir_.Join("b.txt"), "x"));
  ASSERT_TRUE(MakeDirs(dir_.Join("sub")));
  TDirListing listing(dir_.path().c_str(), "*.*");
  ASSERT_TRUE(listing.IsOpen());
  struct stat info;
  ASSERT_EQ(::stat(dir_.path().c_str(), &info), 0);
  dev_t device = 0;
  ino_t inode = 0;
  ASSERT_TRUE(listing.Identity(&device, &inode));
  EXPECT_EQ(device, info.st_dev);
  EXPECT_EQ(inode, info.st_ino);
  int first = 0;
  while (listing.Next()) ++first;
  EXPECT_EQ(first, 5);  // three entries, "." and ".."

  // Changed after the first pass: the second pass sees the change.
  ASSERT_TRUE(WriteFileBytes(dir_.Join("c.JPG"), "x"));
  ASSERT_TRUE(WriteFileBytes(dir_.Join("d.bmp"), "x"));
  ASSERT_EQ(::unlink(dir_.Join("a.gif").c_str()), 0);
  ASSERT_TRUE(WriteFileBytes(dir_.Join("e.jpeg"), "x"));
  static constexpr const char* kPatterns[] = {"*.gif", "*.jpg", "*.bmp"};
  listing.Restart(kPatterns, 3);
  std::map<std::string, bool> seen;
  while (listing.Next()) seen[listing.Name()] = listing.IsRegularFile();
  EXPECT_EQ(seen, (std::map<std::string, bool>{{"c.JPG", true}, {"d.bmp", true}}));

  TDirListing missing(dir_.Join("missing").c_str(), "*.*");
  EXPECT_FALSE(missing.Identity(&device, &inode));
  missing.Restart(kPatterns, 3);
  EXPECT_FALSE(missing.Next());
}

}  // namespace
