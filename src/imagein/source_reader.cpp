// The buffered byte reader of the format readers. The first fill recognises a
// sealed file and from then on every byte read is deciphered, so the readers
// see plain image bytes either way.

#include <cstdlib>
#include <cstring>

#include "imagein/image_source.h"
#include "imagein/load_codes.h"
#include "imagein/seal.h"

namespace {

// first_fill values: the first fill is still to come, has run, or refused the
// file's sealed-file header (every later fill fails the same way, so a reader
// that reads on cannot get past the header).
constexpr int32_t kFirstFillPending = 1;
constexpr int32_t kFirstFillDone = 0;
constexpr int32_t kFirstFillRefused = -1;

// Fills until bytes are at hand; a fill that lands exactly at the end of a
// sealed-file header leaves none, so the next one is needed.
bool EnsureBytes(TReaderContext* context, TImageSource* source) {
  while (source->reader.count == 0) {
    if (!SourceFill(context, source)) return false;
  }
  return true;
}

// A failed fill at the end of the file is raised once more by the reading
// routines; a refused sealed-file header keeps its own code.
void RaiseReadFailure(TReaderContext* context, TImageSource* source) {
  if (source->reader.first_fill != kFirstFillRefused)
    ReaderRaiseError(context, kLoadPrematureEnd);
}

bool FillBuffer(TReaderContext* context, TImageSource* source, bool end_is_error);

}  // namespace

bool SourceInit(TImageSource* source) {
  TSourceReader& reader = source->reader;
  reader.buffer = static_cast<uint8_t*>(std::malloc(kSourceBufferSize));
  reader.cursor = reader.buffer;
  reader.count = 0;
  reader.first_fill = kFirstFillPending;
  reader.was_sealed = 0;
  reader.key = nullptr;
  return reader.buffer != nullptr;
}

void SourceRelease(TImageSource* source) {
  std::free(source->reader.buffer);
  source->reader.buffer = nullptr;
  source->reader.cursor = nullptr;
  source->reader.count = 0;
}

bool SourceFill(TReaderContext* context, TImageSource* source) {
  return FillBuffer(context, source, true);
}

namespace {

bool FillBuffer(TReaderContext* context, TImageSource* source, bool end_is_error) {
  TSourceReader& reader = source->reader;
  if (reader.first_fill == kFirstFillRefused) {
    ReaderRaiseError(context, kLoadSealRejected);
    return false;
  }
  size_t bytes_read = 0;
  if (reader.buffer != nullptr && reader.file != nullptr)
    bytes_read = std::fread(reader.buffer, 1, kSourceBufferSize, reader.file);
  if (bytes_read == 0) {
    // A file that holds nothing at all is premature either way.
    if (end_is_error || reader.first_fill == kFirstFillPending) ReaderRaiseError(context, kLoadPrematureEnd);
    return false;
  }
  const int32_t length = static_cast<int32_t>(bytes_read);
  int32_t data_start = 0;
  if (reader.first_fill == kFirstFillPending) {
    const int32_t detected = SealDetect(&reader.cipher, reader.key, reader.buffer, length);
    if (detected == kSealRejected) {
      reader.first_fill = kFirstFillRefused;
      reader.count = 0;
      ReaderRaiseError(context, kLoadSealRejected);
      return false;
    }
    if (detected == kSealNotSealed) {
      reader.was_sealed = 0;
    } else {
      reader.was_sealed = 1;
      data_start = detected;
    }
  }
  if (reader.was_sealed) SealDecode(&reader.cipher, reader.buffer + data_start, length - data_start);
  reader.cursor = reader.buffer + data_start;
  reader.count = length - data_start;
  reader.first_fill = kFirstFillDone;
  return true;
}

}  // namespace

int SourceReadByte(TReaderContext* context, TImageSource* source) {
  if (!EnsureBytes(context, source)) {
    RaiseReadFailure(context, source);
    return -1;
  }
  TSourceReader& reader = source->reader;
  reader.count--;
  return *reader.cursor++;
}

bool SourceReadBytes(TReaderContext* context, TImageSource* source, void* destination, uint32_t n) {
  TSourceReader& reader = source->reader;
  uint8_t* out = static_cast<uint8_t*>(destination);
  while (n > 0) {
    if (!EnsureBytes(context, source)) {
      RaiseReadFailure(context, source);
      return false;
    }
    const uint32_t take = n < static_cast<uint32_t>(reader.count) ? n : static_cast<uint32_t>(reader.count);
    std::memcpy(out, reader.cursor, take);
    out += take;
    reader.cursor += take;
    reader.count -= static_cast<int32_t>(take);
    n -= take;
  }
  return true;
}

bool SourceReadToEnd(TReaderContext* context, TImageSource* source, size_t cap, uint8_t** data,
                     size_t* size) {
  *data = nullptr;
  *size = 0;
  TSourceReader& reader = source->reader;
  size_t capacity = 0;
  uint8_t* out = nullptr;
  size_t used = 0;
  for (;;) {
    if (reader.count == 0) {
      if (!FillBuffer(context, source, false)) break;
      continue;
    }
    const auto take = static_cast<size_t>(reader.count);
    if (used + take > cap) {
      std::free(out);
      ReaderRaiseError(context, kLoadNoPixelMemory);
      return false;
    }
    if (used + take > capacity) {
      size_t grown = capacity == 0 ? size_t{1} << 16 : capacity * 2;
      while (grown < used + take) grown *= 2;
      if (grown > cap) grown = cap;
      auto* bigger = static_cast<uint8_t*>(std::realloc(out, grown));
      if (bigger == nullptr) {
        std::free(out);
        ReaderRaiseError(context, kLoadNoPixelMemory);
        return false;
      }
      out = bigger;
      capacity = grown;
    }
    std::memcpy(out + used, reader.cursor, take);
    used += take;
    reader.cursor += take;
    reader.count = 0;
  }
  // Nothing at all, or a refused sealed-file header: the error is raised already.
  if (context->common.err->num_warnings > 0 || used == 0) {
    std::free(out);
    return false;
  }
  *data = out;
  *size = used;
  return true;
}
