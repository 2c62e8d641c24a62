// Conformance over the image corpus: every row of MANIFEST.tsv is loaded in
// this process through LoadImageByExtension with the thumbnail flags.
//   decode  the pixels must equal the reference PPM exactly
//   refuse  the load must fail: a nonzero result and no image
//   any     the load must end (whatever its result) without a crash
// One test suite per format, one test per file, so each can be run alone:
//   test_imagein --gtest_filter='*CorpusGif*'   (CorpusJpeg, CorpusBmp, CorpusTga, CorpusFits)

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cctype>
#include <fstream>
#include <ostream>
#include <sstream>
#include <set>
#include <string>
#include <vector>

#include "fixtures/bitmap_rgb.h"
#include "fixtures/corpus_dir.h"
#include "imagein/load_codes.h"
#include "imagein/loader.h"

namespace {

struct TCorpusRow {
  std::string file;       // relative to the corpus folder
  std::string expect;     // decode, refuse or any
  std::string reference;  // relative PPM path for decode rows
  std::string name;       // test name made from the file name
};

// Test output names the file rather than dumping the record's bytes.
void PrintTo(const TCorpusRow& row, std::ostream* out) { *out << row.file << " (" << row.expect << ")"; }

std::string TestName(const std::string& file) {
  std::string name;
  for (char c : file.substr(file.find('/') + 1)) {
    name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  }
  return name;
}

// The rows whose file lies in one of `folders` (the corpus keeps each format
// in its own folder).
std::vector<TCorpusRow> RowsIn(std::initializer_list<const char*> folders) {
  std::vector<TCorpusRow> rows;
  std::set<std::string> names;
  std::ifstream manifest(CorpusDir() + "/MANIFEST.tsv");
  std::string line;
  std::getline(manifest, line);  // column names
  while (std::getline(manifest, line)) {
    std::vector<std::string> fields;
    std::stringstream stream(line);
    for (std::string field; std::getline(stream, field, '\t');) fields.push_back(field);
    if (fields.size() < 3) continue;
    for (const char* folder : folders) {
      if (fields[0].rfind(std::string(folder) + "/", 0) == 0) {
        // Names that differ only in punctuation ("+32", "-32") get a number.
        std::string name = TestName(fields[0]);
        for (int n = 2; names.count(name) != 0; ++n) name = TestName(fields[0]) + "_" + std::to_string(n);
        names.insert(name);
        rows.push_back({fields[0], fields[1], fields[2], name});
      }
    }
  }
  return rows;
}

std::string PrintName(const testing::TestParamInfo<TCorpusRow>& info) { return info.param.name; }

// Where the decoded pixels first differ from the reference, for the report.
std::string FirstMismatches(const std::vector<uint8_t>& got, const std::vector<uint8_t>& want, int width) {
  std::ostringstream out;
  int shown = 0;
  for (size_t i = 0; i < got.size() && i < want.size() && shown < 5; ++i) {
    if (got[i] == want[i]) continue;
    const size_t pixel = i / 3;
    out << " (" << pixel % static_cast<size_t>(width) << "," << pixel / static_cast<size_t>(width)
        << ") channel " << i % 3 << ": " << int{got[i]} << " instead of " << int{want[i]} << ";";
    ++shown;
  }
  return out.str();
}

void CheckRow(const TCorpusRow& row) {
  const std::string path = CorpusDir() + "/" + row.file;
  TMemBitmap bitmap;
  const int32_t result = LoadImageByExtension(path.c_str(), 120, 80, bitmap, kThumbnailLoadFlags, nullptr);
  const bool has_image = bitmap.width >= 1 && bitmap.height >= 1 && bitmap.pixels != nullptr;
  if (row.expect == "refuse") {
    EXPECT_NE(result, kLoadOk) << row.file << " must be refused";
    EXPECT_FALSE(has_image) << row.file << " must give no image";
    return;
  }
  if (row.expect != "decode") return;  // "any": ending without a crash is the test
  ASSERT_EQ(result, kLoadOk) << row.file;
  ASSERT_TRUE(has_image) << row.file;
  TPpmImage reference;
  ASSERT_TRUE(ReadPpm(CorpusDir() + "/" + row.reference, &reference)) << row.reference;
  ASSERT_EQ(bitmap.width, reference.width) << row.file;
  ASSERT_EQ(bitmap.height, reference.height) << row.file;
  const std::vector<uint8_t> rgb = BitmapToRgb(bitmap);
  EXPECT_TRUE(rgb == reference.rgb) << row.file << " differs:" << FirstMismatches(rgb, reference.rgb, reference.width);
}

class CorpusJpeg : public testing::TestWithParam<TCorpusRow> {};
class CorpusGif : public testing::TestWithParam<TCorpusRow> {};
class CorpusBmp : public testing::TestWithParam<TCorpusRow> {};
class CorpusTga : public testing::TestWithParam<TCorpusRow> {};
class CorpusFits : public testing::TestWithParam<TCorpusRow> {};

TEST_P(CorpusJpeg, File) { CheckRow(GetParam()); }
TEST_P(CorpusGif, File) { CheckRow(GetParam()); }
TEST_P(CorpusBmp, File) { CheckRow(GetParam()); }
TEST_P(CorpusTga, File) { CheckRow(GetParam()); }
TEST_P(CorpusFits, File) { CheckRow(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Manifest, CorpusJpeg, testing::ValuesIn(RowsIn({"jpeg"})), PrintName);
INSTANTIATE_TEST_SUITE_P(Manifest, CorpusGif, testing::ValuesIn(RowsIn({"gif"})), PrintName);
INSTANTIATE_TEST_SUITE_P(Manifest, CorpusBmp, testing::ValuesIn(RowsIn({"bmp"})), PrintName);
INSTANTIATE_TEST_SUITE_P(Manifest, CorpusTga, testing::ValuesIn(RowsIn({"tga"})), PrintName);
INSTANTIATE_TEST_SUITE_P(Manifest, CorpusFits, testing::ValuesIn(RowsIn({"fits"})), PrintName);

// Without the corpus the suites above have no rows; this says so.
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(CorpusJpeg);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(CorpusGif);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(CorpusBmp);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(CorpusTga);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(CorpusFits);

TEST(Corpus, Present) {
  if (!CorpusPresent()) GTEST_SKIP() << "no image corpus at " << CorpusDir() << "; corpus tests skipped";
  EXPECT_FALSE(RowsIn({"jpeg", "gif", "bmp", "tga", "fits"}).empty());
}

}  // namespace
