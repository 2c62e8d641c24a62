// Writes a small sample tree of real GIF, JPEG and BMP images, several levels
// deep, with a pass-through folder and a folder without images:
//
//   FOLDER/                     sunrise.jpg, logo.gif
//     animals/                  fox.jpg, Owl.gif, heron.bmp, lynx.jpg
//       cats/                   tabby.jpg, siamese.gif, "my cat.bmp"
//     travel/                   (pass-through: one subfolder, no images)
//       2023/                   harbour.jpg, "old town.jpg", map.gif, tram.bmp, bridge.jpg
//     notes/                    readme.txt only
//
// Usage: make-sample-tree FOLDER

#include <cstdio>
#include <string>

#include "fixtures/image_writers.h"
#include "fixtures/tree_writer.h"

namespace {

enum class TKind { kGif, kJpeg, kBmp };

struct TSampleImage {
  const char* path;
  TKind kind;
  int32_t width;
  int32_t height;
};

constexpr TSampleImage kSampleImages[] = {
    {"sunrise.jpg", TKind::kJpeg, 320, 200},
    {"logo.gif", TKind::kGif, 96, 96},
    {"animals/fox.jpg", TKind::kJpeg, 240, 320},
    {"animals/Owl.gif", TKind::kGif, 160, 120},
    {"animals/heron.bmp", TKind::kBmp, 200, 150},
    {"animals/lynx.jpg", TKind::kJpeg, 400, 300},
    {"animals/cats/tabby.jpg", TKind::kJpeg, 300, 300},
    {"animals/cats/siamese.gif", TKind::kGif, 120, 160},
    {"animals/cats/my cat.bmp", TKind::kBmp, 90, 60},
    {"travel/2023/harbour.jpg", TKind::kJpeg, 640, 480},
    {"travel/2023/old town.jpg", TKind::kJpeg, 480, 640},
    {"travel/2023/map.gif", TKind::kGif, 200, 100},
    {"travel/2023/tram.bmp", TKind::kBmp, 150, 100},
    {"travel/2023/bridge.jpg", TKind::kJpeg, 500, 200},
};

bool WriteSample(const std::string& root, const TSampleImage& image, int seed) {
  const std::string path = root + "/" + image.path;
  const TTestPixels pixels = GradientPixels(seed);
  switch (image.kind) {
    case TKind::kGif:
      return WriteTestGif(path, image.width, image.height, pixels);
    case TKind::kJpeg:
      return WriteTestJpeg(path, image.width, image.height, pixels);
    case TKind::kBmp:
      return WriteTestBmp24(path, image.width, image.height, pixels);
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
  int seed = 0;
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
