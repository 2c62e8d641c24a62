// JPEG coding into memory with JpegWriteBitmap's parameters.

#include "raster/jpeg_memory_writer.h"

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jerror.h>
#include <jpeglib.h>

#include "raster/jpeg_encode_steps.h"
#include "raster/jpeg_error.h"

namespace {

constexpr size_t kFirstBufferBytes = 16384;
// libjpeg's destination: a malloc'ed block that doubles when full.
struct TMemoryDestination {
  jpeg_destination_mgr pub;
  uint8_t* block = nullptr;
  size_t capacity = 0;
  size_t used = 0;  // bytes before the current free space
};

TMemoryDestination* DestinationOf(j_compress_ptr cinfo) {
  return reinterpret_cast<TMemoryDestination*>(cinfo->dest);
}

void InitDestination(j_compress_ptr cinfo) {
  TMemoryDestination* dest = DestinationOf(cinfo);
  dest->pub.next_output_byte = dest->block;
  dest->pub.free_in_buffer = dest->capacity;
  dest->used = 0;
}

boolean EmptyOutputBuffer(j_compress_ptr cinfo) {
  TMemoryDestination* dest = DestinationOf(cinfo);
  const size_t capacity = dest->capacity * 2;
  auto* grown = capacity > dest->capacity ? static_cast<uint8_t*>(std::realloc(dest->block, capacity))
                                          : nullptr;
  if (grown == nullptr) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 10);
  dest->used = dest->capacity;
  dest->block = grown;
  dest->pub.next_output_byte = grown + dest->used;
  dest->pub.free_in_buffer = capacity - dest->used;
  dest->capacity = capacity;
  return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
  TMemoryDestination* dest = DestinationOf(cinfo);
  dest->used = dest->capacity - dest->pub.free_in_buffer;
}

bool CanEncode(const TMemBitmap& bitmap) {
  if (bitmap.pixels == nullptr || bitmap.width < 1 || bitmap.height < 1) return false;
  if (bitmap.header.biBitCount != 24 || bitmap.header.biHeight != bitmap.height) return false;
  const uint64_t needed = static_cast<uint64_t>(bitmap.height) * BitmapStride(bitmap.width);
  return needed <= bitmap.pixel_bytes;
}

// The coding; libjpeg's fatal errors come back through the recovery point.
// Nothing in this function has a destructor.
bool EncodeSteps(const TMemBitmap& bitmap, int quality, TMemoryDestination* dest) {
  jpeg_compress_struct cinfo;
  TJpegErrorManager error_manager;
  jmp_buf recovery;

  cinfo.err = JpegErrorInit(&error_manager);
  cinfo.client_data = nullptr;
  error_manager.recovery = &recovery;
  if (setjmp(recovery) != 0) {
    error_manager.recovery = nullptr;
    jpeg_destroy_compress(&cinfo);
    return false;
  }
  jpeg_create_compress(&cinfo);

  // The parameters and their order are JpegWriteBitmap's.
  SetThumbnailParameters(&cinfo, bitmap, quality);
  jpeg_default_colorspace(&cinfo);

  dest->pub.init_destination = InitDestination;
  dest->pub.empty_output_buffer = EmptyOutputBuffer;
  dest->pub.term_destination = TermDestination;
  cinfo.dest = &dest->pub;
  jpeg_start_compress(&cinfo, TRUE);

  const uint32_t stride = BitmapStride(bitmap.width);
  auto* row = static_cast<JSAMPLE*>(
      cinfo.mem->alloc_small(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE, stride));
  for (int32_t y = 0; y < bitmap.height; ++y) {
    CopyRowAsRgb(bitmap, y, row);
    JSAMPROW rows[1] = {row};
    if (jpeg_write_scanlines(&cinfo, rows, 1) != 1) {
      error_manager.recovery = nullptr;
      jpeg_destroy_compress(&cinfo);
      return false;
    }
  }
  jpeg_finish_compress(&cinfo);
  error_manager.recovery = nullptr;
  jpeg_destroy_compress(&cinfo);
  return true;
}

}  // namespace

TEncodedJpeg::TEncodedJpeg(TEncodedJpeg&& other) noexcept : data(other.data), size(other.size) {
  other.data = nullptr;
  other.size = 0;
}

TEncodedJpeg& TEncodedJpeg::operator=(TEncodedJpeg&& other) noexcept {
  if (this == &other) return *this;
  std::free(data);
  data = other.data;
  size = other.size;
  other.data = nullptr;
  other.size = 0;
  return *this;
}

TEncodedJpeg::~TEncodedJpeg() { std::free(data); }

void EncodedJpegFree(TEncodedJpeg& jpeg) {
  std::free(jpeg.data);
  jpeg.data = nullptr;
  jpeg.size = 0;
}

bool JpegEncodeBitmap(const TMemBitmap& bitmap, int quality, TEncodedJpeg& out) {
  EncodedJpegFree(out);
  if (!CanEncode(bitmap)) return false;
  TMemoryDestination dest;
  dest.capacity = kFirstBufferBytes;
  dest.block = static_cast<uint8_t*>(std::malloc(dest.capacity));
  if (dest.block == nullptr) return false;
  if (!EncodeSteps(bitmap, quality, &dest)) {
    std::free(dest.block);
    return false;
  }
  out.data = dest.block;
  out.size = dest.used;
  return true;
}
