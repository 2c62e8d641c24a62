// WriteThumbnail: the thumbnail file of a cell and the img tag that refers to it.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "engine/classic/image_cell.h"
#include "fixtures/exif_writer.h"
#include "fixtures/image_writers.h"
#include "fixtures/jpeg_fixtures.h"
#include "fixtures/seal_writer.h"
#include "fixtures/tree_writer.h"

namespace {

class ThumbnailTest : public ::testing::Test {
 protected:
  std::string Folder() const { return dir_.path(); }
  std::string Thumb(int position) const {
    return dir_.Join("quarto_tn/quarto_tn" + std::to_string(position) + ".jpg");
  }

  TScratchDir dir_{"vellumcast-thumb"};
  TCellOptions options_;
};

TEST_F(ThumbnailTest, WritesOneThumbnailPerImageNumberedByPosition) {
  ASSERT_TRUE(WriteTestGif(dir_.Join("A.gif"), 64, 48));
  ASSERT_TRUE(WriteTestJpeg(dir_.Join("b.jpg"), 320, 200));
  ASSERT_TRUE(WriteTestBmp24(dir_.Join("c.bmp"), 30, 90));
  const char* names[] = {"A.gif", "b.jpg", "c.bmp"};
  for (int position = 0; position < 3; ++position) {
    SCOPED_TRACE(names[position]);
    std::string out = "<td>";
    ASSERT_EQ(WriteThumbnail(out, Folder().c_str(), names[position], position, options_), 1);
    EXPECT_EQ(out, "<td><img src=quarto_tn/quarto_tn" + std::to_string(position) +
                       ".jpg width=120 height=80");
    const TDecodedJpeg thumb = DecodeJpegFile(Thumb(position));
    ASSERT_TRUE(thumb.ok);
    EXPECT_EQ(thumb.width, 120);
    EXPECT_EQ(thumb.height, 80);
    EXPECT_EQ(thumb.sof_marker, 0xC0);
    EXPECT_TRUE(thumb.jfif);
  }
}

TEST_F(ThumbnailTest, JpegsAreTurnedUprightByTheirExifOrientation) {
  // Quadrants of the upright picture: red, green / blue, white.
  const TRgbImage upright = MakeQuadrantImage(240, 160);
  struct TProbe {
    int x;
    int y;
    uint8_t r, g, b;
  } probes[] = {{30, 20, 255, 0, 0}, {90, 20, 0, 255, 0}, {30, 60, 0, 0, 255}, {90, 60, 255, 255, 255}};
  for (int32_t orientation = 1; orientation <= 8; ++orientation) {
    SCOPED_TRACE(orientation);
    const std::string name = "o" + std::to_string(orientation) + ".jpg";
    ASSERT_TRUE(WriteBytesFile(dir_.Join(name), EncodeOrientedJpeg(upright, orientation)));
    std::string out;
    ASSERT_EQ(WriteThumbnail(out, Folder().c_str(), name.c_str(), orientation, options_), 1);
    const TDecodedJpeg thumb = DecodeJpegFile(Thumb(orientation));
    ASSERT_TRUE(thumb.ok);
    ASSERT_EQ(thumb.width, 120);
    ASSERT_EQ(thumb.height, 80);
    for (const TProbe& p : probes) {
      const uint8_t* pixel = &thumb.pixels[(static_cast<size_t>(p.y) * 120 + p.x) * 3];
      EXPECT_NEAR(pixel[0], p.r, 40) << p.x << "," << p.y;
      EXPECT_NEAR(pixel[1], p.g, 40) << p.x << "," << p.y;
      EXPECT_NEAR(pixel[2], p.b, 40) << p.x << "," << p.y;
    }
  }
}

TEST_F(ThumbnailTest, CellSizeComesFromTheOptions) {
  ASSERT_TRUE(WriteTestJpeg(dir_.Join("p.jpg"), 50, 50));
  options_.cellwidth = 33;
  options_.cellheight = 21;
  std::string out;
  ASSERT_EQ(WriteThumbnail(out, Folder().c_str(), "p.jpg", 7, options_), 1);
  EXPECT_EQ(out, "<img src=quarto_tn/quarto_tn7.jpg width=33 height=21");
  const TDecodedJpeg thumb = DecodeJpegFile(Thumb(7));
  EXPECT_EQ(thumb.width, 33);
  EXPECT_EQ(thumb.height, 21);
}

// A 100 x 200 red image in a 120 x 80 cell is 40 x 80, centred; the margins
// are the background byte.
TEST_F(ThumbnailTest, MarginsHaveTheBackgroundColour) {
  ASSERT_TRUE(WriteTestBmp24(dir_.Join("tall.bmp"), 100, 200, FlatPixels({220, 20, 20})));
  for (int background : {255, 0}) {
    SCOPED_TRACE(background);
    options_.thumbwhite = background;
    std::string out;
    ASSERT_EQ(WriteThumbnail(out, Folder().c_str(), "tall.bmp", 0, options_), 1);
    const TDecodedJpeg thumb = DecodeJpegFile(Thumb(0));
    ASSERT_TRUE(thumb.ok);
    ASSERT_EQ(thumb.out_components, 3);
    auto pixel = [&](int x, int y) { return &thumb.pixels[(static_cast<size_t>(y) * thumb.width + x) * 3]; };
    for (int x : {4, 20, 100, 115}) {
      const uint8_t* margin = pixel(x, 40);
      for (int c = 0; c < 3; ++c) EXPECT_NEAR(margin[c], background, 12) << "x " << x;
    }
    const uint8_t* centre = pixel(60, 40);
    EXPECT_NEAR(centre[0], 220, 25);
    EXPECT_NEAR(centre[1], 20, 25);
    EXPECT_NEAR(centre[2], 20, 25);
  }
}

TEST_F(ThumbnailTest, NoThumbnailWhenTheImageCannotServe) {
  ASSERT_TRUE(WriteTestBmp24(dir_.Join("thin.bmp"), 1, 500));
  ASSERT_TRUE(WriteTestBmp24(dir_.Join("flat.bmp"), 500, 1));
  ASSERT_TRUE(WriteFileBytes(dir_.Join("broken.jpg"), "this is no image"));
  ASSERT_TRUE(WriteFileBytes(dir_.Join("empty.gif"), ""));
  const std::vector<uint8_t> jpeg = EncodeJpeg(MakeGradientImage(40, 30));
  ASSERT_TRUE(WriteBytesFile(dir_.Join("sealed.jpg"), SealWithKeyText(jpeg, "key")));
  const char* names[] = {"thin.bmp", "flat.bmp", "broken.jpg", "empty.gif", "missing.jpg", "sealed.jpg"};
  for (const char* name : names) {
    SCOPED_TRACE(name);
    std::string out = "<td>";
    EXPECT_EQ(WriteThumbnail(out, Folder().c_str(), name, 0, options_), 0);
    EXPECT_EQ(out, "<td>");
  }
  EXPECT_FALSE(FileExists(Thumb(0)));
}

TEST_F(ThumbnailTest, CellsThatCannotBeMadeGetNoThumbnail) {
  ASSERT_TRUE(WriteTestJpeg(dir_.Join("p.jpg"), 50, 50));
  const struct {
    int32_t width;
    int32_t height;
  } cells[] = {{0, 80}, {120, 0}, {-5, 80}, {40000, 40000}};
  for (const auto& cell : cells) {
    SCOPED_TRACE(testing::Message() << cell.width << "x" << cell.height);
    options_.cellwidth = cell.width;
    options_.cellheight = cell.height;
    std::string out;
    EXPECT_EQ(WriteThumbnail(out, Folder().c_str(), "p.jpg", 0, options_), 0);
    EXPECT_EQ(out, "");
  }
  EXPECT_FALSE(FileExists(Thumb(0)));
}

// A thumbnail that could not be written is not referred to: the cell falls
// back to the full image.
TEST_F(ThumbnailTest, UnwritableThumbnailFolderMeansNoTag) {
  ASSERT_TRUE(WriteTestJpeg(dir_.Join("p.jpg"), 50, 50));
  ASSERT_TRUE(WriteFileBytes(dir_.Join("quarto_tn"), "a file where the folder should be"));
  std::string out;
  EXPECT_EQ(WriteThumbnail(out, Folder().c_str(), "p.jpg", 0, options_), 0);
  EXPECT_EQ(out, "");
}

TEST_F(ThumbnailTest, ReplacesAnExistingThumbnail) {
  ASSERT_TRUE(WriteTestJpeg(dir_.Join("p.jpg"), 50, 50));
  ASSERT_TRUE(WriteFileBytes(Thumb(3), "stale"));
  std::string out;
  ASSERT_EQ(WriteThumbnail(out, Folder().c_str(), "p.jpg", 3, options_), 1);
  EXPECT_TRUE(DecodeJpegFile(Thumb(3)).ok);
}

// Only full-image cells are logged to fn.log; thumbnails add nothing to it.
TEST_F(ThumbnailTest, WritesNothingToTheProbeLog) {
  ASSERT_TRUE(WriteTestJpeg(dir_.Join("p.jpg"), 50, 50));
  char previous[4096];
  ASSERT_NE(getcwd(previous, sizeof(previous)), nullptr);
  ASSERT_EQ(chdir(Folder().c_str()), 0);
  std::string out;
  const int made = WriteThumbnail(out, Folder().c_str(), "p.jpg", 0, options_);
  const int failed = WriteThumbnail(out, Folder().c_str(), "missing.jpg", 1, options_);
  const bool log_written = FileExists("fn.log");
  ASSERT_EQ(chdir(previous), 0);
  EXPECT_EQ(made, 1);
  EXPECT_EQ(failed, 0);
  EXPECT_FALSE(log_written);
}

TEST_F(ThumbnailTest, PathsOverTheLimitAreSkipped) {
  const std::string name = std::string(1100, 'n') + ".jpg";
  std::string out;
  EXPECT_EQ(WriteThumbnail(out, Folder().c_str(), name.c_str(), 0, options_), 0);
  EXPECT_EQ(out, "");
}

}  // namespace
