// Writes the PNG and TIFF files of the format corpus (tests/corpus) with
// libpng and libtiff, each with its reference pixels as a PAM file, and the
// source pictures tests/corpus/make.sh hands to cwebp and heif-enc; and
// converts a PNG (heif-convert's output) to a reference PAM.
//
//   make-format-corpus OUTDIR            corpus files and MANIFEST rows (OUTDIR/MANIFEST.part)
//   make-format-corpus --png-to-pam IN OUT
//   make-format-corpus --flat-png WIDTH HEIGHT OUT   one colour, for pictures too large to matter
//   make-format-corpus --set-ispe FILE WIDTH HEIGHT  rewrites a HEIF file's first stated size

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fixtures/png_tiff_writers.h"

namespace {

constexpr int32_t kWidth = 23;
constexpr int32_t kHeight = 17;

struct TPngCase {
  const char* name;
  TTestPngOptions options;
  const char* exercises;
};

const TPngCase kPngCases[] = {
    {"rgb8", {TTestPngColour::kRgb, 8, false, false}, "8-bit RGB"},
    {"rgba8", {TTestPngColour::kRgba, 8, false, false}, "8-bit RGBA: alpha over the background"},
    {"rgb16", {TTestPngColour::kRgb, 16, false, false}, "16-bit RGB scaled to 8 bits with rounding"},
    {"rgba16", {TTestPngColour::kRgba, 16, false, false}, "16-bit RGBA"},
    {"grey1", {TTestPngColour::kGrey, 1, false, false}, "1-bit grey"},
    {"grey4", {TTestPngColour::kGrey, 4, false, false}, "4-bit grey expanded"},
    {"grey8", {TTestPngColour::kGrey, 8, false, false}, "8-bit grey to RGB"},
    {"grey16", {TTestPngColour::kGrey, 16, false, false}, "16-bit grey"},
    {"greyalpha8", {TTestPngColour::kGreyAlpha, 8, false, false}, "grey with alpha"},
    {"greyalpha16", {TTestPngColour::kGreyAlpha, 16, false, false}, "16-bit grey with alpha"},
    {"palette8", {TTestPngColour::kPalette, 8, false, false}, "8-bit palette"},
    {"palette4", {TTestPngColour::kPalette, 4, false, false}, "4-bit palette"},
    {"palette8_trns", {TTestPngColour::kPalette, 8, false, true}, "palette with tRNS alphas"},
    {"rgb8_key", {TTestPngColour::kRgb, 8, false, true}, "RGB with a tRNS colour key"},
    {"grey8_key", {TTestPngColour::kGrey, 8, false, true}, "grey with a tRNS colour key"},
    {"rgb8_interlaced", {TTestPngColour::kRgb, 8, true, false}, "Adam7 interlaced RGB"},
    {"rgba16_interlaced", {TTestPngColour::kRgba, 16, true, false}, "Adam7 interlaced 16-bit RGBA"},
    {"palette2_interlaced", {TTestPngColour::kPalette, 2, true, false}, "Adam7 interlaced 2-bit palette"},
};

struct TTiffCase {
  const char* name;
  TTestTiffOptions options;
  const char* exercises;
};

const TTiffCase kTiffCases[] = {
    {"rgb8_strips_none", {TTestTiffLayout::kRgb, 8, 1, 0, 3}, "RGB strips, uncompressed"},
    {"rgb8_strips_lzw", {TTestTiffLayout::kRgb, 8, 5, 0, 4}, "RGB strips, LZW"},
    {"rgb8_strips_deflate", {TTestTiffLayout::kRgb, 8, 8, 0, 5}, "RGB strips, deflate"},
    {"rgb8_strips_packbits", {TTestTiffLayout::kRgb, 8, 32773, 0, 2}, "RGB strips, PackBits"},
    {"rgb8_tiles_lzw", {TTestTiffLayout::kRgb, 8, 5, 16, 0}, "RGB 16x16 tiles (partial edge tiles), LZW"},
    {"rgba8_tiles_deflate", {TTestTiffLayout::kRgba, 8, 8, 16, 0}, "RGBA unassociated alpha, tiles, deflate"},
    {"rgb16_strips_deflate", {TTestTiffLayout::kRgb, 16, 8, 0, 3}, "16-bit RGB"},
    {"rgba16_strips_none", {TTestTiffLayout::kRgba, 16, 1, 0, 17}, "16-bit RGBA, one strip"},
    {"grey8_strips_lzw", {TTestTiffLayout::kGrey, 8, 5, 0, 3}, "8-bit grey"},
    {"grey16_strips_none", {TTestTiffLayout::kGrey, 16, 1, 0, 4}, "16-bit grey"},
    {"rgb16_tiles_deflate", {TTestTiffLayout::kRgb, 16, 8, 16, 0}, "16-bit RGB tiles"},
    {"palette8_strips_packbits", {TTestTiffLayout::kPalette, 8, 32773, 0, 3}, "8-bit palette (16-bit colour map)"},
    {"cmyk8_strips_lzw", {TTestTiffLayout::kCmyk, 8, 5, 0, 3}, "CMYK separated"},
    {"bilevel_strips_packbits", {TTestTiffLayout::kBilevel, 1, 32773, 0, 5}, "1-bit bilevel"},
};

bool PngToPam(const char* in, const char* out) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, in)) return false;
  image.format = PNG_FORMAT_RGBA;
  TRgbaImage rgba(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, rgba.data(), 0, nullptr)) return false;
  return WritePam(out, static_cast<int32_t>(image.width), static_cast<int32_t>(image.height), rgba);
}

// An RGB PNG of one colour, written row by row.
bool WriteFlatPng(int width, int height, const char* out) {
  if (width <= 0 || height <= 0) return false;
  std::FILE* file = std::fopen(out, "wb");
  if (file == nullptr) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  bool ok = info != nullptr;
  if (ok && setjmp(png_jmpbuf(png)) == 0) {
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    std::vector<png_byte> row(static_cast<size_t>(width) * 3);
    for (size_t i = 0; i < row.size(); i += 3) {
      row[i] = 0x40;
      row[i + 1] = 0x80;
      row[i + 2] = 0xC0;
    }
    for (int y = 0; y < height; ++y) png_write_row(png, row.data());
    png_write_end(png, nullptr);
  } else {
    ok = false;
  }
  png_destroy_write_struct(&png, &info);
  return std::fclose(file) == 0 && ok;
}

// Rewrites the width and height of the first "ispe" property in place.
bool SetIspe(const char* path, uint32_t width, uint32_t height) {
  std::FILE* file = std::fopen(path, "r+b");
  if (file == nullptr) return false;
  std::vector<unsigned char> bytes;
  unsigned char chunk[4096];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;) bytes.insert(bytes.end(), chunk, chunk + n);
  bool ok = false;
  for (size_t i = 0; i + 16 <= bytes.size(); ++i) {
    if (std::memcmp(&bytes[i], "ispe", 4) != 0) continue;
    const unsigned char size[8] = {
        static_cast<unsigned char>(width >> 24),  static_cast<unsigned char>(width >> 16),
        static_cast<unsigned char>(width >> 8),   static_cast<unsigned char>(width),
        static_cast<unsigned char>(height >> 24), static_cast<unsigned char>(height >> 16),
        static_cast<unsigned char>(height >> 8),  static_cast<unsigned char>(height)};
    ok = std::fseek(file, static_cast<long>(i + 8), SEEK_SET) == 0 && std::fwrite(size, 1, 8, file) == 8;
    break;
  }
  return std::fclose(file) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--png-to-pam") == 0) return PngToPam(argv[2], argv[3]) ? 0 : 1;
  if (argc == 5 && std::strcmp(argv[1], "--flat-png") == 0) {
    return WriteFlatPng(std::atoi(argv[2]), std::atoi(argv[3]), argv[4]) ? 0 : 1;
  }
  if (argc == 5 && std::strcmp(argv[1], "--set-ispe") == 0) {
    return SetIspe(argv[2], static_cast<uint32_t>(std::atoi(argv[3])), static_cast<uint32_t>(std::atoi(argv[4]))) ? 0
                                                                                                                  : 1;
  }
  if (argc != 2) {
    std::fprintf(stderr,
                 "usage: make-format-corpus OUTDIR | --png-to-pam IN.png OUT.pam | --flat-png W H OUT.png |"
                 " --set-ispe FILE W H\n");
    return 2;
  }
  const std::string dir = argv[1];
  std::FILE* manifest = std::fopen((dir + "/MANIFEST.part").c_str(), "w");
  if (manifest == nullptr) return 1;
  const TTestRgbaPixels pixels = GradientRgbaPixels(kWidth, kHeight);
  TRgbaImage reference;
  bool ok = true;
  for (const TPngCase& c : kPngCases) {
    const std::string file = std::string("png/") + c.name + ".png";
    const std::string ref = std::string("reference/") + c.name + ".png.pam";
    ok = ok && WriteTestPng(dir + "/" + file, kWidth, kHeight, pixels, c.options, &reference) &&
         WritePam(dir + "/" + ref, kWidth, kHeight, reference);
    std::fprintf(manifest, "%s\tdecode\t%s\t0\t%s\n", file.c_str(), ref.c_str(), c.exercises);
  }
  for (const TTiffCase& c : kTiffCases) {
    const std::string file = std::string("tiff/") + c.name + ".tif";
    const std::string ref = std::string("reference/") + c.name + ".tif.pam";
    ok = ok && WriteTestTiff(dir + "/" + file, kWidth, kHeight, pixels, c.options, &reference) &&
         WritePam(dir + "/" + ref, kWidth, kHeight, reference);
    std::fprintf(manifest, "%s\tdecode\t%s\t0\t%s\n", file.c_str(), ref.c_str(), c.exercises);
  }
  // Sources for the WebP and HEIF encoders.
  ok = ok && WriteTestPng(dir + "/source_rgba.png", kWidth + 9, kHeight + 7, GradientRgbaPixels(kWidth + 9, kHeight + 7),
                          {TTestPngColour::kRgba, 8, false, false}, &reference);
  ok = ok && WriteTestPng(dir + "/source_rgb.png", kWidth + 9, kHeight + 7, GradientRgbaPixels(kWidth + 9, kHeight + 7),
                          {TTestPngColour::kRgb, 8, false, false}, &reference);
  ok = ok && WriteTestPng(dir + "/source_rgb16.png", kWidth + 9, kHeight + 7,
                          GradientRgbaPixels(kWidth + 9, kHeight + 7), {TTestPngColour::kRgb, 16, false, false},
                          &reference);
  std::fclose(manifest);
  return ok ? 0 : 1;
}
