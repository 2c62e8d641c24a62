// JPEG coding into memory gives the bytes JpegWriteBitmap puts into a file,
// and the finished file image is put in place whole or not at all.

#include "raster/jpeg_memory_writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <string>

#include "fixtures/jpeg_file_writer.h"
#include "fixtures/tree_writer.h"
#include "platform/atomic_file.h"

namespace {

namespace fs = std::filesystem;

// A bitmap whose pixels (padding included) follow a pattern of the seed.
void MakePatternBitmap(TMemBitmap& bitmap, int32_t width, int32_t height, uint32_t seed) {
  ASSERT_TRUE(BitmapCreate(bitmap, width, height));
  uint32_t state = seed * 2654435761u + 7;
  const size_t bytes = size_t{BitmapStride(width)} * static_cast<size_t>(height);
  for (size_t i = 0; i < bytes; ++i) {
    state = state * 1664525u + 1013904223u;
    bitmap.pixels[i] = static_cast<uint8_t>((state >> 24) ^ (i * 7));
  }
}

std::string Bytes(const TEncodedJpeg& jpeg) {
  return std::string(reinterpret_cast<const char*>(jpeg.data), jpeg.size);
}

// Names left in the folder besides the expected ones (temporary files).
int EntriesIn(const std::string& folder) {
  int n = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder)) ++n;
  return n;
}

class JpegMemoryWriterTest : public ::testing::Test {
 protected:
  TScratchDir dir_{"vc-jpegmem"};
};

TEST_F(JpegMemoryWriterTest, SameBytesAsTheFileWriter) {
  struct TCase {
    int32_t width;
    int32_t height;
    int quality;
  };
  // Sizes around the 8- and 16-pixel blocks, a buffer that must grow, the
  // qualities libjpeg clamps.
  const TCase cases[] = {{1, 1, 90},   {5, 3, 90},    {120, 80, 90}, {17, 33, 50},
                         {16, 16, 100}, {640, 480, 90}, {33, 21, 0},  {7, 9, 120}};
  uint32_t seed = 1;
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " q" + std::to_string(c.quality));
    TMemBitmap bitmap;
    MakePatternBitmap(bitmap, c.width, c.height, seed++);
    const std::string path = dir_.Join("w.jpg");
    ASSERT_TRUE(JpegWriteBitmap(bitmap, path.c_str(), c.quality));
    TEncodedJpeg jpeg;
    ASSERT_TRUE(JpegEncodeBitmap(bitmap, c.quality, jpeg));
    EXPECT_EQ(Bytes(jpeg), ReadFileBytes(path));
  }
}

TEST_F(JpegMemoryWriterTest, RefusesWhatTheFileWriterRefuses) {
  TEncodedJpeg jpeg;
  TMemBitmap empty;
  EXPECT_FALSE(JpegEncodeBitmap(empty, 90, jpeg));
  EXPECT_EQ(jpeg.data, nullptr);
  TMemBitmap indexed;
  MakePatternBitmap(indexed, 8, 8, 3);
  indexed.header.biBitCount = 8;
  EXPECT_FALSE(JpegEncodeBitmap(indexed, 90, jpeg));
  TMemBitmap short_memory;
  MakePatternBitmap(short_memory, 8, 8, 4);
  short_memory.pixel_bytes = 8;  // rows beyond the block are never read
  EXPECT_FALSE(JpegEncodeBitmap(short_memory, 90, jpeg));
}

TEST_F(JpegMemoryWriterTest, FilesArePutInPlaceWholeOrNotAtAll) {
  const uint8_t data[] = {1, 2, 3, 4, 5};
  const std::string path = dir_.Join("t.jpg");
  ASSERT_TRUE(WriteFileBytes(path, "an earlier file"));
  EXPECT_TRUE(WriteFileReplacing(path.c_str(), data, sizeof data));
  EXPECT_EQ(ReadFileBytes(path), std::string("\1\2\3\4\5"));
  EXPECT_EQ(EntriesIn(dir_.path()), 1);

  // A folder in the way, a missing folder, an empty path: no file, no temporary left.
  ASSERT_TRUE(MakeDirs(dir_.Join("taken.jpg")));
  EXPECT_FALSE(WriteFileReplacing(dir_.Join("taken.jpg").c_str(), data, sizeof data));
  EXPECT_FALSE(WriteFileReplacing(dir_.Join("missing/t.jpg").c_str(), data, sizeof data));
  EXPECT_FALSE(WriteFileReplacing("", data, sizeof data));
  EXPECT_FALSE(WriteFileReplacing(nullptr, data, sizeof data));
  EXPECT_EQ(EntriesIn(dir_.path()), 2);
  EXPECT_TRUE(fs::is_directory(dir_.Join("taken.jpg")));
}

// A file that holds the same bytes already is left as it is (inode and
// date); anything else - other length, other content, no file - is written;
// a link (even to the same bytes) and a folder are refused and left as they are.
TEST_F(JpegMemoryWriterTest, AFileWithTheSameBytesIsLeftUntouched) {
  const std::string data = "\xff\xd8 thumbnail bytes \xff\xd9";
  const auto* bytes = reinterpret_cast<const uint8_t*>(data.data());
  const struct {
    const char* label;
    std::function<void(const std::string&)> prepare;
    bool holds_before;
    bool untouched;
    bool written = true;
  } cases[] = {
      {"same bytes", [&](const std::string& p) { ASSERT_TRUE(WriteFileBytes(p, data)); }, true, true},
      {"one byte more", [&](const std::string& p) { ASSERT_TRUE(WriteFileBytes(p, data + "x")); }, false, false},
      {"same length, other content",
       [&](const std::string& p) {
         std::string other = data;
         other[other.size() / 2] ^= 1;
         ASSERT_TRUE(WriteFileBytes(p, other));
       },
       false, false},
      {"a link to the same bytes",
       [&](const std::string& p) {
         ASSERT_TRUE(WriteFileBytes(p + ".target", data));
         fs::create_symlink(p + ".target", p);
       },
       false, true, false},
      {"no file", [](const std::string&) {}, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    TScratchDir dir("vc-same-bytes");
    const std::string path = dir.Join("quarto_tn0.jpg");
    c.prepare(path);
    struct stat before {};
    const bool existed = ::lstat(path.c_str(), &before) == 0;
    EXPECT_EQ(FileHoldsBytes(path.c_str(), bytes, data.size()), c.holds_before);
    EXPECT_EQ(WriteFileIfChanged(path.c_str(), bytes, data.size()), c.written);
    EXPECT_EQ(ReadFileBytes(path), data);
    EXPECT_EQ(fs::is_symlink(path), !c.written);  // a link is neither replaced nor written through
    struct stat after {};
    ASSERT_EQ(::lstat(path.c_str(), &after), 0);
    EXPECT_EQ(existed && after.st_ino == before.st_ino && after.st_mtim.tv_nsec == before.st_mtim.tv_nsec,
              c.untouched);
    EXPECT_EQ(EntriesIn(dir.path()), fs::exists(path + ".target") ? 2 : 1);  // no temporary file left
  }
  ASSERT_TRUE(MakeDirs(dir_.Join("taken.jpg")));
  EXPECT_FALSE(FileHoldsBytes(dir_.Join("taken.jpg").c_str(), bytes, 0));
  EXPECT_FALSE(WriteFileIfChanged(dir_.Join("taken.jpg").c_str(), bytes, data.size()));
}

}  // namespace
