// Writes a small sample tree of photo-like GIF, JPEG and BMP images (skies,
// shapes and captions painted by the test fixtures), several levels deep,
// with a pass-through folder, a folder without images, and a portrait stored
// on its side with an EXIF orientation of 6, as cameras write them:
//
//   FOLDER/                     sunrise.jpg, logo.gif, portrait.jpg
//     animals/                  fox.jpg, Owl.gif, heron.bmp, lynx.jpg
//       cats/                   tabby.jpg, siamese.gif, "my cat.bmp"
//     travel/                   (pass-through: one subfolder, no images)
//       2023/                   harbour.jpg, "old town.jpg", map.gif, tram.bmp, bridge.jpg
//     notes/                    readme.txt only
//
// Usage: make-sample-tree FOLDER

#include <cstdio>
#include <string>

#include "fixtures/exif_writer.h"
#include "fixtures/image_writers.h"
#include "fixtures/jpeg_fixtures.h"
#include "fixtures/scene_painter.h"
#include "fixtures/tree_writer.h"

namespace {

enum class TKind { kGif, kJpeg, kBmp, kJpegOriented };

struct TSampleImage {
  const char* path;
  TKind kind;
  int32_t width;   // upright size
  int32_t height;
  TScene scene;
  const char* caption;
};

constexpr TSampleImage kSampleImages[] = {
    {"sunrise.jpg", TKind::kJpeg, 1600, 1000, TScene::kLandscape, "SUNRISE"},
    {"logo.gif", TKind::kGif, 96, 96, TScene::kMap, "VC"},
    {"portrait.jpg", TKind::kJpegOriented, 900, 1200, TScene::kPortrait, "ANNA"},
    {"animals/fox.jpg", TKind::kJpeg, 960, 1280, TScene::kAnimal, "FOX"},
    {"animals/Owl.gif", TKind::kGif, 320, 240, TScene::kAnimal, "OWL"},
    {"animals/heron.bmp", TKind::kBmp, 400, 300, TScene::kLandscape, "HERON"},
    {"animals/lynx.jpg", TKind::kJpeg, 1200, 900, TScene::kAnimal, "LYNX"},
    {"animals/cats/tabby.jpg", TKind::kJpeg, 900, 900, TScene::kAnimal, "TABBY"},
    {"animals/cats/siamese.gif", TKind::kGif, 240, 320, TScene::kAnimal, "SIAMESE"},
    {"animals/cats/my cat.bmp", TKind::kBmp, 300, 200, TScene::kAnimal, "MY CAT"},
    {"travel/2023/harbour.jpg", TKind::kJpeg, 2400, 1600, TScene::kSunset, "HARBOUR"},
    {"travel/2023/old town.jpg", TKind::kJpeg, 960, 1280, TScene::kStreet, "OLD TOWN"},
    {"travel/2023/map.gif", TKind::kGif, 400, 200, TScene::kMap, "MAP"},
    {"travel/2023/tram.bmp", TKind::kBmp, 450, 300, TScene::kStreet, "TRAM 7"},
    {"travel/2023/bridge.jpg", TKind::kJpeg, 1500, 600, TScene::kSunset, "BRIDGE"},
};

// The upright picture stored turned a quarter to the left, with EXIF
// orientation 6 telling the viewer to turn it back, and the camera's facts.
bool WriteOrientedJpeg(const std::string& path, const TSampleImage& image, uint32_t seed) {
  const TTestPixels pixels = ScenePixels(image.scene, image.width, image.height, image.caption, seed);
  TRgbImage upright;
  upright.width = image.width;
  upright.height = image.height;
  upright.rgb.resize(static_cast<size_t>(image.width) * image.height * 3);
  for (int32_t y = 0; y < image.height; ++y) {
    for (int32_t x = 0; x < image.width; ++x) {
      const TTestRgb c = pixels(x, y);
      uint8_t* out = &upright.rgb[(static_cast<size_t>(y) * image.width + x) * 3];
      out[0] = c.r;
      out[1] = c.g;
      out[2] = c.b;
    }
  }
  TJpegFixtureOptions options;
  options.quality = 85;
  TTestExif exif;
  exif.orientation = 6;
  exif.make = "Korvane";
  exif.model = "Korvane K1";
  exif.date_original = "2024:05:01 14:03:22";
  exif.exposure_time = {1, 125};
  exif.f_number = {28, 10};
  exif.iso = 200;
  exif.focal_length = {50, 1};
  const std::vector<uint8_t> bytes =
      InsertApp1(EncodeJpeg(StoredForOrientation(upright, 6), options), MakeExifBlock(exif));
  return !bytes.empty() && MakeDirs(path.substr(0, path.rfind('/'))) && WriteBytesFile(path, bytes);
}

bool WriteSample(const std::string& root, const TSampleImage& image, uint32_t seed) {
  const std::string path = root + "/" + image.path;
  if (image.kind == TKind::kJpegOriented) return WriteOrientedJpeg(path, image, seed);
  const TTestPixels pixels = ScenePixels(image.scene, image.width, image.height, image.caption, seed);
  switch (image.kind) {
    case TKind::kGif:
      return WriteTestGif(path, image.width, image.height, pixels);
    case TKind::kJpeg:
      return WriteTestJpeg(path, image.width, image.height, pixels);
    case TKind::kBmp:
      return WriteTestBmp24(path, image.width, image.height, pixels);
    case TKind::kJpegOriented:
      break;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make-sample-tree FOLDER\n");
    return 2;
  }
  const std::string root = argv[1];
  if (!MakeDirs(root)) {
    std::fprintf(stderr, "make-sample-tree: cannot create '%s'\n", root.c_str());
    return 1;
  }
  uint32_t seed = 1;
  for (const TSampleImage& image : kSampleImages) {
    if (!WriteSample(root, image, seed++)) {
      std::fprintf(stderr, "make-sample-tree: cannot write '%s/%s'\n", root.c_str(), image.path);
      return 1;
    }
  }
  if (!WriteFileBytes(root + "/notes/readme.txt", "No images in this folder.\n")) {
    std::fprintf(stderr, "make-sample-tree: cannot write the notes folder\n");
    return 1;
  }
  std::printf("%zu images in %s\n", sizeof kSampleImages / sizeof kSampleImages[0], root.c_str());
  return 0;
}
