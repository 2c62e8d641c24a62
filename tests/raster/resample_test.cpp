// The Lanczos-3 resampler, the box shrink and the orientation turn of 24-bit bitmaps.

#include "raster/resample.h"

#include <gtest/gtest.h>

#include <cmath>

#include "raster/orient.h"

namespace {

void SetPixel(TMemBitmap& b, int32_t x, int32_t y, uint8_t r, uint8_t g, uint8_t bl) {
  uint8_t* p = BitmapPixel(b, x, y);
  p[0] = bl;
  p[1] = g;
  p[2] = r;
}

TEST(ResampleTest, FlatColourStaysFlatAtEverySize) {
  TMemBitmap source;
  ASSERT_TRUE(BitmapCreate(source, 97, 61));
  for (int32_t y = 0; y < 61; ++y)
    for (int32_t x = 0; x < 97; ++x) SetPixel(source, x, y, 200, 100, 7);
  for (const auto& size : {std::pair{1, 1}, std::pair{13, 7}, std::pair{48, 30}, std::pair{97, 61}}) {
    TMemBitmap out;
    ASSERT_TRUE(BitmapResample(source, TResampleRegion{0, 0, 97, 61}, size.first, size.second, out));
    ASSERT_EQ(out.width, size.first);
    for (int32_t y = 0; y < out.height; ++y) {
      for (int32_t x = 0; x < out.width; ++x) {
        const uint8_t* p = BitmapPixel(out, x, y);
        ASSERT_EQ(p[2], 200);
        ASSERT_EQ(p[1], 100);
        ASSERT_EQ(p[0], 7);
      }
    }
  }
}

TEST(ResampleTest, HalvingAveragesStripesAndKeepsEdges) {
  // One-pixel stripes reduce to their mean; a hard edge between halves stays
  // in place, with Lanczos ringing of a few levels at most.
  TMemBitmap source;
  ASSERT_TRUE(BitmapCreate(source, 64, 64));
  for (int32_t y = 0; y < 64; ++y) {
    for (int32_t x = 0; x < 64; ++x) {
      const uint8_t stripe = (x % 2 == 0) ? 200 : 100;
      SetPixel(source, x, y, stripe, y < 32 ? 0 : 255, 0);
    }
  }
  TMemBitmap out;
  ASSERT_TRUE(BitmapResample(source, TResampleRegion{0, 0, 64, 64}, 32, 32, out));
  for (int32_t y = 0; y < 32; ++y) {
    for (int32_t x = 2; x < 30; ++x) EXPECT_NEAR(BitmapPixel(out, x, y)[2], 150, 2) << x << "," << y;
  }
  EXPECT_LE(BitmapPixel(out, 5, 10)[1], 3);
  EXPECT_GE(BitmapPixel(out, 5, 22)[1], 252);
}

TEST(ResampleTest, RegionPicksThePartShown) {
  TMemBitmap source;
  ASSERT_TRUE(BitmapCreate(source, 300, 100));
  for (int32_t y = 0; y < 100; ++y)
    for (int32_t x = 0; x < 300; ++x) SetPixel(source, x, y, x < 100 ? 255 : 0, x >= 100 && x < 200 ? 255 : 0, x >= 200 ? 255 : 0);
  TMemBitmap out;
  ASSERT_TRUE(BitmapResample(source, TResampleRegion{100, 0, 100, 100}, 20, 20, out));
  EXPECT_NEAR(BitmapPixel(out, 10, 10)[1], 255, 1);
  EXPECT_NEAR(BitmapPixel(out, 10, 10)[2], 0, 1);
}

TEST(ResampleTest, RowsOutOfOrderOrMissingLeaveItUnfinished) {
  TMemBitmap out;
  ASSERT_TRUE(BitmapCreate(out, 4, 4));
  TResampler resampler;
  ASSERT_TRUE(ResamplerInit(&resampler, 16, 16, TResampleRegion{0, 0, 16, 16}, &out));
  uint8_t row[16 * 3] = {};
  ResamplerPushRow(&resampler, 1, row);  // row 0 has not come: ignored
  for (int32_t y = 0; y < 10; ++y) ResamplerPushRow(&resampler, y, row);
  EXPECT_FALSE(ResamplerFinished(&resampler));
  ResamplerFree(&resampler);
  TResampler bad;
  EXPECT_FALSE(ResamplerInit(&bad, 0, 16, TResampleRegion{0, 0, 16, 16}, &out));
  EXPECT_FALSE(ResamplerInit(&bad, 16, 16, TResampleRegion{0, 0, 0, 16}, &out));
}

TEST(ResampleTest, BoxShrinkAveragesBlocksEdgesIncluded) {
  TMemBitmap source;
  ASSERT_TRUE(BitmapCreate(source, 5, 3));
  for (int32_t y = 0; y < 3; ++y)
    for (int32_t x = 0; x < 5; ++x) SetPixel(source, x, y, static_cast<uint8_t>(x * 10), static_cast<uint8_t>(y * 10), 0);
  TMemBitmap out;
  ASSERT_TRUE(BitmapBoxShrink(source, 2, out));
  ASSERT_EQ(out.width, 3);
  ASSERT_EQ(out.height, 2);
  EXPECT_EQ(BitmapPixel(out, 0, 0)[2], 5);   // (0 + 10) / 2
  EXPECT_EQ(BitmapPixel(out, 2, 0)[2], 40);  // the lone last column
  EXPECT_EQ(BitmapPixel(out, 0, 1)[1], 20);  // the lone last row
}

TEST(OrientTest, EveryOrientationPutsTheCornersRight) {
  // Stored 3 x 2 with distinct pixels; the expected upright grid per orientation.
  TMemBitmap stored;
  ASSERT_TRUE(BitmapCreate(stored, 3, 2));
  for (int32_t y = 0; y < 2; ++y)
    for (int32_t x = 0; x < 3; ++x) SetPixel(stored, x, y, static_cast<uint8_t>(y * 3 + x), 0, 0);
  // Upright rows as stored indices (row-major).
  struct TCase {
    int32_t orientation;
    int32_t width;
    int32_t height;
    int expected[6];
  } cases[] = {
      {1, 3, 2, {0, 1, 2, 3, 4, 5}}, {2, 3, 2, {2, 1, 0, 5, 4, 3}}, {3, 3, 2, {5, 4, 3, 2, 1, 0}},
      {4, 3, 2, {3, 4, 5, 0, 1, 2}}, {5, 2, 3, {0, 3, 1, 4, 2, 5}}, {6, 2, 3, {3, 0, 4, 1, 5, 2}},
      {7, 2, 3, {5, 2, 4, 1, 3, 0}}, {8, 2, 3, {2, 5, 1, 4, 0, 3}},
  };
  for (const TCase& c : cases) {
    TMemBitmap upright;
    ASSERT_TRUE(BitmapOrient(stored, c.orientation, upright)) << c.orientation;
    ASSERT_EQ(upright.width, c.width);
    ASSERT_EQ(upright.height, c.height);
    for (int32_t i = 0; i < 6; ++i)
      EXPECT_EQ(BitmapPixel(upright, i % c.width, i / c.width)[2], c.expected[i]) << c.orientation << " at " << i;
  }
  TMemBitmap empty;
  TMemBitmap upright;
  EXPECT_FALSE(BitmapOrient(empty, 6, upright));
}

}  // namespace
