// A format added through the format table alone (the PPM reader kept with the
// tests) goes through a whole run: the walk lists it, a thumbnail is made
// from it, and without thumbnails it is left out as no browser shows it.

#include <gtest/gtest.h>

#include <string>

#include "engine/run/catalog_filter.h"
#include "engine/run_helpers.h"
#include "fixtures/ppm_reader.h"
#include "fixtures/tree_writer.h"
#include "imagein/load_codes.h"
#include "imagein/loader.h"
#include "raster/membitmap.h"

namespace {

class AddedFormatTest : public TEngineTest {
 protected:
  void SetUp() override {
    TEngineTest::SetUp();
    ASSERT_TRUE(RegisterImageFormat(PpmFormatRow()));
  }
  void TearDown() override {
    ClearRegisteredFormats();
    TEngineTest::TearDown();
  }
  // A red image of `width` x `height`.
  void WriteRed(const std::string& relative, int32_t width, int32_t height) {
    std::string rgb;
    for (int32_t i = 0; i < width * height; ++i) rgb += std::string("\xe0\x10\x10", 3);
    ASSERT_TRUE(WriteFileBytes(Path(relative), PpmBytes(width, height, rgb)));
  }
};

TEST_F(AddedFormatTest, AnIndexedTreeShowsTheNewFormatsThumbnail) {
  ASSERT_TRUE(MakeDirs(Path("x")));
  WriteRed("x/a.ppm", 60, 40);
  ASSERT_TRUE(WriteFileBytes(Path("x/b.ppm"), "P6\n# cut in its header\n60"));
  for (int straightforward = 0; straightforward <= 1; ++straightforward) {
    SCOPED_TRACE(straightforward ? "straightforward" : "produced ahead");
    const TRunResult run = RunIndex(Path("x"), [&](TThreadVellumcast& w) {
      w.options.formats = kFormatsAll;
      w.options.createthumbs = 1;
      w.options.straightforward = straightforward;
    });
    EXPECT_EQ(run.filecount, 2);
    const std::string page = Page("x/vellumcast.html");
    EXPECT_NE(page.find("<td><a href=\"a.ppm\"><img src=quarto_tn/quarto_tn0.jpg width=120 height=80>"),
              std::string::npos)
        << page;
    // The damaged one has no thumbnail and no browser shows it: its name alone.
    EXPECT_NE(page.find("<td><a href=\"b.ppm\">b.ppm</a></td>"), std::string::npos) << page;

    TMemBitmap thumb;
    ASSERT_EQ(LoadImageByExtension(Path("x/quarto_tn/quarto_tn0.jpg").c_str(), 0, 0, thumb, kThumbnailLoadFlags,
                                   nullptr),
              kLoadOk);
    // The middle of the cell is the image's red (blue, green, red in the bitmap).
    const uint8_t* middle = BitmapPixel(thumb, 60, 40);
    EXPECT_NEAR(middle[2], 0xe0, 12);
    EXPECT_NEAR(middle[1], 0x10, 12);
    EXPECT_NEAR(middle[0], 0x10, 12);
    RemoveTree(Path("x/quarto_tn"));
  }
}

TEST_F(AddedFormatTest, WithoutThumbnailsOrWithClassicFormatsTheNewFormatIsNotTaken) {
  ASSERT_TRUE(MakeDirs(Path("x")));
  WriteRed("x/a.ppm", 8, 8);
  int32_t skipped = -1;
  {
    TRecordingOwner owner;
    TThreadVellumcast worker;
    worker.options.path = Path("x");
    worker.options.formats = kFormatsAll;
    worker.ownerwindow = &owner;
    ASSERT_TRUE(worker.Start());
    worker.WaitFor();
    skipped = worker.counters.skipped_undisplayable;
    EXPECT_EQ(worker.counters.filecount, 0);
  }
  EXPECT_EQ(skipped, 1);
  const TRunResult classic = RunIndex(Path("x"), [](TThreadVellumcast& w) { w.options.createthumbs = 1; });
  EXPECT_EQ(classic.filecount, 0);
}

}  // namespace
