// The page record: only a whole record counts, and it vouches for a page
// only while the file is the one a run left.

#include "engine/store/page_record.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include <string>

#include "fixtures/tree_writer.h"

namespace {

TEST(PageRecordTest, OnlyAWholeRecordIsRead) {
  struct TCase {
    const char* label;
    const char* text;
    bool valid;
  };
  const TCase cases[] = {
      {"whole", "vellumcast-pages 1\np 3 7 index.html\np 1 2 vellumcast.html\nend 2\n", true},
      {"empty record", "vellumcast-pages 1\nend 0\n", true},
      {"cut before the end line", "vellumcast-pages 1\np 3 7 index.html\n", false},
      {"cut inside the end line", "vellumcast-pages 1\np 3 7 index.html\nend 1", false},
      {"count differs", "vellumcast-pages 1\np 3 7 index.html\nend 2\n", false},
      {"text after the end", "vellumcast-pages 1\nend 0\np 3 7 index.html\n", false},
      {"another version", "vellumcast-pages 3\nend 0\n", false},
      {"with digests", "vellumcast-pages 2\nd 3 7 8 9 00000000000000ff index.html\np 1 2 vellumcast.html\nend 2\n",
       true},
      {"a digest in version 1", "vellumcast-pages 1\nd 3 7 8 9 00000000000000ff index.html\nend 1\n", false},
      {"digest too short", "vellumcast-pages 2\nd 3 7 8 9 00000000000000f index.html\nend 1\n", false},
      {"digest in capitals", "vellumcast-pages 2\nd 3 7 8 9 00000000000000FF index.html\nend 1\n", false},
      {"digest line without the inode", "vellumcast-pages 2\nd 3 7 8 00000000000000ff index.html\nend 1\n", false},
      {"digest line without a name", "vellumcast-pages 2\nd 3 7 8 9 00000000000000ff \nend 1\n", false},
      {"a path, not a name", "vellumcast-pages 1\np 3 7 ../photo.jpg/x\nend 1\n", false},
      {"a parent folder", "vellumcast-pages 1\np 3 7 ..\nend 1\n", false},
      {"the record itself", "vellumcast-pages 1\np 3 7 vellumcast-pages.list\nend 1\n", false},
      {"negative size", "vellumcast-pages 1\np -3 7 index.html\nend 1\n", false},
      {"number too long", "vellumcast-pages 1\np 99999999999999999999999 7 index.html\nend 1\n", false},
      {"unknown line", "vellumcast-pages 1\nq 3 7 index.html\nend 1\n", false},
  };
  for (const TCase& c : cases) {
    TPageRecord record;
    EXPECT_EQ(record.Parse(c.text), c.valid) << c.label;
    EXPECT_EQ(record.Present(), c.valid) << c.label;
    if (!c.valid) {
      EXPECT_TRUE(record.Entries().empty()) << c.label;
    }
  }
  // Written back in name order, the same bytes; version 1 while no page has a digest.
  for (const char* text : {cases[0].text, "vellumcast-pages 2\nd 3 7 8 9 00000000000000ff index.html\nend 1\n"}) {
    TPageRecord record;
    ASSERT_TRUE(record.Parse(text));
    EXPECT_EQ(record.Text(), text);
  }
}

// A page is current only with its digest and the whole stamp the run left:
// another digest, a copy (new inode), an edit with size and date put back
// (new change time) or a page recorded without a digest all say "render".
TEST(PageRecordTest, APageIsCurrentOnlyWithItsDigestAndTheWholeStamp) {
  TScratchDir dir("vc-page-current");
  const std::string folder = dir.path();
  ASSERT_TRUE(WriteFileBytes(dir.Join("page.html"), "generated"));
  TPageRecord record;
  TPageRecord::TEntry entry{"page.html", {}, true, 0x1234};
  ASSERT_TRUE(ReadPageStamp(folder.c_str(), "page.html", &entry.stamp));
  record.Set(entry);
  record.Set("plain.html", entry.stamp);
  ASSERT_TRUE(record.Write(folder.c_str()));
  TPageRecord read;
  ASSERT_TRUE(read.Read(folder.c_str()));
  EXPECT_TRUE(read.Current(folder.c_str(), "page.html", 0x1234));
  EXPECT_FALSE(read.Current(folder.c_str(), "page.html", 0x1235));
  EXPECT_FALSE(read.Current(folder.c_str(), "plain.html", 0x1234));
  EXPECT_FALSE(read.Current(folder.c_str(), "other.html", 0x1234));

  // The same bytes and dates under a new inode.
  ASSERT_EQ(::rename(dir.Join("page.html").c_str(), dir.Join("moved").c_str()), 0);
  ASSERT_TRUE(WriteFileBytes(dir.Join("page.html"), "generated"));
  struct stat info;
  ASSERT_EQ(::stat(dir.Join("moved").c_str(), &info), 0);
  const timespec times[2] = {info.st_atim, info.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, dir.Join("page.html").c_str(), times, 0), 0);
  EXPECT_TRUE(read.Holds(folder.c_str(), "page.html"));  // size and date: still the run's for pruning
  EXPECT_FALSE(read.Current(folder.c_str(), "page.html", 0x1234));
  ::unlink(dir.Join("page.html").c_str());
  EXPECT_FALSE(read.Current(folder.c_str(), "page.html", 0x1234));
}

TEST(PageRecordTest, APageIsHeldOnlyWhileItIsTheFileARunLeft) {
  TScratchDir dir("vc-page-record");
  ASSERT_TRUE(WriteFileBytes(dir.Join("index.html"), "generated"));
  TFileStamp stamp;
  ASSERT_TRUE(ReadPageStamp(dir.path().c_str(), "index.html", &stamp));
  TPageRecord record;
  record.Set("index.html", stamp);
  record.Set("imageback.html", stamp);
  ASSERT_TRUE(record.Write(dir.path().c_str()));

  TPageRecord read;
  ASSERT_TRUE(read.Read(dir.path().c_str()));
  EXPECT_TRUE(read.Holds(dir.path().c_str(), "index.html"));
  EXPECT_FALSE(read.Holds(dir.path().c_str(), "imageback.html"));  // recorded, but gone
  EXPECT_FALSE(read.Holds(dir.path().c_str(), "other.html"));      // there, never recorded
  ASSERT_TRUE(WriteFileBytes(dir.Join("other.html"), "x"));
  EXPECT_FALSE(read.Holds(dir.path().c_str(), "other.html"));
  // The user's own page in its place.
  ASSERT_TRUE(WriteFileBytes(dir.Join("index.html"), "the user's page, longer"));
  EXPECT_FALSE(read.Holds(dir.path().c_str(), "index.html"));

  // An empty record removes the file.
  ASSERT_TRUE(TPageRecord().Write(dir.path().c_str()));
  EXPECT_FALSE(FileExists(dir.Join("vellumcast-pages.list")));
}

}  // namespace
