// libFuzzer target: the modern manifest (quarto_tn/vellumcast-modern.manifest)
// read back from a folder. The first byte picks what follows the read; the
// rest is the file. Whatever is read must be sorted by name, written out and
// read again to the same bytes, and, when an entry is made to match the
// folder's one real image, the production must either reuse an entry whose
// files are all there or make the image afresh.

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/modern/images.h"
#include "engine/store/generated_names.h"
#include "engine/store/modern_manifest.h"
#include "fuzz_support.h"
#include "raster/jpeg_memory_writer.h"
#include "raster/membitmap.h"

namespace {

TFuzzScratchFolder& Scratch() {
  static TFuzzScratchFolder folder("fuzz_modern_manifest_");
  return folder;
}

// The folder's one real image: a 40 x 30 JPEG of a gradient.
const TEncodedJpeg& TinyJpeg() {
  static TEncodedJpeg jpeg;
  if (jpeg.data == nullptr) {
    TMemBitmap bitmap;
    if (!BitmapCreate(bitmap, 40, 30)) std::abort();
    for (int32_t y = 0; y < 30; ++y)
      for (int32_t x = 0; x < 40; ++x) {
        uint8_t* p = BitmapPixel(bitmap, x, y);
        p[0] = static_cast<uint8_t>(x * 6);
        p[1] = static_cast<uint8_t>(y * 8);
        p[2] = 90;
      }
    if (!JpegEncodeBitmap(bitmap, 85, jpeg)) std::abort();
  }
  return jpeg;
}

bool IsFile(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t choice = data[0];
  TFuzzScratchFolder& scratch = Scratch();
  scratch.Empty();
  const char* folder = scratch.Path();
  const std::string manifest = std::string(kThumbnailFolder) + "/" + kModernManifestFile;
  if (!scratch.MakeFolder(kThumbnailFolder) || !scratch.WriteFile(manifest.c_str(), data + 1, size - 1)) return 0;

  std::vector<TModernManifestEntry> entries = ReadModernManifest(folder);
  for (size_t i = 1; i < entries.size(); ++i) {
    if (entries[i].name < entries[i - 1].name) std::abort();  // FindModernEntry relies on the order
  }
  for (const TModernManifestEntry& e : entries) {
    // Only a video whose poster could not be read has no thumbnail.
    const bool no_poster = e.result.video.is_video && e.result.video.code != 0;
    if (e.name.empty() || e.result.thumb_1x.empty() != no_poster) std::abort();
    const TModernImageOptions options{e.cellwidth, e.cellheight, e.crop};
    const TModernManifestEntry* found = FindModernEntry(entries, e.name.c_str(), e.source, options);
    if (found != nullptr && found->name != e.name) std::abort();
  }
  if (entries.empty()) return 0;

  // Written out, read back and written again: the same bytes.
  if (!WriteModernManifest(folder, entries)) std::abort();
  const std::string once = FileBytes(scratch.Join(manifest.c_str()));
  const std::vector<TModernManifestEntry> again = ReadModernManifest(folder);
  if (again.size() != entries.size()) std::abort();
  if (!WriteModernManifest(folder, again)) std::abort();
  if (FileBytes(scratch.Join(manifest.c_str())) != once) std::abort();

  if ((choice & 1) == 0) return 0;
  // The entries stand for the folder's real image "a.jpg" as it is now.
  if (!scratch.WriteFile("a.jpg", TinyJpeg().data, TinyJpeg().size)) return 0;
  TFileStamp key;
  if (!ReadFileStamp(scratch.Join("a.jpg").c_str(), &key)) return 0;
  for (TModernManifestEntry& e : entries) {
    e.name = "a.jpg";
    e.source = key;
  }
  if (!WriteModernManifest(folder, entries)) std::abort();
  // Some of the files the entries name are there, some not.
  if ((choice & 2) != 0) {
    for (const std::string* relative : {&entries[0].result.thumb_1x, &entries[0].result.thumb_2x}) {
      if (!relative->empty()) scratch.WriteFile(relative->c_str(), "x", 1);
    }
  }
  TModernImageOptions options;
  options.cellwidth = 8 + (choice >> 4) * 4;
  options.cellheight = 8 + ((choice >> 2) & 3) * 8;
  options.crop = (choice >> 3) & 1;
  TModernImageResult result;
  if (ProduceModernImages(folder, "a.jpg", options, &result)) {
    for (const std::string* relative : {&result.thumb_1x, &result.thumb_2x, &result.web_copy}) {
      if (!relative->empty() && !IsFile(scratch.Join(relative->c_str()))) std::abort();
    }
    if (result.thumb_1x.empty() || result.thumb_width < 1 || result.thumb_height < 1) std::abort();
  }
  return 0;
}
