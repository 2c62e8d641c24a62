// The caps of every JPEG decode: a small file that declares a huge
// progressive frame is refused before its coefficient buffers or pixels are
// taken, a file of too many scans is stopped, and a limit reached inside
// libjpeg refuses the image instead of presenting it as decoded.

#include "imagein/jpeg_limits.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <string>
#include <vector>

#include "fixtures/child_run.h"
#include "fixtures/hostile_jpeg.h"
#include "fixtures/jpeg_fixtures.h"
#include "fixtures/tree_writer.h"
#include "imagein/jpeg_adapter.h"
#include "imagein/jpeg_row_stream.h"
#include "imagein/jpeg_thumb_decode.h"
#include "imagein/load_codes.h"
#include "imagein/memory_budget.h"

namespace {

// Peak resident size a refused decode may reach in a forked child: the test
// program itself and some slack, far below the gigabyte a decode of the
// hostile files would touch.
constexpr long kRefusalPeakKiB = 400 * 1024;



// The row stream the modern style decodes with, asking for `size` pixels on
// each side, its rows dropped.
TJpegStreamResult StreamRows(const std::string& path, int32_t size) {
  struct TWanted {
    int32_t size;
  } wanted{size};
  TJpegRowSink sink;
  sink.context = &wanted;
  sink.plan = [](void* context, const TJpegStreamHeader&, int32_t* w, int32_t* h) {
    *w = *h = static_cast<TWanted*>(context)->size;
    return true;
  };
  sink.start = [](void*, int32_t, int32_t) { return true; };
  sink.row = [](void*, int32_t, const uint8_t*) {};
  TJpegStreamFacts facts;
  const TJpegStreamResult result = JpegStreamRows(path.c_str(), sink, &facts);
  std::free(facts.icc);
  return result;
}

class JpegLimitsTest : public ::testing::Test {
 protected:
  std::string Write(const char* name, const std::vector<uint8_t>& bytes) {
    const std::string path = dir_.Join(name);
    EXPECT_FALSE(bytes.empty()) << name;
    EXPECT_TRUE(WriteBytesFile(path, bytes)) << path;
    return path;
  }
  TScratchDir dir_{"vellumcast_jpeg_limits"};
};

TEST_F(JpegLimitsTest, HugeDeclaredProgressiveFileIsRefusedWithoutTakingTheMemory) {
  const struct {
    const char* label;
    uint16_t width;
    uint16_t height;
    int32_t flags;
    int32_t request;
    bool coefficients_over_cap;  // refused by a decode that holds no full-size pixels too
  } cases[] = {
      // Pixels (1.07 GB) just under the cap, coefficients (1.07 GB) beside them.
      {"pixels under the cap, coefficients beside them", 18900, 18900, kThumbnailLoadFlags, 120, false},
      // Decoded at 1/8 the pixels are 75 MB; the coefficients alone are 4.8 GB.
      {"scaled output, coefficients alone over the cap", 40000, 40000, LF_SCALE | LF_NO_QUANTIZE, 120, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string path = Write("huge.jpg", MakeHugeDeclaredProgressiveJpeg(c.width, c.height));
    ASSERT_LT(ReadBytesFile(path).size(), 1024u);
    const TChildRun load = RunInChild([&] {
      TMemBitmap bitmap;
      const int32_t result = JpegLoadBitmap(path.c_str(), c.request, c.request, bitmap, c.flags, nullptr);
      return bitmap.pixels == nullptr && bitmap.width == 0 ? result : 1;
    });
    EXPECT_EQ(load.exit_code, kLoadNoPixelMemory);
    EXPECT_LT(load.peak_kib, kRefusalPeakKiB);

    const TChildRun thumb = RunInChild([&] {
      TMemBitmap cell;
      const TJpegCellResult result =
          JpegThumbnailCell(path.c_str(), 120, 90, 0, cell, TJpegCellRowMode::kSkipWhereExact);
      return result == TJpegCellResult::kNoThumbnail && cell.pixels == nullptr ? 0 : 1;
    });
    EXPECT_EQ(thumb.exit_code, 0);
    EXPECT_LT(thumb.peak_kib, kRefusalPeakKiB);

    // The modern style's row stream, scaled as far as libjpeg goes.
    if (c.coefficients_over_cap) {
      const TChildRun stream = RunInChild([&] {
        return StreamRows(path, c.request) == TJpegStreamResult::kOutOfMemory ? 0 : 1;
      });
      EXPECT_EQ(stream.exit_code, 0);
      EXPECT_LT(stream.peak_kib, kRefusalPeakKiB);
    }

    // The size probe reads the header alone and still reports the size.
    int32_t width = 0, height = 0;
    EXPECT_EQ(JpegReadSize(path.c_str(), &width, &height), 1);
    EXPECT_EQ(width, c.width);
    EXPECT_EQ(height, c.height);
  }
}

TEST_F(JpegLimitsTest, CoefficientBytesFollowTheFrame) {
  // 4:2:0, 1000 x 600: luma 125 x 75 blocks, chroma 63 x 38 blocks, with
  // every component's rows and columns rounded up to its sampling factors.
  const std::string progressive =
      Write("p.jpg", MakeHugeDeclaredProgressiveJpeg(1000, 600));
  const uint64_t luma = 126 * 76;
  const uint64_t chroma = 63 * 38;
  const struct {
    const char* label;
    std::string path;
    uint64_t bytes;
  } cases[] = {
      {"progressive", progressive, (luma + 2 * chroma) * 128},
      {"baseline", Write("b.jpg", EncodeJpeg(MakeSolidImage(1000, 600, 1, 2, 3))), 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_decompress(&cinfo);
    FILE* file = std::fopen(c.path.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    jpeg_stdio_src(&cinfo, file);
    jpeg_read_header(&cinfo, TRUE);
    EXPECT_EQ(JpegCoefficientBytes(cinfo), c.bytes);
    jpeg_destroy_decompress(&cinfo);
    std::fclose(file);
  }
}

TEST_F(JpegLimitsTest, ScanCountIsCapped) {
  const struct {
    const char* label;
    int width;
    int height;
    int components;
    int scans;
    int32_t result;
  } cases[] = {
      {"grey, at the limit", 64, 48, 1, kMaxJpegScans, kLoadOk},
      {"grey, one scan past the limit", 64, 48, 1, kMaxJpegScans + 1, kLoadTooManyScans},
      {"colour, two thousand scans", 64, 48, 3, 2000, kLoadTooManyScans},
      // 300 passes over 512 x 512 blocks: more scan work than allowed.
      {"grey 4096 x 4096 in 300 scans", 4096, 4096, 1, 300, kLoadTooManyScans},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const int width = c.width;
    const int height = c.height;
    const std::string path = Write("scans.jpg", MakeManyScanJpeg(width, height, c.components, c.scans, width > 64));
    TMemBitmap bitmap;
    EXPECT_EQ(JpegLoadBitmap(path.c_str(), width, height, bitmap, kThumbnailLoadFlags, nullptr), c.result);
    TMemBitmap cell;
    const TJpegCellResult made =
        JpegThumbnailCell(path.c_str(), 32, 24, 0, cell, TJpegCellRowMode::kSkipWhereExact);
    if (c.result == kLoadOk) {
      ASSERT_EQ(bitmap.width, 64);
      ASSERT_EQ(bitmap.height, 48);
      // Every pixel is libjpeg's own decode (grey: three equal bytes).
      const TDecodedJpeg reference = DecodeJpegFile(path);
      ASSERT_TRUE(reference.ok);
      ASSERT_EQ(reference.out_components, 1);
      int differing = 0;
      for (int y = 0; y < 48; ++y) {
        for (int x = 0; x < 64; ++x) {
          const uint8_t* pixel = BitmapPixel(bitmap, x, y);
          const uint8_t grey = reference.pixels[static_cast<size_t>(y) * 64 + x];
          if (pixel[0] != grey || pixel[1] != grey || pixel[2] != grey) ++differing;
        }
      }
      EXPECT_EQ(differing, 0);
      EXPECT_EQ(made, TJpegCellResult::kMade);
      EXPECT_EQ(StreamRows(path, width), TJpegStreamResult::kDone);
    } else {
      EXPECT_EQ(bitmap.pixels, nullptr);
      EXPECT_EQ(bitmap.width, 0);
      EXPECT_EQ(made, TJpegCellResult::kNoThumbnail);
      // The modern style's row stream stops at the same scan.
      EXPECT_EQ(StreamRows(path, width), TJpegStreamResult::kFailed);
    }
  }
}

// JPEGMEM below what a progressive file's coefficients need: libjpeg refuses
// the buffers, and the load says so rather than handing over a black image.
TEST_F(JpegLimitsTest, MemoryLimitReachedInsideLibjpegRefusesTheImage) {
  TJpegFixtureOptions options;
  options.flavour = TJpegFlavour::kProgressive;
  const std::string path = Write("p.jpg", EncodeJpeg(MakeGradientImage(1600, 1200), options));
  const TChildRun run = RunInChild([&] {
    setenv("JPEGMEM", "1M", 1);
    TMemBitmap bitmap;
    const int32_t result = JpegLoadBitmap(path.c_str(), 1600, 1200, bitmap, kThumbnailLoadFlags, nullptr);
    if (bitmap.pixels != nullptr || bitmap.width != 0) return 1;
    TMemBitmap cell;
    if (JpegThumbnailCell(path.c_str(), 120, 90, 0, cell, TJpegCellRowMode::kSkipWhereExact) !=
        TJpegCellResult::kNoThumbnail)
      return 2;
    return static_cast<int>(result);
  });
  EXPECT_EQ(run.exit_code, kLoadNoPixelMemory);
  // Without the variable the same file decodes.
  TMemBitmap bitmap;
  EXPECT_EQ(JpegLoadBitmap(path.c_str(), 1600, 1200, bitmap, kThumbnailLoadFlags, nullptr), kLoadOk);
  EXPECT_EQ(bitmap.width, 1600);
}

// A progressive file's coefficient buffers are held from the coefficient
// budget while it decodes: with the budget held elsewhere every JPEG decode
// of such a file waits (the cell, the full load, the row stream), and gives
// back all it held; a single-scan file holds nothing and never waits.
TEST_F(JpegLimitsTest, ProgressiveDecodesWaitForTheCoefficientBudget) {
  TJpegFixtureOptions options;
  options.flavour = TJpegFlavour::kProgressive;
  const std::string progressive = Write("p.jpg", EncodeJpeg(MakeGradientImage(640, 480), options));
  const std::string single = Write("s.jpg", EncodeJpeg(MakeGradientImage(640, 480), TJpegFixtureOptions{}));
  TMemoryBudget& budget = CoefficientMemoryBudget();
  ASSERT_EQ(budget.Held(), 0u);
  const struct {
    const char* label;
    bool (*decode)(const std::string& path);
  } decoders[] = {
      {"cell", [](const std::string& path) {
         TMemBitmap cell;
         return JpegThumbnailCell(path.c_str(), 120, 90, 0, cell, TJpegCellRowMode::kSkipWhereExact) ==
                TJpegCellResult::kMade;
       }},
      {"full load", [](const std::string& path) {
         TMemBitmap bitmap;
         return JpegLoadBitmap(path.c_str(), 120, 90, bitmap, kThumbnailLoadFlags, nullptr) == kLoadOk;
       }},
      {"row stream", [](const std::string& path) { return StreamRows(path, 640) == TJpegStreamResult::kDone; }},
  };
  for (const auto& d : decoders) {
    SCOPED_TRACE(d.label);
    // The whole capacity and the one hold beyond it.
    const uint64_t held = budget.Reserve(budget.Capacity());
    const uint64_t beyond = budget.Reserve(1);
    ASSERT_EQ(budget.HeldBeyond(), 1u);
    // The single-scan file goes through while the whole budget is held.
    EXPECT_TRUE(d.decode(single));
    std::atomic<bool> done{false};
    bool decoded = false;
    std::thread decoder([&] {
      decoded = d.decode(progressive);
      done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(done.load());
    budget.Release(held);
    budget.Release(beyond);
    decoder.join();
    EXPECT_TRUE(decoded);
    EXPECT_EQ(budget.Held(), 0u);
    EXPECT_EQ(budget.HeldBeyond(), 0u);
  }
}

}  // namespace
