#include "imagein/reader_row_stream.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "imagein/image_source.h"
#include "imagein/load_codes.h"
#include "imagein/load_path.h"
#include "imagein/reader_pipeline.h"
#include "imagein/loader.h"
#include "raster/jpeg_error.h"
#include "raster/membitmap.h"
#include "support/path_util.h"

namespace {

TSourceCreate StreamingConstructor(int32_t kind) {
  switch (kind) {
    case kReaderPng: return CreatePngSource;
    case kReaderWebp: return CreateWebpSource;
    case kReaderTiff: return CreateTiffSource;
    default: return nullptr;
  }
}

TReaderStreamOutcome Outcome(TJpegStreamResult result, int32_t code, uint32_t rows) {
  TReaderStreamOutcome outcome;
  outcome.result = result;
  outcome.code = code;
  outcome.rows_read = rows;
  return outcome;
}

uint32_t NextWanted(const TJpegRowSink& sink, uint32_t y, uint32_t height) {
  if (y >= height || sink.next_wanted == nullptr) return y;
  const int32_t next = sink.next_wanted(sink.context, static_cast<int32_t>(y));
  return next < static_cast<int32_t>(y) ? y : static_cast<uint32_t>(next);
}

uint32_t SkipSourceRows(TReaderContext* context, TImageSource* source, uint32_t count) {
  if (source->SkipRows != nullptr) return source->SkipRows(context, source, count);
  uint32_t passed = 0;
  while (passed < count && source->GetRows(context, source) != 0 && context->common.err->num_warnings == 0) ++passed;
  return passed;
}

// Runs the reader with the file open; `source` is destroyed by the caller.
TReaderStreamOutcome StreamSource(TReaderContext* context, TJpegErrorManager* err, TImageSource* source,
                                  const TJpegRowSink& sink) {
  source->StartInput(context, source);
  if (err->pub.num_warnings > 0) {
    const int32_t code = err->pub.msg_code;
    return Outcome(code == kLoadNoPixelMemory ? TJpegStreamResult::kOutOfMemory : TJpegStreamResult::kFailed,
                   code, 0);
  }
  const uint32_t width = context->image_width;
  const uint32_t height = context->image_height;
  if (width == 0 || height == 0) return Outcome(TJpegStreamResult::kFailed, kLoadEmptyImage, 0);
  // The load refuses what its bitmap could not hold; so does this.
  if (uint64_t{width} * height * 3 > kMaxPixelBytes)
    return Outcome(TJpegStreamResult::kOutOfMemory, kLoadNoPixelMemory, 0);
  const size_t row_bytes = size_t{width} * 3;
  auto* rgb = static_cast<uint8_t*>(std::calloc(row_bytes, 1));
  if (rgb == nullptr) return Outcome(TJpegStreamResult::kOutOfMemory, kLoadNoPixelMemory, 0);
  if (!sink.start(sink.context, static_cast<int32_t>(width), static_cast<int32_t>(height))) {
    std::free(rgb);
    return Outcome(TJpegStreamResult::kStopped, kLoadOk, 0);
  }
  uint32_t y = 0;
  uint32_t wanted = NextWanted(sink, 0, height);
  while (y < height && err->pub.num_warnings == 0) {
    if (y < wanted) {
      // Rows nobody takes: passed over, by the reader's own skip where it has one.
      const uint32_t count = (wanted < height ? wanted : height) - y;
      const uint32_t passed = SkipSourceRows(context, source, count);
      y += passed;
      if (passed < count || err->pub.num_warnings > 0) break;
      continue;
    }
    if (source->GetRows(context, source) == 0 || err->pub.num_warnings > 0 || source->row_buffer == nullptr) break;
    if (context->input_components == 1) {
      for (uint32_t x = 0; x < width; ++x) std::memset(rgb + size_t{x} * 3, source->row_buffer[x], 3);
      sink.row(sink.context, static_cast<int32_t>(y), rgb);
    } else {
      sink.row(sink.context, static_cast<int32_t>(y), source->row_buffer);
    }
    ++y;
    wanted = NextWanted(sink, y, height);
  }
  const uint32_t rows_read = y;
  // The rows the file did not give are black, as in a load's bitmap.
  std::memset(rgb, 0, row_bytes);
  for (y = NextWanted(sink, y, height); y < height; y = NextWanted(sink, y + 1, height))
    sink.row(sink.context, static_cast<int32_t>(y), rgb);
  std::free(rgb);
  return Outcome(TJpegStreamResult::kDone, kLoadOk, rows_read);
}

}  // namespace

bool ReaderKindStreams(int32_t kind) { return StreamingConstructor(kind) != nullptr; }

TReaderStreamOutcome ReaderStreamRows(const char* path, int32_t kind, uint8_t alpha_background,
                                      const TJpegRowSink& sink) {
  const TSourceCreate create = StreamingConstructor(kind);
  if (path == nullptr || create == nullptr || sink.plan == nullptr || sink.start == nullptr || sink.row == nullptr)
    return Outcome(TJpegStreamResult::kFailed, kLoadCannotOpen, 0);
  if (LoadPathTooLong(path)) return Outcome(TJpegStreamResult::kFailed, kLoadPathTooLong, 0);
  int32_t full_width = 0;
  int32_t full_height = 0;
  if (!ProbeImageSize(path, &full_width, &full_height))
    return Outcome(TJpegStreamResult::kFailed, kLoadCannotOpen, 0);
  TJpegStreamHeader header;
  header.width = full_width;
  header.height = full_height;
  int32_t min_width = full_width;
  int32_t min_height = full_height;
  if (!sink.plan(sink.context, header, &min_width, &min_height))
    return Outcome(TJpegStreamResult::kStopped, kLoadOk, 0);

  TJpegErrorManager err;
  TReaderContext context;
  context.common.err = JpegErrorInit(&err);
  context.common.client_data = const_cast<char*>(path);
  context.image_name = path;
  context.alpha_background = alpha_background;
  if (min_width > 0 && min_height > 0) {
    context.wanted_width = static_cast<uint32_t>(min_width);
    context.wanted_height = static_cast<uint32_t>(min_height);
  }
  FILE* file = OpenRegularFileForReading(path);
  if (file == nullptr) return Outcome(TJpegStreamResult::kFailed, kLoadCannotOpen, 0);
  TImageSource* source = create(&context);
  if (source == nullptr) {
    std::fclose(file);
    return Outcome(TJpegStreamResult::kOutOfMemory, kLoadNoPixelMemory, 0);
  }
  source->reader.file = file;
  const TReaderStreamOutcome outcome = StreamSource(&context, &err, source, sink);
  source->FinishInput(&context, source);
  source->Destroy(source);
  std::fclose(file);
  return outcome;
}
