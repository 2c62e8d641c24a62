// Which files a run takes with the formats, order and exclusion settings, and
// how images no browser shows are handled with and without thumbnails.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <string>
#include <vector>

#include "engine/run/catalog_filter.h"
#include "engine/run/image_order.h"
#include "engine/modern/page_parts.h"
#include "engine/store/generated_names.h"
#include "engine/run_helpers.h"
#include "fixtures/exif_writer.h"
#include "fixtures/image_writers.h"
#include "fixtures/jpeg_fixtures.h"
#include "fixtures/png_tiff_writers.h"
#include "fixtures/tree_writer.h"
#include "imagein/loader.h"
#include "raster/membitmap.h"

namespace {

class FormatsWalkTest : public TEngineTest {
 protected:
  void Touch(const std::string& relative) { ASSERT_TRUE(WriteFileBytes(Path(relative), "")); }
  void Png(const std::string& relative, int32_t w = 40, int32_t h = 20, bool alpha = false) {
    ASSERT_TRUE(MakeDirs(Path(relative.substr(0, relative.rfind('/')))));
    TRgbaImage reference;
    ASSERT_TRUE(WriteTestPng(Path(relative), w, h, GradientRgbaPixels(w, h),
                             {alpha ? TTestPngColour::kRgba : TTestPngColour::kRgb, 8, false, false}, &reference));
  }
  void Tiff(const std::string& relative) {
    ASSERT_TRUE(MakeDirs(Path(relative.substr(0, relative.rfind('/')))));
    TRgbaImage reference;
    ASSERT_TRUE(WriteTestTiff(Path(relative), 30, 20, GradientRgbaPixels(30, 20), {}, &reference));
  }
  void CopyCorpus(const std::string& corpus_file, const std::string& relative) {
    const std::string bytes = ReadFileBytes(std::string(VELLUMCAST_SOURCE_DIR) + "/tests/corpus/" + corpus_file);
    ASSERT_FALSE(bytes.empty()) << corpus_file;
    ASSERT_TRUE(WriteFileBytes(Path(relative), bytes));
  }
  // The href of every cell of a page, in order.
  std::vector<std::string> Cells(const std::string& page_path) {
    const std::string page = Page(page_path);
    std::vector<std::string> cells;
    for (size_t at = page.find("<td><a href=\""); at != std::string::npos; at = page.find("<td><a href=\"", at + 1)) {
      const size_t start = at + 13;
      cells.push_back(page.substr(start, page.find('"', start) - start));
    }
    return cells;
  }
};

TEST_F(FormatsWalkTest, ClassicTakesThreeExtensionsAllTakesEveryReadableOne) {
  const std::vector<std::string> all = {"a.GIF", "b.jpg", "c.bmp", "d.JPEG", "e.jpe", "f.jfif", "g.png", "h.webp",
                                        "i.heic", "j.HEIF", "k.avif", "l.tif", "m.tiff", "n.tga", "o.fts", "p.fits"};
  for (const std::string& name : all) Touch("x/" + name);
  Touch("x/q.txt");
  Touch("x/r.svg");
  RunIndex(Path("x"));
  EXPECT_EQ(Cells("x/vellumcast.html"), (std::vector<std::string>{"a.GIF", "b.jpg", "c.bmp"}));

  // Thumbnails on: nothing is left out for want of a browser.
  const TRunResult run = RunIndex(Path("x"), [](TThreadVellumcast& w) {
    w.options.formats = kFormatsAll;
    w.options.createthumbs = 1;
    w.options.rowsperpage = 0;
  });
  EXPECT_EQ(run.filecount, static_cast<int32_t>(all.size()));
  std::vector<std::string> cells = Cells("x/vellumcast.html");
  EXPECT_EQ(cells.size(), all.size());
}

TEST_F(FormatsWalkTest, WithoutThumbnailsImagesNoBrowserShowsAreLeftOutAndCounted) {
  for (const char* name : {"a.png", "b.heic", "c.tif", "d.tga", "e.fits", "f.avif", "g.webp", "h.jpeg"}) Touch(std::string("x/") + name);
  int32_t skipped = -1;
  TRecordingOwner owner;
  {
    TThreadVellumcast worker;
    worker.options.path = Path("x");
    worker.options.formats = kFormatsAll;
    worker.ownerwindow = &owner;
    ASSERT_TRUE(worker.Start());
    worker.WaitFor();
    skipped = worker.counters.skipped_undisplayable;
    EXPECT_EQ(worker.counters.filecount, 4);
  }
  EXPECT_EQ(skipped, 4);
  EXPECT_EQ(Cells("x/vellumcast.html"), (std::vector<std::string>{"a.png", "f.avif", "g.webp", "h.jpeg"}));
}

// The modern style makes a web copy of such an image, thumbnails on or off.
TEST_F(FormatsWalkTest, TheModernStyleLeavesOutNoImageForWantOfABrowser) {
  Tiff("x/c.tif");
  char stem[32];
  NamedImageStem("c.tif", stem, sizeof stem);
  const TRunResult run = RunIndex(Path("x"), [](TThreadVellumcast& w) {
    w.options.style = kStyleModern;
    w.options.formats = kFormatsAll;
  });
  EXPECT_EQ(run.filecount, 1);
  EXPECT_TRUE(Exists("x/quarto_tn/" + std::string(stem) + "-web.jpg"));
  EXPECT_NE(Page("x/" + ViewerPageName("c.tif")).find(std::string(stem) + "-web.jpg"), std::string::npos);
}

TEST_F(FormatsWalkTest, ThumbnailsOfNewFormatsAndANameOnlyCellWhenOneCannotBeMade) {
  Png("x/a.png");
  Tiff("x/b.tif");
  CopyCorpus("heif/rgb.heic", "x/c.heic");
  CopyCorpus("damaged/heic_cut_in_header.heic", "x/d.heic");
  CopyCorpus("damaged/png_not_png.png", "x/e.png");
  for (int straightforward = 0; straightforward <= 1; ++straightforward) {
    SCOPED_TRACE(straightforward ? "straightforward" : "produced ahead");
    RunIndex(Path("x"), [&](TThreadVellumcast& w) {
      w.options.formats = kFormatsAll;
      w.options.createthumbs = 1;
      w.options.straightforward = straightforward;
    });
    const std::string page = Page("x/vellumcast.html");
    for (int i : {0, 1, 2}) {
      EXPECT_NE(page.find("<img src=quarto_tn/quarto_tn" + std::to_string(i) + ".jpg width=120 height=80>"),
                std::string::npos)
          << i;
      EXPECT_TRUE(Exists("x/quarto_tn/quarto_tn" + std::to_string(i) + ".jpg")) << i;
    }
    // The damaged HEIC has no thumbnail and no browser shows it: its cell is its name alone.
    EXPECT_NE(page.find("<td><a href=\"d.heic\">d.heic</a></td>"), std::string::npos);
    // A PNG that does not decode falls back to the full image, as browsers show PNG.
    EXPECT_NE(page.find("<td><a href=\"e.png\"><img src=\"e.png\" width=120>"), std::string::npos);
    RemoveTree(Path("x/quarto_tn"));
  }
}

TEST_F(FormatsWalkTest, TransparentPixelsTakeTheThumbnailBackground) {
  // Alpha runs from 0 at the left to 255 at the right; the image fills the cell's width.
  Png("x/a.png", 120, 50, true);
  for (const int white : {0, 255}) {
    RunIndex(Path("x"), [&](TThreadVellumcast& w) {
      w.options.formats = kFormatsAll;
      w.options.createthumbs = 1;
      w.options.thumbwhite = white;
    });
    TMemBitmap thumb;
    ASSERT_EQ(LoadImageByExtension(Path("x/quarto_tn/quarto_tn0.jpg").c_str(), 0, 0, thumb, kThumbnailLoadFlags,
                                   nullptr),
              0);
    // Left edge of the image row in the middle: fully transparent, so the background.
    const uint8_t* left = BitmapPixel(thumb, 1, 40);
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(left[c], white, 12) << "white " << white;
  }
}

TEST_F(FormatsWalkTest, NaturalOrderNumbersThumbnailsInPageOrder) {
  for (const char* name : {"img10.png", "img2.png", "IMG1.png"}) Png(std::string("x/") + name);
  RunIndex(Path("x"), [](TThreadVellumcast& w) {
    w.options.formats = kFormatsAll;
    w.options.order = kOrderNatural;
    w.options.createthumbs = 1;
  });
  EXPECT_EQ(Cells("x/vellumcast.html"), (std::vector<std::string>{"IMG1.png", "img2.png", "img10.png"}));
  const std::string page = Page("x/vellumcast.html");
  EXPECT_LT(page.find("quarto_tn0.jpg"), page.find("img2.png"));
  EXPECT_LT(page.find("quarto_tn1.jpg"), page.find("img10.png"));
  EXPECT_GT(page.find("quarto_tn1.jpg"), page.find("IMG1.png"));
  // Name order: bytes, upper case first.
  RunIndex(Path("x"), [](TThreadVellumcast& w) { w.options.formats = kFormatsAll; });
  EXPECT_EQ(Cells("x/vellumcast.html"), (std::vector<std::string>{"IMG1.png", "img10.png", "img2.png"}));
}

TEST_F(FormatsWalkTest, DateOrderFollowsModificationTimesThenNames) {
  const struct {
    const char* name;
    time_t when;
  } files[] = {{"a.jpg", 3000}, {"b.jpg", 1000}, {"c10.jpg", 2000}, {"c9.jpg", 2000}};
  for (const auto& f : files) {
    ASSERT_TRUE(MakeDirs(Path("x")));
    ASSERT_TRUE(WriteTestJpeg(Path(std::string("x/") + f.name), 8, 8));
    const utimbuf times{f.when, f.when};
    ASSERT_EQ(::utime(Path(std::string("x/") + f.name).c_str(), &times), 0);
  }
  RunIndex(Path("x"), [](TThreadVellumcast& w) { w.options.order = kOrderDate; });
  EXPECT_EQ(Cells("x/vellumcast.html"), (std::vector<std::string>{"b.jpg", "c9.jpg", "c10.jpg", "a.jpg"}));
}

TEST_F(FormatsWalkTest, DateOrderTakesTheDateTakenBeforeTheModificationTime) {
  ASSERT_TRUE(MakeDirs(Path("x")));
  const std::vector<uint8_t> plain = EncodeJpeg(MakeGradientImage(8, 8));
  const auto with_date = [&](const char* original, const char* date_time) {
    TTestExif exif;
    exif.date_original = original;
    exif.date_time = date_time;
    const std::vector<uint8_t> bytes = InsertApp1(plain, MakeExifBlock(exif));
    return std::string(bytes.begin(), bytes.end());
  };
  // Taken 2001 and 1999 (DateTime only), modified 2030; no EXIF, modified 2000.
  ASSERT_TRUE(WriteFileBytes(Path("x/a.jpg"), with_date("2001:05:06 07:08:09", "")));
  ASSERT_TRUE(WriteFileBytes(Path("x/b.jpg"), with_date("", "1999:12:31 23:59:59")));
  ASSERT_TRUE(WriteFileBytes(Path("x/c.jpg"), std::string(plain.begin(), plain.end())));
  const time_t modified_2030 = 1900000000;
  const time_t modified_2000 = 946684800 + 3600;
  for (const char* name : {"a.jpg", "b.jpg"}) {
    const utimbuf times{modified_2030, modified_2030};
    ASSERT_EQ(::utime(Path(std::string("x/") + name).c_str(), &times), 0);
  }
  const utimbuf times{modified_2000, modified_2000};
  ASSERT_EQ(::utime(Path("x/c.jpg").c_str(), &times), 0);
  RunIndex(Path("x"), [](TThreadVellumcast& w) { w.options.order = kOrderDate; });
  EXPECT_EQ(Cells("x/vellumcast.html"), (std::vector<std::string>{"b.jpg", "c.jpg", "a.jpg"}));
}

TEST_F(FormatsWalkTest, ExclusionsAndHiddenFolders) {
  for (const char* name : {"keep.gif", "skip.gif", "Draft-1.jpg", "sub/in.gif", "Private/p.gif", ".hidden/h.gif",
                           "@eaDir/thumb.jpg", "#recycle/old.jpg", "deep/.cache/c.gif"}) {
    Touch(std::string("x/") + name);
  }
  const TRunResult plain = RunIndex(Path("x"));
  EXPECT_EQ(plain.filecount, 9);

  const TRunResult run = RunIndex(Path("x"), [](TThreadVellumcast& w) {
    w.options.exclude = {"skip.*", "draft-?.JPG", "private"};
    w.options.skiphidden = kSwitchOn;
  });
  EXPECT_EQ(Cells("x/vellumcast.html"), (std::vector<std::string>{"keep.gif"}));
  EXPECT_EQ(run.filecount, 2);  // keep.gif and sub/in.gif
  const std::string page = Page("x/vellumcast.html");
  EXPECT_NE(page.find("sub/vellumcast.html"), std::string::npos);
  for (const char* absent : {"Private", ".hidden", "@eaDir", "#recycle", "deep"}) {
    EXPECT_EQ(page.find(absent), std::string::npos) << absent;
  }
}

TEST(CatalogFilter, PatternListsAndSettingNames) {
  EXPECT_EQ(SplitPatternList(";a*;;b?c;"), (std::vector<std::string>{"a*", "b?c"}));
  EXPECT_EQ(JoinPatternList({"a*", "b?c"}), "a*;b?c");
  EXPECT_TRUE(SplitPatternList("").empty());
  int32_t formats = -1;
  EXPECT_TRUE(ParseCatalogFormats("all", &formats));
  EXPECT_EQ(formats, kFormatsAll);
  EXPECT_TRUE(ParseCatalogFormats("classic", &formats));
  EXPECT_EQ(formats, kFormatsClassic);
  EXPECT_FALSE(ParseCatalogFormats("ALL", &formats));
}

}  // namespace
