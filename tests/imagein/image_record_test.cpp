// The image record: one probe of a file gives what the separate probes give,
// reads only what was asked for, and carries the EXIF facts and the stamp.

#include "imagein/image_record.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>
#include <string>

#include "fixtures/exif_writer.h"
#include "fixtures/image_writers.h"
#include "fixtures/jpeg_fixtures.h"
#include "fixtures/png_tiff_writers.h"
#include "fixtures/tree_writer.h"
#include "imagein/load_peak.h"
#include "imagein/loader.h"

namespace {

class ImageRecordTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return dir_.Join(name); }
  TScratchDir dir_{"vc-record"};
};

TEST_F(ImageRecordTest, OneProbeGivesWhatTheSeparateProbesGive) {
  TTestExif exif;
  exif.orientation = 6;
  exif.make = "Korvane";
  exif.model = "K1";
  exif.date_original = "2021:06:30 08:15:00";
  const struct {
    const char* name;
    std::function<bool(const std::string&)> write;
    bool size_probed;   // the size probe of its row gives a size
    int32_t orientation;
  } cases[] = {
      {"turned.jpg",
       [&](const std::string& p) {
         return WriteBytesFile(p, InsertApp1(EncodeJpeg(MakeGradientImage(40, 30)), MakeExifBlock(exif)));
       },
       true, 6},
      {"a.gif", [](const std::string& p) { return WriteTestGif(p, 33, 21); }, true, 1},
      {"a.bmp", [](const std::string& p) { return WriteTestBmp24(p, 17, 9); }, false, 1},
      {"a.png",
       [](const std::string& p) {
         TRgbaImage reference;
         return WriteTestPng(p, 12, 7, GradientRgbaPixels(12, 7), {}, &reference);
       },
       true, 1},
      // No row: the JPEG adapter decodes it, so its peak is a JPEG one.
      {"jpeg.data", [](const std::string& p) { return WriteTestJpeg(p, 20, 10); }, false, 1},
      {"missing.jpg", [](const std::string&) { return true; }, false, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = Path(c.name);
    ASSERT_TRUE(c.write(path));
    int32_t width = -1;
    int32_t height = -1;
    int32_t orientation = -1;
    const bool sized = ProbeImageSizeAndOrientation(path.c_str(), &width, &height, &orientation);
    EXPECT_EQ(sized, c.size_probed);

    TImageRecord record;
    EXPECT_EQ(ProbeImageRecord(path.c_str(), kRecordSize | kRecordDecodeNeeds | kRecordStamp, &record),
              c.size_probed);
    EXPECT_EQ(record.size_known, sized);
    EXPECT_EQ(record.width, sized ? width : 0);
    EXPECT_EQ(record.height, sized ? height : 0);
    EXPECT_EQ(record.orientation, c.orientation);
    EXPECT_EQ(record.format, FormatOfPath(path.c_str()));
    const TLoadPeak peak = ReadLoadPeak(path.c_str());
    EXPECT_EQ(record.peak.known, peak.known);
    EXPECT_EQ(record.peak.jpeg, peak.jpeg);
    EXPECT_EQ(record.peak.width, peak.width);
    EXPECT_EQ(record.peak.decoder_bytes, peak.decoder_bytes);
    EXPECT_EQ(record.peak.pixel_bytes, peak.pixel_bytes);

    struct stat info;
    const bool exists = ::stat(path.c_str(), &info) == 0;
    EXPECT_EQ(record.stamp_known, exists);
    if (exists) {
      EXPECT_EQ(record.stamp.size, static_cast<int64_t>(info.st_size));
      EXPECT_EQ(record.stamp.inode, static_cast<int64_t>(info.st_ino));
    }

    // Asked for the orientation alone, only a JPEG row's probe runs; the
    // others are upright and unsized without a read.
    TImageRecord oriented;
    EXPECT_TRUE(ProbeImageRecord(path.c_str(), kRecordOrientation, &oriented));
    EXPECT_EQ(oriented.orientation, c.orientation);
    const bool jpeg_row = record.format != nullptr && record.format->exif;
    EXPECT_EQ(oriented.size_known, jpeg_row && sized);
    EXPECT_FALSE(oriented.peak.known);
    EXPECT_FALSE(oriented.stamp_known);
  }
  // The EXIF facts the pages show come with the size.
  TImageRecord record;
  ASSERT_TRUE(ProbeImageRecord(Path("turned.jpg").c_str(), kRecordSize, &record));
  EXPECT_EQ(record.exif.camera, "Korvane K1");
  EXPECT_EQ(record.exif.date_taken, "2021-06-30 08:15:00");
  EXPECT_EQ(record.exif.orientation, 6);
}

TEST_F(ImageRecordTest, NoFileAndNoPathGiveAnEmptyRecord) {
  TImageRecord record;
  record.width = 5;
  EXPECT_FALSE(ProbeImageRecord(nullptr, kRecordSize, &record));
  EXPECT_EQ(record.width, 0);
  EXPECT_FALSE(ProbeImageRecord(Path("none.gif").c_str(), kRecordSize | kRecordStamp, &record));
  EXPECT_FALSE(record.stamp_known);
  EXPECT_EQ(record.stamp.size, -1);
  // A folder is no regular file: no stamp.
  ASSERT_TRUE(MakeDirs(Path("d.jpg")));
  EXPECT_FALSE(ProbeImageRecord(Path("d.jpg").c_str(), kRecordSize | kRecordStamp, &record));
  EXPECT_FALSE(record.stamp_known);
}

}  // namespace
