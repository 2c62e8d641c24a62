#include "raster/jpeg_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>

#include "raster/jpeg_encode_steps.h"
#include "raster/jpeg_error.h"

namespace {

// Temporary names: "<path>.tmp<pid>_<n>". They keep the final name as a
// prefix, so the clean-up that removes thumbnails also removes a stray one.
constexpr size_t kTempNameBytes = 4096;
constexpr int kTempNameAttempts = 16;

std::atomic<unsigned> temp_counter{0};

// Creates and opens a new, empty temporary file beside `path`; its name goes
// to `name`. Returns the descriptor, or -1.
int CreateTempFile(const char* path, char* name) {
  for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
    const unsigned n = temp_counter.fetch_add(1, std::memory_order_relaxed);
    const int length = std::snprintf(name, kTempNameBytes, "%s.tmp%ld_%u", path,
                                     static_cast<long>(getpid()), n);
    if (length < 0 || static_cast<size_t>(length) >= kTempNameBytes) return -1;
    const int fd = open(name, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) return fd;
    if (errno != EEXIST) return -1;
  }
  return -1;
}

// True when the bitmap is a 24-bit one whose rows all lie in its pixel memory.
bool CanEncode(const TMemBitmap& bitmap) {
  if (bitmap.pixels == nullptr || bitmap.width < 1 || bitmap.height < 1) return false;
  if (bitmap.header.biBitCount != 24 || bitmap.header.biHeight != bitmap.height) return false;
  const uint64_t needed = static_cast<uint64_t>(bitmap.height) * BitmapStride(bitmap.width);
  return needed <= bitmap.pixel_bytes;
}

// Encodes the bitmap into the open descriptor `fd`, which it takes over and
// closes. libjpeg's fatal errors come back here through the error manager's
// recovery point; nothing in this function has a destructor.
bool EncodeToDescriptor(const TMemBitmap& bitmap, int fd, int quality) {
  jpeg_compress_struct cinfo;
  TJpegErrorManager error_manager;
  jmp_buf recovery;
  FILE* volatile stream = nullptr;

  // 1. Error manager and compressor. The writer's messages carry no image name.
  cinfo.err = JpegErrorInit(&error_manager);
  cinfo.client_data = nullptr;
  error_manager.recovery = &recovery;
  if (setjmp(recovery) != 0) {
    error_manager.recovery = nullptr;
    jpeg_destroy_compress(&cinfo);
    if (stream != nullptr) {
      std::fclose(stream);
    } else {
      close(fd);
    }
    return false;
  }
  jpeg_create_compress(&cinfo);

  // 2-4. Parameters: RGB input, defaults, the caller's quality as baseline.
  SetThumbnailParameters(&cinfo, bitmap, quality);

  // 5. The stream, without newline translation.
  stream = fdopen(fd, "w+b");
  if (stream == nullptr) {
    error_manager.recovery = nullptr;
    jpeg_destroy_compress(&cinfo);
    close(fd);
    return false;
  }

  // 6. Destination and start.
  jpeg_default_colorspace(&cinfo);
  jpeg_stdio_dest(&cinfo, stream);
  jpeg_start_compress(&cinfo, TRUE);

  // 7. One row buffer from the compressor's image pool.
  const uint32_t stride = BitmapStride(bitmap.width);
  auto* row = static_cast<JSAMPLE*>(
      cinfo.mem->alloc_small(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE, stride));

  // 8. Top row first (the last row in memory), blue-green-red turned into
  // red-green-blue; the row padding is never encoded.
  bool complete = true;
  for (int32_t y = 0; y < bitmap.height && complete; ++y) {
    CopyRowAsRgb(bitmap, y, row);
    JSAMPROW rows[1] = {row};
    complete = jpeg_write_scanlines(&cinfo, rows, 1) == 1;
  }

  // 9. Finish (flushes and checks the stream), release, close.
  if (complete) jpeg_finish_compress(&cinfo);
  error_manager.recovery = nullptr;
  jpeg_destroy_compress(&cinfo);
  const bool closed = std::fclose(stream) == 0;
  return complete && closed;
}

}  // namespace

bool JpegWriteBitmap(const TMemBitmap& bitmap, const char* path, int quality) {
  if (path == nullptr || path[0] == '\0' || !CanEncode(bitmap)) return false;
  char temp_name[kTempNameBytes];
  const int fd = CreateTempFile(path, temp_name);
  if (fd < 0) return false;
  // On failure errno still tells why (the clean-up does not change it).
  if (!EncodeToDescriptor(bitmap, fd, quality) || std::rename(temp_name, path) != 0) {
    const int error = errno;
    unlink(temp_name);
    errno = error;
    return false;
  }
  return true;
}
