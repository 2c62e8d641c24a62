#include "imagein/heif_decoders.h"

#include <aom/aom_decoder.h>
#include <aom/aomdx.h>
#include <libde265/de265.h>
#include <libheif/heif.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>
#include <vector>

#include "imagein/whole_image_source.h"
#include "raster/membitmap.h"

namespace {

// Decoding holds the codec's pictures (up to 16-bit 4:4:4), libheif's planes
// and its interleaved copy together: at most about 16 bytes a pixel, the
// same measure the reader applies to the sizes the boxes state.
constexpr uint64_t kBytesPerCodedPixel = 16;

heif_error Ok() { return {heif_error_Ok, heif_suberror_Unspecified, "Success"}; }

heif_error Failed(const char* message) {
  return {heif_error_Decoder_plugin_error, heif_suberror_Unspecified, message};
}

heif_error OverCap(const char* message) {
  return {heif_error_Memory_allocation_error, heif_suberror_Unspecified, message};
}

void SetStrictDecoding(void*, int) {}

// The colour description the coded stream gives, for libheif to use where
// the file has none of its own; codes libheif does not know stay unspecified.
heif_error SetStreamColours(heif_image* image, int primaries, int transfer, int matrix, bool full_range) {
  heif_color_profile_nclx* nclx = heif_nclx_color_profile_alloc();
  if (nclx == nullptr) return OverCap("no memory for the colour description");
  auto code = [](int value) { return static_cast<uint16_t>(value >= 0 && value <= 0xFFFF ? value : 2); };
  heif_nclx_color_profile_set_color_primaries(nclx, code(primaries));
  heif_nclx_color_profile_set_transfer_characteristics(nclx, code(transfer));
  heif_nclx_color_profile_set_matrix_coefficients(nclx, code(matrix));
  nclx->full_range_flag = full_range ? 1 : 0;
  const heif_error error = heif_image_set_nclx_color_profile(image, nclx);
  heif_nclx_color_profile_free(nclx);
  return error;
}

// --- AV1 through libaom ---

struct TAv1Decoder {
  std::vector<uint8_t> data;
  size_t frame_bytes = 0;  // libaom's frame buffers now held
  bool over_budget = false;
};

const char* Av1PluginName() { return "libaom with a memory budget"; }

int Av1SupportsFormat(heif_compression_format format) { return format == heif_compression_AV1 ? 200 : 0; }

heif_error Av1NewDecoder(void** decoder) {
  *decoder = new (std::nothrow) TAv1Decoder;
  return *decoder != nullptr ? Ok() : OverCap("no memory for the AV1 decoder");
}

void Av1FreeDecoder(void* decoder) { delete static_cast<TAv1Decoder*>(decoder); }

heif_error Av1PushData(void* decoder, const void* data, size_t size) {
  auto* self = static_cast<TAv1Decoder*>(decoder);
  const auto* bytes = static_cast<const uint8_t*>(data);
  try {
    self->data.insert(self->data.end(), bytes, bytes + size);
  } catch (const std::bad_alloc&) {
    return OverCap("no memory for the AV1 data");
  }
  return Ok();
}

// libaom's frame buffers come from here, zeroed as it asks, and all of them
// together stay within the pixel memory cap.
int GetFrameBuffer(void* priv, size_t min_size, aom_codec_frame_buffer_t* buffer) {
  auto* self = static_cast<TAv1Decoder*>(priv);
  if (min_size == 0 || min_size > kMaxPixelBytes - self->frame_bytes) {
    self->over_budget = true;
    return -1;
  }
  buffer->data = static_cast<uint8_t*>(std::calloc(1, min_size));
  if (buffer->data == nullptr) {
    self->over_budget = true;
    return -1;
  }
  buffer->size = min_size;
  buffer->priv = nullptr;
  self->frame_bytes += min_size;
  return 0;
}

int ReleaseFrameBuffer(void* priv, aom_codec_frame_buffer_t* buffer) {
  auto* self = static_cast<TAv1Decoder*>(priv);
  if (buffer->data != nullptr) {
    self->frame_bytes -= buffer->size;
    std::free(buffer->data);
    buffer->data = nullptr;
    buffer->size = 0;
  }
  return 0;
}

// Copies one decoded plane into a new plane of `image` with samples of
// `bit_depth` bits (one byte each up to 8, two beyond). `in_wide`: the
// decoder keeps samples of 8 bits or fewer in 16-bit words.
heif_error AddPlaneFrom(heif_image* image, heif_channel channel, int width, int height, int bit_depth,
                        const uint8_t* in, ptrdiff_t in_stride, bool in_wide) {
  heif_error error = heif_image_add_plane(image, channel, width, height, bit_depth);
  if (error.code != heif_error_Ok) return error;
  int stride = 0;
  uint8_t* out = heif_image_get_plane(image, channel, &stride);
  if (out == nullptr) return OverCap("no memory for a picture plane");
  const size_t out_sample = bit_depth > 8 ? 2 : 1;
  for (int y = 0; y < height; ++y) {
    const uint8_t* from = in + in_stride * y;
    uint8_t* row = out + static_cast<ptrdiff_t>(stride) * y;
    if (in_wide && out_sample == 1) {
      for (int x = 0; x < width; ++x) {
        uint16_t sample;
        std::memcpy(&sample, from + 2 * x, 2);
        row[x] = static_cast<uint8_t>(sample);
      }
    } else {
      std::memcpy(row, from, static_cast<size_t>(width) * out_sample);
    }
  }
  return Ok();
}

// One plane of a libaom picture.
heif_error CopyPlane(const aom_image_t* frame, int plane, heif_image* image, heif_channel channel, int width,
                     int height) {
  return AddPlaneFrom(image, channel, width, height, static_cast<int>(frame->bit_depth), frame->planes[plane],
                      frame->stride[plane], (frame->fmt & AOM_IMG_FMT_HIGHBITDEPTH) != 0);
}

// A colour code as the stream states it: libaom keeps the stream's byte in
// an enumeration whatever its value, so it is read as the number it is.
template <typename TEnum>
int StoredCode(const TEnum& stored) {
  std::underlying_type_t<TEnum> raw;
  std::memcpy(&raw, &stored, sizeof raw);
  return static_cast<int>(raw);
}

heif_error ImageOfFrame(const aom_image_t* frame, heif_image** out) {
  heif_chroma chroma;
  switch (frame->fmt & ~AOM_IMG_FMT_HIGHBITDEPTH) {
    case AOM_IMG_FMT_I420: chroma = heif_chroma_420; break;
    case AOM_IMG_FMT_I422: chroma = heif_chroma_422; break;
    case AOM_IMG_FMT_I444: chroma = heif_chroma_444; break;
    default: return Failed("an AV1 picture of an unknown sample layout");
  }
  if (frame->bit_depth != 8 && frame->bit_depth != 10 && frame->bit_depth != 12) {
    return Failed("an AV1 picture of an unknown bit depth");
  }
  const int width = static_cast<int>(frame->d_w);
  const int height = static_cast<int>(frame->d_h);
  const bool grey = frame->monochrome != 0;
  heif_image* image = nullptr;
  heif_error error = heif_image_create(width, height, grey ? heif_colorspace_monochrome : heif_colorspace_YCbCr,
                                       grey ? heif_chroma_monochrome : chroma, &image);
  if (error.code != heif_error_Ok) return error;
  error = SetStreamColours(image, StoredCode(frame->cp), StoredCode(frame->tc), StoredCode(frame->mc),
                           StoredCode(frame->range) == AOM_CR_FULL_RANGE);
  if (error.code == heif_error_Ok) error = CopyPlane(frame, AOM_PLANE_Y, image, heif_channel_Y, width, height);
  if (!grey) {
    const int chroma_width = static_cast<int>((frame->d_w + frame->x_chroma_shift) >> frame->x_chroma_shift);
    const int chroma_height = static_cast<int>((frame->d_h + frame->y_chroma_shift) >> frame->y_chroma_shift);
    if (error.code == heif_error_Ok) {
      error = CopyPlane(frame, AOM_PLANE_U, image, heif_channel_Cb, chroma_width, chroma_height);
    }
    if (error.code == heif_error_Ok) {
      error = CopyPlane(frame, AOM_PLANE_V, image, heif_channel_Cr, chroma_width, chroma_height);
    }
  }
  if (error.code != heif_error_Ok) {
    heif_image_release(image);
    return error;
  }
  *out = image;
  return Ok();
}

heif_error Av1DecodeImage(void* decoder, heif_image** out) {
  auto* self = static_cast<TAv1Decoder*>(decoder);
  *out = nullptr;
  aom_codec_iface_t* iface = aom_codec_av1_dx();
  // The sequence header's largest picture, read before libaom allocates.
  aom_codec_stream_info_t info{};
  if (aom_codec_peek_stream_info(iface, self->data.data(), self->data.size(), &info) != AOM_CODEC_OK ||
      info.w == 0 || info.h == 0) {
    return Failed("the AV1 data has no readable sequence header");
  }
  if (!PixelsWithinCap(info.w, info.h, kBytesPerCodedPixel)) {
    return OverCap("the AV1 picture is larger than the pixel memory cap");
  }
  aom_codec_ctx_t codec;
  aom_codec_dec_cfg_t config{};
  config.threads = 1;
  config.allow_lowbitdepth = 1;
  if (aom_codec_dec_init(&codec, iface, &config, 0) != AOM_CODEC_OK) return Failed("libaom cannot start");
  heif_error result = Failed("the AV1 data holds no picture");
  if (aom_codec_set_frame_buffer_functions(&codec, GetFrameBuffer, ReleaseFrameBuffer, self) != AOM_CODEC_OK) {
    result = Failed("libaom refused the frame buffers");
  } else if (aom_codec_decode(&codec, self->data.data(), self->data.size(), nullptr) != AOM_CODEC_OK) {
    result = self->over_budget ? OverCap("the AV1 pictures need more than the pixel memory cap")
                               : Failed("libaom cannot decode the AV1 data");
  } else {
    aom_codec_iter_t iter = nullptr;
    const aom_image_t* frame = aom_codec_get_frame(&codec, &iter);
    if (frame != nullptr) result = ImageOfFrame(frame, out);
  }
  aom_codec_destroy(&codec);
  return result;
}

const heif_decoder_plugin kAv1Plugin = {
    3,
    Av1PluginName,
    nullptr,
    nullptr,
    Av1SupportsFormat,
    Av1NewDecoder,
    Av1FreeDecoder,
    Av1PushData,
    Av1DecodeImage,
    SetStrictDecoding,
    kCheckedAv1DecoderId,
};

// --- HEVC through libde265 ---

struct THevcDecoder {
  de265_decoder_context* codec = nullptr;
  uint64_t picture_bytes = 0;  // pictures libde265 was given, all together
  bool over_budget = false;
};

const char* HevcPluginName() { return "libde265 with a memory budget"; }

// libde265's tables are made by its first decoder and freed with its last
// unless held: held for as long as the plugin is registered.
bool g_de265_held = false;
void HevcInitPlugin() { g_de265_held = de265_init() == DE265_OK; }
void HevcDeinitPlugin() {
  if (g_de265_held) de265_free();
  g_de265_held = false;
}

int HevcSupportsFormat(heif_compression_format format) { return format == heif_compression_HEVC ? 200 : 0; }

// libde265 asks here for every picture before it allocates it: a picture
// over the cap, or pictures over the cap together, are refused (counted at
// two bytes a sample, the most libde265 stores).
int HevcGetBuffer(de265_decoder_context* codec, de265_image_spec* spec, de265_image* image, void* userdata) {
  auto* self = static_cast<THevcDecoder*>(userdata);
  if (spec->width <= 0 || spec->height <= 0 ||
      !PixelsWithinCap(static_cast<uint64_t>(spec->width), static_cast<uint64_t>(spec->height),
                       kBytesPerCodedPixel)) {
    self->over_budget = true;
    return 0;
  }
  uint64_t samples_per_pixel = 3;
  if (spec->format == de265_image_format_mono8) samples_per_pixel = 1;
  if (spec->format == de265_image_format_YUV420P8) samples_per_pixel = 2;  // 1.5, rounded up
  if (spec->format == de265_image_format_YUV422P8) samples_per_pixel = 2;
  const uint64_t bytes = uint64_t{static_cast<uint32_t>(spec->width)} * static_cast<uint32_t>(spec->height) *
                         samples_per_pixel * 2;
  if (bytes > kMaxPixelBytes - self->picture_bytes) {
    self->over_budget = true;
    return 0;
  }
  self->picture_bytes += bytes;
  return de265_get_default_image_allocation_functions()->get_buffer(codec, spec, image, nullptr);
}

void HevcReleaseBuffer(de265_decoder_context* codec, de265_image* image, void*) {
  de265_get_default_image_allocation_functions()->release_buffer(codec, image, nullptr);
}

de265_image_allocation kHevcAllocation = {HevcGetBuffer, HevcReleaseBuffer};

heif_error HevcNewDecoder(void** decoder) {
  auto* self = new (std::nothrow) THevcDecoder;
  if (self == nullptr) return OverCap("no memory for the HEVC decoder");
  self->codec = de265_new_decoder();
  if (self->codec == nullptr) {
    delete self;
    return OverCap("no memory for the HEVC decoder");
  }
  de265_set_image_allocation_functions(self->codec, &kHevcAllocation, self);
  *decoder = self;
  return Ok();
}

void HevcFreeDecoder(void* decoder) {
  auto* self = static_cast<THevcDecoder*>(decoder);
  de265_free_decoder(self->codec);
  delete self;
}

// libheif hands over NAL units, each after its length in four bytes.
heif_error HevcPushData(void* decoder, const void* data, size_t size) {
  auto* self = static_cast<THevcDecoder*>(decoder);
  const auto* bytes = static_cast<const uint8_t*>(data);
  size_t at = 0;
  while (at < size) {
    if (size - at < 4) return Failed("an HEVC unit length is cut short");
    const uint32_t length = (uint32_t{bytes[at]} << 24) | (uint32_t{bytes[at + 1]} << 16) |
                            (uint32_t{bytes[at + 2]} << 8) | bytes[at + 3];
    at += 4;
    if (length > size - at || length > static_cast<uint32_t>(INT32_MAX)) {
      return Failed("an HEVC unit is longer than its data");
    }
    if (de265_push_NAL(self->codec, bytes + at, static_cast<int>(length), 0, nullptr) != DE265_OK) {
      return OverCap("no memory for the HEVC data");
    }
    at += length;
  }
  return Ok();
}

heif_error ImageOfPicture(const de265_image* picture, heif_image** out) {
  heif_chroma chroma;
  switch (de265_get_chroma_format(picture)) {
    case de265_chroma_mono: chroma = heif_chroma_monochrome; break;
    case de265_chroma_420: chroma = heif_chroma_420; break;
    case de265_chroma_422: chroma = heif_chroma_422; break;
    case de265_chroma_444: chroma = heif_chroma_444; break;
    default: return Failed("an HEVC picture of an unknown sample layout");
  }
  const bool grey = chroma == heif_chroma_monochrome;
  const int width = de265_get_image_width(picture, 0);
  const int height = de265_get_image_height(picture, 0);
  heif_image* image = nullptr;
  heif_error error =
      heif_image_create(width, height, grey ? heif_colorspace_monochrome : heif_colorspace_YCbCr, chroma, &image);
  if (error.code != heif_error_Ok) return error;
  error = SetStreamColours(image, de265_get_image_colour_primaries(picture),
                           de265_get_image_transfer_characteristics(picture),
                           de265_get_image_matrix_coefficients(picture),
                           de265_get_image_full_range_flag(picture) != 0);
  const heif_channel channels[3] = {heif_channel_Y, heif_channel_Cb, heif_channel_Cr};
  for (int c = 0; c < (grey ? 1 : 3) && error.code == heif_error_Ok; ++c) {
    const int plane_width = de265_get_image_width(picture, c);
    const int plane_height = de265_get_image_height(picture, c);
    const int bit_depth = de265_get_bits_per_pixel(picture, c);
    int in_stride = 0;
    const uint8_t* in = de265_get_image_plane(picture, c, &in_stride);
    if (in == nullptr || plane_width <= 0 || plane_height <= 0 || bit_depth < 1 || bit_depth > 16) {
      error = Failed("an HEVC picture without its planes");
      break;
    }
    error = AddPlaneFrom(image, channels[c], plane_width, plane_height, bit_depth, in, in_stride, false);
  }
  if (error.code != heif_error_Ok) {
    heif_image_release(image);
    return error;
  }
  *out = image;
  return Ok();
}

heif_error HevcDecodeImage(void* decoder, heif_image** out) {
  auto* self = static_cast<THevcDecoder*>(decoder);
  *out = nullptr;
  if (de265_flush_data(self->codec) != DE265_OK) return OverCap("no memory for the HEVC data");
  heif_error result = Failed("the HEVC data holds no picture");
  int more = 1;
  while (more != 0) {
    more = 0;
    const de265_error status = de265_decode(self->codec, &more);
    if (status != DE265_OK) break;
    const de265_image* picture = de265_get_next_picture(self->codec);
    if (picture != nullptr) {
      result = ImageOfPicture(picture, out);
      de265_release_next_picture(self->codec);
      break;
    }
  }
  if (*out == nullptr && self->over_budget) return OverCap("the HEVC picture is larger than the pixel memory cap");
  return result;
}

const heif_decoder_plugin kHevcPlugin = {
    3,
    HevcPluginName,
    HevcInitPlugin,
    HevcDeinitPlugin,
    HevcSupportsFormat,
    HevcNewDecoder,
    HevcFreeDecoder,
    HevcPushData,
    HevcDecodeImage,
    SetStrictDecoding,
    kCheckedHevcDecoderId,
};

}  // namespace

const heif_decoder_plugin* CheckedAv1DecoderPlugin() { return &kAv1Plugin; }

const heif_decoder_plugin* CheckedHevcDecoderPlugin() { return &kHevcPlugin; }
