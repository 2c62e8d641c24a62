#include "imagein/format_table.h"

#include <cstring>
#include <iterator>

#include "imagein/format_codes.h"
#include "imagein/jpeg_adapter.h"
#include "imagein/loader.h"
#include "support/path_util.h"

namespace {

// Header probes of the rows.

// One read of the head gives the size, the EXIF facts and the decode's needs.
bool ProbeJpeg(const char* path, TImageProbe* probe) {
  if (JpegReadHeadFacts(path, &probe->width, &probe->height, &probe->exif, &probe->decoder_bytes) == 0)
    return false;
  probe->orientation = probe->exif.orientation;
  probe->needs_known = true;
  return true;
}

bool ProbeGif(const char* path, TImageProbe* probe) {
  if (!GifReadScreenSize(path, &probe->width, &probe->height)) return false;
  probe->needs_known = probe->width > 0 && probe->height > 0;
  probe->decoder_bytes = uint64_t(probe->width) * uint64_t(probe->height);
  return true;
}

// Sizes that the first bytes of the file give (PNG, WebP).
bool ProbeHead(const char* path, bool (*read_size)(const uint8_t*, size_t, int32_t*, int32_t*),
               TImageProbe* probe) {
  unsigned char head[64];
  const long got = ReadRegularFileHead(path, head, sizeof head);
  if (got <= 0) return false;
  return read_size(head, static_cast<size_t>(got), &probe->width, &probe->height);
}

bool ProbePng(const char* path, TImageProbe* probe) { return ProbeHead(path, PngReadSize, probe); }
bool ProbeWebp(const char* path, TImageProbe* probe) { return ProbeHead(path, WebpReadSize, probe); }
bool ProbeHeif(const char* path, TImageProbe* probe) {
  return HeifReadSize(path, &probe->width, &probe->height);
}
bool ProbeTiff(const char* path, TImageProbe* probe) {
  return TiffReadSize(path, &probe->width, &probe->height);
}

bool JpegNeeds(const char* path, int32_t* width, int32_t* height, uint64_t* decoder_bytes) {
  return JpegReadDecodeNeeds(path, width, height, decoder_bytes) == 1;
}

// The GIF reader keeps a frame of one index byte per pixel beside the bitmap.
bool GifNeeds(const char* path, int32_t* width, int32_t* height, uint64_t* decoder_bytes) {
  if (!GifReadScreenSize(path, width, height) || *width <= 0 || *height <= 0) return false;
  *decoder_bytes = uint64_t(*width) * uint64_t(*height);
  return true;
}

bool BmpNeeds(const char* path, int32_t* width, int32_t* height, uint64_t* decoder_bytes) {
  *decoder_bytes = 0;
  return BmpReadSize(path, width, height);
}

bool TargaNeeds(const char* path, int32_t* width, int32_t* height, uint64_t* decoder_bytes) {
  *decoder_bytes = 0;
  return TargaReadSize(path, width, height);
}

// What a reader counts against the cap beside the bitmap before it
// allocates (its own whole-image buffers at their worst): an interlaced
// PNG's RGBA image, libwebp's blocks of a lossless or animated file,
// libtiff's RGBA raster, libheif's planes.
template <TFormatProbe kProbe, uint64_t kBytesPerPixel>
bool ReaderNeeds(const char* path, int32_t* width, int32_t* height, uint64_t* decoder_bytes) {
  TImageProbe probe;
  if (!kProbe(path, &probe) || probe.width <= 0 || probe.height <= 0) return false;
  *width = probe.width;
  *height = probe.height;
  *decoder_bytes = kBytesPerPixel * uint64_t(probe.width) * uint64_t(probe.height);
  return true;
}
constexpr TFormatNeeds PngNeeds = ReaderNeeds<ProbePng, 4>;
constexpr TFormatNeeds WebpNeeds = ReaderNeeds<ProbeWebp, 16>;
constexpr TFormatNeeds TiffNeeds = ReaderNeeds<ProbeTiff, 4>;
constexpr TFormatNeeds HeifNeeds = ReaderNeeds<ProbeHeif, 19>;

constexpr int32_t Id(TImageFormat format) { return static_cast<int32_t>(format); }

constexpr TFormatRow VideoRow(TImageFormat format, const char* name, const char* pattern,
                              const char* second = nullptr) {
  TFormatRow row;
  row.id = Id(format);
  row.name = name;
  row.patterns[0] = pattern;
  row.patterns[1] = second;
  row.video = true;
  return row;
}

// BMP, Targa and FITS files get no size probe: their full-image cells take
// the cell's width, as the described classic pages have them.
const TFormatRow kBuiltInRows[] = {
    {Id(TImageFormat::kJpeg), "JPEG", {"*.jpg", "*.jpeg", "*.jpe", "*.jfif"}, "*.jpg", true, ProbeJpeg,
     JpegNeeds, nullptr, 0, 0, true, true},
    {Id(TImageFormat::kGif), "GIF", {"*.gif"}, "*.gif", true, ProbeGif, GifNeeds, CreateGifSource, 213, 224,
     false, true},
    {Id(TImageFormat::kBmp), "BMP", {"*.bmp"}, "*.bmp", true, nullptr, BmpNeeds, CreateBmpSource, 201, 207},
    {Id(TImageFormat::kPng), "PNG", {"*.png"}, nullptr, true, ProbePng, PngNeeds, CreatePngSource, kPngNotPng,
     269, false, true},
    {Id(TImageFormat::kWebp), "WebP", {"*.webp"}, nullptr, true, ProbeWebp, WebpNeeds, CreateWebpSource,
     kWebpNotWebp, 279, false, true},
    {Id(TImageFormat::kAvif), "AVIF", {"*.avif"}, nullptr, true, ProbeHeif, HeifNeeds, CreateHeifSource,
     kHeifNotHeif, 289, false, true},
    {Id(TImageFormat::kHeif), "HEIF", {"*.heic", "*.heif"}, nullptr, false, ProbeHeif, HeifNeeds, CreateHeifSource,
     kHeifNotHeif, 289},
    {Id(TImageFormat::kTiff), "TIFF", {"*.tif", "*.tiff"}, nullptr, false, ProbeTiff, TiffNeeds, CreateTiffSource,
     kTiffNotTiff, 299},
    {Id(TImageFormat::kTarga), "Targa", {"*.tga"}, nullptr, false, nullptr, TargaNeeds, CreateTargaSource, 225,
     230},
    {Id(TImageFormat::kFits), "FITS", {"*.fts", "*.fits"}, nullptr, false, nullptr, nullptr, CreateFitsSource,
     236, 241},
    // Videos: no probe, no reader; whether a browser plays one depends on
    // its codecs (TVideoFacts::browser_playable), not its extension.
    VideoRow(TImageFormat::kMp4, "MP4 video", "*.mp4", "*.m4v"),
    VideoRow(TImageFormat::kMov, "QuickTime video", "*.mov"),
    VideoRow(TImageFormat::kWebm, "WebM video", "*.webm"),
    VideoRow(TImageFormat::kMkv, "Matroska video", "*.mkv"),
    VideoRow(TImageFormat::kAvi, "AVI video", "*.avi"),
    VideoRow(TImageFormat::kThreeGp, "3GP video", "*.3gp"),
    VideoRow(TImageFormat::kMts, "AVCHD video", "*.mts"),
};

constexpr size_t kBuiltInCount = std::size(kBuiltInRows);
constexpr size_t kMaxRegistered = 4;
constexpr size_t kMaxRows = kBuiltInCount + kMaxRegistered;
constexpr size_t kMaxPatterns = kMaxRows * kMaxFormatPatterns;

// The rows and the listing patterns drawn from them, rebuilt at each registration.
struct TTable {
  TFormatRow rows[kMaxRows];
  size_t count = 0;
  const char* all[kMaxPatterns] = {};
  size_t all_count = 0;
  const char* classic[kMaxRows] = {};
  size_t classic_count = 0;
  const char* videos[kMaxPatterns] = {};
  size_t video_count = 0;

  TTable() {
    for (const TFormatRow& row : kBuiltInRows) rows[count++] = row;
    BuildPatterns();
  }

  void BuildPatterns() {
    all_count = 0;
    classic_count = 0;
    video_count = 0;
    // The classic set in its described order.
    for (const char* wanted : {"*.gif", "*.jpg", "*.bmp"}) {
      for (size_t i = 0; i < count; ++i) {
        if (rows[i].classic_pattern != nullptr && std::strcmp(rows[i].classic_pattern, wanted) == 0)
          classic[classic_count++] = rows[i].classic_pattern;
      }
    }
    for (size_t i = 0; i < count; ++i) {
      for (const char* pattern : rows[i].patterns) {
        if (pattern == nullptr) continue;
        if (rows[i].video) {
          videos[video_count++] = pattern;
        } else {
          all[all_count++] = pattern;
        }
      }
    }
  }
};

TTable& Table() {
  static TTable table;
  return table;
}

bool ValidPattern(const char* pattern) {
  return pattern != nullptr && pattern[0] == '*' && pattern[1] == '.' && pattern[2] != '\0';
}

}  // namespace

const TFormatRow* FormatRows(size_t* count) {
  TTable& table = Table();
  *count = table.count;
  return table.rows;
}

const TFormatRow* FormatOfPath(const char* path) {
  if (path == nullptr) return nullptr;
  const TTable& table = Table();
  for (size_t i = 0; i < table.count; ++i) {
    for (const char* pattern : table.rows[i].patterns) {
      if (pattern != nullptr && HasExtension(path, pattern + 1)) return &table.rows[i];
    }
  }
  return nullptr;
}

const TFormatRow* FormatRowById(int32_t id) {
  const TTable& table = Table();
  for (size_t i = 0; i < table.count; ++i) {
    if (table.rows[i].id == id) return &table.rows[i];
  }
  return nullptr;
}

int32_t FormatIdOfPath(const char* path) {
  const TFormatRow* row = FormatOfPath(path);
  return row != nullptr ? row->id : Id(TImageFormat::kUnknown);
}

bool IsVideoPath(const char* path) {
  const TFormatRow* row = FormatOfPath(path);
  return row != nullptr && row->video;
}

bool BrowserShowsPath(const char* path) {
  const TFormatRow* row = FormatOfPath(path);
  return row != nullptr && row->browser_shows;
}

bool WebReadyPath(const char* path) {
  const TFormatRow* row = FormatOfPath(path);
  return row != nullptr && row->browser_shows && row->web_ready;
}

const char* const* FormatPatterns(bool classic_only, size_t* count) {
  const TTable& table = Table();
  *count = classic_only ? table.classic_count : table.all_count;
  return classic_only ? table.classic : table.all;
}

const char* const* VideoPatterns(size_t* count) {
  const TTable& table = Table();
  *count = table.video_count;
  return table.videos;
}

bool RegisterImageFormat(const TFormatRow& row) {
  TTable& table = Table();
  if (table.count >= kMaxRows || row.id <= 0 || FormatRowById(row.id) != nullptr) return false;
  if (!ValidPattern(row.patterns[0])) return false;
  for (const char* pattern : row.patterns) {
    if (pattern == nullptr) continue;
    if (!ValidPattern(pattern) || FormatOfPath(pattern + 1) != nullptr) return false;
  }
  table.rows[table.count++] = row;
  table.BuildPatterns();
  return true;
}

void ClearRegisteredFormats() {
  TTable& table = Table();
  table.count = kBuiltInCount;
  table.BuildPatterns();
}
