#include "imagein/jpeg_limits.h"

#include "imagein/memory_budget.h"

#include <jerror.h>

#include "imagein/load_codes.h"
#include "raster/membitmap.h"

namespace {

// One coefficient block: 64 coefficients of two bytes.
constexpr uint64_t kBlockBytes = sizeof(JBLOCK);

uint64_t RoundUp(uint64_t value, uint64_t step) {
  return step == 0 ? value : (value + step - 1) / step * step;
}

// Blocks the decoder's current scan passes over: every block of each of its
// components.
uint64_t ScanBlocks(const jpeg_decompress_struct& dinfo) {
  uint64_t blocks = 0;
  for (int i = 0; i < dinfo.comps_in_scan && i < MAX_COMPS_IN_SCAN; ++i) {
    const jpeg_component_info* comp = dinfo.cur_comp_info[i];
    if (comp != nullptr) blocks += uint64_t{comp->width_in_blocks} * comp->height_in_blocks;
  }
  return blocks;
}

// Raises the scan cap once the decoder has reached a scan past kMaxJpegScans,
// or one whose blocks bring the scans' work past kMaxJpegScanBlocks. libjpeg
// calls this before it reads each row of blocks or marker, so a new scan is
// seen before any of its data is decoded.
void GuardScans(j_common_ptr cinfo) {
  if (!cinfo->is_decompressor) return;
  const auto* dinfo = reinterpret_cast<j_decompress_ptr>(cinfo);
  auto* guard = reinterpret_cast<TJpegScanGuard*>(cinfo->progress);
  const int scan = dinfo->input_scan_number;
  if (scan == guard->counted_scan) return;
  guard->counted_scan = scan;
  if (scan > 0) guard->scan_blocks += ScanBlocks(*dinfo);
  if (scan <= kMaxJpegScans && guard->scan_blocks <= kMaxJpegScanBlocks) return;
  cinfo->err->msg_code = kLoadTooManyScans;
  cinfo->err->error_exit(cinfo);
}

}  // namespace

uint64_t JpegCoefficientBytes(const jpeg_decompress_struct& cinfo) {
  // The same test libjpeg makes when it chooses a whole-image buffer: any
  // scan that does not hold every component, or a progressive file.
  if (!cinfo.progressive_mode && cinfo.comps_in_scan >= cinfo.num_components) return 0;
  uint64_t total = 0;
  for (int ci = 0; ci < cinfo.num_components; ++ci) {
    const jpeg_component_info& comp = cinfo.comp_info[ci];
    total += RoundUp(comp.width_in_blocks, static_cast<uint64_t>(comp.h_samp_factor)) *
             RoundUp(comp.height_in_blocks, static_cast<uint64_t>(comp.v_samp_factor)) * kBlockBytes;
  }
  return total;
}

bool JpegOverMemoryCap(const jpeg_decompress_struct& cinfo, uint64_t own_bytes) {
  const uint64_t coefficients = JpegCoefficientBytes(cinfo);
  return coefficients > kMaxPixelBytes || own_bytes > kMaxPixelBytes - coefficients;
}

void JpegApplyLimits(j_decompress_ptr cinfo, TJpegScanGuard* guard, uint64_t own_bytes) {
  // What the caller holds is taken off the cap; a small floor keeps the
  // limit meaningful (libjpeg reads 0 as "no limit").
  constexpr uint64_t kFloor = uint64_t{1} << 20;
  uint64_t limit = own_bytes < kMaxPixelBytes - kFloor ? kMaxPixelBytes - own_bytes : kFloor;
  const long from_environment = cinfo->mem->max_memory_to_use;  // JPEGMEM, when set
  if (from_environment > 0 && static_cast<uint64_t>(from_environment) < limit)
    limit = static_cast<uint64_t>(from_environment);
  // With libjpeg-turbo's memory back end, a virtual array that does not fit
  // under this limit would need a backing store, which it refuses: nothing
  // larger is allocated and no temporary file is made.
  cinfo->mem->max_memory_to_use = static_cast<long>(limit);
  guard->pub = jpeg_progress_mgr{};
  guard->pub.progress_monitor = GuardScans;
  guard->counted_scan = 0;
  guard->scan_blocks = 0;
  cinfo->progress = &guard->pub;
}

int32_t JpegCapResult(int msg_code) {
  if (msg_code == kLoadTooManyScans) return kLoadTooManyScans;
  if (msg_code == JERR_OUT_OF_MEMORY || msg_code == JERR_NO_BACKING_STORE ||
      msg_code == JERR_TFILE_CREATE || msg_code == kLoadNoPixelMemory) {
    return kLoadNoPixelMemory;
  }
  return 0;
}

uint64_t JpegHoldCoefficients(const jpeg_decompress_struct& cinfo) {
  const uint64_t bytes = JpegCoefficientBytes(cinfo);
  return bytes == 0 ? 0 : CoefficientMemoryBudget().Reserve(bytes);
}

void JpegReleaseCoefficients(uint64_t held) {
  if (held != 0) CoefficientMemoryBudget().Release(held);
}
