// The Targa reader: colour-mapped, true-colour and greyscale images (types 1,
// 2, 3) and their run-length forms (9, 10, 11), 8 to 32 bits per pixel.
// Rows go out top row first: red, green, blue bytes, or one grey byte per
// pixel. Files stored bottom row first are read whole on the first GetRows.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "imagein/image_source.h"
#include "imagein/load_codes.h"
#include "raster/membitmap.h"

namespace {

constexpr int kTargaBadColorMap = 225;
constexpr int kTargaBadHeader = 226;
constexpr int kTargaTraceTrueColor = 228;
constexpr int kTargaTraceGray = 229;
constexpr int kTargaTraceMapped = 230;

constexpr uint32_t kHeaderSize = 18;
constexpr uint32_t kMaxColors = 256;
constexpr uint8_t kTopDownFlag = 0x20;
constexpr uint8_t kInterleaveBits = 0xC0;

enum class TTargaPixels { kGray, kMapped, kRgb16, kRgb24 };

struct TTargaSource : TImageSource {
  // Red, green and blue rows of the colour map. Entries the file does not
  // supply stay black, so any 8-bit index reads inside the map.
  uint8_t colormap[3][kMaxColors] = {};
  TTargaPixels kind = TTargaPixels::kRgb24;
  uint32_t bytes_per_pixel = 0;
  uint8_t pixel[4] = {};           // the current pixel as stored
  bool run_length = false;
  int32_t block_count = 0;         // literal pixels left in the current packet
  int32_t repeat_count = 0;        // repeats left of the current pixel
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t components = 3;         // bytes per output pixel
  uint32_t rows_given = 0;
  uint8_t* whole_image = nullptr;  // bottom-up files: every row in file order
  size_t whole_capacity = 0;
  size_t whole_bytes = 0;
};

TTargaSource* AsTarga(TImageSource* source) { return static_cast<TTargaSource*>(source); }

uint16_t ReadLe16(const uint8_t* bytes) { return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8)); }

// A trace: an informational message that the error manager does not count.
void ReaderTrace(TReaderContext* context, int code) {
  jpeg_error_mgr* err = context->common.err;
  if (err == nullptr || err->emit_message == nullptr) return;
  err->msg_code = code;
  err->emit_message(&context->common, 1);
}

// Reads the next pixel into `pixel`; false (end of file already raised) when
// the file ends. Run-length packets carry over from row to row.
bool ReadPixel(TReaderContext* context, TTargaSource* tga) {
  if (tga->run_length) {
    if (tga->repeat_count > 0) {
      --tga->repeat_count;
      return true;
    }
    if (--tga->block_count < 0) {
      const int count = SourceReadByte(context, tga);
      if (count < 0) return false;
      if (count & 0x80) {
        tga->repeat_count = count & 0x7F;
        tga->block_count = 0;
      } else {
        tga->block_count = count & 0x7F;
      }
    }
  }
  return SourceReadBytes(context, tga, tga->pixel, tga->bytes_per_pixel);
}

// The 5-bit channel values of a 16-bit pixel spread over 0..255, rounded.
uint8_t Expand5(uint32_t value) { return static_cast<uint8_t>((value * 255 + 15) / 31); }

// Reads one row of pixels and stores it at `out`; false when the file ended.
bool ReadRow(TReaderContext* context, TTargaSource* tga, uint8_t* out) {
  for (uint32_t x = 0; x < tga->width; ++x) {
    if (!ReadPixel(context, tga)) return false;
    const uint8_t* p = tga->pixel;
    switch (tga->kind) {
      case TTargaPixels::kGray:
        *out++ = p[0];
        break;
      case TTargaPixels::kMapped:
        *out++ = tga->colormap[0][p[0]];
        *out++ = tga->colormap[1][p[0]];
        *out++ = tga->colormap[2][p[0]];
        break;
      case TTargaPixels::kRgb16: {
        const uint32_t v = p[0] | (static_cast<uint32_t>(p[1]) << 8);
        *out++ = Expand5((v >> 10) & 31);
        *out++ = Expand5((v >> 5) & 31);
        *out++ = Expand5(v & 31);
        break;
      }
      case TTargaPixels::kRgb24:
        *out++ = p[2];
        *out++ = p[1];
        *out++ = p[0];
        break;
    }
  }
  return true;
}

size_t RowBytes(const TTargaSource* tga) { return static_cast<size_t>(tga->width) * tga->components; }

// Files stored top row first: one row per call, straight from the file.
uint32_t GetTopDownRow(TReaderContext* context, TImageSource* source) {
  TTargaSource* tga = AsTarga(source);
  if (tga->rows_given >= tga->height) return 0;
  if (!ReadRow(context, tga, tga->row_buffer)) return 0;
  ++tga->rows_given;
  return 1;
}

// Bottom-up files after the whole-image read: the last stored row first.
uint32_t GetStoredRow(TReaderContext*, TImageSource* source) {
  TTargaSource* tga = AsTarga(source);
  if (tga->rows_given >= tga->height) return 0;
  const size_t stored = tga->height - 1 - tga->rows_given;
  std::memcpy(tga->row_buffer, tga->whole_image + stored * RowBytes(tga), RowBytes(tga));
  ++tga->rows_given;
  return 1;
}

// Makes room for `needed` bytes of the whole-image array, which grows as the
// data arrives, so a short file that promises a large image takes little.
bool GrowWholeImage(TTargaSource* tga, size_t needed) {
  if (needed <= tga->whole_capacity) return true;
  size_t capacity = tga->whole_capacity == 0 ? size_t{1} << 20 : tga->whole_capacity * 2;
  if (capacity < needed) capacity = needed;
  if (capacity > tga->whole_bytes) capacity = tga->whole_bytes;
  auto* grown = static_cast<uint8_t*>(std::realloc(tga->whole_image, capacity));
  if (grown == nullptr) return false;
  tga->whole_image = grown;
  tga->whole_capacity = capacity;
  return true;
}

// First GetRows of a bottom-up file: reads every row in file order, then hands
// out the top row. The read stops at the end of the file: the rows cannot be
// shown without the top ones, and the error already ends the load.
uint32_t LoadWholeImage(TReaderContext* context, TImageSource* source) {
  TTargaSource* tga = AsTarga(source);
  const size_t row_bytes = RowBytes(tga);
  for (uint32_t row = 0; row < tga->height; ++row) {
    const size_t offset = static_cast<size_t>(row) * row_bytes;
    if (!GrowWholeImage(tga, offset + row_bytes)) {
      ReaderRaiseError(context, kLoadNoPixelMemory);
      return 0;
    }
    if (!ReadRow(context, tga, tga->whole_image + offset)) return 0;
  }
  tga->rows_given = 0;
  source->GetRows = GetStoredRow;
  return GetStoredRow(context, source);
}

void StartTargaInput(TReaderContext* context, TImageSource* source) {
  TTargaSource* tga = AsTarga(source);
  uint8_t header[kHeaderSize];
  if (!SourceReadBytes(context, source, header, kHeaderSize)) return;

  const uint32_t id_length = header[0];
  const uint32_t colormap_type = header[1];
  const uint32_t image_type = header[2];
  const uint32_t colormap_first = ReadLe16(header + 3);
  const uint32_t colormap_length = ReadLe16(header + 5);
  const uint32_t colormap_entry_bits = header[7];
  const uint32_t width = ReadLe16(header + 12);
  const uint32_t height = ReadLe16(header + 14);
  uint32_t pixel_bits = header[16];
  const uint8_t descriptor = header[17];
  if (pixel_bits == 15) pixel_bits = 16;
  const uint32_t bytes_per_pixel = pixel_bits / 8;

  if (colormap_type > 1 || bytes_per_pixel < 1 || bytes_per_pixel > 4 || pixel_bits % 8 != 0 ||
      (descriptor & kInterleaveBits) != 0) {
    ReaderRaiseError(context, kTargaBadHeader);
    return;
  }
  tga->bytes_per_pixel = bytes_per_pixel;
  tga->run_length = image_type > 8;
  tga->block_count = 0;
  tga->repeat_count = 0;
  const uint32_t subtype = tga->run_length ? image_type - 8 : image_type;
  switch (subtype) {
    case 1:
      if (bytes_per_pixel != 1 || colormap_type != 1) {
        ReaderRaiseError(context, kTargaBadHeader);
        return;
      }
      tga->kind = TTargaPixels::kMapped;
      ReaderTrace(context, kTargaTraceMapped);
      break;
    case 2:
      if (bytes_per_pixel == 2) {
        tga->kind = TTargaPixels::kRgb16;
      } else if (bytes_per_pixel == 3 || bytes_per_pixel == 4) {
        tga->kind = TTargaPixels::kRgb24;
      } else {
        ReaderRaiseError(context, kTargaBadHeader);
        return;
      }
      ReaderTrace(context, kTargaTraceTrueColor);
      break;
    case 3:
      if (bytes_per_pixel != 1) {
        ReaderRaiseError(context, kTargaBadHeader);
        return;
      }
      tga->kind = TTargaPixels::kGray;
      ReaderTrace(context, kTargaTraceGray);
      break;
    default:
      ReaderRaiseError(context, kTargaBadHeader);
      return;
  }
  tga->components = tga->kind == TTargaPixels::kGray ? 1 : 3;

  uint8_t id[255];
  if (!SourceReadBytes(context, source, id, id_length)) return;

  if (colormap_length > 0) {
    if (colormap_length > kMaxColors || colormap_first != 0 || colormap_entry_bits != 24) {
      ReaderRaiseError(context, kTargaBadColorMap);
      return;
    }
    for (uint32_t i = 0; i < colormap_length; ++i) {
      uint8_t entry[3];
      if (!SourceReadBytes(context, source, entry, 3)) return;
      tga->colormap[0][i] = entry[2];
      tga->colormap[1][i] = entry[1];
      tga->colormap[2][i] = entry[0];
    }
  } else if (colormap_type == 1) {
    ReaderRaiseError(context, kTargaBadHeader);
    return;
  }

  if (width == 0 || height == 0) {
    ReaderRaiseError(context, kLoadEmptyImage);
    return;
  }
  if (static_cast<uint64_t>(width) * height * 3 > kMaxPixelBytes) {
    ReaderRaiseError(context, kLoadNoPixelMemory);
    return;
  }
  tga->width = width;
  tga->height = height;
  tga->rows_given = 0;
  tga->row_buffer = static_cast<uint8_t*>(std::malloc(RowBytes(tga)));
  if (tga->row_buffer == nullptr) {
    ReaderRaiseError(context, kLoadNoPixelMemory);
    return;
  }
  tga->buffer_height = 1;
  tga->whole_bytes = RowBytes(tga) * height;
  source->GetRows = (descriptor & kTopDownFlag) != 0 ? GetTopDownRow : LoadWholeImage;

  context->image_width = width;
  context->image_height = height;
  context->input_components = static_cast<int>(tga->components);
  context->grayscale_input = tga->kind == TTargaPixels::kGray;
  context->data_precision = 8;
}

void FinishTargaInput(TReaderContext*, TImageSource*) {}

void DestroyTargaSource(TImageSource* source) {
  TTargaSource* tga = AsTarga(source);
  std::free(tga->whole_image);
  std::free(tga->row_buffer);
  SourceRelease(tga);
  delete tga;
}

}  // namespace

TImageSource* CreateTargaSource(TReaderContext*) {
  auto* tga = new (std::nothrow) TTargaSource();
  if (tga == nullptr) return nullptr;
  tga->StartInput = StartTargaInput;
  tga->GetRows = GetTopDownRow;
  tga->FinishInput = FinishTargaInput;
  tga->Destroy = DestroyTargaSource;
  if (!SourceInit(tga)) {
    delete tga;
    return nullptr;
  }
  return tga;
}
