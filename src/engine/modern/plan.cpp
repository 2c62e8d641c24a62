#include "engine/modern/plan.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int32_t kMaxCellSide = 4096;

int32_t RoundedSide(double value, int32_t limit) {
  const auto side = static_cast<int32_t>(std::lround(value));
  return std::clamp(side, 1, limit);
}

// Fitted inside box_width x box_height, never enlarged; the whole image.
TModernOutput Fitted(int32_t width, int32_t height, int32_t box_width, int32_t box_height) {
  TModernOutput out;
  const double scale = std::min({static_cast<double>(box_width) / width, static_cast<double>(box_height) / height, 1.0});
  out.wanted = true;
  out.width = RoundedSide(width * scale, box_width);
  out.height = RoundedSide(height * scale, box_height);
  out.region = TResampleRegion{0, 0, static_cast<double>(width), static_cast<double>(height)};
  return out;
}

// Filling box_width x box_height, the overflow cut evenly on both sides, never
// enlarged (a smaller image gives a smaller output).
TModernOutput Cropped(int32_t width, int32_t height, int32_t box_width, int32_t box_height) {
  TModernOutput out;
  const double scale =
      std::min(std::max(static_cast<double>(box_width) / width, static_cast<double>(box_height) / height), 1.0);
  out.wanted = true;
  out.width = RoundedSide(width * scale, box_width);
  out.height = RoundedSide(height * scale, box_height);
  const double region_width = std::min(out.width / scale, static_cast<double>(width));
  const double region_height = std::min(out.height / scale, static_cast<double>(height));
  out.region = TResampleRegion{(width - region_width) / 2, (height - region_height) / 2, region_width, region_height};
  return out;
}

}  // namespace

bool PlanModernImages(int32_t width, int32_t height, const TModernImageOptions& options, bool needs_web_copy,
                      TModernPlan* plan) {
  *plan = TModernPlan{};
  if (width < 1 || height < 1) return false;
  if (options.cellwidth < 1 || options.cellheight < 1 || options.cellwidth > kMaxCellSide ||
      options.cellheight > kMaxCellSide)
    return false;
  plan->thumb_1x = options.crop == 1 ? Cropped(width, height, options.cellwidth, options.cellheight)
                                     : Fitted(width, height, options.cellwidth, options.cellheight);
  // Twice the pixels from the same part of the source, when it has them.
  const TModernOutput& one = plan->thumb_1x;
  if (one.region.width >= 2.0 * one.width && one.region.height >= 2.0 * one.height) {
    plan->thumb_2x = one;
    plan->thumb_2x.width = one.width * 2;
    plan->thumb_2x.height = one.height * 2;
  }
  if (needs_web_copy || std::max(width, height) > kWebCopyLongSide)
    plan->web = Fitted(width, height, kWebCopyLongSide, kWebCopyLongSide);
  return true;
}

TModernOutput StoredOutput(const TModernOutput& upright, bool swap_sides) {
  if (!swap_sides) return upright;
  TModernOutput stored = upright;
  stored.width = upright.height;
  stored.height = upright.width;
  stored.region = TResampleRegion{upright.region.top, upright.region.left, upright.region.height, upright.region.width};
  return stored;
}
