// A video's poster frame: decoded from the start up to the scan's end, the
// first frame that is neither nearly black nor flat, scaled and turned upright.

#include <cmath>
#include <cstdint>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libavutil/mem.h>
#include <libswscale/swscale.h>
}

#include "imagein/load_codes.h"
#include "imagein/video.h"
#include "imagein/video_parts.h"

namespace {

// timestamps say (a damaged clip may carry none).
constexpr int kMaxPosterPackets = 20000;
constexpr int kMaxPosterFrames = 2000;

// Nearly black: mean luma below this (of 255). Nearly flat: standard deviation below this.
constexpr double kDarkMeanLuma = 16.0;
constexpr double kFlatLumaDeviation = 4.0;
constexpr int kSampleGrid = 32;

struct TFrameFree {
  void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};

// Frees what a poster decode holds on every path out.
struct TPosterDecode {
  AVFormatContext* input = nullptr;
  AVCodecContext* codec = nullptr;
  AVPacket* packet = nullptr;
  AVFrame* frame = nullptr;
  AVFrame* first = nullptr;
  SwsContext* scaler = nullptr;
  uint8_t* upright = nullptr;
  ~TPosterDecode() {
    sws_freeContext(scaler);
    av_free(upright);
    av_frame_free(&first);
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&codec);
    CloseVideoInput(&input);
  }
};

// Whether the frame is nearly black or nearly one flat colour, from its luma
// on a 32x32 sample grid. False also when the grid cannot be sampled.
bool NearlyBlackOrFlat(const AVFrame* frame, SwsContext** scaler) {
  *scaler = sws_getCachedContext(*scaler, frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
                                 kSampleGrid, kSampleGrid, AV_PIX_FMT_BGR24, SWS_POINT, nullptr, nullptr, nullptr);
  if (*scaler == nullptr) return false;
  uint8_t grid[kSampleGrid * kSampleGrid * 3];
  uint8_t* planes[4] = {grid, nullptr, nullptr, nullptr};
  int strides[4] = {kSampleGrid * 3, 0, 0, 0};
  if (sws_scale(*scaler, frame->data, frame->linesize, 0, frame->height, planes, strides) != kSampleGrid) return false;
  double sum = 0;
  double squares = 0;
  for (int i = 0; i < kSampleGrid * kSampleGrid; ++i) {
    const uint8_t* bgr = grid + i * 3;
    const double luma = 0.114 * bgr[0] + 0.587 * bgr[1] + 0.299 * bgr[2];
    sum += luma;
    squares += luma * luma;
  }
  const double count = kSampleGrid * kSampleGrid;
  const double mean = sum / count;
  const double variance = squares / count - mean * mean;
  return mean < kDarkMeanLuma || std::sqrt(variance > 0 ? variance : 0) < kFlatLumaDeviation;
}

// Scales the frame to the shown size and turns it upright into `poster`.
int32_t ConvertPoster(TPosterDecode& decode, const AVFrame* frame, const TVideoFacts& facts, TMemBitmap* poster) {
  const bool quarter = facts.rotation == 90 || facts.rotation == 270;
  const int32_t scaled_width = quarter ? facts.height : facts.width;
  const int32_t scaled_height = quarter ? facts.width : facts.height;
  const uint64_t scaled_bytes = uint64_t{static_cast<uint32_t>(scaled_width)} * static_cast<uint32_t>(scaled_height) * 3;
  if (scaled_bytes == 0 || scaled_bytes > kMaxPixelBytes) return kVideoNoMemory;
  decode.upright = static_cast<uint8_t*>(av_malloc(scaled_bytes));
  if (decode.upright == nullptr) return kVideoNoMemory;
  decode.scaler = sws_getCachedContext(decode.scaler, frame->width, frame->height,
                                       static_cast<AVPixelFormat>(frame->format), scaled_width, scaled_height,
                                       AV_PIX_FMT_BGR24, SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT,
                                       nullptr, nullptr, nullptr);
  if (decode.scaler == nullptr) return kVideoDamaged;
  uint8_t* planes[4] = {decode.upright, nullptr, nullptr, nullptr};
  int strides[4] = {scaled_width * 3, 0, 0, 0};
  if (sws_scale(decode.scaler, frame->data, frame->linesize, 0, frame->height, planes, strides) != scaled_height) {
    return kVideoDamaged;
  }
  if (!BitmapCreate(*poster, facts.width, facts.height)) return kVideoNoMemory;
  for (int32_t y = 0; y < scaled_height; ++y) {
    const uint8_t* row = decode.upright + size_t{static_cast<uint32_t>(y)} * static_cast<uint32_t>(scaled_width) * 3;
    for (int32_t x = 0; x < scaled_width; ++x) {
      int32_t out_x = x;
      int32_t out_y = y;
      if (facts.rotation == 90) {
        out_x = scaled_height - 1 - y;
        out_y = x;
      } else if (facts.rotation == 180) {
        out_x = scaled_width - 1 - x;
        out_y = scaled_height - 1 - y;
      } else if (facts.rotation == 270) {
        out_x = y;
        out_y = scaled_width - 1 - x;
      }
      std::memcpy(BitmapPixel(*poster, out_x, out_y), row + size_t{static_cast<uint32_t>(x)} * 3, 3);
    }
  }
  poster->rows_written = poster->height;
  return kLoadOk;
}

bool OverPixelCap(int32_t width, int32_t height, uint64_t cap) {
  return width > 0 && height > 0 && uint64_t{static_cast<uint32_t>(width)} * static_cast<uint32_t>(height) > cap;
}

}  // namespace

int32_t ReadVideoPoster(const char* path, const TVideoLimits& limits, TVideoFacts* facts, TMemBitmap* poster) {
  if (poster != nullptr) BitmapClear(*poster);
  if (facts == nullptr || poster == nullptr) return kLoadCannotOpen;
  *facts = TVideoFacts{};
  TPosterDecode decode;
  int32_t code = OpenVideoInput(path, limits.max_cpu_seconds, &decode.input);
  if (code != kLoadOk) return code;
  const int video_index = FindVideoStream(decode.input);
  AVStream* stream = decode.input->streams[video_index];
  FillVideoFacts(decode.input, video_index, facts);
  if (OverPixelCap(facts->coded_width, facts->coded_height, limits.max_frame_pixels) ||
      OverPixelCap(facts->width, facts->height, limits.max_frame_pixels)) {
    return kVideoOverLimits;
  }
  const AVCodec* decoder = AllowedDecoder(stream->codecpar);
  if (decoder == nullptr) return kVideoNoDecoder;
  decode.codec = avcodec_alloc_context3(decoder);
  decode.packet = av_packet_alloc();
  decode.frame = av_frame_alloc();
  if (decode.codec == nullptr || decode.packet == nullptr || decode.frame == nullptr) return kVideoNoMemory;
  if (avcodec_parameters_to_context(decode.codec, stream->codecpar) < 0) return kVideoDamaged;
  decode.codec->thread_count = 1;
  decode.codec->pkt_timebase = stream->time_base;
  if (avcodec_open2(decode.codec, decoder, nullptr) < 0) return kVideoNoDecoder;
  // Decode only the poster's stream.
  for (unsigned i = 0; i < decode.input->nb_streams; ++i) {
    if (static_cast<int>(i) != video_index) decode.input->streams[i]->discard = AVDISCARD_ALL;
  }

  const int64_t start = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
  const double time_base = av_q2d(stream->time_base);
  AVFrame* chosen = nullptr;
  bool scan_over = false;
  bool input_over = false;
  int packets = 0;
  int frames = 0;
  while (chosen == nullptr && !scan_over) {
    if (VideoInputTimedOut(decode.input)) return kVideoTimedOut;
    int result = 0;
    if (!input_over) {
      result = av_read_frame(decode.input, decode.packet);
      if (result < 0 || ++packets > kMaxPosterPackets) {
        if (result >= 0) av_packet_unref(decode.packet);
        if (VideoInputTimedOut(decode.input)) return kVideoTimedOut;
        input_over = true;
        avcodec_send_packet(decode.codec, nullptr);  // drain what the decoder holds
      } else {
        if (decode.packet->stream_index != video_index) {
          av_packet_unref(decode.packet);
          continue;
        }
        result = avcodec_send_packet(decode.codec, decode.packet);
        av_packet_unref(decode.packet);
        // A packet that does not decode is skipped; a later one may.
        if (result < 0 && result != AVERROR(EAGAIN)) continue;
      }
    }
    while (true) {
      result = avcodec_receive_frame(decode.codec, decode.frame);
      if (result == AVERROR(EAGAIN)) break;
      if (result < 0) {
        if (input_over) scan_over = true;  // drained, or the decoder gave up at the end
        break;
      }
      if (VideoInputTimedOut(decode.input)) return kVideoTimedOut;
      if (decode.frame->width <= 0 || decode.frame->height <= 0) {
        av_frame_unref(decode.frame);
        continue;
      }
      // The frame size may change mid-stream: each frame is held to the cap.
      if (OverPixelCap(decode.frame->width, decode.frame->height, limits.max_frame_pixels)) return kVideoOverLimits;
      ++frames;
      int64_t pts = decode.frame->best_effort_timestamp;
      const bool past_scan = (pts != AV_NOPTS_VALUE && static_cast<double>(pts - start) * time_base > limits.scan_seconds) ||
                             frames > kMaxPosterFrames;
      if (decode.first != nullptr && past_scan) {
        scan_over = true;
        av_frame_unref(decode.frame);
        break;
      }
      const bool plain = NearlyBlackOrFlat(decode.frame, &decode.scaler);
      if (!plain) {
        chosen = decode.frame;
        break;
      }
      if (decode.first == nullptr) {
        decode.first = decode.frame;
        decode.frame = av_frame_alloc();
        if (decode.frame == nullptr) return kVideoNoMemory;
      } else {
        av_frame_unref(decode.frame);
      }
      if (past_scan) {
        scan_over = true;
        break;
      }
    }
    if (input_over && chosen == nullptr && !scan_over) {
      // receive returned EAGAIN after a drain request: nothing more comes.
      scan_over = true;
    }
  }
  if (chosen == nullptr) chosen = decode.first;
  if (chosen == nullptr) return kVideoDamaged;

  // The size a container told may be missing or differ from the frames: the
  // shown size follows the frame that is shown.
  if (chosen->width != facts->coded_width || chosen->height != facts->coded_height || facts->width <= 0) {
    AVRational aspect = chosen->sample_aspect_ratio;
    if (aspect.num <= 0 || aspect.den <= 0) aspect = av_guess_sample_aspect_ratio(decode.input, stream, nullptr);
    facts->coded_width = chosen->width;
    facts->coded_height = chosen->height;
    if (!VideoShownSize(chosen->width, chosen->height, aspect, facts->rotation, &facts->width, &facts->height)) {
      return kVideoDamaged;
    }
    if (OverPixelCap(facts->width, facts->height, limits.max_frame_pixels)) return kVideoOverLimits;
  }
  sws_freeContext(decode.scaler);
  decode.scaler = nullptr;
  code = ConvertPoster(decode, chosen, *facts, poster);
  if (code != kLoadOk) BitmapClear(*poster);
  return code;
}

