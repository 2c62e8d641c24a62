// The one open of a video file: read by us through a custom I/O context,
// an allowed list of demuxers and decoders, bounded probing and the caps of
// an interrupt callback; the names of the allowed decoders and result codes.

#include <strings.h>
#include <sys/stat.h>
#include <time.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avstring.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
}

#include "imagein/load_codes.h"
#include "imagein/load_path.h"
#include "imagein/video.h"
#include "imagein/video_parts.h"
#include "support/path_util.h"

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
  // Demuxers that do not ask the interrupt callback while they parse a header
  // still read: the caps hold there too.
  if (CapsPassed(state)) return AVERROR_EXIT;
  if (size <= 0) return 0;
  const size_t got = std::fread(buffer, 1, static_cast<size_t>(size), state->file);
  if (got == 0) return std::ferror(state->file) ? AVERROR(EIO) : AVERROR_EOF;
  return static_cast<int>(got);
}

int64_t SeekPacket(void* opaque, int64_t offset, int whence) {
  auto* state = static_cast<TVideoInputState*>(opaque);
  if (CapsPassed(state)) return AVERROR_EXIT;
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

// The Matroska doc type "webm" in the EBML header at the file's start.
bool DocTypeWebm(const TVideoInputState* state) {
  for (size_t i = 0; i + 3 <= state->head_size; ++i) {
    if (static_cast<uint8_t>(state->head[i]) == 0x42 && static_cast<uint8_t>(state->head[i + 1]) == 0x82) {
      const uint8_t size = static_cast<uint8_t>(state->head[i + 2]);
      return size == 0x84 && i + 7 <= state->head_size && std::memcmp(state->head + i + 3, "webm", 4) == 0;
    }
  }
  return false;
}

}  // namespace

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

bool VideoInputWebm(AVFormatContext* context) {
  const TVideoInputState* state = StateOf(context);
  return state != nullptr && DocTypeWebm(state);
}

bool VideoDecoderAllowed(const char* codec_name) {
  if (codec_name == nullptr) return false;
  for (const char* name : kAllowedDecoders) {
    if (std::strcmp(name, codec_name) == 0) return true;
  }
  return false;
}

const AVCodec* AllowedDecoder(const AVCodecParameters* parameters) {
  if (parameters == nullptr) return nullptr;
  const AVCodec* preferred = avcodec_find_decoder(parameters->codec_id);
  if (preferred != nullptr && VideoDecoderAllowed(preferred->name)) return preferred;
  void* iterator = nullptr;
  while (const AVCodec* codec = av_codec_iterate(&iterator)) {
    if (codec->id == parameters->codec_id && av_codec_is_decoder(codec) && VideoDecoderAllowed(codec->name) &&
        (codec->capabilities & AV_CODEC_CAP_EXPERIMENTAL) == 0) {
      return codec;
    }
  }
  return nullptr;
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

  // What the open holds until the format context owns it; freed on every failure.
  struct TOpening {
    TVideoInputState* state = nullptr;
    AVIOContext* io = nullptr;
    AVFormatContext* format = nullptr;
    AVDictionary* options = nullptr;
    ~TOpening() {
      av_dict_free(&options);
      avformat_free_context(format);
      if (io != nullptr) av_freep(&io->buffer);
      avio_context_free(&io);
      if (state != nullptr && state->file != nullptr) std::fclose(state->file);
      delete state;
    }
    int32_t Failed(int result, int32_t code) const {
      if (state->timed_out) return kVideoTimedOut;
      return result == AVERROR(ENOMEM) ? kVideoNoMemory : code;
    }
  } opening;

  opening.state = new (std::nothrow) TVideoInputState;
  TVideoInputState* state = opening.state;
  if (state == nullptr) return kVideoNoMemory;
  state->cpu_cap = max_cpu_seconds > 0 ? max_cpu_seconds : 0;
  state->cpu_start = ClockSeconds(CLOCK_THREAD_CPUTIME_ID);
  state->wall_start = ClockSeconds(CLOCK_MONOTONIC);
  state->file = OpenRegularFileForReading(path);
  if (state->file == nullptr) return kLoadCannotOpen;
  struct stat info {};
  if (::fstat(fileno(state->file), &info) != 0) return kLoadCannotOpen;
  state->size = static_cast<int64_t>(info.st_size);
  state->head_size = std::fread(state->head, 1, sizeof(state->head), state->file);
  if (std::ferror(state->file) != 0) return kLoadCannotOpen;  // unreadable after all
  std::rewind(state->file);
  if (state->size == 0 || state->head_size == 0) return kVideoNotVideo;

  auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBufferSize));
  if (buffer == nullptr) return kVideoNoMemory;
  opening.io = avio_alloc_context(buffer, kIoBufferSize, 0, state, ReadPacket, nullptr, SeekPacket);
  if (opening.io == nullptr) {
    av_free(buffer);
    return kVideoNoMemory;
  }
  opening.format = avformat_alloc_context();
  if (opening.format == nullptr) return kVideoNoMemory;
  AVFormatContext* format = opening.format;
  format->pb = opening.io;
  format->flags |= AVFMT_FLAG_CUSTOM_IO;
  format->opaque = state;
  format->interrupt_callback.callback = InterruptCallback;
  format->interrupt_callback.opaque = state;
  format->probesize = kProbeBytes;
  format->max_analyze_duration = kAnalyzeMicroseconds;

  const std::string decoders = DecoderList();
  av_dict_set(&opening.options, "format_whitelist", kAllowedDemuxers, 0);
  av_dict_set(&opening.options, "codec_whitelist", decoders.c_str(), 0);
  // No demuxer may open another file or protocol: none is on this list.
  av_dict_set(&opening.options, "protocol_whitelist", "none", 0);
  av_dict_set(&opening.options, "enable_drefs", "0", 0);
  av_dict_set(&opening.options, "use_absolute_path", "0", 0);
  av_dict_set(&opening.options, "max_streams", "100", 0);

  // The demuxer is probed here so that a file no allowed demuxer takes (not a
  // video) is told apart from one an allowed demuxer takes but cannot read
  // (damaged or truncated).
  const AVInputFormat* demuxer = nullptr;
  int result = av_probe_input_buffer2(opening.io, &demuxer, "", nullptr, 0, static_cast<unsigned>(kProbeBytes));
  if (result < 0 || demuxer == nullptr || av_match_list(demuxer->name, kAllowedDemuxers, ',') <= 0) {
    return opening.Failed(result, kVideoNotVideo);
  }
  // avformat_open_input frees the format context when it fails (never our I/O context).
  opening.format = nullptr;
  result = avformat_open_input(&format, nullptr, demuxer, &opening.options);
  if (result < 0) return opening.Failed(result, kVideoDamaged);
  // From here CloseVideoInput frees it all.
  *context = format;
  opening.state = nullptr;
  opening.io = nullptr;

  // Stream parameters; decoders only from the allowed list (codec_whitelist
  // applies to the decoders this opens), single-threaded.
  const unsigned streams = format->nb_streams;
  auto** stream_options = static_cast<AVDictionary**>(av_calloc(streams > 0 ? streams : 1, sizeof(AVDictionary*)));
  if (stream_options == nullptr) {
    CloseVideoInput(context);
    return kVideoNoMemory;
  }
  for (unsigned i = 0; i < streams; ++i) av_dict_set(&stream_options[i], "threads", "1", 0);
  result = avformat_find_stream_info(format, stream_options);
  for (unsigned i = 0; i < streams; ++i) av_dict_free(&stream_options[i]);
  av_free(stream_options);
  int32_t code = kLoadOk;
  if (state->timed_out) {
    code = kVideoTimedOut;
  } else if (result < 0) {
    code = result == AVERROR(ENOMEM) ? kVideoNoMemory : kVideoDamaged;
  } else if (FindVideoStream(format) < 0) {
    code = kVideoNotVideo;
  }
  if (code != kLoadOk) CloseVideoInput(context);
  return code;
}

bool VideoInputTimedOut(AVFormatContext* context) {
  TVideoInputState* state = StateOf(context);
  return state != nullptr && CapsPassed(state);
}

