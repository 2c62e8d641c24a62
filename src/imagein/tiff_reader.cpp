// The TIFF reader: the first image of a TIFF file through libtiff's RGBA
// interface, which reads strips and tiles, every common compression, 1 to 16
// bits per sample, grey, palette, RGB, CMYK and YCbCr, with or without alpha.
// libtiff reads the file itself through the loader's open file (deciphered
// when sealed), never a copy of it in memory. An image stored top row first
// is read in bands of whole strips or tile rows, so the memory held is one
// band whatever the image's size, and bands of rows passed over are not read; the rows before a damaged strip are handed
// out and the reading stops there, as with a truncated PNG file. Images in
// any other orientation are read whole and turned by libtiff. libtiff's
// messages go nowhere.

#include <tiffio.h>

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "imagein/format_codes.h"
#include "imagein/load_codes.h"
#include "imagein/seal.h"
#include "imagein/whole_image_source.h"
#include "support/path_util.h"

namespace {

// The most libtiff may take in one allocation (a strip, a tile, a table).
constexpr tmsize_t kMaxTiffAllocation = tmsize_t{1} << 28;
// The most a band of RGBA rows holds when a strip or tile row is larger.
constexpr uint64_t kMaxBandBytes = uint64_t{8} << 20;

// The file as libtiff sees it: the bytes after a sealed-file header, if any,
// deciphered as they are read.
struct TTiffFile {
  FILE* file = nullptr;
  uint64_t data_start = 0;
  uint64_t size = 0;
  uint64_t position = 0;
  TSealCipher* cipher = nullptr;  // null for a plain file
};

constexpr uint32_t kKeyStreamLength = sizeof(TSealCipher::key_stream);

tmsize_t FileRead(thandle_t handle, void* buffer, tmsize_t count) {
  auto* file = static_cast<TTiffFile*>(handle);
  if (count <= 0 || file->position >= file->size) return 0;
  uint64_t take = static_cast<uint64_t>(count);
  if (take > file->size - file->position) take = file->size - file->position;
  if (fseeko(file->file, static_cast<off_t>(file->data_start + file->position), SEEK_SET) != 0) return -1;
  const size_t got = std::fread(buffer, 1, static_cast<size_t>(take), file->file);
  if (file->cipher != nullptr && got > 0) {
    // The key stream runs on from the first byte after the header.
    auto* bytes = static_cast<uint8_t*>(buffer);
    file->cipher->stream_cursor = static_cast<uint32_t>(file->position % kKeyStreamLength);
    size_t done = 0;
    while (done < got) {
      const size_t part = got - done > INT32_MAX ? size_t{INT32_MAX} : got - done;
      SealDecode(file->cipher, bytes + done, static_cast<int32_t>(part));
      done += part;
    }
  }
  file->position += got;
  return static_cast<tmsize_t>(got);
}

tmsize_t FileWrite(thandle_t, void*, tmsize_t) { return -1; }

toff_t FileSeek(thandle_t handle, toff_t offset, int whence) {
  auto* file = static_cast<TTiffFile*>(handle);
  uint64_t base = 0;
  if (whence == SEEK_CUR) base = file->position;
  else if (whence == SEEK_END) base = file->size;
  else if (whence != SEEK_SET) return static_cast<toff_t>(-1);
  if (offset > UINT64_MAX - base) return static_cast<toff_t>(-1);
  const uint64_t target = base + offset;
  // Past the end reads nothing; libtiff then reports the short read.
  file->position = target > file->size ? file->size : target;
  return target;
}

int FileClose(thandle_t) { return 0; }

toff_t FileSize(thandle_t handle) { return static_cast<TTiffFile*>(handle)->size; }

int NoMap(thandle_t, void**, toff_t*) { return 0; }
void NoUnmap(thandle_t, void*, toff_t) {}

// Swallows libtiff's errors and warnings (1: handled, nothing else is called).
int QuietHandler(TIFF*, void*, const char*, const char*, va_list) { return 1; }

TIFF* OpenTiffFile(TTiffFile* file) {
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (options == nullptr) return nullptr;
  TIFFOpenOptionsSetMaxSingleMemAlloc(options, kMaxTiffAllocation);
  TIFFOpenOptionsSetErrorHandlerExtR(options, QuietHandler, nullptr);
  TIFFOpenOptionsSetWarningHandlerExtR(options, QuietHandler, nullptr);
  // "m": libtiff reads through FileRead, never a mapping of the file.
  TIFF* tiff = TIFFClientOpenExt("image", "rm", file, FileRead, FileWrite, FileSeek, FileClose, FileSize,
                                 NoMap, NoUnmap, options);
  TIFFOpenOptionsFree(options);
  return tiff;
}

bool TiffImageSize(TIFF* tiff, uint32_t* width, uint32_t* height) {
  return TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, width) == 1 &&
         TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, height) == 1;
}

// libtiff's RGBA rows carry premultiplied alpha: the colour already holds
// alpha's share, the background adds the rest.
void StoreRgbaRow(const uint32_t* raster, uint8_t* out, uint32_t width, uint8_t background) {
  for (uint32_t x = 0; x < width; ++x, out += 3) {
    uint32_t pixel;
    std::memcpy(&pixel, raster + x, sizeof pixel);
    const uint32_t rest = (255 - TIFFGetA(pixel)) * background / 255;
    const uint32_t red = TIFFGetR(pixel) + rest;
    const uint32_t green = TIFFGetG(pixel) + rest;
    const uint32_t blue = TIFFGetB(pixel) + rest;
    out[0] = static_cast<uint8_t>(red > 255 ? 255 : red);
    out[1] = static_cast<uint8_t>(green > 255 ? 255 : green);
    out[2] = static_cast<uint8_t>(blue > 255 ? 255 : blue);
  }
}

struct TTiffSource : TWholeImageSource {
  TTiffFile file;
  TIFF* tiff = nullptr;
  TIFFRGBAImage image = {};
  bool image_begun = false;
  uint32_t* band = nullptr;   // band_rows rows of RGBA pixels (banded reading)
  uint32_t band_rows = 0;
  uint32_t band_start = 0;    // the first row the band holds
  uint32_t band_filled = 0;   // rows of the band read
};

// Rows per band: a strip or a row of tiles, or fewer when that is too large.
uint32_t BandRows(TIFF* tiff, uint32_t width, uint32_t height) {
  uint32_t rows = 0;
  if (TIFFIsTiled(tiff) != 0) {
    if (TIFFGetField(tiff, TIFFTAG_TILELENGTH, &rows) != 1) rows = 0;
  } else if (TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &rows) != 1) {
    rows = 0;
  }
  if (rows == 0 || rows > height) rows = height;
  const uint64_t most = kMaxBandBytes / (uint64_t{width} * 4);
  if (rows > most) rows = most == 0 ? 1 : static_cast<uint32_t>(most);
  return rows;
}

// The whole image in libtiff's RGBA raster, turned top row first, then its
// RGB rows in place. Returns a result code.
int32_t DecodeWhole(TReaderContext* context, TTiffSource* source, uint32_t width, uint32_t height) {
  // The RGBA raster, then its RGB rows beside the bitmap.
  if (!WholeImageWithinCap(source, width, height, 4)) return kLoadNoPixelMemory;
  auto* raster = static_cast<uint32_t*>(std::malloc(size_t{width} * height * 4));
  if (raster == nullptr) return kLoadNoPixelMemory;
  if (TIFFReadRGBAImageOriented(source->tiff, width, height, raster, ORIENTATION_TOPLEFT, 1) != 1) {
    std::free(raster);
    return kTiffDecodeFailed;
  }
  // In place: row y's RGB bytes start at 3wy, before its pixels at 4wy, and
  // each pixel is read whole before its bytes are written.
  auto* rgb = reinterpret_cast<uint8_t*>(raster);
  for (uint32_t y = 0; y < height; ++y)
    StoreRgbaRow(raster + size_t{width} * y, rgb + size_t{width} * 3 * y, width, context->alpha_background);
  return AdoptRgbImage(context, source, rgb, width, height) ? kLoadOk : context->common.err->msg_code;
}

// Reads the band that holds source->next_row; false when it does not decode.
// Bands start at multiples of band_rows, so that each is whole strips or
// tile rows however rows were passed over before it.
bool ReadBand(TTiffSource* source, uint32_t width, uint32_t height) {
  const uint32_t start = source->next_row - source->next_row % source->band_rows;
  const uint32_t rows = height - start < source->band_rows ? height - start : source->band_rows;
  source->image.row_offset = static_cast<int>(start);
  source->image.col_offset = 0;
  if (TIFFRGBAImageGet(&source->image, source->band, width, rows) != 1) return false;
  source->band_start = start;
  source->band_filled = rows;
  return true;
}

uint32_t BandedRows(TReaderContext* context, TImageSource* base) {
  auto* source = static_cast<TTiffSource*>(base);
  const uint32_t width = context->image_width;
  const uint32_t height = context->image_height;
  if (source->next_row >= height) return 0;
  if (source->next_row >= source->band_start + source->band_filled && !ReadBand(source, width, height)) {
    // The rows before this band are out; the rest of the image is not read.
    ReaderRaiseError(context, kTiffDecodeFailed);
    return 0;
  }
  const size_t at = size_t{source->next_row - source->band_start} * width;
  StoreRgbaRow(source->band + at, source->row_buffer, width, context->alpha_background);
  ++source->next_row;
  return 1;
}

// Both ways of reading pass over rows by moving on: a band is read when a
// row of it is asked for, the whole image is in memory.
uint32_t TiffSkipRows(TReaderContext* context, TImageSource* base, uint32_t count) {
  auto* source = static_cast<TTiffSource*>(base);
  const uint32_t left = context->image_height > source->next_row ? context->image_height - source->next_row : 0;
  const uint32_t passed = count < left ? count : left;
  source->next_row += passed;
  return passed;
}

// Prepares banded reading of a top-row-first image: false when the image is
// stored in another orientation (read whole instead).
bool StartBanded(TReaderContext* context, TTiffSource* source, uint32_t width, uint32_t height, int32_t* code) {
  uint16_t orientation = ORIENTATION_TOPLEFT;
  TIFFGetFieldDefaulted(source->tiff, TIFFTAG_ORIENTATION, &orientation);
  if (orientation != ORIENTATION_TOPLEFT) return false;
  char message[1024];
  if (TIFFRGBAImageBegin(&source->image, source->tiff, 1, message) != 1) {
    *code = kTiffUnsupported;
    return true;
  }
  source->image_begun = true;
  source->image.req_orientation = ORIENTATION_TOPLEFT;
  source->band_rows = BandRows(source->tiff, width, height);
  source->band = static_cast<uint32_t*>(std::malloc(size_t{width} * source->band_rows * 4));
  source->row_buffer = static_cast<uint8_t*>(std::malloc(size_t{width} * 3));
  if (source->band == nullptr || source->row_buffer == nullptr) {
    *code = kLoadNoPixelMemory;
    return true;
  }
  // A file none of whose rows decode is refused, as a whole-image read is.
  if (!ReadBand(source, width, height)) {
    *code = kTiffDecodeFailed;
    return true;
  }
  context->image_width = width;
  context->image_height = height;
  context->input_components = 3;
  source->GetRows = BandedRows;
  *code = kLoadOk;
  return true;
}

// Ready when the sealed-file header (if any) is read and the file's plain
// size is known.
bool PrepareFile(TReaderContext* context, TTiffSource* source) {
  // The first fill recognises a sealed file; the bytes it read after the
  // header tell where the image data starts.
  if (!SourceFill(context, source)) return false;
  FILE* file = source->reader.file;
  struct stat info;
  const off_t read_so_far = ftello(file);
  if (::fstat(::fileno(file), &info) != 0 || read_so_far < source->reader.count) {
    ReaderRaiseError(context, kTiffNotTiff);
    return false;
  }
  source->file.file = file;
  source->file.data_start = static_cast<uint64_t>(read_so_far - source->reader.count);
  const uint64_t total = static_cast<uint64_t>(info.st_size);
  source->file.size = total > source->file.data_start ? total - source->file.data_start : 0;
  source->file.cipher = source->reader.was_sealed != 0 ? &source->reader.cipher : nullptr;
  return true;
}

void TiffStartInput(TReaderContext* context, TImageSource* base) {
  auto* source = static_cast<TTiffSource*>(base);
  if (!PrepareFile(context, source)) return;
  source->tiff = OpenTiffFile(&source->file);
  int32_t code = kTiffNotTiff;
  uint32_t width = 0;
  uint32_t height = 0;
  char message[1024];
  if (source->tiff == nullptr || !TiffImageSize(source->tiff, &width, &height)) {
    code = kTiffNotTiff;
  } else if (width == 0 || height == 0) {
    code = kLoadEmptyImage;
  } else if (TIFFRGBAImageOK(source->tiff, message) != 1) {
    code = kTiffUnsupported;
  } else if (!RowsWithinCap(width, height, 0)) {
    code = kLoadNoPixelMemory;
  } else if (!StartBanded(context, source, width, height, &code)) {
    code = DecodeWhole(context, source, width, height);
  }
  if (code != kLoadOk && context->common.err->num_warnings == 0) ReaderRaiseError(context, code);
}

void TiffFinishInput(TReaderContext*, TImageSource*) {}

void TiffDestroy(TImageSource* base) {
  auto* source = static_cast<TTiffSource*>(base);
  if (source->image_begun) TIFFRGBAImageEnd(&source->image);
  if (source->tiff != nullptr) TIFFClose(source->tiff);
  std::free(source->band);
  std::free(source->pixels);
  std::free(source->row_buffer);
  SourceRelease(source);
  delete source;
}

}  // namespace

TImageSource* CreateTiffSource(TReaderContext*) {
  auto* source = new (std::nothrow) TTiffSource;
  if (source == nullptr) return nullptr;
  if (!SourceInit(source)) {
    delete source;
    return nullptr;
  }
  source->StartInput = TiffStartInput;
  source->GetRows = WholeImageGetRows;  // replaced when the image is read in bands
  source->FinishInput = TiffFinishInput;
  source->Destroy = TiffDestroy;
  source->SkipRows = TiffSkipRows;
  return source;
}

bool TiffReadSize(const char* path, int32_t* width, int32_t* height) {
  *width = 0;
  *height = 0;
  FILE* stream = OpenRegularFileForReading(path);
  if (stream == nullptr) return false;
  struct stat info;
  if (::fstat(::fileno(stream), &info) != 0 || info.st_size <= 0) {
    std::fclose(stream);
    return false;
  }
  TTiffFile file;
  file.file = stream;
  file.size = static_cast<uint64_t>(info.st_size);
  TIFF* tiff = OpenTiffFile(&file);
  uint32_t w = 0;
  uint32_t h = 0;
  const bool ok = tiff != nullptr && TiffImageSize(tiff, &w, &h) && w > 0 && h > 0 && w <= INT32_MAX &&
                  h <= INT32_MAX;
  if (tiff != nullptr) TIFFClose(tiff);
  std::fclose(stream);
  if (!ok) return false;
  *width = static_cast<int32_t>(w);
  *height = static_cast<int32_t>(h);
  return true;
}
