// A thumbnail run over small hostile JPEG files: four progressive files of a
// few hundred bytes that declare 18900 x 18900 pixels, and a file of two
// thousand scans, beside ordinary pictures. Each hostile file is refused for
// its own cap, the ordinary ones get their thumbnails, and the run's peak
// memory stays far below what one decode of the hostile files would take.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/cli_runner.h"
#include "fixtures/hostile_jpeg.h"
#include "fixtures/image_writers.h"
#include "fixtures/jpeg_fixtures.h"
#include "fixtures/tree_writer.h"

namespace {

// The program itself, its threads and the ordinary pictures fit well within
// this; one decode of a hostile file would touch a gigabyte or more.
constexpr long kPeakKiB = 300 * 1024;

TEST(CliHostileJpeg, ThumbnailRunRefusesHostileFilesWithinTheMemoryCap) {
  TScratchDir dir("vc-hostile");
  const std::vector<uint8_t> huge = MakeHugeDeclaredProgressiveJpeg(18900, 18900);
  const std::vector<uint8_t> scans = MakeManyScanJpeg(256, 256, 3, 2000);
  ASSERT_FALSE(huge.empty());
  ASSERT_FALSE(scans.empty());
  ASSERT_TRUE(MakeDirs(dir.Join("pics")));
  // Sorted names: a.jpg, b.jpg (ordinary), h0..h3 (huge), s.jpg (scans), z.jpg.
  ASSERT_TRUE(WriteJpegFile(dir.Join("pics/a.jpg"), MakeGradientImage(200, 150)));
  ASSERT_TRUE(WriteJpegFile(dir.Join("pics/b.jpg"), MakeQuadrantImage(160, 160)));
  for (int i = 0; i < 4; ++i)
    ASSERT_TRUE(WriteBytesFile(dir.Join("pics/h" + std::to_string(i) + ".jpg"), huge));
  ASSERT_TRUE(WriteBytesFile(dir.Join("pics/s.jpg"), scans));
  ASSERT_TRUE(WriteJpegFile(dir.Join("pics/z.jpg"), MakeGradientImage(90, 120)));

  for (const char* path_option : {"--straightforward=0", "--straightforward=1"}) {
    SCOPED_TRACE(path_option);
    RemoveTree(dir.Join("pics/quarto_tn"));
    const TCliResult run = RunCli({"index", "--createthumbs=1", path_option, "pics"}, dir.path());
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_LT(run.peak_kib, kPeakKiB);
    // Positions follow the sorted names; the refused files fall back to the full image.
    EXPECT_TRUE(FileExists(dir.Join("pics/quarto_tn/quarto_tn0.jpg")));
    EXPECT_TRUE(FileExists(dir.Join("pics/quarto_tn/quarto_tn1.jpg")));
    for (int position = 2; position <= 6; ++position)
      EXPECT_FALSE(FileExists(dir.Join("pics/quarto_tn/quarto_tn" + std::to_string(position) + ".jpg")))
          << position;
    EXPECT_TRUE(FileExists(dir.Join("pics/quarto_tn/quarto_tn7.jpg")));
    const std::string page = ReadFileBytes(dir.Join("pics/vellumcast.html"));
    EXPECT_NE(page.find("<img src=\"h3.jpg\""), std::string::npos);
    EXPECT_NE(page.find("<img src=\"s.jpg\""), std::string::npos);
  }
}

}  // namespace
