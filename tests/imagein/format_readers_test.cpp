// The PNG, WebP, HEIF/AVIF and TIFF readers beyond the corpus: the pixel cap
// before any allocation, sealed files, probes, and what the loader does with
// the extensions.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fixtures/header_only_images.h"
#include "fixtures/png_tiff_writers.h"
#include "fixtures/seal_writer.h"
#include "fixtures/tree_writer.h"
#include "imagein/format_codes.h"
#include "imagein/load_codes.h"
#include "imagein/loader.h"
#include "raster/membitmap.h"

namespace {

std::string Corpus(const std::string& file) { return std::string(VELLUMCAST_SOURCE_DIR) + "/tests/corpus/" + file; }

std::vector<uint8_t> Bytes(const std::string& path) {
  const std::string text = ReadFileBytes(path);
  return std::vector<uint8_t>(text.begin(), text.end());
}

class FormatReadersTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
    const std::string path = dir_.Join(name);
    EXPECT_TRUE(WriteFileBytes(path, std::string(bytes.begin(), bytes.end())));
    return path;
  }
  int32_t Load(const std::string& path, TMemBitmap& bitmap, const char* key = nullptr) {
    return LoadImageByExtension(path.c_str(), 120, 80, bitmap, kThumbnailLoadFlags, key);
  }
  TScratchDir dir_{"vc-formats"};
};

TEST_F(FormatReadersTest, ImagesOverThePixelCapAreRefusedBeforeAnyPixelMemory) {
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {"huge.png", PngHeaderOnly(30000, 30000)},
      {"wide.png", PngHeaderOnly(1000000, 400)},
      {"huge.tif", TiffHeaderOnly(40000, 40000)},
      // Each under the cap alone, over it with what the decode holds beside:
      // the interlaced image held whole as RGBA beside the bitmap,
      {"interlaced.png", PngHeaderOnly(13000, 13000, true)},
      // libwebp's own ARGB image beside the RGBA block (a 38-byte file),
      {"lossless.webp", WebpHeaderOnly(16383, 16383)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TMemBitmap bitmap;
    EXPECT_EQ(Load(Write(c.name, c.bytes), bitmap), kLoadNoPixelMemory);
    EXPECT_EQ(bitmap.pixels, nullptr);
  }
  // Within the cap the same headers get as far as their missing data.
  TMemBitmap bitmap;
  EXPECT_EQ(Load(Write("small.webp", WebpHeaderOnly(300, 200)), bitmap), kWebpDamaged);
  EXPECT_EQ(Load(Write("small.tif", TiffHeaderOnly(300, 200)), bitmap), kTiffDecodeFailed);
  // A TIFF image is read in bands: under the cap beside the bitmap alone, it
  // too gets as far as its missing data, before the bitmap is taken.
  EXPECT_EQ(Load(Write("big.tif", TiffHeaderOnly(16000, 16000)), bitmap), kTiffDecodeFailed);
  EXPECT_EQ(bitmap.pixels, nullptr);
}

TEST_F(FormatReadersTest, SealedFilesLoadWithTheirKeyLikeThePlainOnes) {
  for (const char* file : {"png/rgba8.png", "png/rgb8_interlaced.png", "webp/alpha_lossy.webp", "heif/rgb.avif",
                           "tiff/rgb8_tiles_lzw.tif"}) {
    SCOPED_TRACE(file);
    const std::vector<uint8_t> plain = Bytes(Corpus(file));
    const std::string name = std::string("sealed") + std::strrchr(file, '.');
    const std::string sealed = Write(name, SealWithKeyText(plain, "vellum key"));
    TMemBitmap want;
    TMemBitmap got;
    ASSERT_EQ(Load(Corpus(file), want), kLoadOk);
    ASSERT_EQ(Load(sealed, got, "vellum key"), kLoadOk);
    EXPECT_EQ(got.was_sealed, 1);
    ASSERT_EQ(got.width, want.width);
    ASSERT_EQ(got.height, want.height);
    EXPECT_EQ(std::memcmp(got.pixels, want.pixels, want.pixel_bytes), 0);
    TMemBitmap refused;
    EXPECT_EQ(Load(sealed, refused), kLoadSealRejected);
    EXPECT_EQ(Load(sealed, refused, "wrong"), kLoadSealRejected);
    EXPECT_EQ(refused.pixels, nullptr);
  }
}

TEST_F(FormatReadersTest, ProbesReadTheSizeOfEveryNewFormat) {
  for (const char* file : {"png/grey1.png", "png/rgba16_interlaced.png", "webp/lossy.webp", "webp/lossless.webp",
                           "webp/alpha_lossy.webp", "webp/animated.webp", "heif/rgb.heic", "heif/alpha.avif",
                           "tiff/cmyk8_strips_lzw.tif"}) {
    SCOPED_TRACE(file);
    TMemBitmap bitmap;
    ASSERT_EQ(Load(Corpus(file), bitmap), kLoadOk);
    int32_t width = -1;
    int32_t height = -1;
    EXPECT_TRUE(ProbeImageSize(Corpus(file).c_str(), &width, &height));
    EXPECT_EQ(width, bitmap.width);
    EXPECT_EQ(height, bitmap.height);
  }
  for (const char* file : {"damaged/png_not_png.png", "damaged/png_cut_in_ihdr.png", "damaged/empty.webp",
                           "damaged/webp_cut_in_header.webp", "damaged/heic_cut_in_header.heic",
                           "damaged/tiff_cut.tif", "damaged/empty.avif"}) {
    SCOPED_TRACE(file);
    int32_t width = -1;
    int32_t height = -1;
    EXPECT_FALSE(ProbeImageSize(Corpus(file).c_str(), &width, &height));
    EXPECT_EQ(width, 0);
    EXPECT_EQ(height, 0);
  }
  // A sealed file is not probed: its header is no image header.
  int32_t width = -1;
  int32_t height = -1;
  const std::string sealed = Write("sealed.png", SealWithKeyText(Bytes(Corpus("png/rgb8.png")), "k"));
  EXPECT_FALSE(ProbeImageSize(sealed.c_str(), &width, &height));
}

TEST_F(FormatReadersTest, ReducedLoadsOfTheNewFormats) {
  // LF_SCALE reduces while reading as for the other readers: 23 x 17 and 32 x 24 fitting 8 x 6 are read at 1/4.
  for (const char* file : {"png/rgb8.png", "webp/lossless.webp", "tiff/rgb8_strips_lzw.tif"}) {
    SCOPED_TRACE(file);
    TMemBitmap bitmap;
    ASSERT_EQ(LoadImageByExtension(Corpus(file).c_str(), 8, 6, bitmap, LF_NO_QUANTIZE | LF_SCALE, nullptr), kLoadOk);
    EXPECT_EQ(bitmap.full_width, file[0] == 'w' ? 32u : 23u);
    EXPECT_EQ(bitmap.scale_denom, 4u);
  }
}

}  // namespace
