#include "imagein/orientation_probe.h"

#include "imagein/exif.h"
#include "imagein/image_format.h"
#include "support/path_util.h"

int32_t ProbeImageOrientation(const char* path) {
  if (path == nullptr) return 1;
  if (ImageFormatOfPath(path) != TImageFormat::kJpeg) return 1;
  TExifFacts facts;
  ReadExifFacts(path, &facts);
  return facts.orientation;
}
