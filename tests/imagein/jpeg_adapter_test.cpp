// The JPEG adapter: decoding into a memory bitmap, the size probe, scale and
// colour choices from the load flags, sealed JPEG files, and the error
// manager every decoder shares.

#include "imagein/jpeg_adapter.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <csetjmp>
#include <cstring>
#include <string>
#include <vector>

#include <jerror.h>

#include "fixtures/bitmap_rgb.h"
#include "fixtures/jpeg_fixtures.h"
#include "fixtures/seal_writer.h"
#include "fixtures/tree_writer.h"
#include "imagein/load_codes.h"
#include "imagein/palette.h"
#include "imagein/screen_palette.h"
#include "raster/jpeg_error.h"

namespace {

constexpr int32_t kFull24 = LF_NO_QUANTIZE;

class JpegAdapterTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
    const std::string path = dir_.Join(name);
    EXPECT_TRUE(WriteBytesFile(path, bytes));
    return path;
  }
  std::string WriteJpeg(const std::string& name, const TRgbImage& image,
                        TJpegFlavour flavour = TJpegFlavour::kBaseline420) {
    TJpegFixtureOptions options;
    options.flavour = flavour;
    return Write(name, EncodeJpeg(image, options));
  }

  TScratchDir dir_{"vellumcast-jpeg"};
};

// libjpeg's own decode of a colour or greyscale file as red, green, blue.
std::vector<uint8_t> ReferenceRgb(const std::vector<uint8_t>& bytes) {
  const TDecodedJpeg decoded = DecodeJpegBytes(bytes);
  if (decoded.out_components == 3) return decoded.pixels;
  std::vector<uint8_t> rgb;
  for (uint8_t grey : decoded.pixels) rgb.insert(rgb.end(), {grey, grey, grey});
  return rgb;
}

TEST_F(JpegAdapterTest, DecodesEveryFlavourLikeLibjpeg) {
  const TRgbImage image = MakeGradientImage(37, 23);
  const struct {
    const char* name;
    TJpegFlavour flavour;
  } flavours[] = {
      {"420", TJpegFlavour::kBaseline420}, {"422", TJpegFlavour::kBaseline422},
      {"444", TJpegFlavour::kBaseline444}, {"grey", TJpegFlavour::kGrayscale},
      {"progressive", TJpegFlavour::kProgressive}, {"restart", TJpegFlavour::kRestart},
  };
  for (const auto& f : flavours) {
    SCOPED_TRACE(f.name);
    TJpegFixtureOptions options;
    options.flavour = f.flavour;
    const std::vector<uint8_t> bytes = EncodeJpeg(image, options);
    const std::string path = Write(std::string(f.name) + ".jpg", bytes);
    TMemBitmap bitmap;
    ASSERT_EQ(JpegLoadBitmap(path.c_str(), 120, 80, bitmap, kThumbnailLoadFlags, nullptr), kLoadOk);
    EXPECT_EQ(bitmap.width, 37);
    EXPECT_EQ(bitmap.height, 23);
    EXPECT_EQ(bitmap.full_width, 37u);
    EXPECT_EQ(bitmap.full_height, 23u);
    EXPECT_EQ(bitmap.scale_num, 1u);
    EXPECT_EQ(bitmap.scale_denom, 1u);
    EXPECT_EQ(bitmap.header.biBitCount, 24);
    EXPECT_EQ(bitmap.requested_width, 120);
    EXPECT_EQ(bitmap.requested_height, 80);
    EXPECT_EQ(bitmap.load_flags, kThumbnailLoadFlags);
    EXPECT_STREQ(bitmap.name, path.c_str());
    EXPECT_EQ(bitmap.was_sealed, 0);
    EXPECT_EQ(BitmapToRgb(bitmap), ReferenceRgb(bytes));
  }
}

TEST_F(JpegAdapterTest, FourComponentFilesAreRefusedButProbed) {
  for (TJpegFlavour flavour : {TJpegFlavour::kCmyk, TJpegFlavour::kYcck}) {
    const std::string path = WriteJpeg("four.jpg", MakeGradientImage(16, 8), flavour);
    TMemBitmap bitmap;
    EXPECT_EQ(JpegLoadBitmap(path.c_str(), 120, 80, bitmap, kThumbnailLoadFlags, nullptr),
              JERR_CONVERSION_NOTIMPL);
    EXPECT_EQ(bitmap.width, 0);
    EXPECT_EQ(bitmap.pixels, nullptr);
    int32_t width = -1, height = -1;
    EXPECT_EQ(JpegReadSize(path.c_str(), &width, &height), 1);
    EXPECT_EQ(width, 16);
    EXPECT_EQ(height, 8);
  }
}

TEST_F(JpegAdapterTest, FilesThatHoldNoImageFail) {
  std::vector<uint8_t> no_sof = EncodeJpeg(MakeSolidImage(8, 8, 1, 2, 3));
  no_sof.resize(2);  // SOI only
  const struct {
    const char* what;
    std::vector<uint8_t> bytes;
    int32_t code;  // 0: any failure code
  } cases[] = {
      {"empty", {}, JERR_INPUT_EMPTY},
      {"not a JPEG", {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0}, 0},
      {"start marker only", no_sof, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = Write("bad.jpg", c.bytes);
    TMemBitmap bitmap;
    const int32_t result = JpegLoadBitmap(path.c_str(), 120, 80, bitmap, kThumbnailLoadFlags, nullptr);
    EXPECT_NE(result, kLoadOk);
    if (c.code != 0) {
      EXPECT_EQ(result, c.code);
    }
    EXPECT_EQ(bitmap.width, 0);
    EXPECT_EQ(bitmap.height, 0);
    EXPECT_EQ(bitmap.pixels, nullptr);
    int32_t width = 5, height = 5;
    EXPECT_EQ(JpegReadSize(path.c_str(), &width, &height), 0);
    EXPECT_EQ(width, 0);
    EXPECT_EQ(height, 0);
  }
}

TEST_F(JpegAdapterTest, MissingFileCannotBeOpened) {
  TMemBitmap bitmap;
  const std::string path = dir_.Join("missing.jpg");
  EXPECT_EQ(JpegLoadBitmap(path.c_str(), 120, 80, bitmap, kThumbnailLoadFlags, nullptr), kLoadCannotOpen);
  EXPECT_EQ(bitmap.width, 0);
  EXPECT_STREQ(bitmap.name, path.c_str());
  int32_t width = 7, height = 7;
  EXPECT_EQ(JpegReadSize(path.c_str(), &width, &height), 0);
  EXPECT_EQ(width, 0);
  EXPECT_EQ(height, 0);
}

TEST_F(JpegAdapterTest, FifoIsRefusedWithoutBlocking) {
  const std::string path = dir_.Join("pipe.jpg");
  ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
  TMemBitmap bitmap;
  EXPECT_EQ(JpegLoadBitmap(path.c_str(), 120, 80, bitmap, kThumbnailLoadFlags, nullptr), kLoadCannotOpen);
  int32_t width = 0, height = 0;
  EXPECT_EQ(JpegReadSize(path.c_str(), &width, &height), 0);
}

TEST_F(JpegAdapterTest, PathOf256CharactersIsRefused) {
  const std::string path = "/tmp/" + std::string(251, 'a') + ".jpg";
  ASSERT_EQ(path.size(), 260u);
  TMemBitmap bitmap;
  EXPECT_EQ(JpegLoadBitmap(path.c_str(), 120, 80, bitmap, kThumbnailLoadFlags, nullptr), kLoadPathTooLong);
  EXPECT_EQ(bitmap.width, 0);
}

TEST_F(JpegAdapterTest, TruncatedFileLoadsAtFullSize) {
  const TRgbImage image = MakePhotoLikeImage(64, 48, 3);
  for (TJpegFlavour flavour : {TJpegFlavour::kBaseline420, TJpegFlavour::kProgressive}) {
    TJpegFixtureOptions options;
    options.flavour = flavour;
    std::vector<uint8_t> bytes = EncodeJpeg(image, options);
    bytes.resize(bytes.size() * 2 / 3);
    const std::string path = Write("cut.jpg", bytes);
    TMemBitmap bitmap;
    EXPECT_EQ(JpegLoadBitmap(path.c_str(), 120, 80, bitmap, kThumbnailLoadFlags, nullptr), kLoadOk);
    EXPECT_EQ(bitmap.width, 64);
    EXPECT_EQ(bitmap.height, 48);
    EXPECT_NE(bitmap.pixels, nullptr);
  }
}

TEST_F(JpegAdapterTest, DamagedScanDataStillLoads) {
  std::vector<uint8_t> bytes = EncodeJpeg(MakePhotoLikeImage(64, 64, 5));
  // Overwrite a stretch of entropy-coded data near the end (before EOI).
  for (size_t i = bytes.size() - 200; i < bytes.size() - 100; ++i) bytes[i] = static_cast<uint8_t>(i * 37);
  const std::string path = Write("damaged.jpg", bytes);
  TMemBitmap bitmap;
  EXPECT_EQ(JpegLoadBitmap(path.c_str(), 120, 80, bitmap, kThumbnailLoadFlags, nullptr), kLoadOk);
  EXPECT_EQ(bitmap.width, 64);
  EXPECT_EQ(bitmap.height, 64);
}

TEST_F(JpegAdapterTest, ScaleSelection) {
  const std::string path = WriteJpeg("big.jpg", MakeGradientImage(1600, 1200));
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
      {LF_SCALE, 799, 600, 400, 300, 4},
      {LF_SCALE, 1600, 1200, 1600, 1200, 1},
      {LF_SCALE | LF_SCALE_BACK, 2000, 2000, 1600, 1200, 1},
      {LF_SCALE, 1, 1, 200, 150, 8},
      {0, 120, 80, 1600, 1200, 1},
      {LF_SCALE_BACK, 120, 80, 1600, 1200, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "flags " << c.flags << " request " << c.request_width << "x"
                                    << c.request_height);
    TMemBitmap bitmap;
    ASSERT_EQ(JpegLoadBitmap(path.c_str(), c.request_width, c.request_height, bitmap,
                             c.flags | kFull24, nullptr),
              kLoadOk);
    EXPECT_EQ(bitmap.width, c.width);
    EXPECT_EQ(bitmap.height, c.height);
    EXPECT_EQ(bitmap.scale_num, 1u);
    EXPECT_EQ(bitmap.scale_denom, c.denom);
    EXPECT_EQ(bitmap.full_width, 1600u);
    EXPECT_EQ(bitmap.full_height, 1200u);
  }
}

bool AllGrey(const std::vector<uint8_t>& rgb) {
  for (size_t i = 0; i + 2 < rgb.size(); i += 3)
    if (rgb[i] != rgb[i + 1] || rgb[i] != rgb[i + 2]) return false;
  return true;
}

TEST_F(JpegAdapterTest, GreyscaleOutput) {
  const TRgbImage image = MakeGradientImage(40, 30);
  const std::string grey_file = WriteJpeg("grey.jpg", image, TJpegFlavour::kGrayscale);
  const std::string colour_file = WriteJpeg("colour.jpg", image);
  TMemBitmap bitmap;
  ASSERT_EQ(JpegLoadBitmap(grey_file.c_str(), 0, 0, bitmap, kFull24, nullptr), kLoadOk);
  EXPECT_EQ(bitmap.header.biBitCount, 24);
  EXPECT_TRUE(AllGrey(BitmapToRgb(bitmap)));

  ASSERT_EQ(JpegLoadBitmap(colour_file.c_str(), 0, 0, bitmap, kFull24, nullptr), kLoadOk);
  EXPECT_FALSE(AllGrey(BitmapToRgb(bitmap)));
  ASSERT_EQ(JpegLoadBitmap(colour_file.c_str(), 0, 0, bitmap, LF_GRAYSCALE | kFull24, nullptr), kLoadOk);
  EXPECT_EQ(bitmap.header.biBitCount, 24);
  EXPECT_EQ(bitmap.width, 40);
  EXPECT_TRUE(AllGrey(BitmapToRgb(bitmap)));
}

// Restores the screen default whatever a test does to it.
class ScreenPalettized {
 public:
  explicit ScreenPalettized(bool palettized) { SetScreenPalettized(palettized); }
  ~ScreenPalettized() { SetScreenPalettized(false); }
};

TEST_F(JpegAdapterTest, PaletteOutputFollowsScreenAndFlags) {
  const std::string path = WriteJpeg("colour.jpg", MakeGradientImage(32, 16));
  const struct {
    bool palette_screen;
    int32_t flags;
    int bits;
  } cases[] = {
      {false, 0, 24},
      {true, 0, 8},
      {true, LF_NO_QUANTIZE, 24},
      {false, LF_QUANTIZE, 8},
      {false, LF_QUANTIZE | LF_NO_QUANTIZE, 24},
      {true, kThumbnailLoadFlags, 24},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "screen " << c.palette_screen << " flags " << c.flags);
    ScreenPalettized screen(c.palette_screen);
    TMemBitmap bitmap;
    ASSERT_EQ(JpegLoadBitmap(path.c_str(), 0, 0, bitmap, c.flags, nullptr), kLoadOk);
    EXPECT_EQ(bitmap.header.biBitCount, c.bits);
    EXPECT_EQ(bitmap.header.biClrUsed, c.bits == 8 ? 256u : 0u);
    EXPECT_EQ(bitmap.width, 32);
  }
}

TEST_F(JpegAdapterTest, PresetColourMapIsTheColourCube) {
  const std::string path = WriteJpeg("colour.jpg", MakePhotoLikeImage(48, 32, 9));
  TMemBitmap bitmap;
  ASSERT_EQ(JpegLoadBitmap(path.c_str(), 0, 0, bitmap, LF_QUANTIZE | LF_COLORMAP, nullptr), kLoadOk);
  ASSERT_EQ(bitmap.header.biBitCount, 8);
  for (int i = 0; i < 256; ++i) {
    uint8_t r, g, b;
    CubeColor(i, &r, &g, &b);
    ASSERT_EQ(bitmap.colors[i].red, r) << i;
    ASSERT_EQ(bitmap.colors[i].green, g) << i;
    ASSERT_EQ(bitmap.colors[i].blue, b) << i;
  }
}

TEST_F(JpegAdapterTest, SealedFilesNeedTheirKey) {
  const std::vector<uint8_t> plain = EncodeJpeg(MakePhotoLikeImage(50, 40, 1));
  const std::string plain_path = Write("plain.jpg", plain);
  TMemBitmap expected;
  ASSERT_EQ(JpegLoadBitmap(plain_path.c_str(), 0, 0, expected, kFull24, nullptr), kLoadOk);

  TFileKeySeal file_key = FileKeySeal("inner key");
  file_key.block2 = {9, 8, 7};
  TFileKeySeal whole_block = FileKeySeal("inner key");
  // The header then fills the data source's whole first block.
  whole_block.skipped = std::vector<uint8_t>(16384 - 28 - 128, 0);
  const struct {
    const char* what;
    std::vector<uint8_t> bytes;
  } sealed_files[] = {
      {"key text", SealWithKeyText(plain, "open sesame")},
      {"file key", SealWithFileKey(plain, "open sesame", file_key)},
      {"header of one whole block", SealWithFileKey(plain, "open sesame", whole_block)},
  };
  for (const auto& s : sealed_files) {
    SCOPED_TRACE(s.what);
    const std::string path = Write("sealed.jpg", s.bytes);
    TMemBitmap bitmap;
    ASSERT_EQ(JpegLoadBitmap(path.c_str(), 0, 0, bitmap, kFull24, "open sesame"), kLoadOk);
    EXPECT_EQ(bitmap.was_sealed, 1);
    EXPECT_EQ(BitmapToRgb(bitmap), BitmapToRgb(expected));

    for (const char* key : {static_cast<const char*>(nullptr), "", "wrong"}) {
      EXPECT_EQ(JpegLoadBitmap(path.c_str(), 0, 0, bitmap, kFull24, key), kLoadSealRejected);
      EXPECT_EQ(bitmap.width, 0);
      EXPECT_EQ(bitmap.pixels, nullptr);
    }
    int32_t width = 0, height = 0;
    EXPECT_EQ(JpegReadSize(path.c_str(), &width, &height), 0);
  }
}

// A header that promises more pixels than the cap allows is refused before
// any pixel memory is taken; its size can still be probed.
TEST_F(JpegAdapterTest, ImageOverThePixelCapIsRefused) {
  std::vector<uint8_t> bytes = EncodeJpeg(MakeSolidImage(16, 16, 10, 20, 30));
  size_t sof = 0;
  for (size_t i = 0; i + 9 < bytes.size(); ++i) {
    if (bytes[i] == 0xFF && bytes[i + 1] == 0xC0) {
      sof = i;
      break;
    }
  }
  ASSERT_NE(sof, 0u);
  const uint16_t side = 60000;
  bytes[sof + 5] = bytes[sof + 7] = static_cast<uint8_t>(side >> 8);
  bytes[sof + 6] = bytes[sof + 8] = static_cast<uint8_t>(side & 0xFF);
  const std::string path = Write("huge.jpg", bytes);
  TMemBitmap bitmap;
  EXPECT_EQ(JpegLoadBitmap(path.c_str(), 120, 80, bitmap, kThumbnailLoadFlags, nullptr), kLoadNoPixelMemory);
  EXPECT_EQ(bitmap.width, 0);
  EXPECT_EQ(bitmap.pixels, nullptr);
  EXPECT_EQ(bitmap.full_width, 60000u);
  int32_t width = 0, height = 0;
  EXPECT_EQ(JpegReadSize(path.c_str(), &width, &height), 1);
  EXPECT_EQ(width, 60000);
  EXPECT_EQ(height, 60000);
}

// The error manager.

struct TErrorFixture {
  TJpegErrorManager manager;
  jpeg_decompress_struct cinfo;
  TErrorFixture() {
    std::memset(&cinfo, 0, sizeof(cinfo));
    cinfo.err = JpegErrorInit(&manager);
  }
  j_common_ptr common() { return reinterpret_cast<j_common_ptr>(&cinfo); }
};

TEST(JpegErrorManager, FormattedMessageIsThePrefix) {
  TErrorFixture f;
  char buffer[JMSG_LENGTH_MAX];
  f.cinfo.err->msg_code = JERR_INPUT_EMPTY;
  f.cinfo.err->format_message(f.common(), buffer);
  EXPECT_STREQ(buffer, "Jpeg Error (unnamed image): ");
  f.cinfo.client_data = const_cast<char*>("/pics/a.jpg");
  f.cinfo.err->format_message(f.common(), buffer);
  EXPECT_STREQ(buffer, "Jpeg Error (/pics/a.jpg): ");
}

TEST(JpegErrorManager, LongImageNameIsCutToTheBuffer) {
  TErrorFixture f;
  const std::string name(1000, 'n');
  f.cinfo.client_data = const_cast<char*>(name.c_str());
  char buffer[JMSG_LENGTH_MAX + 16];
  std::memset(buffer, 'x', sizeof(buffer));
  JpegFormatMessage(f.common(), buffer);
  EXPECT_EQ(std::strlen(buffer), size_t{JMSG_LENGTH_MAX - 1});
  EXPECT_EQ(buffer[JMSG_LENGTH_MAX], 'x');
}

TEST(JpegErrorManager, CountsWarningsAndErrors) {
  TErrorFixture f;
  jpeg_error_mgr* err = f.cinfo.err;
  err->emit_message(f.common(), 1);  // a trace message counts nothing
  EXPECT_EQ(err->num_warnings, 0);
  err->emit_message(f.common(), -1);
  err->emit_message(f.common(), 0);
  EXPECT_EQ(err->num_warnings, 2);
  // Without a recovery point a fatal error returns after counting.
  err->msg_code = 77;
  err->error_exit(f.common());
  EXPECT_EQ(err->num_warnings, 3);
  EXPECT_EQ(f.manager.num_errors, 1);
  EXPECT_EQ(err->msg_code, 77);
  err->reset_error_mgr(f.common());
  EXPECT_EQ(err->num_warnings, 0);
  EXPECT_EQ(f.manager.num_errors, 0);
  EXPECT_EQ(err->msg_code, 0);
}

TEST(JpegErrorManager, FatalErrorJumpsToTheArmedRecoveryPoint) {
  TErrorFixture f;
  jmp_buf recovery;
  f.manager.recovery = &recovery;
  volatile int reached = 0;
  if (setjmp(recovery) == 0) {
    f.cinfo.err->error_exit(f.common());
    reached = 1;
  }
  EXPECT_EQ(reached, 0);
  EXPECT_EQ(f.manager.num_errors, 1);
}

}  // namespace
