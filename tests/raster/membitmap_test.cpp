#include "raster/membitmap.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>

namespace {

TEST(BitmapStride, RoundsThreeBytesPerPixelUpToFour) {
  struct Case {
    int32_t width;
    uint32_t stride;
  };
  const Case cases[] = {{1, 4}, {2, 8}, {3, 12}, {4, 12}, {5, 16}, {120, 360}, {0, 0}, {-3, 0}};
  for (const Case& c : cases) EXPECT_EQ(BitmapStride(c.width), c.stride) << "width " << c.width;
}

TEST(BitmapCreate, MakesABlack24BitBitmapWithItsHeader) {
  TMemBitmap bitmap;
  ASSERT_TRUE(BitmapCreate(bitmap, 5, 3));
  EXPECT_EQ(bitmap.width, 5);
  EXPECT_EQ(bitmap.height, 3);
  EXPECT_EQ(bitmap.header.biSize, 40u);
  EXPECT_EQ(bitmap.header.biWidth, 5);
  EXPECT_EQ(bitmap.header.biHeight, 3);
  EXPECT_EQ(bitmap.header.biPlanes, 1);
  EXPECT_EQ(bitmap.header.biBitCount, 24);
  EXPECT_EQ(bitmap.header.biCompression, 0u);
  EXPECT_EQ(bitmap.header.biClrUsed, 0u);
  ASSERT_NE(bitmap.pixels, nullptr);
  EXPECT_EQ(bitmap.pixels, bitmap.pixel_handle);
  // height x (width + 3) x 3, which is at least height x stride.
  EXPECT_EQ(bitmap.pixel_bytes, size_t{3} * 8 * 3);
  EXPECT_GE(bitmap.pixel_bytes, size_t{3} * BitmapStride(5));
  for (size_t i = 0; i < bitmap.pixel_bytes; ++i) ASSERT_EQ(bitmap.pixels[i], 0) << i;
  EXPECT_EQ(bitmap.rows_written, 0);
}

TEST(BitmapCreate, ClearsWhatTheRecordHeldBefore) {
  TMemBitmap bitmap;
  ASSERT_TRUE(BitmapCreate(bitmap, 4, 4));
  bitmap.name[0] = 'x';
  bitmap.was_sealed = 1;
  bitmap.load_flags = 88;
  ASSERT_TRUE(BitmapCreate(bitmap, 2, 2));
  EXPECT_EQ(bitmap.name[0], '\0');
  EXPECT_EQ(bitmap.was_sealed, 0);
  EXPECT_EQ(bitmap.load_flags, 0);
  EXPECT_EQ(bitmap.width, 2);
}

TEST(BitmapCreate, RefusesSizesItCannotHoldWithoutWriting) {
  struct Case {
    int32_t width;
    int32_t height;
  };
  const Case cases[] = {{0, 10},         {10, 0},          {0, 0},         {-1, 10},
                        {10, -5},        {INT32_MIN, 1},   {INT32_MAX, 1}, {1, INT32_MAX},
                        {65536, 65536},  {INT32_MAX, INT32_MAX},
                        // Just over the cap: 1 GiB / ((width + 3) x 3) rows plus one.
                        {1021, 350466}};
  for (const Case& c : cases) {
    TMemBitmap bitmap;
    bitmap.name[0] = 'n';
    EXPECT_FALSE(BitmapCreate(bitmap, c.width, c.height)) << c.width << " x " << c.height;
    EXPECT_EQ(bitmap.pixels, nullptr);
    EXPECT_EQ(bitmap.pixel_handle, nullptr);
    EXPECT_EQ(bitmap.width, 0);
    EXPECT_EQ(bitmap.height, 0);
    EXPECT_EQ(bitmap.name[0], '\0');
  }
}

TEST(BitmapCreate, TakesSizesUpToTheCap) {
  // (1021 + 3) x 3 x 349525 = 1,073,740,800 bytes: just under 1 GiB. Only the
  // size check is exercised here; a machine without the memory refuses it.
  TMemBitmap bitmap;
  const bool created = BitmapCreate(bitmap, 1021, 349525);
  if (created) {
    EXPECT_EQ(bitmap.pixel_bytes, size_t{1073740800});
  }
  BitmapFree(bitmap);
}

TEST(BitmapAllocatePixels, RefusesZeroAndOverTheCap) {
  TMemBitmap bitmap;
  EXPECT_FALSE(BitmapAllocatePixels(bitmap, 0));
  EXPECT_FALSE(BitmapAllocatePixels(bitmap, kMaxPixelBytes + 1));
  EXPECT_EQ(bitmap.pixels, nullptr);
  ASSERT_TRUE(BitmapAllocatePixels(bitmap, 16));
  EXPECT_EQ(bitmap.pixel_bytes, 16u);
  uint8_t* first = bitmap.pixels;
  // A failed request keeps what the bitmap held.
  EXPECT_FALSE(BitmapAllocatePixels(bitmap, kMaxPixelBytes + 1));
  EXPECT_EQ(bitmap.pixels, first);
}

TEST(BitmapPixel, AddressesRowsBottomUp) {
  TMemBitmap bitmap;
  ASSERT_TRUE(BitmapCreate(bitmap, 5, 3));
  // Row y = 0 (the top) is the last row in memory.
  EXPECT_EQ(BitmapPixel(bitmap, 0, 0), bitmap.pixels + 2 * 16);
  EXPECT_EQ(BitmapPixel(bitmap, 0, 2), bitmap.pixels);
  EXPECT_EQ(BitmapPixel(bitmap, 4, 1), bitmap.pixels + 16 + 12);
}

TEST(BitmapFill, SetsPaddingTooAndMarksRowsWritten) {
  TMemBitmap bitmap;
  ASSERT_TRUE(BitmapCreate(bitmap, 5, 3));
  BitmapFill(bitmap, 255);
  EXPECT_EQ(bitmap.rows_written, 1);
  for (int row = 0; row < 3; ++row) {
    for (int i = 0; i < 16; ++i) ASSERT_EQ(bitmap.pixels[row * 16 + i], 255) << row << "," << i;
  }
  // Bytes past height x stride (the slack of the allocation) stay as they were.
  for (size_t i = 48; i < bitmap.pixel_bytes; ++i) EXPECT_EQ(bitmap.pixels[i], 0) << i;
}

TEST(BitmapFill, StaysInsideTheBlockOfANarrowerBitmap) {
  // An 8-bit bitmap of width 5 has rows of 8 bytes, less than the 24-bit
  // stride of 16: the fill must not run past its block.
  TMemBitmap bitmap;
  ASSERT_TRUE(BitmapAllocatePixels(bitmap, 3 * 8));
  bitmap.width = 5;
  bitmap.height = 3;
  bitmap.header.biWidth = 5;
  bitmap.header.biHeight = 3;
  bitmap.header.biBitCount = 8;
  BitmapFill(bitmap, 7);
  for (size_t i = 0; i < bitmap.pixel_bytes; ++i) EXPECT_EQ(bitmap.pixels[i], 7);
}

TEST(BitmapFill, DoesNothingWithoutPixels) {
  TMemBitmap bitmap;
  bitmap.width = 4;
  bitmap.height = 4;
  BitmapFill(bitmap, 1);
  EXPECT_EQ(bitmap.rows_written, 0);
}

TEST(TMemBitmap, MovingHandsOverThePixels) {
  TMemBitmap source;
  ASSERT_TRUE(BitmapCreate(source, 3, 2));
  source.name[0] = 'a';
  source.full_width = 30;
  uint8_t* block = source.pixels;

  TMemBitmap moved(std::move(source));
  EXPECT_EQ(moved.pixels, block);
  EXPECT_EQ(moved.pixel_handle, block);
  EXPECT_EQ(moved.width, 3);
  EXPECT_EQ(moved.full_width, 30u);
  EXPECT_EQ(moved.name[0], 'a');
  EXPECT_EQ(source.pixels, nullptr);
  EXPECT_EQ(source.pixel_handle, nullptr);
  EXPECT_EQ(source.width, 0);

  TMemBitmap assigned;
  ASSERT_TRUE(BitmapCreate(assigned, 9, 9));  // released by the assignment
  assigned = std::move(moved);
  EXPECT_EQ(assigned.pixels, block);
  EXPECT_EQ(assigned.height, 2);
  EXPECT_EQ(moved.pixels, nullptr);

  TMemBitmap& alias = assigned;
  assigned = std::move(alias);
  EXPECT_EQ(assigned.pixels, block);
}

TEST(BitmapClear, ReleasesAndZeroes) {
  TMemBitmap bitmap;
  ASSERT_TRUE(BitmapCreate(bitmap, 3, 3));
  bitmap.colors[5].red = 9;
  BitmapClear(bitmap);
  EXPECT_EQ(bitmap.pixels, nullptr);
  EXPECT_EQ(bitmap.width, 0);
  EXPECT_EQ(bitmap.header.biSize, 0u);
  EXPECT_EQ(bitmap.colors[5].red, 0);
  BitmapFree(bitmap);  // freeing twice is harmless
  EXPECT_EQ(bitmap.pixel_bytes, 0u);
}

TEST(ShiftRect, MovesBothCorners) {
  TBltRect rect{1, 2, 10, 20};
  ShiftRect(rect, 5, -2);
  EXPECT_EQ(rect.left, 6);
  EXPECT_EQ(rect.top, 0);
  EXPECT_EQ(rect.right, 15);
  EXPECT_EQ(rect.bottom, 18);
}

}  // namespace
