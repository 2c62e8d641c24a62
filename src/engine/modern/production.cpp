// One decode feeds the outputs: a JPEG file is decoded row by row at the
// smallest DCT scale that still gives each output its pixels, other files
// are shrunk by whole factors first (PNG, WebP and TIFF files as their rows
// are read, the others decoded whole); the rows go to a
// Lanczos-3 resampler per output, in the file's stored orientation. When a
// web copy is made, only it is fed from the decode and the thumbnails are
// reduced from it (the 1x from the 2x), which does the heavy filtering once
// instead of three times. Each
// finished output is converted to sRGB, turned upright, encoded at quality
// 85 and written only when its bytes differ from the file already there.

#include "engine/modern/production.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "engine/store/generated_names.h"
#include "engine/modern/plan.h"
#include "engine/modern/web_video.h"
#include "engine/run/index_options.h"
#include "imagein/format_table.h"
#include "imagein/jpeg_row_stream.h"
#include "imagein/load_codes.h"
#include "imagein/load_peak.h"
#include "imagein/loader.h"
#include "platform/atomic_file.h"
#include "platform/folder_handle.h"
#include "imagein/memory_budget.h"
#include "imagein/photo_text.h"
#include "imagein/reader_row_stream.h"
#include "imagein/video.h"
#include "raster/jpeg_memory_writer.h"
#include "raster/orient.h"
#include "raster/resample.h"
#include "raster/srgb.h"
#include "support/path_util.h"

namespace {

constexpr int kModernQuality = 85;
constexpr int kSlotCount = kNamedImageKinds;  // 1x, 2x, web
// What the outputs hold at most beside the decode: the web copy (at most
// kWebCopyLongSide on its long side), its turned copy and coded file, the
// thumbnails and the resamplers' rows.
constexpr uint64_t kOutputBytes = uint64_t{kWebCopyLongSide} * kWebCopyLongSide * 3 * 3 + (uint64_t{16} << 20);

// Files the JPEG adapter decodes (by the format table) stream row by row.
bool IsJpegName(const char* path) {
  return FormatIdOfPath(path) == static_cast<int32_t>(TImageFormat::kJpeg);
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
  bool no_web = false;  // a video's poster: thumbnails only, the viewer plays the video
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
  if (p->no_web) plan.web = TModernOutput{};
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
    const double w = std::ceil(static_cast<double>(slot.stored.width) * header.width / slot.stored.region.width - 1e-9);
    const double h = std::ceil(static_cast<double>(slot.stored.height) * header.height / slot.stored.region.height - 1e-9);
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

// A decoded 24-bit bitmap (a whole image, a video's poster), shrunk by the
// whole factor that keeps every output's pixels, then the same rows as from
// a JPEG file.
bool FeedBitmap(TMemBitmap& image, TProduction* p) {
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

// Files of other formats: a whole decode fed as a bitmap.
bool DecodeWholeImage(const char* path, TProduction* p) {
  TMemBitmap image;
  LoadImageByExtension(path, p->options.cellwidth, p->options.cellheight, image, kThumbnailLoadFlags, nullptr);
  return FeedBitmap(image, p);
}

// A PNG, WebP or TIFF file's rows as they are read, each block of the whole
// factor that keeps every output's pixels averaged into one row (as
// DecodeWholeImage shrinks the whole image) and handed to the outputs.
struct TShrinkFeed {
  TProduction* production = nullptr;
  TRowShrinker shrinker;
  int32_t min_width = 1;
  int32_t min_height = 1;
};

bool PlanFeed(void* context, const TJpegStreamHeader& header, int32_t* min_width, int32_t* min_height) {
  auto* feed = static_cast<TShrinkFeed*>(context);
  if (!PlanProduction(feed->production, header, min_width, min_height)) return false;
  feed->min_width = std::max(*min_width, 1);
  feed->min_height = std::max(*min_height, 1);
  return true;
}

void FeedShrunkRow(void* context, int32_t y, const uint8_t* rgb) { ProductionRow(context, y, rgb); }

bool StartFeed(void* context, int32_t width, int32_t height) {
  auto* feed = static_cast<TShrinkFeed*>(context);
  const int32_t factor = std::max(1, std::min(width / feed->min_width, height / feed->min_height));
  if (!RowShrinkerInit(&feed->shrinker, width, height, factor, FeedShrunkRow, feed->production)) {
    feed->production->out_of_memory = true;
    return false;
  }
  return StartProduction(feed->production, (width + factor - 1) / factor, (height + factor - 1) / factor);
}

void FeedRow(void* context, int32_t, const uint8_t* rgb) {
  RowShrinkerPush(&static_cast<TShrinkFeed*>(context)->shrinker, rgb);
}

bool DecodeStreamedImage(const char* path, int32_t kind, TProduction* p) {
  TShrinkFeed feed;
  feed.production = p;
  TJpegRowSink sink;
  sink.context = &feed;
  sink.plan = PlanFeed;
  sink.start = StartFeed;
  sink.row = FeedRow;
  const TReaderStreamOutcome outcome = ReaderStreamRows(path, kind, 0, sink);
  RowShrinkerFree(&feed.shrinker);
  if (outcome.result == TJpegStreamResult::kOutOfMemory) p->out_of_memory = true;
  return outcome.result == TJpegStreamResult::kDone && ProductionFinished(*p) && DeriveThumbnails(p);
}

// Encodes an output and puts it in place unless the file there is the same
// (`afresh`: written in any case).
bool WriteOutput(TMemBitmap& stored, int32_t orientation, const TJpegStreamFacts& facts, const char* path,
                 bool afresh) {
  if (facts.icc != nullptr) BitmapConvertToSrgb(stored, facts.icc, facts.icc_size);
  TMemBitmap upright;
  const TMemBitmap* final_bitmap = &stored;
  if (orientation != 1) {
    if (!BitmapOrient(stored, orientation, upright)) return false;
    final_bitmap = &upright;
  }
  TEncodedJpeg jpeg;
  if (!JpegEncodeBitmap(*final_bitmap, kModernQuality, jpeg)) return false;
  return afresh ? WriteFileReplacing(path, jpeg.data, jpeg.size) : WriteFileIfChanged(path, jpeg.data, jpeg.size);
}

bool IsRegularFile(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// Every file an entry refers to is still there.
bool OutputsPresent(const char* folder, const TModernImageResult& result) {
  for (const std::string* relative : {&result.thumb_1x, &result.thumb_2x, &result.web_copy, &result.video.web_copy}) {
    if (relative->empty()) continue;
    char path[kPathBufferSize];
    if (!PathJoin(path, sizeof path, kMaxPath, folder, relative->c_str()) || !IsRegularFile(path)) return false;
  }
  // A video whose poster could not be read has no thumbnail to look for.
  return !result.thumb_1x.empty() || (result.video.is_video && result.video.code != 0);
}

bool WriteProduction(const char* folder, const char* name, const TModernImageOptions& options,
                     const TJpegStreamFacts& facts, bool decoded, TProduction& production,
                     TModernImageResult* result);

bool MakeFresh(const char* folder, const char* name, const char* image_path, const TModernImageOptions& options,
               TModernImageResult* result) {
  TProduction production;
  production.options = options;
  production.displayable = WebReadyPath(image_path);
  TJpegStreamFacts facts;
  bool decoded = false;
  // The decode holds the process's decode budget: a JPEG file's coefficient
  // buffers and rows, any other file's full load and its first shrink, each
  // beside the outputs.
  const TLoadPeak peak = ReadLoadPeak(image_path);
  const bool jpeg = IsJpegName(image_path);
  const int32_t kind = ReaderKindOf(image_path);
  const bool streamed = !jpeg && ReaderKindStreams(kind);
  const bool whole = !jpeg && !streamed;
  const uint64_t decode_bytes = LoadPeakBytes(peak, whole) + (whole ? peak.pixel_bytes / 4 : 0);
  TBudgetHold hold(DecodeMemoryBudget(), decode_bytes + kOutputBytes);
  if (jpeg) {
    TJpegRowSink sink;
    sink.context = &production;
    sink.plan = PlanProduction;
    sink.start = StartProduction;
    sink.row = ProductionRow;
    decoded = JpegStreamRows(image_path, sink, &facts) == TJpegStreamResult::kDone &&
              ProductionFinished(production) && DeriveThumbnails(&production);
  } else if (streamed) {
    decoded = DecodeStreamedImage(image_path, kind, &production);
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
  const bool written = WriteProduction(folder, name, options, facts, decoded, production, result);
  std::free(facts.icc);
  return written;
}

// Puts the finished outputs of `production` in place under their names
// (removing those it no longer has) and fills `result`'s paths; on failure
// `result` keeps only its facts (and its video's) and the write failure.
bool WriteProduction(const char* folder, const char* name, const TModernImageOptions& options,
                     const TJpegStreamFacts& facts, bool decoded, TProduction& production,
                     TModernImageResult* result) {
  bool written = decoded;
  // Nothing goes through a linked thumbnail folder: it may lead anywhere.
  const bool linked = written && IsLinkedThumbnailFolder(folder);
  char stem[32];
  NamedImageStem(name, stem, sizeof stem);
  for (int i = 0; i < kSlotCount && written; ++i) {
    const std::string relative = std::string(kThumbnailFolder) + "/" + stem + kNamedImageSuffixes[i];
    char path[kPathBufferSize];
    if (!PathJoin(path, sizeof path, kMaxPath, folder, relative.c_str())) {
      written = false;
      break;
    }
    if (linked) {
      result->failure = TModernWriteFailure{path, 0, kLinkedFolderReason};
      written = false;
      break;
    }
    TOutputSlot& slot = production.slots[i];
    if (!slot.active) {
      // An output this image no longer has (other settings, a changed file) goes.
      RemoveFileInFolder(path);
      continue;
    }
    ResamplerFree(&slot.resampler);
    errno = 0;
    if ((i == 0 && !MakeParentFolder(path)) ||
        !WriteOutput(slot.bitmap, production.orientation, facts, path, options.rebuild != 0)) {
      // An encoding failure leaves errno 0: that is no write failure.
      if (errno != 0) result->failure = TModernWriteFailure{path, errno == EEXIST ? ENOTDIR : errno, nullptr};
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
  if (!written) {
    const TImageFacts known = result->facts;
    TModernVideo video = std::move(result->video);
    TModernWriteFailure failure = std::move(result->failure);
    *result = TModernImageResult{};
    result->facts = known;
    result->video = std::move(video);
    result->failure = std::move(failure);
  }
  return written;
}

// A poster read's result that holds for the file as it is: recorded, so that
// an unchanged re-run does not read the video again. A timeout, a file that
// could not be opened or memory that could not be had may pass.
bool SettledVideoCode(int32_t code) {
  return code == kVideoNotVideo || code == kVideoNoDecoder || code == kVideoDamaged || code == kVideoOverLimits;
}

// A video: its facts, its poster made into the thumbnails a photo gets, and
// in transcode mode a web copy when browsers do not play it. True when the
// outcome may be recorded (a poster and every wanted copy made, or a poster
// that this file will never give).
bool MakeFreshVideo(const char* folder, const char* name, const char* video_path, const TModernImageOptions& options,
                    TModernImageResult* result) {
  TModernVideo& video = result->video;
  video.is_video = true;
  TVideoFacts facts;
  TMemBitmap poster;
  TProduction production;
  production.options = options;
  production.displayable = true;
  production.no_web = true;
  bool decoded = false;
  {
    TBudgetHold hold(DecodeMemoryBudget(), kOutputBytes);
    video.code = ReadVideoPoster(video_path, TVideoLimits{}, &facts, &poster);
    if (video.code == 0) decoded = FeedBitmap(poster, &production);
    BitmapFree(poster);
  }
  video.duration_ms = facts.duration_ms;
  video.mime_type = facts.mime_type;
  video.playable = facts.browser_playable;
  result->facts.width = facts.width;
  result->facts.height = facts.height;
  result->facts.date_taken = facts.date_recorded;
  result->facts.camera = facts.camera;
  if (video.code != 0) return SettledVideoCode(video.code);
  TJpegStreamFacts no_profile{};
  if (!WriteProduction(folder, name, options, no_profile, decoded, production, result)) return false;

  char stem[32];
  NamedImageStem(name, stem, sizeof stem);
  const std::string relative = std::string(kThumbnailFolder) + "/" + stem + kNamedVideoSuffix;
  char target[kPathBufferSize];
  if (!PathJoin(target, sizeof target, kMaxPath, folder, relative.c_str())) return false;
  if (options.video_mode != kVideoTranscode || video.playable) {
    RemoveFileInFolder(target);  // a copy this video no longer needs
    return true;
  }
  TWebVideoOptions web;
  web.stop = options.stop;
  if (options.video_progress != nullptr) {
    std::atomic<int32_t>* shown = options.video_progress;
    web.progress = [shown](double done) { shown->store(static_cast<int32_t>(done * 1000), std::memory_order_relaxed); };
    shown->store(0, std::memory_order_relaxed);
  }
  std::string reason;
  const bool made = MakeWebVideo(video_path, target, web, &reason);
  if (options.video_progress != nullptr) options.video_progress->store(-1, std::memory_order_relaxed);
  if (!made) {
    // Not recorded: the next run tries again; the page plays the original meanwhile.
    video.web_failure = reason.empty() ? "the web copy could not be made" : reason;
    return false;
  }
  video.web_copy = relative;
  if (options.transcodes != nullptr) options.transcodes->fetch_add(1, std::memory_order_relaxed);
  return true;
}

// The photo's texts into `made` (nothing read when they are off).
void ReadTexts(const char* source, const char* name, const TModernImageOptions& options, TModernManifestEntry* made) {
  made->result.facts.text = TPhotoText{};
  made->result.text_warnings.clear();
  if (options.read_texts == 0) {
    made->sidecars = kTextsNotRead;
    return;
  }
  if (options.text_reads != nullptr) options.text_reads->fetch_add(1, std::memory_order_relaxed);
  ReadPhotoText(source, name, &made->result.facts.text, &made->result.text_warnings);
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
  if (!ReadFileStamp(image_path, &made->source)) return false;
  made->cellwidth = options.cellwidth;
  made->cellheight = options.cellheight;
  made->crop = options.crop;
  made->version = kModernEncoderVersion;
  const bool video = IsVideoPath(name);
  made->video_mode = video ? options.video_mode : 0;
  if (video) {
    made->sidecars = kTextsNotRead;
    const TModernManifestEntry* known =
        options.rebuild != 0 ? nullptr : FindModernEntry(entries, name, made->source, options);
    if (known != nullptr && known->result.video.is_video && OutputsPresent(folder, known->result)) {
      made->result = known->result;
      if (options.reuses != nullptr) options.reuses->fetch_add(1, std::memory_order_relaxed);
      return true;
    }
    if (options.decodes != nullptr) options.decodes->fetch_add(1, std::memory_order_relaxed);
    return MakeFreshVideo(folder, name, image_path, options, &made->result);
  }
  // The sidecars as they are now: a change of one re-reads the texts alone.
  made->sidecars = options.read_texts != 0 ? PhotoTextSidecarKey(source, name) : kTextsNotRead;
  const TModernManifestEntry* known =
      options.rebuild != 0 ? nullptr : FindModernEntry(entries, name, made->source, options);
  // A video's entry under a photo's name (a renamed file, a doubtful record) is no photo's.
  if (known != nullptr && !known->result.video.is_video && OutputsPresent(folder, known->result)) {
    made->result = known->result;
    if (known->sidecars != made->sidecars) ReadTexts(source, name, options, made);
    if (options.reuses != nullptr) options.reuses->fetch_add(1, std::memory_order_relaxed);
    return true;
  }
  if (options.decodes != nullptr) options.decodes->fetch_add(1, std::memory_order_relaxed);
  const bool made_images = MakeFresh(folder, name, image_path, options, &made->result);
  ReadTexts(source, name, options, made);
  return made_images;
}
