// A thumbnail cell straight from a JPEG file. The full decode stores every
// row into a full-size bitmap and the stretch then takes one source row per
// cell row and one source column per cell column; here the same rows are
// decoded in order and only the sampled pixels are stored, straight into the
// cell. Rows that are never sampled are skipped (jpeg_skip_scanlines: entropy
// decoding only, no inverse DCT, upsampling or colour conversion) when the
// file's coding is one for which skipping gives the same pixels; otherwise
// they are read and dropped.
//
// What the full decode does on damaged files is reproduced exactly: its row
// loop stops once more than five warnings or any fatal error have been
// counted, and the rows it never stored are black. A skipping decode cannot
// tell where in the row sequence a warning would have been counted, so a file
// that raises any warning or error while rows are skipped is decoded again
// reading every row, with the full decode's own stop rule.
//
// Every libjpeg call runs under a recovery point armed in RunCellDecode,
// which holds no object with a destructor; the state lives in a plain record.

#include "imagein/jpeg_thumb_decode.h"

#include <algorithm>
#include <csetjmp>
#include <cstdlib>
#include <cstring>

#include <jerror.h>

#include "imagein/jpeg_file_source.h"
#include "imagein/jpeg_limits.h"
#include "imagein/load_path.h"
#include "raster/jpeg_error.h"
#include "support/path_util.h"

namespace {

// The full decode's limit: more warnings than this end its row loop.
constexpr int kMaxWarnings = 5;

// jpeg_skip_scanlines is libjpeg-turbo's; the 2.1 series is the one whose
// skipping has been checked against full decodes.
#if defined(LIBJPEG_TURBO_VERSION_NUMBER) && LIBJPEG_TURBO_VERSION_NUMBER >= 2001000
constexpr bool kSkipAvailable = true;
void SkipRows(j_decompress_ptr cinfo, JDIMENSION count) { jpeg_skip_scanlines(cinfo, count); }
#else
constexpr bool kSkipAvailable = false;
void SkipRows(j_decompress_ptr, JDIMENSION) {}
#endif

// The stretch's guard: an inclusive rectangle that lies inside a bitmap of
// `width` x `height` whose pixel memory holds all its rows.
bool RectInside(int32_t width, int32_t height, uint32_t left, uint32_t top, uint32_t right,
                uint32_t bottom) {
  if (width <= 0 || height <= 0) return false;
  return left <= right && top <= bottom && right < static_cast<uint32_t>(width) &&
         bottom < static_cast<uint32_t>(height);
}

// Where the image lands in the cell, and which source pixel each cell pixel takes.
struct TCellPlan {
  uint32_t dst_left = 0;
  uint32_t dst_top = 0;
  uint32_t dst_w = 0;
  uint32_t dst_h = 0;
  uint32_t* source_row = nullptr;   // per cell row i of the box
  uint32_t* order = nullptr;        // box rows sorted by source row
  uint32_t* column_byte = nullptr;  // per box column j: byte offset of its source pixel
};

void FreePlan(TCellPlan* plan) {
  std::free(plan->source_row);
  std::free(plan->order);
  std::free(plan->column_byte);
  plan->source_row = nullptr;
  plan->order = nullptr;
  plan->column_byte = nullptr;
}

// Fills the plan's tables for an image of src_w x src_h. False when memory
// cannot be had.
bool BuildPlan(TCellPlan* plan, uint32_t src_w, uint32_t src_h) {
  plan->source_row = static_cast<uint32_t*>(std::malloc(sizeof(uint32_t) * plan->dst_h));
  plan->order = static_cast<uint32_t*>(std::malloc(sizeof(uint32_t) * plan->dst_h));
  plan->column_byte = static_cast<uint32_t*>(std::malloc(sizeof(uint32_t) * plan->dst_w));
  if (plan->source_row == nullptr || plan->order == nullptr || plan->column_byte == nullptr) {
    FreePlan(plan);
    return false;
  }
  bool ascending = true;
  for (uint32_t i = 0; i < plan->dst_h; ++i) {
    plan->source_row[i] = StretchSampleOffset(i, src_h, plan->dst_h);
    plan->order[i] = i;
    if (i > 0 && plan->source_row[i] < plan->source_row[i - 1]) ascending = false;
  }
  // Only a 32-bit product that wraps makes the rows go back; then they are
  // visited in source order all the same.
  if (!ascending) {
    const uint32_t* rows = plan->source_row;
    std::sort(plan->order, plan->order + plan->dst_h, [rows](uint32_t a, uint32_t b) {
      return rows[a] != rows[b] ? rows[a] < rows[b] : a < b;
    });
  }
  for (uint32_t j = 0; j < plan->dst_w; ++j)
    plan->column_byte[j] = StretchSampleOffset(j, src_w, plan->dst_w) * 3u;
  return true;
}

// The state of one decode into a cell; trivially destructible.
struct TCellDecodeJob {
  jpeg_decompress_struct cinfo;
  TJpegErrorManager err;
  TJpegScanGuard guard;
  jmp_buf recovery;
  FILE* stream = nullptr;
  // Inputs.
  int32_t cell_width = 0;
  int32_t cell_height = 0;
  uint8_t fill = 0;
  bool may_skip = false;
  TMemBitmap* cell = nullptr;
  // Progress.
  TCellPlan plan;
  uint8_t* row = nullptr;           // one decoded row, read as the row writer reads its buffer
  bool grayscale = false;           // the row holds one byte per pixel
  uint32_t next = 0;                // plan.order index of the next box row to store
  bool rows_started = false;        // the full decode's row writer would exist by now
  bool skipping = false;            // rows are being skipped
  bool made = false;                // the cell is the thumbnail
  bool disturbed = false;           // a skipping decode met a warning or error
  bool out_of_memory = false;       // the cell or a table could not be allocated
  uint64_t coefficients_held = 0;   // from CoefficientMemoryBudget(), given back after the decoder
};

j_decompress_ptr Decoder(TCellDecodeJob* job) { return &job->cinfo; }

bool HeaderFailed(const TJpegErrorManager& err) {
  return err.pub.num_warnings > kMaxWarnings || err.num_errors > 0;
}

bool Disturbed(const TJpegErrorManager& err) { return err.pub.num_warnings > 0 || err.num_errors > 0; }

// True for the codings whose skipped rows are known to leave the sampled rows
// exactly as a full decode gives them: Huffman-coded files, single-scan,
// progressive or multi-scan, one grey component or three components (YCbCr or
// RGB) with the luma sampled 1x1, 2x1 or 2x2 and the chroma 1x1 (chroma rows
// wider than two samples, so that the fancy upsampling applies), decoded to
// grey or RGB. A file of several scans holds every coefficient once its input
// is read; a skipped row of blocks then costs no inverse DCT (or, where the
// upsampling needs the rows around, no colour conversion). Everything else is
// read row by row.
bool SkippingIsExact(const jpeg_decompress_struct& cinfo) {
  if (!kSkipAvailable) return false;
  if (cinfo.arith_code || cinfo.quantize_colors) return false;
  if (cinfo.data_precision != 8) return false;
  if (!cinfo.do_fancy_upsampling || cinfo.scale_num != 1 || cinfo.scale_denom != 1) return false;
  const jpeg_component_info* comp = cinfo.comp_info;
  if (cinfo.num_components == 1) {
    return cinfo.jpeg_color_space == JCS_GRAYSCALE && cinfo.out_color_space == JCS_GRAYSCALE &&
           comp[0].h_samp_factor == 1 && comp[0].v_samp_factor == 1;
  }
  if (cinfo.num_components != 3 || cinfo.out_color_space != JCS_RGB) return false;
  if (cinfo.jpeg_color_space != JCS_YCbCr && cinfo.jpeg_color_space != JCS_RGB) return false;
  for (int c = 1; c < 3; ++c) {
    if (comp[c].h_samp_factor != 1 || comp[c].v_samp_factor != 1) return false;
  }
  const int h = comp[0].h_samp_factor;
  const int v = comp[0].v_samp_factor;
  if (h == 1 && v == 1) return true;
  if (h != 2 || (v != 1 && v != 2)) return false;
  // Chroma rows of two samples or fewer are upsampled by plain replication,
  // two rows at a time for 2x2, which skipping does not reproduce exactly.
  return comp[1].downsampled_width > 2 && comp[2].downsampled_width > 2;
}

// Stores the decoded row `source_row` into every box row that samples it.
void StoreSampledRow(TCellDecodeJob* job, uint32_t source_row) {
  TCellPlan& plan = job->plan;
  const TMemBitmap& cell = *job->cell;
  const uint8_t* in = job->row;
  while (job->next < plan.dst_h && plan.source_row[plan.order[job->next]] == source_row) {
    const uint32_t i = plan.order[job->next++];
    uint8_t* out = BitmapPixel(cell, static_cast<int32_t>(plan.dst_left),
                               static_cast<int32_t>(plan.dst_top + i));
    if (job->grayscale) {
      for (uint32_t j = 0; j < plan.dst_w; ++j, out += 3) {
        const uint8_t grey = in[plan.column_byte[j] / 3];
        out[0] = out[1] = out[2] = grey;
      }
    } else {
      for (uint32_t j = 0; j < plan.dst_w; ++j, out += 3) {
        const uint8_t* pixel = in + plan.column_byte[j];
        out[0] = pixel[2];
        out[1] = pixel[1];
        out[2] = pixel[0];
      }
    }
  }
}

// Box rows whose source row was never stored take the black of the full
// decode's zero-filled pixel memory.
void BlackenUnstoredRows(TCellDecodeJob* job) {
  TCellPlan& plan = job->plan;
  for (; job->next < plan.dst_h; ++job->next) {
    const uint32_t i = plan.order[job->next];
    uint8_t* out = BitmapPixel(*job->cell, static_cast<int32_t>(plan.dst_left),
                               static_cast<int32_t>(plan.dst_top + i));
    std::memset(out, 0, size_t{3} * plan.dst_w);
  }
}

// The full decode's row loop, stopping after the last sampled row.
void ReadEveryRow(TCellDecodeJob* job) {
  j_decompress_ptr cinfo = Decoder(job);
  JSAMPROW row = job->row;
  while (job->next < job->plan.dst_h && cinfo->output_scanline < cinfo->output_height &&
         job->err.pub.num_warnings <= kMaxWarnings && job->err.num_errors == 0) {
    const JDIMENSION source_row = cinfo->output_scanline;
    if (jpeg_read_scanlines(cinfo, &row, 1) == 0) break;  // never with this source
    StoreSampledRow(job, source_row);
  }
}

// Skips to each sampled row and reads it. Any warning or error marks the
// decode as disturbed: its result is then not used.
void ReadSampledRows(TCellDecodeJob* job) {
  j_decompress_ptr cinfo = Decoder(job);
  TCellPlan& plan = job->plan;
  JSAMPROW row = job->row;
  while (job->next < plan.dst_h) {
    const uint32_t wanted = plan.source_row[plan.order[job->next]];
    if (cinfo->output_scanline < wanted) SkipRows(cinfo, wanted - cinfo->output_scanline);
    if (Disturbed(job->err) || cinfo->output_scanline != wanted) {
      job->disturbed = true;
      return;
    }
    if (jpeg_read_scanlines(cinfo, &row, 1) != 1 || Disturbed(job->err)) {
      job->disturbed = true;
      return;
    }
    StoreSampledRow(job, wanted);
  }
}

// The decode after the decoder exists; a fatal error inside libjpeg leaves
// through the recovery point instead.
void CellSteps(TCellDecodeJob* job) {
  j_decompress_ptr cinfo = Decoder(job);
  JpegFileSource(cinfo, job->stream);
  SetSourceKey(cinfo, nullptr);
  jpeg_read_header(cinfo, TRUE);
  if (HeaderFailed(job->err)) return;

  // The thumbnail load flags ask for 24-bit output at full size.
  cinfo->quantize_colors = FALSE;
  cinfo->scale_num = 1;
  cinfo->scale_denom = 1;
  jpeg_calc_output_dimensions(cinfo);
  if (cinfo->out_color_components > 3) return;
  const uint32_t width = cinfo->output_width;
  const uint32_t height = cinfo->output_height;
  // The full decode's memory cap (its pixel memory beside the coefficient
  // buffers), and the thumbnail's one-pixel rule.
  const uint64_t full_pixel_bytes = uint64_t{BitmapStride(static_cast<int32_t>(width))} * height;
  if (JpegOverMemoryCap(*cinfo, full_pixel_bytes)) return;
  if (width > INT32_MAX || height > INT32_MAX || width <= 1 || height <= 1) return;
  // libjpeg gets the full decode's allowance, the cap less that decode's
  // pixels and row, so that both refuse exactly the same files; this decode
  // itself holds far less (one row, the cell and the plan's tables).
  JpegApplyLimits(cinfo, &job->guard, full_pixel_bytes + uint64_t{width} * 4);

  TMemBitmap& cell = *job->cell;
  if (!BitmapCreate(cell, job->cell_width, job->cell_height)) {
    // Over the cap the full decode's cell fails the same way; otherwise
    // memory is short here.
    const uint64_t cell_bytes = uint64_t{static_cast<uint32_t>(job->cell_height)} *
                                (uint64_t{static_cast<uint32_t>(job->cell_width)} + 3) * 3;
    job->out_of_memory = cell_bytes <= kMaxPixelBytes;
    return;
  }
  BitmapFill(cell, job->fill);
  TBltRect box{0, 0, job->cell_width - 1, job->cell_height - 1};
  const TBltRect src{0, 0, static_cast<int32_t>(width) - 1, static_cast<int32_t>(height) - 1};
  FitRect(box, src, 1, 1, 1, static_cast<int32_t>(width), static_cast<int32_t>(height), 1);

  TCellPlan& plan = job->plan;
  plan.dst_left = static_cast<uint32_t>(box.left);
  plan.dst_top = static_cast<uint32_t>(box.top);
  plan.dst_w = static_cast<uint32_t>(box.right) - plan.dst_left + 1;
  plan.dst_h = static_cast<uint32_t>(box.bottom) - plan.dst_top + 1;
  // What the stretch would refuse it copies nothing of: the cell is the
  // background alone, whatever the rows hold.
  if (static_cast<int32_t>(plan.dst_w) <= 0 || static_cast<int32_t>(plan.dst_h) <= 0 ||
      !RectInside(cell.width, cell.height, plan.dst_left, plan.dst_top,
                  static_cast<uint32_t>(box.right), static_cast<uint32_t>(box.bottom))) {
    plan.dst_h = 0;
    job->made = true;
    return;
  }
  if (!BuildPlan(&plan, width, height)) {
    BitmapFree(cell);
    job->out_of_memory = true;
    return;
  }
  // The row writer's buffer: a row of colour triples, or of as many bytes
  // per pixel as the decoder gives when that is more; read as it reads it.
  const uint64_t components = cinfo->out_color_components > 3
                                  ? static_cast<uint64_t>(cinfo->out_color_components)
                                  : uint64_t{3};
  job->row = static_cast<uint8_t*>(std::calloc(static_cast<size_t>(uint64_t{width} * components) + 4, 1));
  if (job->row == nullptr) {
    BitmapFree(cell);
    job->out_of_memory = true;
    return;
  }
  job->grayscale = cinfo->out_color_space == JCS_GRAYSCALE;

  // From here on the full decode counts the image as loaded, whatever follows.
  job->made = true;
  job->rows_started = true;
  job->skipping = job->may_skip && !Disturbed(job->err) && SkippingIsExact(*cinfo);
  job->coefficients_held = JpegHoldCoefficients(*cinfo);
  jpeg_start_decompress(cinfo);
  if (job->skipping) {
    ReadSampledRows(job);
  } else {
    ReadEveryRow(job);
  }
}

void RunCellDecode(TCellDecodeJob* job) {
  job->err.recovery = &job->recovery;
  if (setjmp(job->recovery) == 0) {
    jpeg_create_decompress(&job->cinfo);
    CellSteps(job);
  } else if (JpegCapResult(job->err.pub.msg_code) != 0) {
    // The full decode refuses the image: no thumbnail, whatever was stored.
    job->made = false;
    BitmapFree(*job->cell);
  } else if (job->skipping) {
    job->disturbed = true;
  } else if (!job->rows_started) {
    // A fatal error before the rows: no image, as in the full decode.
    job->made = false;
    BitmapFree(*job->cell);
  }
  job->err.recovery = nullptr;
  jpeg_destroy_decompress(&job->cinfo);
  JpegReleaseCoefficients(job->coefficients_held);
  job->coefficients_held = 0;
}

// One attempt. Returns false when the attempt skipped rows and was disturbed.
bool DecodeOnce(const char* path, FILE* stream, int32_t cell_width, int32_t cell_height,
                uint8_t fill, TMemBitmap& cell, bool may_skip, TJpegCellResult* result,
                bool* skipped) {
  TCellDecodeJob job;
  std::memset(&job.cinfo, 0, sizeof(job.cinfo));
  job.cinfo.err = JpegErrorInit(&job.err);
  job.cinfo.client_data = const_cast<char*>(path);
  job.stream = stream;
  job.cell_width = cell_width;
  job.cell_height = cell_height;
  job.fill = fill;
  job.may_skip = may_skip;
  job.cell = &cell;
  RunCellDecode(&job);
  const bool disturbed = job.disturbed;
  if (!disturbed && job.made) BlackenUnstoredRows(&job);
  FreePlan(&job.plan);
  std::free(job.row);
  const bool made = job.made && !disturbed;
  *skipped = job.skipping && !disturbed;
  *result = made ? TJpegCellResult::kMade
                 : job.out_of_memory ? TJpegCellResult::kOutOfMemory : TJpegCellResult::kNoThumbnail;
  if (!made) BitmapClear(cell);
  return !disturbed;
}

}  // namespace

TJpegCellResult JpegThumbnailCell(const char* path, int32_t cell_width, int32_t cell_height,
                                  uint8_t fill, TMemBitmap& cell, TJpegCellRowMode mode,
                                  TJpegCellReport* report) {
  BitmapClear(cell);
  if (report != nullptr) *report = TJpegCellReport{};
  if (path == nullptr || LoadPathTooLong(path)) return TJpegCellResult::kNoThumbnail;
  if (cell_width < 1 || cell_height < 1) return TJpegCellResult::kNoThumbnail;
  bool may_skip = mode == TJpegCellRowMode::kSkipWhereExact;
  for (int attempt = 0; attempt < 2; ++attempt) {
    FILE* stream = OpenRegularFileForReading(path);
    if (stream == nullptr) return TJpegCellResult::kNoThumbnail;
    TJpegCellResult result = TJpegCellResult::kNoThumbnail;
    bool skipped = false;
    const bool settled =
        DecodeOnce(path, stream, cell_width, cell_height, fill, cell, may_skip, &result, &skipped);
    std::fclose(stream);
    if (settled) {
      if (report != nullptr) report->rows_skipped = skipped;
      return result;
    }
    // Met a warning or error while skipping: decode again, reading every row.
    may_skip = false;
    if (report != nullptr) report->redone = true;
  }
  return TJpegCellResult::kNoThumbnail;  // not reached: the second attempt never skips
}
