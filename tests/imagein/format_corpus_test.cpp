// Conformance over the format corpus in tests/corpus (made by
// tests/corpus/make.sh): every row of its MANIFEST.tsv is loaded through
// LoadImageByExtension with the thumbnail flags, over black and over white.
//   decode   result 0 and every pixel within 1 of the reference laid over the
//            background (references come from the encoders' own decoders or
//            from the pixels the corpus writer encoded)
//   refuse   exactly the given result code, and no image
//   partial  result 0 with the full size (a file cut in its image data)
// One test per file:  test_imagein --gtest_filter='*FormatCorpus*'

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "fixtures/png_tiff_writers.h"
#include "imagein/load_codes.h"
#include "imagein/loader.h"
#include "raster/membitmap.h"

namespace {

struct TFormatRow {
  std::string file;
  std::string expect;
  std::string reference;
  int32_t code = 0;
  std::string name;
};

void PrintTo(const TFormatRow& row, std::ostream* out) { *out << row.file << " (" << row.expect << ")"; }

std::string FormatCorpusDir() { return std::string(VELLUMCAST_SOURCE_DIR) + "/tests/corpus"; }

std::vector<TFormatRow> FormatRows() {
  std::vector<TFormatRow> rows;
  std::ifstream manifest(FormatCorpusDir() + "/MANIFEST.tsv");
  std::string line;
  std::getline(manifest, line);
  while (std::getline(manifest, line)) {
    std::vector<std::string> fields;
    std::stringstream split(line);
    std::string field;
    while (std::getline(split, field, '\t')) fields.push_back(field);
    if (fields.size() < 4) continue;
    TFormatRow row{fields[0], fields[1], fields[2], std::atoi(fields[3].c_str()), {}};
    for (char c : row.file) row.name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    rows.push_back(row);
  }
  return rows;
}

class FormatCorpus : public ::testing::TestWithParam<TFormatRow> {};

TEST_P(FormatCorpus, LoadsAsTheManifestSays) {
  const TFormatRow& row = GetParam();
  const std::string path = FormatCorpusDir() + "/" + row.file;
  int32_t ref_width = 0, ref_height = 0;
  TRgbaImage reference;
  if (row.expect == "decode") {
    ASSERT_TRUE(ReadPam(FormatCorpusDir() + "/" + row.reference, &ref_width, &ref_height, &reference))
        << row.reference;
  }
  for (const uint8_t background : {uint8_t{0}, uint8_t{255}}) {
    SCOPED_TRACE(background == 0 ? "over black" : "over white");
    const int32_t flags = kThumbnailLoadFlags | (background != 0 ? LF_ALPHA_OVER_WHITE : 0);
    TMemBitmap bitmap;
    const int32_t result = LoadImageByExtension(path.c_str(), 120, 80, bitmap, flags, nullptr);
    if (row.expect == "refuse") {
      EXPECT_EQ(result, row.code);
      EXPECT_EQ(bitmap.pixels, nullptr);
      EXPECT_EQ(bitmap.width, 0);
      continue;
    }
    ASSERT_EQ(result, 0);
    ASSERT_NE(bitmap.pixels, nullptr);
    ASSERT_EQ(bitmap.header.biBitCount, 24);
    if (row.expect == "partial") {
      EXPECT_GT(bitmap.width, 1);
      EXPECT_GT(bitmap.height, 1);
      continue;
    }
    ASSERT_EQ(bitmap.width, ref_width);
    ASSERT_EQ(bitmap.height, ref_height);
    int mismatches = 0;
    for (int32_t y = 0; y < ref_height; ++y) {
      for (int32_t x = 0; x < ref_width; ++x) {
        const uint8_t* want = reference.data() + (static_cast<size_t>(y) * ref_width + x) * 4;
        const uint8_t* got = BitmapPixel(bitmap, x, y);  // blue, green, red
        for (int c = 0; c < 3; ++c) {
          const int composite = (want[c] * want[3] + background * (255 - want[3]) + 127) / 255;
          const int have = got[2 - c];
          if (std::abs(have - composite) > 1 && ++mismatches <= 5) {
            ADD_FAILURE() << "pixel " << x << "," << y << " channel " << c << ": " << have << " want "
                          << composite;
          }
        }
      }
    }
    EXPECT_EQ(mismatches, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, FormatCorpus, ::testing::ValuesIn(FormatRows()),
                         [](const ::testing::TestParamInfo<TFormatRow>& info) { return info.param.name; });

}  // namespace
