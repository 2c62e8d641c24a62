// The reader path of the loading front end, driven by a small reader of a
// test format defined here, so row conversion, palettes, scaling and the
// failure handling are checked apart from the real readers; and the dispatch
// by extension.

#include "imagein/reader_pipeline.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "fixtures/bitmap_rgb.h"
#include "fixtures/bmp_writer.h"
#include "fixtures/fits_writer.h"
#include "fixtures/gif_writer.h"
#include "fixtures/jpeg_fixtures.h"
#include "fixtures/seal_writer.h"
#include "fixtures/tree_writer.h"
#include "imagein/load_codes.h"
#include "imagein/loader.h"
#include "imagein/palette.h"

namespace {

// The test format: "TST", the component count (1 or 3), width and height as
// little-endian 32-bit numbers, then the rows top first.
constexpr int kTestBadSignature = 77;
constexpr int kTestBadComponents = 78;

struct TTestSource : TImageSource {
  uint32_t rows_left = 0;
  uint32_t row_bytes = 0;
};

uint32_t Le32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

uint32_t TestRows(TReaderContext* context, TImageSource* source) {
  auto* test = static_cast<TTestSource*>(source);
  if (test->rows_left == 0) return 0;
  if (!SourceReadBytes(context, source, test->row_buffer, test->row_bytes)) return 0;
  --test->rows_left;
  return 1;
}

void TestStart(TReaderContext* context, TImageSource* source) {
  auto* test = static_cast<TTestSource*>(source);
  uint8_t header[12];
  if (!SourceReadBytes(context, source, header, sizeof(header))) return;
  if (std::memcmp(header, "TST", 3) != 0) {
    ReaderRaiseError(context, kTestBadSignature);
    return;
  }
  const int components = header[3];
  if (components != 1 && components != 3) {
    ReaderRaiseError(context, kTestBadComponents);
    return;
  }
  context->image_width = Le32(header + 4);
  context->image_height = Le32(header + 8);
  context->input_components = components;
  context->grayscale_input = components == 1;
  test->rows_left = context->image_height;
  test->row_bytes = context->image_width * static_cast<uint32_t>(components);
  if (test->row_bytes > 0) test->row_buffer = static_cast<uint8_t*>(std::malloc(test->row_bytes));
}

void TestFinish(TReaderContext*, TImageSource*) {}

void TestDestroy(TImageSource* source) {
  auto* test = static_cast<TTestSource*>(source);
  std::free(test->row_buffer);
  SourceRelease(test);
  delete test;
}

TImageSource* CreateTestSource(TReaderContext*) {
  auto* test = new (std::nothrow) TTestSource;
  if (test == nullptr) return nullptr;
  test->StartInput = TestStart;
  test->GetRows = TestRows;
  test->FinishInput = TestFinish;
  test->Destroy = TestDestroy;
  if (!SourceInit(test)) {
    delete test;
    return nullptr;
  }
  return test;
}

struct TRgb {
  uint8_t r, g, b;
};
using TPixelFn = std::function<TRgb(uint32_t x, uint32_t y)>;

// The file's bytes; `rows` cuts the pixel data short.
std::vector<uint8_t> TestImageBytes(int components, uint32_t width, uint32_t height,
                                    const TPixelFn& pixel, uint32_t rows = UINT32_MAX) {
  std::vector<uint8_t> bytes = {'T', 'S', 'T', static_cast<uint8_t>(components)};
  for (uint32_t v : {width, height})
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
  for (uint32_t y = 0; y < height && y < rows; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      const TRgb c = pixel(x, y);
      if (components == 1) {
        bytes.push_back(c.r);
      } else {
        bytes.insert(bytes.end(), {c.r, c.g, c.b});
      }
    }
  }
  return bytes;
}

std::vector<uint8_t> ExpectedRgb(uint32_t width, uint32_t height, const TPixelFn& pixel,
                                 bool grey_source = false) {
  std::vector<uint8_t> rgb;
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      const TRgb c = pixel(x, y);
      if (grey_source) {
        rgb.insert(rgb.end(), {c.r, c.r, c.r});
      } else {
        rgb.insert(rgb.end(), {c.r, c.g, c.b});
      }
    }
  }
  return rgb;
}

TRgb Distinct(uint32_t x, uint32_t y) {
  return {static_cast<uint8_t>(x * 40 + 3), static_cast<uint8_t>(y * 70 + 5),
          static_cast<uint8_t>(x * y + 9)};
}

// Pixel (x, y) encodes its own position, so a reduced image tells which
// source pixel each output pixel came from.
TRgb Position(uint32_t x, uint32_t y) {
  return {static_cast<uint8_t>(x & 0xFF), static_cast<uint8_t>(y & 0xFF),
          static_cast<uint8_t>((x >> 8) << 4 | (y >> 8))};
}

class ReaderPipelineTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
    const std::string path = dir_.Join(name);
    EXPECT_TRUE(WriteBytesFile(path, bytes));
    return path;
  }
  int32_t Load(const std::string& path, TMemBitmap& bitmap, int32_t flags,
               int32_t request_width = 120, int32_t request_height = 80, const char* key = nullptr) {
    return LoadImageWithSource(path.c_str(), request_width, request_height, bitmap, flags, key,
                               CreateTestSource, false);
  }
  // The palette index bytes of a one-row 8-bit bitmap.
  static const uint8_t* IndexRow(const TMemBitmap& bitmap) { return bitmap.pixels; }

  TScratchDir dir_{"vellumcast-reader"};
};

TEST_F(ReaderPipelineTest, ColourRowsArriveUnchanged) {
  const std::string path = Write("a.tst", TestImageBytes(3, 5, 3, Distinct));
  TMemBitmap bitmap;
  ASSERT_EQ(Load(path, bitmap, kThumbnailLoadFlags), kLoadOk);
  EXPECT_EQ(bitmap.width, 5);
  EXPECT_EQ(bitmap.height, 3);
  EXPECT_EQ(bitmap.full_width, 5u);
  EXPECT_EQ(bitmap.full_height, 3u);
  EXPECT_EQ(bitmap.scale_num, 1u);
  EXPECT_EQ(bitmap.scale_denom, 1u);
  EXPECT_EQ(bitmap.header.biBitCount, 24);
  EXPECT_EQ(bitmap.requested_width, 120);
  EXPECT_EQ(bitmap.load_flags, kThumbnailLoadFlags);
  EXPECT_STREQ(bitmap.name, path.c_str());
  EXPECT_EQ(bitmap.was_sealed, 0);
  EXPECT_EQ(BitmapToRgb(bitmap), ExpectedRgb(5, 3, Distinct));
}

TEST_F(ReaderPipelineTest, OneComponentSourceGivesEqualChannels) {
  const std::string path = Write("g.tst", TestImageBytes(1, 4, 2, Distinct));
  TMemBitmap bitmap;
  ASSERT_EQ(Load(path, bitmap, kThumbnailLoadFlags), kLoadOk);
  EXPECT_EQ(BitmapToRgb(bitmap), ExpectedRgb(4, 2, Distinct, true));
}

TEST_F(ReaderPipelineTest, GreyLevelIsScaledLengthOfTheColour) {
  const struct {
    TRgb colour;
    uint8_t grey;
  } cases[] = {
      {{0, 0, 0}, 0},       {{255, 255, 255}, 242}, {{255, 0, 0}, 140}, {{0, 0, 255}, 140},
      {{10, 20, 30}, 20},   {{100, 100, 100}, 95},  {{0, 0, 1}, 0},     {{3, 4, 0}, 2},
  };
  const uint32_t n = sizeof(cases) / sizeof(cases[0]);
  const TPixelFn pixel = [&](uint32_t x, uint32_t) { return cases[x].colour; };
  const std::string path = Write("grey.tst", TestImageBytes(3, n, 1, pixel));
  for (int32_t flags : {LF_GRAYSCALE | LF_NO_QUANTIZE, LF_GRAYSCALE | LF_QUANTIZE}) {
    SCOPED_TRACE(flags);
    TMemBitmap bitmap;
    ASSERT_EQ(Load(path, bitmap, flags), kLoadOk);
    EXPECT_EQ(bitmap.header.biBitCount, (flags & LF_QUANTIZE) != 0 ? 8 : 24);
    const std::vector<uint8_t> rgb = BitmapToRgb(bitmap);
    ASSERT_EQ(rgb.size(), size_t{n} * 3);
    for (uint32_t i = 0; i < n; ++i) {
      EXPECT_EQ(rgb[3 * i], cases[i].grey) << i;
      EXPECT_EQ(rgb[3 * i + 1], cases[i].grey) << i;
      EXPECT_EQ(rgb[3 * i + 2], cases[i].grey) << i;
    }
  }
}

TEST_F(ReaderPipelineTest, PaletteFillsWithColoursInReadingOrder) {
  const TRgb colours[] = {{9, 8, 7}, {1, 2, 3}, {9, 8, 7}, {200, 100, 50}, {1, 2, 3}};
  const TPixelFn pixel = [&](uint32_t x, uint32_t) { return colours[x]; };
  const std::string path = Write("p.tst", TestImageBytes(3, 5, 1, pixel));
  TMemBitmap bitmap;
  ASSERT_EQ(Load(path, bitmap, LF_QUANTIZE), kLoadOk);
  ASSERT_EQ(bitmap.header.biBitCount, 8);
  EXPECT_EQ(bitmap.header.biClrUsed, 256u);
  const uint8_t expected_indices[] = {0, 1, 0, 2, 1};
  EXPECT_EQ(std::memcmp(IndexRow(bitmap), expected_indices, 5), 0);
  EXPECT_EQ(bitmap.colors[2].red, 200);
  EXPECT_EQ(bitmap.colors[2].green, 100);
  EXPECT_EQ(bitmap.colors[2].blue, 50);
  EXPECT_EQ(BitmapToRgb(bitmap), ExpectedRgb(5, 1, pixel));
}

// 256 distinct colours fill the palette; later colours take the nearest
// entry, the lower index on a tie.
TEST_F(ReaderPipelineTest, FullPaletteMapsToTheNearestEntry) {
  const TPixelFn pixel = [](uint32_t x, uint32_t) -> TRgb {
    if (x < 256) return {static_cast<uint8_t>(2 * (x & 127)), static_cast<uint8_t>(x >> 7), 0};
    if (x == 256) return {5, 0, 0};  // (4,0,0) at 2 and (6,0,0) at 3 are equally near
    if (x == 257) return {5, 1, 0};  // (4,1,0) at 130 and (6,1,0) at 131
    return {255, 255, 255};          // nearest: (254,1,0) at 255
  };
  const std::string path = Write("full.tst", TestImageBytes(3, 259, 1, pixel));
  TMemBitmap bitmap;
  ASSERT_EQ(Load(path, bitmap, LF_QUANTIZE), kLoadOk);
  const uint8_t* row = IndexRow(bitmap);
  for (int i = 0; i < 256; ++i) ASSERT_EQ(row[i], i);
  EXPECT_EQ(row[256], 2);
  EXPECT_EQ(row[257], 130);
  EXPECT_EQ(row[258], 255);
}

TEST(PaletteMapper, CacheKeepsMappingsPastItsSize) {
  uint8_t rows[3][256] = {};
  uint8_t* colormap[3] = {rows[0], rows[1], rows[2]};
  int count = 0;
  TPaletteMapper mapper;
  mapper.colormap = colormap;
  mapper.count = &count;
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < 300; ++i) {
      const uint8_t index = MapPaletteColor(mapper, static_cast<uint8_t>(i % 256),
                                            static_cast<uint8_t>(i / 256), 0);
      if (i < 256) {
        ASSERT_EQ(index, i) << "round " << round;
      }
    }
  }
  EXPECT_EQ(count, 256);
  EXPECT_EQ(mapper.cache_count, 256);
}

TEST_F(ReaderPipelineTest, PresetCubeAndSnapping) {
  const TRgb colours[] = {{0x20, 0x40, 0x80}, {0xE0, 0xE0, 0xC0}, {37, 200, 13}};
  const TPixelFn pixel = [&](uint32_t x, uint32_t) { return colours[x]; };
  const std::string path = Write("cube.tst", TestImageBytes(3, 3, 1, pixel));
  TMemBitmap bitmap;
  ASSERT_EQ(Load(path, bitmap, LF_QUANTIZE | LF_COLORMAP), kLoadOk);
  const uint8_t* row = IndexRow(bitmap);
  EXPECT_EQ(row[0], 0x2A);
  EXPECT_EQ(row[1], 0xFF);
  for (int i = 0; i < 256; ++i) {
    uint8_t r, g, b;
    CubeColor(i, &r, &g, &b);
    ASSERT_EQ(bitmap.colors[i].red, r);
    ASSERT_EQ(bitmap.colors[i].green, g);
    ASSERT_EQ(bitmap.colors[i].blue, b);
  }
  // The colour off the cube takes its nearest cube entry: (32, 192, 0).
  EXPECT_EQ(bitmap.colors[row[2]].red, 32);
  EXPECT_EQ(bitmap.colors[row[2]].green, 192);
  EXPECT_EQ(bitmap.colors[row[2]].blue, 0);

  // Snapping turns each colour met into its nearest cube colour.
  ASSERT_EQ(Load(path, bitmap, LF_QUANTIZE | LF_SNAP_PALETTE), kLoadOk);
  EXPECT_EQ(bitmap.header.biBitCount, 8);
  const std::vector<uint8_t> rgb = BitmapToRgb(bitmap);
  const uint8_t expected[] = {0x20, 0x40, 0x80, 0xE0, 0xE0, 0xC0, 32, 192, 0};
  EXPECT_EQ(std::vector<uint8_t>(rgb.begin(), rgb.end()), std::vector<uint8_t>(expected, expected + 9));

  // Snapping has nothing to do for colour or grey output.
  ASSERT_EQ(Load(path, bitmap, LF_SNAP_PALETTE | LF_NO_QUANTIZE), kLoadOk);
  EXPECT_EQ(BitmapToRgb(bitmap), ExpectedRgb(3, 1, pixel));
}

TEST_F(ReaderPipelineTest, FixedPalettePresetHoldsNoColours) {
  const TRgb colours[] = {{1, 2, 3}, {4, 5, 6}};
  const TPixelFn pixel = [&](uint32_t x, uint32_t) { return colours[x]; };
  const std::string path = Write("fixed.tst", TestImageBytes(3, 2, 1, pixel));
  TMemBitmap bitmap;
  ASSERT_EQ(Load(path, bitmap, LF_QUANTIZE | LF_COLORMAP | LF_FIXED_PALETTE), kLoadOk);
  EXPECT_EQ(IndexRow(bitmap)[0], 0);
  EXPECT_EQ(IndexRow(bitmap)[1], 1);
  EXPECT_EQ(BitmapToRgb(bitmap), ExpectedRgb(2, 1, pixel));
}

TEST_F(ReaderPipelineTest, ReductionWhileReading) {
  const std::string path = Write("big.tst", TestImageBytes(3, 1600, 1200, Position));
  const struct {
    int32_t flags;
    int32_t request_width;
    int32_t request_height;
    int32_t width;
    int32_t height;
    uint32_t denom;
  } cases[] = {
      {LF_SCALE, 120, 80, 200, 150, 8},
      {LF_SCALE | LF_SCALE_BACK, 120, 80, 400, 300, 4},
      {LF_SCALE, 800, 600, 800, 600, 2},
      {LF_SCALE, 1600, 1200, 1600, 1200, 1},
      {LF_SCALE | LF_SCALE_BACK, 1600, 1200, 1600, 1200, 1},
      {kThumbnailLoadFlags, 120, 80, 1600, 1200, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "flags " << c.flags << " request " << c.request_width);
    TMemBitmap bitmap;
    ASSERT_EQ(Load(path, bitmap, c.flags | LF_NO_QUANTIZE, c.request_width, c.request_height), kLoadOk);
    ASSERT_EQ(bitmap.width, c.width);
    ASSERT_EQ(bitmap.height, c.height);
    EXPECT_EQ(bitmap.scale_denom, c.denom);
    EXPECT_EQ(bitmap.full_width, 1600u);
    EXPECT_EQ(bitmap.full_height, 1200u);
    const std::vector<uint8_t> rgb = BitmapToRgb(bitmap);
    const uint32_t d = c.denom;
    for (int32_t y : {0, c.height / 2, c.height - 1}) {
      for (int32_t x : {0, 1, c.width / 3, c.width - 1}) {
        const TRgb want = Position(d * static_cast<uint32_t>(x), d * static_cast<uint32_t>(y));
        const uint8_t* got = &rgb[(static_cast<size_t>(y) * c.width + x) * 3];
        ASSERT_EQ(got[0], want.r) << x << "," << y;
        ASSERT_EQ(got[1], want.g) << x << "," << y;
        ASSERT_EQ(got[2], want.b) << x << "," << y;
      }
    }
  }
}

TEST_F(ReaderPipelineTest, ReductionNeverTakesASideBelowOnePixel) {
  const std::string path = Write("small.tst", TestImageBytes(3, 5, 3, Distinct));
  TMemBitmap bitmap;
  ASSERT_EQ(Load(path, bitmap, LF_SCALE | LF_NO_QUANTIZE, 1, 1), kLoadOk);
  EXPECT_EQ(bitmap.scale_denom, 2u);
  EXPECT_EQ(bitmap.width, 2);
  EXPECT_EQ(bitmap.height, 1);
}

TEST_F(ReaderPipelineTest, RowsAfterTheDataEndsStayBlack) {
  const TPixelFn white = [](uint32_t, uint32_t) { return TRgb{255, 255, 255}; };
  const std::string whole = Write("whole.tst", TestImageBytes(3, 6, 4, white));
  const std::string cut = Write("cut.tst", TestImageBytes(3, 6, 4, Distinct, 2));
  TMemBitmap bitmap;
  ASSERT_EQ(Load(whole, bitmap, kThumbnailLoadFlags), kLoadOk);
  // The same bitmap again: nothing of the white image may show through.
  ASSERT_EQ(Load(cut, bitmap, kThumbnailLoadFlags), kLoadOk);
  ASSERT_EQ(bitmap.width, 6);
  ASSERT_EQ(bitmap.height, 4);
  std::vector<uint8_t> expected = ExpectedRgb(6, 2, Distinct);
  expected.resize(6 * 4 * 3, 0);
  EXPECT_EQ(BitmapToRgb(bitmap), expected);
}

TEST_F(ReaderPipelineTest, HeaderFailures) {
  const TPixelFn any = Distinct;
  std::vector<uint8_t> bad_signature = TestImageBytes(3, 2, 2, any);
  bad_signature[0] = 'X';
  std::vector<uint8_t> short_header = TestImageBytes(3, 2, 2, any);
  short_header.resize(7);
  const struct {
    const char* what;
    std::vector<uint8_t> bytes;
    int32_t code;
  } cases[] = {
      {"signature", bad_signature, kTestBadSignature},
      {"components", TestImageBytes(4, 2, 2, any), kTestBadComponents},
      {"header cut short", short_header, kLoadPrematureEnd},
      {"empty file", {}, kLoadPrematureEnd},
      {"zero width", TestImageBytes(3, 0, 5, any), kLoadEmptyImage},
      {"zero height", TestImageBytes(3, 5, 0, any), kLoadEmptyImage},
      {"over the pixel cap", TestImageBytes(3, 40000, 40000, any, 0), kLoadNoPixelMemory},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = Write("bad.tst", c.bytes);
    TMemBitmap bitmap;
    EXPECT_EQ(Load(path, bitmap, kThumbnailLoadFlags), c.code);
    EXPECT_EQ(bitmap.width, 0);
    EXPECT_EQ(bitmap.height, 0);
    EXPECT_EQ(bitmap.pixels, nullptr);
    EXPECT_STREQ(bitmap.name, path.c_str());
  }
}

TEST_F(ReaderPipelineTest, FilesThatCannotBeRead) {
  TMemBitmap bitmap;
  EXPECT_EQ(Load(dir_.Join("missing.tst"), bitmap, kThumbnailLoadFlags), kLoadCannotOpen);
  EXPECT_EQ(Load(dir_.path(), bitmap, kThumbnailLoadFlags), kLoadCannotOpen);
  const std::string path = Write("a.gif", TestImageBytes(3, 2, 2, Distinct));
  EXPECT_EQ(LoadImageWithReader(path.c_str(), 0, 0, bitmap, kThumbnailLoadFlags, nullptr, 9),
            kLoadCannotOpen);
  EXPECT_EQ(bitmap.pixels, nullptr);
}

TEST_F(ReaderPipelineTest, SealedFileReadsWithItsKey) {
  const std::vector<uint8_t> plain = TestImageBytes(3, 7, 5, Distinct);
  TFileKeySeal seal = FileKeySeal("file key");
  const std::string key_text = Write("k.tst", SealWithKeyText(plain, "abc"));
  const std::string file_key = Write("f.tst", SealWithFileKey(plain, "abc", seal));
  for (const std::string& path : {key_text, file_key}) {
    TMemBitmap bitmap;
    ASSERT_EQ(Load(path, bitmap, kThumbnailLoadFlags, 0, 0, "abc"), kLoadOk);
    EXPECT_EQ(bitmap.was_sealed, 1);
    EXPECT_EQ(BitmapToRgb(bitmap), ExpectedRgb(7, 5, Distinct));
    for (const char* key : {static_cast<const char*>(nullptr), "", "abd"}) {
      EXPECT_EQ(Load(path, bitmap, kThumbnailLoadFlags, 0, 0, key), kLoadSealRejected);
      EXPECT_EQ(bitmap.pixels, nullptr);
    }
  }
}

// Dispatch by extension through the real readers and the JPEG adapter.
class DispatchTest : public ReaderPipelineTest {};

TEST_F(DispatchTest, ChoosesTheDecoderByExtension) {
  TBmpSpec bmp;
  bmp.width = 3;
  bmp.height = 2;
  bmp.pixels = std::vector<uint8_t>(18, 0x80);
  const std::vector<uint8_t> bmp_bytes = BuildBmp(bmp);
  const std::vector<uint8_t> jpeg_bytes = EncodeJpeg(MakeGradientImage(9, 7));
  TGifSpec gif;
  TGifFrame frame;
  frame.width = 4;
  frame.height = 3;
  frame.indices = std::vector<uint8_t>(12, 1);
  gif.global_table = {{0, 0, 0}, {10, 20, 30}};
  gif.frames = {frame};
  const std::vector<uint8_t> gif_bytes = BuildGif(gif);
  TFitsSpec fits;
  fits.bitpix = "8";
  fits.width = 5;
  fits.height = 4;
  fits.samples = std::vector<int64_t>(20, 7);
  const std::vector<uint8_t> fits_bytes = BuildFits(fits);

  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
    bool loads;
    int32_t width;
  } cases[] = {
      {"photo.JPG", jpeg_bytes, true, 9},
      {"photo.jpeg", jpeg_bytes, true, 9},
      {"photo.jfif", jpeg_bytes, true, 9},
      {"photo.JPE", jpeg_bytes, true, 9},
      {"photo.xyz", jpeg_bytes, true, 9},  // every unknown extension goes to the JPEG adapter
      {"photo.png", jpeg_bytes, false, 0},  // a PNG name goes to the PNG reader
      {"photo.webp", jpeg_bytes, false, 0},
      {"photo.heic", jpeg_bytes, false, 0},
      {"photo.TIFF", jpeg_bytes, false, 0},
      {"photo.txt", {'h', 'e', 'l', 'l', 'o'}, false, 0},
      {"photo.png.gif", gif_bytes, true, 4},
      {"con.gif", gif_bytes, true, 4},  // no reserved names here
      {"photo.Bmp", bmp_bytes, true, 3},
      {"jpeg.bmp", jpeg_bytes, false, 0},  // a BMP name goes to the BMP reader
      {"sky.fts", fits_bytes, true, 5},
      {"sky.fits", fits_bytes, true, 5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = Write(c.name, c.bytes);
    TMemBitmap bitmap;
    const int32_t result = LoadImageByExtension(path.c_str(), 120, 80, bitmap, kThumbnailLoadFlags, nullptr);
    if (c.loads) {
      EXPECT_EQ(result, kLoadOk);
      EXPECT_EQ(bitmap.width, c.width);
    } else {
      EXPECT_NE(result, kLoadOk);
      EXPECT_EQ(bitmap.pixels, nullptr);
    }
  }
}

TEST_F(DispatchTest, ZeroByteBmpEndsPrematurely) {
  const std::string path = Write("empty.bmp", {});
  TMemBitmap bitmap;
  EXPECT_EQ(LoadImageByExtension(path.c_str(), 120, 80, bitmap, kThumbnailLoadFlags, nullptr),
            kLoadPrematureEnd);
}

TEST_F(DispatchTest, RefusesWhatIsNoRegularFile) {
  const std::string fifo = dir_.Join("pipe.gif");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_TRUE(MakeDirs(dir_.Join("folder.jpg")));
  TMemBitmap bitmap;
  EXPECT_EQ(LoadImageByExtension(fifo.c_str(), 120, 80, bitmap, kThumbnailLoadFlags, nullptr), kLoadCannotOpen);
  EXPECT_EQ(LoadImageByExtension(dir_.Join("folder.jpg").c_str(), 120, 80, bitmap, kThumbnailLoadFlags, nullptr),
            kLoadCannotOpen);
  EXPECT_EQ(LoadImageByExtension(dir_.Join("missing.gif").c_str(), 120, 80, bitmap, kThumbnailLoadFlags, nullptr),
            kLoadCannotOpen);
  EXPECT_EQ(bitmap.width, 0);
}

TEST_F(DispatchTest, LongPathsAreRefusedNotCut) {
  // A file whose path is exactly 255 characters loads; one of 256 is refused
  // before anything is opened.
  const std::string base = dir_.path() + "/";
  const std::string ok = base + std::string(255 - base.size() - 4, 'a') + ".gif";
  const std::string too_long = base + std::string(256 - base.size() - 4, 'b') + ".gif";
  ASSERT_EQ(ok.size(), 255u);
  ASSERT_EQ(too_long.size(), 256u);
  TGifSpec gif;
  TGifFrame frame;
  frame.width = 2;
  frame.height = 2;
  frame.indices = {0, 1, 1, 0};
  gif.global_table = {{0, 0, 0}, {255, 255, 255}};
  gif.frames = {frame};
  ASSERT_TRUE(WriteBytesFile(ok, BuildGif(gif)));
  TMemBitmap bitmap;
  EXPECT_EQ(LoadImageByExtension(ok.c_str(), 120, 80, bitmap, kThumbnailLoadFlags, nullptr), kLoadOk);
  EXPECT_STREQ(bitmap.name, ok.c_str());
  EXPECT_EQ(LoadImageByExtension(too_long.c_str(), 120, 80, bitmap, kThumbnailLoadFlags, nullptr),
            kLoadPathTooLong);
  EXPECT_EQ(bitmap.width, 0);
}

TEST_F(DispatchTest, GifTransparentColourTravelsWithTheBitmap) {
  TGifSpec gif;
  TGifFrame frame;
  frame.width = 2;
  frame.height = 2;
  frame.indices = {0, 1, 1, 0};
  frame.extensions = {GifGraphicControl(1)};
  gif.global_table = {{0, 0, 0}, {10, 20, 30}};
  gif.frames = {frame};
  const std::string path = Write("t.gif", BuildGif(gif));
  TMemBitmap bitmap;
  ASSERT_EQ(LoadImageByExtension(path.c_str(), 120, 80, bitmap, kThumbnailLoadFlags, nullptr), kLoadOk);
  EXPECT_EQ(bitmap.has_transparent, 1);
  EXPECT_EQ(bitmap.transparent_color.blue, 30);
  EXPECT_EQ(bitmap.transparent_color.green, 20);
  EXPECT_EQ(bitmap.transparent_color.red, 10);
  EXPECT_EQ(bitmap.transparent_color.reserved, 0);
}

}  // namespace
