#include "raster/resample.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

constexpr double kLobes = 3.0;
constexpr double kPi = 3.14159265358979323846;
// The taps of one axis take about 6 x its source length floats in all,
// however steep the reduction; this only bounds nonsense sizes.
constexpr int32_t kMaxTaps = 1 << 20;

double Sinc(double x) {
  if (x == 0.0) return 1.0;
  const double a = kPi * x;
  return std::sin(a) / a;
}

double Lanczos3(double x) {
  if (x <= -kLobes || x >= kLobes) return 0.0;
  return Sinc(x) * Sinc(x / kLobes);
}

void FreeAxis(TResampleAxis* axis) {
  std::free(axis->first);
  std::free(axis->taps);
  std::free(axis->weights);
  *axis = TResampleAxis{};
}

// The weights of `out_count` outputs over source positions [start, start +
// length) of a line of `source_count` pixels; taps beyond the line fall on
// its edge pixels.
bool BuildAxis(TResampleAxis* axis, int32_t source_count, double start, double length, int32_t out_count) {
  *axis = TResampleAxis{};
  if (source_count < 1 || out_count < 1 || !(length > 0)) return false;
  const double scale = length / out_count;
  const double filter_scale = scale > 1.0 ? scale : 1.0;
  const double support = kLobes * filter_scale;
  const int32_t stride = static_cast<int32_t>(std::ceil(support)) * 2 + 2;
  if (stride > kMaxTaps) return false;
  axis->out_count = out_count;
  axis->stride = stride;
  axis->first = static_cast<int32_t*>(std::malloc(sizeof(int32_t) * static_cast<size_t>(out_count)));
  axis->taps = static_cast<int32_t*>(std::malloc(sizeof(int32_t) * static_cast<size_t>(out_count)));
  axis->weights = static_cast<float*>(std::calloc(static_cast<size_t>(out_count) * static_cast<size_t>(stride), sizeof(float)));
  if (axis->first == nullptr || axis->taps == nullptr || axis->weights == nullptr) {
    FreeAxis(axis);
    return false;
  }
  double* folded = static_cast<double*>(std::malloc(sizeof(double) * static_cast<size_t>(stride)));
  if (folded == nullptr) {
    FreeAxis(axis);
    return false;
  }
  for (int32_t i = 0; i < out_count; ++i) {
    const double centre = start + (i + 0.5) * scale;
    int32_t left = static_cast<int32_t>(std::floor(centre - support));
    int32_t right = static_cast<int32_t>(std::ceil(centre + support));
    // Taps outside the line fold onto its edge pixels.
    const int32_t lo = left < 0 ? 0 : (left > source_count - 1 ? source_count - 1 : left);
    const int32_t hi = right > source_count - 1 ? source_count - 1 : (right < 0 ? 0 : right);
    const int32_t count = hi - lo + 1 > stride ? stride : hi - lo + 1;
    for (int32_t k = 0; k < stride; ++k) folded[k] = 0.0;
    double total = 0.0;
    for (int32_t j = left; j <= right; ++j) {
      const double w = Lanczos3((j + 0.5 - centre) / filter_scale);
      if (w == 0.0) continue;
      int32_t at = j < lo ? lo : (j > hi ? hi : j);
      if (at - lo >= count) at = lo + count - 1;
      folded[at - lo] += w;
      total += w;
    }
    if (total == 0.0) {  // cannot happen with a positive centre tap; keep the pixel anyway
      folded[0] = 1.0;
      total = 1.0;
    }
    axis->first[i] = lo;
    axis->taps[i] = count;
    float* weights = axis->weights + static_cast<size_t>(i) * stride;
    for (int32_t k = 0; k < count; ++k) weights[k] = static_cast<float>(folded[k] / total);
  }
  std::free(folded);
  return true;
}

uint8_t ToByte(float value) {
  if (!(value > 0.0f)) return 0;
  if (value >= 255.0f) return 255;
  return static_cast<uint8_t>(value + 0.5f);
}

// The accumulator of output row `row`: a source-wide row of RGB floats.
float* Accumulator(TResampler* r, int32_t row) {
  return r->ring + static_cast<size_t>(row % r->ring_rows) * static_cast<size_t>(r->source_width) * 3;
}

// Output row `row` from its finished accumulator: each output pixel the
// weighted sum of its taps along the row.
void WriteOutputRow(TResampler* r, int32_t row) {
  const TResampleAxis& x = r->x;
  const float* acc = Accumulator(r, row);
  uint8_t* out = BitmapPixel(*r->out, 0, row);
  for (int32_t i = 0; i < x.out_count; ++i, out += 3) {
    const float* w = x.weights + static_cast<size_t>(i) * x.stride;
    const float* in = acc + static_cast<size_t>(x.first[i]) * 3;
    float red = 0;
    float green = 0;
    float blue = 0;
    const int32_t taps = x.taps[i];
    for (int32_t k = 0; k < taps; ++k, in += 3) {
      red += w[k] * in[0];
      green += w[k] * in[1];
      blue += w[k] * in[2];
    }
    out[0] = ToByte(blue);
    out[1] = ToByte(green);
    out[2] = ToByte(red);
  }
}

}  // namespace

bool ResamplerInit(TResampler* r, int32_t source_width, int32_t source_height, const TResampleRegion& region,
                   TMemBitmap* out) {
  *r = TResampler{};
  if (out == nullptr || out->pixels == nullptr || out->header.biBitCount != 24) return false;
  if (!BuildAxis(&r->x, source_width, region.left, region.width, out->width) ||
      !BuildAxis(&r->y, source_height, region.top, region.height, out->height)) {
    ResamplerFree(r);
    return false;
  }
  // The most output rows one source row falls into: that many accumulators.
  int32_t open = 1;
  for (int32_t j = 0, k = 0; j < r->y.out_count; ++j) {
    const int32_t last = r->y.first[j] + r->y.taps[j] - 1;
    if (k < j) k = j;
    while (k + 1 < r->y.out_count && r->y.first[k + 1] <= last) ++k;
    open = std::max(open, k - j + 1);
  }
  r->ring_rows = open;
  r->ring = static_cast<float*>(
      std::malloc(sizeof(float) * 3 * static_cast<size_t>(open) * static_cast<size_t>(source_width)));
  r->scratch = static_cast<float*>(std::malloc(sizeof(float) * 3 * static_cast<size_t>(source_width)));
  if (r->ring == nullptr || r->scratch == nullptr) {
    ResamplerFree(r);
    return false;
  }
  r->source_width = source_width;
  r->source_height = source_height;
  r->out = out;
  return true;
}

void ResamplerPushRow(TResampler* r, int32_t y, const uint8_t* rgb) {
  if (r->out == nullptr || y != r->next_row || y >= r->source_height) return;
  ++r->next_row;
  const TResampleAxis& ys = r->y;
  if (r->next_out >= ys.out_count || y < ys.first[r->next_out]) return;
  const size_t values = static_cast<size_t>(r->source_width) * 3;
  float* row = r->scratch;
  for (size_t i = 0; i < values; ++i) row[i] = rgb[i];
  // Added into every open output row that has this source row among its taps
  // (a whole-row loop the compiler vectorises); an output row's first source
  // row starts its accumulator.
  for (int32_t j = r->next_out; j < ys.out_count && ys.first[j] <= y; ++j) {
    const int32_t k = y - ys.first[j];
    if (k >= ys.taps[j]) continue;
    const float weight = ys.weights[static_cast<size_t>(j) * ys.stride + k];
    float* acc = Accumulator(r, j);
    if (k == 0) {
      for (size_t i = 0; i < values; ++i) acc[i] = weight * row[i];
    } else {
      for (size_t i = 0; i < values; ++i) acc[i] += weight * row[i];
    }
  }
  while (r->next_out < ys.out_count && ys.first[r->next_out] + ys.taps[r->next_out] - 1 <= y) {
    WriteOutputRow(r, r->next_out);
    ++r->next_out;
  }
}

bool ResamplerFinished(const TResampler* r) { return r->out != nullptr && r->next_out >= r->y.out_count; }

void ResamplerFree(TResampler* r) {
  FreeAxis(&r->x);
  FreeAxis(&r->y);
  std::free(r->ring);
  std::free(r->scratch);
  *r = TResampler{};
}

bool BitmapResample(const TMemBitmap& source, const TResampleRegion& region, int32_t out_width,
                    int32_t out_height, TMemBitmap& out) {
  if (source.pixels == nullptr || source.header.biBitCount != 24) return false;
  if (!BitmapCreate(out, out_width, out_height)) return false;
  TResampler resampler;
  if (!ResamplerInit(&resampler, source.width, source.height, region, &out)) {
    BitmapClear(out);
    return false;
  }
  uint8_t* row = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(source.width) * 3));
  if (row == nullptr) {
    ResamplerFree(&resampler);
    BitmapClear(out);
    return false;
  }
  for (int32_t y = 0; y < source.height; ++y) {
    const uint8_t* in = BitmapPixel(source, 0, y);
    for (int32_t x = 0; x < source.width; ++x) {
      row[x * 3] = in[x * 3 + 2];
      row[x * 3 + 1] = in[x * 3 + 1];
      row[x * 3 + 2] = in[x * 3];
    }
    ResamplerPushRow(&resampler, y, row);
  }
  std::free(row);
  const bool finished = ResamplerFinished(&resampler);
  ResamplerFree(&resampler);
  if (!finished) BitmapClear(out);
  return finished;
}

bool RowShrinkerInit(TRowShrinker* shrinker, int32_t source_width, int32_t source_height, int32_t factor,
                     void (*emit)(void* context, int32_t y, const uint8_t* row), void* context) {
  *shrinker = TRowShrinker{};
  if (source_width < 1 || source_height < 1 || factor < 1 || emit == nullptr) return false;
  const int32_t width = (source_width + factor - 1) / factor;
  shrinker->sums = static_cast<uint32_t*>(std::calloc(static_cast<size_t>(width) * 4, sizeof(uint32_t)));
  shrinker->out_row = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(width) * 3));
  if (shrinker->sums == nullptr || shrinker->out_row == nullptr) {
    RowShrinkerFree(shrinker);
    return false;
  }
  shrinker->factor = factor;
  shrinker->source_width = source_width;
  shrinker->source_height = source_height;
  shrinker->out_width = width;
  shrinker->emit = emit;
  shrinker->context = context;
  return true;
}

void RowShrinkerPush(TRowShrinker* shrinker, const uint8_t* row) {
  if (shrinker->sums == nullptr || shrinker->next_row >= shrinker->source_height) return;
  const int32_t factor = shrinker->factor;
  const uint8_t* in = row;
  for (int32_t x = 0; x < shrinker->source_width; ++x, in += 3) {
    uint32_t* s = shrinker->sums + static_cast<size_t>(x / factor) * 4;
    s[0] += in[0];
    s[1] += in[1];
    s[2] += in[2];
    ++s[3];
  }
  const int32_t y = shrinker->next_row++;
  // A block ends after `factor` rows, or with the last source row.
  if ((y + 1) % factor != 0 && shrinker->next_row != shrinker->source_height) return;
  const size_t width = static_cast<size_t>(shrinker->out_width);
  uint8_t* o = shrinker->out_row;
  for (size_t x = 0; x < width; ++x, o += 3) {
    const uint32_t* s = shrinker->sums + x * 4;
    for (int c = 0; c < 3; ++c) o[c] = static_cast<uint8_t>((s[c] + s[3] / 2) / s[3]);
  }
  std::memset(shrinker->sums, 0, sizeof(uint32_t) * 4 * width);
  shrinker->emit(shrinker->context, y / factor, shrinker->out_row);
}

void RowShrinkerFree(TRowShrinker* shrinker) {
  std::free(shrinker->sums);
  std::free(shrinker->out_row);
  shrinker->sums = nullptr;
  shrinker->out_row = nullptr;
}

namespace {

void EmitBitmapRow(void* context, int32_t y, const uint8_t* row) {
  auto* out = static_cast<TMemBitmap*>(context);
  std::memcpy(BitmapPixel(*out, 0, y), row, static_cast<size_t>(out->width) * 3);
}

}  // namespace

bool BitmapBoxShrink(const TMemBitmap& source, int32_t factor, TMemBitmap& out) {
  if (source.pixels == nullptr || source.header.biBitCount != 24 || factor < 1) return false;
  const int32_t width = (source.width + factor - 1) / factor;
  const int32_t height = (source.height + factor - 1) / factor;
  if (!BitmapCreate(out, width, height)) return false;
  TRowShrinker shrinker;
  if (!RowShrinkerInit(&shrinker, source.width, source.height, factor, EmitBitmapRow, &out)) {
    BitmapClear(out);
    return false;
  }
  for (int32_t y = 0; y < source.height; ++y) RowShrinkerPush(&shrinker, BitmapPixel(source, 0, y));
  RowShrinkerFree(&shrinker);
  return true;
}
