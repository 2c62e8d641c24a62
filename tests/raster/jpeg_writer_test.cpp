#include "fixtures/jpeg_file_writer.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "fixtures/jpeg_fixtures.h"
#include "raster/membitmap.h"

namespace {

namespace fs = std::filesystem;

class JpegWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vellumcast_jpeg_writer_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  std::string PathOf(const std::string& name) const { return dir_ + "/" + name; }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) names.push_back(entry.path().filename());
    return names;
  }

  std::string dir_;
};

// Stores (red, green, blue) at pixel (x, y) of a 24-bit bitmap.
void SetRgb(TMemBitmap& bitmap, int x, int y, uint8_t red, uint8_t green, uint8_t blue) {
  uint8_t* p = BitmapPixel(bitmap, x, y);
  p[0] = blue;
  p[1] = green;
  p[2] = red;
}

// A bitmap holding MakeQuadrantImage: red top-left, green top-right, blue
// bottom-left, white bottom-right.
TMemBitmap QuadrantBitmap(int width, int height) {
  const TRgbImage image = MakeQuadrantImage(width, height);
  TMemBitmap bitmap;
  EXPECT_TRUE(BitmapCreate(bitmap, width, height));
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const uint8_t* p = image.Pixel(x, y);
      SetRgb(bitmap, x, y, p[0], p[1], p[2]);
    }
  }
  return bitmap;
}

void ExpectNear(const TDecodedJpeg& decoded, int x, int y, int red, int green, int blue,
                int tolerance) {
  ASSERT_EQ(decoded.out_components, 3);
  const uint8_t* p = &decoded.pixels[(static_cast<size_t>(y) * decoded.width + x) * 3];
  EXPECT_NEAR(p[0], red, tolerance) << "red at " << x << "," << y;
  EXPECT_NEAR(p[1], green, tolerance) << "green at " << x << "," << y;
  EXPECT_NEAR(p[2], blue, tolerance) << "blue at " << x << "," << y;
}

TEST_F(JpegWriterTest, WritesABaselineJfifFileWithDefaultParameters) {
  TMemBitmap bitmap = QuadrantBitmap(64, 48);
  const std::string path = PathOf("quarto_tn0.jpg");
  ASSERT_TRUE(JpegWriteBitmap(bitmap, path.c_str(), 90));
  EXPECT_EQ(Names(), std::vector<std::string>{"quarto_tn0.jpg"});

  const TDecodedJpeg decoded = DecodeJpegFile(path);
  ASSERT_TRUE(decoded.ok);
  EXPECT_EQ(decoded.width, 64);
  EXPECT_EQ(decoded.height, 48);
  EXPECT_EQ(decoded.components, 3);
  EXPECT_EQ(decoded.jpeg_color_space, JCS_YCbCr);
  EXPECT_EQ(decoded.sof_marker, 0xC0);  // baseline sequential
  EXPECT_FALSE(decoded.progressive);
  EXPECT_TRUE(decoded.jfif);
  EXPECT_FALSE(decoded.adobe);
  EXPECT_EQ(decoded.density_unit, 0);
  EXPECT_EQ(decoded.x_density, 1);
  EXPECT_EQ(decoded.y_density, 1);
  EXPECT_EQ(decoded.restart_interval, 0u);
  EXPECT_EQ(decoded.h_samp[0], 2);
  EXPECT_EQ(decoded.v_samp[0], 2);
  for (int c = 1; c < 3; ++c) {
    EXPECT_EQ(decoded.h_samp[c], 1);
    EXPECT_EQ(decoded.v_samp[c], 1);
  }
}

TEST_F(JpegWriterTest, QualityScalesTheStandardTablesAsBaseline) {
  struct Case {
    int quality;
    int scale;  // percent applied to the standard table
  };
  // libjpeg's rule: 5000 / q below 50, else 200 - 2q; qualities outside
  // 1..100 are clamped.
  const Case cases[] = {{90, 20}, {50, 100}, {100, 0}, {10, 500}, {0, 5000}, {150, 0}};
  TMemBitmap bitmap = QuadrantBitmap(16, 16);
  for (const Case& c : cases) {
    const std::string path = PathOf("q" + std::to_string(c.quality) + ".jpg");
    ASSERT_TRUE(JpegWriteBitmap(bitmap, path.c_str(), c.quality)) << c.quality;
    const TDecodedJpeg decoded = DecodeJpegFile(path);
    ASSERT_TRUE(decoded.ok) << c.quality;
    EXPECT_EQ(decoded.sof_marker, 0xC0) << c.quality;
    for (int i = 0; i < 64; ++i) {
      long expected = (static_cast<long>(kStandardLumaQuant[i]) * c.scale + 50) / 100;
      if (expected < 1) expected = 1;
      if (expected > 255) expected = 255;
      ASSERT_EQ(decoded.luma_quant[i], expected) << "quality " << c.quality << " entry " << i;
    }
  }
}

TEST_F(JpegWriterTest, ImageIsUprightNotMirroredAndInRgbOrder) {
  TMemBitmap bitmap = QuadrantBitmap(64, 48);
  const std::string path = PathOf("quadrants.jpg");
  ASSERT_TRUE(JpegWriteBitmap(bitmap, path.c_str(), 90));
  const TDecodedJpeg decoded = DecodeJpegFile(path);
  ASSERT_TRUE(decoded.ok);
  // Sample well inside each quadrant, away from the chroma bleed at borders.
  ExpectNear(decoded, 8, 8, 255, 0, 0, 12);    // top-left red
  ExpectNear(decoded, 56, 8, 0, 255, 0, 12);   // top-right green
  ExpectNear(decoded, 8, 40, 0, 0, 255, 12);   // bottom-left blue
  ExpectNear(decoded, 56, 40, 255, 255, 255, 12);
}

TEST_F(JpegWriterTest, StoredBlueGreenRedIsEncodedAsRedGreenBlue) {
  TMemBitmap bitmap;
  ASSERT_TRUE(BitmapCreate(bitmap, 16, 16));
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 16; ++x) {
      uint8_t* p = BitmapPixel(bitmap, x, y);
      p[0] = 0x10;  // blue
      p[1] = 0x20;  // green
      p[2] = 0x30;  // red
    }
  }
  const std::string path = PathOf("order.jpg");
  ASSERT_TRUE(JpegWriteBitmap(bitmap, path.c_str(), 90));
  const TDecodedJpeg decoded = DecodeJpegFile(path);
  ASSERT_TRUE(decoded.ok);
  ExpectNear(decoded, 8, 8, 0x30, 0x20, 0x10, 3);
}

TEST_F(JpegWriterTest, RowPaddingIsNeverEncoded) {
  // Width 5: stride 16, 15 bytes of pixels and one padding byte per row. The
  // padding holds a bright value that would show if rows were read with the
  // wrong stride.
  TMemBitmap bitmap;
  ASSERT_TRUE(BitmapCreate(bitmap, 5, 6));
  BitmapFill(bitmap, 0xFF);
  for (int y = 0; y < 6; ++y) {
    for (int x = 0; x < 5; ++x) SetRgb(bitmap, x, y, 40, 90, 140);
  }
  const std::string path = PathOf("pad.jpg");
  ASSERT_TRUE(JpegWriteBitmap(bitmap, path.c_str(), 90));
  const TDecodedJpeg decoded = DecodeJpegFile(path);
  ASSERT_TRUE(decoded.ok);
  EXPECT_EQ(decoded.width, 5);
  EXPECT_EQ(decoded.height, 6);
  for (int y = 0; y < 6; ++y) {
    for (int x = 0; x < 5; ++x) ExpectNear(decoded, x, y, 40, 90, 140, 4);
  }
}

TEST_F(JpegWriterTest, OneByOneBitmapGivesAValidFile) {
  TMemBitmap bitmap;
  ASSERT_TRUE(BitmapCreate(bitmap, 1, 1));
  SetRgb(bitmap, 0, 0, 200, 100, 50);
  const std::string path = PathOf("one.jpg");
  ASSERT_TRUE(JpegWriteBitmap(bitmap, path.c_str(), 90));
  const TDecodedJpeg decoded = DecodeJpegFile(path);
  ASSERT_TRUE(decoded.ok);
  EXPECT_EQ(decoded.width, 1);
  EXPECT_EQ(decoded.height, 1);
  EXPECT_EQ(decoded.sof_marker, 0xC0);
  ExpectNear(decoded, 0, 0, 200, 100, 50, 4);
}

TEST_F(JpegWriterTest, ReplacesAnExistingFileWhole) {
  const std::string path = PathOf("quarto_tn3.jpg");
  // A longer file of other bytes: nothing of it may survive.
  ASSERT_TRUE(WriteBytesFile(path, std::vector<uint8_t>(200000, 0x5A)));
  TMemBitmap bitmap = QuadrantBitmap(32, 32);
  ASSERT_TRUE(JpegWriteBitmap(bitmap, path.c_str(), 90));
  const std::vector<uint8_t> bytes = ReadBytesFile(path);
  ASSERT_GT(bytes.size(), 4u);
  EXPECT_LT(bytes.size(), 200000u);
  EXPECT_EQ(bytes[0], 0xFF);
  EXPECT_EQ(bytes[1], 0xD8);
  EXPECT_EQ(bytes[bytes.size() - 2], 0xFF);
  EXPECT_EQ(bytes[bytes.size() - 1], 0xD9);
  EXPECT_TRUE(DecodeJpegBytes(bytes).ok);
  EXPECT_EQ(Names(), std::vector<std::string>{"quarto_tn3.jpg"});
}

TEST_F(JpegWriterTest, NewFileGetsTheUsualPermissions) {
  const mode_t mask = umask(022);
  umask(mask);
  TMemBitmap bitmap = QuadrantBitmap(8, 8);
  const std::string path = PathOf("mode.jpg");
  ASSERT_TRUE(JpegWriteBitmap(bitmap, path.c_str(), 90));
  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0666 & ~mask);
}

TEST_F(JpegWriterTest, AFolderThatDoesNotExistLeavesNothing) {
  TMemBitmap bitmap = QuadrantBitmap(8, 8);
  const std::string path = PathOf("missing/quarto_tn0.jpg");
  EXPECT_FALSE(JpegWriteBitmap(bitmap, path.c_str(), 90));
  EXPECT_TRUE(Names().empty());
}

TEST_F(JpegWriterTest, BitmapsItCannotEncodeAreRefusedWithoutAFile) {
  const std::string path = PathOf("refused.jpg");
  TMemBitmap empty;
  EXPECT_FALSE(JpegWriteBitmap(empty, path.c_str(), 90));

  TMemBitmap indexed;
  ASSERT_TRUE(BitmapCreate(indexed, 4, 4));
  indexed.header.biBitCount = 8;
  EXPECT_FALSE(JpegWriteBitmap(indexed, path.c_str(), 90));

  // A size the record claims but its memory does not hold.
  TMemBitmap short_block;
  ASSERT_TRUE(BitmapCreate(short_block, 4, 4));
  short_block.height = short_block.header.biHeight = 400;
  EXPECT_FALSE(JpegWriteBitmap(short_block, path.c_str(), 90));

  TMemBitmap fine = QuadrantBitmap(4, 4);
  EXPECT_FALSE(JpegWriteBitmap(fine, nullptr, 90));
  EXPECT_FALSE(JpegWriteBitmap(fine, "", 90));
  EXPECT_TRUE(Names().empty());
}

TEST_F(JpegWriterTest, ALibjpegErrorLeavesNoFileAndNoTemporary) {
  // Wider than JPEG allows: libjpeg fails in jpeg_start_compress.
  TMemBitmap bitmap;
  ASSERT_TRUE(BitmapCreate(bitmap, 70000, 1));
  const std::string path = PathOf("quarto_tn9.jpg");
  EXPECT_FALSE(JpegWriteBitmap(bitmap, path.c_str(), 90));
  EXPECT_TRUE(Names().empty());
}

TEST_F(JpegWriterTest, AWriteErrorKeepsTheOldFileAndRemovesTheTemporary) {
  const std::string path = PathOf("quarto_tn5.jpg");
  const std::vector<uint8_t> old_bytes(100, 0x42);
  ASSERT_TRUE(WriteBytesFile(path, old_bytes));

  // Noise codes to far more than the file-size limit set below, so the
  // file's write fails part-way.
  const TRgbImage noise = MakePhotoLikeImage(256, 256, 7);
  TMemBitmap bitmap;
  ASSERT_TRUE(BitmapCreate(bitmap, 256, 256));
  uint32_t state = 12345;
  for (int y = 0; y < 256; ++y) {
    for (int x = 0; x < 256; ++x) {
      state = state * 1103515245u + 12345u;
      const uint8_t* p = noise.Pixel(x, y);
      SetRgb(bitmap, x, y, static_cast<uint8_t>(p[0] ^ (state >> 24)), p[1],
             static_cast<uint8_t>(state >> 16));
    }
  }

  struct rlimit old_limit {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  void (*old_handler)(int) = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small_limit = old_limit;
  small_limit.rlim_cur = 6000;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small_limit), 0);
  const bool written = JpegWriteBitmap(bitmap, path.c_str(), 90);
  setrlimit(RLIMIT_FSIZE, &old_limit);
  std::signal(SIGXFSZ, old_handler);

  EXPECT_FALSE(written);
  EXPECT_EQ(ReadBytesFile(path), old_bytes);
  EXPECT_EQ(Names(), std::vector<std::string>{"quarto_tn5.jpg"});
}

TEST_F(JpegWriterTest, ATargetThatIsAFolderIsLeftAloneWithoutATemporary) {
  const std::string path = PathOf("quarto_tn7.jpg");
  ASSERT_EQ(mkdir(path.c_str(), 0777), 0);
  TMemBitmap bitmap = QuadrantBitmap(8, 8);
  EXPECT_FALSE(JpegWriteBitmap(bitmap, path.c_str(), 90));
  EXPECT_TRUE(fs::is_directory(path));
  EXPECT_EQ(Names(), std::vector<std::string>{"quarto_tn7.jpg"});
}

TEST_F(JpegWriterTest, WritesAgainAndAgainToTheSamePath) {
  const std::string path = PathOf("again.jpg");
  for (int i = 1; i <= 5; ++i) {
    TMemBitmap bitmap = QuadrantBitmap(8 * i, 8);
    ASSERT_TRUE(JpegWriteBitmap(bitmap, path.c_str(), 90));
    const TDecodedJpeg decoded = DecodeJpegFile(path);
    ASSERT_TRUE(decoded.ok);
    EXPECT_EQ(decoded.width, 8 * i);
  }
  EXPECT_EQ(Names(), std::vector<std::string>{"again.jpg"});
}

}  // namespace
