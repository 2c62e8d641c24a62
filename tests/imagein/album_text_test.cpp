// The `Name: value` header of Markdown texts and a folder's index.md.

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "fixtures/tree_writer.h"
#include "imagein/photo_text.h"

namespace {

using TFields = std::vector<std::pair<std::string, std::string>>;

TEST(TextHeaderTest, SplitsHeaderAndBody) {
  struct TCase {
    const char* text;
    TFields fields;
    const char* body;
  } cases[] = {
      {"Title: Tram 28\nDate: 2025\n\nClimbing *up*.\n", {{"Title", "Tram 28"}, {"Date", "2025"}}, "Climbing *up*.\n"},
      {"Title:   spaced  \r\nBody right after\n", {{"Title", "spaced"}}, "Body right after\n"},
      {"---\nTitle: Fenced\n---\nText\n", {{"Title", "Fenced"}}, "Text\n"},
      {"Just a caption: with a colon later\n", {}, "Just a caption: with a colon later\n"},
      {"No header at all\n", {}, "No header at all\n"},
      {"\xEF\xBB\xBFTitle: after a BOM\n", {{"Title", "after a BOM"}}, ""},
      {"Title: only", {{"Title", "only"}}, ""},
      {"", {}, ""},
      {"1st: not a name\n", {}, "1st: not a name\n"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.text);
    TFields fields;
    std::string_view body;
    SplitTextHeader(c.text, &fields, &body);
    EXPECT_EQ(fields, c.fields);
    EXPECT_EQ(std::string(body), c.body);
  }
}

class AlbumTextTest : public ::testing::Test {
 protected:
  void Write(const std::string& text) {
    std::ofstream out(dir_.Join("index.md"), std::ios::binary);
    out << text;
  }
  TScratchDir dir_{"vc-album"};
};

TEST_F(AlbumTextTest, ReadsTitleCoverOrderAndDescription) {
  Write("Title: Lisbon, June\nThumbnail: tram.jpg\nSort: Date\nReverse: yes\n\nTrams and *tiles*.\n");
  TAlbumText album;
  std::string warning;
  ASSERT_TRUE(ReadAlbumText(dir_.path().c_str(), &album, &warning));
  EXPECT_TRUE(album.present);
  EXPECT_EQ(album.title, "Lisbon, June");
  EXPECT_EQ(album.cover, "tram.jpg");
  EXPECT_EQ(album.sort, "date");
  EXPECT_TRUE(album.reverse);
  EXPECT_EQ(album.description, "Trams and *tiles*.\n");
  EXPECT_TRUE(warning.empty());
}

TEST_F(AlbumTextTest, MissingUnknownAndUnusableFiles) {
  TAlbumText album;
  std::string warning;
  EXPECT_FALSE(ReadAlbumText(dir_.path().c_str(), &album, &warning));
  EXPECT_FALSE(album.present);
  EXPECT_TRUE(warning.empty());

  Write("Sort: sideways\n");
  ASSERT_TRUE(ReadAlbumText(dir_.path().c_str(), &album, &warning));
  EXPECT_EQ(album.sort, "");

  Write("Title: caf\xE9\n");  // Latin-1, not UTF-8
  EXPECT_FALSE(ReadAlbumText(dir_.path().c_str(), &album, &warning));
  EXPECT_NE(warning.find("not UTF-8"), std::string::npos);

  Write(std::string(static_cast<size_t>(kMaxTextSidecarBytes) + 1, 'x'));
  EXPECT_FALSE(ReadAlbumText(dir_.path().c_str(), &album, &warning));
  EXPECT_NE(warning.find("larger than"), std::string::npos);
}

}  // namespace
