// The HEIF reader: HEIC and AVIF files (8-bit and deeper, with or without
// alpha) through libheif's C interface, which reports every failure as a
// value. The primary image is decoded with its rotation, mirroring and crop
// applied, as viewers show it. The file is read through the buffered,
// sealed-file-aware reader into memory.

#include <libheif/heif.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "imagein/format_codes.h"
#include "imagein/heif_canvas.h"
#include "imagein/heif_decoders.h"
#include "imagein/load_codes.h"
#include "imagein/whole_image_source.h"
#include "support/path_util.h"

namespace {

// libheif's own limit on either side; the pixel cap is checked besides.
constexpr int kMaxHeifSide = 1 << 16;

// Decoding holds the codec's reference pictures and planes (up to 16-bit
// 4:4:4), the library's interleaved copy and our bitmap together: at most
// about 16 bytes a pixel, all of it under the cap.
constexpr uint64_t kHeifBytesPerPixel = 16;

void InitHeifOnce() {
  // Loads libheif's decoder plugins where it has any and adds the HEVC and
  // AV1 decoders that keep to the pixel memory cap, which rank above them
  // (the coded stream states its own picture size, which the boxes' check
  // never sees; and Debian's libdav1d, libheif's first choice for AV1,
  // crashes the process on some damaged files); thread-safe once.
  static const bool initialised = (heif_init(nullptr), heif_register_decoder_plugin(CheckedAv1DecoderPlugin()),
                                   heif_register_decoder_plugin(CheckedHevcDecoderPlugin()), true);
  (void)initialised;
}

int32_t CodeOfError(const heif_error& error) {
  switch (error.code) {
    case heif_error_Ok: return kLoadOk;
    case heif_error_Unsupported_filetype: return kHeifNotHeif;
    case heif_error_Unsupported_feature: return kHeifNoDecoder;
    case heif_error_Memory_allocation_error:
      return error.subcode == heif_suberror_Security_limit_exceeded ? kHeifOverLimits : kLoadNoPixelMemory;
    case heif_error_Decoder_plugin_error: return kHeifDecodeFailed;
    default: return kHeifDamaged;
  }
}

// The context and primary image handle of a file in memory; released by
// ReleaseHeif.
struct THeifFile {
  heif_context* context = nullptr;
  heif_image_handle* handle = nullptr;
};

void ReleaseHeif(THeifFile& file) {
  if (file.handle != nullptr) heif_image_handle_release(file.handle);
  if (file.context != nullptr) heif_context_free(file.context);
  file = THeifFile{};
}

// Reads the file's structure and finds its primary image: kLoadOk, or the
// code of the failure (the caller releases `file` either way).
int32_t OpenHeif(const uint8_t* data, size_t size, THeifFile& file) {
  InitHeifOnce();
  const int probe_length = size > 64 ? 64 : static_cast<int>(size);
  if (size < 12 || heif_check_filetype(data, probe_length) == heif_filetype_no) return kHeifNotHeif;
  file.context = heif_context_alloc();
  if (file.context == nullptr) return kLoadNoPixelMemory;
  heif_context_set_maximum_image_size_limit(file.context, kMaxHeifSide);
  heif_error error = heif_context_read_from_memory_without_copy(file.context, data, size, nullptr);
  if (error.code != heif_error_Ok) return CodeOfError(error);
  error = heif_context_get_primary_image_handle(file.context, &file.handle);
  if (error.code != heif_error_Ok) return CodeOfError(error);
  return kLoadOk;
}

// Decodes the primary image into RGB rows laid over `background` where it
// has alpha.
int32_t DecodeHeif(TReaderContext* context, TWholeImageSource* source, THeifFile& file) {
  const int handle_width = heif_image_handle_get_width(file.handle);
  const int handle_height = heif_image_handle_get_height(file.handle);
  if (handle_width <= 0 || handle_height <= 0) return kLoadEmptyImage;
  // Refuse early what the boxes state: the decoded planes beside the RGB
  // rows made from them, then those rows beside the bitmap.
  if (!WholeImageWithinCap(source, static_cast<uint32_t>(handle_width), static_cast<uint32_t>(handle_height),
                           kHeifBytesPerPixel + 3))
    return kLoadNoPixelMemory;
  const bool alpha = heif_image_handle_has_alpha_channel(file.handle) != 0;
  heif_decoding_options* options = heif_decoding_options_alloc();
  if (options == nullptr) return kLoadNoPixelMemory;
  heif_image* image = nullptr;
  const heif_error error =
      heif_decode_image(file.handle, &image, heif_colorspace_RGB,
                        alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, options);
  heif_decoding_options_free(options);
  if (error.code != heif_error_Ok || image == nullptr) {
    if (image != nullptr) heif_image_release(image);
    const int32_t code = CodeOfError(error);
    return code == kHeifDamaged || code == kLoadOk ? kHeifDecodeFailed : code;
  }
  int32_t code = kLoadOk;
  int stride = 0;
  const uint8_t* plane = heif_image_get_plane_readonly(image, heif_channel_interleaved, &stride);
  const int width = heif_image_get_width(image, heif_channel_interleaved);
  const int height = heif_image_get_height(image, heif_channel_interleaved);
  const int row_bytes = width * (alpha ? 4 : 3);
  if (plane == nullptr || width <= 0 || height <= 0 || stride < row_bytes) {
    code = kHeifDecodeFailed;
  } else if (!AllocateWholeImage(context, source, static_cast<uint32_t>(width),
                                 static_cast<uint32_t>(height))) {
    code = context->common.err->msg_code;
  } else {
    for (int y = 0; y < height; ++y) {
      const uint8_t* in = plane + static_cast<size_t>(stride) * y;
      uint8_t* out = source->pixels + size_t{static_cast<uint32_t>(width)} * 3 * y;
      if (alpha)
        CompositeRgbaRow(in, out, static_cast<uint32_t>(width), context->alpha_background);
      else
        std::memcpy(out, in, static_cast<size_t>(width) * 3);
    }
  }
  heif_image_release(image);
  return code;
}

void HeifStartInput(TReaderContext* context, TImageSource* base) {
  auto* source = static_cast<TWholeImageSource*>(base);
  if (!ReadWholeFile(context, source)) return;
  THeifFile file;
  int32_t code = kLoadNoPixelMemory;
  // libheif's C functions are C++ inside: an allocation failure there may
  // still leave as an exception, which ends here as a failed load.
  try {
    code = OpenHeif(source->encoded, source->encoded_size, file);
    // Grids and overlays state their canvas in their own data; libheif holds
    // each side alone to a limit, this the area to the pixel cap.
    if (code == kLoadOk) {
      switch (CheckHeifCanvases(source->encoded, source->encoded_size, kHeifBytesPerPixel)) {
        case THeifCanvasCheck::kWithinCap: break;
        case THeifCanvasCheck::kOverCap: code = kLoadNoPixelMemory; break;
        case THeifCanvasCheck::kUnreadable: code = kHeifDamaged; break;
      }
    }
    if (code == kLoadOk) code = DecodeHeif(context, source, file);
  } catch (...) {
    code = kLoadNoPixelMemory;
  }
  ReleaseHeif(file);
  ReleaseEncoded(source);
  // AllocateWholeImage has raised its own error already.
  if (code != kLoadOk && context->common.err->num_warnings == 0) ReaderRaiseError(context, code);
}

}  // namespace

TImageSource* CreateHeifSource(TReaderContext* context) {
  return CreateWholeImageSource(context, HeifStartInput);
}

bool HeifReadSize(const char* path, int32_t* width, int32_t* height) {
  *width = 0;
  *height = 0;
  uint8_t* data = nullptr;
  size_t size = 0;
  if (!ReadRegularFile(path, kMaxEncodedFileBytes, &data, &size)) return false;
  THeifFile file;
  bool ok = false;
  try {
    ok = OpenHeif(data, size, file) == kLoadOk;
  } catch (...) {
    ok = false;
  }
  if (ok) {
    *width = heif_image_handle_get_width(file.handle);
    *height = heif_image_handle_get_height(file.handle);
  }
  ReleaseHeif(file);
  std::free(data);
  return ok && *width > 0 && *height > 0;
}
