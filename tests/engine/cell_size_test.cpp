// Size attributes of full-image cells, the probes behind them and the probe log.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "engine/classic/image_cell.h"
#include "engine/run_helpers.h"
#include "fixtures/exif_writer.h"
#include "fixtures/image_writers.h"
#include "fixtures/jpeg_fixtures.h"
#include "imagein/loader.h"

namespace {

class CellSizeTest : public TEngineTest {
 protected:
  std::string SizeOf(const std::string& relative) {
    std::string out;
    WriteImageSize(out, Path(relative).c_str(), TCellOptions{});
    return out;
  }
};

TEST_F(CellSizeTest, FittedIntoTheCellNeverLargerThanTheImageLessOne) {
  struct TCase {
    int32_t width;
    int32_t height;
    const char* expected;
  };
  for (const TCase& c : {TCase{640, 480, " width=106 height=80"}, TCase{800, 600, " width=106 height=80"},
                         TCase{1600, 1200, " width=106 height=80"}, TCase{100, 200, " width=40 height=80"},
                         TCase{121, 81, " width=120 height=80"}, TCase{120, 80, " width=119 height=79"},
                         TCase{50, 40, " width=49 height=39"}}) {
    const std::string name = std::to_string(c.width) + "x" + std::to_string(c.height);
    // The GIF probe reads the header only: a 1-pixel image with that logical screen.
    TTestGifOptions screen;
    screen.screen_width = c.width;
    screen.screen_height = c.height;
    ASSERT_TRUE(WriteTestGif(Path(name + ".gif"), 1, 1, GradientPixels(), screen));
    EXPECT_EQ(SizeOf(name + ".gif"), c.expected) << name;
  }
  ASSERT_TRUE(WriteTestJpeg(Path("tall.jpg"), 100, 200));
  EXPECT_EQ(SizeOf("tall.jpg"), " width=40 height=80");
}

TEST_F(CellSizeTest, SidewaysJpegsGetTheFitOfTheirUprightSize) {
  // Stored 200 x 100; orientations 5-8 show it 100 x 200.
  const TRgbImage upright_wide = MakeGradientImage(200, 100);
  const TRgbImage upright_tall = MakeGradientImage(100, 200);
  for (int32_t orientation = 1; orientation <= 8; ++orientation) {
    const bool sideways = orientation >= 5;
    const std::string name = "o" + std::to_string(orientation) + ".jpg";
    ASSERT_TRUE(WriteBytesFile(Path(name), EncodeOrientedJpeg(sideways ? upright_tall : upright_wide, orientation)));
    EXPECT_EQ(SizeOf(name), sideways ? " width=40 height=80" : " width=120 height=60") << orientation;
  }
}

TEST_F(CellSizeTest, UnprobedImagesGetTheCellWidthOnly) {
  ASSERT_TRUE(WriteTestBmp24(Path("c.bmp"), 640, 480));
  ASSERT_TRUE(WriteFileBytes(Path("broken.jpg"), "no jpeg here"));
  ASSERT_TRUE(WriteFileBytes(Path("zero.gif"), std::string("GIF89a\0\0\0\0\0\0\0", 13)));
  ASSERT_EQ(::mkfifo(Path("pipe.gif").c_str(), 0600), 0);
  for (const char* name : {"c.bmp", "broken.jpg", "missing.gif", "zero.gif", "pipe.gif"}) {
    EXPECT_EQ(SizeOf(name), " width=120") << name;
  }
  std::string out = "<img src=\"x\"";
  TCellOptions wide;
  wide.cellwidth = 300;
  WriteImageSize(out, Path("c.bmp").c_str(), wide);
  EXPECT_EQ(out, "<img src=\"x\" width=300");
}

TEST_F(CellSizeTest, EveryCallAddsOneLineToTheProbeLog) {
  ASSERT_TRUE(WriteFileBytes(Path("fn.log"), "earlier\r\n"));
  SizeOf("a.bmp");
  SizeOf("b c.gif");
  EXPECT_EQ(Page("fn.log"), "earlier\r\n" + Path("a.bmp") + "\r\n" + Path("b c.gif") + "\r\n");
}

TEST_F(CellSizeTest, GifProbeReadsTheLogicalScreen) {
  TTestGifOptions screen;
  screen.screen_width = 640;
  screen.screen_height = 480;
  ASSERT_TRUE(WriteTestGif(Path("screen.gif"), 100, 50, GradientPixels(), screen));
  int32_t width = -1;
  int32_t height = -1;
  EXPECT_TRUE(ProbeImageSize(Path("screen.gif").c_str(), &width, &height));
  EXPECT_EQ(width, 640);
  EXPECT_EQ(height, 480);
  // Version letters are not checked; only "GIF".
  ASSERT_TRUE(WriteFileBytes(Path("odd.GIF"), std::string("GIFxyz\x10\x00\x20\x00", 10)));
  EXPECT_TRUE(ProbeImageSize(Path("odd.GIF").c_str(), &width, &height));
  EXPECT_EQ(width, 16);
  EXPECT_EQ(height, 32);
}

TEST_F(CellSizeTest, GifProbeRefusesWhatHoldsNoSize) {
  struct TCase {
    const char* name;
    std::string bytes;
  };
  for (const TCase& c : {TCase{"empty.gif", ""}, TCase{"short.gif", "GIF8"}, TCase{"nosize.gif", "GIF89a"},
                         TCase{"cut.gif", std::string("GIF89a\x10\x00\x20", 9)},
                         TCase{"png.gif", std::string("\x89PNG\r\n\x1a\n\0\0\0\0", 12)}}) {
    ASSERT_TRUE(WriteFileBytes(Path(c.name), c.bytes));
    int32_t width = -1;
    int32_t height = -1;
    EXPECT_FALSE(GifReadScreenSize(Path(c.name).c_str(), &width, &height)) << c.name;
    EXPECT_EQ(width, 0) << c.name;
    EXPECT_EQ(height, 0) << c.name;
  }
}

TEST_F(CellSizeTest, ProbeChoosesByExtension) {
  ASSERT_TRUE(WriteTestJpeg(Path("photo.JPG"), 33, 22));
  ASSERT_TRUE(WriteTestJpeg(Path("photo.jpeg"), 34, 23));
  ASSERT_TRUE(WriteTestJpeg(Path("photo.png"), 35, 24));
  ASSERT_TRUE(WriteTestJpeg(Path("photo.jfif"), 37, 26));
  ASSERT_TRUE(WriteTestJpeg(Path("photo.txt"), 38, 27));
  ASSERT_TRUE(WriteTestBmp24(Path("photo.bmp"), 36, 25));
  int32_t width = -1;
  int32_t height = -1;
  EXPECT_TRUE(ProbeImageSize(Path("photo.JPG").c_str(), &width, &height));
  EXPECT_EQ(width, 33);
  EXPECT_EQ(height, 22);
  EXPECT_TRUE(ProbeImageSize(Path("photo.jpeg").c_str(), &width, &height));
  EXPECT_EQ(width, 34);
  EXPECT_TRUE(ProbeImageSize(Path("photo.jfif").c_str(), &width, &height));
  EXPECT_EQ(width, 37);
  // A PNG name is probed as PNG: JPEG bytes give no size.
  EXPECT_FALSE(ProbeImageSize(Path("photo.png").c_str(), &width, &height));
  EXPECT_EQ(width, 0);
  width = -1;
  height = -1;
  EXPECT_FALSE(ProbeImageSize(Path("photo.txt").c_str(), &width, &height));
  EXPECT_FALSE(ProbeImageSize(Path("photo.bmp").c_str(), &width, &height));
  EXPECT_EQ(width, -1);  // other extensions leave the outputs alone
  EXPECT_EQ(height, -1);
}

}  // namespace

namespace {

TEST_F(CellSizeTest, DegenerateCellsNeverCrash) {
  TTestGifOptions screen;
  screen.screen_width = 65535;
  screen.screen_height = 1;
  ASSERT_TRUE(WriteTestGif(Path("wide.gif"), 1, 1, GradientPixels(), screen));
  for (int32_t cell : {0, -5, 1, 2147483647}) {
    std::string out;
    TCellOptions options;
    options.cellwidth = cell;
    options.cellheight = cell;
    WriteImageSize(out, Path("wide.gif").c_str(), options);
    EXPECT_EQ(out.rfind(" width=", 0), 0u) << cell;
  }
}

}  // namespace
