// The BMP reader through the reader pipeline: header forms, depths, colour
// tables, row order and padding, and the refusal of every broken header.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "fixtures/bmp_writer.h"
#include "fixtures/seal_writer.h"
#include "imagein/loader.h"
#include "raster/membitmap.h"

namespace {

struct TLoadResult {
  int32_t code = -1;
  TMemBitmap bitmap;
};

std::string TempPath(const std::string& name) { return ::testing::TempDir() + "bmp_reader_" + name + ".bmp"; }

TLoadResult LoadBytes(const std::vector<uint8_t>& bytes, const std::string& name, const char* key = nullptr) {
  const std::string path = TempPath(name);
  EXPECT_TRUE(WriteFixtureBytes(path, bytes));
  TLoadResult result;
  result.code = LoadImageWithReader(path.c_str(), 0, 0, result.bitmap, kThumbnailLoadFlags, key, kReaderBmp);
  std::remove(path.c_str());
  return result;
}

// Red, green, blue per pixel, top row first.
std::vector<uint8_t> BitmapRgb(const TMemBitmap& bitmap) {
  std::vector<uint8_t> rgb;
  if (bitmap.pixels == nullptr) return rgb;
  for (int32_t y = 0; y < bitmap.height; ++y) {
    for (int32_t x = 0; x < bitmap.width; ++x) {
      const uint8_t* p = BitmapPixel(bitmap, x, y);
      rgb.insert(rgb.end(), {p[2], p[1], p[0]});
    }
  }
  return rgb;
}

bool AllBlack(const TMemBitmap& bitmap) {
  if (bitmap.pixels == nullptr) return false;
  return std::all_of(bitmap.pixels, bitmap.pixels + bitmap.pixel_bytes, [](uint8_t v) { return v == 0; });
}

std::vector<TBmpColor> MakePalette(uint32_t count, uint32_t seed) {
  std::vector<TBmpColor> palette;
  for (uint32_t i = 0; i < count; ++i) {
    palette.push_back({static_cast<uint8_t>(17 * i + seed), static_cast<uint8_t>(255 - 3 * i),
                       static_cast<uint8_t>(i * 29 + 7)});
  }
  return palette;
}

// Pixel values spread over every index a depth can hold (or every byte for 24 bits).
std::vector<uint8_t> MakePixels(const TBmpSpec& spec, uint32_t seed) {
  std::mt19937 random(seed);
  const size_t count = static_cast<size_t>(spec.width) * spec.height * (spec.bits == 24 ? 3 : 1);
  const uint32_t limit = spec.bits > 8 ? 256 : 1u << spec.bits;
  std::vector<uint8_t> pixels(count);
  for (size_t i = 0; i < count; ++i) pixels[i] = static_cast<uint8_t>(i < limit ? i : random() % limit);
  return pixels;
}

struct TDecodeCase {
  const char* name;
  uint32_t header_size;
  uint16_t bits;
  int32_t width;
  int32_t height;
  bool top_down;
  uint32_t palette_size;  // entries in the file's colour table
  int64_t colors_used;    // -1: the table's size
  uint32_t gap;
};

void PrintTo(const TDecodeCase& c, std::ostream* os) { *os << c.name; }

class BmpDecodeTest : public ::testing::TestWithParam<TDecodeCase> {};

TEST_P(BmpDecodeTest, GivesTheStoredPixelsTopRowFirst) {
  const TDecodeCase& c = GetParam();
  TBmpSpec spec;
  spec.header_size = c.header_size;
  spec.bits = c.bits;
  spec.width = c.width;
  spec.height = c.height;
  spec.top_down = c.top_down;
  spec.palette = MakePalette(c.palette_size, c.bits);
  spec.colors_used = c.colors_used;
  spec.gap = c.gap;
  spec.pixels = MakePixels(spec, c.width * 31 + c.height);

  TLoadResult result = LoadBytes(BuildBmp(spec), c.name);
  ASSERT_EQ(result.code, kLoadOk);
  ASSERT_EQ(result.bitmap.width, c.width);
  ASSERT_EQ(result.bitmap.height, c.height);
  EXPECT_EQ(result.bitmap.full_width, static_cast<uint32_t>(c.width));
  EXPECT_EQ(result.bitmap.full_height, static_cast<uint32_t>(c.height));
  EXPECT_EQ(BitmapRgb(result.bitmap), BmpExpectedRgb(spec));
}

// Widths chosen so that rows end inside a byte and need padding: a 1-bit row
// of width 7 takes 4 bytes, of width 33 takes 8; a 4-bit row of width 9, 8.
INSTANTIATE_TEST_SUITE_P(
    Forms, BmpDecodeTest,
    ::testing::Values(
        TDecodeCase{"os2_1bit_w7", 12, 1, 7, 3, false, 2, -1, 0},
        TDecodeCase{"os2_4bit_w9", 12, 4, 9, 4, false, 16, -1, 0},
        TDecodeCase{"os2_8bit", 12, 8, 5, 3, false, 256, -1, 0},
        TDecodeCase{"os2_24bit", 12, 24, 5, 3, false, 0, -1, 0},
        TDecodeCase{"win_1bit_w33", 40, 1, 33, 3, false, 2, -1, 0},
        TDecodeCase{"win_2bit", 40, 2, 11, 3, false, 4, -1, 0},
        TDecodeCase{"win_4bit_w3", 40, 4, 3, 2, false, 16, -1, 0},
        TDecodeCase{"win_4bit_w9", 40, 4, 9, 5, false, 16, -1, 0},
        TDecodeCase{"win_8bit", 40, 8, 13, 4, false, 256, -1, 0},
        TDecodeCase{"win_24bit_w1", 40, 24, 1, 3, false, 0, -1, 0},
        TDecodeCase{"win_24bit_w5", 40, 24, 5, 4, false, 0, -1, 0},
        TDecodeCase{"v2_2bit", 64, 2, 5, 3, false, 4, -1, 0},
        TDecodeCase{"v2_8bit", 64, 8, 6, 2, false, 256, -1, 0},
        TDecodeCase{"v2_24bit", 64, 24, 3, 3, false, 0, -1, 0},
        // colours used 0 means a full table of 1 << bits entries.
        TDecodeCase{"colors_used_0_4bit", 40, 4, 6, 2, false, 16, 0, 0},
        TDecodeCase{"colors_used_0_8bit", 40, 8, 6, 2, false, 256, 0, 0},
        // A short table: indices beyond it show black.
        TDecodeCase{"short_table_4bit", 40, 4, 16, 2, false, 3, -1, 0},
        TDecodeCase{"short_table_8bit", 40, 8, 16, 16, false, 101, -1, 0},
        TDecodeCase{"one_color_1bit", 40, 1, 9, 3, false, 1, -1, 0},
        // Unused bytes between the table (or header) and the pixels.
        TDecodeCase{"gap_8bit", 40, 8, 4, 2, false, 16, -1, 8},
        TDecodeCase{"gap_24bit", 40, 24, 4, 2, false, 0, -1, 5},
        TDecodeCase{"gap_os2", 12, 4, 4, 2, false, 16, -1, 3},
        // A 24-bit file may carry a table; it is skipped.
        TDecodeCase{"table_24bit", 40, 24, 4, 2, false, 256, -1, 0},
        // Negative height: rows stored top row first.
        TDecodeCase{"top_down_1bit", 40, 1, 6, 6, true, 2, -1, 0},
        TDecodeCase{"top_down_2bit_v2", 64, 2, 5, 3, true, 4, -1, 0},
        TDecodeCase{"top_down_8bit", 40, 8, 7, 5, true, 256, -1, 0},
        TDecodeCase{"top_down_24bit", 40, 24, 6, 6, true, 0, -1, 0}),
    [](const ::testing::TestParamInfo<TDecodeCase>& info) { return std::string(info.param.name); });

TEST(BmpReaderTest, FourBitOddWidthTakesTheLastPixelFromTheHighBits) {
  // Width 3: byte 0 holds pixels 0 and 1, byte 1 holds pixel 2 in its high
  // four bits; the low four bits of byte 1 are padding and must not show.
  TBmpSpec spec;
  spec.bits = 4;
  spec.width = 3;
  spec.height = 1;
  spec.palette = MakePalette(16, 5);
  std::vector<uint8_t> bytes = BuildBmp(spec);
  const size_t data = bytes.size() - 4;
  bytes[data] = 0x9A;      // pixels 0 and 1: indices 9 and 10
  bytes[data + 1] = 0xFC;  // pixel 2: index 15; 12 in the padding nibble
  TLoadResult result = LoadBytes(bytes, "odd_nibble");
  ASSERT_EQ(result.code, kLoadOk);
  const std::vector<uint8_t> rgb = BitmapRgb(result.bitmap);
  const uint32_t expected[3] = {9, 10, 15};
  for (int x = 0; x < 3; ++x) {
    const TBmpColor& color = spec.palette[expected[x]];
    EXPECT_EQ(rgb[3 * x], color.red) << x;
    EXPECT_EQ(rgb[3 * x + 1], color.green) << x;
    EXPECT_EQ(rgb[3 * x + 2], color.blue) << x;
  }
}

TEST(BmpReaderTest, BottomRowOfTheFileBecomesTheLastRow) {
  // Two 24-bit rows: the first stored row is the bottom one.
  TBmpSpec spec;
  spec.width = 1;
  spec.height = 2;
  std::vector<uint8_t> bytes = BuildBmp(spec);
  const size_t data = bytes.size() - 8;
  const uint8_t stored[8] = {1, 2, 3, 0, 4, 5, 6, 0};  // blue, green, red, padding
  std::memcpy(bytes.data() + data, stored, sizeof(stored));
  TLoadResult result = LoadBytes(bytes, "row_order");
  ASSERT_EQ(result.code, kLoadOk);
  EXPECT_EQ(BitmapRgb(result.bitmap), (std::vector<uint8_t>{6, 5, 4, 3, 2, 1}));
}

struct TRefuseCase {
  const char* name;
  void (*mutate)(TBmpSpec& spec);
  int32_t code;
};

void PrintTo(const TRefuseCase& c, std::ostream* os) { *os << c.name; }

class BmpRefuseTest : public ::testing::TestWithParam<TRefuseCase> {};

TEST_P(BmpRefuseTest, FailsWithTheHeaderCodeAndNoPixels) {
  const TRefuseCase& c = GetParam();
  TBmpSpec spec;
  spec.bits = 8;
  spec.width = 4;
  spec.height = 2;
  spec.palette = MakePalette(16, 1);
  c.mutate(spec);
  spec.pixels = MakePixels(spec, 3);
  TLoadResult result = LoadBytes(BuildBmp(spec), c.name);
  EXPECT_EQ(result.code, c.code);
  EXPECT_EQ(result.bitmap.pixels, nullptr);
  EXPECT_EQ(result.bitmap.width, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Headers, BmpRefuseTest,
    ::testing::Values(
        TRefuseCase{"not_bm", [](TBmpSpec& s) { s.signature[0] = 'B'; s.signature[1] = 'A'; }, 207},
        TRefuseCase{"header_8", [](TBmpSpec& s) { s.header_size = 8; }, 203},
        TRefuseCase{"header_16", [](TBmpSpec& s) { s.header_size = 16; }, 203},
        TRefuseCase{"header_52", [](TBmpSpec& s) { s.header_size = 52; }, 203},
        TRefuseCase{"header_108", [](TBmpSpec& s) { s.header_size = 108; }, 203},
        TRefuseCase{"header_124", [](TBmpSpec& s) { s.header_size = 124; }, 203},
        TRefuseCase{"offset_inside_table", [](TBmpSpec& s) { s.pixel_offset = 14 + 40 + 16 * 4 - 1; }, 203},
        TRefuseCase{"offset_inside_header", [](TBmpSpec& s) { s.pixel_offset = 20; }, 203},
        TRefuseCase{"offset_inside_os2_table",
                    [](TBmpSpec& s) {
                      s.header_size = 12;
                      s.palette = MakePalette(256, 0);
                      s.pixel_offset = 14 + 12 + 256 * 3 - 12;
                    },
                    203},
        TRefuseCase{"bits_0", [](TBmpSpec& s) { s.bits = 0; }, 202},
        TRefuseCase{"bits_16", [](TBmpSpec& s) { s.bits = 16; s.palette.clear(); }, 202},
        TRefuseCase{"bits_32", [](TBmpSpec& s) { s.bits = 32; s.palette.clear(); }, 202},
        TRefuseCase{"bits_3_os2", [](TBmpSpec& s) { s.header_size = 12; s.bits = 3; }, 202},
        TRefuseCase{"planes_0", [](TBmpSpec& s) { s.planes = 0; }, 204},
        TRefuseCase{"planes_2_os2", [](TBmpSpec& s) { s.header_size = 12; s.planes = 2; }, 204},
        TRefuseCase{"rle8", [](TBmpSpec& s) { s.compression = 1; }, 206},
        TRefuseCase{"rle4", [](TBmpSpec& s) { s.bits = 4; s.compression = 2; }, 206},
        TRefuseCase{"bitfields", [](TBmpSpec& s) { s.compression = 3; }, 206},
        TRefuseCase{"colors_257", [](TBmpSpec& s) { s.colors_used = 257; }, 201},
        TRefuseCase{"colors_300_24bit", [](TBmpSpec& s) { s.bits = 24; s.colors_used = 300; }, 201},
        TRefuseCase{"colors_huge", [](TBmpSpec& s) { s.colors_used = 0x7FFFFFFF; }, 201},
        TRefuseCase{"width_0", [](TBmpSpec& s) { s.width = 0; }, kLoadEmptyImage},
        TRefuseCase{"height_0", [](TBmpSpec& s) { s.height = 0; }, kLoadEmptyImage},
        TRefuseCase{"width_negative", [](TBmpSpec& s) { s.header_width = -4; }, kLoadEmptyImage},
        TRefuseCase{"os2_width_0", [](TBmpSpec& s) { s.header_size = 12; s.width = 0; }, kLoadEmptyImage},
        // Sizes whose pixel memory would pass the cap are refused before any
        // memory is taken (the file holds only a few rows).
        TRefuseCase{"huge_width", [](TBmpSpec& s) { s.header_width = 0x7FFFFFFF; }, kLoadNoPixelMemory},
        TRefuseCase{"huge_height", [](TBmpSpec& s) { s.header_height = 0x7FFFFFFF; }, kLoadNoPixelMemory},
        TRefuseCase{"most_negative_height", [](TBmpSpec& s) { s.header_height = INT32_MIN; },
                    kLoadNoPixelMemory},
        TRefuseCase{"os2_65535_square",
                    [](TBmpSpec& s) {
                      s.header_size = 12;
                      s.header_width = 65535;
                      s.header_height = 65535;
                    },
                    kLoadNoPixelMemory},
        TRefuseCase{"just_over_the_cap",
                    [](TBmpSpec& s) {
                      s.bits = 1;
                      s.palette = MakePalette(2, 0);
                      s.header_width = 1 << 14;
                      s.header_height = (1 << 16) / 3 + 1;  // width * height * 3 just above 1 GiB
                    },
                    kLoadNoPixelMemory}),
    [](const ::testing::TestParamInfo<TRefuseCase>& info) { return std::string(info.param.name); });

// Cuts a file at every length: inside the headers, the colour table or the
// gap the load fails with the premature-end code and no pixels; inside the
// pixel data it succeeds with every row black (the rows are read whole before
// any is shown); whole, it gives the image.
void CheckEveryTruncation(const TBmpSpec& spec, const std::string& name) {
  const std::vector<uint8_t> full = BuildBmp(spec);
  const size_t data_start = full.size() - static_cast<size_t>(BmpFileRowBytes(spec.width, spec.bits)) * spec.height;
  for (size_t length = 0; length < full.size(); ++length) {
    SCOPED_TRACE(name + " cut at " + std::to_string(length));
    const std::vector<uint8_t> cut(full.begin(), full.begin() + static_cast<ptrdiff_t>(length));
    TLoadResult result = LoadBytes(cut, name);
    if (length < data_start) {
      EXPECT_EQ(result.code, kLoadPrematureEnd);
      EXPECT_EQ(result.bitmap.pixels, nullptr);
      continue;
    }
    EXPECT_EQ(result.code, kLoadOk);
    ASSERT_EQ(result.bitmap.width, spec.width);
    ASSERT_EQ(result.bitmap.height, spec.height);
    EXPECT_TRUE(AllBlack(result.bitmap));
  }
}

TEST(BmpReaderTest, TruncatedAtEveryByteFailsCleanly) {
  TBmpSpec indexed;
  indexed.bits = 4;
  indexed.width = 5;
  indexed.height = 3;
  indexed.palette = MakePalette(16, 9);
  indexed.gap = 6;
  indexed.pixels = MakePixels(indexed, 4);
  CheckEveryTruncation(indexed, "cut_4bit");

  TBmpSpec os2;
  os2.header_size = 12;
  os2.bits = 8;
  os2.width = 3;
  os2.height = 2;
  os2.palette = MakePalette(256, 2);
  os2.pixels = MakePixels(os2, 5);
  CheckEveryTruncation(os2, "cut_os2");

  TBmpSpec rgb;
  rgb.header_size = 64;
  rgb.bits = 24;
  rgb.width = 3;
  rgb.height = 3;
  rgb.top_down = true;
  rgb.pixels = MakePixels(rgb, 6);
  CheckEveryTruncation(rgb, "cut_24bit");
}

TEST(BmpReaderTest, HugeGapInAShortFileEndsAtTheFileEnd) {
  TBmpSpec spec;
  spec.bits = 24;
  spec.width = 2;
  spec.height = 2;
  spec.pixel_offset = 0x7FFFFFF0;
  TLoadResult result = LoadBytes(BuildBmp(spec), "huge_gap");
  EXPECT_EQ(result.code, kLoadPrematureEnd);
  EXPECT_EQ(result.bitmap.pixels, nullptr);
}

TEST(BmpReaderTest, LargeImageWhoseDataIsMissingLoadsBlack) {
  // The header promises 4000 x 3000 pixels but the file ends after one row:
  // the load still fails softly, with black rows.
  TBmpSpec spec;
  spec.bits = 8;
  spec.width = 4000;
  spec.height = 1;
  spec.header_height = 3000;
  spec.palette = MakePalette(256, 3);
  spec.pixels = MakePixels(spec, 1);
  TLoadResult result = LoadBytes(BuildBmp(spec), "missing_data");
  EXPECT_EQ(result.code, kLoadOk);
  EXPECT_EQ(result.bitmap.width, 4000);
  EXPECT_EQ(result.bitmap.height, 3000);
  EXPECT_TRUE(AllBlack(result.bitmap));
}

TEST(BmpReaderTest, SealedFileLoadsWithItsKeyLikeThePlainOne) {
  TBmpSpec spec;
  spec.bits = 8;
  spec.width = 40;
  spec.height = 30;  // more than one 4096-byte buffer of data
  spec.palette = MakePalette(256, 8);
  spec.pixels = MakePixels(spec, 11);
  const std::vector<uint8_t> plain = BuildBmp(spec);
  const std::vector<uint8_t> sealed = SealWithKeyText(plain, "vellum key");

  TLoadResult with_key = LoadBytes(sealed, "sealed", "vellum key");
  ASSERT_EQ(with_key.code, kLoadOk);
  EXPECT_EQ(with_key.bitmap.was_sealed, 1);
  EXPECT_EQ(BitmapRgb(with_key.bitmap), BmpExpectedRgb(spec));

  EXPECT_EQ(LoadBytes(sealed, "sealed_no_key").code, kLoadSealRejected);
  EXPECT_EQ(LoadBytes(sealed, "sealed_wrong_key", "other key").code, kLoadSealRejected);
}

TEST(BmpReaderTest, ZeroByteFileIsAPrematureEnd) {
  EXPECT_EQ(LoadBytes({}, "empty").code, kLoadPrematureEnd);
}

}  // namespace
