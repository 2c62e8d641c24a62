// The FITS reader: the primary image of a FITS file (BITPIX 8, 16 or 32),
// turned into grey levels by a contrast stretch that maps the darkest value
// to black and the value below which 99.8 % of the pixels lie to white. The
// whole image is read before the first row, since the stretch needs every
// value; rows are then delivered in file order.

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "imagein/image_source.h"
#include "imagein/load_codes.h"
#include "raster/membitmap.h"

namespace {

// Message codes this reader raises (all errors).
constexpr int kFitsBadBitpix = 236;
constexpr int kFitsBadNaxis1 = 237;
constexpr int kFitsBadNaxis2 = 238;
constexpr int kFitsBadBzero = 239;
constexpr int kFitsBadCardChars = 240;
constexpr int kFitsCardUnreadable = 241;

constexpr int kCardBytes = 80;
constexpr int kCardsPerBlock = 36;
constexpr int kValueOffset = 10;       // the value starts in column 11
constexpr int kCheckedCardChars = 10;
// Above every value (a BZERO shift can carry values past 32 bits).
constexpr int64_t kStartMinimum = INT64_MAX;
constexpr double kWhiteFraction = 0.998;
// BZERO beyond any 32-bit sample range means nothing for these images.
constexpr int64_t kBzeroLimit = int64_t{1} << 32;

struct TFitsSource : TImageSource {
  int32_t bitpix = 0;
  uint32_t bytes_per_sample = 0;
  size_t row_bytes = 0;
  int64_t bzero = 0;
  uint8_t* raw_image = nullptr;  // height rows of row_bytes big-endian samples
  int64_t minimum = 0;
  int64_t maximum = 0;
  double scale = 0.0;            // 0: every level is black
  uint64_t histogram[256] = {};
  uint32_t next_row = 0;
};

TFitsSource* AsFits(TImageSource* source) { return static_cast<TFitsSource*>(source); }

// Letters, digits, white space and punctuation, as the C locale classes them.
bool IsCardChar(uint8_t c) { return (c >= 0x20 && c <= 0x7E) || (c >= 0x09 && c <= 0x0D); }

bool CardStartIsText(const char* card) {
  for (int i = 0; i < kCheckedCardChars; ++i) {
    if (!IsCardChar(static_cast<uint8_t>(card[i]))) return false;
  }
  return true;
}

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Reads a decimal integer the way scanf's "%d" does (leading white space, an
// optional sign, then digits up to the first non-digit), refusing text without
// digits and values outside [low, high].
bool ParseCardInteger(const char* card, int64_t low, int64_t high, int64_t* value) {
  const char* p = card + kValueOffset;
  const char* end = card + kCardBytes;
  while (p < end && IsSpace(*p)) ++p;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) {
    negative = *p == '-';
    ++p;
  }
  if (p == end || *p < '0' || *p > '9') return false;
  int64_t magnitude = 0;
  constexpr int64_t kLimit = int64_t{1} << 62;
  for (; p < end && *p >= '0' && *p <= '9'; ++p) {
    // Checked before the step, so that a long run of digits cannot overflow.
    const int64_t digit = *p - '0';
    if (magnitude > (kLimit - digit) / 10) return false;
    magnitude = magnitude * 10 + digit;
  }
  const int64_t result = negative ? -magnitude : magnitude;
  if (result < low || result > high) return false;
  *value = result;
  return true;
}

bool KeywordIs(const char* card, const char* keyword) {
  return std::strncmp(card, keyword, std::strlen(keyword)) == 0;
}

int64_t SampleAt(const TFitsSource* fits, const uint8_t* row, uint32_t x) {
  switch (fits->bytes_per_sample) {
    case 1:
      return row[x];
    case 2: {
      const uint8_t* p = row + 2 * static_cast<size_t>(x);
      return static_cast<int64_t>(static_cast<uint32_t>(p[0]) << 8 | p[1]);
    }
    default: {
      const uint8_t* p = row + 4 * static_cast<size_t>(x);
      const uint32_t bits = static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
                            static_cast<uint32_t>(p[2]) << 8 | p[3];
      return static_cast<int32_t>(bits);
    }
  }
}

int64_t ValueAt(const TFitsSource* fits, const uint8_t* row, uint32_t x) {
  return SampleAt(fits, row, x) - fits->bzero;
}

uint8_t LevelOf(const TFitsSource* fits, int64_t value) {
  if (fits->scale == 0.0) return 0;
  const double level = std::trunc(static_cast<double>(value - fits->minimum) * fits->scale);
  if (level <= 0.0) return 0;
  if (level >= 255.0) return 255;
  return static_cast<uint8_t>(level);
}

uint32_t GetRowsOut(TReaderContext* context, TImageSource* source) {
  TFitsSource* fits = AsFits(source);
  if (fits->row_buffer == nullptr || fits->next_row >= context->image_height) return 0;
  const uint8_t* raw = fits->raw_image + fits->next_row * fits->row_bytes;
  uint8_t* out = fits->row_buffer;
  for (uint32_t x = 0; x < context->image_width; ++x) {
    const uint8_t level = LevelOf(fits, ValueAt(fits, raw, x));
    out[3 * x] = level;
    out[3 * x + 1] = level;
    out[3 * x + 2] = level;
  }
  ++fits->next_row;
  return 1;
}

// Sets minimum and scale from all values: the darkest value is black, and
// white is the histogram step below which 99.8 % of the pixels lie (never the
// first step). Images whose values, or whose clipped range, collapse to a
// single value stay black.
void ChooseContrast(TReaderContext* context, TFitsSource* fits) {
  const uint32_t width = context->image_width;
  const uint32_t height = context->image_height;
  int64_t minimum = kStartMinimum;
  int64_t maximum = 0;  // not the smallest value: all-negative images keep 0 here
  for (uint32_t y = 0; y < height; ++y) {
    const uint8_t* raw = fits->raw_image + y * fits->row_bytes;
    for (uint32_t x = 0; x < width; ++x) {
      const int64_t value = ValueAt(fits, raw, x);
      if (value < minimum) minimum = value;
      if (value > maximum) maximum = value;
    }
  }
  fits->minimum = minimum;
  fits->maximum = maximum;
  fits->scale = 0.0;
  if (maximum <= minimum) return;
  fits->scale = 255.0 / static_cast<double>(maximum - minimum);

  std::memset(fits->histogram, 0, sizeof fits->histogram);
  for (uint32_t y = 0; y < height; ++y) {
    const uint8_t* raw = fits->raw_image + y * fits->row_bytes;
    for (uint32_t x = 0; x < width; ++x) ++fits->histogram[LevelOf(fits, ValueAt(fits, raw, x))];
  }
  const double pixels = static_cast<double>(width) * static_cast<double>(height);
  const uint64_t threshold = static_cast<uint64_t>(std::trunc(pixels * kWhiteFraction));
  int cut = 255;
  uint64_t sum = 0;
  for (int i = 0; i < 256; ++i) {
    sum += fits->histogram[i];
    if (sum > threshold) {
      cut = i == 0 ? 1 : i;
      break;
    }
  }
  const double clipped = std::trunc(static_cast<double>(minimum) + cut / fits->scale);
  maximum = static_cast<int64_t>(clipped);
  fits->maximum = maximum;
  if (maximum <= minimum) {
    fits->scale = 0.0;
    return;
  }
  fits->scale = 255.0 / static_cast<double>(maximum - minimum);
}

// First call: read the whole image, set the contrast, then deliver rows. A
// file that ends within the image delivers none (the end was raised as 40).
uint32_t GetRowsLoad(TReaderContext* context, TImageSource* source) {
  TFitsSource* fits = AsFits(source);
  if (fits->raw_image == nullptr || fits->row_buffer == nullptr) return 0;
  for (uint32_t y = 0; y < context->image_height; ++y) {
    if (!SourceReadBytes(context, source, fits->raw_image + y * fits->row_bytes,
                         static_cast<uint32_t>(fits->row_bytes))) {
      return 0;
    }
  }
  ChooseContrast(context, fits);
  fits->next_row = 0;
  fits->GetRows = GetRowsOut;
  return GetRowsOut(context, source);
}

uint32_t GetRowsNone(TReaderContext*, TImageSource*) { return 0; }

// Reads cards up to "END" and then the rest of that 2880-byte block. False
// when the load must stop (the error is raised).
bool ReadHeader(TReaderContext* context, TFitsSource* fits, int64_t* width, int64_t* height) {
  char card[kCardBytes];
  int cards = 0;
  for (;;) {
    if (!SourceReadBytes(context, fits, card, kCardBytes)) {
      ReaderRaiseError(context, kFitsCardUnreadable);
      return false;
    }
    if (!CardStartIsText(card)) {
      ReaderRaiseError(context, kFitsBadCardChars);
      return false;
    }
    ++cards;
    int64_t value = 0;
    if (KeywordIs(card, "BITPIX")) {
      if (!ParseCardInteger(card, INT32_MIN, INT32_MAX, &value) ||
          (value != 8 && value != 16 && value != 32)) {
        ReaderRaiseError(context, kFitsBadBitpix);
        return false;
      }
      fits->bitpix = static_cast<int32_t>(value);
    } else if (KeywordIs(card, "NAXIS1")) {
      if (!ParseCardInteger(card, 0, INT32_MAX, width)) {
        ReaderRaiseError(context, kFitsBadNaxis1);
        return false;
      }
    } else if (KeywordIs(card, "NAXIS2")) {
      if (!ParseCardInteger(card, 0, INT32_MAX, height)) {
        ReaderRaiseError(context, kFitsBadNaxis2);
        return false;
      }
    } else if (KeywordIs(card, "BZERO")) {
      if (!ParseCardInteger(card, -kBzeroLimit, kBzeroLimit, &fits->bzero)) {
        ReaderRaiseError(context, kFitsBadBzero);
        return false;
      }
    } else if (KeywordIs(card, "END")) {
      break;
    }
  }
  // The data starts with the next block; a file that ends before it fails
  // through the premature end the reader raises.
  while (cards % kCardsPerBlock != 0) {
    if (!SourceReadBytes(context, fits, card, kCardBytes)) return false;
    ++cards;
  }
  return true;
}

void FitsStartInput(TReaderContext* context, TImageSource* source) {
  TFitsSource* fits = AsFits(source);
  // The first fill recognises a sealed file (and refuses it without its key).
  if (!SourceFill(context, source)) return;
  fits->bzero = 0;
  int64_t width = 0;
  int64_t height = 0;
  if (!ReadHeader(context, fits, &width, &height)) return;
  if (fits->bitpix == 0) {  // no BITPIX card: the sample size is unknown
    ReaderRaiseError(context, kFitsBadBitpix);
    return;
  }
  fits->bytes_per_sample = static_cast<uint32_t>(fits->bitpix / 8);

  context->image_width = static_cast<uint32_t>(width);
  context->image_height = static_cast<uint32_t>(height);
  context->input_components = 3;
  context->grayscale_input = false;
  context->data_precision = 8;
  if (width == 0 || height == 0) return;  // the front end refuses an empty image

  const uint64_t pixels = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
  if (pixels * 3 > kMaxPixelBytes) {
    ReaderRaiseError(context, kLoadNoPixelMemory);
    return;
  }
  fits->row_bytes = static_cast<size_t>(width) * fits->bytes_per_sample;
  if (fits->row_bytes > UINT32_MAX) {
    ReaderRaiseError(context, kLoadNoPixelMemory);
    return;
  }
  fits->row_buffer = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(width) * 3));
  fits->raw_image = static_cast<uint8_t*>(std::malloc(fits->row_bytes * static_cast<size_t>(height)));
  if (fits->row_buffer == nullptr || fits->raw_image == nullptr) {
    ReaderRaiseError(context, kLoadNoPixelMemory);
    return;
  }
  fits->next_row = 0;
  fits->GetRows = GetRowsLoad;
}

void FitsFinishInput(TReaderContext*, TImageSource*) {}

void FitsDestroy(TImageSource* source) {
  TFitsSource* fits = AsFits(source);
  std::free(fits->raw_image);
  std::free(fits->row_buffer);
  SourceRelease(fits);
  delete fits;
}

}  // namespace

TImageSource* CreateFitsSource(TReaderContext*) {
  TFitsSource* fits = new (std::nothrow) TFitsSource();
  if (fits == nullptr) return nullptr;
  fits->StartInput = FitsStartInput;
  fits->GetRows = GetRowsNone;  // until StartInput has read a header
  fits->FinishInput = FitsFinishInput;
  fits->Destroy = FitsDestroy;
  if (!SourceInit(fits)) {
    delete fits;
    return nullptr;
  }
  return fits;
}
