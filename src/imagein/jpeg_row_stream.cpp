// Every libjpeg call runs under the recovery point armed in RunStream, which
// holds no object with a destructor; the decode's state is a plain record.

#include "imagein/jpeg_row_stream.h"

#include <csetjmp>
#include <cstdlib>
#include <cstring>

#include "raster/jpeg_error.h"
#include "imagein/jpeg_file_source.h"
#include "imagein/jpeg_limits.h"
#include "imagein/load_codes.h"
#include "imagein/load_path.h"
#include "support/path_util.h"

namespace {

// More warnings than this mean a file too damaged to show.
constexpr long kMaxWarnings = 5;
constexpr int kMaxIccChunks = 255;

struct TStreamJob {
  jpeg_decompress_struct cinfo;
  TJpegErrorManager err;
  TJpegScanGuard guard;
  jmp_buf recovery;
  FILE* stream = nullptr;
  const TJpegRowSink* sink = nullptr;
  TJpegStreamFacts* facts = nullptr;
  uint8_t* row = nullptr;
  uint8_t* rgb = nullptr;
  TJpegStreamResult result = TJpegStreamResult::kFailed;
  uint64_t coefficients_held = 0;  // from CoefficientMemoryBudget(), given back after the decoder
};

bool IsIccMarker(const jpeg_saved_marker_ptr marker) {
  static const char kTag[] = "ICC_PROFILE";  // with its NUL: 12 bytes
  return marker->marker == JPEG_APP0 + 2 && marker->data_length >= sizeof kTag + 2 &&
         std::memcmp(marker->data, kTag, sizeof kTag) == 0;
}

// The ICC profile from its numbered chunks; null when there is none or the
// chunks do not make up one whole profile.
uint8_t* AssembleIcc(j_decompress_ptr cinfo, size_t* size) {
  jpeg_saved_marker_ptr chunks[kMaxIccChunks + 1] = {};
  int count = 0;
  size_t total = 0;
  for (jpeg_saved_marker_ptr m = cinfo->marker_list; m != nullptr; m = m->next) {
    if (!IsIccMarker(m)) continue;
    const int sequence = m->data[12];
    const int of = m->data[13];
    if (of == 0 || sequence == 0 || sequence > of || (count != 0 && of != count)) return nullptr;
    count = of;
    if (chunks[sequence] != nullptr) return nullptr;
    chunks[sequence] = m;
    total += m->data_length - 14;
  }
  if (count == 0 || total == 0) return nullptr;
  for (int i = 1; i <= count; ++i) {
    if (chunks[i] == nullptr) return nullptr;
  }
  uint8_t* icc = static_cast<uint8_t*>(std::malloc(total));
  if (icc == nullptr) return nullptr;
  size_t at = 0;
  for (int i = 1; i <= count; ++i) {
    std::memcpy(icc + at, chunks[i]->data + 14, chunks[i]->data_length - 14);
    at += chunks[i]->data_length - 14;
  }
  *size = total;
  return icc;
}

void ReadMarkerFacts(TStreamJob* job) {
  j_decompress_ptr cinfo = &job->cinfo;
  for (jpeg_saved_marker_ptr m = cinfo->marker_list; m != nullptr; m = m->next) {
    if (m->marker == JPEG_APP0 + 1 && m->data_length >= 6 && std::memcmp(m->data, "Exif\0\0", 6) == 0) {
      ParseExifFacts(m->data, m->data_length, &job->facts->exif);
      break;
    }
  }
  job->facts->icc = AssembleIcc(cinfo, &job->facts->icc_size);
}

// Adobe CMYK files hold inverted values; others plain ones.
void CmykToRgb(const uint8_t* cmyk, uint8_t* rgb, uint32_t width, bool inverted) {
  for (uint32_t x = 0; x < width; ++x, cmyk += 4, rgb += 3) {
    const unsigned c = inverted ? cmyk[0] : 255u - cmyk[0];
    const unsigned m = inverted ? cmyk[1] : 255u - cmyk[1];
    const unsigned y = inverted ? cmyk[2] : 255u - cmyk[2];
    const unsigned k = inverted ? cmyk[3] : 255u - cmyk[3];
    rgb[0] = static_cast<uint8_t>((c * k + 127) / 255);
    rgb[1] = static_cast<uint8_t>((m * k + 127) / 255);
    rgb[2] = static_cast<uint8_t>((y * k + 127) / 255);
  }
}

bool TooDamaged(const TJpegErrorManager& err) { return err.pub.num_warnings > kMaxWarnings || err.num_errors > 0; }

void StreamSteps(TStreamJob* job) {
  j_decompress_ptr cinfo = &job->cinfo;
  JpegFileSource(cinfo, job->stream);
  SetSourceKey(cinfo, nullptr);
  jpeg_save_markers(cinfo, JPEG_APP0 + 1, 0xFFFF);
  jpeg_save_markers(cinfo, JPEG_APP0 + 2, 0xFFFF);
  jpeg_read_header(cinfo, TRUE);
  if (TooDamaged(job->err)) return;
  ReadMarkerFacts(job);

  TJpegStreamHeader header;
  header.width = static_cast<int32_t>(cinfo->image_width);
  header.height = static_cast<int32_t>(cinfo->image_height);
  header.orientation = job->facts->exif.orientation;
  if (header.width < 1 || header.height < 1) return;
  int32_t min_width = header.width;
  int32_t min_height = header.height;
  if (!job->sink->plan(job->sink->context, header, &min_width, &min_height)) {
    job->result = TJpegStreamResult::kStopped;
    return;
  }

  const bool cmyk = cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK;
  cinfo->out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
  cinfo->quantize_colors = FALSE;
  // The smallest of the scales 1/8, 1/4, 1/2 and 1/1 whose output is still
  // as large as asked (the scales between them blur fine detail more).
  for (unsigned m = 1; m <= 8; m *= 2) {
    cinfo->scale_num = m;
    cinfo->scale_denom = 8;
    jpeg_calc_output_dimensions(cinfo);
    if (static_cast<int64_t>(cinfo->output_width) >= min_width &&
        static_cast<int64_t>(cinfo->output_height) >= min_height)
      break;
  }
  const uint32_t width = cinfo->output_width;
  const uint32_t height = cinfo->output_height;
  // The caps of every JPEG decode: coefficient memory within what is left of
  // the pixel cap beside this decode's two rows, and the scan guard, which
  // stops a file of endless scans before it costs minutes of CPU.
  const uint64_t row_bytes = uint64_t{width} * 7;
  if (JpegOverMemoryCap(*cinfo, row_bytes)) {
    job->result = TJpegStreamResult::kOutOfMemory;
    return;
  }
  JpegApplyLimits(cinfo, &job->guard, row_bytes);
  job->row = static_cast<uint8_t*>(std::malloc(size_t{width} * 4));
  job->rgb = static_cast<uint8_t*>(std::malloc(size_t{width} * 3));
  if (job->row == nullptr || job->rgb == nullptr) {
    job->result = TJpegStreamResult::kOutOfMemory;
    return;
  }
  if (!job->sink->start(job->sink->context, static_cast<int32_t>(width), static_cast<int32_t>(height))) {
    job->result = TJpegStreamResult::kStopped;
    return;
  }
  job->coefficients_held = JpegHoldCoefficients(*cinfo);
  jpeg_start_decompress(cinfo);
  JSAMPROW row = job->row;
  while (cinfo->output_scanline < height) {
    const JDIMENSION y = cinfo->output_scanline;
    if (jpeg_read_scanlines(cinfo, &row, 1) != 1 || TooDamaged(job->err)) return;
    const uint8_t* rgb = job->row;
    if (cmyk) {
      CmykToRgb(job->row, job->rgb, width, cinfo->saw_Adobe_marker != 0);
      rgb = job->rgb;
    }
    job->sink->row(job->sink->context, static_cast<int32_t>(y), rgb);
  }
  jpeg_finish_decompress(cinfo);
  if (TooDamaged(job->err)) return;
  job->result = TJpegStreamResult::kDone;
}

void RunStream(TStreamJob* job) {
  job->err.recovery = &job->recovery;
  if (setjmp(job->recovery) == 0) {
    jpeg_create_decompress(&job->cinfo);
    StreamSteps(job);
  } else {
    job->result = JpegCapResult(job->err.pub.msg_code) == kLoadNoPixelMemory ? TJpegStreamResult::kOutOfMemory
                                                                             : TJpegStreamResult::kFailed;
  }
  job->err.recovery = nullptr;
  jpeg_destroy_decompress(&job->cinfo);
  JpegReleaseCoefficients(job->coefficients_held);
  job->coefficients_held = 0;
}

}  // namespace

TJpegStreamResult JpegStreamRows(const char* path, const TJpegRowSink& sink, TJpegStreamFacts* facts) {
  if (path == nullptr || LoadPathTooLong(path) || facts == nullptr) return TJpegStreamResult::kFailed;
  if (sink.plan == nullptr || sink.start == nullptr || sink.row == nullptr) return TJpegStreamResult::kFailed;
  FILE* stream = OpenRegularFileForReading(path);
  if (stream == nullptr) return TJpegStreamResult::kFailed;
  TStreamJob job;
  std::memset(&job.cinfo, 0, sizeof job.cinfo);
  job.cinfo.err = JpegErrorInit(&job.err);
  job.cinfo.client_data = const_cast<char*>(path);
  job.stream = stream;
  job.sink = &sink;
  job.facts = facts;
  RunStream(&job);
  std::free(job.row);
  std::free(job.rgb);
  std::fclose(stream);
  return job.result;
}
