// The peak memory of a load, read from the header alone, as the thumbnail
// pool reserves it: every reader's frame size, a JPEG file's coefficient
// buffers, and nothing claimed where the header tells nothing.

#include "imagein/load_peak.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fixtures/bmp_writer.h"
#include "fixtures/fits_writer.h"
#include "fixtures/hostile_jpeg.h"
#include "fixtures/image_writers.h"
#include "fixtures/jpeg_fixtures.h"
#include "fixtures/tga_writer.h"
#include "fixtures/tree_writer.h"
#include "raster/membitmap.h"

namespace {

std::vector<uint8_t> BmpOf(uint32_t header_size, int32_t width, int32_t height, bool top_down) {
  TBmpSpec spec;
  spec.header_size = header_size;
  spec.width = width;
  spec.height = height;
  spec.top_down = top_down;
  return BuildBmp(spec);
}

std::vector<uint8_t> TgaOf(uint16_t width, uint16_t height) {
  TTgaSpec spec;
  spec.width = width;
  spec.height = height;
  return BuildTga(spec);
}

TEST(LoadPeak, ReadsEachDecodersHeader) {
  TScratchDir dir("vellumcast_load_peak");
  ASSERT_TRUE(WriteTestGif(dir.Join("a.gif"), 70, 30));
  const TFitsSpec fits;
  const std::vector<uint8_t> sealed = {'Q', 'Z', 'E', 'N', 'C', 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13,
                                       14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25};
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;  // empty: written above
    bool known;
    bool jpeg;
    uint32_t width;
    uint32_t height;
    uint64_t decoder_bytes;
  } cases[] = {
      {"a.gif", {}, true, false, 70, 30, 70 * 30},
      {"b.bmp", BmpOf(40, 33, 20, false), true, false, 33, 20, 0},
      {"top-down.bmp", BmpOf(40, 33, 20, true), true, false, 33, 20, 0},
      {"os2.bmp", BmpOf(12, 9, 7, false), true, false, 9, 7, 0},
      {"c.tga", TgaOf(300, 2), true, false, 300, 2, 0},
      {"baseline.jpg", EncodeJpeg(MakeSolidImage(64, 40, 5, 6, 7)), true, true, 64, 40, 0},
      // 4:2:0, 1000 x 600: luma 126 x 76 blocks (rounded to the 2x2 sampling), chroma 63 x 38.
      {"progressive.jpg", MakeHugeDeclaredProgressiveJpeg(1000, 600), true, true, 1000, 600,
       (126 * 76 + 2 * 63 * 38) * 128},
      {"sealed.jpg", sealed, false, false, 0, 0, 0},
      {"d.fits", BuildFits(fits), false, false, 0, 0, 0},
      {"empty.bmp", std::vector<uint8_t>{'B', 'M'}, false, false, 0, 0, 0},
      {"missing.jpg", {}, false, false, 0, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.Join(c.name);
    if (!c.bytes.empty()) {
      ASSERT_TRUE(WriteBytesFile(path, c.bytes));
    }
    const TLoadPeak peak = ReadLoadPeak(path.c_str());
    EXPECT_EQ(peak.known, c.known);
    EXPECT_EQ(peak.jpeg, c.jpeg);
    EXPECT_EQ(peak.width, c.width);
    EXPECT_EQ(peak.height, c.height);
    EXPECT_EQ(peak.decoder_bytes, c.decoder_bytes);
    EXPECT_EQ(peak.pixel_bytes, uint64_t{BitmapStride(static_cast<int32_t>(c.width))} * c.height);
    EXPECT_FALSE(LoadPeakRefusedByJpeg(peak));
  }
}

TEST(LoadPeak, JpegRefusalCountsCoefficientsBesidePixels) {
  TScratchDir dir("vellumcast_load_peak");
  const struct {
    uint16_t width;
    uint16_t height;
    bool refused;
  } cases[] = {
      {8000, 8000, false},    // 192 MB of pixels, 96 MB of coefficients
      {18900, 18900, true},   // each under 1 GiB, together over it
      {20000, 20000, true},   // the pixels alone are over
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.width);
    const std::string path = dir.Join("p.jpg");
    ASSERT_TRUE(WriteBytesFile(path, MakeHugeDeclaredProgressiveJpeg(c.width, c.height)));
    EXPECT_EQ(LoadPeakRefusedByJpeg(ReadLoadPeak(path.c_str())), c.refused);
  }
}

}  // namespace
