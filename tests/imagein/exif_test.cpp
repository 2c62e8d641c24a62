// The EXIF facts of a block and of a file: orientation, date, camera and
// exposure, and the defaults for files without EXIF or with damaged blocks.

#include "imagein/exif.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "fixtures/exif_writer.h"
#include "fixtures/jpeg_fixtures.h"

namespace {

namespace fs = std::filesystem;

TExifFacts Parse(const std::vector<uint8_t>& block, bool* found = nullptr) {
  TExifFacts facts;
  facts.orientation = 99;  // must be overwritten
  const bool ok = ParseExifFacts(block.data(), block.size(), &facts);
  if (found != nullptr) *found = ok;
  return facts;
}

TEST(ExifFactsTest, OrientationInBothByteOrders) {
  for (bool big : {false, true}) {
    for (int32_t orientation = 1; orientation <= 8; ++orientation) {
      TTestExif exif;
      exif.big_endian = big;
      exif.orientation = orientation;
      bool found = false;
      EXPECT_EQ(Parse(MakeExifBlock(exif), &found).orientation, orientation) << big;
      EXPECT_TRUE(found);
    }
  }
}

TEST(ExifFactsTest, MissingOrOutOfRangeOrientationIsUpright) {
  for (int32_t orientation : {0, 9, 0xFFFF}) {
    TTestExif exif;
    exif.orientation = orientation;
    exif.make = "Maker";  // so that the block is not empty
    EXPECT_EQ(Parse(MakeExifBlock(exif)).orientation, 1) << orientation;
  }
}

TEST(ExifFactsTest, BlockWithoutItsHeaderReadsTheSame) {
  TTestExif exif;
  exif.orientation = 6;
  exif.model = "Cam";
  std::vector<uint8_t> block = MakeExifBlock(exif);
  block.erase(block.begin(), block.begin() + 6);
  const TExifFacts facts = Parse(block);
  EXPECT_EQ(facts.orientation, 6);
  EXPECT_EQ(facts.camera, "Cam");
}

TEST(ExifFactsTest, DatesAndTheirFallback) {
  struct TCase {
    const char* date_time;
    const char* date_original;
    const char* expected;
  } cases[] = {
      {"2020:01:02 03:04:05", "2024:05:01 14:03:22", "2024-05-01 14:03:22"},
      {"2020:01:02 03:04:05", "", "2020-01-02 03:04:05"},
      {"2020:01:02 03:04:05", "0000:00:00 00:00:00", "2020-01-02 03:04:05"},
      {"", "2024-05-01 14:03:22", ""},           // not the EXIF form
      {"2020:01:02", "", ""},                     // too short
      {"    :  :     :  :  ", "", ""},            // blank unknown date
  };
  for (const TCase& c : cases) {
    TTestExif exif;
    exif.orientation = 1;
    exif.date_time = c.date_time;
    exif.date_original = c.date_original;
    EXPECT_EQ(Parse(MakeExifBlock(exif)).date_taken, c.expected) << c.date_time << " / " << c.date_original;
  }
}

TEST(ExifFactsTest, CameraName) {
  struct TCase {
    const char* make;
    const char* model;
    const char* expected;
  } cases[] = {
      {"Canon", "Canon EOS 5D", "Canon EOS 5D"},
      {"NIKON CORPORATION", "NIKON D750", "NIKON CORPORATION NIKON D750"},
      {"FUJIFILM", "X-T3", "FUJIFILM X-T3"},
      {"Apple  ", "  iPhone 12", "Apple iPhone 12"},
      {"", "Model Only", "Model Only"},
      {"Make Only", "", "Make Only"},
      {"Bad\x01" "Byte", "", "Bad Byte"},
  };
  for (const TCase& c : cases) {
    TTestExif exif;
    exif.make = c.make;
    exif.model = c.model;
    EXPECT_EQ(Parse(MakeExifBlock(exif)).camera, c.expected) << c.make << " / " << c.model;
  }
}

TEST(ExifFactsTest, ExposureParts) {
  struct TCase {
    TTestRational time;
    TTestRational f_number;
    int32_t iso;
    TTestRational focal;
    const char* expected;
  } cases[] = {
      {{1, 250}, {28, 10}, 100, {35, 1}, "1/250 s, f/2.8, ISO 100, 35 mm"},
      {{10, 2500}, {8, 1}, 0, {0, 0}, "1/250 s, f/8"},
      {{2, 1}, {0, 0}, 3200, {0, 0}, "2 s, ISO 3200"},
      {{3, 2}, {0, 0}, 0, {235, 10}, "1.5 s, 23.5 mm"},
      {{0, 0}, {0, 0}, 0, {0, 0}, ""},
      {{1, 0}, {5, 0}, 0, {0, 0}, ""},  // 0 denominators are left out by the writer too
      {{0, 1}, {0, 1}, 0, {0, 1}, ""},  // zero values say nothing
  };
  for (const TCase& c : cases) {
    TTestExif exif;
    exif.orientation = 1;
    exif.exposure_time = c.time;
    exif.f_number = c.f_number;
    exif.iso = c.iso;
    exif.focal_length = c.focal;
    EXPECT_EQ(Parse(MakeExifBlock(exif)).exposure, c.expected) << c.expected;
  }
}

TEST(ExifFactsTest, DamagedBlocksGiveDefaults) {
  TTestExif exif;
  exif.orientation = 8;
  exif.make = "Maker";
  exif.date_original = "2024:05:01 14:03:22";
  const std::vector<uint8_t> whole = MakeExifBlock(exif);
  for (size_t cut = 0; cut < whole.size(); ++cut) {
    const std::vector<uint8_t> part(whole.begin(), whole.begin() + static_cast<long>(cut));
    TExifFacts facts;
    ParseExifFacts(part.data(), part.size(), &facts);
    EXPECT_TRUE(facts.orientation >= 1 && facts.orientation <= 8);
  }
  const std::vector<uint8_t> junk = {'E', 'x', 'i', 'f', 0, 0, 'X', 'X', 0, 42, 0, 0, 0, 8};
  bool found = true;
  const TExifFacts facts = Parse(junk, &found);
  EXPECT_FALSE(found);
  EXPECT_EQ(facts.orientation, 1);
  EXPECT_TRUE(facts.camera.empty());
  TExifFacts none;
  EXPECT_FALSE(ParseExifFacts(nullptr, 0, &none));
}

class ExifFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("exif_test_" + std::to_string(getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const char* name) const { return (dir_ / name).string(); }
  fs::path dir_;
};

TEST_F(ExifFileTest, ReadsTheBlockOfAJpegFile) {
  TTestExif exif;
  exif.orientation = 6;
  exif.make = "Canon";
  exif.model = "Canon EOS R";
  exif.date_original = "2024:05:01 14:03:22";
  const std::vector<uint8_t> jpeg = EncodeJpeg(MakeGradientImage(32, 16));
  // An XMP packet in an APP1 before the EXIF block is passed over.
  const std::vector<uint8_t> xmp = {'h', 't', 't', 'p', ':', '/', '/', 'n', 's', 0, 'x'};
  ASSERT_TRUE(WriteBytesFile(Path("a.jpg"), InsertApp1(InsertApp1(jpeg, MakeExifBlock(exif)), xmp)));
  TExifFacts facts;
  ASSERT_TRUE(ReadExifFacts(Path("a.jpg").c_str(), &facts));
  EXPECT_EQ(facts.orientation, 6);
  EXPECT_EQ(facts.camera, "Canon EOS R");
  EXPECT_EQ(facts.date_taken, "2024-05-01 14:03:22");
}

TEST_F(ExifFileTest, FilesWithoutABlockGiveDefaults) {
  const std::vector<uint8_t> jpeg = EncodeJpeg(MakeGradientImage(32, 16));
  TTestExif exif;
  exif.orientation = 3;
  const std::vector<uint8_t> with_exif = InsertApp1(jpeg, MakeExifBlock(exif));
  ASSERT_TRUE(WriteBytesFile(Path("plain.jpg"), jpeg));
  ASSERT_TRUE(WriteBytesFile(Path("text.jpg"), {'n', 'o', 't', ' ', 'a', ' ', 'j', 'p', 'g'}));
  // Cut inside the EXIF segment: its length promises more than the file holds.
  ASSERT_TRUE(WriteBytesFile(Path("cut.jpg"), std::vector<uint8_t>(with_exif.begin(), with_exif.begin() + 30)));
  ASSERT_TRUE(WriteBytesFile(Path("empty.jpg"), {}));
  ASSERT_EQ(mkfifo(Path("fifo.jpg").c_str(), 0600), 0);
  for (const char* name : {"plain.jpg", "text.jpg", "cut.jpg", "empty.jpg", "fifo.jpg", "missing.jpg"}) {
    TExifFacts facts;
    facts.orientation = 5;
    EXPECT_FALSE(ReadExifFacts(Path(name).c_str(), &facts)) << name;
    EXPECT_EQ(facts.orientation, 1) << name;
  }
}

}  // namespace
