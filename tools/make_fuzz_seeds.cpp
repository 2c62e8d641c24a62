// Writes the seeds of the fuzz targets that need real files or files that
// only this program's own writers make: photo-sized JPEG, PNG and TIFF files
// (and the PNG pictures fuzz/make-seeds.sh hands to cwebp and heif-enc),
// JPEG files turned by every EXIF orientation or carrying dates and an ICC
// profile, ICC profiles made with lcms2, manifests and records as the runs
// write them, tiny video clips in each container a catalog takes. A thumbnail target's seed ends in its settings byte.
//
//   make-fuzz-seeds SEEDDIR      (SEEDDIR/fuzz_<target>/...; SEEDDIR/sources/ for the encoders)
//   make-fuzz-seeds --seal KEY IN OUT    IN sealed with the key text KEY

#include <lcms2.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/modern/images.h"
#include "engine/store/generated_names.h"
#include "engine/store/modern_manifest.h"
#include "engine/store/thumb_manifest.h"
#include "fixtures/exif_writer.h"
#include "fixtures/jpeg_fixtures.h"
#include "fixtures/png_tiff_writers.h"
#include "fixtures/seal_writer.h"
#include "fixtures/video_writer.h"

namespace {

std::string g_root;

bool MakeFolder(const std::string& path) { return ::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST; }

bool Put(const std::string& target, const std::string& name, std::vector<uint8_t> bytes, int settings = -1) {
  const std::string folder = g_root + "/" + target;
  if (!MakeFolder(folder)) return false;
  if (settings >= 0) bytes.push_back(static_cast<uint8_t>(settings));
  if (!WriteBytesFile(folder + "/" + name, bytes)) {
    std::fprintf(stderr, "make-fuzz-seeds: cannot write %s/%s\n", folder.c_str(), name.c_str());
    return false;
  }
  return true;
}

bool PutText(const std::string& target, const std::string& name, uint8_t first, const std::string& text) {
  std::vector<uint8_t> bytes{first};
  bytes.insert(bytes.end(), text.begin(), text.end());
  return Put(target, name, bytes);
}

std::vector<uint8_t> SaveProfile(cmsHPROFILE profile) {
  cmsUInt32Number size = 0;
  std::vector<uint8_t> bytes;
  if (profile != nullptr && cmsSaveProfileToMem(profile, nullptr, &size)) {
    bytes.resize(size);
    cmsSaveProfileToMem(profile, bytes.data(), &size);
  }
  if (profile != nullptr) cmsCloseProfile(profile);
  return bytes;
}

std::vector<uint8_t> WideGamutProfile(double gamma, double version) {
  const cmsCIExyY white{0.3127, 0.3290, 1.0};
  const cmsCIExyYTRIPLE primaries{{0.64, 0.33, 1.0}, {0.21, 0.71, 1.0}, {0.15, 0.06, 1.0}};
  cmsToneCurve* curve = cmsBuildGamma(nullptr, gamma);
  cmsToneCurve* curves[3] = {curve, curve, curve};
  cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
  cmsFreeToneCurve(curve);
  if (profile != nullptr) cmsSetProfileVersion(profile, version);
  return SaveProfile(profile);
}

std::vector<uint8_t> FileBytes(const std::string& path) { return ReadBytesFile(path); }

// Photo-like pixels for the PNG and TIFF writers.
TTestRgbaPixels PhotoPixels(int32_t width, int32_t height, bool alpha) {
  const TRgbImage image = MakePhotoLikeImage(width, height, 7);
  return [image, alpha](int32_t x, int32_t y) {
    const uint8_t* p = image.Pixel(x, y);
    return TTestRgba{p[0], p[1], p[2], static_cast<uint8_t>(alpha ? (x * 7 + y) & 0xFF : 255)};
  };
}

bool JpegSeeds() {
  bool ok = true;
  const std::vector<uint8_t> icc = WideGamutProfile(2.2, 4.3);
  // Photo-sized, with EXIF facts and a profile: the modern path converts its colours.
  TTestExif exif;
  exif.orientation = 1;
  exif.make = "Vellum";
  exif.model = "Vellum Cam 2";
  exif.date_original = "2024:05:01 14:03:22";
  exif.exposure_time = {1, 250};
  exif.f_number = {28, 10};
  exif.iso = 100;
  exif.focal_length = {35, 1};
  std::vector<uint8_t> photo = EncodeJpeg(MakePhotoLikeImage(480, 360, 3), {TJpegFlavour::kBaseline420, 95});
  photo = InsertIccProfile(InsertApp1(photo, MakeExifBlock(exif)), icc);
  ok &= Put("fuzz_thumb_jpeg", "photo_exif_icc.jpg", photo, 0x93);
  ok &= Put("fuzz_jpeg_row_stream", "photo_exif_icc.jpg", photo, 4);
  // Wider than the web copy's long side: a web copy is made, the thumbnails reduced from it.
  ok &= Put("fuzz_thumb_jpeg", "panorama.jpg", EncodeJpeg(MakeGradientImage(2400, 200), {TJpegFlavour::kBaseline420, 50}),
            0x05);
  for (int32_t orientation = 2; orientation <= 8; ++orientation) {
    ok &= Put("fuzz_thumb_jpeg", "turned_" + std::to_string(orientation) + ".jpg",
              EncodeOrientedJpeg(MakeQuadrantImage(64, 40), orientation), orientation * 37);
  }
  const struct {
    const char* name;
    TJpegFlavour flavour;
  } kFlavours[] = {{"progressive", TJpegFlavour::kProgressive}, {"grey", TJpegFlavour::kGrayscale},
                   {"cmyk", TJpegFlavour::kCmyk},               {"ycck", TJpegFlavour::kYcck},
                   {"restart", TJpegFlavour::kRestart},         {"s422", TJpegFlavour::kBaseline422},
                   {"s444", TJpegFlavour::kBaseline444}};
  int settings = 0x11;
  for (const auto& f : kFlavours) {
    TJpegFixtureOptions options;
    options.flavour = f.flavour;
    ok &= Put("fuzz_thumb_jpeg", std::string(f.name) + ".jpg", EncodeJpeg(MakePhotoLikeImage(96, 72, 5), options),
              settings);
    settings += 0x1D;
  }
  // Dates taken for the date order, written every way the EXIF block allows.
  const struct {
    const char* name;
    const char* original;
    const char* plain;
    bool big_endian;
  } kDates[] = {{"original", "2021:03:04 05:06:07", "", false},
                {"datetime_only", "", "1999:12:31 23:59:59", true},
                {"both", "2020:02:29 12:00:00", "2020:03:01 00:00:00", false},
                {"blank", "    :  :     :  :  ", "", false},
                {"out_of_range", "2024:13:45 25:61:61", "", true},
                {"epoch", "1970:01:01 00:00:00", "", false}};
  const std::vector<uint8_t> small = EncodeJpeg(MakeGradientImage(16, 16));
  for (const auto& d : kDates) {
    TTestExif e;
    e.big_endian = d.big_endian;
    e.date_original = d.original;
    e.date_time = d.plain;
    ok &= Put("fuzz_image_dates", std::string(d.name) + ".jpg", InsertApp1(small, MakeExifBlock(e)));
  }
  return ok;
}

bool IccSeeds() {
  bool ok = true;
  ok &= Put("fuzz_icc_profile", "srgb_v4.icc", SaveProfile(cmsCreate_sRGBProfile()));
  ok &= Put("fuzz_icc_profile", "wide_gamma22_v4.icc", WideGamutProfile(2.2, 4.3));
  ok &= Put("fuzz_icc_profile", "wide_gamma18_v2.icc", WideGamutProfile(1.8, 2.1));
  cmsToneCurve* curve = cmsBuildGamma(nullptr, 2.2);
  ok &= Put("fuzz_icc_profile", "grey.icc", SaveProfile(cmsCreateGrayProfile(cmsD50_xyY(), curve)));
  cmsFreeToneCurve(curve);
  ok &= Put("fuzz_icc_profile", "lab.icc", SaveProfile(cmsCreateLab4Profile(nullptr)));
  ok &= Put("fuzz_icc_profile", "xyz.icc", SaveProfile(cmsCreateXYZProfile()));
  return ok;
}

bool PngTiffSeeds() {
  bool ok = true;
  const std::string sources = g_root + "/sources";
  ok &= MakeFolder(sources);
  TRgbaImage reference;
  // Photo-sized files, over 64 KB each.
  ok &= WriteTestPng(sources + "/photo.png", 240, 180, PhotoPixels(240, 180, false), {TTestPngColour::kRgb, 8}, &reference);
  ok &= WriteTestPng(sources + "/photo_alpha.png", 160, 120, PhotoPixels(160, 120, true), {TTestPngColour::kRgba, 8},
                     &reference);
  ok &= WriteTestPng(sources + "/photo_interlaced16.png", 96, 72, PhotoPixels(96, 72, true),
                     {TTestPngColour::kRgba, 16, true, false}, &reference);
  // For heif-enc, which codes the same picture in fewer bytes.
  ok &= WriteTestPng(sources + "/heif_source.png", 360, 270, PhotoPixels(360, 270, false), {TTestPngColour::kRgb, 8},
                     &reference);
  ok &= WriteTestTiff(sources + "/photo.tif", 160, 140, PhotoPixels(160, 140, false), {TTestTiffLayout::kRgb, 8, 1, 0, 8},
                      &reference);
  ok &= WriteTestTiff(sources + "/photo_tiles.tif", 150, 100, PhotoPixels(150, 100, true),
                      {TTestTiffLayout::kRgba, 8, 8, 64, 0}, &reference);
  ok &= WriteTestPng(sources + "/palette.png", 150, 100, PhotoPixels(150, 100, false),
                     {TTestPngColour::kPalette, 8, false, true}, &reference);
  ok &= WriteTestTiff(sources + "/cmyk.tif", 80, 60, PhotoPixels(80, 60, false), {TTestTiffLayout::kCmyk, 8, 5, 0, 3},
                      &reference);
  // The format readers' targets get the largest of each.
  ok &= Put("fuzz_png_reader", "photo.png", FileBytes(sources + "/photo.png"));
  ok &= Put("fuzz_tiff_reader", "photo.tif", FileBytes(sources + "/photo.tif"));
  int settings = 0x21;
  for (const char* name : {"photo.png", "photo_alpha.png", "photo_interlaced16.png", "palette.png"}) {
    ok &= Put("fuzz_thumb_png", name, FileBytes(sources + "/" + name), settings);
    settings += 0x35;
  }
  for (const char* name : {"photo.tif", "photo_tiles.tif", "cmyk.tif"}) {
    ok &= Put("fuzz_thumb_tiff", name, FileBytes(sources + "/" + name), settings);
    settings += 0x35;
  }
  return ok;
}

// The manifests and records as the runs write them.
bool StoreSeeds() {
  bool ok = true;
  TModernManifestEntry entry;
  entry.name = "a.jpg";
  entry.source = {1234, 1700000000123456789, 42, 1700000000123456789};
  entry.cellwidth = 140;
  entry.cellheight = 100;
  entry.version = kModernEncoderVersion;
  entry.result.facts = {720, 540, 6, "2024-05-01 14:03:22", "Vellum Cam\t2", "1/250 s, f/2.8", {}};
  entry.result.thumb_1x = "x";
  entry.result.thumb_2x = "x";
  entry.result.thumb_width = 133;
  entry.result.thumb_height = 100;
  TModernManifestEntry second = entry;
  second.name = "b\\c\nd.jpg";
  second.crop = 1;
  second.result.thumb_2x.clear();
  second.result.web_copy = "x";
  second.result.web_width = 2048;
  second.result.web_height = 1536;
  second.sidecars = 0x0123456789abcdefULL;
  TPhotoText& words = second.result.facts.text;
  words.title = "Tram\t28";
  words.caption = "*Up* the hill,\nat dusk";
  words.caption_markdown = true;
  words.keywords = {"Lisbon", "12:30", "caf\xC3\xA9"};
  words.rating = 4;
  words.lens = "XF 23mm";
  words.date_taken = "2024-05-01 14:03:22";
  words.has_location = true;
  words.latitude = 38.7139;
  words.longitude = -9.1334;
  const std::string folder = g_root + "/sources/modern";
  ok &= MakeFolder(folder) && MakeFolder(folder + "/" + kThumbnailFolder);
  ok &= WriteModernManifest(folder.c_str(), {entry, second});
  const std::vector<uint8_t> manifest =
      FileBytes(folder + "/" + kThumbnailFolder + "/" + kModernManifestFile);
  for (const uint8_t choice : {0x00, 0x01, 0x33, 0x9B}) {
    std::vector<uint8_t> bytes{choice};
    bytes.insert(bytes.end(), manifest.begin(), manifest.end());
    ok &= Put("fuzz_modern_manifest", "manifest_" + std::to_string(choice), bytes);
  }

  TThumbSettings settings;
  settings.cellwidth = 64;
  settings.cellheight = 64;
  TManifestText text(settings);
  TThumbRecord record;
  record.name = "img2.jpg";
  record.position = 3;
  record.thumb_size = 103;
  record.stamp = {13, 1700000000000000000, 99, 1700000000000000000};
  text.Add(record);
  if (text.Finish()) {
    std::vector<uint8_t> bytes{0x10};
    bytes.insert(bytes.end(), text.Data(), text.Data() + text.Size());
    ok &= Put("fuzz_thumb_reuse", "raw_manifest", bytes);
  }
  // Records (image, number, size) over the images in name order a b.jpg,
  // b.png, img1.jpg, img10.jpg, img2.jpg (indexes 4, 3, 0, 1, 2): in place,
  // a cycle of numbers, numbers past the images, changed sizes and sources.
  ok &= Put("fuzz_thumb_reuse", "in_place", {0x00, 4, 0, 0, 3, 1, 0, 0, 2, 0, 1, 3, 0, 2, 4, 0});
  ok &= Put("fuzz_thumb_reuse", "cycle", {0x00, 4, 1, 0, 3, 2, 0, 0, 0, 0, 1, 4, 0, 2, 3, 0});
  ok &= Put("fuzz_thumb_reuse", "natural_past_end", {0x02, 0, 7, 0, 1, 6, 0, 2, 5, 0, 5, 8, 0, 4, 4, 1});
  ok &= Put("fuzz_thumb_reuse", "changed_pruned", {0x40, 4, 0, 0x80, 3, 1, 1, 0, 5, 0, 0, 6, 0});
  ok &= Put("fuzz_thumb_reuse", "date_rebuild", {0x05, 4, 3, 0, 3, 2, 0, 0, 1, 0});

  // The originals record over the target's files (sizes and times as it makes them).
  const std::string header = "vellumcast originals 1\n";
  ok &= PutText("fuzz_originals_list", "copies", 0x00,
                header + "10 1700000000 500 a.jpg\n19 1650000000 0 old.jpg\n");
  ok &= PutText("fuzz_originals_list", "pruned_hardlinks", 0x03,
                header + "10 1700000000 500 a.jpg\n19 1650000000 0 old.jpg\n10 1600000000 0 b.jpg\n");
  ok &= PutText("fuzz_originals_list", "strange_names", 0x3C,
                header + "7 1650000000 0 notes.txt\n0 0 0 sub\n10 1700000000 500 link.jpg\n1 2 3 ..\n1 2 3 a/b\n");
  ok &= PutText("fuzz_originals_list", "no_header", 0x02, "10 1700000000 500 a.jpg\n");
  return ok;
}

// Sizes, region, orientation and factor bytes, then pixels (see fuzz_raster_stages.cpp).
bool RasterSeeds() {
  bool ok = true;
  uint32_t state = 1;
  for (int seed = 0; seed < 4; ++seed) {
    std::vector<uint8_t> bytes = {static_cast<uint8_t>(40 + seed * 37), static_cast<uint8_t>(30 + seed * 29),
                                  static_cast<uint8_t>(7 + seed * 20),  static_cast<uint8_t>(5 + seed * 17),
                                  static_cast<uint8_t>(seed * 3),       static_cast<uint8_t>(1 + seed * 2),
                                  static_cast<uint8_t>(32 + seed * 9),  static_cast<uint8_t>(32 + seed * 5),
                                  static_cast<uint8_t>(150 + seed * 20), static_cast<uint8_t>(120 + seed * 30),
                                  static_cast<uint8_t>(seed & 1)};
    for (int i = 0; i < 3000 + seed * 4000; ++i) {
      state = state * 1103515245u + 12345u;
      bytes.push_back(static_cast<uint8_t>((i / 7) ^ (state >> 24)));
    }
    ok &= Put("fuzz_raster_stages", "stages_" + std::to_string(seed), bytes);
  }
  return ok;
}

bool TextSeeds() {
  bool ok = true;
  ok &= PutText("fuzz_names", "plain", 0x00, "a.jpg\nb c.jpg\nimg10.jpg\nimg2.jpg\nIMG1.JPG");
  ok &= PutText("fuzz_names", "modern_natural", 0x03, "Caf\xC3\xA9\n\xE6\x97\xA5\xE6\x9C\xAC\n emoji \xF0\x9F\x93\xB7 \nx10\nx9");
  ok &= PutText("fuzz_names", "hostile", 0x11,
                "<script>x\n\"quote\"\n#hash?\n%41%\njavascript:alert(1)\n& amp\n'single'\na\\b\n-- -->");
  ok &= PutText("fuzz_names", "bytes", 0x26, "\xFF\xFE\n\xC0\xAF\n\xED\xA0\x80\n\x01\x7F\x1B\n\xE2\x82");
  return ok;
}

// Clips of a few KB: few frames, small pictures, the containers and codecs a
// catalog meets most (a turned one among them).
bool VideoSeeds() {
  struct TSeed {
    const char* name;
    const char* muxer;
    const char* video;
    const char* audio;
    int rotation;
  };
  const TSeed seeds[] = {{"h264_aac.mp4", "mp4", "libx264", "aac", 90},
                         {"vp9.webm", "webm", "libvpx-vp9", "", 0},
                         {"mjpeg.avi", "avi", "mjpeg", "", 0},
                         {"mpeg2.ts", "mpegts", "mpeg2video", "", 0}};
  bool ok = true;
  const std::string folder = g_root + "/fuzz_video_poster";
  if (!MakeFolder(folder)) return false;
  for (const TSeed& seed : seeds) {
    TTestVideoSpec spec;
    spec.muxer = seed.muxer;
    spec.video_encoder = seed.video;
    spec.audio_encoder = seed.audio;
    spec.rotation = seed.rotation;
    spec.width = 32;
    spec.height = 24;
    spec.frames = 4;
    spec.fps = 10;
    spec.dark_frames = 1;
    if (std::strcmp(seed.muxer, "mp4") == 0) {
      spec.creation_time = "2024-05-01T12:03:22Z";
      spec.make = "Apple";
      spec.model = "iPhone 12";
    }
    std::string error;
    if (!WriteTestVideo(folder + "/" + seed.name, spec, &error)) {
      std::fprintf(stderr, "make-fuzz-seeds: %s: %s\n", seed.name, error.c_str());
      ok = false;
    }
  }
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "--seal") == 0) {
    const std::vector<uint8_t> plain = ReadBytesFile(argv[3]);
    return !plain.empty() && WriteBytesFile(argv[4], SealWithKeyText(plain, argv[2])) ? 0 : 1;
  }
  if (argc != 2) {
    std::fprintf(stderr, "usage: make-fuzz-seeds SEEDDIR\n");
    return 2;
  }
  g_root = argv[1];
  if (!MakeFolder(g_root)) return 1;
  const bool ok = JpegSeeds() && IccSeeds() && PngTiffSeeds() && StoreSeeds() && RasterSeeds() && TextSeeds() &&
                  VideoSeeds();
  return ok ? 0 : 1;
}
