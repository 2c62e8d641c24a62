// The thumbnail cell made straight from a JPEG file must be byte for byte the
// cell that the full decode, FitRect and the stretch give: for every coding,
// image size and cell size, for damaged and truncated files, and for the
// files that give no thumbnail at all.

#include "imagein/jpeg_thumb_decode.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fixtures/jpeg_coding_writer.h"
#include "fixtures/jpeg_fixtures.h"
#include "fixtures/tree_writer.h"
#include "imagein/jpeg_adapter.h"
#include "imagein/load_codes.h"

namespace {

struct TCellBytes {
  bool made = false;
  int32_t width = 0;
  int32_t height = 0;
  std::string pixels;  // every row with its padding
};

TCellBytes BytesOf(bool made, const TMemBitmap& cell) {
  TCellBytes bytes;
  bytes.made = made;
  if (!made) return bytes;
  bytes.width = cell.width;
  bytes.height = cell.height;
  const size_t size = size_t{BitmapStride(cell.width)} * static_cast<size_t>(cell.height);
  bytes.pixels.assign(reinterpret_cast<const char*>(cell.pixels), size);
  return bytes;
}

// What the thumbnail producer does with a full decode: the decoded bitmap is
// fitted, centred and stretched into a filled cell.
TCellBytes ReferenceCell(const std::string& path, int32_t cell_width, int32_t cell_height,
                         uint8_t fill) {
  TMemBitmap image;
  JpegLoadBitmap(path.c_str(), cell_width, cell_height, image, kThumbnailLoadFlags, nullptr);
  TMemBitmap cell;
  if (image.width <= 1 || image.height <= 1 || image.pixels == nullptr ||
      image.header.biBitCount != 24 || !BitmapCreate(cell, cell_width, cell_height)) {
    return BytesOf(false, cell);
  }
  BitmapFill(cell, fill);
  TBltRect box{0, 0, cell_width - 1, cell_height - 1};
  const TBltRect src{0, 0, image.width - 1, image.height - 1};
  FitRect(box, src, 1, 1, 1, static_cast<int32_t>(image.full_width),
          static_cast<int32_t>(image.full_height), 1);
  BitmapStretch(cell, static_cast<uint32_t>(box.left), static_cast<uint32_t>(box.top),
                static_cast<uint32_t>(box.right), static_cast<uint32_t>(box.bottom), image, 0, 0,
                static_cast<uint32_t>(src.right), static_cast<uint32_t>(src.bottom));
  return BytesOf(true, cell);
}

TCellBytes DirectCell(const std::string& path, int32_t cell_width, int32_t cell_height, uint8_t fill,
                      TJpegCellRowMode mode, TJpegCellReport* report = nullptr) {
  TMemBitmap cell;
  const bool made = JpegThumbnailCell(path.c_str(), cell_width, cell_height, fill, cell, mode,
                                      report) == TJpegCellResult::kMade;
  return BytesOf(made, cell);
}

// Compares without printing megabytes of pixels on a mismatch.
void ExpectSameCell(const TCellBytes& expected, const TCellBytes& actual, const std::string& what) {
  ASSERT_EQ(expected.made, actual.made) << what;
  ASSERT_EQ(expected.width, actual.width) << what;
  ASSERT_EQ(expected.height, actual.height) << what;
  if (expected.pixels == actual.pixels) return;
  size_t first = 0;
  while (expected.pixels[first] == actual.pixels[first]) ++first;
  ADD_FAILURE() << what << ": cells differ first at byte " << first << " of " << expected.pixels.size();
}

struct TSize {
  int32_t width;
  int32_t height;
};

class JpegThumbDecodeTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
    const std::string path = dir_.Join(name);
    EXPECT_TRUE(WriteBytesFile(path, bytes));
    return path;
  }

  // Both row modes against the full decode, for one file and cell.
  void CheckFile(const std::string& path, int32_t cell_width, int32_t cell_height, uint8_t fill,
                 const std::string& what, TJpegCellReport* skip_report = nullptr) {
    const TCellBytes reference = ReferenceCell(path, cell_width, cell_height, fill);
    const std::string label = what + " cell " + std::to_string(cell_width) + "x" +
                              std::to_string(cell_height) + " fill " + std::to_string(fill);
    ExpectSameCell(reference,
                   DirectCell(path, cell_width, cell_height, fill, TJpegCellRowMode::kSkipWhereExact,
                              skip_report),
                   label + " (skipping)");
    ExpectSameCell(reference,
                   DirectCell(path, cell_width, cell_height, fill, TJpegCellRowMode::kReadEveryRow),
                   label + " (every row)");
  }

  TScratchDir dir_{"vc-jpegcell"};
};

// Which codings skip rows: the rest must be read row by row.
bool ExpectSkipping(const TJpegCoding& coding) {
  if (coding.arithmetic) return false;
  if (coding.components == 1) return coding.h_samp[0] == 1 && coding.v_samp[0] == 1;
  const int h = coding.h_samp[0];
  const int v = coding.v_samp[0];
  return (h == 1 && v == 1) || (h == 2 && v == 1) || (h == 2 && v == 2);
}

TEST_F(JpegThumbDecodeTest, EveryCodingImageAndCellSizeGivesTheFullDecodesCell) {
  // Narrow images (chroma rows of up to two samples) are upsampled without
  // the fancy filter.
  const TSize images[] = {{640, 480}, {480, 640}, {1001, 667}, {17, 9},   {2, 2},  {3, 250}, {4, 333},
                          {5, 300},   {250, 3},   {97, 61},    {120, 80}, {121, 81}, {60, 40}};
  const TSize cells[] = {{120, 80}, {33, 21}, {200, 200}, {1, 1}, {7, 300}, {640, 480}};
  for (const TJpegCoding& coding : JpegCodingsToCover()) {
    for (const TSize& size : images) {
      const std::vector<uint8_t> bytes =
          EncodeJpegCoding(MakePhotoLikeImage(size.width, size.height, 7), coding);
      ASSERT_FALSE(bytes.empty()) << coding.label;
      const std::string path = Write(coding.label + ".jpg", bytes);
      const std::string what =
          coding.label + " " + std::to_string(size.width) + "x" + std::to_string(size.height);
      for (const TSize& cell : cells) {
        TJpegCellReport report;
        CheckFile(path, cell.width, cell.height, 0, what, &report);
        EXPECT_FALSE(report.redone) << what;
        // A large image into a small cell: skipped exactly where the coding allows.
        if (size.width >= 480 && cell.width == 120) {
          EXPECT_EQ(report.rows_skipped, ExpectSkipping(coding)) << what;
        }
      }
      CheckFile(path, 120, 80, 255, what);
    }
  }
}

TEST_F(JpegThumbDecodeTest, RestartIntervalsOfEveryLength) {
  for (unsigned interval : {1u, 2u, 5u, 17u, 64u}) {
    for (const TJpegCoding& base : JpegCodingsToCover()) {
      if (base.progressive || base.multi_scan || base.arithmetic) continue;
      TJpegCoding coding = base;
      coding.restart_interval = interval;
      const std::string path =
          Write("r.jpg", EncodeJpegCoding(MakePhotoLikeImage(803, 611, 3), coding));
      CheckFile(path, 120, 80, 0, coding.label + " restart " + std::to_string(interval));
      CheckFile(path, 57, 300, 0, coding.label + " restart " + std::to_string(interval));
    }
  }
}

// A file cut short: the data source answers with end-of-image markers and
// warnings; the full decode stops after more than five and leaves the rest
// black. Every cut position gives the full decode's cell.
TEST_F(JpegThumbDecodeTest, TruncatedFilesGiveTheFullDecodesCell) {
  for (const TJpegCoding& coding : JpegCodingsToCover()) {
    const std::vector<uint8_t> whole = EncodeJpegCoding(MakePhotoLikeImage(400, 300, 11), coding);
    ASSERT_GT(whole.size(), 2000u);
    bool any_redone = false;
    for (size_t cut = 0; cut <= whole.size(); cut += whole.size() / 37 + 1) {
      const std::vector<uint8_t> part(whole.begin(), whole.begin() + static_cast<ptrdiff_t>(cut));
      const std::string path = Write("cut.jpg", part);
      TJpegCellReport report;
      CheckFile(path, 120, 80, 255, coding.label + " cut at " + std::to_string(cut), &report);
      any_redone = any_redone || report.redone;
    }
    // The end of the file also without its end-of-image marker.
    const std::vector<uint8_t> no_eoi(whole.begin(), whole.end() - 2);
    CheckFile(Write("noeoi.jpg", no_eoi), 120, 80, 0, coding.label + " without EOI");
    // Skipping files met the warnings of a cut and were decoded again.
    if (ExpectSkipping(coding)) {
      EXPECT_TRUE(any_redone) << coding.label;
    }
  }
}

// Damaged entropy data: corrupt-data warnings, markers in the wrong place,
// restart markers out of sequence.
TEST_F(JpegThumbDecodeTest, DamagedDataGivesTheFullDecodesCell) {
  for (const TJpegCoding& base : JpegCodingsToCover()) {
    TJpegCoding coding = base;
    if (!coding.progressive && !coding.arithmetic) {
      coding.restart_interval = 4;
    }
    const std::vector<uint8_t> whole = EncodeJpegCoding(MakePhotoLikeImage(320, 240, 5), coding);
    const size_t header = 700;  // past the tables
    ASSERT_GT(whole.size(), header + 500);
    const uint8_t patches[][2] = {{0xFF, 0xD9}, {0x00, 0x00}, {0xFF, 0xD3}, {0x5A, 0xA5}, {0xFF, 0xC4}};
    int n = 0;
    for (size_t at = header; at + 2 < whole.size(); at += (whole.size() - header) / 9) {
      for (const auto& patch : patches) {
        std::vector<uint8_t> damaged = whole;
        damaged[at] = patch[0];
        damaged[at + 1] = patch[1];
        const std::string path = Write("bad.jpg", damaged);
        CheckFile(path, 120, 80, 0, coding.label + " patch " + std::to_string(n++));
      }
    }
  }
}

TEST_F(JpegThumbDecodeTest, FilesWithoutThumbnailGiveNone) {
  struct TCase {
    const char* name;
    std::vector<uint8_t> bytes;
  };
  TJpegFixtureOptions cmyk;
  cmyk.flavour = TJpegFlavour::kCmyk;
  TJpegFixtureOptions ycck;
  ycck.flavour = TJpegFlavour::kYcck;
  const TJpegCoding baseline = JpegCodingsToCover()[0];
  const std::vector<uint8_t> small = EncodeJpegCoding(MakeGradientImage(64, 48), baseline);
  const std::vector<TCase> cases = {
      {"empty", {}},
      {"text", {'n', 'o', 't', ' ', 'a', ' ', 'j', 'p', 'e', 'g'}},
      {"cmyk", EncodeJpeg(MakeGradientImage(64, 48), cmyk)},
      {"ycck", EncodeJpeg(MakeGradientImage(64, 48), ycck)},
      {"one-row", EncodeJpegCoding(MakeGradientImage(300, 1), baseline)},
      {"one-column", EncodeJpegCoding(MakeGradientImage(1, 300), baseline)},
      {"one-pixel", EncodeJpegCoding(MakeGradientImage(1, 1), baseline)},
      {"header-only", std::vector<uint8_t>(small.begin(), small.begin() + 20)},
  };
  for (const TCase& c : cases) {
    const std::string path = Write(std::string(c.name) + ".jpg", c.bytes);
    CheckFile(path, 120, 80, 0, c.name);
    EXPECT_FALSE(DirectCell(path, 120, 80, 0, TJpegCellRowMode::kSkipWhereExact).made) << c.name;
  }
  EXPECT_FALSE(DirectCell(dir_.Join("missing.jpg"), 120, 80, 0, TJpegCellRowMode::kSkipWhereExact).made);
  EXPECT_FALSE(DirectCell(dir_.path(), 120, 80, 0, TJpegCellRowMode::kSkipWhereExact).made);
  const std::string long_path = dir_.Join(std::string(300, 'a') + ".jpg");
  EXPECT_FALSE(DirectCell(long_path, 120, 80, 0, TJpegCellRowMode::kSkipWhereExact).made);
  // A cell too small to exist.
  const std::string path = Write("ok.jpg", EncodeJpegCoding(MakeGradientImage(64, 48), baseline));
  EXPECT_FALSE(DirectCell(path, 0, 80, 0, TJpegCellRowMode::kSkipWhereExact).made);
  EXPECT_TRUE(DirectCell(path, 120, 80, 0, TJpegCellRowMode::kSkipWhereExact).made);
}

// Large cells: the 32-bit products of the sample offsets, and images smaller
// than the cell in one direction only.
TEST_F(JpegThumbDecodeTest, LargeCellsAndExtremeAspects) {
  const TJpegCoding baseline = JpegCodingsToCover()[0];
  const std::string wide = Write("wide.jpg", EncodeJpegCoding(MakePhotoLikeImage(4000, 40, 2), baseline));
  const std::string tall = Write("tall.jpg", EncodeJpegCoding(MakePhotoLikeImage(40, 4000, 2), baseline));
  for (const TSize& cell : {TSize{3000, 2}, TSize{2, 3000}, TSize{1500, 1500}, TSize{4000, 40}}) {
    CheckFile(wide, cell.width, cell.height, 0, "wide");
    CheckFile(tall, cell.width, cell.height, 0, "tall");
  }
}

}  // namespace
