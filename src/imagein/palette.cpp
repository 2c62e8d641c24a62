#include "imagein/palette.h"

#include "imagein/load_codes.h"

namespace {

// The built-in palette behind LF_FIXED_PALETTE: nothing fills it, so it holds
// no colours.
const uint8_t kFixedPalette[3][kPaletteSize] = {};
constexpr int kFixedPaletteCount = 0;

int32_t SquaredDistance(int r1, int g1, int b1, int r2, int g2, int b2) {
  const int dr = r1 - r2;
  const int dg = g1 - g2;
  const int db = b1 - b2;
  return dr * dr + dg * dg + db * db;
}

// Nearest of the first `count` entries; the lower index wins a tie.
int NearestEntry(uint8_t* const* colormap, int count, int red, int green, int blue) {
  int best = 0;
  int32_t best_distance = kPaletteDistanceBound;
  for (int i = 0; i < count; ++i) {
    const int32_t d = SquaredDistance(red, green, blue, colormap[0][i], colormap[1][i], colormap[2][i]);
    if (d < best_distance) {
      best_distance = d;
      best = i;
    }
  }
  return best;
}

}  // namespace

void CubeColor(int index, uint8_t* red, uint8_t* green, uint8_t* blue) {
  *red = static_cast<uint8_t>(index & 0xE0);
  *green = static_cast<uint8_t>((index * 8) & 0xE0);
  *blue = static_cast<uint8_t>((index * 64) & 0xE0);
}

void FillPresetPalette(uint8_t* const* colormap, int32_t load_flags, int* count) {
  if ((load_flags & LF_FIXED_PALETTE) != 0) {
    for (int c = 0; c < 3; ++c)
      for (int i = 0; i < kPaletteSize; ++i) colormap[c][i] = kFixedPalette[c][i];
    *count = kFixedPaletteCount;
    return;
  }
  for (int i = 0; i < kPaletteSize; ++i) CubeColor(i, &colormap[0][i], &colormap[1][i], &colormap[2][i]);
  *count = kPaletteSize;
}

void SnapPaletteToCube(uint8_t* const* colormap, int count) {
  if (count > kPaletteSize) count = kPaletteSize;
  for (int i = 0; i < count; ++i) {
    int best = 0;
    int32_t best_distance = kPaletteDistanceBound;
    for (int c = 0; c < kPaletteSize; ++c) {
      uint8_t r, g, b;
      CubeColor(c, &r, &g, &b);
      const int32_t d = SquaredDistance(colormap[0][i], colormap[1][i], colormap[2][i], r, g, b);
      if (d < best_distance) {
        best_distance = d;
        best = c;
      }
    }
    CubeColor(best, &colormap[0][i], &colormap[1][i], &colormap[2][i]);
  }
}

uint8_t MapPaletteColor(TPaletteMapper& mapper, uint8_t red, uint8_t green, uint8_t blue) {
  for (int i = 0; i < mapper.cache_count; ++i) {
    if (mapper.cache_red[i] == red && mapper.cache_green[i] == green && mapper.cache_blue[i] == blue)
      return mapper.cache_index[i];
  }
  uint8_t* const* colormap = mapper.colormap;
  int& count = *mapper.count;
  if (count > kPaletteSize) count = kPaletteSize;
  if (count < 0) count = 0;
  int index = -1;
  for (int i = 0; i < count; ++i) {
    if (colormap[0][i] == red && colormap[1][i] == green && colormap[2][i] == blue) {
      index = i;
      break;
    }
  }
  if (index < 0) {
    if (count == kPaletteSize) {
      index = NearestEntry(colormap, count, red, green, blue);
    } else {
      index = count++;
      colormap[0][index] = red;
      colormap[1][index] = green;
      colormap[2][index] = blue;
    }
  }
  if (mapper.cache_count < kPaletteSize) {
    const int slot = mapper.cache_count++;
    mapper.cache_red[slot] = red;
    mapper.cache_green[slot] = green;
    mapper.cache_blue[slot] = blue;
    mapper.cache_index[slot] = static_cast<uint8_t>(index);
  }
  return static_cast<uint8_t>(index);
}
