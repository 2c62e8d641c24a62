// vellumcast-cli decode [--key=TEXT] [--flags=N] [--request=WxH] IMAGE OUT.ppm
// Loads IMAGE through the loading front end, prints the load's outcome in one
// line and writes the decoded pixels as a binary PPM. The request is the size
// a reduced load (LF_SCALE) fits; it is 0x0 unless given.

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/option_parser.h"
#include "imagein/load_codes.h"
#include "imagein/load_peak.h"
#include "imagein/loader.h"
#include "imagein/memory_budget.h"
#include "raster/membitmap.h"

namespace {

constexpr const char* kDecodeUsage =
    "usage: vellumcast-cli decode [--key=TEXT] [--flags=N] [--request=WxH] IMAGE OUT.ppm\n";
constexpr const char* kDecodeHelp =
    "Loads IMAGE, prints the load's result code and sizes, and writes the pixels\n"
    "as a binary PPM file.\n"
    "  -h, --help         show this help\n"
    "  -V, --version      show the version\n"
    "  --key=TEXT         key of a sealed image file\n"
    "  --flags=N          load flags (decimal, 0x hexadecimal or 0 octal) [88]\n"
    "  --request=WxH      size a reduced load (LF_SCALE) fits [0x0]\n"
    "Exit status: 0 loaded, 1 not loaded or not written, 2 usage error.\n";

struct TDecodeOptions {
  const char* key = nullptr;  // key_text's, when --key is given
  std::string key_text;
  int32_t flags = kThumbnailLoadFlags;
  int32_t request_width = 0;
  int32_t request_height = 0;
  std::string image;
  std::string output;
};

// A decimal, octal (leading 0) or hexadecimal (leading 0x) number that fits 32 bits.
bool ParseFlags(const char* text, int32_t* value) {
  if (*text == '\0') return false;
  errno = 0;
  char* end = nullptr;
  const long long parsed = std::strtoll(text, &end, 0);
  if (errno != 0 || *end != '\0' || parsed < INT32_MIN || parsed > UINT32_MAX) return false;
  *value = static_cast<int32_t>(static_cast<uint32_t>(parsed));
  return true;
}

// "WxH" with two non-negative decimal numbers.
bool ParseRequest(const char* text, int32_t* width, int32_t* height) {
  char* end = nullptr;
  errno = 0;
  const long w = std::strtol(text, &end, 10);
  if (end == text || *end != 'x' || w < 0 || w > INT32_MAX || errno != 0) return false;
  const char* rest = end + 1;
  const long h = std::strtol(rest, &end, 10);
  if (end == rest || *end != '\0' || h < 0 || h > INT32_MAX || errno != 0) return false;
  *width = static_cast<int32_t>(w);
  *height = static_cast<int32_t>(h);
  return true;
}

constexpr TOptionSyntax kDecodeSyntax[] = {
    {"help", 'h', TOptionArity::kNone},  {"version", 'V', TOptionArity::kNone},
    {"key", 0, TOptionArity::kValue},    {"flags", 0, TOptionArity::kValue},
    {"request", 0, TOptionArity::kValue},
};
enum : size_t { kHelp, kVersion, kKey, kFlags, kRequest };

enum class TDecodeParse { kRun, kHelp, kVersion, kError };

// A message on stderr for a usage error.
TDecodeParse ParseDecodeArguments(int argc, char** argv, TDecodeOptions* options) {
  const TParsedArguments parsed = ParseArguments(kDecodeSyntax, argc, argv);
  if (!parsed.ok) {
    std::fprintf(stderr, "vellumcast-cli decode: %s\n", parsed.error.c_str());
    return TDecodeParse::kError;
  }
  for (const TParsedOption& option : parsed.options) {
    const char* value = option.value.c_str();
    switch (option.index) {
      case kHelp: return TDecodeParse::kHelp;
      case kVersion: return TDecodeParse::kVersion;
      case kKey: options->key_text = option.value; options->key = options->key_text.c_str(); break;
      case kFlags:
        if (!ParseFlags(value, &options->flags)) {
          std::fprintf(stderr, "vellumcast-cli decode: --flags needs a number, not '%s'\n", value);
          return TDecodeParse::kError;
        }
        break;
      case kRequest:
        if (!ParseRequest(value, &options->request_width, &options->request_height)) {
          std::fprintf(stderr, "vellumcast-cli decode: --request needs WxH, not '%s'\n", value);
          return TDecodeParse::kError;
        }
        break;
      default: break;
    }
  }
  if (parsed.operands.size() != 2) {
    std::fprintf(stderr, "vellumcast-cli decode: expected IMAGE and OUT.ppm\n");
    return TDecodeParse::kError;
  }
  options->image = parsed.operands[0];
  options->output = parsed.operands[1];
  return TDecodeParse::kRun;
}

bool HasImage(const TMemBitmap& bitmap) {
  return bitmap.width >= 1 && bitmap.height >= 1 && bitmap.pixels != nullptr;
}

// One row of the PPM (red, green, blue per pixel) from image row y.
void PpmRow(const TMemBitmap& bitmap, int32_t y, std::string& row) {
  row.clear();
  const bool indexed = bitmap.header.biBitCount == 8;
  const uint32_t stride = indexed ? (static_cast<uint32_t>(bitmap.width) + 3) & ~3u
                                  : BitmapStride(bitmap.width);
  const uint8_t* in = bitmap.pixels + size_t{stride} * static_cast<size_t>(bitmap.height - 1 - y);
  for (int32_t x = 0; x < bitmap.width; ++x) {
    if (indexed) {
      const TRgbQuad& color = bitmap.colors[in[x]];
      row.push_back(static_cast<char>(color.red));
      row.push_back(static_cast<char>(color.green));
      row.push_back(static_cast<char>(color.blue));
    } else {
      const uint8_t* pixel = in + size_t{3} * static_cast<size_t>(x);
      row.push_back(static_cast<char>(pixel[2]));
      row.push_back(static_cast<char>(pixel[1]));
      row.push_back(static_cast<char>(pixel[0]));
    }
  }
}

bool WritePpm(const TMemBitmap& bitmap, const char* path) {
  FILE* file = std::fopen(path, "wb");
  if (file == nullptr) return false;
  bool ok = std::fprintf(file, "P6\n%d %d\n255\n", bitmap.width, bitmap.height) > 0;
  std::string row;
  for (int32_t y = 0; ok && y < bitmap.height; ++y) {
    PpmRow(bitmap, y, row);
    ok = std::fwrite(row.data(), 1, row.size(), file) == row.size();
  }
  if (std::fclose(file) != 0) ok = false;
  if (!ok) std::remove(path);
  return ok;
}

}  // namespace

int RunDecodeCommand(int argc, char** argv) {
  TDecodeOptions options;
  switch (ParseDecodeArguments(argc, argv, &options)) {
    case TDecodeParse::kHelp:
      std::fputs(kDecodeUsage, stdout);
      std::fputs(kDecodeHelp, stdout);
      return 0;
    case TDecodeParse::kVersion: PrintVersion(); return 0;
    case TDecodeParse::kError: std::fputs(kDecodeUsage, stderr); return 2;
    case TDecodeParse::kRun: break;
  }
  TMemBitmap bitmap;
  int32_t result = 0;
  {
    // The decode holds its peak of the process's decode budget, as every decode does.
    TBudgetHold hold(DecodeMemoryBudget(), LoadPeakBytes(ReadLoadPeak(options.image.c_str()), true));
    result = LoadImageToBitmap(options.image.c_str(), options.request_width, options.request_height, bitmap,
                               options.flags, options.key);
  }
  std::printf("result=%d width=%d height=%d full=%ux%u scale=%u/%u\n", result, bitmap.width,
              bitmap.height, bitmap.full_width, bitmap.full_height, bitmap.scale_num,
              bitmap.scale_denom);
  std::fflush(stdout);
  if (!HasImage(bitmap)) return 1;
  if (!WritePpm(bitmap, options.output.c_str())) {
    std::fprintf(stderr, "vellumcast-cli decode: cannot write '%s'\n", options.output.c_str());
    return 1;
  }
  return result == kLoadOk ? 0 : 1;
}
