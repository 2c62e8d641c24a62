// The JPEG size and orientation read together from one copy of the file's
// head: the same answers as the two probes that read the file, also when
// the frame header or the EXIF block lies beyond the copy.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "fixtures/exif_writer.h"
#include "fixtures/jpeg_fixtures.h"
#include "fixtures/tree_writer.h"
#include "imagein/exif.h"
#include "imagein/image_record.h"
#include "imagein/jpeg_adapter.h"
#include "imagein/load_peak.h"
#include "imagein/loader.h"

namespace {

using TBytes = std::vector<uint8_t>;

TBytes Oriented(int32_t orientation) { return EncodeOrientedJpeg(MakeGradientImage(40, 30), orientation); }

TBytes WithExif(const TBytes& jpeg, int32_t orientation) {
  TTestExif exif;
  exif.orientation = orientation;
  return InsertApp1(jpeg, MakeExifBlock(exif));
}

// 70,000 bytes of colour profile: more than the head copy holds.
TBytes LargeProfile() { return TBytes(70000, 0x5A); }

TEST(ProbeHeadTest, SizeAndOrientationMatchTheFileProbes) {
  const TBytes plain = EncodeJpeg(MakeGradientImage(40, 30));
  const struct {
    const char* name;
    TBytes bytes;
    bool readable;
    int32_t width;
    int32_t height;
    int32_t orientation;
  } cases[] = {
      {"turned by EXIF", Oriented(6), true, 30, 40, 6},
      {"no EXIF", plain, true, 40, 30, 1},
      // Each insertion goes right after the start marker, before what is there.
      {"frame header past the copy", WithExif(InsertIccProfile(plain, LargeProfile()), 8), true, 40, 30, 8},
      {"EXIF block and frame header past the copy", InsertIccProfile(WithExif(plain, 5), LargeProfile()), true, 40, 30, 5},
      {"large file without EXIF", InsertIccProfile(plain, LargeProfile()), true, 40, 30, 1},
      {"cut in its header", TBytes(plain.begin(), plain.begin() + 40), false, 0, 0, 1},
      {"empty", TBytes{}, false, 0, 0, 1},
      {"not a JPEG", TBytes{'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0}, false, 0, 0, 1},
  };
  TScratchDir dir("vc-probe-head");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.Join("image.jpg");
    ASSERT_TRUE(WriteBytesFile(path, c.bytes));
    int32_t width = -1;
    int32_t height = -1;
    int32_t orientation = -1;
    EXPECT_EQ(ProbeImageSizeAndOrientation(path.c_str(), &width, &height, &orientation), c.readable);
    EXPECT_EQ(width, c.width);
    EXPECT_EQ(height, c.height);
    EXPECT_EQ(orientation, c.orientation);
    // The probes that read the file agree.
    int32_t file_width = -1;
    int32_t file_height = -1;
    EXPECT_EQ(JpegReadSize(path.c_str(), &file_width, &file_height) != 0, c.readable);
    EXPECT_EQ(file_width, width);
    EXPECT_EQ(file_height, height);
    if (c.readable) {
      TExifFacts facts;
      ReadExifFacts(path.c_str(), &facts);
      EXPECT_EQ(facts.orientation, orientation);
    }
    // The image record's one probe gives what the separate probes give.
    TImageRecord record;
    EXPECT_EQ(ProbeImageRecord(path.c_str(), kRecordSize | kRecordDecodeNeeds, &record), c.readable);
    EXPECT_EQ(record.width, width);
    EXPECT_EQ(record.height, height);
    EXPECT_EQ(record.orientation, orientation);
    const TLoadPeak peak = ReadLoadPeak(path.c_str());
    EXPECT_EQ(record.peak.known, peak.known);
    EXPECT_EQ(record.peak.jpeg, peak.jpeg);
    EXPECT_EQ(record.peak.decoder_bytes, peak.decoder_bytes);
    EXPECT_EQ(record.peak.pixel_bytes, peak.pixel_bytes);
  }
}

}  // namespace
