// One decode feeds the outputs: a JPEG file is decoded row by row at the
// smallest DCT scale that still gives each output its pixels, other files
// are decoded whole and shrunk by whole factors first; the rows go to a
// Lanczos-3 resampler per output, in the file's stored orientation. When a
// web copy is made, only it is fed from the decode and the thumbnails are
// reduced from it (the 1x from the 2x), which does the heavy filtering once
// instead of three times. Each
// finished output is converted to sRGB, turned upright, encoded at quality
// 85 and written only when its bytes differ from the file already there.

#include "engine/modern_production.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "engine/generated_names.h"
#include "engine/modern_plan.h"
#include "imagein/jpeg_row_stream.h"
#include "imagein/load_codes.h"
#include "imagein/loader.h"
#include "raster/jpeg_memory_writer.h"
#include "raster/orient.h"
#include "raster/resample.h"
#include "raster/srgb.h"
#include "support/path_util.h"

namespace {

constexpr int kModernQuality = 85;
constexpr int kSlotCount = kNamedImageKinds;  // 1x, 2x, web

bool IsJpegName(const char* path) {
  return HasExtension(path, ".jpg") || HasExtension(path, ".jpe") || HasExtension(path, ".jpeg");
}

// Files every browser shows as they are.
bool IsBrowserDisplayable(const char* path) {
  return IsJpegName(path) || HasExtension(path, ".gif") || HasExtension(path, ".png") ||
         HasExtension(path, ".webp") || HasExtension(path, ".avif");
}

struct TOutputSlot {
  TModernOutput upright;
  TModernOutput stored;   // at the stored image's full size
  TMemBitmap bitmap;      // the output, stored orientation
  TResampler resampler;
  bool active = false;
};

// The state the decode's callbacks share.
struct TProduction {
  bool displayable = false;
  TModernImageOptions options;
  int32_t full_width = 0;   // stored size at scale 1/1
  int32_t full_height = 0;
  int32_t orientation = 1;
  TOutputSlot slots[kSlotCount];
  bool from_web = false;  // the thumbnails are reduced from the web copy
  bool out_of_memory = false;

  TProduction() = default;
  TProduction(const TProduction&) = delete;
  TProduction& operator=(const TProduction&) = delete;
  ~TProduction() {
    for (TOutputSlot& slot : slots) ResamplerFree(&slot.resampler);
  }
};

bool PlanProduction(void* context, const TJpegStreamHeader& header, int32_t* min_width, int32_t* min_height) {
  TProduction* p = static_cast<TProduction*>(context);
  p->full_width = header.width;
  p->full_height = header.height;
  p->orientation = header.orientation >= 1 && header.orientation <= 8 ? header.orientation : 1;
  const bool swap = OrientationSwapsSides(p->orientation);
  TModernPlan plan;
  if (!PlanModernImages(swap ? header.height : header.width, swap ? header.width : header.height, p->options,
                        p->orientation != 1 || !p->displayable, &plan))
    return false;
  const TModernOutput* outputs[kSlotCount] = {&plan.thumb_1x, &plan.thumb_2x, &plan.web};
  // The web copy holds at least the thumbnails' pixels unless the cell is huge.
  p->from_web = plan.web.wanted && plan.web.width >= 2 * plan.thumb_2x.width &&
                plan.web.height >= 2 * plan.thumb_2x.height && plan.web.width >= 2 * plan.thumb_1x.width &&
                plan.web.height >= 2 * plan.thumb_1x.height;
  int32_t need_width = 1;
  int32_t need_height = 1;
  for (int i = 0; i < kSlotCount; ++i) {
    TOutputSlot& slot = p->slots[i];
    slot.active = outputs[i]->wanted;
    if (!slot.active) continue;
    slot.upright = *outputs[i];
    slot.stored = StoredOutput(slot.upright, swap);
    if (p->from_web && i != 2) continue;
    // The decoded image must give the region at least the output's pixels.
    const double w = std::ceil(slot.stored.width * header.width / slot.stored.region.width - 1e-9);
    const double h = std::ceil(slot.stored.height * header.height / slot.stored.region.height - 1e-9);
    need_width = std::max(need_width, static_cast<int32_t>(std::min(w, 1e9)));
    need_height = std::max(need_height, static_cast<int32_t>(std::min(h, 1e9)));
  }
  *min_width = std::min(need_width, header.width);
  *min_height = std::min(need_height, header.height);
  return true;
}

bool StartProduction(void* context, int32_t width, int32_t height) {
  TProduction* p = static_cast<TProduction*>(context);
  const double sx = static_cast<double>(width) / p->full_width;
  const double sy = static_cast<double>(height) / p->full_height;
  for (int i = 0; i < kSlotCount; ++i) {
    TOutputSlot& slot = p->slots[i];
    if (!slot.active || (p->from_web && i != 2)) continue;
    const TResampleRegion& r = slot.stored.region;
    const TResampleRegion scaled{r.left * sx, r.top * sy, r.width * sx, r.height * sy};
    if (!BitmapCreate(slot.bitmap, slot.stored.width, slot.stored.height) ||
        !ResamplerInit(&slot.resampler, width, height, scaled, &slot.bitmap)) {
      p->out_of_memory = true;
      return false;
    }
  }
  return true;
}

void ProductionRow(void* context, int32_t y, const uint8_t* rgb) {
  TProduction* p = static_cast<TProduction*>(context);
  for (TOutputSlot& slot : p->slots) {
    if (slot.active) ResamplerPushRow(&slot.resampler, y, rgb);
  }
}

bool ProductionFinished(const TProduction& p) {
  for (int i = 0; i < kSlotCount; ++i) {
    if (p.from_web && i != 2) continue;
    if (p.slots[i].active && !ResamplerFinished(&p.slots[i].resampler)) return false;
  }
  return true;
}

// The thumbnails reduced from the finished web copy: the 2x from it, the 1x
// from the 2x (the same part of the image) or else from it.
bool DeriveThumbnails(TProduction* p) {
  if (!p->from_web) return true;
  const TMemBitmap& web = p->slots[2].bitmap;
  const double sx = static_cast<double>(web.width) / p->full_width;
  const double sy = static_cast<double>(web.height) / p->full_height;
  for (int i = 1; i >= 0; --i) {
    TOutputSlot& slot = p->slots[i];
    if (!slot.active) continue;
    const TResampleRegion& r = slot.stored.region;
    bool made = false;
    if (i == 0 && p->slots[1].active) {
      const TMemBitmap& two = p->slots[1].bitmap;
      made = BitmapResample(two, TResampleRegion{0, 0, static_cast<double>(two.width), static_cast<double>(two.height)},
                            slot.stored.width, slot.stored.height, slot.bitmap);
    } else {
      made = BitmapResample(web, TResampleRegion{r.left * sx, r.top * sy, r.width * sx, r.height * sy},
                            slot.stored.width, slot.stored.height, slot.bitmap);
    }
    if (!made) {
      p->out_of_memory = true;
      return false;
    }
  }
  return true;
}

// Files of other formats: a whole decode, shrunk by the whole factor that
// keeps every output's pixels, then the same rows as from a JPEG file.
bool DecodeWholeImage(const char* path, TProduction* p) {
  TMemBitmap image;
  LoadImageByExtension(path, p->options.cellwidth, p->options.cellheight, image, kThumbnailLoadFlags, nullptr);
  if (image.pixels == nullptr || image.header.biBitCount != 24 || image.width < 1 || image.height < 1) return false;
  TJpegStreamHeader header;
  header.width = image.width;
  header.height = image.height;
  int32_t min_width = 0;
  int32_t min_height = 0;
  if (!PlanProduction(p, header, &min_width, &min_height)) return false;
  const int32_t factor = std::max(1, std::min(image.width / std::max(min_width, 1), image.height / std::max(min_height, 1)));
  if (factor > 1) {
    TMemBitmap shrunk;
    if (!BitmapBoxShrink(image, factor, shrunk)) {
      p->out_of_memory = true;
      return false;
    }
    image = std::move(shrunk);
  }
  if (!StartProduction(p, image.width, image.height)) return false;
  uint8_t* row = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(image.width) * 3));
  if (row == nullptr) {
    p->out_of_memory = true;
    return false;
  }
  for (int32_t y = 0; y < image.height; ++y) {
    const uint8_t* in = BitmapPixel(image, 0, y);
    for (int32_t x = 0; x < image.width; ++x) {
      row[x * 3] = in[x * 3 + 2];
      row[x * 3 + 1] = in[x * 3 + 1];
      row[x * 3 + 2] = in[x * 3];
    }
    ProductionRow(p, y, row);
  }
  std::free(row);
  return ProductionFinished(*p) && DeriveThumbnails(p);
}

// True when the file at `path` holds exactly these bytes.
bool FileHolds(const char* path, const uint8_t* data, size_t size) {
  struct stat info;
  if (::stat(path, &info) != 0 || !S_ISREG(info.st_mode) || static_cast<uint64_t>(info.st_size) != size) return false;
  std::FILE* stream = OpenRegularFileForReading(path);
  if (stream == nullptr) return false;
  uint8_t buffer[65536];
  size_t at = 0;
  bool same = true;
  while (same) {
    const size_t got = std::fread(buffer, 1, sizeof buffer, stream);
    if (got == 0) break;
    same = at + got <= size && std::memcmp(buffer, data + at, got) == 0;
    at += got;
  }
  std::fclose(stream);
  return same && at == size;
}

// Encodes an output and puts it in place unless the file there is the same.
bool WriteOutput(TMemBitmap& stored, int32_t orientation, const TJpegStreamFacts& facts, const char* path) {
  if (facts.icc != nullptr) BitmapConvertToSrgb(stored, facts.icc, facts.icc_size);
  TMemBitmap upright;
  const TMemBitmap* final_bitmap = &stored;
  if (orientation != 1) {
    if (!BitmapOrient(stored, orientation, upright)) return false;
    final_bitmap = &upright;
  }
  TEncodedJpeg jpeg;
  if (!JpegEncodeBitmap(*final_bitmap, kModernQuality, jpeg)) return false;
  if (FileHolds(path, jpeg.data, jpeg.size)) return true;
  return WriteFileReplacing(path, jpeg.data, jpeg.size);
}

bool IsRegularFile(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// Every file an entry refers to is still there.
bool OutputsPresent(const char* folder, const TModernImageResult& result) {
  for (const std::string* relative : {&result.thumb_1x, &result.thumb_2x, &result.web_copy}) {
    if (relative->empty()) continue;
    char path[kPathBufferSize];
    if (!PathJoin(path, sizeof path, kMaxPath, folder, relative->c_str()) || !IsRegularFile(path)) return false;
  }
  return !result.thumb_1x.empty();
}

bool MakeFresh(const char* folder, const char* name, const char* image_path, const TModernImageOptions& options,
               TModernImageResult* result) {
  TProduction production;
  production.options = options;
  production.displayable = IsBrowserDisplayable(image_path);
  TJpegStreamFacts facts;
  bool decoded = false;
  if (IsJpegName(image_path)) {
    TJpegRowSink sink;
    sink.context = &production;
    sink.plan = PlanProduction;
    sink.start = StartProduction;
    sink.row = ProductionRow;
    decoded = JpegStreamRows(image_path, sink, &facts) == TJpegStreamResult::kDone &&
              ProductionFinished(production) && DeriveThumbnails(&production);
  } else {
    decoded = DecodeWholeImage(image_path, &production);
  }
  const bool swap = OrientationSwapsSides(production.orientation);
  TImageFacts& out_facts = result->facts;
  out_facts.width = swap ? production.full_height : production.full_width;
  out_facts.height = swap ? production.full_width : production.full_height;
  out_facts.orientation = production.orientation;
  out_facts.date_taken = facts.exif.date_taken;
  out_facts.camera = facts.exif.camera;
  out_facts.exposure = facts.exif.exposure;

  bool written = decoded;
  char stem[32];
  NamedImageStem(name, stem, sizeof stem);
  for (int i = 0; i < kSlotCount && written; ++i) {
    const std::string relative = std::string(kThumbnailFolder) + "/" + stem + kNamedImageSuffixes[i];
    char path[kPathBufferSize];
    if (!PathJoin(path, sizeof path, kMaxPath, folder, relative.c_str())) {
      written = false;
      break;
    }
    TOutputSlot& slot = production.slots[i];
    if (!slot.active) {
      // An output this image no longer has (other settings, a changed file) goes.
      ::unlink(path);
      continue;
    }
    ResamplerFree(&slot.resampler);
    if (i == 0) MakePathDirs(path, 1);
    if (!WriteOutput(slot.bitmap, production.orientation, facts, path)) {
      written = false;
      break;
    }
    BitmapFree(slot.bitmap);
    if (i == 0) {
      result->thumb_1x = relative;
      result->thumb_width = slot.upright.width;
      result->thumb_height = slot.upright.height;
    } else if (i == 1) {
      result->thumb_2x = relative;
    } else {
      result->web_copy = relative;
      result->web_width = slot.upright.width;
      result->web_height = slot.upright.height;
    }
  }
  std::free(facts.icc);
  if (!written) {
    const TImageFacts known = result->facts;
    *result = TModernImageResult{};
    result->facts = known;
  }
  return written;
}

}  // namespace

bool ProduceOrReuseModernImages(const char* source, const char* folder, const char* name,
                                const TModernImageOptions& options,
                                const std::vector<TModernManifestEntry>& entries, TModernManifestEntry* made) {
  *made = TModernManifestEntry{};
  made->name = name;
  char image_path[kPathBufferSize];
  if (!PathJoin(image_path, sizeof image_path, kMaxPath, source, name)) return false;
  // The key is taken before the decode: a file that changes meanwhile is made again next time.
  if (!ReadModernSourceKey(image_path, &made->source)) return false;
  made->cellwidth = options.cellwidth;
  made->cellheight = options.cellheight;
  made->crop = options.crop;
  made->version = kModernEncoderVersion;
  const TModernManifestEntry* known = FindModernEntry(entries, name, made->source, options);
  if (known != nullptr && OutputsPresent(folder, known->result)) {
    made->result = known->result;
    return true;
  }
  return MakeFresh(folder, name, image_path, options, &made->result);
}
