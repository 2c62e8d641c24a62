// libFuzzer target: the thumbnail manifest reader on arbitrary bytes, from
// memory and from a file. Whatever it accepts must come back unchanged when
// written out and read again.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "engine/store/thumb_manifest.h"
#include "fuzz_support.h"

namespace {

TFuzzInputFile& Input() {
  static TFuzzInputFile file("fuzz_manifest_reader_", ".manifest");
  return file;
}

void WriteOut(const TThumbManifest& manifest, TManifestText& text) {
  for (int32_t i = 0; i < manifest.Count(); ++i) text.Add(manifest.Record(i));
  if (!text.Finish()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TThumbManifest manifest;
  const bool parsed = manifest.Parse(reinterpret_cast<const char*>(data), size);
  if (Input().Write(data, size)) {
    TThumbManifest from_file;
    if (from_file.Read(Input().Path()) != parsed) std::abort();
  }
  if (!parsed) return 0;
  for (int32_t i = 0; i < manifest.Count(); ++i) {
    const char* name = manifest.Record(i).name;
    if (name[0] == '\0' || std::strchr(name, '/') != nullptr) std::abort();
    if (manifest.FindFirst(name) < 0 || manifest.FindFirst(name) > i) std::abort();
  }
  TManifestText once(manifest.Settings());
  WriteOut(manifest, once);
  TThumbManifest again;
  if (!again.Parse(once.Data(), once.Size()) || again.Count() != manifest.Count()) std::abort();
  TManifestText twice(again.Settings());
  WriteOut(again, twice);
  if (twice.Size() != once.Size() || std::memcmp(twice.Data(), once.Data(), once.Size()) != 0) std::abort();
  return 0;
}
