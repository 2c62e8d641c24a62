// The FITS reader, driven the way the loading front end drives it, over files
// written by the FITS fixture writer. Expected grey levels are worked out by
// hand from the contrast stretch: black at the smallest value, white at the
// histogram step below which 99.8 % of the pixels lie.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "fixtures/bmp_writer.h"  // WriteFixtureBytes
#include "fixtures/fits_writer.h"
#include "fixtures/reader_drive.h"
#include "fixtures/seal_writer.h"
#include "imagein/image_source.h"
#include "imagein/load_codes.h"
#include "imagein/loader.h"
#include "raster/membitmap.h"

namespace {

constexpr int32_t kBadBitpix = 236;
constexpr int32_t kBadNaxis1 = 237;
constexpr int32_t kBadNaxis2 = 238;
constexpr int32_t kBadBzero = 239;
constexpr int32_t kBadCardChars = 240;
constexpr int32_t kCardUnreadable = 241;

TDrivenImage Decode(const std::vector<uint8_t>& bytes, const char* key = nullptr) {
  return DriveReader(bytes, CreateFitsSource, key);
}

TDrivenImage Decode(const TFitsSpec& spec) { return Decode(BuildFits(spec)); }

TFitsSpec Image(const std::string& bitpix, uint32_t width, uint32_t height,
                std::vector<int64_t> samples) {
  TFitsSpec spec;
  spec.bitpix = bitpix;
  spec.width = width;
  spec.height = height;
  spec.samples = std::move(samples);
  return spec;
}

// The grey level of every pixel, after checking that the three channels agree.
std::vector<int> Levels(const TDrivenImage& image) {
  std::vector<int> levels;
  for (size_t i = 0; i + 2 < image.rgb.size(); i += 3) {
    EXPECT_EQ(image.rgb[i], image.rgb[i + 1]);
    EXPECT_EQ(image.rgb[i], image.rgb[i + 2]);
    levels.push_back(image.rgb[i]);
  }
  return levels;
}

// --- Contrast stretch ---------------------------------------------------------

TEST(FitsReader, EvenValuesKeepTheirLevels) {
  const TDrivenImage image = Decode(Image("8", 4, 1, {0, 85, 170, 255}));
  ASSERT_EQ(image.result, 0);
  EXPECT_EQ(Levels(image), (std::vector<int>{0, 85, 170, 255}));
}

// Sample sizes: 8 and 16 bits are unsigned, 32 bits signed; the full 32-bit
// range is stretched without overflow.
TEST(FitsReader, SampleSizesAndSignedness) {
  struct TCase {
    const char* name;
    TFitsSpec spec;
    std::vector<int> levels;
  };
  const TCase cases[] = {
      {"8 bits", Image("8", 3, 1, {0, 128, 255}), {0, 128, 255}},
      {"16 bits are unsigned", Image("16", 3, 1, {0, 32768, 65535}), {0, 127, 255}},
      {"32 bits are signed", Image("32", 3, 1, {-2147483648LL, 0, 2147483647}), {0, 127, 255}},
      {"32 bits, bit pattern", Image("32", 2, 1, {0xFFFFFFFFLL, 0}), {0, 255}},  // -1 and 0
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    const TDrivenImage image = Decode(c.spec);
    ASSERT_EQ(image.result, 0);
    EXPECT_EQ(Levels(image), c.levels);
  }
}

// 999 values from 1000 up and one hot pixel at 60000: the first pass puts
// every ordinary value within levels 0 to 17, so 99.8 % lie at or below step
// 17, white moves to trunc(1000 + 17 x 59000 / 255) = 4933 and the hot pixel
// and the values above 4933 are clipped.
TEST(FitsReader, BrightOutliersAreClippedToWhite) {
  std::vector<int64_t> samples;
  for (int i = 0; i < 999; ++i) samples.push_back(1000 + 4 * i);
  samples.push_back(60000);
  const TDrivenImage image = Decode(Image("16", 100, 10, samples));
  ASSERT_EQ(image.result, 0);
  const std::vector<int> levels = Levels(image);
  const double scale = 255.0 / 3933.0;
  for (int i = 0; i < 999; ++i) {
    const int expected = std::min(255, static_cast<int>(std::trunc((samples[i] - 1000) * scale)));
    ASSERT_EQ(levels[i], expected) << "value " << samples[i];
  }
  EXPECT_EQ(levels[0], 0);
  EXPECT_EQ(levels[500], 129);  // 3000
  EXPECT_EQ(levels[983], 254);  // 4932
  EXPECT_EQ(levels[984], 255);  // 4936
  EXPECT_EQ(levels[999], 255);  // the hot pixel
}

// With 99.8 % of the pixels in the first histogram step the cut is step 1,
// never step 0.
TEST(FitsReader, TheCutIsNeverTheFirstStep) {
  // 1001 pixels: 999 zeros already pass the threshold of 998 at step 0.
  std::vector<int64_t> samples(999, 0);
  samples.push_back(1);  // step 1 of the first pass: white after the cut
  samples.push_back(255);
  const TDrivenImage image = Decode(Image("8", 143, 7, samples));
  ASSERT_EQ(image.result, 0);
  const std::vector<int> levels = Levels(image);
  EXPECT_EQ(levels[0], 0);
  EXPECT_EQ(levels[999], 255);
  EXPECT_EQ(levels[1000], 255);
}

// BZERO shifts all values alike: while a value stays at 0 or above, the
// levels do not change.
TEST(FitsReader, BzeroShiftKeepsTheLevels) {
  std::vector<int64_t> samples;
  for (int i = 0; i < 600; ++i) samples.push_back(5000 + (i * 37) % 3000);
  TFitsSpec plain = Image("16", 30, 20, samples);
  TFitsSpec shifted = plain;
  shifted.bzero = "5000";
  const TDrivenImage a = Decode(plain);
  const TDrivenImage b = Decode(shifted);
  ASSERT_EQ(a.result, 0);
  ASSERT_EQ(b.result, 0);
  EXPECT_EQ(a.rgb, b.rgb);
}

// Samples 400 (999 of them), 402 and 500 less BZERO 1000 are all negative; the
// first maximum stays 0, so the first pass scale is 255 / 600, everything but
// the top pixel lands in step 0, the cut is 1 and white becomes
// trunc(-600 + 600 / 255) = -597: -600 is black, -598 is 170, -500 white.
TEST(FitsReader, AllNegativeValuesKeepZeroAsFirstMaximum) {
  std::vector<int64_t> samples(999, 400);
  samples.push_back(402);
  samples.push_back(500);
  TFitsSpec spec = Image("16", 143, 7, samples);
  spec.bzero = "1000";
  const TDrivenImage image = Decode(spec);
  ASSERT_EQ(image.result, 0);
  const std::vector<int> levels = Levels(image);
  EXPECT_EQ(levels[0], 0);
  EXPECT_EQ(levels[999], 170);
  EXPECT_EQ(levels[1000], 255);
}

// Images with one value, or whose clipped range collapses to the smallest
// value, are black rather than divided by zero.
TEST(FitsReader, CollapsedRangesAreBlack) {
  struct TCase {
    const char* name;
    TFitsSpec spec;
  };
  std::vector<int64_t> collapsing(999, 400);  // first pass: 400 -> 0, cut 1, white
  collapsing.push_back(402);                  // trunc(400 + 100 / 255) = 400
  collapsing.push_back(500);
  const TCase cases[] = {
      {"one pixel", Image("16", 1, 1, {1234})},
      {"all equal", Image("8", 3, 3, std::vector<int64_t>(9, 77))},
      {"clipped range collapses", Image("16", 143, 7, collapsing)},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    const TDrivenImage image = Decode(c.spec);
    ASSERT_EQ(image.result, 0);
    ASSERT_EQ(image.rows_stored, c.spec.height);
    for (uint8_t byte : image.rgb) ASSERT_EQ(byte, 0);
  }
}

TEST(FitsReader, FirstStoredRowIsTheTopRow) {
  const TDrivenImage image = Decode(Image("8", 2, 3, {0, 0, 100, 100, 255, 255}));
  ASSERT_EQ(image.result, 0);
  EXPECT_EQ(Levels(image), (std::vector<int>{0, 0, 100, 100, 255, 255}));
}

// Only the first plane of a cube is read.
TEST(FitsReader, FurtherAxesAreIgnored) {
  TFitsSpec spec = Image("8", 2, 2, {0, 255, 255, 0, 9, 9, 9, 9});
  spec.extra_cards = {FitsCard("NAXIS3", "2")};
  const TDrivenImage image = Decode(spec);
  ASSERT_EQ(image.result, 0);
  EXPECT_EQ(Levels(image), (std::vector<int>{0, 255, 255, 0}));
}

// --- Header ---------------------------------------------------------------------

// Five cards are written before the extra ones. With "END" as the 36th card
// the data follows at once; as the 37th, 35 more cards are skipped. A wrong
// skip shifts the data and shows in the levels.
TEST(FitsReader, DataStartsWithTheBlockAfterEnd) {
  for (int extra : {0, 30, 31, 66, 67}) {
    TFitsSpec spec = Image("8", 4, 1, {0, 85, 170, 255});
    for (int i = 0; i < extra; ++i) spec.extra_cards.push_back(FitsCard("COMMENT" + std::to_string(i % 10), "1"));
    SCOPED_TRACE(std::to_string(extra + 6) + " cards");
    const TDrivenImage image = Decode(spec);
    ASSERT_EQ(image.result, 0);
    EXPECT_EQ(Levels(image), (std::vector<int>{0, 85, 170, 255}));
  }
}

TEST(FitsReader, HeaderValues) {
  struct TCase {
    const char* name;
    TFitsSpec spec;
    int32_t result;
  };
  auto with = [](auto change) {
    TFitsSpec spec = Image("8", 4, 1, {0, 85, 170, 255});
    change(spec);
    return spec;
  };
  const TCase cases[] = {
      {"BITPIX -32", with([](TFitsSpec& s) { s.bitpix = "-32"; s.bytes_per_sample = 4; }), kBadBitpix},
      {"BITPIX -64", with([](TFitsSpec& s) { s.bitpix = "-64"; s.bytes_per_sample = 8; }), kBadBitpix},
      {"BITPIX 64", with([](TFitsSpec& s) { s.bitpix = "64"; }), kBadBitpix},
      {"BITPIX 12", with([](TFitsSpec& s) { s.bitpix = "12"; }), kBadBitpix},
      {"BITPIX not a number", with([](TFitsSpec& s) { s.bitpix = "'abc'"; }), kBadBitpix},
      {"BITPIX missing", with([](TFitsSpec& s) { s.bitpix.clear(); }), kBadBitpix},
      {"NAXIS1 not a number", with([](TFitsSpec& s) { s.naxis1 = "T"; }), kBadNaxis1},
      {"NAXIS1 negative", with([](TFitsSpec& s) { s.naxis1 = "-4"; }), kBadNaxis1},
      {"NAXIS1 beyond 32 bits", with([](TFitsSpec& s) { s.naxis1 = "99999999999"; }), kBadNaxis1},
      {"NAXIS2 blank", with([](TFitsSpec& s) { s.naxis2 = " "; }), kBadNaxis2},
      {"BZERO not a number", with([](TFitsSpec& s) { s.bzero = "'zero'"; }), kBadBzero},
      {"BZERO far beyond 32 bits", with([](TFitsSpec& s) { s.bzero = "99999999999"; }), kBadBzero},
      // Runs of digits far beyond 64 bits are refused, not wrapped.
      {"NAXIS1 of twenty digits", with([](TFitsSpec& s) { s.naxis1 = "22222222222222222222"; }), kBadNaxis1},
      {"NAXIS2 of 69 digits, negative",
       with([](TFitsSpec& s) { s.naxis2 = "-" + std::string(69, '9'); }), kBadNaxis2},
      {"BZERO of 70 digits", with([](TFitsSpec& s) { s.bzero = std::string(70, '7'); }), kBadBzero},
      {"BITPIX just above 2^62", with([](TFitsSpec& s) { s.bitpix = "4611686018427387905"; }), kBadBitpix},
      {"NAXIS1 missing", with([](TFitsSpec& s) { s.write_naxis1 = false; }), kLoadEmptyImage},
      {"NAXIS2 missing", with([](TFitsSpec& s) { s.write_naxis2 = false; }), kLoadEmptyImage},
      {"NAXIS1 zero", with([](TFitsSpec& s) { s.naxis1 = "0"; }), kLoadEmptyImage},
      {"NAXIS2 zero, huge NAXIS1", with([](TFitsSpec& s) { s.naxis1 = "777777701"; s.naxis2 = "0"; }),
       kLoadEmptyImage},
      {"huge image", with([](TFitsSpec& s) { s.naxis1 = "2147483647"; s.naxis2 = "2147483647"; }),
       kLoadNoPixelMemory},
      // 18919 x 18919 x 3 bytes is just over 1 GiB.
      {"just over the pixel cap", with([](TFitsSpec& s) { s.naxis1 = "18919"; s.naxis2 = "18919"; }),
       kLoadNoPixelMemory},
      {"no END card", with([](TFitsSpec& s) { s.write_end = false; s.samples.clear(); }), kCardUnreadable},
      {"control character in a keyword",
       with([](TFitsSpec& s) { s.extra_cards = {std::string("OBS\x01") + "ERVER= 'x'"}; }), kBadCardChars},
      {"high byte in the first ten columns",
       with([](TFitsSpec& s) { s.extra_cards = {"OBSERV\xE9R= 1"}; }), kBadCardChars},
      {"empty file", with([](TFitsSpec& s) { s.truncate_to = 0; }), kLoadPrematureEnd},
      {"file ends within the first card", with([](TFitsSpec& s) { s.truncate_to = 50; }), kCardUnreadable},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Decode(c.spec).result, c.result);
  }
}

// Values are read as scanf reads an integer: up to the first non-digit.
TEST(FitsReader, HeaderValuesThatStillRead) {
  struct TCase {
    const char* name;
    TFitsSpec spec;
  };
  auto with = [](auto change) {
    TFitsSpec spec = Image("8", 4, 1, {0, 85, 170, 255});
    change(spec);
    return spec;
  };
  const TCase cases[] = {
      {"BZERO 1500.0 is 1500", with([](TFitsSpec& s) {
         s.bitpix = "16";
         s.samples = {1500, 1585, 1670, 1755};
         s.bzero = "1500.0";
       })},
      {"BZERO 1.0E3 is 1", with([](TFitsSpec& s) { s.bzero = "1.0E3"; })},
      {"BZERO -2147483648 lifts values past 32 bits", with([](TFitsSpec& s) { s.bzero = "-2147483648"; })},
      {"value with a comment", with([](TFitsSpec& s) { s.naxis1 = "4 / width"; })},
      {"signed value", with([](TFitsSpec& s) { s.naxis1 = "+4"; })},
      {"width after sixty leading zeros", with([](TFitsSpec& s) { s.naxis1 = std::string(60, '0') + "4"; })},
      {"control character after column 10", with([](TFitsSpec& s) { s.extra_cards = {"OBSERVER= \x01"}; })},
      {"tab in the first ten columns", with([](TFitsSpec& s) { s.extra_cards = {"OBS\tERVER= 1"}; })},
      {"ENDX counts as END", with([](TFitsSpec& s) { s.write_end = false; s.extra_cards = {"ENDX"}; })},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    const TDrivenImage image = Decode(c.spec);
    ASSERT_EQ(image.result, 0);
    // An even ramp whose values all stay at 0 or above.
    EXPECT_EQ(Levels(image), (std::vector<int>{0, 85, 170, 255}));
  }
}

// --- Truncation and sealed files ---------------------------------------------

// Cut anywhere: within the header the card cannot be read (241), within the
// rest of the header block the reader's premature end (40) is left; within
// the data the load succeeds with no rows (black); once all data is there
// (the padding may be missing) the image is whole.
TEST(FitsReader, TruncatedAtEveryPart) {
  std::vector<int64_t> samples;
  for (int i = 0; i < 60; ++i) samples.push_back(i * 1000);
  const TFitsSpec spec = Image("16", 10, 6, samples);
  const std::vector<uint8_t> whole = BuildFits(spec);
  const size_t end_card_end = 6 * 80;
  const size_t header_end = 2880;
  const size_t data_end = header_end + 60 * 2;
  for (size_t length = 0; length <= whole.size(); length += (length < data_end + 2 ? 1 : 97)) {
    TFitsSpec cut = spec;
    cut.truncate_to = length;
    const TDrivenImage image = Decode(cut);
    SCOPED_TRACE("length " + std::to_string(length));
    if (length == 0) {
      EXPECT_EQ(image.result, kLoadPrematureEnd);
    } else if (length < end_card_end) {
      EXPECT_EQ(image.result, kCardUnreadable);
    } else if (length < header_end) {
      EXPECT_EQ(image.result, kLoadPrematureEnd);
    } else if (length < data_end) {
      ASSERT_EQ(image.result, 0);
      EXPECT_EQ(image.rows_stored, 0u);
      EXPECT_EQ(image.last_code, kLoadPrematureEnd);
      for (uint8_t byte : image.rgb) ASSERT_EQ(byte, 0);
    } else {
      ASSERT_EQ(image.result, 0);
      EXPECT_EQ(image.rows_stored, 6u);
    }
  }
}

TEST(FitsReader, SealedFileReadsWithItsKeyOnly) {
  std::vector<int64_t> samples;
  for (int i = 0; i < 64 * 48; ++i) samples.push_back((i * 7919) % 30000);
  const TFitsSpec spec = Image("16", 64, 48, samples);
  const TDrivenImage plain = Decode(spec);
  const std::vector<uint8_t> sealed = SealWithKeyText(BuildFits(spec), "key");
  const TDrivenImage unsealed = Decode(sealed, "key");
  ASSERT_EQ(plain.result, 0);
  ASSERT_EQ(unsealed.result, 0);
  EXPECT_TRUE(unsealed.was_sealed);
  EXPECT_EQ(plain.rgb, unsealed.rgb);
  EXPECT_EQ(Decode(sealed).result, kLoadSealRejected);
}

// --- Through the loading front end -------------------------------------------

int32_t LoadFits(const std::vector<uint8_t>& bytes, const std::string& name, const char* key,
                 TMemBitmap& bitmap) {
  const std::string path = ::testing::TempDir() + "fits_reader_" + name + ".fts";
  EXPECT_TRUE(WriteFixtureBytes(path, bytes));
  return LoadImageWithReader(path.c_str(), 0, 0, bitmap, kThumbnailLoadFlags, key, kReaderFits);
}

TEST(FitsReaderLoad, GreyLevelsReachTheBitmapTopRowFirst) {
  const TFitsSpec spec = Image("32", 2, 3, {-7, -7, 100, 100, 1000000, 1000000});
  for (const char* key : {static_cast<const char*>(nullptr), "abc"}) {
    const std::vector<uint8_t> plain = BuildFits(spec);
    TMemBitmap bitmap;
    ASSERT_EQ(LoadFits(key ? SealWithKeyText(plain, key) : plain, key ? "sealed" : "plain", key, bitmap), 0);
    ASSERT_EQ(bitmap.width, 2);
    ASSERT_EQ(bitmap.height, 3);
    EXPECT_EQ(bitmap.was_sealed, key ? 1 : 0);
    const uint8_t expected[3] = {0, 0, 255};  // 100 is trunc(107 x 255 / 1000007) = 0
    for (int y = 0; y < 3; ++y) {
      for (int x = 0; x < 2; ++x) {
        const uint8_t* pixel = BitmapPixel(bitmap, x, y);
        EXPECT_EQ(pixel[0], expected[y]);
        EXPECT_EQ(pixel[1], expected[y]);
        EXPECT_EQ(pixel[2], expected[y]);
      }
    }
  }
}

// A file that ends within the image loads, all black; an empty one does not.
TEST(FitsReaderLoad, TruncatedDataLoadsBlack) {
  std::vector<int64_t> samples;
  for (int i = 0; i < 256 * 192; ++i) samples.push_back(i % 251);
  TFitsSpec spec = Image("8", 256, 192, samples);
  spec.truncate_to = 2880 + 20000;
  TMemBitmap bitmap;
  ASSERT_EQ(LoadFits(BuildFits(spec), "truncated", nullptr, bitmap), 0);
  ASSERT_EQ(bitmap.width, 256);
  ASSERT_EQ(bitmap.height, 192);
  for (int y = 0; y < 192; ++y) {
    for (int x = 0; x < 256; ++x) ASSERT_EQ(BitmapPixel(bitmap, x, y)[0], 0);
  }
  TMemBitmap empty;
  EXPECT_EQ(LoadFits({}, "empty", nullptr, empty), kLoadPrematureEnd);
}

}  // namespace
