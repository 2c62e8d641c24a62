// libFuzzer target: the reuse of a folder's cell thumbnails from an earlier
// run's manifest (quarto_tn/vellumcast.manifest). The first byte picks the
// run's settings and whether the rest is the manifest as it is, or records
// (image, thumbnail number, size) that the target writes with the real
// stamps of the folder's images, so that the plans, moves and cycles of
// numbers are reached. Afterwards every thumbnail kept must be one an
// earlier run made of that same image, and the new manifest must read back
// and match the files.

#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/run/image_order.h"
#include "engine/run/thread_vellumcast.h"
#include "engine/store/generated_names.h"
#include "engine/store/thumb_manifest.h"
#include "engine/store/thumb_reuse.h"
#include "fuzz_support.h"
#include "platform/atomic_file.h"
#include "raster/jpeg_memory_writer.h"
#include "support/strman.h"

namespace {

TFuzzScratchFolder& Scratch() {
  static TFuzzScratchFolder folder("fuzz_thumb_reuse_");
  return folder;
}

const char* const kImages[] = {"img1.jpg", "img10.jpg", "img2.jpg", "b.png", "a b.jpg"};
constexpr int32_t kImageCount = 5;
constexpr int32_t kOldThumbs = 8;  // quarto_tn0.jpg .. quarto_tn7.jpg from an earlier run
constexpr int32_t kCell = 64;

// The content of old thumbnail q: its own text, 100 + q bytes.
std::string OldThumb(int32_t q) {
  std::string text = "old thumbnail " + std::to_string(q) + " ";
  text.resize(static_cast<size_t>(100 + q), '.');
  return text;
}

std::string ThumbRelative(int32_t position) {
  return std::string(kThumbnailFolder) + "/quarto_tn" + std::to_string(position) + ".jpg";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t choice = data[0];
  TFuzzScratchFolder& scratch = Scratch();
  scratch.Empty();
  if (!scratch.MakeFolder(kThumbnailFolder)) return 0;
  for (int32_t i = 0; i < kImageCount; ++i) {
    const std::string content = std::string("image ") + kImages[i];
    if (!scratch.WriteFile(kImages[i], content.data(), content.size())) return 0;
  }
  for (int32_t q = 0; q < kOldThumbs; ++q) {
    const std::string content = OldThumb(q);
    if (!scratch.WriteFile(ThumbRelative(q).c_str(), content.data(), content.size())) return 0;
  }

  TThreadVellumcast worker;
  worker.options.createthumbs = 1;
  worker.options.cellwidth = kCell;
  worker.options.cellheight = kCell;
  worker.options.rebuild = choice & 1;
  worker.options.order = static_cast<TImageOrder>((choice >> 1) % 3);
  const bool raw = (choice & 0x10) != 0;
  TThumbSettings settings;
  settings.cellwidth = kCell;
  settings.cellheight = (choice & 0x20) != 0 ? kCell + 1 : kCell;  // other settings: nothing reusable

  // What each old thumbnail was made of, by the records written.
  std::vector<std::vector<std::string>> made_of(kOldThumbs);
  const std::string manifest = std::string(kThumbnailFolder) + "/" + kManifestFile;
  if (raw) {
    if (!scratch.WriteFile(manifest.c_str(), data + 1, size - 1)) return 0;
  } else {
    TManifestText text(settings);
    std::vector<std::string> names;
    for (size_t at = 1; at + 3 <= size && names.size() < 24; at += 3) {
      const int32_t image = data[at] % (kImageCount + 1);
      names.push_back(image < kImageCount ? kImages[image] : "gone.jpg");
    }
    size_t n = 0;
    for (size_t at = 1; at + 3 <= size && n < names.size(); at += 3, ++n) {
      TThumbRecord record;
      record.name = names[n].c_str();
      record.position = data[at + 1] % (kOldThumbs + 2);
      record.thumb_size = 100 + record.position + (data[at + 2] % 4 == 0 ? 0 : data[at + 2] % 3);
      struct stat info;
      if (::stat(scratch.Join(record.name).c_str(), &info) == 0) record.stamp = FileStampOf(info);
      if ((data[at + 2] & 0x80) != 0) record.stamp.size += 1;  // an image changed since
      text.Add(record);
      if (record.position < kOldThumbs) made_of[static_cast<size_t>(record.position)].push_back(names[n]);
    }
    if (!text.Finish() || !scratch.WriteFile(manifest.c_str(), text.Data(), text.Size())) return 0;
  }

  TStringManager images(sizeof(TImageEntry), 4, 0, nullptr);
  for (const char* name : kImages) images.FindOrAdd(name);
  if (worker.options.order == kOrderDate) ReadImageDates(images, scratch.Path());
  std::vector<std::string> order;
  for (const TStrEntry* e = SortedImageWalk(images, worker.options.order); e != nullptr; e = e->walk) order.push_back(e->name);
  if (static_cast<int32_t>(order.size()) != kImageCount) std::abort();

  {
    const std::atomic<bool> stop{false};
    TIndexRun run(worker.options, worker.counters, worker.report, nullptr, stop);
    TThumbReuse reuse(run, scratch.Path(), scratch.Path(), images);
    for (int32_t p = 0; p < kImageCount; ++p) {
      if (reuse.Reused(p)) {
        // A kept thumbnail is one an earlier run made of this very image.
        const std::string kept = FileBytes(scratch.Join(ThumbRelative(p).c_str()));
        bool known = false;
        for (int32_t q = 0; q < kOldThumbs && !raw; ++q) {
          if (kept != OldThumb(q)) continue;
          for (const std::string& name : made_of[static_cast<size_t>(q)]) known = known || name == order[static_cast<size_t>(p)];
        }
        if (!raw && !known) std::abort();
        continue;
      }
      const std::string fresh = "fresh thumbnail of " + order[static_cast<size_t>(p)];
      // Written as the runs write thumbnails: a new file in place of the
      // name, never into a file that may be linked to a kept one.
      const std::string path = scratch.Join(ThumbRelative(p).c_str());
      if (!WriteFileReplacing(path.c_str(), reinterpret_cast<const uint8_t*>(fresh.data()), fresh.size())) return 0;
      reuse.RecordWritten(p, static_cast<int64_t>(fresh.size()));
    }
    if ((choice & 0x40) != 0) reuse.PruneStale();
  }

  // The new manifest, when there is one, reads back and its sizes are the files'.
  TThumbManifest after;
  struct stat info;
  if (::lstat(scratch.Join(manifest.c_str()).c_str(), &info) != 0) return 0;
  if (!after.Read(scratch.Join(manifest.c_str()).c_str())) std::abort();
  for (int32_t i = 0; i < after.Count(); ++i) {
    const TThumbRecord& record = after.Record(i);
    struct stat thumb;
    if (::lstat(scratch.Join(ThumbRelative(record.position).c_str()).c_str(), &thumb) != 0 ||
        thumb.st_size != record.thumb_size) {
      std::abort();
    }
  }
  return 0;
}
