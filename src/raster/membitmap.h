#pragma once
// The memory bitmap: 24-bit blue-green-red rows (or 8-bit indices), stored
// bottom-up, each row padded to a multiple of 4 bytes; plus the fit rectangle,
// the nearest-neighbour stretch and the row writer through which every decoder
// stores its rows.

#include <cstddef>
#include <cstdint>

// Layout-compatible with the Windows BITMAPINFOHEADER.
struct TBitmapInfoHeader {
  uint32_t biSize;
  int32_t biWidth;
  int32_t biHeight;
  uint16_t biPlanes;
  uint16_t biBitCount;
  uint32_t biCompression;
  uint32_t biSizeImage;
  int32_t biXPelsPerMeter;
  int32_t biYPelsPerMeter;
  uint32_t biClrUsed;
  uint32_t biClrImportant;
};
static_assert(sizeof(TBitmapInfoHeader) == 40);

struct TRgbQuad {
  uint8_t blue;
  uint8_t green;
  uint8_t red;
  uint8_t reserved;
};
static_assert(sizeof(TRgbQuad) == 4);

// No bitmap may need more pixel memory than this; larger images are refused
// before anything is allocated.
inline constexpr size_t kMaxPixelBytes = size_t{1} << 30;

// Move-only: moving hands over the pixel memory and leaves the source without it.
// The destructor releases what the record still owns.
struct TMemBitmap {
  char name[256] = {};
  int32_t width = 0;
  int32_t height = 0;
  uint32_t full_width = 0;
  uint32_t full_height = 0;
  int32_t requested_width = 0;
  int32_t requested_height = 0;
  int32_t load_flags = 0;
  uint32_t scale_num = 0;
  uint32_t scale_denom = 0;
  TBitmapInfoHeader header = {};
  TRgbQuad colors[256] = {};
  int32_t has_transparent = 0;
  TRgbQuad transparent_color = {};
  int32_t rows_written = 0;
  int32_t was_sealed = 0;
  uint8_t* pixel_handle = nullptr;  // the owned, zero-filled block; null when none
  size_t pixel_bytes = 0;           // size of that block
  uint8_t* row_cursor = nullptr;
  uint8_t* pixels = nullptr;        // == pixel_handle while it is held

  TMemBitmap() = default;
  TMemBitmap(const TMemBitmap&) = delete;
  TMemBitmap& operator=(const TMemBitmap&) = delete;
  TMemBitmap(TMemBitmap&& other) noexcept;
  TMemBitmap& operator=(TMemBitmap&& other) noexcept;
  ~TMemBitmap();
};

struct TBltRect {
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;
};

// Releases the pixel memory and sets every field back to zero.
void BitmapClear(TMemBitmap& bitmap);

// Bytes per 24-bit row: 3 * width rounded up to a multiple of 4.
uint32_t BitmapStride(int32_t width);

// Takes a zero-filled block of `bytes` for the bitmap's pixels. False, with no
// memory taken, when bytes is 0, above kMaxPixelBytes or cannot be allocated.
bool BitmapAllocatePixels(TMemBitmap& bitmap, size_t bytes);

// Clears the record and makes a black 24-bit bitmap of width x height.
// False (record left cleared) for a width or height below 1, or when the
// pixel memory is over the cap or cannot be allocated.
bool BitmapCreate(TMemBitmap& bitmap, int32_t width, int32_t height);

// Releases the pixel memory, if any.
void BitmapFree(TMemBitmap& bitmap);

// Sets every byte of every row, padding included, to value; sets rows_written.
void BitmapFill(TMemBitmap& bitmap, uint8_t value);

// Pixel (x, y), y = 0 the top row. No bounds check.
uint8_t* BitmapPixel(const TMemBitmap& bitmap, int32_t x, int32_t y);

// The source offset BitmapStretch samples for destination offset `index`
// of `count` over a source extent of `extent`: (index x extent) / count with
// a 32-bit product, an unsigned 32-bit division and the quotient kept to its
// low 16 bits. Always below `extent`.
uint32_t StretchSampleOffset(uint32_t index, uint32_t extent, uint32_t count);

// Nearest-neighbour stretch between inclusive rectangles.
void BitmapStretch(TMemBitmap& dst, uint32_t dst_left, uint32_t dst_top, uint32_t dst_right,
                   uint32_t dst_bottom, const TMemBitmap& src, uint32_t src_left, uint32_t src_top,
                   uint32_t src_right, uint32_t src_bottom);

void ShiftRect(TBltRect& rect, int32_t dx, int32_t dy);

// Fits src into box keeping its aspect; rewrites box.
void FitRect(TBltRect& box, const TBltRect& src, int fit, int centre, int limit, int32_t limit_w,
             int32_t limit_h, int32_t scale);

// What the row writer reads of its decoder's output description (the fields of
// libjpeg's decompression object of the same names).
struct TRowWriterOutput {
  uint32_t output_width = 0;
  uint32_t output_height = 0;
  bool grayscale = false;         // out_color_space is greyscale: one byte per pixel
  bool quantize_colors = false;   // rows are palette indices
  int out_color_components = 3;
  uint8_t* const* colormap = nullptr;  // one array per component, or null
  int actual_number_of_colors = 0;
};

// Stores decoded rows, top row first, into a bitmap bottom-up.
struct TBitmapRowWriter {
  const TRowWriterOutput* output = nullptr;
  TMemBitmap* bitmap = nullptr;
  uint8_t* buffer = nullptr;      // one input row: RGB triples, grey bytes or indices
  uint32_t buffer_height = 1;
  uint32_t data_width = 0;
  uint32_t row_width = 0;
  uint32_t pad = 0;
  uint32_t rows_stored = 0;
  bool indexed = false;           // rows are stored as 8-bit indices (fixed at creation)

  TBitmapRowWriter() = default;
  TBitmapRowWriter(const TBitmapRowWriter&) = delete;
  TBitmapRowWriter& operator=(const TBitmapRowWriter&) = delete;
  ~TBitmapRowWriter();
};

// Sets the bitmap's size and header from `output`, takes its pixel memory when
// it has none, and the writer's row buffer. False when memory over the cap or
// not to be had: the bitmap then has no pixels.
bool CreateBitmapRowWriter(TBitmapRowWriter& writer, const TRowWriterOutput& output,
                           TMemBitmap& bitmap);
void StartRows(TBitmapRowWriter& writer);
// Stores the row buffer as the next row down (rows_supplied is 1).
void PutRow(TBitmapRowWriter& writer, uint32_t rows_supplied);
void FinishRows(TBitmapRowWriter& writer);
