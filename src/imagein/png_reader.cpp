// The PNG reader: every PNG colour type and bit depth through libpng, read
// through the buffered, sealed-file-aware reader. Palette, grey and low bit
// depths expand to RGB, 16-bit samples are scaled to 8 bits, and alpha
// (including a tRNS colour) is laid over the background grey level.
// Non-interlaced files are decoded row by row (an opaque one straight as RGB);
// interlaced ones are read whole on the first row asked for. libpng's errors return through setjmp into the
// function that called it, which holds no object with a destructor.

#include <png.h>

#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <new>

#include "imagein/format_codes.h"
#include "imagein/load_codes.h"
#include "imagein/whole_image_source.h"

namespace {

// libpng's own limits: sides, and the largest ancillary chunk it will hold.
constexpr png_uint_32 kMaxPngSide = 1u << 20;
constexpr png_alloc_size_t kMaxPngChunk = png_alloc_size_t{1} << 24;

struct TPngSource : TImageSource {
  TReaderContext* context = nullptr;  // for libpng's read callback
  png_structp png = nullptr;
  png_infop info = nullptr;
  uint8_t* rgba_row = nullptr;        // one decoded row, 4 bytes per pixel
  uint8_t* image = nullptr;           // interlaced files: every decoded row
  int passes = 1;
  bool opaque = false;                // no alpha, no tRNS: rows come as RGB, read straight into row_buffer
  bool image_read = false;
  uint32_t next_row = 0;
};

void PngError(png_structp png, png_const_charp) { std::longjmp(png_jmpbuf(png), 1); }
void PngWarning(png_structp, png_const_charp) {}

void PngRead(png_structp png, png_bytep data, size_t length) {
  auto* source = static_cast<TPngSource*>(png_get_io_ptr(png));
  // The reader raises the premature end (or the sealed-file refusal) itself.
  if (length > UINT32_MAX ||
      !SourceReadBytes(source->context, source, data, static_cast<uint32_t>(length)))
    png_error(png, "read");
}

// Raises `code` unless the read callback has raised its own.
void RaiseUnlessRaised(TReaderContext* context, int32_t code) {
  if (context->common.err->num_warnings == 0) ReaderRaiseError(context, code);
}

// Asks libpng for 8-bit RGB rows, or RGBA rows when the file holds alpha or
// a tRNS chunk. Returns true for RGB (an opaque image: laying it over the
// background would leave every byte as it is).
bool RequestRgbOrRgba(png_structp png, png_infop info) {
  const png_byte colour_type = png_get_color_type(png, info);
  png_set_expand(png);
  png_set_scale_16(png);
  if ((colour_type & PNG_COLOR_MASK_COLOR) == 0) png_set_gray_to_rgb(png);
  return (colour_type & PNG_COLOR_MASK_ALPHA) == 0 && png_get_valid(png, info, PNG_INFO_tRNS) == 0;
}

// Everything up to the first row. Returns with an error raised on failure.
void PngStartInput(TReaderContext* context, TImageSource* base) {
  auto* source = static_cast<TPngSource*>(base);
  source->context = context;
  png_byte signature[8];
  if (!SourceReadBytes(context, source, signature, sizeof signature)) return;
  if (png_sig_cmp(signature, 0, sizeof signature) != 0) {
    ReaderRaiseError(context, kPngNotPng);
    return;
  }
  source->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, PngError, PngWarning);
  if (source->png != nullptr) source->info = png_create_info_struct(source->png);
  if (source->info == nullptr) {
    ReaderRaiseError(context, kLoadNoPixelMemory);
    return;
  }
  png_structp png = source->png;
  png_infop info = source->info;
  if (setjmp(png_jmpbuf(png))) {
    RaiseUnlessRaised(context, kPngDamagedHeader);
    return;
  }
  png_set_read_fn(png, source, PngRead);
  png_set_sig_bytes(png, sizeof signature);
  png_set_user_limits(png, kMaxPngSide, kMaxPngSide);
  png_set_chunk_malloc_max(png, kMaxPngChunk);
  png_read_info(png, info);
  const png_uint_32 width = png_get_image_width(png, info);
  const png_uint_32 height = png_get_image_height(png, info);
  const bool interlaced = png_get_interlace_type(png, info) != PNG_INTERLACE_NONE;
  if (width == 0 || height == 0) {
    ReaderRaiseError(context, kLoadEmptyImage);
    return;
  }
  // An interlaced image is held whole as RGBA until its last pass is read.
  if (!RowsWithinCap(width, height, interlaced ? 4 : 0)) {
    ReaderRaiseError(context, kLoadNoPixelMemory);
    return;
  }
  // Interlaced images are held whole as RGBA, so they keep the alpha channel.
  source->opaque = RequestRgbOrRgba(png, info) && !interlaced;
  if (!source->opaque && png_get_valid(png, info, PNG_INFO_tRNS) == 0 &&
      (png_get_color_type(png, info) & PNG_COLOR_MASK_ALPHA) == 0)
    png_set_filler(png, 0xff, PNG_FILLER_AFTER);
  source->passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != size_t{width} * (source->opaque ? 3 : 4)) {
    ReaderRaiseError(context, kPngDamagedHeader);
    return;
  }
  source->rgba_row = static_cast<uint8_t*>(std::malloc(size_t{width} * 4));
  source->row_buffer = static_cast<uint8_t*>(std::malloc(size_t{width} * 3));
  if (interlaced) source->image = static_cast<uint8_t*>(std::calloc(height, size_t{width} * 4));
  if (source->rgba_row == nullptr || source->row_buffer == nullptr || (interlaced && source->image == nullptr)) {
    ReaderRaiseError(context, kLoadNoPixelMemory);
    return;
  }
  context->image_width = width;
  context->image_height = height;
  context->input_components = 3;
}

// Reads every pass of an interlaced image into source->image.
bool ReadInterlaced(TReaderContext* context, TPngSource* source) {
  png_structp png = source->png;
  if (setjmp(png_jmpbuf(png))) {
    RaiseUnlessRaised(context, kPngDamagedData);
    return false;
  }
  const size_t stride = size_t{context->image_width} * 4;
  for (int pass = 0; pass < source->passes; ++pass) {
    for (uint32_t y = 0; y < context->image_height; ++y) png_read_row(png, source->image + stride * y, nullptr);
  }
  return true;
}

// Reads the next row into `row` (RGB for an opaque image, else RGBA).
bool ReadNextRow(TReaderContext* context, TPngSource* source, uint8_t* row) {
  png_structp png = source->png;
  if (setjmp(png_jmpbuf(png))) {
    RaiseUnlessRaised(context, kPngDamagedData);
    return false;
  }
  png_read_row(png, row, nullptr);
  return true;
}

uint32_t PngGetRows(TReaderContext* context, TImageSource* base) {
  auto* source = static_cast<TPngSource*>(base);
  if (source->png == nullptr || source->next_row >= context->image_height) return 0;
  const uint8_t* rgba = source->rgba_row;
  if (source->image != nullptr) {
    if (!source->image_read) {
      if (!ReadInterlaced(context, source)) return 0;
      source->image_read = true;
    }
    rgba = source->image + size_t{context->image_width} * 4 * source->next_row;
  } else if (source->opaque) {
    if (!ReadNextRow(context, source, source->row_buffer)) return 0;
    ++source->next_row;
    return 1;
  } else if (!ReadNextRow(context, source, source->rgba_row)) {
    return 0;
  }
  CompositeRgbaRow(rgba, source->row_buffer, context->image_width, context->alpha_background);
  ++source->next_row;
  return 1;
}

// Rows passed over are still decoded (each row's filter needs the one
// above), but not laid over the background.
uint32_t PngSkipRows(TReaderContext* context, TImageSource* base, uint32_t count) {
  auto* source = static_cast<TPngSource*>(base);
  uint32_t passed = 0;
  if (source->png == nullptr) return 0;
  if (source->image != nullptr) {
    if (!source->image_read) {
      if (!ReadInterlaced(context, source)) return 0;
      source->image_read = true;
    }
    const uint32_t left = context->image_height - source->next_row;
    passed = count < left ? count : left;
    source->next_row += passed;
    return passed;
  }
  uint8_t* row = source->opaque ? source->row_buffer : source->rgba_row;
  while (passed < count && source->next_row < context->image_height) {
    if (!ReadNextRow(context, source, row)) break;
    ++source->next_row;
    ++passed;
  }
  return passed;
}

void PngFinishInput(TReaderContext*, TImageSource*) {}

void PngDestroy(TImageSource* base) {
  auto* source = static_cast<TPngSource*>(base);
  if (source->png != nullptr) png_destroy_read_struct(&source->png, &source->info, nullptr);
  std::free(source->rgba_row);
  std::free(source->image);
  std::free(source->row_buffer);
  SourceRelease(source);
  delete source;
}

}  // namespace

TImageSource* CreatePngSource(TReaderContext*) {
  auto* source = new (std::nothrow) TPngSource;
  if (source == nullptr) return nullptr;
  if (!SourceInit(source)) {
    delete source;
    return nullptr;
  }
  source->StartInput = PngStartInput;
  source->GetRows = PngGetRows;
  source->FinishInput = PngFinishInput;
  source->Destroy = PngDestroy;
  source->SkipRows = PngSkipRows;
  return source;
}

bool PngReadSize(const uint8_t* head, size_t size, int32_t* width, int32_t* height) {
  *width = 0;
  *height = 0;
  // Signature, then the IHDR chunk: length 13, type, width, height (big-endian).
  if (size < 24 || png_sig_cmp(head, 0, 8) != 0 || std::memcmp(head + 12, "IHDR", 4) != 0) return false;
  const png_uint_32 w = png_get_uint_32(head + 16);
  const png_uint_32 h = png_get_uint_32(head + 20);
  if (w == 0 || h == 0 || w > PNG_UINT_31_MAX || h > PNG_UINT_31_MAX) return false;
  *width = static_cast<int32_t>(w);
  *height = static_cast<int32_t>(h);
  return true;
}
