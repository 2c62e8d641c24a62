// The format table: which row a file name falls to, what it says about each
// format, its listing patterns, and rows registered at run time.

#include "imagein/format_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "fixtures/ppm_reader.h"
#include "fixtures/tree_writer.h"
#include "imagein/load_codes.h"
#include "imagein/load_peak.h"
#include "imagein/loader.h"
#include "raster/membitmap.h"

namespace {

constexpr int32_t Id(TImageFormat format) { return static_cast<int32_t>(format); }

std::vector<std::string> Patterns(bool classic_only) {
  size_t count = 0;
  const char* const* patterns = FormatPatterns(classic_only, &count);
  return std::vector<std::string>(patterns, patterns + count);
}

bool Listed(const std::vector<std::string>& patterns, const std::string& pattern) {
  for (const std::string& p : patterns) {
    if (p == pattern) return true;
  }
  return false;
}

struct TNameCase {
  const char* name;
  TImageFormat format;
  bool browser_shows;
  const char* classic_pattern;  // the listing pattern of the classic set it matches, or null
  bool size_probed;             // a full-image cell is sized from the header
};

// What users expect of each file type: browsers show JPEG (every extension),
// GIF, PNG, WebP, AVIF and BMP as they are; HEIC/HEIF, TIFF, Targa and FITS
// need a thumbnail. The classic set stays the described three extensions.
const TNameCase kNameCases[] = {
    {"a.jpg", TImageFormat::kJpeg, true, "*.jpg", true},
    {"A.JPG", TImageFormat::kJpeg, true, "*.jpg", true},
    {"a.jpeg", TImageFormat::kJpeg, true, nullptr, true},
    {"a.jpe", TImageFormat::kJpeg, true, nullptr, true},
    {"a.Jfif", TImageFormat::kJpeg, true, nullptr, true},
    {"a.gif", TImageFormat::kGif, true, "*.gif", true},
    {"a.bmp", TImageFormat::kBmp, true, "*.bmp", false},
    {"a.png", TImageFormat::kPng, true, nullptr, true},
    {"a.webp", TImageFormat::kWebp, true, nullptr, true},
    {"a.avif", TImageFormat::kAvif, true, nullptr, true},
    {"a.heic", TImageFormat::kHeif, false, nullptr, true},
    {"a.HEIF", TImageFormat::kHeif, false, nullptr, true},
    {"a.tif", TImageFormat::kTiff, false, nullptr, true},
    {"a.tiff", TImageFormat::kTiff, false, nullptr, true},
    {"a.tga", TImageFormat::kTarga, false, nullptr, false},
    {"a.fts", TImageFormat::kFits, false, nullptr, false},
    {"a.fits", TImageFormat::kFits, false, nullptr, false},
    // No row: not read, so never listed and never shown as an image.
    {"a.ico", TImageFormat::kUnknown, false, nullptr, false},
    {"a.svg", TImageFormat::kUnknown, false, nullptr, false},
    {"a.jpg.txt", TImageFormat::kUnknown, false, nullptr, false},
    {"jpg", TImageFormat::kUnknown, false, nullptr, false},
    {"a.jp", TImageFormat::kUnknown, false, nullptr, false},
    {"dir.gif/a", TImageFormat::kUnknown, false, nullptr, false},
};

TEST(FormatTableTest, EachNameFallsToItsRowWithWhatBrowsersAndTheWalkMakeOfIt) {
  const std::vector<std::string> all = Patterns(false);
  const std::vector<std::string> classic = Patterns(true);
  for (const TNameCase& c : kNameCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(FormatIdOfPath(c.name), Id(c.format));
    EXPECT_EQ(BrowserShowsPath(c.name), c.browser_shows);
    const TFormatRow* row = FormatOfPath(c.name);
    ASSERT_EQ(row != nullptr, c.format != TImageFormat::kUnknown);
    if (row == nullptr) continue;
    EXPECT_EQ(row->probe != nullptr, c.size_probed);
    // The walk lists the file with formats=all, and with classic only for the three.
    const char* dot = std::strrchr(c.name, '.');
    std::string pattern = std::string("*") + dot;
    for (char& ch : pattern) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    EXPECT_TRUE(Listed(all, pattern));
    EXPECT_EQ(Listed(classic, pattern), c.classic_pattern != nullptr);
  }
  EXPECT_EQ(classic, (std::vector<std::string>{"*.gif", "*.jpg", "*.bmp"}));
}

// Videos are rows of the same table, but no image path takes one: never
// among the image patterns (classic or all), never shown or served as an
// image, never handed to an image decoder.
TEST(FormatTableTest, VideosAreRowsThatNoImagePathTakes) {
  size_t count = 0;
  const char* const* listed = VideoPatterns(&count);
  const std::vector<std::string> videos(listed, listed + count);
  EXPECT_EQ(videos, (std::vector<std::string>{"*.mp4", "*.m4v", "*.mov", "*.webm", "*.mkv", "*.avi", "*.3gp",
                                              "*.mts"}));
  const std::vector<std::string> all = Patterns(false);
  const std::vector<std::string> classic = Patterns(true);
  TScratchDir dir("vc-video-rows");
  for (const char* name : {"a.mp4", "A.M4V", "a.mov", "a.MOV", "a.webm", "a.mkv", "a.avi", "a.3gp", "a.mts", "a.MTS"}) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(IsVideoPath(name));
    const TFormatRow* row = FormatOfPath(name);
    ASSERT_NE(row, nullptr);
    EXPECT_TRUE(row->video);
    EXPECT_EQ(row->probe, nullptr);
    EXPECT_EQ(row->reader, nullptr);
    EXPECT_FALSE(BrowserShowsPath(name));
    EXPECT_FALSE(WebReadyPath(name));
    EXPECT_EQ(ReaderKindOf(name), 0);
    for (const char* const pattern : row->patterns) {
      if (pattern == nullptr) continue;
      EXPECT_FALSE(Listed(all, pattern)) << pattern;
      EXPECT_FALSE(Listed(classic, pattern)) << pattern;
    }
    // A JPEG named as a video is still refused by the image loader.
    const std::string path = dir.Join(name);
    ASSERT_TRUE(WriteFileBytes(path, ReadFileBytes(std::string(VELLUMCAST_SOURCE_DIR) +
                                                   "/fuzz/seeds/fuzz_thumb_jpeg/photo_exif_icc.jpg")));
    TMemBitmap bitmap;
    EXPECT_EQ(LoadImageByExtension(path.c_str(), 64, 64, bitmap, 0, nullptr), kLoadCannotOpen);
    EXPECT_EQ(bitmap.pixels, nullptr);
  }
  for (const char* name : {"a.jpg", "a.mp3", "a.mp4.jpg", "a.ts"}) EXPECT_FALSE(IsVideoPath(name)) << name;
}

TEST(FormatTableTest, AViewerServesCompressedFormatsAsTheyAreAndCopiesTheRest) {
  for (const char* name : {"a.jpg", "a.jfif", "a.gif", "a.png", "a.webp", "a.avif"}) {
    EXPECT_TRUE(WebReadyPath(name)) << name;
  }
  // BMP is shown by browsers but is uncompressed; the others are not shown.
  for (const char* name : {"a.bmp", "a.heic", "a.tif", "a.tga", "a.fits", "a.ico", "a.txt"}) {
    EXPECT_FALSE(WebReadyPath(name)) << name;
  }
}

TEST(FormatTableTest, RowsClaimDistinctExtensionsAndResultCodes) {
  size_t count = 0;
  const TFormatRow* rows = FormatRows(&count);
  std::set<std::string> extensions;
  // Codes of a load that are the system's own; no reader may use them.
  const std::set<int32_t> own = {kLoadEmptyImage,    kLoadPrematureEnd, kLoadSealRejected, kLoadCannotOpen,
                                 kLoadNoPixelMemory, kLoadPathTooLong,  kLoadTooManyScans};
  for (size_t i = 0; i < count; ++i) {
    const TFormatRow& row = rows[i];
    SCOPED_TRACE(row.name);
    EXPECT_EQ(FormatRowById(row.id), &row);
    ASSERT_NE(row.patterns[0], nullptr);
    for (const char* pattern : row.patterns) {
      if (pattern == nullptr) continue;
      EXPECT_TRUE(extensions.insert(pattern).second) << pattern;
      EXPECT_EQ(FormatOfPath((std::string("x") + (pattern + 1)).c_str()), &row) << pattern;
    }
    EXPECT_LE(row.first_code, row.last_code);
    for (int32_t code : own) EXPECT_FALSE(code >= row.first_code && code <= row.last_code) << code;
    // Rows of different readers never share a code; HEIF and AVIF share a reader.
    for (size_t j = 0; j < count; ++j) {
      const TFormatRow& other = rows[j];
      if (i == j || other.reader == row.reader || row.first_code == 0 || other.first_code == 0) continue;
      EXPECT_TRUE(row.last_code < other.first_code || other.last_code < row.first_code) << other.name;
    }
  }
  // The reader kinds that tests and fuzz targets name stay the ids of their rows.
  for (int32_t kind : {kReaderGif, kReaderBmp, kReaderTarga, kReaderFits, kReaderPng, kReaderWebp, kReaderHeif,
                       kReaderTiff}) {
    const TFormatRow* row = FormatRowById(kind);
    ASSERT_NE(row, nullptr) << kind;
    EXPECT_NE(row->reader, nullptr) << kind;
  }
  EXPECT_EQ(ReaderKindOf("x.avif"), Id(TImageFormat::kAvif));
  EXPECT_EQ(ReaderKindOf("x.jpg"), 0);
  EXPECT_EQ(ReaderKindOf("x.unknown"), 0);
}

class FormatRegistrationTest : public ::testing::Test {
 protected:
  void TearDown() override { ClearRegisteredFormats(); }
  std::string Write(const std::string& name, const std::string& bytes) {
    const std::string path = dir_.Join(name);
    EXPECT_TRUE(WriteFileBytes(path, bytes));
    return path;
  }
  TScratchDir dir_{"vc-formats"};
};

TEST_F(FormatRegistrationTest, ARegisteredRowIsListedProbedAndLoaded) {
  const std::string path = Write("p.PPM", PpmBytes(2, 1, std::string("\xff\x00\x00\x00\x00\xff", 6)));
  EXPECT_EQ(FormatOfPath(path.c_str()), nullptr);
  ASSERT_TRUE(RegisterImageFormat(PpmFormatRow()));
  EXPECT_EQ(FormatIdOfPath(path.c_str()), kPpmFormatId);
  EXPECT_TRUE(Listed(Patterns(false), "*.ppm"));
  EXPECT_FALSE(Listed(Patterns(true), "*.ppm"));
  EXPECT_EQ(ReaderKindOf(path.c_str()), kPpmFormatId);

  int32_t width = 0;
  int32_t height = 0;
  EXPECT_TRUE(ProbeImageSize(path.c_str(), &width, &height));
  EXPECT_EQ(width, 2);
  EXPECT_EQ(height, 1);
  TMemBitmap bitmap;
  ASSERT_EQ(LoadImageToBitmap(path.c_str(), 0, 0, bitmap, kThumbnailLoadFlags, nullptr), kLoadOk);
  ASSERT_EQ(bitmap.width, 2);
  const uint8_t* left = BitmapPixel(bitmap, 0, 0);   // blue, green, red
  const uint8_t* right = BitmapPixel(bitmap, 1, 0);
  EXPECT_EQ(left[2], 255);
  EXPECT_EQ(left[0], 0);
  EXPECT_EQ(right[0], 255);
  EXPECT_EQ(right[2], 0);
  // No decode-needs probe in the row: the peak is not known ahead.
  EXPECT_FALSE(ReadLoadPeak(path.c_str()).known);

  // Its reader's codes come back through the front end.
  EXPECT_EQ(LoadImageByExtension(Write("bad.ppm", "P5\n1 1\n255\n\x01").c_str(), 0, 0, bitmap, 0, nullptr), kPpmNotPpm);
  EXPECT_EQ(LoadImageByExtension(Write("bad2.ppm", "P6\n1 1\n65535\n").c_str(), 0, 0, bitmap, 0, nullptr),
            kPpmBadHeader);

  ClearRegisteredFormats();
  EXPECT_EQ(FormatOfPath(path.c_str()), nullptr);
  EXPECT_FALSE(Listed(Patterns(false), "*.ppm"));
}

TEST_F(FormatRegistrationTest, RowsThatWouldClashAreRefused) {
  TFormatRow taken_id = PpmFormatRow();
  taken_id.id = Id(TImageFormat::kGif);
  TFormatRow taken_extension = PpmFormatRow();
  taken_extension.patterns[1] = "*.JPG";
  TFormatRow no_pattern = PpmFormatRow();
  no_pattern.patterns[0] = nullptr;
  TFormatRow bad_pattern = PpmFormatRow();
  bad_pattern.patterns[0] = "ppm";
  TFormatRow no_id = PpmFormatRow();
  no_id.id = 0;
  for (const TFormatRow* row : {&taken_id, &taken_extension, &no_pattern, &bad_pattern, &no_id}) {
    EXPECT_FALSE(RegisterImageFormat(*row));
  }
  size_t count = 0;
  FormatRows(&count);
  ASSERT_TRUE(RegisterImageFormat(PpmFormatRow()));
  EXPECT_FALSE(RegisterImageFormat(PpmFormatRow()));  // registered twice
  size_t after = 0;
  FormatRows(&after);
  EXPECT_EQ(after, count + 1);
}

}  // namespace
