#include "imagein/jpeg_file_source.h"

#include <new>

#include "imagein/image_source.h"
#include "imagein/load_codes.h"
#include "imagein/seal.h"

namespace {

struct TJpegFileSource {
  jpeg_source_mgr pub;  // first, so cinfo->src is this record
  TSealCipher cipher;
  int32_t was_sealed = 0;
  const char* key = nullptr;
  FILE* stream = nullptr;
  JOCTET* buffer = nullptr;
  bool start_of_file = true;
};

TJpegFileSource* SourceOf(j_decompress_ptr cinfo) {
  return reinterpret_cast<TJpegFileSource*>(cinfo->src);
}

void InitSource(j_decompress_ptr cinfo) { SourceOf(cinfo)->start_of_file = true; }

// Raises a fatal error; the adapters always arm a recovery point, so this
// does not return to libjpeg.
void RaiseFatal(j_decompress_ptr cinfo, int code) {
  cinfo->err->msg_code = code;
  cinfo->err->error_exit(reinterpret_cast<j_common_ptr>(cinfo));
}

boolean FillInputBuffer(j_decompress_ptr cinfo) {
  TJpegFileSource* source = SourceOf(cinfo);
  size_t n = std::fread(source->buffer, 1, kJpegSourceBufferSize, source->stream);
  size_t start = 0;
  if (n > 0) {
    if (source->start_of_file) {
      const int32_t detected = SealDetect(&source->cipher, source->key, source->buffer,
                                          static_cast<int32_t>(n));
      if (detected == kSealRejected) {
        RaiseFatal(cinfo, kLoadSealRejected);
        return FALSE;
      }
      if (detected == kSealNotSealed) {
        source->was_sealed = 0;
      } else {
        source->was_sealed = 1;
        start = static_cast<size_t>(detected);
      }
    }
    if (source->was_sealed)
      SealDecode(&source->cipher, source->buffer + start, static_cast<int32_t>(n - start));
  } else {
    if (source->start_of_file) {
      RaiseFatal(cinfo, JERR_INPUT_EMPTY);
      return FALSE;
    }
    // Past the end: an EOI marker lets libjpeg finish the image with what it has.
    WARNMS(cinfo, JWRN_JPEG_EOF);
    source->buffer[0] = 0xFF;
    source->buffer[1] = JPEG_EOI;
    n = 2;
    start = 0;
  }
  source->start_of_file = false;
  source->pub.next_input_byte = source->buffer + start;
  source->pub.bytes_in_buffer = n - start;
  // A sealed-file header that filled the whole first block leaves no data:
  // libjpeg must never be handed an empty buffer, so read on.
  if (source->pub.bytes_in_buffer == 0) return FillInputBuffer(cinfo);
  return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long num_bytes) {
  if (num_bytes <= 0) return;
  jpeg_source_mgr* pub = cinfo->src;
  size_t remaining = static_cast<size_t>(num_bytes);
  while (remaining > pub->bytes_in_buffer) {
    remaining -= pub->bytes_in_buffer;
    if (!pub->fill_input_buffer(cinfo)) return;
  }
  pub->next_input_byte += remaining;
  pub->bytes_in_buffer -= remaining;
}

void TermSource(j_decompress_ptr) {}

}  // namespace

void JpegFileSource(j_decompress_ptr cinfo, FILE* stream) {
  if (cinfo->src == nullptr) {
    void* record = cinfo->mem->alloc_small(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT,
                                           sizeof(TJpegFileSource));
    auto* source = new (record) TJpegFileSource;
    source->buffer = static_cast<JOCTET*>(cinfo->mem->alloc_small(
        reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT, kJpegSourceBufferSize));
    cinfo->src = &source->pub;
  }
  TJpegFileSource* source = SourceOf(cinfo);
  source->pub.init_source = InitSource;
  source->pub.fill_input_buffer = FillInputBuffer;
  source->pub.skip_input_data = SkipInputData;
  source->pub.resync_to_restart = jpeg_resync_to_restart;
  source->pub.term_source = TermSource;
  source->stream = stream;
  source->was_sealed = 0;
  source->key = nullptr;
  source->start_of_file = true;
  source->pub.next_input_byte = nullptr;
  source->pub.bytes_in_buffer = 0;
}

void SetSourceKey(j_decompress_ptr cinfo, const char* key) { SourceOf(cinfo)->key = key; }

int32_t SourceWasSealed(j_decompress_ptr cinfo) { return SourceOf(cinfo)->was_sealed; }
