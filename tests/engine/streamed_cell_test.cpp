// Classic cells of PNG and TIFF files made as their rows are read: the same
// bytes as the stretch of the full load into the cell, whatever the image's
// shape against the cell's, the background, or a file that breaks off.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "engine/classic/image_cell.h"
#include "fixtures/png_tiff_writers.h"
#include "fixtures/tree_writer.h"
#include "imagein/loader.h"
#include "imagein/reader_row_stream.h"
#include "raster/membitmap.h"

namespace {

// The cell from the full load, as the classic thumbnail made it before
// streaming; empty when the load gives nothing to stretch.
std::vector<uint8_t> CellOfFullLoad(const std::string& path, const TCellOptions& options) {
  TMemBitmap image;
  LoadImageByExtension(path.c_str(), options.cellwidth, options.cellheight, image, ThumbnailLoadFlags(options),
                       nullptr);
  if (image.pixels == nullptr || image.width <= 1 || image.height <= 1) return {};
  TMemBitmap cell;
  if (!BitmapCreate(cell, options.cellwidth, options.cellheight)) return {};
  FitImageIntoCell(cell, image, options);
  return std::vector<uint8_t>(cell.pixels, cell.pixels + cell.pixel_bytes);
}

std::vector<uint8_t> StreamedCell(const std::string& path, const TCellOptions& options, TStreamedCellResult* result,
                                  bool* unreadable) {
  TMemBitmap cell;
  *result = StreamedReaderCell(path.c_str(), ReaderKindOf(path.c_str()), options, cell, unreadable);
  if (cell.pixels == nullptr) return {};
  return std::vector<uint8_t>(cell.pixels, cell.pixels + cell.pixel_bytes);
}

class StreamedCellTest : public ::testing::Test {
 protected:
  TScratchDir dir_{"vc-streamed-cell"};
};

TEST_F(StreamedCellTest, CellsAreTheStretchOfTheFullLoadByteForByte) {
  TTestPngOptions rgba;
  rgba.colour = TTestPngColour::kRgba;
  TTestPngOptions palette;
  palette.colour = TTestPngColour::kPalette;
  palette.transparency = true;
  TTestPngOptions interlaced;
  interlaced.interlaced = true;
  TTestTiffOptions strips;
  strips.compression = 5;
  strips.rows_per_strip = 7;
  TTestTiffOptions tiles;
  tiles.layout = TTestTiffLayout::kRgba;
  tiles.tile_size = 32;
  const struct {
    const char* name;
    int32_t width;
    int32_t height;
  } shapes[] = {
      {"wide", 997, 211},     // reduced, wider than the cell
      {"tall", 73, 640},      // reduced, taller
      {"small", 50, 30},      // smaller than the cell: never enlarged
      {"exact", 120, 80},     // the cell's own size
      {"odd", 241, 161},      // a little over twice the cell
  };
  for (const auto& shape : shapes) {
    const TTestRgbaPixels pixels = GradientRgbaPixels(shape.width, shape.height);
    TRgbaImage reference;
    const std::string base = dir_.Join(shape.name);
    ASSERT_TRUE(WriteTestPng(base + "_rgba.png", shape.width, shape.height, pixels, rgba, &reference));
    ASSERT_TRUE(WriteTestPng(base + "_palette.png", shape.width, shape.height, pixels, palette, &reference));
    ASSERT_TRUE(WriteTestPng(base + "_interlaced.png", shape.width, shape.height, pixels, interlaced, &reference));
    ASSERT_TRUE(WriteTestTiff(base + "_strips.tif", shape.width, shape.height, pixels, strips, &reference));
    ASSERT_TRUE(WriteTestTiff(base + "_tiles.tif", shape.width, shape.height, pixels, tiles, &reference));
    for (const char* suffix : {"_rgba.png", "_palette.png", "_interlaced.png", "_strips.tif", "_tiles.tif"}) {
      for (const int32_t white : {0, 255}) {
        SCOPED_TRACE(std::string(shape.name) + suffix + (white != 0 ? " white" : " black"));
        TCellOptions options;
        options.thumbwhite = white;
        const std::string path = base + suffix;
        TStreamedCellResult result = TStreamedCellResult::kNoThumbnail;
        bool unreadable = true;
        const std::vector<uint8_t> streamed = StreamedCell(path, options, &result, &unreadable);
        EXPECT_EQ(result, TStreamedCellResult::kMade);
        EXPECT_FALSE(unreadable);
        const std::vector<uint8_t> whole = CellOfFullLoad(path, options);
        ASSERT_FALSE(whole.empty());
        EXPECT_TRUE(streamed == whole);
      }
    }
  }
}

TEST_F(StreamedCellTest, BrokenAndDegenerateFilesAsTheFullLoadHasThem) {
  TTestPngOptions rgb;
  TRgbaImage reference;
  const std::string whole = dir_.Join("whole.png");
  ASSERT_TRUE(WriteTestPng(whole, 300, 200, GradientRgbaPixels(300, 200), rgb, &reference));
  // Cut in the middle of its pixel data: the rows before the cut, then black.
  std::string bytes = ReadFileBytes(whole);
  const std::string cut = dir_.Join("cut.png");
  ASSERT_TRUE(WriteFileBytes(cut, bytes.substr(0, bytes.size() / 2)));
  // One pixel high: no thumbnail, but readable.
  const std::string line = dir_.Join("line.png");
  ASSERT_TRUE(WriteTestPng(line, 300, 1, GradientRgbaPixels(300, 1), rgb, &reference));
  // No image at all.
  const std::string junk = dir_.Join("junk.tif");
  ASSERT_TRUE(WriteFileBytes(junk, "II*\0not a directory"));

  TCellOptions options;
  TStreamedCellResult result = TStreamedCellResult::kNoThumbnail;
  bool unreadable = true;
  const std::vector<uint8_t> partial = StreamedCell(cut, options, &result, &unreadable);
  EXPECT_EQ(result, TStreamedCellResult::kMade);
  EXPECT_TRUE(partial == CellOfFullLoad(cut, options));
  EXPECT_FALSE(partial == CellOfFullLoad(whole, options));

  EXPECT_TRUE(StreamedCell(line, options, &result, &unreadable).empty());
  EXPECT_EQ(result, TStreamedCellResult::kNoThumbnail);
  EXPECT_FALSE(unreadable);

  EXPECT_TRUE(StreamedCell(junk, options, &result, &unreadable).empty());
  EXPECT_EQ(result, TStreamedCellResult::kNoThumbnail);
  EXPECT_TRUE(unreadable);
}

}  // namespace
