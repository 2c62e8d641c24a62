#pragma once
// The common part of the readers whose library decodes a whole image at once
// from memory (WebP, HEIF/AVIF, TIFF): the file is read through the buffered,
// sealed-file-aware reader into memory, the library decodes it into one block
// of RGB rows during StartInput (so a damaged file is refused with a code
// before any row is stored), and GetRows hands the rows out top first.

#include <cstddef>
#include <cstdint>

#include "imagein/image_source.h"

// The most encoded bytes a reader takes into memory.
inline constexpr size_t kMaxEncodedFileBytes = size_t{1} << 30;

struct TWholeImageSource : TImageSource {
  uint8_t* encoded = nullptr;   // the file's bytes (malloc), released after decoding
  size_t encoded_size = 0;
  uint8_t* pixels = nullptr;    // image_height rows of image_width RGB triples (malloc)
  uint32_t next_row = 0;
};

// Makes the record with the given StartInput, the common GetRows, FinishInput
// and Destroy, the buffered reader and no row buffer yet. Null when memory
// cannot be had.
TWholeImageSource* CreateWholeImageSource(TReaderContext* context, TSourceStep start_input);

// The common GetRows: the next of the decoded rows.
uint32_t WholeImageGetRows(TReaderContext* context, TImageSource* source);

// Reads the file into source->encoded. False with an error raised.
bool ReadWholeFile(TReaderContext* context, TWholeImageSource* source);
void ReleaseEncoded(TWholeImageSource* source);

// Takes the pixel block and the row buffer for a width x height image, after
// the size check: false with kLoadEmptyImage or kLoadNoPixelMemory raised.
// On success image_width/image_height are set in the context.
bool AllocateWholeImage(TReaderContext* context, TWholeImageSource* source, uint32_t width,
                        uint32_t height);

// Takes over `block` (malloc'd, at least width x height x 3 bytes, holding
// the RGB rows at its start) as the source's pixels, shrinking it to them, and
// takes the row buffer. The block belongs to the source either way; false,
// with kLoadNoPixelMemory raised, when the row buffer cannot be had.
bool AdoptRgbImage(TReaderContext* context, TWholeImageSource* source, uint8_t* block, uint32_t width,
                   uint32_t height);

// The same for a block of RGBA rows: the RGB rows are made in place, laid
// over the background.
bool AdoptRgbaImage(TReaderContext* context, TWholeImageSource* source, uint8_t* rgba, uint32_t width,
                    uint32_t height);

// True when width x height pixels of `bytes_per_pixel` stay within the pixel cap.
bool PixelsWithinCap(uint64_t width, uint64_t height, uint64_t bytes_per_pixel);

// True when a reader that holds `reader_bytes_per_pixel` of its own and its
// library's per pixel while the loader stores its rows into the full-size
// 24-bit bitmap stays, together with that bitmap, within the pixel cap.
bool RowsWithinCap(uint64_t width, uint64_t height, uint64_t reader_bytes_per_pixel);

// The same for a whole-image decode, at both of its peaks: while the library
// decodes (`decode_bytes_per_pixel` of the library's and the reader's blocks
// beside the encoded file), and while the RGB rows are handed to the bitmap.
// Checked before anything of the image is allocated.
bool WholeImageWithinCap(const TWholeImageSource* source, uint64_t width, uint64_t height,
                         uint64_t decode_bytes_per_pixel);

// Lays `width` RGBA pixels over the background grey level and stores RGB.
void CompositeRgbaRow(const uint8_t* rgba, uint8_t* rgb, uint32_t width, uint8_t background);

// Reads the whole regular file at `path` (no sealed files: probes read plain
// files only) into one malloc'd block. False when it is no regular file,
// cannot be read, is empty or holds more than `cap` bytes.
bool ReadRegularFile(const char* path, size_t cap, uint8_t** data, size_t* size);
