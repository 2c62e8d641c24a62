// The BMP reader: uncompressed Windows and OS/2 bitmaps of 1, 2, 4, 8 and 24
// bits per pixel with 12-, 40- or 64-byte info headers. Rows are stored
// bottom-up (or top-down for a negative height), so the whole pixel data is
// read on the first GetRows and rows are then handed out top row first as
// red, green, blue bytes.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "imagein/image_source.h"
#include "imagein/load_codes.h"
#include "raster/membitmap.h"

namespace {

constexpr int kBmpBadColorCount = 201;
constexpr int kBmpBadBitCount = 202;
constexpr int kBmpBadHeader = 203;
constexpr int kBmpBadPlanes = 204;
constexpr int kBmpCompressed = 206;
constexpr int kBmpNotBmp = 207;

constexpr uint32_t kFileHeaderSize = 14;
constexpr uint32_t kMaxInfoHeaderSize = 64;
constexpr uint32_t kMaxColors = 256;

struct TBmpSource : TImageSource {
  // Red, green and blue rows of the colour table. Entries the file does not
  // supply stay black, so any 8-bit index reads inside the table.
  uint8_t colormap[3][kMaxColors] = {};
  uint8_t* whole_image = nullptr;  // the pixel data as stored in the file
  size_t whole_capacity = 0;       // bytes allocated so far
  size_t whole_bytes = 0;          // bytes the complete pixel data needs
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t bits = 0;
  uint32_t row_bytes = 0;          // one file row, padding included
  uint32_t rows_left = 0;
  bool top_down = false;
};

TBmpSource* AsBmp(TImageSource* source) { return static_cast<TBmpSource*>(source); }

uint16_t ReadLe16(const uint8_t* bytes) { return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8)); }

uint32_t ReadLe32(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
         (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

// Reads and drops `count` bytes; false (end of file already raised) when the
// file ends first.
bool SkipBytes(TReaderContext* context, TImageSource* source, uint64_t count) {
  uint8_t scratch[256];
  while (count > 0) {
    const uint32_t step = count < sizeof(scratch) ? static_cast<uint32_t>(count) : sizeof(scratch);
    if (!SourceReadBytes(context, source, scratch, step)) return false;
    count -= step;
  }
  return true;
}

// Makes room for `needed` bytes of the whole-image array. The array grows as
// the data arrives, so a short file that promises a large image never takes
// more memory than its data fills.
bool GrowWholeImage(TBmpSource* bmp, size_t needed) {
  if (needed <= bmp->whole_capacity) return true;
  size_t capacity = bmp->whole_capacity == 0 ? size_t{1} << 20 : bmp->whole_capacity * 2;
  if (capacity < needed) capacity = needed;
  if (capacity > bmp->whole_bytes) capacity = bmp->whole_bytes;
  auto* grown = static_cast<uint8_t*>(std::realloc(bmp->whole_image, capacity));
  if (grown == nullptr) return false;
  bmp->whole_image = grown;
  bmp->whole_capacity = capacity;
  return true;
}

// The array row that is shown next, counting rows_left down from height.
const uint8_t* NextFileRow(TBmpSource* bmp) {
  const uint32_t stored = bmp->top_down ? bmp->height - bmp->rows_left : bmp->rows_left - 1;
  --bmp->rows_left;
  return bmp->whole_image + static_cast<size_t>(stored) * bmp->row_bytes;
}

// 1, 2, 4 and 8 bits: indices packed from the most significant bits of each byte.
uint32_t GetIndexedRow(TReaderContext*, TImageSource* source) {
  TBmpSource* bmp = AsBmp(source);
  if (bmp->rows_left == 0) return 0;
  const uint8_t* in = NextFileRow(bmp);
  const uint32_t bits = bmp->bits;
  const uint32_t per_byte = 8 / bits;
  const uint32_t mask = (1u << bits) - 1;
  uint8_t* out = bmp->row_buffer;
  for (uint32_t x = 0; x < bmp->width; ++x) {
    const uint32_t shift = 8 - bits * (x % per_byte + 1);
    const uint32_t index = (in[x / per_byte] >> shift) & mask;
    *out++ = bmp->colormap[0][index];
    *out++ = bmp->colormap[1][index];
    *out++ = bmp->colormap[2][index];
  }
  return 1;
}

// 24 bits: blue, green, red in the file.
uint32_t GetRgbRow(TReaderContext*, TImageSource* source) {
  TBmpSource* bmp = AsBmp(source);
  if (bmp->rows_left == 0) return 0;
  const uint8_t* in = NextFileRow(bmp);
  uint8_t* out = bmp->row_buffer;
  for (uint32_t x = 0; x < bmp->width; ++x, in += 3) {
    *out++ = in[2];
    *out++ = in[1];
    *out++ = in[0];
  }
  return 1;
}

// First GetRows: reads all rows in file order into the whole-image array, then
// installs the row routine for the depth and hands out the top row.
uint32_t LoadWholeImage(TReaderContext* context, TImageSource* source) {
  TBmpSource* bmp = AsBmp(source);
  for (uint32_t row = 0; row < bmp->height; ++row) {
    const size_t offset = static_cast<size_t>(row) * bmp->row_bytes;
    if (!GrowWholeImage(bmp, offset + bmp->row_bytes)) {
      ReaderRaiseError(context, kLoadNoPixelMemory);
      return 0;
    }
    if (!SourceReadBytes(context, source, bmp->whole_image + offset, bmp->row_bytes)) return 0;
  }
  switch (bmp->bits) {
    case 1:
    case 2:
    case 4:
    case 8:
      source->GetRows = GetIndexedRow;
      break;
    case 24:
      source->GetRows = GetRgbRow;
      break;
    default:
      ReaderRaiseError(context, kBmpBadBitCount);
      return 0;
  }
  bmp->rows_left = bmp->height;
  return source->GetRows(context, source);
}

void StartBmpInput(TReaderContext* context, TImageSource* source) {
  TBmpSource* bmp = AsBmp(source);
  if (!SourceFill(context, source)) return;

  uint8_t file_header[kFileHeaderSize];
  if (!SourceReadBytes(context, source, file_header, kFileHeaderSize)) return;
  if (file_header[0] != 'B' || file_header[1] != 'M') {
    ReaderRaiseError(context, kBmpNotBmp);
    return;
  }
  const uint32_t pixel_offset = ReadLe32(file_header + 10);

  uint8_t info[kMaxInfoHeaderSize];
  if (!SourceReadBytes(context, source, info, 4)) return;
  const uint32_t header_size = ReadLe32(info);
  if (header_size < 12 || header_size > kMaxInfoHeaderSize) {
    ReaderRaiseError(context, kBmpBadHeader);
    return;
  }
  if (!SourceReadBytes(context, source, info + 4, header_size - 4)) return;

  if (header_size != 12 && header_size != 40 && header_size != 64) {
    ReaderRaiseError(context, kBmpBadHeader);
    return;
  }
  // The OS/2 header holds 16-bit sizes and 3-byte colour entries; the Windows
  // headers 32-bit signed sizes, compression, colours used and 4-byte entries.
  const bool os2 = header_size == 12;
  const int64_t width = os2 ? ReadLe16(info + 4) : static_cast<int32_t>(ReadLe32(info + 4));
  int64_t height = os2 ? ReadLe16(info + 6) : static_cast<int32_t>(ReadLe32(info + 8));
  const uint32_t planes = os2 ? ReadLe16(info + 8) : ReadLe16(info + 12);
  const uint32_t bits = os2 ? ReadLe16(info + 10) : ReadLe16(info + 14);
  const uint32_t compression = os2 ? 0 : ReadLe32(info + 16);
  const int64_t colors_used = os2 ? 0 : static_cast<int32_t>(ReadLe32(info + 32));
  const uint32_t entry_size = os2 ? 3 : 4;
  if (bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 24) {
    ReaderRaiseError(context, kBmpBadBitCount);
    return;
  }
  if (planes != 1) {
    ReaderRaiseError(context, kBmpBadPlanes);
    return;
  }
  if (compression != 0) {
    ReaderRaiseError(context, kBmpCompressed);
    return;
  }
  // A colour count above 256 is refused whatever the depth, so that a 24-bit
  // file cannot announce a table larger than any reader keeps.
  if (colors_used > kMaxColors) {
    ReaderRaiseError(context, kBmpBadColorCount);
    return;
  }

  // A negative height marks rows stored top row first.
  const bool top_down = height < 0;
  if (top_down) height = -height;
  if (width <= 0 || height == 0) {
    ReaderRaiseError(context, kLoadEmptyImage);
    return;
  }
  const uint64_t pixel_bytes = static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * 3;
  const uint64_t data_bits = static_cast<uint64_t>(bits) * static_cast<uint64_t>(width);
  const uint64_t row_bytes = ((data_bits + 7) / 8 + 3) & ~uint64_t{3};
  if (pixel_bytes > kMaxPixelBytes || row_bytes * static_cast<uint64_t>(height) > kMaxPixelBytes) {
    ReaderRaiseError(context, kLoadNoPixelMemory);
    return;
  }

  int64_t gap = static_cast<int64_t>(pixel_offset) - (static_cast<int64_t>(header_size) + kFileHeaderSize);
  if (bits != 24) {
    const uint32_t colors = colors_used > 0 ? static_cast<uint32_t>(colors_used) : 1u << bits;
    for (uint32_t i = 0; i < colors; ++i) {
      uint8_t entry[4];
      if (!SourceReadBytes(context, source, entry, entry_size)) return;
      bmp->colormap[0][i] = entry[2];
      bmp->colormap[1][i] = entry[1];
      bmp->colormap[2][i] = entry[0];
    }
    gap -= static_cast<int64_t>(colors) * entry_size;
  }
  if (gap < 0) {
    ReaderRaiseError(context, kBmpBadHeader);
    return;
  }
  if (!SkipBytes(context, source, static_cast<uint64_t>(gap))) return;

  bmp->row_buffer = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(width) * 3));
  if (bmp->row_buffer == nullptr) {
    ReaderRaiseError(context, kLoadNoPixelMemory);
    return;
  }
  bmp->buffer_height = 1;
  bmp->width = static_cast<uint32_t>(width);
  bmp->height = static_cast<uint32_t>(height);
  bmp->bits = bits;
  bmp->row_bytes = static_cast<uint32_t>(row_bytes);
  bmp->whole_bytes = static_cast<size_t>(row_bytes * static_cast<uint64_t>(height));
  bmp->top_down = top_down;
  source->GetRows = LoadWholeImage;

  context->image_width = bmp->width;
  context->image_height = bmp->height;
  context->input_components = 3;
  context->grayscale_input = false;
  context->data_precision = 8;
}

void FinishBmpInput(TReaderContext*, TImageSource*) {}

void DestroyBmpSource(TImageSource* source) {
  TBmpSource* bmp = AsBmp(source);
  std::free(bmp->whole_image);
  std::free(bmp->row_buffer);
  SourceRelease(bmp);
  delete bmp;
}

}  // namespace

TImageSource* CreateBmpSource(TReaderContext*) {
  auto* bmp = new (std::nothrow) TBmpSource();
  if (bmp == nullptr) return nullptr;
  bmp->StartInput = StartBmpInput;
  bmp->GetRows = LoadWholeImage;
  bmp->FinishInput = FinishBmpInput;
  bmp->Destroy = DestroyBmpSource;
  if (!SourceInit(bmp)) {
    delete bmp;
    return nullptr;
  }
  return bmp;
}
