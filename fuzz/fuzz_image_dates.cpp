// libFuzzer target: the dates images are ordered by (--order=date): a JPEG
// file's EXIF date taken, read from the file beside others that have none.
// Whatever the bytes, the date order stays a total order over the folder.

#include <fcntl.h>
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/run/image_order.h"
#include "fuzz_support.h"
#include "imagein/exif.h"
#include "support/strman.h"

namespace {

TFuzzScratchFolder& Scratch() {
  static TFuzzScratchFolder folder("fuzz_image_dates_");
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TExifFacts facts;
  ParseExifFacts(data, size, &facts);
  TFuzzScratchFolder& scratch = Scratch();
  scratch.Empty();
  if (!scratch.WriteFile("taken.jpg", data, size) || !scratch.WriteFile("copy.jpeg", data, size) ||
      !scratch.WriteFile("plain.png", "x", 1)) {
    return 0;
  }
  // Files without a date taken sort by their modification time: the same for all.
  const struct timespec times[2] = {{1700000000, 0}, {1700000000, 0}};
  for (const char* name : {"taken.jpg", "copy.jpeg", "plain.png"}) {
    if (utimensat(AT_FDCWD, scratch.Join(name).c_str(), times, 0) != 0) return 0;
  }
  TStringManager images(sizeof(TImageEntry), 3, 0, nullptr);
  for (const char* name : {"taken.jpg", "copy.jpeg", "plain.png", "missing.jpg"}) images.FindOrAdd(name);
  ReadImageDates(images, scratch.Path());
  const TImageEntry* taken = static_cast<const TImageEntry*>(images.Find("taken.jpg"));
  const TImageEntry* copy = static_cast<const TImageEntry*>(images.Find("copy.jpeg"));
  if (taken == nullptr || copy == nullptr || taken->date != copy->date) std::abort();
  int32_t walked = 0;
  const TStrEntry* previous = nullptr;
  for (const TStrEntry* e = SortedImageWalk(images, kOrderDate); e != nullptr; e = e->walk, ++walked) {
    if (previous != nullptr && CompareImages(e, previous, kOrderDate)) std::abort();
    previous = e;
  }
  if (walked != 4) std::abort();
  return 0;
}
