#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "raster/membitmap.h"

namespace {

TRowWriterOutput ColourOutput(uint32_t width, uint32_t height) {
  TRowWriterOutput output;
  output.output_width = width;
  output.output_height = height;
  return output;
}

// Hands the writer one row whose pixel x is red 10x+1, green 10x+2, blue 10x+3
// plus `base`.
void PutRgbRow(TBitmapRowWriter& writer, uint32_t width, int base) {
  for (uint32_t x = 0; x < width; ++x) {
    writer.buffer[x * 3 + 0] = static_cast<uint8_t>(base + 10 * x + 1);
    writer.buffer[x * 3 + 1] = static_cast<uint8_t>(base + 10 * x + 2);
    writer.buffer[x * 3 + 2] = static_cast<uint8_t>(base + 10 * x + 3);
  }
  PutRow(writer, 1);
}

TEST(RowWriter, ColourRowsGoBottomUpAsBlueGreenRedWithZeroPadding) {
  TRowWriterOutput output = ColourOutput(5, 3);
  TMemBitmap bitmap;
  TBitmapRowWriter writer;
  ASSERT_TRUE(CreateBitmapRowWriter(writer, output, bitmap));
  EXPECT_EQ(bitmap.width, 5);
  EXPECT_EQ(bitmap.height, 3);
  EXPECT_EQ(bitmap.header.biSize, 40u);
  EXPECT_EQ(bitmap.header.biWidth, 5);
  EXPECT_EQ(bitmap.header.biHeight, 3);
  EXPECT_EQ(bitmap.header.biPlanes, 1);
  EXPECT_EQ(bitmap.header.biBitCount, 24);
  EXPECT_EQ(writer.data_width, 15u);
  EXPECT_EQ(writer.row_width, 16u);
  EXPECT_EQ(writer.pad, 1u);
  EXPECT_EQ(writer.buffer_height, 1u);
  ASSERT_NE(bitmap.pixels, nullptr);
  EXPECT_EQ(bitmap.row_cursor, bitmap.pixels + 48);

  StartRows(writer);
  // Junk in the padding place must be overwritten with 0.
  std::memset(bitmap.pixels, 0xAB, 48);
  PutRgbRow(writer, 5, 0);
  EXPECT_EQ(bitmap.rows_written, 1);
  EXPECT_EQ(writer.rows_stored, 1u);
  // The first row delivered is the top row: the last row in memory.
  EXPECT_EQ(bitmap.row_cursor, bitmap.pixels + 32);
  const uint8_t* last = bitmap.pixels + 32;
  for (int x = 0; x < 5; ++x) {
    EXPECT_EQ(last[x * 3 + 0], 10 * x + 3) << x;  // blue
    EXPECT_EQ(last[x * 3 + 1], 10 * x + 2) << x;  // green
    EXPECT_EQ(last[x * 3 + 2], 10 * x + 1) << x;  // red
  }
  EXPECT_EQ(last[15], 0);
  EXPECT_EQ(bitmap.pixels[0], 0xAB);  // rows not delivered yet are untouched

  PutRgbRow(writer, 5, 100);
  PutRgbRow(writer, 5, 200);
  FinishRows(writer);
  EXPECT_EQ(bitmap.row_cursor, bitmap.pixels);
  EXPECT_EQ(BitmapPixel(bitmap, 0, 0)[2], 1);
  EXPECT_EQ(BitmapPixel(bitmap, 0, 1)[2], 101);
  EXPECT_EQ(BitmapPixel(bitmap, 0, 2)[2], 201);
  EXPECT_EQ(bitmap.pixels[15], 0);
  EXPECT_EQ(bitmap.pixels[31], 0);
  EXPECT_EQ(bitmap.header.biClrUsed, 0u);
}

TEST(RowWriter, GreyRowsAreExpandedToThreeEqualBytes) {
  TRowWriterOutput output = ColourOutput(3, 2);
  output.grayscale = true;
  output.out_color_components = 1;
  TMemBitmap bitmap;
  TBitmapRowWriter writer;
  ASSERT_TRUE(CreateBitmapRowWriter(writer, output, bitmap));
  EXPECT_EQ(bitmap.header.biBitCount, 24);
  EXPECT_EQ(writer.data_width, 9u);
  EXPECT_EQ(writer.row_width, 12u);
  const uint8_t rows[2][3] = {{0, 128, 255}, {7, 8, 9}};
  for (const auto& row : rows) {
    std::memcpy(writer.buffer, row, 3);
    PutRow(writer, 1);
  }
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 3; ++x) {
      const uint8_t* p = BitmapPixel(bitmap, x, y);
      EXPECT_EQ(p[0], rows[y][x]);
      EXPECT_EQ(p[1], rows[y][x]);
      EXPECT_EQ(p[2], rows[y][x]);
    }
  }
  EXPECT_EQ(bitmap.pixels[9], 0);
  EXPECT_EQ(bitmap.pixels[10], 0);
  EXPECT_EQ(bitmap.pixels[11], 0);
}

TEST(RowWriter, IndexedRowsAreCopiedAndTheColourTableComesFromTheMap) {
  uint8_t reds[4] = {10, 11, 12, 13};
  uint8_t greens[4] = {20, 21, 22, 23};
  uint8_t blues[4] = {30, 31, 32, 33};
  uint8_t* map[3] = {reds, greens, blues};
  TRowWriterOutput output = ColourOutput(5, 2);
  output.quantize_colors = true;
  output.colormap = map;
  output.actual_number_of_colors = 4;
  TMemBitmap bitmap;
  // Leftovers in the table past the map's colours are cleared to black.
  bitmap.colors[200] = TRgbQuad{1, 2, 3, 4};
  TBitmapRowWriter writer;
  ASSERT_TRUE(CreateBitmapRowWriter(writer, output, bitmap));
  EXPECT_EQ(bitmap.header.biBitCount, 8);
  EXPECT_EQ(writer.data_width, 5u);
  EXPECT_EQ(writer.row_width, 8u);
  EXPECT_EQ(writer.pad, 3u);
  EXPECT_EQ(bitmap.pixel_bytes, 16u);

  StartRows(writer);
  EXPECT_EQ(bitmap.header.biClrUsed, 256u);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(bitmap.colors[i].blue, blues[i]);
    EXPECT_EQ(bitmap.colors[i].green, greens[i]);
    EXPECT_EQ(bitmap.colors[i].red, reds[i]);
    EXPECT_EQ(bitmap.colors[i].reserved, 0);
  }
  for (int i = 4; i < 256; ++i) {
    EXPECT_EQ(bitmap.colors[i].blue | bitmap.colors[i].green | bitmap.colors[i].red |
                  bitmap.colors[i].reserved,
              0)
        << i;
  }

  const uint8_t top[5] = {0, 1, 2, 3, 0};
  const uint8_t bottom[5] = {3, 3, 2, 1, 1};
  std::memcpy(writer.buffer, top, 5);
  PutRow(writer, 1);
  std::memcpy(writer.buffer, bottom, 5);
  PutRow(writer, 1);
  FinishRows(writer);
  EXPECT_EQ(std::memcmp(bitmap.pixels + 8, top, 5), 0);
  EXPECT_EQ(std::memcmp(bitmap.pixels, bottom, 5), 0);
  for (int i = 5; i < 8; ++i) {
    EXPECT_EQ(bitmap.pixels[i], 0);
    EXPECT_EQ(bitmap.pixels[8 + i], 0);
  }
}

TEST(RowWriter, ColourTableRules) {
  // A one-component map repeats its value in all three channels.
  uint8_t greys[3] = {5, 6, 7};
  uint8_t* grey_map[1] = {greys};
  TRowWriterOutput output = ColourOutput(2, 1);
  output.quantize_colors = true;
  output.out_color_components = 1;
  output.colormap = grey_map;
  output.actual_number_of_colors = 3;
  {
    TMemBitmap bitmap;
    TBitmapRowWriter writer;
    ASSERT_TRUE(CreateBitmapRowWriter(writer, output, bitmap));
    FinishRows(writer);
    EXPECT_EQ(bitmap.colors[2].red, 7);
    EXPECT_EQ(bitmap.colors[2].green, 7);
    EXPECT_EQ(bitmap.colors[2].blue, 7);
    EXPECT_EQ(bitmap.colors[3].red, 0);
  }
  // Without a map: the grey ramp.
  output.colormap = nullptr;
  {
    TMemBitmap bitmap;
    TBitmapRowWriter writer;
    ASSERT_TRUE(CreateBitmapRowWriter(writer, output, bitmap));
    StartRows(writer);
    for (int i = 0; i < 256; ++i) {
      EXPECT_EQ(bitmap.colors[i].red, i);
      EXPECT_EQ(bitmap.colors[i].green, i);
      EXPECT_EQ(bitmap.colors[i].blue, i);
      EXPECT_EQ(bitmap.colors[i].reserved, 0);
    }
    EXPECT_EQ(bitmap.header.biClrUsed, 256u);
  }
  // A map claiming more than 256 colours writes only the table's 256.
  uint8_t big[3][300] = {};
  uint8_t* big_map[3] = {big[0], big[1], big[2]};
  output.out_color_components = 3;
  output.colormap = big_map;
  output.actual_number_of_colors = 300;
  {
    TMemBitmap bitmap;
    TBitmapRowWriter writer;
    ASSERT_TRUE(CreateBitmapRowWriter(writer, output, bitmap));
    StartRows(writer);
    EXPECT_EQ(bitmap.header.biClrUsed, 256u);
  }
  // 24-bit output leaves the table alone.
  TRowWriterOutput colour = ColourOutput(2, 1);
  colour.colormap = grey_map;
  colour.actual_number_of_colors = 3;
  TMemBitmap bitmap;
  TBitmapRowWriter writer;
  ASSERT_TRUE(CreateBitmapRowWriter(writer, colour, bitmap));
  StartRows(writer);
  EXPECT_EQ(bitmap.colors[0].red, 0);
  EXPECT_EQ(bitmap.header.biClrUsed, 0u);
}

TEST(RowWriter, RowsBeyondTheAnnouncedHeightAreDropped) {
  TRowWriterOutput output = ColourOutput(5, 2);
  TMemBitmap bitmap;
  TBitmapRowWriter writer;
  ASSERT_TRUE(CreateBitmapRowWriter(writer, output, bitmap));
  PutRgbRow(writer, 5, 0);
  PutRgbRow(writer, 5, 50);
  // A decoder that keeps delivering must not move the cursor before the
  // block (the sanitizer build catches any write outside it).
  for (int i = 0; i < 5; ++i) PutRgbRow(writer, 5, 100);
  EXPECT_EQ(writer.rows_stored, 2u);
  EXPECT_EQ(bitmap.row_cursor, bitmap.pixels);
  EXPECT_EQ(BitmapPixel(bitmap, 0, 1)[2], 51);
  // A call that brings no row stores nothing.
  TMemBitmap other;
  TBitmapRowWriter quiet;
  ASSERT_TRUE(CreateBitmapRowWriter(quiet, output, other));
  PutRow(quiet, 0);
  EXPECT_EQ(quiet.rows_stored, 0u);
  EXPECT_EQ(other.rows_written, 0);
}

TEST(RowWriter, RefusesSizesItCannotHold) {
  struct Case {
    uint32_t width;
    uint32_t height;
    bool quantize;
  };
  const Case cases[] = {
      {0, 10, false},      {10, 0, false},        {0, 0, true},
      {65535, 65535, false},  // 12 GiB
      {0x80000000u, 1, false}, {1, 0x80000000u, true},
      {0xFFFFFFFFu, 0xFFFFFFFFu, false},
      {16384, 21846, false},  // 3 x 16384 x 21846 just over 1 GiB
  };
  for (const Case& c : cases) {
    TRowWriterOutput output = ColourOutput(c.width, c.height);
    output.quantize_colors = c.quantize;
    TMemBitmap bitmap;
    TBitmapRowWriter writer;
    EXPECT_FALSE(CreateBitmapRowWriter(writer, output, bitmap)) << c.width << " x " << c.height;
    EXPECT_EQ(bitmap.pixels, nullptr);
    EXPECT_EQ(writer.buffer, nullptr);
    // Rows handed over anyway go nowhere.
    PutRow(writer, 1);
    EXPECT_EQ(writer.rows_stored, 0u);
  }
}

TEST(RowWriter, KeepsPixelMemoryThatIsLargeEnoughAndReplacesTooSmallMemory) {
  TRowWriterOutput output = ColourOutput(4, 4);
  {
    TMemBitmap bitmap;
    ASSERT_TRUE(BitmapAllocatePixels(bitmap, 64));
    uint8_t* block = bitmap.pixels;
    TBitmapRowWriter writer;
    ASSERT_TRUE(CreateBitmapRowWriter(writer, output, bitmap));
    EXPECT_EQ(bitmap.pixels, block);
    EXPECT_EQ(bitmap.row_cursor, block + 48);
  }
  {
    TMemBitmap bitmap;
    ASSERT_TRUE(BitmapAllocatePixels(bitmap, 8));
    TBitmapRowWriter writer;
    ASSERT_TRUE(CreateBitmapRowWriter(writer, output, bitmap));
    EXPECT_GE(bitmap.pixel_bytes, 48u);
    for (int i = 0; i < 4; ++i) PutRgbRow(writer, 4, i);
    EXPECT_EQ(writer.rows_stored, 4u);
  }
}

TEST(RowWriter, BufferHoldsAWholeRowOfEveryForm) {
  // Width 1 in 24-bit: row width 4; the buffer must hold at least 3 bytes of
  // colour input, and 4 for a four-component decoder row.
  TRowWriterOutput output = ColourOutput(1, 1);
  output.out_color_components = 4;
  TMemBitmap bitmap;
  TBitmapRowWriter writer;
  ASSERT_TRUE(CreateBitmapRowWriter(writer, output, bitmap));
  std::memset(writer.buffer, 9, 4);  // ASan checks the size
  PutRow(writer, 1);
  EXPECT_EQ(bitmap.pixels[0], 9);
}

}  // namespace
