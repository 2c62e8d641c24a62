// libjpeg's decompression side: the size probe and the full decode into a
// TMemBitmap. Every libjpeg call runs under a recovery point armed in a small
// function of its own that holds no object with a destructor; the decode
// steps keep their state in a plain job record, so a fatal error lands back
// there with everything needed to release the decoder.

#include "imagein/jpeg_adapter.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jerror.h>

#include "imagein/exif.h"
#include "imagein/jpeg_file_source.h"
#include "imagein/jpeg_limits.h"
#include "imagein/load_codes.h"
#include "imagein/load_path.h"
#include "imagein/palette.h"
#include "imagein/screen_palette.h"
#include "raster/jpeg_error.h"
#include "support/path_util.h"

namespace {

// More warnings than this while reading the header or rows is a failure.
constexpr int kMaxWarnings = 5;
constexpr unsigned int kMaxScaleDenom = 8;

// The state of one size probe; trivially destructible.
struct TJpegProbeJob {
  jpeg_decompress_struct cinfo;
  TJpegErrorManager err;
  TJpegScanGuard guard;
  jmp_buf recovery;
  FILE* stream = nullptr;
  bool size_read = false;
  uint64_t coefficient_bytes = 0;
};

// The state of one decode; trivially destructible. The row writer and its
// output description have destructors and live in the caller's frame.
struct TJpegDecodeJob {
  jpeg_decompress_struct cinfo;
  TJpegErrorManager err;
  TJpegScanGuard guard;
  jmp_buf recovery;
  FILE* stream = nullptr;
  const char* key = nullptr;
  int32_t requested_width = 0;
  int32_t requested_height = 0;
  int32_t load_flags = 0;
  TMemBitmap* bitmap = nullptr;
  TBitmapRowWriter* writer = nullptr;
  TRowWriterOutput* output = nullptr;
  bool writer_created = false;  // from here on a failure no longer changes the result
  uint64_t coefficients_held = 0;  // from CoefficientMemoryBudget(), given back after the decoder
  int32_t result = 0;
};

j_common_ptr Common(jpeg_decompress_struct* cinfo) { return reinterpret_cast<j_common_ptr>(cinfo); }

// The failure code of a header that could not be used. libjpeg sets a code
// with every message; the fallback only guards against a success code.
int32_t FailureCode(const TJpegErrorManager& err) {
  return err.pub.msg_code != 0 ? err.pub.msg_code : JERR_NO_IMAGE;
}

bool HeaderFailed(const TJpegErrorManager& err) {
  return err.pub.num_warnings > kMaxWarnings || err.num_errors > 0;
}

void PrepareCommon(jpeg_decompress_struct* cinfo, TJpegErrorManager* err, const char* image_name) {
  std::memset(cinfo, 0, sizeof(*cinfo));
  cinfo->err = JpegErrorInit(err);
  cinfo->client_data = const_cast<char*>(image_name);
}

void ProbeSteps(TJpegProbeJob* job, int32_t* width, int32_t* height) {
  jpeg_decompress_struct* cinfo = &job->cinfo;
  jpeg_create_decompress(cinfo);
  JpegApplyLimits(cinfo, &job->guard, 0);
  JpegFileSource(cinfo, job->stream);
  jpeg_read_header(cinfo, TRUE);
  if (job->err.pub.num_warnings > 0) return;
  cinfo->scale_num = 1;
  cinfo->scale_denom = 1;
  jpeg_calc_output_dimensions(cinfo);
  *width = static_cast<int32_t>(cinfo->output_width);
  *height = static_cast<int32_t>(cinfo->output_height);
  job->coefficient_bytes = JpegCoefficientBytes(*cinfo);
  job->size_read = true;
}

void RunJpegProbe(TJpegProbeJob* job, int32_t* width, int32_t* height) {
  job->err.recovery = &job->recovery;
  if (setjmp(job->recovery) == 0) ProbeSteps(job, width, height);
  job->err.recovery = nullptr;
  jpeg_destroy_decompress(&job->cinfo);
}

void RecomputeScale(jpeg_decompress_struct* cinfo, unsigned int denom) {
  cinfo->scale_num = 1;
  cinfo->scale_denom = denom;
  jpeg_calc_output_dimensions(cinfo);
}

// The first of 1/1, 1/2, 1/4 and 1/8 at which the output fits the request,
// or with LF_SCALE_BACK one step larger.
void ChooseScale(TJpegDecodeJob* job) {
  jpeg_decompress_struct* cinfo = &job->cinfo;
  const auto want_width = static_cast<uint32_t>(job->requested_width);
  const auto want_height = static_cast<uint32_t>(job->requested_height);
  unsigned int denom = cinfo->scale_denom;
  while (denom < kMaxScaleDenom &&
         (cinfo->output_width > want_width || cinfo->output_height > want_height)) {
    denom *= 2;
    RecomputeScale(cinfo, denom);
  }
  if ((job->load_flags & LF_SCALE_BACK) != 0 && denom > 1) {
    denom /= 2;
    RecomputeScale(cinfo, denom);
  }
}

// A bitmap whose pixel memory could not be had shows no size either, so no
// caller takes it for an image.
void DropPixels(TMemBitmap& bitmap) {
  BitmapFree(bitmap);
  bitmap.width = 0;
  bitmap.height = 0;
  bitmap.header.biWidth = 0;
  bitmap.header.biHeight = 0;
}

uint64_t PixelBytes(const jpeg_decompress_struct& cinfo) {
  return uint64_t{BitmapStride(static_cast<int32_t>(cinfo.output_width))} * cinfo.output_height;
}

// Steps of the decode after the decoder exists. Returns the result code; a
// fatal error inside libjpeg leaves through the recovery point instead.
int32_t DecodeSteps(TJpegDecodeJob* job) {
  jpeg_decompress_struct* cinfo = &job->cinfo;
  TMemBitmap& bitmap = *job->bitmap;
  JpegFileSource(cinfo, job->stream);
  SetSourceKey(cinfo, job->key);
  jpeg_read_header(cinfo, TRUE);
  if (HeaderFailed(job->err)) return FailureCode(job->err);
  bitmap.was_sealed = SourceWasSealed(cinfo);

  cinfo->quantize_colors = ScreenIsPalettized() ? TRUE : FALSE;
  if ((job->load_flags & LF_GRAYSCALE) != 0) cinfo->out_color_space = JCS_GRAYSCALE;
  if ((job->load_flags & LF_QUANTIZE) != 0) cinfo->quantize_colors = TRUE;
  if ((job->load_flags & LF_NO_QUANTIZE) != 0) cinfo->quantize_colors = FALSE;

  RecomputeScale(cinfo, 1);
  if (cinfo->out_color_components > 3) {
    // Four-component files (CMYK, YCCK) are not converted: refused with
    // libjpeg's code for a conversion it does not make.
    job->err.pub.num_warnings++;
    job->err.num_errors++;
    job->err.pub.msg_code = JERR_CONVERSION_NOTIMPL;
    return JERR_CONVERSION_NOTIMPL;
  }
  bitmap.full_width = cinfo->output_width;
  bitmap.full_height = cinfo->output_height;
  if ((job->load_flags & LF_SCALE) != 0) ChooseScale(job);
  bitmap.scale_num = cinfo->scale_num;
  bitmap.scale_denom = cinfo->scale_denom;

  // Refused before any pixel memory or coefficient buffer is taken; libjpeg
  // may then allocate no more than the rest of the cap.
  const uint64_t pixel_bytes = PixelBytes(*cinfo);
  if (JpegOverMemoryCap(*cinfo, pixel_bytes)) return kLoadNoPixelMemory;
  // Beside the pixels the decode holds the row writer's one-row buffer.
  JpegApplyLimits(cinfo, &job->guard, pixel_bytes + uint64_t{cinfo->output_width} * 4);

  TRowWriterOutput& output = *job->output;
  output.output_width = cinfo->output_width;
  output.output_height = cinfo->output_height;
  output.grayscale = cinfo->out_color_space == JCS_GRAYSCALE;
  output.quantize_colors = cinfo->quantize_colors != FALSE;
  output.out_color_components = cinfo->out_color_components;
  output.colormap = nullptr;
  output.actual_number_of_colors = 0;
  if (!CreateBitmapRowWriter(*job->writer, output, bitmap)) {
    DropPixels(bitmap);
    return kLoadNoPixelMemory;
  }
  job->writer_created = true;

  if (cinfo->quantize_colors && (job->load_flags & LF_COLORMAP) != 0 &&
      cinfo->out_color_space != JCS_GRAYSCALE) {
    cinfo->colormap = cinfo->mem->alloc_sarray(Common(cinfo), JPOOL_IMAGE, kPaletteSize, 3);
    FillPresetPalette(cinfo->colormap, job->load_flags, &cinfo->actual_number_of_colors);
  }
  job->coefficients_held = JpegHoldCoefficients(*cinfo);
  jpeg_start_decompress(cinfo);
  output.out_color_components = cinfo->out_color_components;
  output.colormap = cinfo->colormap;
  output.actual_number_of_colors = cinfo->actual_number_of_colors;
  StartRows(*job->writer);

  JSAMPROW row = job->writer->buffer;
  while (cinfo->output_scanline < cinfo->output_height &&
         job->err.pub.num_warnings <= kMaxWarnings && job->err.num_errors == 0) {
    const JDIMENSION rows = jpeg_read_scanlines(cinfo, &row, 1);
    if (rows == 0) break;  // never with this source, which does not suspend
    PutRow(*job->writer, rows);
  }
  if (job->err.pub.num_warnings <= kMaxWarnings && job->err.num_errors == 0) {
    FinishRows(*job->writer);
    jpeg_finish_decompress(cinfo);
  }
  return kLoadOk;
}

void RunJpegDecode(TJpegDecodeJob* job) {
  job->err.recovery = &job->recovery;
  if (setjmp(job->recovery) == 0) {
    jpeg_create_decompress(&job->cinfo);
    job->result = DecodeSteps(job);
  } else if (const int32_t cap = JpegCapResult(job->err.pub.msg_code); cap != 0) {
    // A cap reached inside libjpeg (memory, scans) refuses the image: none of
    // it is presented as decoded.
    DropPixels(*job->bitmap);
    job->result = cap;
  } else {
    // A fatal error: before the row writer exists it is the load's result;
    // afterwards the rows decoded so far stand and the rest stay black.
    job->result = job->writer_created ? kLoadOk : FailureCode(job->err);
  }
  job->err.recovery = nullptr;
  jpeg_destroy_decompress(&job->cinfo);
  JpegReleaseCoefficients(job->coefficients_held);
  job->coefficients_held = 0;
}

}  // namespace

int JpegReadSize(const char* path, int32_t* width, int32_t* height) {
  uint64_t coefficient_bytes = 0;
  return JpegReadDecodeNeeds(path, width, height, &coefficient_bytes);
}

int JpegReadSizeAndOrientation(const char* path, int32_t* width, int32_t* height, int32_t* orientation) {
  TExifFacts facts;
  uint64_t coefficient_bytes = 0;
  const int read = JpegReadHeadFacts(path, width, height, &facts, &coefficient_bytes);
  *orientation = facts.orientation;
  return read;
}

int JpegReadHeadFacts(const char* path, int32_t* width, int32_t* height, TExifFacts* facts,
                      uint64_t* coefficient_bytes) {
  *facts = TExifFacts{};
  *coefficient_bytes = 0;
  *width = 0;
  *height = 0;
  if (path == nullptr || LoadPathTooLong(path)) return 0;
  // A camera's EXIF block (with its preview) and the frame header fit in
  // 64 KiB; both probes then read this copy instead of the file.
  thread_local unsigned char head[64 * 1024];
  bool whole = false;
  const long got = ReadRegularFileHead(path, head, sizeof head, &whole);
  if (got < 0) return 0;
  // Where the copy cannot tell (the frame header lies beyond it), the file
  // itself decides.
  const auto from_file = [&] {
    if (JpegReadDecodeNeeds(path, width, height, coefficient_bytes) == 0) return 0;
    ReadExifFacts(path, facts);
    return 1;
  };
  FILE* stream = got > 0 ? fmemopen(head, static_cast<size_t>(got), "rb") : nullptr;
  if (stream == nullptr) return whole ? 0 : from_file();  // whole: an empty file
  TJpegProbeJob job;
  PrepareCommon(&job.cinfo, &job.err, nullptr);
  job.stream = stream;
  RunJpegProbe(&job, width, height);
  if (!job.size_read) {
    std::fclose(stream);
    *width = 0;
    *height = 0;
    return whole ? 0 : from_file();
  }
  *coefficient_bytes = job.coefficient_bytes;
  std::rewind(stream);
  bool ran_out = false;
  const bool found = ReadExifFactsFromStream(stream, facts, &ran_out);
  std::fclose(stream);
  // The header was read up to the first scan, where the EXIF search stops
  // too, so the copy holds all of it; should the search still run out of
  // data, the file decides.
  if (!found && ran_out && !whole) ReadExifFacts(path, facts);
  return 1;
}

int JpegReadDecodeNeeds(const char* path, int32_t* width, int32_t* height,
                        uint64_t* coefficient_bytes) {
  *coefficient_bytes = 0;
  *width = 0;
  *height = 0;
  if (path == nullptr || LoadPathTooLong(path)) return 0;
  FILE* stream = OpenRegularFileForReading(path);
  if (stream == nullptr) return 0;
  TJpegProbeJob job;
  PrepareCommon(&job.cinfo, &job.err, nullptr);
  job.stream = stream;
  RunJpegProbe(&job, width, height);
  std::fclose(stream);
  if (!job.size_read) {
    *width = 0;
    *height = 0;
    return 0;
  }
  *coefficient_bytes = job.coefficient_bytes;
  return 1;
}

int32_t JpegLoadBitmap(const char* path, int32_t requested_width, int32_t requested_height,
                       TMemBitmap& bitmap, int32_t load_flags, const char* key) {
  if (path == nullptr) return kLoadCannotOpen;
  if (LoadPathTooLong(path)) return kLoadPathTooLong;
  PrepareBitmap(bitmap, path, requested_width, requested_height, load_flags);
  FILE* stream = OpenRegularFileForReading(path);
  if (stream == nullptr) return kLoadCannotOpen;

  TBitmapRowWriter writer;
  TRowWriterOutput output;
  TJpegDecodeJob job;
  PrepareCommon(&job.cinfo, &job.err, path);
  job.stream = stream;
  job.key = key;
  job.requested_width = requested_width;
  job.requested_height = requested_height;
  job.load_flags = load_flags;
  job.bitmap = &bitmap;
  job.writer = &writer;
  job.output = &output;
  RunJpegDecode(&job);
  std::fclose(stream);
  return job.result;
}
