#include "imagein/screen_palette.h"

#include <atomic>

namespace {
std::atomic<bool> screen_palettized{false};
}  // namespace

bool ScreenIsPalettized() { return screen_palettized.load(std::memory_order_relaxed); }

void SetScreenPalettized(bool palettized) {
  screen_palettized.store(palettized, std::memory_order_relaxed);
}
