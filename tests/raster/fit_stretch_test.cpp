#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "raster/membitmap.h"

namespace {

// A bitmap whose pixel (x, y) holds blue x, green y, red 7.
TMemBitmap MakeCoordinateBitmap(int32_t width, int32_t height) {
  TMemBitmap bitmap;
  EXPECT_TRUE(BitmapCreate(bitmap, width, height));
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      uint8_t* p = BitmapPixel(bitmap, x, y);
      p[0] = static_cast<uint8_t>(x);
      p[1] = static_cast<uint8_t>(y);
      p[2] = 7;
    }
  }
  return bitmap;
}

TEST(BitmapStretch, SameSizeCopiesUnchanged) {
  TMemBitmap src = MakeCoordinateBitmap(6, 4);
  TMemBitmap dst;
  ASSERT_TRUE(BitmapCreate(dst, 6, 4));
  BitmapStretch(dst, 0, 0, 5, 3, src, 0, 0, 5, 3);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 6; ++x) {
      const uint8_t* p = BitmapPixel(dst, x, y);
      EXPECT_EQ(p[0], x);
      EXPECT_EQ(p[1], y);
      EXPECT_EQ(p[2], 7);
    }
  }
}

TEST(BitmapStretch, SamplesTopLeftNearestNeighbour) {
  struct Case {
    int32_t src_w, src_h, dst_w, dst_h;
    std::vector<int> columns;
    std::vector<int> rows;
  };
  const Case cases[] = {
      {4, 1, 2, 1, {0, 2}, {0}},                    // 4 columns onto 2
      {2, 1, 4, 1, {0, 0, 1, 1}, {0}},              // 2 columns onto 4
      {1, 4, 1, 2, {0}, {0, 2}},                    // rows the same way
      {3, 3, 2, 5, {0, 1}, {0, 0, 1, 1, 2}},        // floor(j x 3 / 2), floor(i x 3 / 5)
      {10, 7, 3, 3, {0, 3, 6}, {0, 2, 4}},
  };
  for (const Case& c : cases) {
    TMemBitmap src = MakeCoordinateBitmap(c.src_w, c.src_h);
    TMemBitmap dst;
    ASSERT_TRUE(BitmapCreate(dst, c.dst_w, c.dst_h));
    BitmapStretch(dst, 0, 0, c.dst_w - 1, c.dst_h - 1, src, 0, 0, c.src_w - 1, c.src_h - 1);
    for (int j = 0; j < c.dst_w; ++j) {
      EXPECT_EQ(BitmapPixel(dst, j, 0)[0], c.columns[j])
          << c.src_w << "x" << c.src_h << " -> " << c.dst_w << "x" << c.dst_h << " column " << j;
    }
    for (int i = 0; i < c.dst_h; ++i) {
      EXPECT_EQ(BitmapPixel(dst, 0, i)[1], c.rows[i])
          << c.src_w << "x" << c.src_h << " -> " << c.dst_w << "x" << c.dst_h << " row " << i;
    }
  }
}

TEST(BitmapStretch, WritesOnlyInsideTheDestinationRectangle) {
  TMemBitmap src = MakeCoordinateBitmap(4, 4);
  TMemBitmap dst;
  ASSERT_TRUE(BitmapCreate(dst, 8, 6));
  BitmapFill(dst, 0xEE);
  // Source rectangle 1..2 x 1..3 onto destination 3..6 x 2..4.
  BitmapStretch(dst, 3, 2, 6, 4, src, 1, 1, 2, 3);
  for (int y = 0; y < 6; ++y) {
    for (int x = 0; x < 8; ++x) {
      const uint8_t* p = BitmapPixel(dst, x, y);
      const bool inside = x >= 3 && x <= 6 && y >= 2 && y <= 4;
      if (!inside) {
        EXPECT_EQ(p[0], 0xEE) << x << "," << y;
        continue;
      }
      EXPECT_EQ(p[0], 1 + (x - 3) * 2 / 4) << x << "," << y;
      EXPECT_EQ(p[1], 1 + (y - 2) * 3 / 3) << x << "," << y;
    }
  }
  // Nothing in the slack beyond the rows changes either.
  for (size_t i = size_t{6} * BitmapStride(8); i < dst.pixel_bytes; ++i) EXPECT_EQ(dst.pixels[i], 0);
}

TEST(BitmapStretch, InvertedOrOutsideRectanglesCopyNothing) {
  TMemBitmap src = MakeCoordinateBitmap(4, 4);
  struct Case {
    uint32_t dl, dt, dr, db, sl, st, sr, sb;
  };
  const Case cases[] = {
      {3, 0, 1, 3, 0, 0, 3, 3},   // destination right < left
      {0, 3, 3, 1, 0, 0, 3, 3},   // destination bottom < top
      {0, 0, 4, 3, 0, 0, 3, 3},   // destination one column past its bitmap
      {0, 0, 3, 4, 0, 0, 3, 3},   // destination one row past its bitmap
      {0, 0, 3, 3, 0, 0, 4, 3},   // source one column past its bitmap
      {0, 0, 3, 3, 0, 0, 3, 9},   // source rows past its bitmap
      {0, 0, 3, 3, 3, 0, 0, 3},   // source right < left
      {0, 0, 0xFFFFFFFFu, 3, 0, 0, 3, 3},
  };
  for (const Case& c : cases) {
    TMemBitmap dst;
    ASSERT_TRUE(BitmapCreate(dst, 4, 4));
    BitmapFill(dst, 0xEE);
    BitmapStretch(dst, c.dl, c.dt, c.dr, c.db, src, c.sl, c.st, c.sr, c.sb);
    for (size_t i = 0; i < size_t{4} * BitmapStride(4); ++i) {
      ASSERT_EQ(dst.pixels[i], 0xEE) << "case " << c.dl << "," << c.dt << "," << c.dr << ","
                                     << c.db << " / " << c.sl << "," << c.st << "," << c.sr
                                     << "," << c.sb;
    }
  }
}

TEST(BitmapStretch, BitmapsWithoutPixelsAreLeftAlone) {
  TMemBitmap src;
  src.width = 4;
  src.height = 4;
  src.header.biHeight = 4;
  TMemBitmap dst;
  ASSERT_TRUE(BitmapCreate(dst, 4, 4));
  BitmapStretch(dst, 0, 0, 3, 3, src, 0, 0, 3, 3);
  for (size_t i = 0; i < dst.pixel_bytes; ++i) ASSERT_EQ(dst.pixels[i], 0);
}

TEST(BitmapStretch, ShrinksAWideSourceIntoACell) {
  // Wide enough that j x src_w needs more than 16 bits.
  TMemBitmap src;
  ASSERT_TRUE(BitmapCreate(src, 3000, 2));
  for (int x = 0; x < 3000; ++x) {
    BitmapPixel(src, x, 0)[0] = static_cast<uint8_t>(x / 12);
  }
  TMemBitmap dst;
  ASSERT_TRUE(BitmapCreate(dst, 250, 1));
  BitmapStretch(dst, 0, 0, 249, 0, src, 0, 0, 2999, 0);
  for (int j = 0; j < 250; ++j) EXPECT_EQ(BitmapPixel(dst, j, 0)[0], j) << j;
}

struct FitCase {
  const char* what;
  TBltRect box;
  TBltRect src;
  int fit, centre, limit;
  int32_t limit_w, limit_h, scale;
  TBltRect expected;
};

void ExpectFit(const FitCase& c) {
  TBltRect box = c.box;
  FitRect(box, c.src, c.fit, c.centre, c.limit, c.limit_w, c.limit_h, c.scale);
  EXPECT_EQ(box.left, c.expected.left) << c.what;
  EXPECT_EQ(box.top, c.expected.top) << c.what;
  EXPECT_EQ(box.right, c.expected.right) << c.what;
  EXPECT_EQ(box.bottom, c.expected.bottom) << c.what;
}

// The thumbnail path: a 120 x 80 cell as the inclusive rectangle 0,0,119,79,
// fit, centre and limit to the image's size.
TEST(FitRect, ThumbnailPlacementInACell) {
  const TBltRect cell{0, 0, 119, 79};
  const FitCase cases[] = {
      {"400x300", cell, {0, 0, 399, 299}, 1, 1, 1, 400, 300, 1, {7, 0, 112, 79}},
      {"60x40 keeps its size", cell, {0, 0, 59, 39}, 1, 1, 1, 60, 40, 1, {30, 20, 89, 59}},
      {"300x400", cell, {0, 0, 299, 399}, 1, 1, 1, 300, 400, 1, {30, 0, 89, 79}},
      {"100x200", cell, {0, 0, 99, 199}, 1, 1, 1, 100, 200, 1, {40, 0, 79, 79}},
      {"1600x1200", cell, {0, 0, 1599, 1199}, 1, 1, 1, 1600, 1200, 1, {7, 0, 112, 79}},
      {"120x80 fills the cell", cell, {0, 0, 119, 79}, 1, 1, 1, 120, 80, 1, {0, 0, 119, 79}},
      {"2x2", cell, {0, 0, 1, 1}, 1, 1, 1, 2, 2, 1, {59, 39, 60, 40}},
  };
  for (const FitCase& c : cases) ExpectFit(c);
}

// The full-image cell: box 0,0,cellwidth,cellheight and src 0,0,width,height
// (one past the last pixel), fit, no centring, limit to the image's size.
TEST(FitRect, FullImageAttributes) {
  struct Case {
    int32_t width, height, expected_w, expected_h;
  };
  const Case cases[] = {
      {640, 480, 106, 80},  {800, 600, 106, 80}, {1600, 1200, 106, 80}, {100, 200, 40, 80},
      {121, 81, 120, 80},   {120, 80, 119, 79},  {50, 40, 49, 39},      {4000, 10, 120, 0},
      // The single-precision ratio shows: 2 / 6 is held as 0.33333334, whose
      // reciprocal taken in double is just under 3, so height-for-width is 2.
      {2, 6, 1, 2},         {2, 20, 1, 9},
      // Width-for-height is a single-precision product: 80 x 0.0875f rounds to
      // exactly 7 (in double it would be 6.9999998 and truncate to 6).
      {14, 160, 7, 80},     {21, 120, 14, 80},
  };
  for (const Case& c : cases) {
    TBltRect box{0, 0, 120, 80};
    const TBltRect src{0, 0, c.width, c.height};
    FitRect(box, src, 1, 0, 1, c.width, c.height, 1);
    EXPECT_EQ(box.left, 0);
    EXPECT_EQ(box.top, 0);
    EXPECT_EQ(box.right - box.left, c.expected_w) << c.width << "x" << c.height;
    EXPECT_EQ(box.bottom - box.top, c.expected_h) << c.width << "x" << c.height;
  }
}

TEST(FitRect, EdgeCases) {
  const FitCase cases[] = {
      // Zero source height: ratio 1, so a square fit in a 120 x 80 box.
      {"zero height", {0, 0, 120, 80}, {0, 0, 50, 0}, 1, 0, 0, 0, 0, 1, {0, 0, 80, 80}},
      // Zero source width: ratio 0 gives height-for-width 0, fitted to the width.
      {"zero width", {0, 0, 120, 80}, {0, 0, 0, 50}, 1, 0, 0, 0, 0, 1, {0, 0, 120, 0}},
      // fit 0: the source extents times scale at the box's corner.
      {"no fit", {10, 20, 130, 100}, {0, 0, 30, 20}, 0, 0, 0, 0, 0, 2, {10, 20, 70, 60}},
      {"no fit, centred", {10, 20, 130, 100}, {0, 0, 30, 20}, 0, 1, 0, 0, 0, 2, {40, 40, 100, 80}},
      // A source larger than the box without fitting: the centring offset is 0.
      {"no fit, too large", {5, 5, 125, 85}, {0, 0, 400, 300}, 0, 1, 0, 0, 0, 1, {5, 5, 405, 305}},
      // Without the limit a small source is enlarged to the box.
      {"no limit", {0, 0, 119, 79}, {0, 0, 59, 39}, 1, 1, 0, 0, 0, 1, {0, 0, 119, 78}},
      // The box's corner is kept; centring adds to it.
      {"offset box", {100, 50, 219, 129}, {0, 0, 99, 199}, 1, 1, 1, 100, 200, 1, {140, 50, 179, 129}},
  };
  for (const FitCase& c : cases) ExpectFit(c);
}

TEST(FitRect, ExtremeValuesDoNotMisbehave) {
  // Sizes far outside anything real still give a defined result (checked
  // under the undefined-behaviour sanitizer).
  TBltRect box{INT32_MIN, 0, INT32_MAX, 1};
  const TBltRect src{0, 0, INT32_MAX, 1};
  FitRect(box, src, 1, 1, 1, INT32_MIN, INT32_MAX, INT32_MAX);
  TBltRect box2{0, 0, 120, 80};
  FitRect(box2, TBltRect{0, 0, 1, INT32_MAX}, 1, 1, 0, 0, 0, 1);
  EXPECT_EQ(box2.bottom - box2.top, 80);
  TBltRect box3{0, 0, 10, 10};
  FitRect(box3, TBltRect{0, 0, 5, 5}, 0, 1, 0, 0, 0, INT32_MAX);
}

}  // namespace
