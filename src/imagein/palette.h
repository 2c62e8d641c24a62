#pragma once
// Palette output of the loaders: the preset palettes (the 3-3-2 colour cube or
// the built-in table), the mapping of colours to palette indices with its
// exact-match cache, and the snapping of a palette to the cube.

#include <cstdint>

inline constexpr int kPaletteSize = 256;
// 3 * 255^2: larger than any squared distance between two colours.
inline constexpr int32_t kPaletteDistanceBound = 195075;

// Entry `index` of the 3-3-2 colour cube.
void CubeColor(int index, uint8_t* red, uint8_t* green, uint8_t* blue);

// Presets a palette of three rows (red, green, blue) of 256 entries: the 3-3-2
// cube (256 colours), or with LF_FIXED_PALETTE the built-in table, which holds
// no colours. Sets *count to the number of colours preset.
void FillPresetPalette(uint8_t* const* colormap, int32_t load_flags, int* count);

// Replaces each of the first `count` palette entries by its nearest cube colour.
void SnapPaletteToCube(uint8_t* const* colormap, int count);

// Maps colours to indices of a palette that fills with the first 256 distinct
// colours met; later colours take their nearest entry. The cache and the
// palette live for one load.
struct TPaletteMapper {
  uint8_t* const* colormap = nullptr;  // three rows of 256 entries
  int* count = nullptr;                // the palette's colour count
  int cache_count = 0;
  uint8_t cache_red[kPaletteSize] = {};
  uint8_t cache_green[kPaletteSize] = {};
  uint8_t cache_blue[kPaletteSize] = {};
  uint8_t cache_index[kPaletteSize] = {};
};

uint8_t MapPaletteColor(TPaletteMapper& mapper, uint8_t red, uint8_t green, uint8_t blue);
