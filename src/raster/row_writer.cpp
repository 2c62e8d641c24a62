// The row writer: decoders hand it one scanline at a time, top row first, and
// it stores them bottom-up into a memory bitmap.

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "raster/membitmap.h"

namespace {

uint32_t RoundUpTo4(uint64_t bytes) { return static_cast<uint32_t>((bytes + 3) & ~uint64_t{3}); }

// Fills the colour table from the decoder's colour map, or with a grey ramp
// when there is none; unused entries are black.
void FillColorTable(const TBitmapRowWriter& writer) {
  const TRowWriterOutput& output = *writer.output;
  TMemBitmap& bitmap = *writer.bitmap;
  int written = 0;
  if (output.colormap != nullptr) {
    int count = output.actual_number_of_colors;
    if (count < 0) count = 0;
    if (count > 256) count = 256;
    for (int i = 0; i < count; ++i) {
      TRgbQuad& entry = bitmap.colors[i];
      if (output.out_color_components == 3) {
        entry.blue = output.colormap[2][i];
        entry.green = output.colormap[1][i];
        entry.red = output.colormap[0][i];
      } else {
        entry.blue = entry.green = entry.red = output.colormap[0][i];
      }
      entry.reserved = 0;
    }
    written = count;
  } else {
    for (int i = 0; i < 256; ++i) {
      const auto grey = static_cast<uint8_t>(i);
      bitmap.colors[i] = TRgbQuad{grey, grey, grey, 0};
    }
    written = 256;
  }
  for (int i = written; i < 256; ++i) bitmap.colors[i] = TRgbQuad{0, 0, 0, 0};
  bitmap.header.biClrUsed = 256;
}

void StartOrFinishRows(TBitmapRowWriter& writer) {
  if (writer.output == nullptr || writer.bitmap == nullptr) return;
  if (writer.indexed) FillColorTable(writer);
}

}  // namespace

TBitmapRowWriter::~TBitmapRowWriter() { std::free(buffer); }

bool CreateBitmapRowWriter(TBitmapRowWriter& writer, const TRowWriterOutput& output,
                           TMemBitmap& bitmap) {
  std::free(writer.buffer);
  writer.buffer = nullptr;
  writer.output = &output;
  writer.bitmap = &bitmap;
  writer.buffer_height = 1;
  writer.data_width = 0;
  writer.row_width = 0;
  writer.pad = 0;
  writer.rows_stored = 0;
  writer.indexed = output.quantize_colors;

  const uint16_t bit_count = output.quantize_colors ? 8 : 24;
  const uint64_t data_width = uint64_t{output.output_width} * (bit_count / 8);
  const uint64_t row_width = (data_width + 3) & ~uint64_t{3};
  const uint64_t total = row_width * output.output_height;
  // Sizes that cannot be held are refused before anything is written or taken.
  const bool fits = output.output_width >= 1 && output.output_height >= 1 &&
                    output.output_width <= INT32_MAX && output.output_height <= INT32_MAX &&
                    total <= kMaxPixelBytes;
  if (!fits) {
    BitmapFree(bitmap);
    return false;
  }

  bitmap.width = static_cast<int32_t>(output.output_width);
  bitmap.height = static_cast<int32_t>(output.output_height);
  bitmap.header.biSize = 40;
  bitmap.header.biWidth = bitmap.width;
  bitmap.header.biHeight = bitmap.height;
  bitmap.header.biPlanes = 1;
  bitmap.header.biBitCount = bit_count;
  bitmap.header.biCompression = 0;
  bitmap.header.biSizeImage = 0;
  bitmap.header.biXPelsPerMeter = 0;
  bitmap.header.biYPelsPerMeter = 0;
  bitmap.header.biClrUsed = 0;
  bitmap.header.biClrImportant = 0;

  writer.data_width = static_cast<uint32_t>(data_width);
  writer.row_width = RoundUpTo4(data_width);
  writer.pad = writer.row_width - writer.data_width;

  // Memory the bitmap already holds is kept only when all rows fit in it.
  if (bitmap.pixels == nullptr || bitmap.pixel_bytes < total) {
    if (!BitmapAllocatePixels(bitmap, static_cast<size_t>(total))) {
      BitmapFree(bitmap);
      return false;
    }
  }
  bitmap.row_cursor = bitmap.pixels + total;

  // One input row: room for the widest form a decoder may hand over
  // (colour triples, or more components than three).
  uint64_t buffer_bytes = row_width;
  const uint64_t components = output.out_color_components > 3
                                  ? static_cast<uint64_t>(output.out_color_components)
                                  : uint64_t{3};
  if (uint64_t{output.output_width} * components > buffer_bytes) {
    buffer_bytes = uint64_t{output.output_width} * components;
  }
  writer.buffer = static_cast<uint8_t*>(std::calloc(static_cast<size_t>(buffer_bytes), 1));
  if (writer.buffer == nullptr) {
    BitmapFree(bitmap);
    return false;
  }
  return true;
}

void StartRows(TBitmapRowWriter& writer) { StartOrFinishRows(writer); }

void FinishRows(TBitmapRowWriter& writer) { StartOrFinishRows(writer); }

void PutRow(TBitmapRowWriter& writer, uint32_t rows_supplied) {
  if (rows_supplied == 0 || writer.buffer == nullptr || writer.bitmap == nullptr ||
      writer.output == nullptr) {
    return;
  }
  TMemBitmap& bitmap = *writer.bitmap;
  // Rows beyond the bitmap's height (a decoder delivering more than it
  // announced) are dropped: the cursor never moves before the first row.
  if (bitmap.pixels == nullptr || bitmap.row_cursor == nullptr) return;
  if (bitmap.row_cursor < bitmap.pixels || bitmap.row_cursor > bitmap.pixels + bitmap.pixel_bytes) {
    return;
  }
  if (writer.rows_stored >= static_cast<uint32_t>(bitmap.height)) return;
  const auto room = static_cast<size_t>(bitmap.row_cursor - bitmap.pixels);
  if (room < writer.row_width) return;

  ++writer.rows_stored;
  bitmap.rows_written = 1;
  bitmap.row_cursor -= writer.row_width;

  uint8_t* out = bitmap.row_cursor;
  const uint8_t* in = writer.buffer;
  const TRowWriterOutput& output = *writer.output;
  if (writer.indexed) {
    std::memcpy(out, in, writer.data_width);
    std::memset(bitmap.row_cursor + writer.data_width, 0, writer.pad);
    return;
  }
  const uint32_t width = writer.data_width / 3;
  if (output.grayscale) {
    for (uint32_t x = 0; x < width; ++x, out += 3) {
      out[0] = out[1] = out[2] = in[x];
    }
  } else {
    for (uint32_t x = 0; x < width; ++x, out += 3, in += 3) {
      out[0] = in[2];
      out[1] = in[1];
      out[2] = in[0];
    }
  }
  std::memset(bitmap.row_cursor + writer.data_width, 0, writer.pad);
}
