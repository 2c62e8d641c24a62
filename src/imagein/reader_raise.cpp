#include "imagein/image_source.h"

// The readers raise their errors and warnings through the same error manager
// the JPEG decoders use, so they are counted and reported alike.

void ReaderRaiseError(TReaderContext* context, int code) {
  jpeg_error_mgr* err = context->common.err;
  if (err == nullptr) return;
  err->msg_code = code;
  err->error_exit(&context->common);
}

void ReaderRaiseWarning(TReaderContext* context, int code) {
  jpeg_error_mgr* err = context->common.err;
  if (err == nullptr) return;
  err->msg_code = code;
  err->emit_message(&context->common, -1);
}
