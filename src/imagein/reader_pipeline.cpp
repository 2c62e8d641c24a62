// The reader path of the loading front end: runs a GIF, BMP, Targa or FITS
// reader, converts each row it delivers to the output form the load flags ask
// for (colour, grey levels or palette indices, optionally reduced) and hands
// it to the bitmap row writer.

#include <cmath>
#include <cstring>

#include "imagein/reader_pipeline.h"

#include "imagein/format_table.h"
#include "imagein/image_source.h"
#include "imagein/load_path.h"
#include "imagein/loader.h"
#include "imagein/palette.h"
#include "imagein/screen_palette.h"
#include "raster/jpeg_error.h"
#include "support/path_util.h"

namespace {

constexpr uint32_t kMaxScaleDenom = 8;

// How rows leave the reader for the row writer.
struct TRowConversion {
  uint32_t image_width = 0;
  int input_components = 3;
  uint32_t output_width = 0;
  uint32_t scale_denom = 1;
  bool grayscale = false;
  bool palette = false;
  TPaletteMapper* mapper = nullptr;
};

// Ends a load that stored no rows: the source is finished and released, the
// file closed.
int32_t AbandonLoad(TReaderContext* context, TImageSource* source, FILE* file, int32_t code) {
  source->FinishInput(context, source);
  source->Destroy(source);
  std::fclose(file);
  return code;
}

// 0.55 times the length of the colour vector, not a luminance weighting.
uint8_t GreyLevel(uint8_t red, uint8_t green, uint8_t blue) {
  if ((red | green | blue) == 0) return 0;
  const int sum = red * red + green * green + blue * blue;
  return static_cast<uint8_t>(0.55 * std::sqrt(static_cast<double>(sum)));
}

void InputPixel(const TRowConversion& conversion, const uint8_t* row, uint32_t column,
                uint8_t* red, uint8_t* green, uint8_t* blue) {
  if (conversion.input_components == 1) {
    *red = *green = *blue = row[column];
    return;
  }
  const uint8_t* pixel = row + size_t{column} * 3;
  *red = pixel[0];
  *green = pixel[1];
  *blue = pixel[2];
}

void ConvertRow(const TRowConversion& conversion, const uint8_t* row, uint8_t* out) {
  const uint32_t d = conversion.scale_denom;
  uint8_t red, green, blue;
  if (conversion.grayscale) {
    for (uint32_t i = 0; i < conversion.output_width; ++i) {
      InputPixel(conversion, row, d * i, &red, &green, &blue);
      out[i] = GreyLevel(red, green, blue);
    }
    return;
  }
  if (conversion.palette) {
    for (uint32_t i = 0; i < conversion.output_width; ++i) {
      InputPixel(conversion, row, d * i, &red, &green, &blue);
      out[i] = MapPaletteColor(*conversion.mapper, red, green, blue);
    }
    return;
  }
  if (d == 1 && conversion.input_components == 3) {
    std::memcpy(out, row, size_t{conversion.image_width} * 3);
    return;
  }
  for (uint32_t i = 0; i < conversion.output_width; ++i, out += 3) {
    InputPixel(conversion, row, d * i, &out[0], &out[1], &out[2]);
  }
}

// With LF_SCALE: the first of 1/1, 1/2, 1/4 and 1/8 at which the output fits
// the request, or with LF_SCALE_BACK one step larger.
uint32_t ChooseScale(TRowWriterOutput& output, uint32_t image_width, uint32_t image_height,
                     int32_t requested_width, int32_t requested_height, int32_t load_flags) {
  const auto want_width = static_cast<uint32_t>(requested_width);
  const auto want_height = static_cast<uint32_t>(requested_height);
  uint32_t d = 1;
  // A reduction never takes a side below one pixel.
  while (d < kMaxScaleDenom && (output.output_width > want_width || output.output_height > want_height) &&
         image_width / (2 * d) > 0 && image_height / (2 * d) > 0) {
    d *= 2;
    output.output_width = image_width / d;
    output.output_height = image_height / d;
  }
  if ((load_flags & LF_SCALE_BACK) != 0 && d > 1) {
    d /= 2;
    output.output_width = image_width / d;
    output.output_height = image_height / d;
  }
  return d;
}

bool PixelsOverCap(uint32_t width, uint32_t height) {
  return uint64_t{width} * height * 3 > kMaxPixelBytes;
}

void DropPixels(TMemBitmap& bitmap) {
  BitmapFree(bitmap);
  bitmap.width = 0;
  bitmap.height = 0;
  bitmap.header.biWidth = 0;
  bitmap.header.biHeight = 0;
}

}  // namespace

int32_t LoadImageWithReader(const char* path, int32_t requested_width, int32_t requested_height,
                            TMemBitmap& bitmap, int32_t load_flags, const char* key, int32_t kind) {
  const TFormatRow* row = FormatRowById(kind);
  return LoadImageWithSource(path, requested_width, requested_height, bitmap, load_flags, key,
                             row != nullptr ? row->reader : nullptr, kind == kReaderGif);
}

int32_t LoadImageWithSource(const char* path, int32_t requested_width, int32_t requested_height,
                            TMemBitmap& bitmap, int32_t load_flags, const char* key,
                            TSourceCreate create, bool is_gif) {
  if (path == nullptr) return kLoadCannotOpen;
  if (LoadPathTooLong(path)) return kLoadPathTooLong;
  // Everything the readers raise is counted here; no recovery point is armed,
  // so a raised error returns to the reader routine that raised it.
  TJpegErrorManager err;
  TReaderContext context;
  context.common.err = JpegErrorInit(&err);
  context.common.client_data = const_cast<char*>(path);
  context.image_name = path;
  context.alpha_background = (load_flags & LF_ALPHA_OVER_WHITE) != 0 ? 255 : 0;

  PrepareBitmap(bitmap, path, requested_width, requested_height, load_flags);
  // A reader kind nobody knows cannot read the file: a failure, not an empty success.
  if (create == nullptr) return kLoadCannotOpen;
  FILE* file = OpenRegularFileForReading(path);
  if (file == nullptr) return kLoadCannotOpen;
  TImageSource* source = create(&context);
  if (source == nullptr) {
    std::fclose(file);
    return kLoadNoPixelMemory;
  }
  source->reader.file = file;
  source->reader.key = key;

  source->StartInput(&context, source);
  if (err.pub.num_warnings > 0) return AbandonLoad(&context, source, file, err.pub.msg_code);
  bitmap.was_sealed = source->reader.was_sealed;
  const uint32_t image_width = context.image_width;
  const uint32_t image_height = context.image_height;
  bitmap.full_width = image_width;
  bitmap.full_height = image_height;
  bitmap.scale_num = 1;
  bitmap.scale_denom = 1;
  if (image_width == 0 || image_height == 0)
    return AbandonLoad(&context, source, file, kLoadEmptyImage);
  // Refused before any pixel memory is taken.
  if (PixelsOverCap(image_width, image_height))
    return AbandonLoad(&context, source, file, kLoadNoPixelMemory);

  TRowWriterOutput output;
  output.output_width = image_width;
  output.output_height = image_height;
  output.out_color_components = 3;
  uint32_t scale_denom = 1;
  if ((load_flags & LF_SCALE) != 0)
    scale_denom = ChooseScale(output, image_width, image_height, requested_width, requested_height, load_flags);

  bool palette = ScreenIsPalettized();
  if ((load_flags & LF_QUANTIZE) != 0) palette = true;
  if ((load_flags & LF_NO_QUANTIZE) != 0) palette = false;
  const bool grayscale = (load_flags & LF_GRAYSCALE) != 0;
  output.quantize_colors = palette;
  output.grayscale = grayscale;

  // The palette of this load; it fills as colours are met.
  uint8_t palette_rows[3][kPaletteSize] = {};
  uint8_t* colormap[3] = {palette_rows[0], palette_rows[1], palette_rows[2]};
  TPaletteMapper mapper;
  const bool colour_palette = palette && !grayscale;
  if (colour_palette) {
    output.actual_number_of_colors = 0;
    output.colormap = colormap;
    if ((load_flags & LF_COLORMAP) != 0)
      FillPresetPalette(colormap, load_flags, &output.actual_number_of_colors);
    mapper.colormap = colormap;
    mapper.count = &output.actual_number_of_colors;
  }
  bitmap.scale_num = 1;
  bitmap.scale_denom = scale_denom;

  TBitmapRowWriter writer;
  if (!CreateBitmapRowWriter(writer, output, bitmap)) {
    DropPixels(bitmap);
    return AbandonLoad(&context, source, file, kLoadNoPixelMemory);
  }
  StartRows(writer);

  uint8_t red, green, blue;
  if (is_gif && GifTransparentColor(source, &red, &green, &blue)) {
    bitmap.has_transparent = 1;
    bitmap.transparent_color = TRgbQuad{blue, green, red, 0};
  }

  TRowConversion conversion;
  conversion.image_width = image_width;
  conversion.input_components = context.input_components == 1 ? 1 : 3;
  conversion.output_width = output.output_width;
  conversion.scale_denom = scale_denom;
  conversion.grayscale = grayscale;
  conversion.palette = colour_palette;
  conversion.mapper = &mapper;

  // A warning or error while rows are read stops the reading; the rows not
  // stored stay black and the load still counts as done.
  uint32_t input_row = 0;
  uint32_t stored = 0;
  while (err.pub.num_warnings == 0 && stored < output.output_height) {
    if (source->GetRows(&context, source) == 0) break;
    if (err.pub.num_warnings > 0 || source->row_buffer == nullptr) break;
    if (input_row % scale_denom == 0) {
      ConvertRow(conversion, source->row_buffer, writer.buffer);
      PutRow(writer, 1);
      ++stored;
    }
    ++input_row;
  }

  if ((load_flags & LF_SNAP_PALETTE) != 0 && colour_palette)
    SnapPaletteToCube(colormap, output.actual_number_of_colors);
  source->FinishInput(&context, source);
  std::fclose(file);
  FinishRows(writer);
  source->Destroy(source);
  return kLoadOk;
}
