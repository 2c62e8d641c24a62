// The Targa reader through the reader pipeline: image types, pixel sizes,
// colour maps, row order, run-length packets across rows, and bad input.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "fixtures/bmp_writer.h"
#include "fixtures/seal_writer.h"
#include "fixtures/tga_writer.h"
#include "imagein/loader.h"
#include "raster/membitmap.h"

namespace {

struct TLoadResult {
  int32_t code = -1;
  TMemBitmap bitmap;
};

TLoadResult LoadBytes(const std::vector<uint8_t>& bytes, const std::string& name, const char* key = nullptr) {
  const std::string path = ::testing::TempDir() + "targa_reader_" + name + ".tga";
  EXPECT_TRUE(WriteFixtureBytes(path, bytes));
  TLoadResult result;
  result.code = LoadImageWithReader(path.c_str(), 0, 0, result.bitmap, kThumbnailLoadFlags, key, kReaderTarga);
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

uint8_t Expand5(uint32_t value) { return static_cast<uint8_t>(std::lround(value * 255.0 / 31.0)); }

// What the reader must show for a spec: red, green, blue per pixel, top row first.
std::vector<uint8_t> ExpectedRgb(const TTgaSpec& spec) {
  const uint32_t bpp = TgaBytesPerPixel(spec.pixel_bits);
  const uint32_t subtype = spec.image_type > 8 ? spec.image_type - 8u : spec.image_type;
  std::vector<uint8_t> rgb;
  for (size_t i = 0; i < static_cast<size_t>(spec.width) * spec.height; ++i) {
    auto at = [&](size_t b) -> uint32_t { return i * bpp + b < spec.pixels.size() ? spec.pixels[i * bpp + b] : 0; };
    if (subtype == 3) {
      rgb.insert(rgb.end(), {static_cast<uint8_t>(at(0)), static_cast<uint8_t>(at(0)), static_cast<uint8_t>(at(0))});
    } else if (subtype == 1) {
      const size_t entry = at(0) * 3;
      if (entry + 2 < spec.colormap.size()) {
        rgb.insert(rgb.end(), {spec.colormap[entry + 2], spec.colormap[entry + 1], spec.colormap[entry]});
      } else {
        rgb.insert(rgb.end(), {0, 0, 0});
      }
    } else if (bpp == 2) {
      const uint32_t v = at(0) | (at(1) << 8);
      rgb.insert(rgb.end(), {Expand5((v >> 10) & 31), Expand5((v >> 5) & 31), Expand5(v & 31)});
    } else {
      rgb.insert(rgb.end(), {static_cast<uint8_t>(at(2)), static_cast<uint8_t>(at(1)), static_cast<uint8_t>(at(0))});
    }
  }
  return rgb;
}

std::vector<uint8_t> MakeColormap(uint32_t entries) {
  std::vector<uint8_t> map;
  for (uint32_t i = 0; i < entries; ++i) {
    map.insert(map.end(), {static_cast<uint8_t>(i * 7 + 1), static_cast<uint8_t>(200 - i),
                           static_cast<uint8_t>(i * 13 + 5)});
  }
  return map;
}

// Pixels with runs of repeats mixed with changing values, so that run-length
// files hold both packet kinds.
std::vector<uint8_t> MakePixels(const TTgaSpec& spec, uint32_t value_limit, uint32_t seed) {
  std::mt19937 random(seed);
  const uint32_t bpp = TgaBytesPerPixel(spec.pixel_bits);
  const size_t count = static_cast<size_t>(spec.width) * spec.height;
  std::vector<uint8_t> pixels;
  std::vector<uint8_t> current(bpp, 0);
  for (size_t i = 0; i < count; ++i) {
    if (random() % 3 != 0) {
      for (uint32_t b = 0; b < bpp; ++b) current[b] = static_cast<uint8_t>(random() % value_limit);
    }
    pixels.insert(pixels.end(), current.begin(), current.end());
  }
  return pixels;
}

struct TDecodeCase {
  const char* name;
  uint8_t image_type;
  uint8_t pixel_bits;
  uint16_t width;
  uint16_t height;
  uint8_t descriptor;
  uint32_t colormap_entries;  // mapped images: entries in the file's colour map
};

void PrintTo(const TDecodeCase& c, std::ostream* os) { *os << c.name; }

class TargaDecodeTest : public ::testing::TestWithParam<TDecodeCase> {};

TTgaSpec SpecFor(const TDecodeCase& c) {
  TTgaSpec spec;
  spec.image_type = c.image_type;
  spec.pixel_bits = c.pixel_bits;
  spec.width = c.width;
  spec.height = c.height;
  spec.descriptor = c.descriptor;
  const uint32_t subtype = c.image_type > 8 ? c.image_type - 8u : c.image_type;
  uint32_t value_limit = 256;
  if (subtype == 1) {
    spec.colormap_type = 1;
    spec.colormap = MakeColormap(c.colormap_entries);
  }
  spec.pixels = MakePixels(spec, value_limit, c.width * 7u + c.height + c.image_type);
  return spec;
}

TEST_P(TargaDecodeTest, GivesTheStoredPixelsTopRowFirst) {
  const TTgaSpec spec = SpecFor(GetParam());
  TLoadResult result = LoadBytes(BuildTga(spec), GetParam().name);
  ASSERT_EQ(result.code, kLoadOk);
  ASSERT_EQ(result.bitmap.width, spec.width);
  ASSERT_EQ(result.bitmap.height, spec.height);
  EXPECT_EQ(BitmapRgb(result.bitmap), ExpectedRgb(spec));
}

// The run-length form of a file decodes exactly like its plain form, whether
// its packets run on across row ends or stop at each row end.
TEST_P(TargaDecodeTest, RunLengthFormMatchesPlainForm) {
  TTgaSpec spec = SpecFor(GetParam());
  if (spec.image_type > 8) spec.image_type -= 8;
  TLoadResult plain = LoadBytes(BuildTga(spec), std::string(GetParam().name) + "_plain");
  ASSERT_EQ(plain.code, kLoadOk);
  spec.image_type += 8;
  for (const bool bounded : {false, true}) {
    for (const uint32_t max_packet : {3u, 128u}) {
      spec.row_bounded_packets = bounded;
      spec.max_packet = max_packet;
      TLoadResult rle = LoadBytes(BuildTga(spec), std::string(GetParam().name) + "_rle");
      ASSERT_EQ(rle.code, kLoadOk) << bounded << " " << max_packet;
      EXPECT_EQ(BitmapRgb(rle.bitmap), BitmapRgb(plain.bitmap)) << bounded << " " << max_packet;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Types, TargaDecodeTest,
    ::testing::Values(TDecodeCase{"mapped", 1, 8, 7, 5, 0x00, 256},
                      TDecodeCase{"mapped_top_down", 1, 8, 7, 5, 0x20, 256},
                      TDecodeCase{"mapped_short_map", 1, 8, 9, 4, 0x00, 5},  // indices past 5 are black
                      TDecodeCase{"mapped_rle", 9, 8, 13, 6, 0x00, 256},
                      TDecodeCase{"true_color_24", 2, 24, 5, 4, 0x00, 0},
                      TDecodeCase{"true_color_24_top_down", 2, 24, 5, 4, 0x20, 0},
                      TDecodeCase{"true_color_32", 2, 32, 6, 3, 0x08, 0},
                      TDecodeCase{"true_color_32_top_down", 2, 32, 6, 3, 0x28, 0},
                      TDecodeCase{"true_color_16", 2, 16, 6, 3, 0x00, 0},
                      TDecodeCase{"true_color_15", 2, 15, 6, 3, 0x20, 0},
                      TDecodeCase{"true_color_rle_24", 10, 24, 11, 7, 0x00, 0},
                      TDecodeCase{"true_color_rle_32_top_down", 10, 32, 11, 7, 0x28, 0},
                      TDecodeCase{"true_color_rle_16", 10, 16, 5, 5, 0x00, 0},
                      TDecodeCase{"right_to_left_flag_ignored", 2, 24, 4, 2, 0x30, 0},
                      TDecodeCase{"gray", 3, 8, 9, 4, 0x00, 0},
                      TDecodeCase{"gray_top_down", 3, 8, 9, 4, 0x20, 0},
                      TDecodeCase{"gray_rle", 11, 8, 9, 4, 0x00, 0},
                      TDecodeCase{"one_pixel", 2, 24, 1, 1, 0x00, 0},
                      TDecodeCase{"one_column", 11, 8, 1, 9, 0x00, 0}),
    [](const ::testing::TestParamInfo<TDecodeCase>& info) { return std::string(info.param.name); });

TEST(TargaReaderTest, SixteenBitChannelsSpreadOverTheFullRange) {
  // 0, 1, 3, 4, 30, 31 give 0, 8, 25, 33, 247, 255; bit 15 is ignored.
  TTgaSpec spec;
  spec.pixel_bits = 16;
  spec.width = 3;
  spec.height = 1;
  spec.descriptor = 0x20;
  AppendTga16(spec.pixels, 0, 1, 3);
  AppendTga16(spec.pixels, 4, 30, 31);
  AppendTga16(spec.pixels, 31, 31, 31);
  spec.pixels[5] |= 0x80;
  TLoadResult result = LoadBytes(BuildTga(spec), "sixteen");
  ASSERT_EQ(result.code, kLoadOk);
  EXPECT_EQ(BitmapRgb(result.bitmap), (std::vector<uint8_t>{0, 8, 25, 33, 247, 255, 255, 255, 255}));
}

TEST(TargaReaderTest, GrayPixelsBecomeEqualRedGreenBlue) {
  TTgaSpec spec;
  spec.image_type = 3;
  spec.pixel_bits = 8;
  spec.width = 2;
  spec.height = 2;
  spec.pixels = {0, 77, 200, 255};
  TLoadResult result = LoadBytes(BuildTga(spec), "gray_values");
  ASSERT_EQ(result.code, kLoadOk);
  EXPECT_EQ(BitmapRgb(result.bitmap),
            (std::vector<uint8_t>{0, 0, 0, 77, 77, 77, 200, 200, 200, 255, 255, 255}));
}

TEST(TargaReaderTest, WithoutTheTopDownFlagTheLastStoredRowIsTheTop) {
  std::vector<uint8_t> file(18, 0);
  file[2] = 3;                   // greyscale
  file[12] = 1;                  // width 1
  file[14] = 3;                  // height 3
  file[16] = 8;
  file.insert(file.end(), {10, 20, 30});  // stored bottom row first
  TLoadResult bottom_up = LoadBytes(file, "bottom_up");
  ASSERT_EQ(bottom_up.code, kLoadOk);
  EXPECT_EQ(BitmapRgb(bottom_up.bitmap), (std::vector<uint8_t>{30, 30, 30, 20, 20, 20, 10, 10, 10}));

  file[17] = 0x20;
  TLoadResult top_down = LoadBytes(file, "top_down");
  ASSERT_EQ(top_down.code, kLoadOk);
  EXPECT_EQ(BitmapRgb(top_down.bitmap), (std::vector<uint8_t>{10, 10, 10, 20, 20, 20, 30, 30, 30}));
}

TEST(TargaReaderTest, PacketsCrossRowEnds) {
  // 3 x 2 greyscale, top row first: one repeat packet of 4 pixels covers the
  // first row and the start of the second; a literal packet of 2 ends it.
  std::vector<uint8_t> file(18, 0);
  file[2] = 11;
  file[12] = 3;
  file[14] = 2;
  file[16] = 8;
  file[17] = 0x20;
  file.insert(file.end(), {0x83, 90, 0x01, 5, 6});
  TLoadResult result = LoadBytes(file, "cross_rows");
  ASSERT_EQ(result.code, kLoadOk);
  EXPECT_EQ(BitmapRgb(result.bitmap),
            (std::vector<uint8_t>{90, 90, 90, 90, 90, 90, 90, 90, 90, 90, 90, 90, 5, 5, 5, 6, 6, 6}));
}

TEST(TargaReaderTest, PacketsRunningPastTheImageEndAtTheImage) {
  // A repeat packet of 128 pixels for a 2 x 2 image, and a literal packet of
  // 128 pixels of which only 4 are present: the image takes what it needs.
  for (const uint8_t descriptor : {uint8_t{0x00}, uint8_t{0x20}}) {
    std::vector<uint8_t> file(18, 0);
    file[2] = 11;
    file[12] = 2;
    file[14] = 2;
    file[16] = 8;
    file[17] = descriptor;
    std::vector<uint8_t> repeat = file;
    repeat.insert(repeat.end(), {0xFF, 42});
    TLoadResult repeated = LoadBytes(repeat, "long_repeat");
    ASSERT_EQ(repeated.code, kLoadOk);
    EXPECT_EQ(BitmapRgb(repeated.bitmap), std::vector<uint8_t>(12, 42));

    std::vector<uint8_t> literal = file;
    literal.insert(literal.end(), {0x7F, 1, 2, 3, 4});
    TLoadResult literals = LoadBytes(literal, "long_literal");
    ASSERT_EQ(literals.code, kLoadOk);
    EXPECT_EQ(literals.bitmap.width, 2);
  }
}

TEST(TargaReaderTest, ColourMapOnATrueColourImageIsReadAndUnused) {
  TTgaSpec spec;
  spec.colormap_type = 1;
  spec.colormap = MakeColormap(4);
  spec.width = 2;
  spec.height = 2;
  spec.pixels = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  spec.image_id = "an image id";
  TLoadResult result = LoadBytes(BuildTga(spec), "unused_map");
  ASSERT_EQ(result.code, kLoadOk);
  EXPECT_EQ(BitmapRgb(result.bitmap), ExpectedRgb(spec));
}

struct TRefuseCase {
  const char* name;
  void (*mutate)(TTgaSpec& spec);
  int32_t code;
};

void PrintTo(const TRefuseCase& c, std::ostream* os) { *os << c.name; }

class TargaRefuseTest : public ::testing::TestWithParam<TRefuseCase> {};

TEST_P(TargaRefuseTest, FailsWithTheHeaderCodeAndNoPixels) {
  TTgaSpec spec;
  spec.image_type = 1;
  spec.colormap_type = 1;
  spec.colormap = MakeColormap(16);
  spec.pixel_bits = 8;
  spec.width = 4;
  spec.height = 3;
  GetParam().mutate(spec);
  TLoadResult result = LoadBytes(BuildTga(spec), GetParam().name);
  EXPECT_EQ(result.code, GetParam().code);
  EXPECT_EQ(result.bitmap.pixels, nullptr);
  EXPECT_EQ(result.bitmap.width, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Headers, TargaRefuseTest,
    ::testing::Values(
        TRefuseCase{"map_257", [](TTgaSpec& s) { s.colormap = MakeColormap(257); }, 225},
        TRefuseCase{"map_first_1", [](TTgaSpec& s) { s.colormap_first = 1; }, 225},
        TRefuseCase{"map_entry_16",
                    [](TTgaSpec& s) {
                      s.colormap_entry_bits = 16;
                      s.colormap.resize(32);
                    },
                    225},
        TRefuseCase{"map_entry_15", [](TTgaSpec& s) { s.colormap_entry_bits = 15; }, 225},
        TRefuseCase{"map_entry_32", [](TTgaSpec& s) { s.colormap_entry_bits = 32; }, 225},
        TRefuseCase{"true_color_map_entry_15",
                    [](TTgaSpec& s) {
                      s.image_type = 2;
                      s.pixel_bits = 24;
                      s.colormap_entry_bits = 15;
                    },
                    225},
        TRefuseCase{"map_type_2", [](TTgaSpec& s) { s.colormap_type = 2; }, 226},
        TRefuseCase{"mapped_without_map_type", [](TTgaSpec& s) { s.colormap_type = 0; }, 226},
        TRefuseCase{"map_type_1_length_0", [](TTgaSpec& s) { s.colormap.clear(); }, 226},
        TRefuseCase{"mapped_16_bit", [](TTgaSpec& s) { s.pixel_bits = 16; }, 226},
        TRefuseCase{"pixel_bits_0", [](TTgaSpec& s) { s.pixel_bits = 0; }, 226},
        TRefuseCase{"pixel_bits_12", [](TTgaSpec& s) { s.pixel_bits = 12; }, 226},
        TRefuseCase{"pixel_bits_40", [](TTgaSpec& s) { s.pixel_bits = 40; }, 226},
        TRefuseCase{"interleave_0x40", [](TTgaSpec& s) { s.descriptor = 0x40; }, 226},
        TRefuseCase{"interleave_0x80", [](TTgaSpec& s) { s.descriptor = 0xA0; }, 226},
        TRefuseCase{"type_0", [](TTgaSpec& s) { s.image_type = 0; }, 226},
        TRefuseCase{"type_4", [](TTgaSpec& s) { s.image_type = 4; }, 226},
        TRefuseCase{"type_8", [](TTgaSpec& s) { s.image_type = 8; }, 226},
        TRefuseCase{"type_12", [](TTgaSpec& s) { s.image_type = 12; }, 226},
        TRefuseCase{"type_32", [](TTgaSpec& s) { s.image_type = 32; }, 226},
        TRefuseCase{"true_color_8_bit",
                    [](TTgaSpec& s) {
                      s.image_type = 2;
                      s.colormap_type = 0;
                      s.colormap.clear();
                    },
                    226},
        TRefuseCase{"gray_16_bit",
                    [](TTgaSpec& s) {
                      s.image_type = 3;
                      s.colormap_type = 0;
                      s.colormap.clear();
                      s.pixel_bits = 16;
                    },
                    226},
        TRefuseCase{"gray_rle_32_bit",
                    [](TTgaSpec& s) {
                      s.image_type = 11;
                      s.colormap_type = 0;
                      s.colormap.clear();
                      s.pixel_bits = 32;
                    },
                    226},
        TRefuseCase{"width_0", [](TTgaSpec& s) { s.width = 0; }, kLoadEmptyImage},
        TRefuseCase{"height_0", [](TTgaSpec& s) { s.height = 0; }, kLoadEmptyImage},
        // 65535 x 65535 pixels would need far more than the 1 GiB cap; refused
        // before any memory is taken, though the file holds no pixel at all.
        TRefuseCase{"huge",
                    [](TTgaSpec& s) {
                      s.header_width = 65535;
                      s.header_height = 65535;
                    },
                    kLoadNoPixelMemory}),
    [](const ::testing::TestParamInfo<TRefuseCase>& info) { return std::string(info.param.name); });

// Cuts a file at every length. Inside the header, image id or colour map the
// load fails with the premature-end code; inside the pixels of a bottom-up
// file it succeeds with every row black; inside the pixels of a top-down file
// the complete rows before the cut are kept and the rest are black.
void CheckEveryTruncation(const TTgaSpec& spec, const std::string& name) {
  const std::vector<uint8_t> full = BuildTga(spec);
  const size_t header_end = 18 + spec.image_id.size() + spec.colormap.size();
  const std::vector<uint8_t> expected = ExpectedRgb(spec);
  const size_t row_rgb = static_cast<size_t>(spec.width) * 3;
  const bool top_down = (spec.descriptor & 0x20) != 0;
  for (size_t length = 0; length < full.size(); ++length) {
    SCOPED_TRACE(name + " cut at " + std::to_string(length));
    const std::vector<uint8_t> cut(full.begin(), full.begin() + static_cast<ptrdiff_t>(length));
    TLoadResult result = LoadBytes(cut, name);
    if (length < header_end) {
      EXPECT_EQ(result.code, kLoadPrematureEnd);
      EXPECT_EQ(result.bitmap.pixels, nullptr);
      continue;
    }
    EXPECT_EQ(result.code, kLoadOk);
    ASSERT_EQ(result.bitmap.width, spec.width);
    const std::vector<uint8_t> rgb = BitmapRgb(result.bitmap);
    ASSERT_EQ(rgb.size(), expected.size());
    // Shown rows are a run of complete rows from the top, then black rows:
    // none for bottom-up files; for plain top-down files exactly the rows
    // whose bytes all precede the cut.
    size_t good_rows = 0;
    for (size_t row = 0; row < spec.height; ++row) {
      const auto begin = static_cast<ptrdiff_t>(row * row_rgb);
      const auto end = begin + static_cast<ptrdiff_t>(row_rgb);
      const std::vector<uint8_t> got(rgb.begin() + begin, rgb.begin() + end);
      if (good_rows == row && got == std::vector<uint8_t>(expected.begin() + begin, expected.begin() + end)) {
        ++good_rows;
        continue;
      }
      EXPECT_EQ(got, std::vector<uint8_t>(row_rgb, 0)) << "row " << row;
    }
    if (!top_down) {
      EXPECT_EQ(good_rows, 0u);
    } else if (spec.image_type < 9) {
      EXPECT_EQ(good_rows, (length - header_end) / (spec.width * TgaBytesPerPixel(spec.pixel_bits)));
    }
  }
}

TEST(TargaReaderTest, TruncatedAtEveryByteFailsCleanly) {
  TTgaSpec mapped;
  mapped.image_type = 1;
  mapped.colormap_type = 1;
  mapped.colormap = MakeColormap(6);
  mapped.image_id = "id";
  mapped.pixel_bits = 8;
  mapped.width = 3;
  mapped.height = 3;
  mapped.pixels = {0, 1, 2, 3, 4, 5, 1, 1, 1};
  CheckEveryTruncation(mapped, "cut_mapped");

  TTgaSpec top_down;
  top_down.pixel_bits = 24;
  top_down.width = 3;
  top_down.height = 3;
  top_down.descriptor = 0x20;
  top_down.pixels = MakePixels(top_down, 256, 1);
  CheckEveryTruncation(top_down, "cut_top_down");

  TTgaSpec rle = top_down;
  rle.image_type = 10;
  CheckEveryTruncation(rle, "cut_rle_top_down");
  rle.descriptor = 0;
  rle.pixel_bits = 16;
  rle.pixels = MakePixels(rle, 256, 2);
  CheckEveryTruncation(rle, "cut_rle_bottom_up");
}

TEST(TargaReaderTest, SealedFileLoadsWithItsKeyLikeThePlainOne) {
  TTgaSpec spec;
  spec.image_type = 10;
  spec.pixel_bits = 32;
  spec.width = 50;
  spec.height = 40;  // more than one 4096-byte buffer of data
  spec.pixels = MakePixels(spec, 256, 21);
  const std::vector<uint8_t> sealed = SealWithKeyText(BuildTga(spec), "k");

  TLoadResult with_key = LoadBytes(sealed, "sealed", "k");
  ASSERT_EQ(with_key.code, kLoadOk);
  EXPECT_EQ(with_key.bitmap.was_sealed, 1);
  EXPECT_EQ(BitmapRgb(with_key.bitmap), ExpectedRgb(spec));

  EXPECT_EQ(LoadBytes(sealed, "sealed_no_key").code, kLoadSealRejected);
  EXPECT_EQ(LoadBytes(sealed, "sealed_wrong_key", "j").code, kLoadSealRejected);
}

TEST(TargaReaderTest, ZeroByteFileIsAPrematureEnd) {
  EXPECT_EQ(LoadBytes({}, "empty").code, kLoadPrematureEnd);
}

}  // namespace
