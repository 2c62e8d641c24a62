#include "imagein/video.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avstring.h>
#include <libavutil/display.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
#include <libswscale/swscale.h>
}

#include <strings.h>
#include <sys/stat.h>
#include <time.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <new>
#include <utility>

#include "imagein/load_codes.h"
#include "imagein/load_path.h"
#include "support/path_util.h"
#include "support/utf8.h"

namespace {

// Demuxers a video read may use: MP4/MOV/3GP, Matroska/WebM, AVI, MPEG-TS (.mts, .m2ts).
constexpr const char* kAllowedDemuxers = "mov,mp4,m4a,3gp,3g2,mj2,matroska,webm,avi,mpegts";

// Decoders a video read may open, by FFmpeg's decoder name.
constexpr const char* kAllowedDecoders[] = {
    // video
    "h264", "hevc", "vp8", "vp9", "libdav1d", "libaom-av1", "av1", "mpeg4", "mpeg2video", "mpeg1video",
    "mjpeg", "h263", "h263p", "msmpeg4", "msmpeg4v2", "msmpeg4v3",
    // audio: only opened while the container's facts are gathered
    "aac", "aac_fixed", "mp3", "mp3float", "mp2", "mp2float", "opus", "libopus", "vorbis", "ac3", "ac3_fixed",
    "eac3", "alac", "flac", "pcm_s16le", "pcm_s16be", "pcm_s24le", "pcm_s24be", "pcm_s32le", "pcm_s32be",
    "pcm_f32le", "pcm_f32be", "pcm_u8", "pcm_alaw", "pcm_mulaw", "pcm_bluray", "pcm_dvd", "adpcm_ima_wav",
    "adpcm_ima_qt", "adpcm_ms"};

constexpr int kIoBufferSize = 32 * 1024;
constexpr int64_t kProbeBytes = 5 * 1000 * 1000;
constexpr int64_t kAnalyzeMicroseconds = 5 * int64_t{AV_TIME_BASE};

// A poster decode reads no more than this many packets and frames, whatever the
// timestamps say (a damaged clip may carry none).
constexpr int kMaxPosterPackets = 20000;
constexpr int kMaxPosterFrames = 2000;

// Nearly black: mean luma below this (of 255). Nearly flat: standard deviation below this.
constexpr double kDarkMeanLuma = 16.0;
constexpr double kFlatLumaDeviation = 4.0;
constexpr int kSampleGrid = 32;

double ClockSeconds(clockid_t clock) {
  timespec now{};
  clock_gettime(clock, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// What one open video input owns beside FFmpeg's context: the file and the caps.
struct TVideoInputState {
  std::FILE* file = nullptr;
  int64_t size = 0;
  double cpu_cap = 0;    // seconds of this thread's CPU time; 0: none
  double cpu_start = 0;
  double wall_start = 0;
  bool timed_out = false;
  char head[64] = {};    // the file's first bytes (the Matroska doc type is read from them)
  size_t head_size = 0;
};

bool CapsPassed(TVideoInputState* state) {
  if (state->timed_out) return true;
  if (state->cpu_cap <= 0) return false;
  if (ClockSeconds(CLOCK_THREAD_CPUTIME_ID) - state->cpu_start > state->cpu_cap ||
      ClockSeconds(CLOCK_MONOTONIC) - state->wall_start > 3 * state->cpu_cap) {
    state->timed_out = true;
  }
  return state->timed_out;
}

int InterruptCallback(void* opaque) { return CapsPassed(static_cast<TVideoInputState*>(opaque)) ? 1 : 0; }

int ReadPacket(void* opaque, uint8_t* buffer, int size) {
  auto* state = static_cast<TVideoInputState*>(opaque);
  if (size <= 0) return 0;
  const size_t got = std::fread(buffer, 1, static_cast<size_t>(size), state->file);
  if (got == 0) return std::ferror(state->file) ? AVERROR(EIO) : AVERROR_EOF;
  return static_cast<int>(got);
}

int64_t SeekPacket(void* opaque, int64_t offset, int whence) {
  auto* state = static_cast<TVideoInputState*>(opaque);
  whence &= ~AVSEEK_FORCE;
  if (whence == AVSEEK_SIZE) return state->size;
  int origin = SEEK_SET;
  if (whence == SEEK_CUR) origin = SEEK_CUR;
  else if (whence == SEEK_END) origin = SEEK_END;
  else if (whence != SEEK_SET) return AVERROR(EINVAL);
  std::clearerr(state->file);
  if (fseeko(state->file, static_cast<off_t>(offset), origin) != 0) return AVERROR(errno ? errno : EIO);
  return static_cast<int64_t>(ftello(state->file));
}

void QuietLogOnce() {
  static std::once_flag once;
  std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

std::string DecoderList() {
  std::string list;
  for (const char* name : kAllowedDecoders) {
    if (!list.empty()) list += ',';
    list += name;
  }
  return list;
}

TVideoInputState* StateOf(AVFormatContext* context) {
  return context == nullptr ? nullptr : static_cast<TVideoInputState*>(context->opaque);
}

// The video stream a poster is taken from: the container's best video stream
// that is no attached cover picture.
int FindVideoStream(AVFormatContext* context) {
  const int best = av_find_best_stream(context, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (best >= 0 && (context->streams[best]->disposition & AV_DISPOSITION_ATTACHED_PIC) == 0) return best;
  for (unsigned i = 0; i < context->nb_streams; ++i) {
    const AVStream* stream = context->streams[i];
    if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
        (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) == 0) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

// Clockwise degrees that make the stream's frames upright, from its display matrix.
int StreamRotation(const AVStream* stream) {
  size_t size = 0;
  const uint8_t* data = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
  if (data == nullptr || size < 9 * sizeof(int32_t)) return 0;
  const double counterclockwise = av_display_rotation_get(reinterpret_cast<const int32_t*>(data));
  if (!std::isfinite(counterclockwise)) return 0;
  long quarter = std::lround(-counterclockwise / 90.0) % 4;
  if (quarter < 0) quarter += 4;
  return static_cast<int>(quarter * 90);
}

// The shown size of a frame of coded size w x h: the pixel aspect applied to
// the width (the height kept), then turned. False when it does not make sense.
bool ShownSize(int32_t coded_width, int32_t coded_height, AVRational aspect, int rotation, int32_t* width,
               int32_t* height) {
  if (coded_width <= 0 || coded_height <= 0) return false;
  int64_t shown_width = coded_width;
  if (aspect.num > 0 && aspect.den > 0 && aspect.num != aspect.den) {
    const int64_t scaled = (int64_t{coded_width} * aspect.num + aspect.den / 2) / aspect.den;
    // An absurd aspect (over 16:1 either way) is taken as square pixels.
    if (scaled >= 1 && scaled <= int64_t{coded_width} * 16 && scaled * 16 >= coded_width) shown_width = scaled;
  }
  if (shown_width > INT32_MAX) return false;
  *width = static_cast<int32_t>(shown_width);
  *height = coded_height;
  if (rotation == 90 || rotation == 270) std::swap(*width, *height);
  return true;
}

const char* Tag(const AVDictionary* metadata, const char* key) {
  const AVDictionaryEntry* entry = av_dict_get(metadata, key, nullptr, 0);
  return entry == nullptr ? nullptr : entry->value;
}

// A tag from the container or, failing that, the video stream.
const char* ClipTag(const AVFormatContext* context, const AVStream* video, const char* key) {
  const char* value = Tag(context->metadata, key);
  if ((value == nullptr || *value == '\0') && video != nullptr) value = Tag(video->metadata, key);
  return value != nullptr && *value != '\0' ? value : nullptr;
}

// "YYYY-MM-DD HH:MM:SS" from the start of "YYYY-MM-DDTHH:MM:SS..." (or a space
// between the parts), as written; empty when it does not start so, or is a zero date.
std::string DateTimeText(const char* value) {
  if (value == nullptr) return {};
  const char* pattern = "dddd-dd-ddXdd:dd:dd";
  std::string out;
  for (size_t i = 0; pattern[i] != '\0'; ++i) {
    const char c = value[i];
    if (pattern[i] == 'd') {
      if (c < '0' || c > '9') return {};
      out += c;
    } else if (pattern[i] == 'X') {
      if (c != 'T' && c != ' ') return {};
      out += ' ';
    } else {
      if (c != pattern[i]) return {};
      out += c;
    }
  }
  const int month = std::atoi(out.substr(5, 2).c_str());
  const int day = std::atoi(out.substr(8, 2).c_str());
  if (month < 1 || month > 12 || day < 1 || day > 31) return {};
  if (out.compare(0, 4, "1904") == 0 || out == "1970-01-01 00:00:00" || out.compare(0, 4, "0000") == 0) return {};
  return out;
}

// A tag's text for a page: valid UTF-8 only (stops at the first bad sequence
// or control character), spaces trimmed, at most 64 bytes.
std::string CleanTagText(const char* value) {
  std::string out;
  if (value == nullptr) return out;
  const auto* text = reinterpret_cast<const unsigned char*>(value);
  size_t length = std::strlen(value);
  size_t at = 0;
  while (at < length) {
    uint32_t code_point = 0;
    const size_t taken = DecodeUtf8Sequence(text + at, length - at, &code_point);
    if (taken == 0 || code_point < 0x20 || code_point == 0x7f) break;
    if (out.size() + taken > 64) break;
    out.append(value + at, taken);
    at += taken;
  }
  const size_t first = out.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  const size_t last = out.find_last_not_of(' ');
  return out.substr(first, last - first + 1);
}

std::string CameraText(const AVFormatContext* context, const AVStream* video) {
  static const char* const kPairs[][2] = {{"com.apple.quicktime.make", "com.apple.quicktime.model"},
                                          {"com.android.manufacturer", "com.android.model"},
                                          {"make", "model"}};
  for (const auto& pair : kPairs) {
    const std::string make = CleanTagText(ClipTag(context, video, pair[0]));
    const std::string model = CleanTagText(ClipTag(context, video, pair[1]));
    if (make.empty() && model.empty()) continue;
    if (make.empty()) return model;
    if (model.empty()) return make;
    // "Canon" + "Canon EOS R6" reads "Canon EOS R6".
    if (model.size() >= make.size() && strncasecmp(model.c_str(), make.c_str(), make.size()) == 0) return model;
    return make + " " + model;
  }
  return {};
}

std::string MajorBrand(const AVFormatContext* context) {
  const char* brand = Tag(context->metadata, "major_brand");
  return brand == nullptr ? std::string() : std::string(brand);
}

// The Matroska doc type "webm" in the EBML header at the file's start.
bool MatroskaDocTypeWebm(const TVideoInputState* state) {
  for (size_t i = 0; i + 3 <= state->head_size; ++i) {
    if (static_cast<uint8_t>(state->head[i]) == 0x42 && static_cast<uint8_t>(state->head[i + 1]) == 0x82) {
      const uint8_t size = static_cast<uint8_t>(state->head[i + 2]);
      return size == 0x84 && i + 7 <= state->head_size && std::memcmp(state->head + i + 3, "webm", 4) == 0;
    }
  }
  return false;
}

bool IsOneOf(const std::string& name, std::initializer_list<const char*> names) {
  for (const char* candidate : names) {
    if (name == candidate) return true;
  }
  return false;
}

void FillContainerFacts(AVFormatContext* context, TVideoFacts* facts) {
  const std::string demuxer = context->iformat != nullptr ? context->iformat->name : "";
  facts->container = demuxer;
  bool mp4 = false;
  bool webm = false;
  if (demuxer.rfind("mov", 0) == 0) {
    const std::string brand = MajorBrand(context);
    if (brand.rfind("qt", 0) == 0) {
      facts->mime_type = "video/quicktime";
    } else if (brand.rfind("3g2", 0) == 0) {
      facts->mime_type = "video/3gpp2";
    } else if (brand.rfind("3g", 0) == 0) {
      facts->mime_type = "video/3gpp";
    } else {
      facts->mime_type = "video/mp4";
      mp4 = true;
    }
  } else if (demuxer.rfind("matroska", 0) == 0) {
    webm = MatroskaDocTypeWebm(StateOf(context));
    facts->mime_type = webm ? "video/webm" : "video/x-matroska";
  } else if (demuxer == "avi") {
    facts->mime_type = "video/x-msvideo";
  } else if (demuxer == "mpegts") {
    facts->mime_type = "video/mp2t";
  }
  const std::string& video = facts->video_codec;
  const std::string& audio = facts->audio_codec;
  if (mp4) {
    facts->browser_playable = IsOneOf(video, {"h264", "av1"}) && (audio.empty() || IsOneOf(audio, {"aac", "opus", "mp3"}));
  } else if (webm) {
    facts->browser_playable = IsOneOf(video, {"vp8", "vp9", "av1"}) && (audio.empty() || IsOneOf(audio, {"opus", "vorbis"}));
  }
}

int32_t FillFacts(AVFormatContext* context, int video_index, TVideoFacts* facts) {
  const AVStream* video = context->streams[video_index];
  const AVCodecParameters* parameters = video->codecpar;
  facts->coded_width = parameters->width;
  facts->coded_height = parameters->height;
  facts->rotation = StreamRotation(video);
  const AVRational aspect = av_guess_sample_aspect_ratio(context, const_cast<AVStream*>(video), nullptr);
  if (!ShownSize(parameters->width, parameters->height, aspect, facts->rotation, &facts->width, &facts->height)) {
    facts->width = facts->height = 0;
  }
  if (video->duration != AV_NOPTS_VALUE && video->duration > 0 && video->time_base.den > 0) {
    facts->duration_ms = av_rescale_q(video->duration, video->time_base, AVRational{1, 1000});
  } else if (context->duration != AV_NOPTS_VALUE && context->duration > 0) {
    facts->duration_ms = av_rescale(context->duration, 1000, AV_TIME_BASE);
  }
  facts->video_codec = avcodec_get_name(parameters->codec_id);
  const int audio_index = av_find_best_stream(context, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  if (audio_index >= 0) facts->audio_codec = avcodec_get_name(context->streams[audio_index]->codecpar->codec_id);
  FillContainerFacts(context, facts);
  facts->date_recorded = DateTimeText(ClipTag(context, video, "com.apple.quicktime.creationdate"));
  if (facts->date_recorded.empty()) facts->date_recorded = DateTimeText(ClipTag(context, video, "creation_time"));
  facts->camera = CameraText(context, video);
  return kLoadOk;
}

// An allowed decoder of the codec, or null.
const AVCodec* AllowedDecoder(AVCodecID id) {
  const AVCodec* preferred = avcodec_find_decoder(id);
  if (preferred != nullptr && VideoDecoderAllowed(preferred->name)) return preferred;
  void* iterator = nullptr;
  while (const AVCodec* codec = av_codec_iterate(&iterator)) {
    if (codec->id == id && av_codec_is_decoder(codec) && VideoDecoderAllowed(codec->name) &&
        (codec->capabilities & AV_CODEC_CAP_EXPERIMENTAL) == 0) {
      return codec;
    }
  }
  return nullptr;
}

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

bool VideoDecoderAllowed(const char* codec_name) {
  if (codec_name == nullptr) return false;
  for (const char* name : kAllowedDecoders) {
    if (std::strcmp(name, codec_name) == 0) return true;
  }
  return false;
}

const char* VideoCodeText(int32_t code) {
  switch (code) {
    case kLoadOk: return "ok";
    case kLoadCannotOpen: return "cannot open the file";
    case kLoadPathTooLong: return "path too long";
    case kVideoNotVideo: return "not a video";
    case kVideoNoDecoder: return "video codec not supported";
    case kVideoDamaged: return "damaged or truncated video";
    case kVideoOverLimits: return "video frame too large";
    case kVideoTimedOut: return "video took too long to decode";
    case kVideoNoMemory: return "not enough memory for the video frame";
    default: return "video read failed";
  }
}

void CloseVideoInput(AVFormatContext** context) {
  if (context == nullptr || *context == nullptr) return;
  TVideoInputState* state = StateOf(*context);
  AVIOContext* io = (*context)->pb;
  avformat_close_input(context);  // a custom AVIOContext stays ours to free
  if (io != nullptr) {
    av_freep(&io->buffer);
    avio_context_free(&io);
  }
  if (state != nullptr) {
    if (state->file != nullptr) std::fclose(state->file);
    delete state;
  }
  *context = nullptr;
}

int32_t OpenVideoInput(const char* path, double max_cpu_seconds, AVFormatContext** context) {
  if (context == nullptr) return kLoadCannotOpen;
  *context = nullptr;
  if (path == nullptr) return kLoadCannotOpen;
  if (LoadPathTooLong(path)) return kLoadPathTooLong;
  QuietLogOnce();

  auto* state = new (std::nothrow) TVideoInputState;
  if (state == nullptr) return kVideoNoMemory;
  state->cpu_cap = max_cpu_seconds > 0 ? max_cpu_seconds : 0;
  state->cpu_start = ClockSeconds(CLOCK_THREAD_CPUTIME_ID);
  state->wall_start = ClockSeconds(CLOCK_MONOTONIC);
  state->file = OpenRegularFileForReading(path);
  if (state->file == nullptr) {
    delete state;
    return kLoadCannotOpen;
  }
  struct stat info {};
  if (::fstat(fileno(state->file), &info) != 0) {
    std::fclose(state->file);
    delete state;
    return kLoadCannotOpen;
  }
  state->size = static_cast<int64_t>(info.st_size);
  state->head_size = std::fread(state->head, 1, sizeof(state->head), state->file);
  if (std::ferror(state->file) != 0) {
    // A folder opened on some systems, or an unreadable file.
    std::fclose(state->file);
    delete state;
    return kLoadCannotOpen;
  }
  std::rewind(state->file);
  if (state->size == 0 || state->head_size == 0) {
    std::fclose(state->file);
    delete state;
    return kVideoNotVideo;
  }

  AVFormatContext* format = avformat_alloc_context();
  auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBufferSize));
  AVIOContext* io = buffer != nullptr ? avio_alloc_context(buffer, kIoBufferSize, 0, state, ReadPacket, nullptr, SeekPacket)
                                      : nullptr;
  if (format == nullptr || io == nullptr) {
    if (io == nullptr) av_free(buffer);
    else {
      av_freep(&io->buffer);
      avio_context_free(&io);
    }
    avformat_free_context(format);
    std::fclose(state->file);
    delete state;
    return kVideoNoMemory;
  }
  format->pb = io;
  format->flags |= AVFMT_FLAG_CUSTOM_IO;
  format->opaque = state;
  format->interrupt_callback.callback = InterruptCallback;
  format->interrupt_callback.opaque = state;
  format->probesize = kProbeBytes;
  format->max_analyze_duration = kAnalyzeMicroseconds;

  AVDictionary* options = nullptr;
  const std::string decoders = DecoderList();
  av_dict_set(&options, "format_whitelist", kAllowedDemuxers, 0);
  av_dict_set(&options, "codec_whitelist", decoders.c_str(), 0);
  // No demuxer may open another file or protocol: none is on this list.
  av_dict_set(&options, "protocol_whitelist", "none", 0);
  av_dict_set(&options, "protocol_blacklist", "all", 0);
  av_dict_set(&options, "enable_drefs", "0", 0);
  av_dict_set(&options, "use_absolute_path", "0", 0);

  // The demuxer is probed here so that a file no allowed demuxer takes (not a
  // video) is told apart from one an allowed demuxer takes but cannot read
  // (damaged or truncated).
  const AVInputFormat* demuxer = nullptr;
  int result = av_probe_input_buffer2(io, &demuxer, "", nullptr, 0, static_cast<unsigned>(kProbeBytes));
  if (result < 0 || demuxer == nullptr || av_match_list(demuxer->name, kAllowedDemuxers, ',') <= 0) {
    av_dict_free(&options);
    avformat_free_context(format);
    av_freep(&io->buffer);
    avio_context_free(&io);
    const bool timed_out = state->timed_out;
    std::fclose(state->file);
    delete state;
    if (timed_out) return kVideoTimedOut;
    return result == AVERROR(ENOMEM) ? kVideoNoMemory : kVideoNotVideo;
  }

  // On failure avformat_open_input frees the format context (not our AVIO context).
  AVFormatContext* opened = format;
  result = avformat_open_input(&opened, nullptr, demuxer, &options);
  av_dict_free(&options);
  if (result < 0) {
    av_freep(&io->buffer);
    avio_context_free(&io);
    const bool timed_out = state->timed_out;
    std::fclose(state->file);
    delete state;
    if (timed_out) return kVideoTimedOut;
    return result == AVERROR(ENOMEM) ? kVideoNoMemory : kVideoDamaged;
  }
  *context = opened;

  // Stream parameters; decoders only from the allowed list (codec_whitelist
  // applies to the decoders this opens), single-threaded.
  AVDictionary** stream_options = static_cast<AVDictionary**>(av_calloc(opened->nb_streams > 0 ? opened->nb_streams : 1,
                                                                        sizeof(AVDictionary*)));
  if (stream_options == nullptr) {
    CloseVideoInput(context);
    return kVideoNoMemory;
  }
  for (unsigned i = 0; i < opened->nb_streams; ++i) {
    av_dict_set(&stream_options[i], "threads", "1", 0);
  }
  result = avformat_find_stream_info(opened, stream_options);
  for (unsigned i = 0; i < opened->nb_streams; ++i) av_dict_free(&stream_options[i]);
  av_free(stream_options);
  if (state->timed_out) {
    CloseVideoInput(context);
    return kVideoTimedOut;
  }
  if (result < 0) {
    CloseVideoInput(context);
    return result == AVERROR(ENOMEM) ? kVideoNoMemory : kVideoDamaged;
  }
  if (FindVideoStream(opened) < 0) {
    CloseVideoInput(context);
    return kVideoNotVideo;
  }
  return kLoadOk;
}

bool VideoInputTimedOut(AVFormatContext* context) {
  TVideoInputState* state = StateOf(context);
  return state != nullptr && CapsPassed(state);
}

int32_t ReadVideoFacts(const char* path, TVideoFacts* facts) {
  if (facts == nullptr) return kLoadCannotOpen;
  *facts = TVideoFacts{};
  AVFormatContext* context = nullptr;
  const int32_t code = OpenVideoInput(path, TVideoLimits{}.max_cpu_seconds, &context);
  if (code != kLoadOk) return code;
  const int32_t result = FillFacts(context, FindVideoStream(context), facts);
  CloseVideoInput(&context);
  return result;
}

int32_t ReadVideoPoster(const char* path, const TVideoLimits& limits, TVideoFacts* facts, TMemBitmap* poster) {
  if (poster != nullptr) BitmapClear(*poster);
  if (facts == nullptr || poster == nullptr) return kLoadCannotOpen;
  *facts = TVideoFacts{};
  TPosterDecode decode;
  int32_t code = OpenVideoInput(path, limits.max_cpu_seconds, &decode.input);
  if (code != kLoadOk) return code;
  const int video_index = FindVideoStream(decode.input);
  AVStream* stream = decode.input->streams[video_index];
  FillFacts(decode.input, video_index, facts);
  if (OverPixelCap(facts->coded_width, facts->coded_height, limits.max_frame_pixels) ||
      OverPixelCap(facts->width, facts->height, limits.max_frame_pixels)) {
    return kVideoOverLimits;
  }
  const AVCodec* decoder = AllowedDecoder(stream->codecpar->codec_id);
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
    if (!ShownSize(chosen->width, chosen->height, aspect, facts->rotation, &facts->width, &facts->height)) {
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
