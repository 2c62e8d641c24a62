// The GIF reader, driven the way the loading front end drives it, over files
// written by the GIF fixture writer.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "fixtures/bmp_writer.h"  // WriteFixtureBytes
#include "fixtures/gif_writer.h"
#include "fixtures/reader_drive.h"
#include "fixtures/seal_writer.h"
#include "imagein/image_source.h"
#include "imagein/load_codes.h"
#include "imagein/loader.h"
#include "raster/membitmap.h"

namespace {

constexpr int32_t kBadCodeSize = 213;
constexpr int32_t kNoImage = 215;
constexpr int32_t kNotGif = 216;
constexpr int32_t kImageTrace = 217;
constexpr int kBadLzw = 221;
constexpr int kEarlyEnd = 223;

std::vector<TGifColor> Palette(size_t entries) {
  std::vector<TGifColor> table(entries);
  for (size_t i = 0; i < entries; ++i) {
    table[i] = {static_cast<uint8_t>(i * 37 + 11), static_cast<uint8_t>(i * 101 + 3),
                static_cast<uint8_t>(255 - i)};
  }
  return table;
}

std::vector<uint8_t> RandomIndices(size_t count, int limit, uint32_t seed) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> pick(0, limit - 1);
  std::vector<uint8_t> indices(count);
  for (uint8_t& index : indices) index = static_cast<uint8_t>(pick(random));
  return indices;
}

// Indices with long runs, so the LZW table grows long chains.
std::vector<uint8_t> RunIndices(size_t count, int limit, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> indices;
  while (indices.size() < count) {
    const uint8_t value = static_cast<uint8_t>(random() % static_cast<uint32_t>(limit));
    const size_t run = 1 + random() % 40;
    for (size_t i = 0; i < run && indices.size() < count; ++i) indices.push_back(value);
  }
  return indices;
}

TGifSpec OneFrame(uint16_t width, uint16_t height, size_t table_entries, int min_code_size,
                  uint32_t seed = 1) {
  TGifSpec spec;
  spec.global_table = Palette(table_entries);
  TGifFrame frame;
  frame.width = width;
  frame.height = height;
  frame.min_code_size = min_code_size;
  const int limit = std::min<int>(1 << min_code_size, 256);
  frame.indices = RandomIndices(static_cast<size_t>(width) * height, limit, seed);
  spec.frames.push_back(frame);
  return spec;
}

TDrivenImage Decode(const std::vector<uint8_t>& bytes, const char* key = nullptr) {
  return DriveReader(bytes, CreateGifSource, key);
}

TDrivenImage Decode(const TGifSpec& spec) { return Decode(BuildGif(spec)); }

void ExpectImage(const TGifSpec& spec, const TDrivenImage& image) {
  ASSERT_EQ(image.result, 0) << "last code " << image.last_code;
  ASSERT_EQ(image.width, spec.frames.front().width);
  ASSERT_EQ(image.height, spec.frames.front().height);
  const std::vector<uint8_t> expected = GifExpectedRgb(spec);
  ASSERT_EQ(image.rgb.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    ASSERT_EQ(image.rgb[i], expected[i]) << "pixel " << i / 3 << " channel " << i % 3;
  }
}

// --- Images that decode -----------------------------------------------------

struct TCodeSizeCase {
  int min_code_size;
  size_t table_entries;
  bool clear_when_full;
  bool runs;
};

class GifCodeSizeTest : public ::testing::TestWithParam<TCodeSizeCase> {};

// Every minimum code size the reader takes, with images large enough to fill
// the code table (with a clear code, or deferred at 4096 entries), and with
// long runs that build long prefix chains.
TEST_P(GifCodeSizeTest, DecodesToTheWrittenIndices) {
  const TCodeSizeCase& c = GetParam();
  TGifSpec spec = OneFrame(97, 83, c.table_entries, c.min_code_size, 7u + c.min_code_size);
  TGifFrame& frame = spec.frames.front();
  const int limit = std::min<int>(1 << c.min_code_size, 256);
  if (c.runs) frame.indices = RunIndices(frame.indices.size(), limit, 99u + c.min_code_size);
  frame.clear_when_full = c.clear_when_full;
  ExpectImage(spec, Decode(spec));
}

INSTANTIATE_TEST_SUITE_P(
    CodeSizes, GifCodeSizeTest,
    ::testing::Values(TCodeSizeCase{2, 4, true, false}, TCodeSizeCase{2, 4, false, false},
                      TCodeSizeCase{3, 8, true, false}, TCodeSizeCase{4, 16, true, true},
                      TCodeSizeCase{5, 32, false, true}, TCodeSizeCase{6, 64, true, false},
                      TCodeSizeCase{7, 128, false, false}, TCodeSizeCase{8, 256, true, false},
                      TCodeSizeCase{8, 256, false, false}, TCodeSizeCase{8, 256, false, true},
                      TCodeSizeCase{9, 256, true, false}, TCodeSizeCase{11, 256, true, false},
                      TCodeSizeCase{11, 256, false, true}));

// Codes cross sub-block ends anywhere: one-byte blocks, blocks of two and
// three bytes, and the full 255.
TEST(GifReader, CodesCrossSubBlocksOfAnySize) {
  for (size_t block_size : {1u, 2u, 3u, 7u, 254u, 255u}) {
    for (int min_code_size : {2, 8, 11}) {
      TGifSpec spec = OneFrame(41, 29, 256, min_code_size, static_cast<uint32_t>(block_size));
      spec.frames.front().sub_block_size = block_size;
      SCOPED_TRACE("block size " + std::to_string(block_size) + ", code size " +
                   std::to_string(min_code_size));
      ExpectImage(spec, Decode(spec));
    }
  }
}

// 87a and 89a read the same; an unknown version is only a trace, as is an
// unusual aspect byte.
TEST(GifReader, VersionsAndAspectDoNotMatter) {
  for (const char* version : {"87a", "89a", "90a"}) {
    for (uint8_t aspect : {0, 49, 17}) {
      TGifSpec spec = OneFrame(6, 5, 4, 2);
      spec.version = version;
      spec.aspect = aspect;
      SCOPED_TRACE(std::string(version) + " aspect " + std::to_string(aspect));
      ExpectImage(spec, Decode(spec));
    }
  }
}

// Interlaced images of every height whose passes differ: each display row
// comes from the stored row the four passes put there.
TEST(GifReader, InterlacedRowsComeOutInDisplayOrder) {
  for (uint16_t height : {1, 2, 3, 4, 5, 6, 7, 8, 9, 15, 16, 17, 33}) {
    TGifSpec spec = OneFrame(5, height, 256, 8, height);
    TGifFrame& frame = spec.frames.front();
    frame.interlaced = true;
    // Each row one colour, its own row number, so a misplaced row shows.
    for (uint16_t y = 0; y < height; ++y) {
      for (uint16_t x = 0; x < 5; ++x) frame.indices[static_cast<size_t>(y) * 5 + x] = static_cast<uint8_t>(y);
    }
    SCOPED_TRACE("height " + std::to_string(height));
    ExpectImage(spec, Decode(spec));
  }
}

TEST(GifReader, TheImageSizeIsTheFirstImageNotTheScreen) {
  TGifSpec spec = OneFrame(100, 50, 16, 4);
  spec.screen_width = 640;
  spec.screen_height = 480;
  spec.frames.front().left = 10;
  spec.frames.front().top = 10;
  ExpectImage(spec, Decode(spec));
}

TEST(GifReader, OnlyTheFirstFrameIsRead) {
  TGifSpec spec = OneFrame(8, 6, 4, 2, 1);
  TGifSpec second = OneFrame(3, 3, 4, 2, 2);
  TGifFrame later = second.frames.front();
  later.extensions.push_back(GifGraphicControl(2));
  later.local_table = Palette(4);
  spec.frames.push_back(later);
  spec.trailing_extensions.push_back(GifComment("after the frames"));
  const TDrivenImage image = Decode(spec);
  ExpectImage(spec, image);
  EXPECT_FALSE(image.has_transparent);  // the extension of the second frame is never read
}

TEST(GifReader, ExtensionsBeforeTheImageAreSkipped) {
  TGifSpec spec = OneFrame(7, 4, 8, 3);
  TGifExtension application;
  application.label = 0xFF;
  application.blocks = {{'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', '0'}, {1, 0, 0}};
  TGifExtension empty_comment;
  empty_comment.label = 0xFE;
  spec.frames.front().extensions = {application, GifComment(std::string(600, 'c')), empty_comment,
                                    GifGraphicControl(-1)};
  ExpectImage(spec, Decode(spec));
}

// The colour map is that of the table applying to the image: a local table
// replaces the global one, and indices beyond the table (or with no table at
// all) are black.
TEST(GifReader, ColourTablesAndIndicesBeyondThem) {
  struct TCase {
    const char* name;
    size_t global_entries;
    size_t local_entries;
    int index_limit;
  };
  for (const TCase& c : {TCase{"global only", 16, 0, 16}, TCase{"local over global", 16, 16, 16},
                         TCase{"local smaller than global", 16, 4, 16},
                         TCase{"local larger than global", 2, 64, 64},
                         TCase{"indices beyond the global table", 3, 0, 64},
                         TCase{"no table at all", 0, 0, 16}}) {
    TGifSpec spec = OneFrame(12, 9, c.global_entries, 6);
    TGifFrame& frame = spec.frames.front();
    frame.indices = RandomIndices(frame.indices.size(), c.index_limit, 5);
    if (c.local_entries > 0) {
      frame.local_table = Palette(c.local_entries);
      for (TGifColor& color : frame.local_table) color.blue = static_cast<uint8_t>(color.blue ^ 0x55);
    }
    SCOPED_TRACE(c.name);
    ExpectImage(spec, Decode(spec));
  }
}

// With a minimum code size above 8, literal codes above 255 are possible;
// no colour table reaches them, so they are black, also inside a table
// entry's string and when the image is interlaced.
TEST(GifReader, LiteralsAboveTheLargestTableAreBlack) {
  const std::vector<TGifColor> palette = Palette(256);
  for (bool interlaced : {false, true}) {
    TGifSpec spec;
    spec.global_table = palette;
    TGifFrame frame;
    frame.width = 4;
    frame.height = 1;
    frame.interlaced = interlaced;
    frame.min_code_size = 9;  // clear 512, end 513, first entry 514, 10-bit codes
    // 300, 5, then entry 514 = 300 5.
    frame.raw_data = GifPackCodes({{512, 10}, {300, 10}, {5, 10}, {514, 10}, {513, 10}});
    spec.frames.push_back(frame);
    const TDrivenImage image = Decode(spec);
    SCOPED_TRACE(interlaced ? "interlaced" : "sequential");
    ASSERT_EQ(image.result, 0);
    ASSERT_EQ(image.rows_stored, 1u);
    const TGifColor c = palette[5];
    EXPECT_EQ(image.rgb, (std::vector<uint8_t>{0, 0, 0, c.red, c.green, c.blue, 0, 0, 0, c.red, c.green, c.blue}));
  }
}

// --- Transparency -------------------------------------------------------------

TEST(GifReader, TransparentIndexOfTheLastControlExtensionBeforeTheImage) {
  struct TCase {
    const char* name;
    std::vector<TGifExtension> extensions;
    bool has_transparent;
    int index;
  };
  TGifExtension short_block;  // two bytes: too short to hold an index
  short_block.label = 0xF9;
  short_block.blocks = {{0x01, 0x00}};
  TGifExtension no_blocks;  // the terminator at once: nothing after it is skipped
  no_blocks.label = 0xF9;
  const TCase cases[] = {
      {"none", {}, false, 0},
      {"one", {GifGraphicControl(5)}, true, 5},
      {"flag clear", {GifGraphicControl(-1)}, false, 0},
      {"last one wins", {GifGraphicControl(5), GifGraphicControl(9)}, true, 9},
      {"flag clear keeps the earlier index", {GifGraphicControl(7), GifGraphicControl(-1)}, true, 7},
      {"short block gives none", {short_block}, false, 0},
      {"no sub-blocks, then the image", {no_blocks}, false, 0},
      {"no sub-blocks after an index", {GifGraphicControl(4), no_blocks}, true, 4},
      {"index beyond the table is black", {GifGraphicControl(200)}, true, 200},
  };
  for (const TCase& c : cases) {
    TGifSpec spec = OneFrame(4, 4, 16, 4);
    spec.frames.front().extensions = c.extensions;
    const TDrivenImage image = Decode(spec);
    SCOPED_TRACE(c.name);
    ExpectImage(spec, image);
    ASSERT_EQ(image.has_transparent, c.has_transparent);
    if (!c.has_transparent) continue;
    const TGifColor color = c.index < 16 ? spec.global_table[c.index] : TGifColor{};
    EXPECT_EQ(image.transparent[0], color.red);
    EXPECT_EQ(image.transparent[1], color.green);
    EXPECT_EQ(image.transparent[2], color.blue);
  }
}

// --- Sealed files ---------------------------------------------------------------

TEST(GifReader, SealedFileReadsWithItsKeyOnly) {
  TGifSpec spec = OneFrame(120, 70, 256, 8);  // more than one 4096-byte buffer
  spec.frames.front().interlaced = true;
  const std::vector<uint8_t> sealed = SealWithKeyText(BuildGif(spec), "lantern");
  const TDrivenImage image = Decode(sealed, "lantern");
  ExpectImage(spec, image);
  EXPECT_TRUE(image.was_sealed);
  EXPECT_EQ(Decode(sealed).result, kLoadSealRejected);
  EXPECT_EQ(Decode(sealed, "lanterm").result, kLoadSealRejected);
}

// --- Broken headers ---------------------------------------------------------------

TEST(GifReader, RefusedHeaders) {
  auto with_code_size = [](int size) {
    TGifSpec spec = OneFrame(4, 4, 4, 2);
    spec.frames.front().min_code_size = size;
    return BuildGif(spec);
  };
  TGifSpec no_image;
  no_image.global_table = Palette(4);
  TGifSpec only_extension = no_image;
  only_extension.trailing_extensions.push_back(GifComment("nothing else"));
  TGifSpec stray = OneFrame(4, 4, 4, 2);
  stray.frames.front().stray_bytes = {0x00, 0x42};
  TGifSpec too_large = OneFrame(1, 1, 4, 2);
  too_large.frames.front().width = 65535;
  too_large.frames.front().height = 65535;
  TGifSpec just_over_cap = too_large;
  just_over_cap.frames.front().height = 5462;  // 65535 x 5462 x 3 bytes > 1 GiB

  struct TCase {
    const char* name;
    std::vector<uint8_t> bytes;
    int32_t result;
  };
  const TCase cases[] = {
      {"empty file", {}, kLoadPrematureEnd},
      {"not a GIF", {'G', 'I', 'X', '8', '9', 'a', 0, 0, 0, 0, 0, 0, 0}, kNotGif},
      {"three bytes", {'G', 'I', 'F'}, kNotGif},
      {"code size 0", with_code_size(0), kBadCodeSize},
      {"code size 1", with_code_size(1), kBadCodeSize},
      {"code size 12", with_code_size(12), kBadCodeSize},
      {"code size 143", with_code_size(143), kBadCodeSize},
      {"trailer before any image", BuildGif(no_image), kNoImage},
      {"extension, then the trailer", BuildGif(only_extension), kNoImage},
      // The image trace follows the stray-byte warning, so its code is the one left.
      {"stray bytes between blocks", BuildGif(stray), kImageTrace},
      {"65535 x 65535", BuildGif(too_large), kLoadNoPixelMemory},
      {"just over the pixel cap", BuildGif(just_over_cap), kLoadNoPixelMemory},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Decode(c.bytes).result, c.result);
  }
}

TEST(GifReader, ZeroWidthOrHeightIsAnEmptyImage) {
  for (bool interlaced : {false, true}) {
    for (auto [width, height] : {std::pair{0, 5}, std::pair{5, 0}, std::pair{0, 0}}) {
      TGifSpec spec = OneFrame(1, 1, 4, 2);
      spec.frames.front().width = static_cast<uint16_t>(width);
      spec.frames.front().height = static_cast<uint16_t>(height);
      spec.frames.front().interlaced = interlaced;
      spec.frames.front().indices.clear();
      EXPECT_EQ(Decode(spec).result, kLoadEmptyImage);
    }
  }
}

// An image just inside the pixel cap is accepted; nothing of its size is
// allocated but one row (and, when interlaced, the index array).
TEST(GifReader, ImageJustInsideThePixelCapIsAccepted) {
  TGifSpec spec = OneFrame(1, 1, 4, 2);
  spec.frames.front().width = 65535;
  spec.frames.front().height = 5461;
  const std::vector<uint8_t> bytes = BuildGif(spec);
  TJpegErrorManager manager;
  TReaderContext context;
  context.common.err = JpegErrorInit(&manager);
  FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::rewind(file);
  TImageSource* source = CreateGifSource(&context);
  ASSERT_NE(source, nullptr);
  source->reader.file = file;
  source->StartInput(&context, source);
  EXPECT_EQ(manager.pub.num_warnings, 0);
  EXPECT_EQ(context.image_width, 65535u);
  EXPECT_EQ(context.image_height, 5461u);
  // The data holds one pixel: the first row runs out of data.
  EXPECT_EQ(source->GetRows(&context, source), 1u);
  EXPECT_GT(manager.pub.num_warnings, 0);
  source->Destroy(source);
  std::fclose(file);
}

// Cut anywhere, a file gives a refusal with the code of the part it ends in,
// or, once the image data has begun, the rows complete before the end.
TEST(GifReader, TruncatedAtEveryByte) {
  for (bool interlaced : {false, true}) {
    TGifSpec spec = OneFrame(9, 8, 8, 3);
    spec.frames.front().interlaced = interlaced;
    spec.frames.front().local_table = Palette(4);
    spec.frames.front().extensions = {GifGraphicControl(1), GifComment("x")};
    const std::vector<uint8_t> whole = BuildGif(spec);
    const size_t global_end = 13 + 8 * 3;
    const size_t extensions_end = global_end + 8 + 5;
    const size_t descriptor_end = extensions_end + 10;
    const size_t local_end = descriptor_end + 4 * 3;
    const size_t data_start = local_end + 1;
    for (size_t length = 0; length < whole.size(); ++length) {
      const std::vector<uint8_t> cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
      const TDrivenImage image = Decode(cut);
      SCOPED_TRACE("interlaced " + std::to_string(interlaced) + ", length " + std::to_string(length));
      if (length == 0) {
        EXPECT_EQ(image.result, kLoadPrematureEnd);
      } else if (length < 6) {
        EXPECT_EQ(image.result, kNotGif);
      } else if (length < local_end) {
        EXPECT_EQ(image.result, kLoadPrematureEnd);
      } else if (length < data_start) {
        EXPECT_EQ(image.result, kBadCodeSize);  // the code size byte is missing
      } else {
        ASSERT_EQ(image.result, 0);
        // The last bytes may hold only the end code and the trailer.
        if (image.rows_stored < 8) {
          EXPECT_GT(image.warnings, 0);
        }
        if (interlaced) {
          EXPECT_TRUE(image.rows_stored == 0 || image.rows_stored == 8);
        }
        const std::vector<uint8_t> expected = GifExpectedRgb(spec);
        const size_t stored_bytes = static_cast<size_t>(image.rows_stored) * 9 * 3;
        EXPECT_TRUE(std::equal(image.rgb.begin(), image.rgb.begin() + static_cast<std::ptrdiff_t>(stored_bytes),
                               expected.begin()));
        for (size_t i = stored_bytes; i < image.rgb.size(); ++i) ASSERT_EQ(image.rgb[i], 0);
      }
    }
  }
}

// --- Broken image data ----------------------------------------------------------

struct TDataCase {
  const char* name;
  std::vector<std::pair<int, int>> codes;  // min code size 2: clear 4, end 5, 3-bit codes
  uint32_t rows_stored;                    // of a 2 x 3 image
  int warning;
};

void PrintTo(const TDataCase& c, std::ostream* os) { *os << c.name; }

class GifBadDataTest : public ::testing::TestWithParam<TDataCase> {};

// Broken LZW data stops the rows at the row it spoils; the rows before stay,
// the rest is black, and the load still succeeds.
TEST_P(GifBadDataTest, StopsAtTheSpoiledRow) {
  const TDataCase& c = GetParam();
  TGifSpec spec;
  spec.global_table = Palette(4);
  TGifFrame frame;
  frame.width = 2;
  frame.height = 3;
  frame.min_code_size = 2;
  frame.raw_data = GifPackCodes(c.codes);
  spec.frames.push_back(frame);
  const TDrivenImage image = Decode(spec);
  ASSERT_EQ(image.result, 0);
  EXPECT_EQ(image.rows_stored, c.rows_stored);
  EXPECT_EQ(image.last_code, c.warning);
  // Literal codes 1, 2, 3 give palette entries 1, 2, 3.
  const std::vector<TGifColor> palette = Palette(4);
  for (uint32_t row = 0; row < c.rows_stored; ++row) {
    EXPECT_EQ(image.rgb[row * 6], palette[1].red);
  }
  for (size_t i = c.rows_stored * 6u; i < image.rgb.size(); ++i) ASSERT_EQ(image.rgb[i], 0);

  // Interlaced, any fault spoils the whole image.
  spec.frames.front().interlaced = true;
  const TDrivenImage interlaced = Decode(spec);
  ASSERT_EQ(interlaced.result, 0);
  EXPECT_EQ(interlaced.rows_stored, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    LzwFaults, GifBadDataTest,
    ::testing::Values(
        // Pixels 1 1 | 1, and the table has grown to 4-bit codes with 8 the
        // next free code: 15 lies beyond it.
        TDataCase{"code above the next free code",
                  {{4, 3}, {1, 3}, {1, 3}, {1, 3}, {15, 4}, {5, 4}},
                  1, kBadLzw},
        TDataCase{"first code after a clear is not a literal", {{4, 3}, {6, 3}, {1, 3}}, 0, kBadLzw},
        TDataCase{"end code before the image is complete",
                  {{4, 3}, {1, 3}, {1, 3}, {1, 3}, {5, 4}},
                  1, kEarlyEnd},
        // Two full rows in exactly two bytes, then no more sub-blocks: the
        // fetch warns (224) and hands on the end code, which warns too.
        TDataCase{"data runs out without an end code",
                  {{4, 3}, {1, 3}, {1, 3}, {1, 3}, {1, 4}},
                  2, kEarlyEnd},
        // The first pixel finds no literal (221); the second finds no data.
        TDataCase{"nothing but clear codes",
                  {{4, 3}, {4, 3}, {4, 3}, {4, 3}, {4, 3}, {4, 3}, {4, 3}, {4, 3}},
                  0, kEarlyEnd}),
    [](const ::testing::TestParamInfo<TDataCase>& info) {
      std::string name = info.param.name;
      for (char& ch : name) {
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
      }
      return name;
    });

// Image data that ends one row early leaves the last row black.
TEST(GifReader, DataOneRowShortLeavesTheLastRowBlack) {
  TGifSpec spec = OneFrame(10, 6, 16, 4);
  spec.frames.front().indices.resize(50);
  const TDrivenImage image = Decode(spec);
  ExpectImage(spec, image);
  EXPECT_EQ(image.rows_stored, 5u);
}

// Clear codes anywhere reset the table; several in a row are allowed.
TEST(GifReader, ClearCodesInTheMiddle) {
  // min code size 2: clear 4, end 5. Pixels 1 2 | clear clear | 3 3 3 3, end.
  TGifSpec spec;
  spec.global_table = Palette(4);
  TGifFrame frame;
  frame.width = 2;
  frame.height = 3;
  frame.min_code_size = 2;
  // After 1, 2 the table holds 6 = (1 2); the decoder's next free code is 7.
  // Then clear resets to 3-bit codes; 3, then 6 (= 3 3, KwKwK), then 3.
  frame.raw_data = GifPackCodes({{4, 3}, {1, 3}, {2, 3}, {4, 3}, {4, 3}, {3, 3}, {6, 3}, {3, 3}, {5, 3}});
  frame.indices = {1, 2, 3, 3, 3, 3};
  spec.frames.push_back(frame);
  ExpectImage(spec, Decode(spec));
}

// --- Through the loading front end -------------------------------------------

struct TLoaded {
  int32_t result = 0;
  TMemBitmap bitmap;
};

void LoadGif(const std::vector<uint8_t>& bytes, const std::string& name, const char* key, TLoaded* out) {
  const std::string path = ::testing::TempDir() + "gif_reader_" + name + ".gif";
  ASSERT_TRUE(WriteFixtureBytes(path, bytes));
  out->result = LoadImageWithReader(path.c_str(), 0, 0, out->bitmap, kThumbnailLoadFlags, key, kReaderGif);
}

void ExpectBitmap(const TGifSpec& spec, const TMemBitmap& bitmap) {
  const TGifFrame& frame = spec.frames.front();
  ASSERT_EQ(bitmap.width, frame.width);
  ASSERT_EQ(bitmap.height, frame.height);
  const std::vector<uint8_t> expected = GifExpectedRgb(spec);
  for (int y = 0; y < frame.height; ++y) {
    for (int x = 0; x < frame.width; ++x) {
      const uint8_t* pixel = BitmapPixel(bitmap, x, y);  // blue, green, red
      const size_t i = (static_cast<size_t>(y) * frame.width + x) * 3;
      ASSERT_EQ(pixel[2], expected[i]) << x << "," << y;
      ASSERT_EQ(pixel[1], expected[i + 1]) << x << "," << y;
      ASSERT_EQ(pixel[0], expected[i + 2]) << x << "," << y;
    }
  }
}

// The loader stores the transparent colour (blue, green, red, 0) with the
// bitmap, and a sealed file loads with its key like the plain one.
TEST(GifReaderLoad, TransparencyAndSealedFilesReachTheBitmap) {
  TGifSpec spec = OneFrame(61, 37, 256, 8);
  spec.screen_width = 640;
  spec.screen_height = 480;
  spec.frames.front().interlaced = true;
  spec.frames.front().extensions = {GifGraphicControl(3)};
  const std::vector<uint8_t> plain = BuildGif(spec);
  TLoaded loaded;
  LoadGif(plain, "transparent", nullptr, &loaded);
  ASSERT_EQ(loaded.result, 0);
  ExpectBitmap(spec, loaded.bitmap);
  EXPECT_EQ(loaded.bitmap.has_transparent, 1);
  EXPECT_EQ(loaded.bitmap.transparent_color.red, spec.global_table[3].red);
  EXPECT_EQ(loaded.bitmap.transparent_color.green, spec.global_table[3].green);
  EXPECT_EQ(loaded.bitmap.transparent_color.blue, spec.global_table[3].blue);
  EXPECT_EQ(loaded.bitmap.transparent_color.reserved, 0);
  EXPECT_EQ(loaded.bitmap.was_sealed, 0);

  TLoaded sealed;
  LoadGif(SealWithKeyText(plain, "quill"), "sealed", "quill", &sealed);
  ASSERT_EQ(sealed.result, 0);
  ExpectBitmap(spec, sealed.bitmap);
  EXPECT_EQ(sealed.bitmap.was_sealed, 1);

  TLoaded no_key;
  LoadGif(SealWithKeyText(plain, "quill"), "sealed_no_key", nullptr, &no_key);
  EXPECT_EQ(no_key.result, kLoadSealRejected);
  EXPECT_EQ(no_key.bitmap.pixel_handle, nullptr);
}

// Faults in the image data still load: rows before the fault, black after.
TEST(GifReaderLoad, ShortDataLoadsWithBlackRows) {
  TGifSpec spec = OneFrame(10, 6, 16, 4);
  spec.frames.front().indices.resize(35);  // three rows and a half
  TLoaded loaded;
  LoadGif(BuildGif(spec), "short", nullptr, &loaded);
  ASSERT_EQ(loaded.result, 0);
  ExpectBitmap(spec, loaded.bitmap);

  TGifSpec stray = OneFrame(4, 4, 4, 2);
  stray.frames.front().stray_bytes = {0x7F};
  TLoaded refused;
  LoadGif(BuildGif(stray), "stray", nullptr, &refused);
  EXPECT_EQ(refused.result, kImageTrace);
  EXPECT_EQ(refused.bitmap.pixel_handle, nullptr);
}

}  // namespace
