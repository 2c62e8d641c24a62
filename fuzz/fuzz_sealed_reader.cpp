// libFuzzer target: sealed-file recognition and the buffered reader, on their
// own and under the format readers and the JPEG data source. The first byte
// picks the key text and the way the bytes are read; the rest is the file.

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz_support.h"
#include "imagein/image_source.h"
#include "imagein/jpeg_adapter.h"
#include "imagein/load_codes.h"
#include "imagein/loader.h"
#include "imagein/seal.h"
#include "raster/jpeg_error.h"
#include "raster/membitmap.h"

namespace {

TFuzzInputFile& Input() {
  static TFuzzInputFile file("fuzz_sealed_reader_", "");
  return file;
}

const char* const kKeys[] = {nullptr, "", "key", "quorn", "a much longer key text, to wrap the stream"};

// Reads the whole file through a bare source in pieces of varying size.
void ReadThroughSource(const char* key, uint8_t pattern) {
  TJpegErrorManager err;
  TReaderContext context;
  context.common.err = JpegErrorInit(&err);
  TImageSource source;
  if (!SourceInit(&source)) return;
  source.reader.file = std::fopen(Input().Path(), "rb");
  source.reader.key = key;
  if (source.reader.file != nullptr) {
    uint8_t piece[9000];
    uint32_t n = 1 + pattern;
    for (int i = 0; i < 64; ++i) {
      if ((n & 1) != 0) {
        if (SourceReadByte(&context, &source) < 0) break;
      } else if (!SourceReadBytes(&context, &source, piece, n % sizeof(piece))) {
        break;
      }
      n = n * 73 + 41;
    }
    std::fclose(source.reader.file);
  }
  SourceRelease(&source);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("JPEGMEM", "256M", 0);
  Input();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t choice = data[0];
  const char* key = kKeys[choice % 5];
  const uint8_t* file = data + 1;
  const size_t file_size = size - 1;
  if (!Input().Write(file, file_size)) return 0;

  TSealCipher cipher;
  const int32_t header = SealDetect(&cipher, key, file, static_cast<int32_t>(file_size));
  if (header >= 0) {
    if (static_cast<size_t>(header) > file_size) std::abort();  // a header past the bytes read
    uint8_t copy[512];
    const size_t n = file_size - static_cast<size_t>(header) < sizeof(copy) ? file_size - header : sizeof(copy);
    std::memcpy(copy, file + header, n);
    SealDecode(&cipher, copy, static_cast<int32_t>(n));
  }

  ReadThroughSource(key, static_cast<uint8_t>(choice >> 3));

  // The same bytes under a format reader and under the JPEG data source.
  TMemBitmap bitmap;
  const int32_t kind = 1 + (choice >> 3) % 4;
  LoadImageWithReader(Input().Path(), 64, 64, bitmap, LF_SCALE | LF_NO_QUANTIZE, key, kind);
  if ((choice & 0x80) != 0) JpegLoadBitmap(Input().Path(), 64, 64, bitmap, LF_SCALE | LF_NO_QUANTIZE, key);
  return 0;
}
