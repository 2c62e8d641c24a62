#include "support/path_util.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "fixtures/tree_writer.h"

namespace {

TEST(PathAddSeparator, AddsOneSeparatorOnlyWhereNeeded) {
  struct TCase {
    const char* in;
    const char* out;
  };
  for (const TCase& c : {TCase{"", ""}, TCase{"/", "/"}, TCase{"pics", "pics/"}, TCase{"pics/", "pics/"},
                         TCase{"/home/a", "/home/a/"}, TCase{"C:", "C:/"}, TCase{"a\\", "a\\/"}}) {
    char buffer[32];
    std::strcpy(buffer, c.in);
    EXPECT_TRUE(PathAddSeparator(buffer, sizeof buffer));
    EXPECT_STREQ(buffer, c.out) << c.in;
  }
}

TEST(PathAddSeparator, RefusesWhenTheBufferIsFull) {
  char buffer[5] = "abcd";
  EXPECT_FALSE(PathAddSeparator(buffer, sizeof buffer));
  EXPECT_STREQ(buffer, "abcd");
  char room[6] = "abcd";
  EXPECT_TRUE(PathAddSeparator(room, sizeof room));
  EXPECT_STREQ(room, "abcd/");
}

TEST(PathJoin, JoinsWithinTheLimitAndNeverCuts) {
  char out[16];
  EXPECT_TRUE(PathJoin(out, sizeof out, 15, "pics", "a.gif"));
  EXPECT_STREQ(out, "pics/a.gif");
  EXPECT_TRUE(PathJoin(out, sizeof out, 15, "pics/", "a.gif"));
  EXPECT_STREQ(out, "pics/a.gif");
  EXPECT_TRUE(PathJoin(out, sizeof out, 15, "", "a.gif"));
  EXPECT_STREQ(out, "a.gif");
  EXPECT_TRUE(PathJoin(out, sizeof out, 10, "pics", "a.gif"));  // exactly 10 characters
  EXPECT_FALSE(PathJoin(out, sizeof out, 9, "pics", "a.gif"));
  EXPECT_STREQ(out, "");
  EXPECT_FALSE(PathJoin(out, sizeof out, 1000, "pictures", "long.gif"));  // 17 > buffer
  EXPECT_STREQ(out, "");
}

TEST(PathToUrlSlashes, SeparatorsBecomeForwardSlashes) {
  char text[] = "quarto_tn/quarto_tn7.jpg";
  PathToUrlSlashes(text);
  EXPECT_STREQ(text, "quarto_tn/quarto_tn7.jpg");
}

TEST(HasExtension, ComparesTheWholeRemainderAfterTheLastDotWithoutCase) {
  struct TCase {
    const char* name;
    const char* extension;
    bool expected;
  };
  for (const TCase& c : {TCase{"photo.JPG", ".jpg", true}, TCase{"photo.jpg.txt", ".jpg", false},
                         TCase{"photo", ".jpg", false}, TCase{"x.jpeg", ".jpe", false},
                         TCase{"x.jpe", ".jpeg", false}, TCase{"/a.gif/photo", ".gif", false},
                         TCase{"a.Gif", ".gif", true}, TCase{".gif", ".gif", true},
                         TCase{"a.", ".gif", false}}) {
    EXPECT_EQ(HasExtension(c.name, c.extension), c.expected) << c.name << " " << c.extension;
  }
}

TEST(PathFileName, PointsPastTheLastSeparator) {
  EXPECT_STREQ(PathFileName("/a/b.gif"), "b.gif");
  EXPECT_STREQ(PathFileName("/a/"), "");
  EXPECT_STREQ(PathFileName("b.gif"), "b.gif");
  EXPECT_STREQ(PathFileName(""), "");
  char writable[] = "x/y/z.bmp";
  char* name = PathFileName(writable);
  EXPECT_EQ(name, writable + 4);
}

TEST(StrLower, LowersAsciiInPlace) {
  char text[] = "<BODY bgColor=X>\xC9";
  StrLower(text);
  EXPECT_STREQ(text, "<body bgcolor=x>\xC9");
}

class FileHelpers : public ::testing::Test {
 protected:
  TScratchDir dir_{"vc-path"};
};

TEST_F(FileHelpers, IsDirectoryTellsFoldersFromFiles) {
  ASSERT_TRUE(MakeDirs(dir_.Join("folder")));
  ASSERT_TRUE(WriteFileBytes(dir_.Join("file"), "x"));
  ASSERT_EQ(::symlink("folder", dir_.Join("link").c_str()), 0);
  EXPECT_NE(IsDirectory(dir_.Join("folder").c_str()), 0);
  EXPECT_NE(IsDirectory(dir_.Join("link").c_str()), 0);
  EXPECT_EQ(IsDirectory(dir_.Join("file").c_str()), 0);
  EXPECT_EQ(IsDirectory(dir_.Join("missing").c_str()), 0);
}

TEST_F(FileHelpers, MakePathDirsCreatesEveryLevelBeforeTheLastSeparator) {
  std::string path = dir_.Join("a/b/file.jpg");
  std::string original = path;
  EXPECT_EQ(MakePathDirs(path.data(), 1), 1);
  EXPECT_EQ(path, original);
  EXPECT_NE(IsDirectory(dir_.Join("a/b").c_str()), 0);
  EXPECT_FALSE(FileExists(dir_.Join("a/b/file.jpg")));

  std::string only_a = dir_.Join("x/y");
  EXPECT_EQ(MakePathDirs(only_a.data(), 1), 1);
  EXPECT_NE(IsDirectory(dir_.Join("x").c_str()), 0);
  EXPECT_FALSE(FileExists(dir_.Join("x/y")));
}

TEST_F(FileHelpers, MakePathDirsWithoutCreateOnlyTests) {
  ASSERT_TRUE(MakeDirs(dir_.Join("exists")));
  std::string missing = dir_.Join("exists/missing/");
  EXPECT_EQ(MakePathDirs(missing.data(), 0), 0);
  EXPECT_FALSE(FileExists(dir_.Join("exists/missing")));
  std::string present = dir_.Join("exists/");
  EXPECT_EQ(MakePathDirs(present.data(), 0), 1);
  char root[] = "/";
  EXPECT_EQ(MakePathDirs(root, 0), 1);
  char parent[] = "../";
  EXPECT_EQ(MakePathDirs(parent, 0), 1);
  char dots[] = "./nothing-here-at-all/../";
  EXPECT_EQ(MakePathDirs(dots, 0), 0);
}

TEST_F(FileHelpers, ALevelThatIsAFileCountsAsMissing) {
  ASSERT_TRUE(WriteFileBytes(dir_.Join("plain"), "x"));
  std::string path = dir_.Join("plain/inner/file.jpg");
  EXPECT_EQ(MakePathDirs(path.data(), 0), 0);
  EXPECT_EQ(MakePathDirs(path.data(), 1), 0);
  EXPECT_EQ(path, dir_.Join("plain/inner/file.jpg"));
}

TEST_F(FileHelpers, CheckDirPathCountsTheLastLevel) {
  ASSERT_TRUE(MakeDirs(dir_.Join("here")));
  EXPECT_EQ(CheckDirPath(dir_.Join("here").c_str(), 0), 1);
  EXPECT_EQ(CheckDirPath(dir_.Join("there").c_str(), 0), 0);
  EXPECT_EQ(CheckDirPath(dir_.Join("there/deeper").c_str(), 1), 1);
  EXPECT_NE(IsDirectory(dir_.Join("there/deeper").c_str()), 0);
  EXPECT_EQ(CheckDirPath("", 0), 1);
  std::string too_long(1022, 'a');
  EXPECT_EQ(CheckDirPath(too_long.c_str(), 0), 0);
}

TEST_F(FileHelpers, OnlyRegularFilesMayBeOpened) {
  ASSERT_TRUE(WriteFileBytes(dir_.Join("con.gif"), "GIF89a"));
  ASSERT_EQ(::mkfifo(dir_.Join("x.gif").c_str(), 0600), 0);
  ASSERT_TRUE(MakeDirs(dir_.Join("d.gif")));
  EXPECT_TRUE(IsRegularFileOrMissing(dir_.Join("con.gif").c_str()));
  EXPECT_TRUE(IsRegularFileOrMissing(dir_.Join("missing.gif").c_str()));
  EXPECT_FALSE(IsRegularFileOrMissing(dir_.Join("x.gif").c_str()));
  EXPECT_FALSE(IsRegularFileOrMissing(dir_.Join("d.gif").c_str()));
  EXPECT_FALSE(IsRegularFileOrMissing("/dev/null"));
  EXPECT_TRUE(IsReservedDeviceName(dir_.Join("x.gif").c_str()));
  EXPECT_FALSE(IsReservedDeviceName(dir_.Join("con.gif").c_str()));

  std::FILE* file = OpenRegularFileForReading(dir_.Join("con.gif").c_str());
  ASSERT_NE(file, nullptr);
  char head[7] = {};
  EXPECT_EQ(std::fread(head, 1, 6, file), 6u);
  EXPECT_STREQ(head, "GIF89a");
  std::fclose(file);
  // A FIFO with no writer would block a plain open for reading forever.
  EXPECT_EQ(OpenRegularFileForReading(dir_.Join("x.gif").c_str()), nullptr);
  EXPECT_EQ(OpenRegularFileForReading(dir_.Join("d.gif").c_str()), nullptr);
  EXPECT_EQ(OpenRegularFileForReading(dir_.Join("missing.gif").c_str()), nullptr);
  EXPECT_EQ(OpenRegularFileForReading("/dev/zero"), nullptr);
}

TEST_F(FileHelpers, WholeFilesAreReadUpToALimit) {
  ASSERT_TRUE(WriteFileBytes(dir_.Join("s.conf"), "a=1\n"));
  ASSERT_EQ(::symlink("s.conf", dir_.Join("link.conf").c_str()), 0);
  ASSERT_EQ(::mkfifo(dir_.Join("fifo").c_str(), 0600), 0);
  struct TCase {
    std::string path;
    size_t limit;
    TLinkRule links;
    bool read;
    const char* error;  // when not read
  } cases[] = {
      {dir_.Join("s.conf"), 100, TLinkRule::kRefuse, true, ""},
      {dir_.Join("s.conf"), 4, TLinkRule::kRefuse, true, ""},
      {dir_.Join("s.conf"), 3, TLinkRule::kFollow, false, "larger than 3 bytes"},
      {dir_.Join("link.conf"), 100, TLinkRule::kFollow, true, ""},
      {dir_.Join("link.conf"), 100, TLinkRule::kRefuse, false, "a symbolic link"},
      {dir_.path(), 100, TLinkRule::kFollow, false, "not a regular file"},
      {dir_.Join("fifo"), 100, TLinkRule::kFollow, false, "not a regular file"},  // would block
      {"/dev/zero", 100, TLinkRule::kFollow, false, "not a regular file"},      // would never end
      {dir_.Join("none"), 100, TLinkRule::kRefuse, false, "No such file or directory"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.path + " limit " + std::to_string(c.limit));
    std::string text = "stale";
    std::string error;
    EXPECT_EQ(ReadWholeRegularFile(c.path.c_str(), c.limit, c.links, &text, &error), c.read);
    if (c.read) {
      EXPECT_EQ(text, "a=1\n");
    } else {
      EXPECT_EQ(text, "");
      EXPECT_EQ(error, c.error);
    }
  }
}

}  // namespace
