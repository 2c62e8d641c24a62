// The PNG, WebP and TIFF row stream: the rows it hands over are the rows a
// full load stores, a TIFF file damaged mid-image gives the rows before the
// damage, a WebP still comes at the size asked for, and a large image goes
// through with the memory of a few rows.

#include "imagein/reader_row_stream.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <tiffio.h>
#include <unistd.h>
#include <webp/encode.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fixtures/child_run.h"
#include "fixtures/jpeg_fixtures.h"
#include "fixtures/png_tiff_writers.h"
#include "fixtures/tree_writer.h"
#include "imagein/format_codes.h"
#include "imagein/load_codes.h"
#include "imagein/loader.h"
#include "raster/membitmap.h"
#include "raster/resample.h"

namespace {

// The decoded rows, RGB, top first; `wanted` sides are asked for (0: full size).
struct TStreamed {
  TReaderStreamOutcome outcome;
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> rgb;
  int32_t wanted_width = 0;
  int32_t wanted_height = 0;
  bool rows_in_order = true;
};

TStreamed Stream(const std::string& path, uint8_t background, int32_t wanted_width = 0, int32_t wanted_height = 0,
                 bool keep = true) {
  TStreamed s;
  s.wanted_width = wanted_width;
  s.wanted_height = wanted_height;
  struct TContext {
    TStreamed* s;
    bool keep;
    int32_t next;
  } context{&s, keep, 0};
  TJpegRowSink sink;
  sink.context = &context;
  sink.plan = [](void* c, const TJpegStreamHeader&, int32_t* w, int32_t* h) {
    auto* s = static_cast<TContext*>(c)->s;
    if (s->wanted_width > 0) {
      *w = s->wanted_width;
      *h = s->wanted_height;
    }
    return true;
  };
  sink.start = [](void* c, int32_t w, int32_t h) {
    auto* context = static_cast<TContext*>(c);
    context->s->width = w;
    context->s->height = h;
    if (context->keep) context->s->rgb.reserve(size_t(w) * h * 3);
    return true;
  };
  sink.row = [](void* c, int32_t y, const uint8_t* rgb) {
    auto* context = static_cast<TContext*>(c);
    if (y != context->next++) context->s->rows_in_order = false;
    if (context->keep) context->s->rgb.insert(context->s->rgb.end(), rgb, rgb + size_t(context->s->width) * 3);
  };
  s.outcome = ReaderStreamRows(path.c_str(), ReaderKindOf(path.c_str()), background, sink);
  return s;
}

// A full load's rows as RGB, top first.
std::vector<uint8_t> LoadedRgb(const std::string& path, int32_t flags, int32_t* result) {
  TMemBitmap bitmap;
  *result = LoadImageByExtension(path.c_str(), 120, 80, bitmap, flags, nullptr);
  std::vector<uint8_t> rgb;
  for (int32_t y = 0; bitmap.pixels != nullptr && y < bitmap.height; ++y) {
    const uint8_t* row = BitmapPixel(bitmap, 0, y);
    for (int32_t x = 0; x < bitmap.width; ++x) rgb.insert(rgb.end(), {row[3 * x + 2], row[3 * x + 1], row[3 * x]});
  }
  return rgb;
}

std::string CorpusFile(const char* name) { return std::string(VELLUMCAST_SOURCE_DIR) + "/tests/corpus/" + name; }

class ReaderRowStreamTest : public ::testing::Test {
 protected:
  std::string Png(const char* name, int32_t w, int32_t h, const TTestPngOptions& options) {
    const std::string path = dir_.Join(name);
    TRgbaImage reference;
    EXPECT_TRUE(WriteTestPng(path, w, h, GradientRgbaPixels(w, h), options, &reference));
    return path;
  }
  std::string Tiff(const char* name, int32_t w, int32_t h, const TTestTiffOptions& options) {
    const std::string path = dir_.Join(name);
    TRgbaImage reference;
    EXPECT_TRUE(WriteTestTiff(path, w, h, GradientRgbaPixels(w, h), options, &reference));
    return path;
  }
  TScratchDir dir_{"vc-row-stream"};
};

TEST_F(ReaderRowStreamTest, RowsAreTheRowsAFullLoadStores) {
  TTestPngOptions rgba;
  rgba.colour = TTestPngColour::kRgba;
  TTestPngOptions grey16;
  grey16.colour = TTestPngColour::kGrey;
  grey16.bit_depth = 16;
  TTestPngOptions interlaced;
  interlaced.interlaced = true;
  TTestTiffOptions strips;
  strips.rows_per_strip = 5;
  TTestTiffOptions tiles_rgba;
  tiles_rgba.layout = TTestTiffLayout::kRgba;
  tiles_rgba.tile_size = 16;
  tiles_rgba.compression = 5;
  TTestTiffOptions cmyk;
  cmyk.layout = TTestTiffLayout::kCmyk;
  cmyk.compression = 8;
  TTestTiffOptions one_strip;
  one_strip.rows_per_strip = 1000;
  const std::vector<std::string> files = {
      Png("rgba.png", 61, 43, rgba),
      Png("grey16.png", 40, 33, grey16),
      Png("interlaced.png", 37, 29, interlaced),
      Tiff("strips.tif", 53, 41, strips),
      Tiff("tiles.tif", 50, 35, tiles_rgba),
      Tiff("cmyk.tif", 31, 22, cmyk),
      Tiff("one_strip.tif", 29, 40, one_strip),
      CorpusFile("webp/lossy.webp"),
      CorpusFile("webp/alpha_lossy.webp"),
      CorpusFile("webp/lossless.webp"),
      CorpusFile("tiff/rgb8_tiles_lzw.tif"),
  };
  for (const std::string& path : files) {
    for (const uint8_t background : {uint8_t{0}, uint8_t{255}}) {
      SCOPED_TRACE(path + (background != 0 ? " over white" : " over black"));
      int32_t result = -1;
      const std::vector<uint8_t> loaded =
          LoadedRgb(path, kThumbnailLoadFlags | (background != 0 ? LF_ALPHA_OVER_WHITE : 0), &result);
      ASSERT_EQ(result, kLoadOk);
      const TStreamed streamed = Stream(path, background);
      EXPECT_EQ(streamed.outcome.result, TJpegStreamResult::kDone);
      EXPECT_TRUE(streamed.rows_in_order);
      EXPECT_EQ(streamed.outcome.rows_read, static_cast<uint32_t>(streamed.height));
      EXPECT_TRUE(streamed.rgb == loaded);
      // A sink that takes every seventh row gets just those, the same bytes.
      struct TEvery {
        const std::vector<uint8_t>* loaded;
        size_t row_bytes;
        std::vector<int32_t> seen;
        bool same = true;
      } every{&loaded, size_t(streamed.width) * 3, {}, true};
      TJpegRowSink sink;
      sink.context = &every;
      sink.plan = [](void*, const TJpegStreamHeader&, int32_t*, int32_t*) { return true; };
      sink.start = [](void*, int32_t, int32_t) { return true; };
      sink.next_wanted = [](void*, int32_t y) { return (y + 6) / 7 * 7; };
      sink.row = [](void* c, int32_t y, const uint8_t* rgb) {
        auto* e = static_cast<TEvery*>(c);
        e->seen.push_back(y);
        e->same = e->same && std::equal(rgb, rgb + e->row_bytes, e->loaded->begin() + e->row_bytes * size_t(y));
      };
      EXPECT_EQ(ReaderStreamRows(path.c_str(), ReaderKindOf(path.c_str()), background, sink).result,
                TJpegStreamResult::kDone);
      std::vector<int32_t> sevenths;
      for (int32_t y = 0; y < streamed.height; y += 7) sevenths.push_back(y);
      EXPECT_EQ(every.seen, sevenths);
      EXPECT_TRUE(every.same);
    }
  }
}

// Deflate-coded strips of 4 rows, the bytes of strip `damaged` overwritten.
std::string DamagedTiff(const TScratchDir& dir, const char* name, uint32_t damaged) {
  const std::string path = dir.Join(name);
  TTestTiffOptions options;
  options.compression = 8;
  options.rows_per_strip = 4;
  TRgbaImage reference;
  EXPECT_TRUE(WriteTestTiff(path, 30, 40, GradientRgbaPixels(30, 40), options, &reference));
  TIFF* tiff = TIFFOpen(path.c_str(), "r");
  EXPECT_NE(tiff, nullptr);
  uint64_t* offsets = nullptr;
  uint64_t* counts = nullptr;
  EXPECT_EQ(TIFFGetField(tiff, TIFFTAG_STRIPOFFSETS, &offsets), 1);
  EXPECT_EQ(TIFFGetField(tiff, TIFFTAG_STRIPBYTECOUNTS, &counts), 1);
  const uint64_t at = offsets[damaged];
  const uint64_t count = counts[damaged];
  TIFFClose(tiff);
  std::FILE* file = std::fopen(path.c_str(), "r+b");
  EXPECT_NE(file, nullptr);
  std::fseek(file, static_cast<long>(at), SEEK_SET);
  for (uint64_t i = 0; i < count; ++i) std::fputc(0xA5, file);
  std::fclose(file);
  return path;
}

TEST_F(ReaderRowStreamTest, TiffDamagedMidImageGivesTheRowsBeforeTheDamage) {
  const std::string whole = Tiff("whole.tif", 30, 40, [] {
    TTestTiffOptions o;
    o.compression = 8;
    o.rows_per_strip = 4;
    return o;
  }());
  int32_t result = -1;
  const std::vector<uint8_t> reference = LoadedRgb(whole, kThumbnailLoadFlags, &result);
  ASSERT_EQ(result, kLoadOk);
  const size_t row_bytes = 30 * 3;

  // Strip 5 (rows 20-23) damaged: 20 rows, then black, in the stream and the load alike.
  const std::string damaged = DamagedTiff(dir_, "damaged.tif", 5);
  const TStreamed streamed = Stream(damaged, 0);
  EXPECT_EQ(streamed.outcome.result, TJpegStreamResult::kDone);
  EXPECT_EQ(streamed.outcome.rows_read, 20u);
  ASSERT_EQ(streamed.rgb.size(), reference.size());
  EXPECT_TRUE(std::equal(reference.begin(), reference.begin() + 20 * row_bytes, streamed.rgb.begin()));
  EXPECT_TRUE(std::all_of(streamed.rgb.begin() + 20 * row_bytes, streamed.rgb.end(), [](uint8_t v) { return v == 0; }));
  EXPECT_TRUE(LoadedRgb(damaged, kThumbnailLoadFlags, &result) == streamed.rgb);
  EXPECT_EQ(result, kLoadOk);

  // The first strip damaged: nothing to show, refused as before.
  const std::string first = DamagedTiff(dir_, "first.tif", 0);
  EXPECT_EQ(Stream(first, 0).outcome.code, kTiffDecodeFailed);
  TMemBitmap bitmap;
  EXPECT_EQ(LoadImageByExtension(first.c_str(), 120, 80, bitmap, kThumbnailLoadFlags, nullptr), kTiffDecodeFailed);
  EXPECT_EQ(bitmap.pixels, nullptr);
}

TEST_F(ReaderRowStreamTest, WebpStillComesAtTheSizeAskedForAnimationAtFullSize) {
  const std::string lossy = CorpusFile("webp/lossy.webp");
  int32_t width = 0;
  int32_t height = 0;
  ASSERT_TRUE(ProbeImageSize(lossy.c_str(), &width, &height));
  ASSERT_GE(width, 8);
  ASSERT_GE(height, 8);
  const TStreamed full = Stream(lossy, 0);
  const TStreamed quarter = Stream(lossy, 0, width / 4, height / 4);
  EXPECT_EQ(quarter.outcome.result, TJpegStreamResult::kDone);
  EXPECT_EQ(quarter.width, width / 4);
  EXPECT_EQ(quarter.height, height / 4);
  // Close to the full decode averaged over the same blocks.
  ASSERT_EQ(full.rgb.size(), size_t(width) * height * 3);
  double difference = 0;
  for (int32_t y = 0; y < quarter.height; ++y) {
    for (int32_t x = 0; x < quarter.width; ++x) {
      for (int c = 0; c < 3; ++c) {
        double sum = 0;
        for (int dy = 0; dy < 4; ++dy)
          for (int dx = 0; dx < 4; ++dx) sum += full.rgb[(size_t(y * 4 + dy) * width + x * 4 + dx) * 3 + c];
        difference += std::abs(sum / 16 - quarter.rgb[(size_t(y) * quarter.width + x) * 3 + c]);
      }
    }
  }
  EXPECT_LT(difference / (quarter.width * quarter.height * 3), 4.0);
  // Larger than the image, or an animation: the full size.
  EXPECT_EQ(Stream(lossy, 0, width * 2, height * 2).width, width);
  const TStreamed animated = Stream(CorpusFile("webp/animated.webp"), 0, 2, 2);
  if (animated.outcome.result == TJpegStreamResult::kDone) {
    EXPECT_GT(animated.width, 2);
  }
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif

bool WriteLossyWebp(const std::string& path, int32_t width, int32_t height) {
  std::vector<uint8_t> rgb(size_t(width) * height * 3);
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) {
      uint8_t* p = &rgb[(size_t(y) * width + x) * 3];
      p[0] = static_cast<uint8_t>(x);
      p[1] = static_cast<uint8_t>(y);
      p[2] = static_cast<uint8_t>(x + y);
    }
  uint8_t* out = nullptr;
  const size_t size = WebPEncodeRGB(rgb.data(), width, height, width * 3, 50, &out);
  const bool ok = size > 0 && WriteBytesFile(path, std::vector<uint8_t>(out, out + size));
  WebPFree(out);
  return ok;
}

TEST_F(ReaderRowStreamTest, LargeImagesStreamWithTheMemoryOfAFewRows) {
  // 6000 x 6000: a full load's bitmap alone is 103 MiB.
  constexpr int32_t kSide = 6000;
  TTestPngOptions png;
  TTestTiffOptions strips;
  strips.compression = 8;
  strips.rows_per_strip = 16;
  TTestTiffOptions tiles;
  tiles.compression = 8;
  tiles.tile_size = 256;
  TTestTiffOptions plain;
  plain.rows_per_strip = kSide;  // one uncompressed strip
  const auto flat = [](int32_t, int32_t) { return TTestRgba{90, 140, 200, 255}; };
  const struct {
    const char* name;
    int32_t wanted;  // 0: full size
  } cases[] = {{"big.png", 0}, {"strips.tif", 0}, {"tiles.tif", 0}, {"plain.tif", 0}, {"big.webp", 150}};
  {
    TRgbaImage reference;  // the writers fill it; dropped before the runs
    ASSERT_TRUE(WriteTestPng(dir_.Join("big.png"), kSide, kSide, flat, png, &reference));
    ASSERT_TRUE(WriteTestTiff(dir_.Join("strips.tif"), kSide, kSide, flat, strips, &reference));
    ASSERT_TRUE(WriteTestTiff(dir_.Join("tiles.tif"), kSide, kSide, flat, tiles, &reference));
    ASSERT_TRUE(WriteTestTiff(dir_.Join("plain.tif"), kSide, kSide, flat, plain, &reference));
  }
  ASSERT_TRUE(WriteLossyWebp(dir_.Join("big.webp"), kSide, kSide));
  const TChildRun idle = RunInChild([] { return 0; });
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir_.Join(c.name);
    const TChildRun run = RunInChild([&] {
      const TStreamed s = Stream(path, 0, c.wanted, c.wanted, false);
      const int32_t side = c.wanted > 0 ? c.wanted : kSide;
      return s.outcome.result == TJpegStreamResult::kDone && s.outcome.rows_read == uint32_t(side) &&
                     s.width == side && s.rows_in_order
                 ? 0
                 : 1;
    });
    EXPECT_EQ(run.exit_code, 0);
    // libwebp keeps a lossy file's encoded bytes and some rows; the others a
    // band. AddressSanitizer keeps freed blocks in quarantine, so the peak
    // says nothing about the decoder there.
    if (!kAddressSanitizer) {
      EXPECT_LT(run.peak_kib - idle.peak_kib, 24 * 1024);
    }
  }
}

}  // namespace
