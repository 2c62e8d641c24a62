// The modern style's per-image thumbnails and web copies: their quality
// against a reference Lanczos-3 reduction, EXIF orientation, ICC conversion,
// cropping, names, reuse through the manifest, and failures.

#include "engine/modern/images.h"

#include <gtest/gtest.h>
#include <lcms2.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/store/generated_names.h"
#include "engine/store/modern_manifest.h"
#include "fixtures/detail_image.h"
#include "fixtures/exif_writer.h"
#include "fixtures/image_writers.h"
#include "fixtures/jpeg_fixtures.h"
#include "fixtures/photo_text_writer.h"
#include "fixtures/png_tiff_writers.h"
#include "fixtures/tree_writer.h"
#include "raster/orient.h"

namespace {

namespace fs = std::filesystem;

// The Lanczos-3 reduction of `region` of `source` to out_width x out_height,
// in double precision, taps beyond the edges taken from the edge pixels.
struct TAxisWeights {
  std::vector<int> first;                     // per output: first source index with a weight
  std::vector<std::vector<double>> weights;   // per output: weights from `first` on
};

double Lanczos3(double x) {
  if (std::fabs(x) >= 3.0) return 0.0;
  if (x == 0.0) return 1.0;
  const double a = M_PI * x;
  return 3.0 * std::sin(a) * std::sin(a / 3.0) / (a * a);
}

TAxisWeights ReferenceAxis(int source_count, double start, double length, int out_count) {
  TAxisWeights axis;
  const double scale = length / out_count;
  const double filter = std::max(scale, 1.0);
  for (int i = 0; i < out_count; ++i) {
    const double centre = start + (i + 0.5) * scale;
    const int left = static_cast<int>(std::floor(centre - 3 * filter));
    const int right = static_cast<int>(std::ceil(centre + 3 * filter));
    std::vector<double> w(static_cast<size_t>(source_count), 0.0);
    double total = 0;
    for (int j = left; j <= right; ++j) {
      const double v = Lanczos3((j + 0.5 - centre) / filter);
      w[static_cast<size_t>(std::clamp(j, 0, source_count - 1))] += v;
      total += v;
    }
    const int lo = std::clamp(left, 0, source_count - 1);
    const int hi = std::clamp(right, 0, source_count - 1);
    std::vector<double> taps(w.begin() + lo, w.begin() + hi + 1);
    for (double& v : taps) v /= total;
    axis.first.push_back(lo);
    axis.weights.push_back(taps);
  }
  return axis;
}

TRgbImage ReferenceReduction(const TRgbImage& source, double left, double top, double width, double height,
                             int out_width, int out_height) {
  const TAxisWeights xs = ReferenceAxis(source.width, left, width, out_width);
  const TAxisWeights ys = ReferenceAxis(source.height, top, height, out_height);
  std::vector<double> rows(static_cast<size_t>(source.height) * out_width * 3, 0.0);
  for (int y = 0; y < source.height; ++y) {
    for (int i = 0; i < out_width; ++i) {
      const std::vector<double>& taps = xs.weights[static_cast<size_t>(i)];
      for (size_t k = 0; k < taps.size(); ++k) {
        const uint8_t* p = source.Pixel(xs.first[static_cast<size_t>(i)] + static_cast<int>(k), y);
        for (int c = 0; c < 3; ++c) rows[(static_cast<size_t>(y) * out_width + i) * 3 + c] += taps[k] * p[c];
      }
    }
  }
  TRgbImage out;
  out.width = out_width;
  out.height = out_height;
  out.rgb.resize(static_cast<size_t>(out_width) * out_height * 3);
  for (int j = 0; j < out_height; ++j) {
    for (int i = 0; i < out_width; ++i) {
      for (int c = 0; c < 3; ++c) {
        double v = 0;
        const std::vector<double>& taps = ys.weights[static_cast<size_t>(j)];
        for (size_t k = 0; k < taps.size(); ++k) {
          const size_t y = static_cast<size_t>(ys.first[static_cast<size_t>(j)]) + k;
          v += taps[k] * rows[(y * out_width + i) * 3 + c];
        }
        out.Pixel(i, j)[c] = static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L));
      }
    }
  }
  return out;
}

double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  if (a.size() != b.size() || a.empty()) return 0;
  double sum = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    const double d = static_cast<double>(a[i]) - b[i];
    sum += d * d;
  }
  const double mse = sum / static_cast<double>(a.size());
  return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

TRgbImage ToImage(const TDecodedJpeg& decoded) {
  TRgbImage image;
  image.width = decoded.width;
  image.height = decoded.height;
  image.rgb = decoded.pixels;
  return image;
}

class ModernImagesTest : public ::testing::Test {
 protected:
  std::string Folder() const { return dir_.path(); }
  std::string In(const std::string& relative) const { return dir_.Join(relative); }
  TDecodedJpeg Decode(const std::string& relative) const { return DecodeJpegFile(In(relative)); }

  TScratchDir dir_{"vc-modern"};
  TModernImageOptions options_;
};

TEST_F(ModernImagesTest, ThumbnailsMatchAReferenceLanczosReduction) {
  struct TCase {
    const char* label;
    int width;
    int height;
    int32_t orientation;
    int32_t crop;
  } cases[] = {
      {"landscape fitted", 1600, 1200, 1, 0},
      {"portrait fitted, turned", 900, 1400, 6, 0},
      {"landscape cropped, mirrored", 1500, 800, 2, 1},
      {"small fitted, no DCT scaling", 400, 330, 1, 0},
      {"large, thumbnails from the web copy", 2600, 1700, 1, 0},
  };
  TJpegFixtureOptions coding;
  coding.flavour = TJpegFlavour::kBaseline444;
  coding.quality = 95;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string name = std::string("d") + std::to_string(c.width) + ".jpg";
    const TRgbImage upright = MakeDetailImage(c.width, c.height, static_cast<uint32_t>(c.width));
    ASSERT_TRUE(WriteBytesFile(In(name), EncodeOrientedJpeg(upright, c.orientation, coding)));
    // The reference starts from the same decoded pixels, turned upright.
    const TRgbImage stored = ToImage(DecodeJpegBytes(ReadBytesFile(In(name))));
    TRgbImage decoded_upright = upright;
    for (int y = 0; y < upright.height; ++y) {
      for (int x = 0; x < upright.width; ++x) {
        int32_t sx = 0;
        int32_t sy = 0;
        OrientedSource(c.orientation, x, y, stored.width, stored.height, &sx, &sy);
        std::copy_n(stored.Pixel(sx, sy), 3, decoded_upright.Pixel(x, y));
      }
    }
    options_.crop = c.crop;
    TModernImageResult result;
    ASSERT_TRUE(ProduceModernImages(Folder().c_str(), name.c_str(), options_, &result));
    EXPECT_EQ(result.facts.width, c.width);
    EXPECT_EQ(result.facts.height, c.height);
    for (int scale : {1, 2}) {
      const std::string& relative = scale == 1 ? result.thumb_1x : result.thumb_2x;
      if (scale == 2 && relative.empty()) continue;
      const TDecodedJpeg thumb = Decode(relative);
      ASSERT_TRUE(thumb.ok) << relative;
      ASSERT_EQ(thumb.width, result.thumb_width * scale);
      ASSERT_EQ(thumb.height, result.thumb_height * scale);
      double left = 0, top = 0, width = c.width, height = c.height;
      if (c.crop == 1) {
        const double s = std::min(std::max(140.0 / c.width, 100.0 / c.height), 1.0);
        width = result.thumb_width / s;
        height = result.thumb_height / s;
        left = (c.width - width) / 2;
        top = (c.height - height) / 2;
      }
      const TRgbImage reference =
          ReferenceReduction(decoded_upright, left, top, width, height, thumb.width, thumb.height);
      const double psnr = Psnr(reference.rgb, thumb.pixels);
      EXPECT_GE(psnr, 30.0) << relative;
    }
  }
}

// The colour at (x, y) of a decoded JPEG, as the quadrant it should be.
void ExpectColour(const TDecodedJpeg& image, int x, int y, int r, int g, int b, int tolerance) {
  const uint8_t* p = &image.pixels[(static_cast<size_t>(y) * image.width + x) * 3];
  EXPECT_NEAR(p[0], r, tolerance) << x << "," << y;
  EXPECT_NEAR(p[1], g, tolerance) << x << "," << y;
  EXPECT_NEAR(p[2], b, tolerance) << x << "," << y;
}

void ExpectUprightQuadrants(const TDecodedJpeg& image) {
  ASSERT_TRUE(image.ok);
  const int w = image.width;
  const int h = image.height;
  ExpectColour(image, w / 4, h / 4, 255, 0, 0, 40);
  ExpectColour(image, w * 3 / 4, h / 4, 0, 255, 0, 40);
  ExpectColour(image, w / 4, h * 3 / 4, 0, 0, 255, 40);
  ExpectColour(image, w * 3 / 4, h * 3 / 4, 255, 255, 255, 40);
}

TEST_F(ModernImagesTest, EveryExifOrientationGivesUprightImages) {
  const TRgbImage upright = MakeQuadrantImage(400, 300);
  for (int32_t orientation = 1; orientation <= 8; ++orientation) {
    SCOPED_TRACE(orientation);
    const std::string name = "o" + std::to_string(orientation) + ".jpg";
    ASSERT_TRUE(WriteBytesFile(In(name), EncodeOrientedJpeg(upright, orientation)));
    TModernImageResult result;
    ASSERT_TRUE(ProduceModernImages(Folder().c_str(), name.c_str(), options_, &result));
    EXPECT_EQ(result.facts.width, 400);
    EXPECT_EQ(result.facts.height, 300);
    EXPECT_EQ(result.facts.orientation, orientation);
    EXPECT_EQ(result.thumb_width, 133);
    EXPECT_EQ(result.thumb_height, 100);
    ExpectUprightQuadrants(Decode(result.thumb_1x));
    ExpectUprightQuadrants(Decode(result.thumb_2x));
    // The browser would not turn a copy for the viewer: a turned one is made,
    // an upright original of this size serves as it is.
    if (orientation == 1) {
      EXPECT_TRUE(result.web_copy.empty());
    } else {
      ASSERT_FALSE(result.web_copy.empty());
      EXPECT_EQ(result.web_width, 400);
      EXPECT_EQ(result.web_height, 300);
      ExpectUprightQuadrants(Decode(result.web_copy));
    }
  }
}

std::vector<uint8_t> AdobeLikeProfile() {
  const cmsCIExyY white{0.3127, 0.3290, 1.0};
  const cmsCIExyYTRIPLE primaries{{0.64, 0.33, 1.0}, {0.21, 0.71, 1.0}, {0.15, 0.06, 1.0}};
  cmsToneCurve* gamma = cmsBuildGamma(nullptr, 2.2);
  cmsToneCurve* curves[3] = {gamma, gamma, gamma};
  cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
  cmsFreeToneCurve(gamma);
  cmsUInt32Number size = 0;
  cmsSaveProfileToMem(profile, nullptr, &size);
  std::vector<uint8_t> bytes(size);
  cmsSaveProfileToMem(profile, bytes.data(), &size);
  cmsCloseProfile(profile);
  return bytes;
}

TEST_F(ModernImagesTest, EmbeddedProfilesAreConvertedToSrgb) {
  const std::vector<uint8_t> profile = AdobeLikeProfile();
  ASSERT_GT(profile.size(), 200u);
  const uint8_t colour[3] = {100, 150, 200};
  // What that colour is in sRGB, by lcms2 directly.
  uint8_t expected[3] = {};
  {
    cmsHPROFILE source = cmsOpenProfileFromMem(profile.data(), static_cast<cmsUInt32Number>(profile.size()));
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHTRANSFORM t = cmsCreateTransform(source, TYPE_RGB_8, srgb, TYPE_RGB_8, INTENT_PERCEPTUAL, 0);
    cmsDoTransform(t, colour, expected, 1);
    cmsDeleteTransform(t);
    cmsCloseProfile(source);
    cmsCloseProfile(srgb);
  }
  // The conversion must show: the values differ clearly from the stored ones.
  ASSERT_GT(std::abs(expected[1] - colour[1]) + std::abs(expected[0] - colour[0]), 10);

  TJpegFixtureOptions coding;
  coding.flavour = TJpegFlavour::kBaseline444;
  coding.quality = 98;
  const std::vector<uint8_t> plain = EncodeJpeg(MakeSolidImage(600, 400, colour[0], colour[1], colour[2]), coding);
  // The profile in three chunks, as large profiles come.
  ASSERT_TRUE(WriteBytesFile(In("adobe.jpg"), InsertIccProfile(plain, profile, profile.size() / 3 + 1)));
  ASSERT_TRUE(WriteBytesFile(In("plain.jpg"), plain));
  // Chunks that do not make up a profile are ignored.
  std::vector<uint8_t> broken = InsertIccProfile(plain, profile, profile.size() / 3 + 1);
  broken[4 + 2 + 12] = 7;  // first chunk claims sequence number 7
  ASSERT_TRUE(WriteBytesFile(In("broken.jpg"), broken));

  TModernImageResult result;
  ASSERT_TRUE(ProduceModernImages(Folder().c_str(), "adobe.jpg", options_, &result));
  for (const std::string* relative : {&result.thumb_1x, &result.thumb_2x}) {
    const TDecodedJpeg thumb = Decode(*relative);
    ASSERT_TRUE(thumb.ok);
    ExpectColour(thumb, thumb.width / 2, thumb.height / 2, expected[0], expected[1], expected[2], 4);
  }
  for (const char* name : {"plain.jpg", "broken.jpg"}) {
    ASSERT_TRUE(ProduceModernImages(Folder().c_str(), name, options_, &result)) << name;
    const TDecodedJpeg thumb = Decode(result.thumb_1x);
    ExpectColour(thumb, thumb.width / 2, thumb.height / 2, colour[0], colour[1], colour[2], 4);
  }
}

TEST_F(ModernImagesTest, CropFillsTheCellFromTheCentre) {
  // A wide picture: red outer thirds, blue centre third.
  TRgbImage wide = MakeSolidImage(900, 200, 0, 0, 255);
  for (int y = 0; y < wide.height; ++y) {
    for (int x = 0; x < wide.width; ++x) {
      if (x < 300 || x >= 600) {
        uint8_t* p = wide.Pixel(x, y);
        p[0] = 255;
        p[2] = 0;
      }
    }
  }
  ASSERT_TRUE(WriteJpegFile(In("wide.jpg"), wide));
  options_.crop = 1;
  TModernImageResult result;
  ASSERT_TRUE(ProduceModernImages(Folder().c_str(), "wide.jpg", options_, &result));
  EXPECT_EQ(result.thumb_width, 140);
  EXPECT_EQ(result.thumb_height, 100);
  for (const std::string* relative : {&result.thumb_1x, &result.thumb_2x}) {
    const TDecodedJpeg thumb = Decode(*relative);
    ASSERT_TRUE(thumb.ok);
    EXPECT_EQ(thumb.width, relative == &result.thumb_1x ? 140 : 280);
    // Only the blue centre is left.
    ExpectColour(thumb, 2, thumb.height / 2, 0, 0, 255, 30);
    ExpectColour(thumb, thumb.width - 3, thumb.height / 2, 0, 0, 255, 30);
  }
  // Fitted, the same picture keeps its aspect and shows its red sides.
  options_.crop = 0;
  ASSERT_TRUE(ProduceModernImages(Folder().c_str(), "wide.jpg", options_, &result));
  EXPECT_EQ(result.thumb_width, 140);
  EXPECT_EQ(result.thumb_height, 31);
  ExpectColour(Decode(result.thumb_1x), 3, 15, 255, 0, 0, 30);
}

TEST_F(ModernImagesTest, SizesNamesAndWhichCopiesAreMade) {
  struct TCase {
    const char* name;
    int width;
    int height;
    int32_t crop;
    int thumb_width;
    int thumb_height;
    bool has_2x;
    int web_width;  // 0: no web copy
    int web_height;
  } cases[] = {
      {"big.jpg", 3000, 2000, 0, 140, 93, true, 2048, 1365},
      {"tall.jpg", 1000, 3000, 0, 33, 100, true, 683, 2048},
      {"medium.jpg", 600, 400, 0, 140, 93, true, 0, 0},
      {"small.jpg", 150, 100, 0, 140, 93, false, 0, 0},    // no pixels for 2x
      {"tiny.jpg", 60, 40, 0, 60, 40, false, 0, 0},        // never enlarged
      {"tiny crop.jpg", 60, 40, 1, 60, 40, false, 0, 0},
      {"strip crop.jpg", 1000, 50, 1, 140, 50, false, 0, 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(WriteJpegFile(In(c.name), MakeGradientImage(c.width, c.height)));
    options_.crop = c.crop;
    TModernImageResult result;
    ASSERT_TRUE(ProduceModernImages(Folder().c_str(), c.name, options_, &result));
    char stem[32];
    NamedImageStem(c.name, stem, sizeof stem);
    const std::string base = std::string("quarto_tn/") + stem;
    EXPECT_EQ(result.thumb_1x, base + "-1x.jpg");
    EXPECT_EQ(result.thumb_2x, c.has_2x ? base + "-2x.jpg" : "");
    EXPECT_EQ(result.web_copy, c.web_width > 0 ? base + "-web.jpg" : "");
    EXPECT_EQ(result.thumb_width, c.thumb_width);
    EXPECT_EQ(result.thumb_height, c.thumb_height);
    EXPECT_EQ(result.web_width, c.web_width);
    EXPECT_EQ(result.web_height, c.web_height);
    const TDecodedJpeg thumb = Decode(result.thumb_1x);
    EXPECT_EQ(thumb.width, c.thumb_width);
    EXPECT_EQ(thumb.height, c.thumb_height);
    // Baseline, no metadata beyond JFIF.
    EXPECT_EQ(thumb.sof_marker, 0xC0);
    if (c.web_width > 0) {
      const TDecodedJpeg web = Decode(result.web_copy);
      EXPECT_EQ(web.width, c.web_width);
      EXPECT_EQ(web.height, c.web_height);
    }
    for (const char* suffix : {"-2x.jpg", "-web.jpg"}) {
      const bool expected = std::string(suffix) == "-2x.jpg" ? c.has_2x : c.web_width > 0;
      EXPECT_EQ(fs::exists(In(base + suffix)), expected) << suffix;
    }
  }
}

TEST_F(ModernImagesTest, OtherFormatsGetAWebCopyWhenBrowsersCannotShowThem) {
  ASSERT_TRUE(WriteTestBmp24(In("p.bmp"), 300, 200));
  ASSERT_TRUE(WriteTestGif(In("p.gif"), 300, 200));
  TModernImageResult result;
  ASSERT_TRUE(ProduceModernImages(Folder().c_str(), "p.bmp", options_, &result));
  EXPECT_EQ(result.thumb_width, 140);
  EXPECT_EQ(result.web_width, 300);
  EXPECT_TRUE(Decode(result.web_copy).ok);
  ASSERT_TRUE(ProduceModernImages(Folder().c_str(), "p.gif", options_, &result));
  EXPECT_EQ(result.thumb_height, 93);
  EXPECT_TRUE(result.web_copy.empty());
}

// A strip so tall that the web copy's side times the image's exceeds an int:
// the decode size the outputs need is worked out without overflowing.
TEST_F(ModernImagesTest, AStripTallerThanAMillionRowsGetsItsImages) {
  const int32_t height = 1100000;
  TTestTiffOptions tiff;
  tiff.layout = TTestTiffLayout::kGrey;
  tiff.compression = 8;
  tiff.rows_per_strip = 4096;
  TRgbaImage reference;
  ASSERT_TRUE(WriteTestTiff(In("strip.tif"), 2, height,
                           [](int32_t, int32_t y) { return TTestRgba{static_cast<uint8_t>(y), 0, 0, 255}; }, tiff,
                           &reference));
  TModernImageResult result;
  ASSERT_TRUE(ProduceModernImages(Folder().c_str(), "strip.tif", options_, &result));
  EXPECT_EQ(result.thumb_width, 1);
  EXPECT_EQ(result.thumb_height, 100);
  const TDecodedJpeg thumb = Decode(result.thumb_1x);
  EXPECT_EQ(thumb.width, 1);
  EXPECT_EQ(thumb.height, 100);
}

int64_t ModifiedNs(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return -1;
  return static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
}

TEST_F(ModernImagesTest, UnchangedImagesAreReusedWithoutDecoding) {
  ASSERT_TRUE(WriteJpegFile(In("a.jpg"), MakePhotoLikeImage(800, 600, 3)));
  TModernImageResult first;
  ASSERT_TRUE(ProduceModernImages(Folder().c_str(), "a.jpg", options_, &first));
  ASSERT_TRUE(fs::exists(In(std::string("quarto_tn/") + kModernManifestFile)));
  const std::string one = In(first.thumb_1x);
  const std::string two = In(first.thumb_2x);
  const std::vector<uint8_t> made = ReadBytesFile(one);

  // The manifest vouches for the files: a changed 1x file is not even looked
  // at, so nothing was decoded.
  ASSERT_TRUE(WriteBytesFile(one, {'x'}));
  TModernImageResult again;
  ASSERT_TRUE(ProduceModernImages(Folder().c_str(), "a.jpg", options_, &again));
  EXPECT_EQ(again.thumb_1x, first.thumb_1x);
  EXPECT_EQ(again.thumb_width, first.thumb_width);
  EXPECT_EQ(ReadBytesFile(one), std::vector<uint8_t>{'x'});

  // A touched source is made again; files whose bytes come out the same stay untouched.
  const int64_t two_time = ModifiedNs(two);
  fs::last_write_time(In("a.jpg"), fs::last_write_time(In("a.jpg")) + std::chrono::seconds(5));
  ASSERT_TRUE(ProduceModernImages(Folder().c_str(), "a.jpg", options_, &again));
  EXPECT_EQ(ReadBytesFile(one), made);
  EXPECT_EQ(ModifiedNs(two), two_time);

  // Other settings, a missing file, or a damaged manifest: made again.
  options_.cellwidth = 100;
  ASSERT_TRUE(ProduceModernImages(Folder().c_str(), "a.jpg", options_, &again));
  EXPECT_EQ(again.thumb_width, 100);
  fs::remove(In(again.thumb_2x));
  ASSERT_TRUE(ProduceModernImages(Folder().c_str(), "a.jpg", options_, &again));
  EXPECT_TRUE(fs::exists(In(again.thumb_2x)));
  const std::string manifest = In(std::string("quarto_tn/") + kModernManifestFile);
  std::vector<uint8_t> text = ReadBytesFile(manifest);
  ASSERT_TRUE(WriteBytesFile(one, {'x'}));
  text.resize(text.size() - 3);
  ASSERT_TRUE(WriteBytesFile(manifest, text));
  ASSERT_TRUE(ProduceModernImages(Folder().c_str(), "a.jpg", options_, &again));
  EXPECT_TRUE(Decode(again.thumb_1x).ok);
}

TEST_F(ModernImagesTest, ManifestReadsBackWholeOrNotAtAll) {
  std::vector<TModernManifestEntry> entries(2);
  entries[0].name = "tab\there.jpg";
  entries[1].name = "new\nline\\.jpg";
  for (TModernManifestEntry& e : entries) {
    e.source = TFileStamp{1234, 5678, 9, 10};
    e.cellwidth = 140;
    e.cellheight = 100;
    e.version = kModernEncoderVersion;
    e.result.facts.width = 4000;
    e.result.facts.height = 3000;
    e.result.facts.camera = "Cam\tera";
    e.result.thumb_width = 140;
    e.result.thumb_height = 105;
    e.result.thumb_1x = "x";
    e.result.web_copy = "y";
    e.result.web_width = 2048;
    e.result.web_height = 1536;
  }
  ASSERT_TRUE(WriteModernManifest(Folder().c_str(), entries));
  const std::vector<TModernManifestEntry> back = ReadModernManifest(Folder().c_str());
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[0].name, "new\nline\\.jpg");  // sorted by name
  EXPECT_EQ(back[1].name, "tab\there.jpg");
  EXPECT_EQ(back[1].result.facts.camera, "Cam\tera");
  EXPECT_EQ(back[1].result.web_height, 1536);
  EXPECT_TRUE(back[1].result.thumb_2x.empty());
  TModernImageOptions options;
  EXPECT_NE(FindModernEntry(back, "tab\there.jpg", TFileStamp{1234, 5678, 9, 10}, options), nullptr);
  EXPECT_EQ(FindModernEntry(back, "tab\there.jpg", TFileStamp{1234, 5678, 9, 11}, options), nullptr);

  const std::string path = In(std::string("quarto_tn/") + kModernManifestFile);
  const std::vector<uint8_t> whole = ReadBytesFile(path);
  for (size_t cut = 0; cut < whole.size(); ++cut) {
    ASSERT_TRUE(WriteBytesFile(path, std::vector<uint8_t>(whole.begin(), whole.begin() + static_cast<long>(cut))));
    EXPECT_TRUE(ReadModernManifest(Folder().c_str()).empty()) << cut;
  }
}

// Videos' entries: their facts, the mode they were made under and their web
// copy read back; one whose poster could not be read has no thumbnail; a
// manifest of the version before videos still reads.
TEST_F(ModernImagesTest, ManifestKeepsVideosAndReadsTheVersionBeforeThem) {
  std::vector<TModernManifestEntry> entries(3);
  entries[0].name = "a.mov";
  entries[1].name = "b.mp4";
  entries[2].name = "c.jpg";
  for (TModernManifestEntry& e : entries) {
    e.source = TFileStamp{1234, 5678, 9, 10};
    e.cellwidth = 140;
    e.cellheight = 100;
    e.version = kModernEncoderVersion;
    e.result.thumb_width = 56;
    e.result.thumb_height = 100;
    e.result.thumb_1x = "x";
  }
  entries[0].video_mode = 1;
  entries[0].sidecars = kTextsNotRead;
  entries[0].result.video = TModernVideo{true, 0, 62003, "video/quicktime", false, "w", ""};
  entries[1].video_mode = 0;
  entries[1].sidecars = kTextsNotRead;
  entries[1].result.video = TModernVideo{true, 302, 0, "video/mp4", false, "", ""};
  entries[1].result.thumb_width = 0;
  entries[1].result.thumb_height = 0;
  entries[1].result.thumb_1x.clear();
  ASSERT_TRUE(WriteModernManifest(Folder().c_str(), entries));
  const std::vector<TModernManifestEntry> back = ReadModernManifest(Folder().c_str());
  ASSERT_EQ(back.size(), 3u);
  char stem[32];
  NamedImageStem("a.mov", stem, sizeof stem);
  EXPECT_TRUE(back[0].result.video.is_video);
  EXPECT_EQ(back[0].result.video.duration_ms, 62003);
  EXPECT_EQ(back[0].result.video.mime_type, "video/quicktime");
  EXPECT_EQ(back[0].result.video.web_copy, std::string("quarto_tn/") + stem + kNamedVideoSuffix);
  EXPECT_EQ(back[1].result.video.code, 302);
  EXPECT_TRUE(back[1].result.thumb_1x.empty());
  EXPECT_FALSE(back[2].result.video.is_video);
  // A video's entry holds only under the mode it was made in; a photo's under any.
  TModernImageOptions options;
  for (const int32_t mode : {0, 1}) {
    options.video_mode = mode;
    EXPECT_EQ(FindModernEntry(back, "a.mov", TFileStamp{1234, 5678, 9, 10}, options) != nullptr, mode == 1);
    EXPECT_EQ(FindModernEntry(back, "b.mp4", TFileStamp{1234, 5678, 9, 10}, options) != nullptr, mode == 0);
    EXPECT_NE(FindModernEntry(back, "c.jpg", TFileStamp{1234, 5678, 9, 10}, options), nullptr);
  }

  // The version before videos: the same line without the video fields.
  const std::string path = In(std::string("quarto_tn/") + kModernManifestFile);
  const std::string text = ReadFileBytes(path);
  const size_t photo_line = text.find("\nc.jpg\t") + 1;
  std::string line = text.substr(photo_line, text.find('\n', photo_line) - photo_line);
  for (int field = 0; field < 7; ++field) line.resize(line.rfind('\t'));
  ASSERT_TRUE(WriteFileBytes(path, "vellumcast-modern-manifest\t2\n" + line + "\nend\t1\n"));
  const std::vector<TModernManifestEntry> old = ReadModernManifest(Folder().c_str());
  ASSERT_EQ(old.size(), 1u);
  EXPECT_EQ(old[0].name, "c.jpg");
  EXPECT_FALSE(old[0].result.video.is_video);
  // A line with the video fields under the old version's header is doubtful.
  ASSERT_TRUE(WriteFileBytes(path, "vellumcast-modern-manifest\t2\n" + text.substr(photo_line, text.find('\n', photo_line) - photo_line) + "\nend\t1\n"));
  EXPECT_TRUE(ReadModernManifest(Folder().c_str()).empty());
}

TEST_F(ModernImagesTest, ImagesThatCannotBeMadeGiveFalse) {
  ASSERT_TRUE(WriteFileBytes(In("text.jpg"), "no image here"));
  const std::vector<uint8_t> whole = EncodeJpeg(MakePhotoLikeImage(400, 300, 1));
  ASSERT_TRUE(WriteBytesFile(In("header.jpg"), std::vector<uint8_t>(whole.begin(), whole.begin() + 200)));
  TModernImageResult result;
  for (const char* name : {"text.jpg", "header.jpg", "missing.jpg"}) {
    EXPECT_FALSE(ProduceModernImages(Folder().c_str(), name, options_, &result)) << name;
    EXPECT_TRUE(result.thumb_1x.empty());
  }
  EXPECT_TRUE(ReadModernManifest(Folder().c_str()).empty());
  // A thumbnail folder that cannot be made: no images, and the page shows the original.
  TScratchDir other{"vc-modern-blocked"};
  ASSERT_TRUE(WriteJpegFile(other.Join("a.jpg"), MakePhotoLikeImage(400, 300, 1)));
  ASSERT_TRUE(WriteFileBytes(other.Join("quarto_tn"), "a file"));
  EXPECT_FALSE(ProduceModernImages(other.path().c_str(), "a.jpg", options_, &result));
  EXPECT_EQ(result.facts.width, 400);
}

TEST_F(ModernImagesTest, FolderImagesAreHandedOutInOrderAndRecorded) {
  std::vector<std::string> names;
  for (int i = 0; i < 24; ++i) {
    const std::string name = "f" + std::to_string(100 + i) + ".jpg";
    if (i % 7 == 3) {
      ASSERT_TRUE(WriteFileBytes(In(name), "broken"));
    } else {
      ASSERT_TRUE(WriteBytesFile(In(name), EncodeOrientedJpeg(MakePhotoLikeImage(300 + i * 20, 240, i), 1 + i % 8)));
    }
    names.push_back(name);
  }
  std::vector<const char*> pointers;
  for (const std::string& n : names) pointers.push_back(n.c_str());
  std::vector<TModernImageResult> results(names.size());
  std::vector<bool> oks(names.size());
  {
    TModernFolderImages folder(Folder().c_str(), pointers.data(), static_cast<int32_t>(pointers.size()), options_);
    for (size_t i = 0; i < names.size(); ++i) oks[i] = folder.Take(static_cast<int32_t>(i), &results[i]);
  }
  std::vector<TModernManifestEntry> recorded = ReadModernManifest(Folder().c_str());
  size_t good = 0;
  for (size_t i = 0; i < names.size(); ++i) {
    SCOPED_TRACE(names[i]);
    EXPECT_EQ(oks[i], i % 7 != 3);
    if (!oks[i]) continue;
    ++good;
    EXPECT_EQ(results[i].facts.orientation, static_cast<int32_t>(1 + i % 8));
    EXPECT_TRUE(Decode(results[i].thumb_1x).ok);
    // One at a time gives the same, now from the manifest.
    TModernImageResult single;
    ASSERT_TRUE(ProduceModernImages(Folder().c_str(), names[i].c_str(), options_, &single));
    EXPECT_EQ(single.thumb_1x, results[i].thumb_1x);
    EXPECT_EQ(single.web_copy, results[i].web_copy);
    EXPECT_EQ(single.thumb_width, results[i].thumb_width);
  }
  EXPECT_EQ(recorded.size(), good);

  // Left early: the images not taken are dropped, and nothing hangs.
  {
    TModernFolderImages folder(Folder().c_str(), pointers.data(), static_cast<int32_t>(pointers.size()), options_);
    TModernImageResult result;
    EXPECT_TRUE(folder.Take(0, &result));
    EXPECT_FALSE(folder.Take(0, &result));  // each position once
  }
  EXPECT_EQ(ReadModernManifest(Folder().c_str()).size(), good);
}

}  // namespace

namespace {

// The texts of a photo: kept in the manifest, re-read when a sidecar
// appears, changes or goes, and not read at all on an unchanged re-run.
class ModernTextsTest : public ::testing::Test {
 protected:
  std::string Folder() const { return dir_.path(); }
  std::string In(const std::string& relative) const { return dir_.Join(relative); }
  // One production of a.jpg; the counters of what it did.
  TModernImageResult Produce() {
    decodes_ = 0;
    text_reads_ = 0;
    TModernImageOptions options;
    options.decodes = &decodes_;
    options.text_reads = &text_reads_;
    TModernImageResult result;
    EXPECT_TRUE(ProduceModernImages(Folder().c_str(), "a.jpg", options, &result));
    return result;
  }
  TScratchDir dir_{"vc-modern-texts"};
  std::atomic<int32_t> decodes_{0};
  std::atomic<int32_t> text_reads_{0};
};

TEST_F(ModernTextsTest, SidecarChangesRereadTheTextsWithoutDecoding) {
  TTestMetadata m;
  m.xmp = {{"Xmp.dc.title", "lang=x-default Embedded title"}};
  ASSERT_TRUE(WriteJpegWithMetadata(In("a.jpg"), m));
  TModernImageResult result = Produce();
  EXPECT_EQ(decodes_, 1);
  EXPECT_EQ(text_reads_, 1);
  EXPECT_EQ(result.facts.text.title, "Embedded title");

  result = Produce();  // unchanged: nothing decoded, no metadata read
  EXPECT_EQ(decodes_, 0);
  EXPECT_EQ(text_reads_, 0);
  EXPECT_EQ(result.facts.text.title, "Embedded title");

  ASSERT_TRUE(WriteFileBytes(In("a.md"), "Title: From the sidecar\n\nFirst caption\n"));
  result = Produce();
  EXPECT_EQ(decodes_, 0);
  EXPECT_EQ(text_reads_, 1);
  EXPECT_EQ(result.facts.text.title, "From the sidecar");
  EXPECT_EQ(result.facts.text.caption, "First caption");

  ASSERT_TRUE(WriteFileBytes(In("a.md"), "Title: From the sidecar\n\nThe edited, longer caption\n"));
  result = Produce();
  EXPECT_EQ(decodes_, 0);
  EXPECT_EQ(text_reads_, 1);
  EXPECT_EQ(result.facts.text.caption, "The edited, longer caption");

  ASSERT_TRUE(fs::remove(In("a.md")));
  result = Produce();
  EXPECT_EQ(decodes_, 0);
  EXPECT_EQ(text_reads_, 1);
  EXPECT_EQ(result.facts.text.title, "Embedded title");
  EXPECT_EQ(result.facts.text.caption, "");
  // The sidecar is the user's: the runs never wrote or removed one.
  EXPECT_FALSE(fs::exists(In("a.md")));
}

TEST_F(ModernTextsTest, ManifestKeepsTheTextsAndRefusesDoubtfulOnes) {
  ASSERT_TRUE(WriteJpegWithMetadata(In("a.jpg"), {}));
  ASSERT_TRUE(WriteFileBytes(In("a.md"), "Title: Tab\there\nKeywords: 12:30, caf\xc3\xa9, x\\n\n\n*Line one*\nline two\n"));
  ASSERT_TRUE(WriteFileBytes(In("a.jpg.json"), R"({"geoData":{"latitude":38.7139,"longitude":-9.1334}})"));
  const TModernImageResult made = Produce();
  const std::vector<TModernManifestEntry> back = ReadModernManifest(Folder().c_str());
  ASSERT_EQ(back.size(), 1u);
  const TPhotoText& t = back[0].result.facts.text;
  EXPECT_EQ(t.title, "Tab here");
  EXPECT_EQ(t.caption, "*Line one*\nline two");
  EXPECT_TRUE(t.caption_markdown);
  EXPECT_EQ(t.keywords, (std::vector<std::string>{"12:30", "caf\xc3\xa9", "x\\n"}));
  ASSERT_TRUE(t.has_location);
  EXPECT_EQ(t.latitude, 38.7139);
  EXPECT_EQ(t.longitude, -9.1334);
  EXPECT_EQ(back[0].sidecars, PhotoTextSidecarKey(Folder().c_str(), "a.jpg"));

  // A line whose text fields are doubtful makes the whole manifest unread.
  const std::string path = In(std::string("quarto_tn/") + kModernManifestFile);
  const std::string good = ReadFileBytes(path);
  // Field `index` of the entry line (the second line) replaced by `value`.
  auto with_field = [&good](int index, const std::string& value) {
    size_t start = good.find('\n') + 1;
    for (int i = 0; i < index; ++i) start = good.find('\t', start) + 1;
    const size_t end = good.find_first_of("\t\n", start);
    return good.substr(0, start) + value + good.substr(end);
  };
  ASSERT_FALSE(ReadModernManifest(Folder().c_str()).empty());
  ASSERT_TRUE(WriteFileBytes(path, with_field(21, "Tab here")));
  ASSERT_FALSE(ReadModernManifest(Folder().c_str()).empty());  // the helper itself keeps a good line good
  struct TCase {
    const char* what;
    int field;
    std::string value;
  } cases[] = {
      {"sidecar key not hex", 20, "zz23456789abcdef"},
      {"sidecar key too short", 20, "1"},
      {"title not UTF-8", 21, "Tab \xff"},
      {"title longer than its cap", 21, std::string(kMaxPhotoTitleBytes + 1, 't')},
      {"markdown flag not 0 or 1", 23, "2"},
      {"keyword length past its text", 24, "9:caf"},
      {"keyword without length", 24, "caf"},
      {"empty keyword", 24, "0:"},
      {"rating out of range", 25, "6"},
      {"location flag not 0 or 1", 28, "3"},
      {"latitude not a number", 29, "38,7139"},
      {"latitude out of range", 29, "98.7139"},
      {"longitude with text after it", 30, "-9.1334x"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(WriteFileBytes(path, with_field(c.field, c.value)));
    EXPECT_TRUE(ReadModernManifest(Folder().c_str()).empty());
  }
  (void)made;
}

}  // namespace
