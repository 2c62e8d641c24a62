#include "engine/modern/web_video.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/display.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include "engine/modern/web_video_output.h"
#include "engine/run/run_report.h"
#include "imagein/video.h"

namespace {

using TClock = std::chrono::steady_clock;

constexpr const char* kDamaged = "damaged or truncated video";
constexpr int kAudioBitRate = 128000;
constexpr int64_t kProgressStep = 200;  // milliseconds of the clip between progress calls
constexpr size_t kMaxHeldDurations = 512;

// What ends a copy early: the run's stop and the time cap. Asked between
// packets and by the demuxer while it waits on a read.
struct TCopyWatch {
  const std::atomic<bool>* stop = nullptr;
  TClock::time_point deadline = TClock::time_point::max();
  AVIOInterruptCB input_check = {nullptr, nullptr};  // the input's own caps, asked as well

  bool Stopped() const { return stop && stop->load(std::memory_order_relaxed); }
  bool TimedOut() const { return TClock::now() > deadline; }
  const char* Why() const { return Stopped() ? "stopped" : TimedOut() ? "took too long" : nullptr; }
};

int InterruptCopy(void* opaque) {
  const auto* watch = static_cast<const TCopyWatch*>(opaque);
  if (watch->Why()) return 1;
  return watch->input_check.callback ? watch->input_check.callback(watch->input_check.opaque) : 0;
}

// Everything FFmpeg hands out for one copy, freed in one place.
struct TCopyContexts {
  AVFormatContext* input = nullptr;
  AVFormatContext* output = nullptr;
  AVCodecContext* video_decoder = nullptr;
  AVCodecContext* video_encoder = nullptr;
  AVCodecContext* audio_decoder = nullptr;
  AVCodecContext* audio_encoder = nullptr;
  SwsContext* scaler = nullptr;
  SwrContext* resampler = nullptr;
  AVChannelLayout resampled_layout = {};  // the sound the resampler is set for
  AVSampleFormat resampled_format = AV_SAMPLE_FMT_NONE;
  int resampled_rate = 0;
  AVAudioFifo* fifo = nullptr;
  AVFrame* frame = nullptr;
  AVFrame* scaled = nullptr;
  AVFrame* audio_frame = nullptr;
  AVPacket* packet = nullptr;
  AVPacket* encoded = nullptr;

  ~TCopyContexts() {
    av_packet_free(&encoded);
    av_packet_free(&packet);
    av_frame_free(&audio_frame);
    av_frame_free(&scaled);
    av_frame_free(&frame);
    if (fifo) av_audio_fifo_free(fifo);
    swr_free(&resampler);
    av_channel_layout_uninit(&resampled_layout);
    sws_freeContext(scaler);
    avcodec_free_context(&audio_encoder);
    avcodec_free_context(&audio_decoder);
    avcodec_free_context(&video_encoder);
    avcodec_free_context(&video_decoder);
    if (output) avformat_free_context(output);
    CloseVideoInput(&input);
  }
};

// Rounds to an even size of at least 2 (4:2:0 wants even sides).
int EvenSize(double size) {
  const int even = static_cast<int>(std::lround(size / 2.0)) * 2;
  return std::max(2, even);
}

class TWebVideoCopy {
 public:
  TWebVideoCopy(const TWebVideoOptions& options, TWebVideoOutput* out) : options_(options), out_(out) {}

  bool Run(const char* source, std::string* reason);

 private:
  bool Fail(const char* why) {
    if (reason_.empty()) reason_ = why;
    return false;
  }
  // A failed FFmpeg call of the output side: the file's own error first.
  bool FailOutput(int code);
  bool FailEarlyEnd();

  bool OpenSource(const char* source);
  bool OpenVideoDecoder();
  void OpenAudioDecoder();
  bool OpenVideoEncoder();
  bool OpenAudioEncoder();
  bool OpenOutput();
  bool SetResampler(const AVChannelLayout* layout, AVSampleFormat format, int rate);
  bool CopyPackets();
  bool Finish();

  bool DecodeVideo(const AVPacket* packet);
  bool EncodeVideoFrame(AVFrame* frame);
  bool DecodeAudio(const AVPacket* packet);
  bool ResampleAudio(const AVFrame* frame);
  bool EncodeAudioFromFifo(bool flush);
  bool Drain(AVCodecContext* encoder, AVStream* stream, const AVFrame* frame);
  void NoteReached(const AVPacket* packet);
  void ReportProgress();

  const TWebVideoOptions& options_;
  TWebVideoOutput* out_;
  TCopyWatch watch_;  // before c_: the input's interrupt callback holds it until the input is closed
  TCopyContexts c_;
  std::string reason_;

  AVStream* in_video_ = nullptr;
  AVStream* in_audio_ = nullptr;
  AVStream* out_video_ = nullptr;
  AVStream* out_audio_ = nullptr;
  int out_width_ = 0;
  int out_height_ = 0;
  int64_t start_us_ = 0;           // the clip's first timestamp: the copy starts at 0
  int64_t duration_ms_ = 0;        // stated by the container; 0 when not known
  int64_t reached_ms_ = 0;         // the furthest timestamp read
  int64_t reported_ms_ = -kProgressStep;
  int64_t last_video_pts_ = AV_NOPTS_VALUE;
  int64_t video_frames_ = 0;
  int64_t next_audio_pts_ = AV_NOPTS_VALUE;  // in samples of the encoder's rate
  std::map<int64_t, int64_t> frame_durations_;  // pts -> duration of frames inside the encoder
};

bool TWebVideoCopy::FailOutput(int code) {
  if (out_->Error() != 0) {
    reason_ = std::string("cannot write: ") + ErrorText(out_->Error());
    return false;
  }
  if (const char* why = watch_.Why()) return Fail(why);
  if (code == AVERROR(ENOMEM)) return Fail("out of memory");
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return Fail((std::string("cannot encode: ") + text).c_str());
}

bool TWebVideoCopy::OpenSource(const char* source) {
  const int32_t code = OpenVideoInput(source, 0, &c_.input);
  if (code != 0) return Fail(VideoCodeText(code));
  AVFormatContext* input = c_.input;
  watch_.input_check = input->interrupt_callback;
  input->interrupt_callback = {InterruptCopy, &watch_};
  start_us_ = input->start_time != AV_NOPTS_VALUE ? input->start_time : 0;
  if (input->duration > 0) duration_ms_ = input->duration / 1000;
  // The time cap: seconds per minute of the clip, at least one minute's worth.
  const double minutes = std::max(1.0, static_cast<double>(duration_ms_) / 60000.0);
  const double cap = options_.seconds_per_minute * minutes;
  if (cap > 0 && cap < 1e9) {
    watch_.deadline = TClock::now() + std::chrono::duration_cast<TClock::duration>(std::chrono::duration<double>(cap));
  }
  const int video = FindVideoStream(input);
  if (video < 0) return Fail(VideoCodeText(kVideoNotVideo));
  in_video_ = input->streams[video];
  for (unsigned i = 0; i < input->nb_streams; ++i) {
    if (input->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
      in_audio_ = input->streams[i];
      break;
    }
  }
  return true;
}

bool TWebVideoCopy::OpenVideoDecoder() {
  const AVCodecParameters* par = in_video_->codecpar;
  const AVCodec* codec = AllowedDecoder(par);
  if (!codec) return Fail(VideoCodeText(kVideoNoDecoder));
  if (par->width <= 0 || par->height <= 0) return Fail(kDamaged);
  if (static_cast<uint64_t>(par->width) * static_cast<uint64_t>(par->height) > TVideoLimits{}.max_frame_pixels) {
    return Fail(VideoCodeText(kVideoOverLimits));
  }
  c_.video_decoder = avcodec_alloc_context3(codec);
  if (!c_.video_decoder) return Fail("out of memory");
  if (avcodec_parameters_to_context(c_.video_decoder, par) < 0) return Fail(kDamaged);
  c_.video_decoder->pkt_timebase = in_video_->time_base;
  c_.video_decoder->thread_count = 0;
  if (avcodec_open2(c_.video_decoder, codec, nullptr) < 0) return Fail(VideoCodeText(kVideoNoDecoder));
  return true;
}

// A sound the copy cannot carry is left out rather than failing the copy.
void TWebVideoCopy::OpenAudioDecoder() {
  if (!in_audio_) return;
  const AVCodec* codec = AllowedDecoder(in_audio_->codecpar);
  AVCodecContext* decoder = codec ? avcodec_alloc_context3(codec) : nullptr;
  if (decoder && avcodec_parameters_to_context(decoder, in_audio_->codecpar) >= 0) {
    decoder->pkt_timebase = in_audio_->time_base;
    if (avcodec_open2(decoder, codec, nullptr) >= 0 && decoder->sample_rate > 0 &&
        decoder->ch_layout.nb_channels > 0) {
      c_.audio_decoder = decoder;
      return;
    }
  }
  avcodec_free_context(&decoder);
  in_audio_ = nullptr;
}

bool TWebVideoCopy::OpenVideoEncoder() {
  const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
  if (!codec) return Fail("no H.264 encoder (libx264)");
  // The shown size: pixel aspect applied; the long side is the same turned or not.
  const AVCodecParameters* par = in_video_->codecpar;
  AVRational aspect = av_guess_sample_aspect_ratio(c_.input, in_video_, nullptr);
  double shown_width = par->width;
  if (aspect.num > 0 && aspect.den > 0) shown_width = par->width * av_q2d(aspect);
  const double shown_height = par->height;
  double scale = 1.0;
  const double long_side = std::max(shown_width, shown_height);
  if (options_.max_long_side > 0 && long_side > options_.max_long_side) scale = options_.max_long_side / long_side;
  out_width_ = EvenSize(shown_width * scale);
  out_height_ = EvenSize(shown_height * scale);
  if (options_.max_long_side > 0) {
    // Rounding to even never takes a side past the cap.
    const int limit = std::max(2, options_.max_long_side & ~1);
    out_width_ = std::min(out_width_, limit);
    out_height_ = std::min(out_height_, limit);
  }

  AVCodecContext* encoder = avcodec_alloc_context3(codec);
  if (!encoder) return Fail("out of memory");
  c_.video_encoder = encoder;
  encoder->width = out_width_;
  encoder->height = out_height_;
  encoder->pix_fmt = AV_PIX_FMT_YUV420P;
  encoder->sample_aspect_ratio = AVRational{1, 1};
  encoder->time_base = in_video_->time_base;  // the source's timestamps as they are: variable rates stay
  const AVRational rate = av_guess_frame_rate(c_.input, in_video_, nullptr);
  if (rate.num > 0 && rate.den > 0) encoder->framerate = rate;
  encoder->thread_count = 0;  // every core
  encoder->color_primaries = par->color_primaries;
  encoder->color_trc = par->color_trc;
  encoder->colorspace = par->color_space;
  encoder->color_range = AVCOL_RANGE_MPEG;
  if (c_.output->oformat->flags & AVFMT_GLOBALHEADER) encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  AVDictionary* settings = nullptr;
  av_dict_set(&settings, "preset", "veryfast", 0);
  av_dict_set(&settings, "crf", "23", 0);
  av_dict_set(&settings, "profile", "high", 0);
  const int opened = avcodec_open2(encoder, codec, &settings);
  av_dict_free(&settings);
  if (opened < 0) return FailOutput(opened);
  return true;
}

bool TWebVideoCopy::OpenAudioEncoder() {
  if (!in_audio_) return true;
  const AVCodec* codec = avcodec_find_encoder_by_name("aac");
  if (!codec) return Fail("no AAC encoder");
  AVCodecContext* encoder = avcodec_alloc_context3(codec);
  if (!encoder) return Fail("out of memory");
  c_.audio_encoder = encoder;
  const int channels = std::min(c_.audio_decoder->ch_layout.nb_channels, 2);
  av_channel_layout_default(&encoder->ch_layout, channels);
  // The source's rate when AAC has it, else 48 kHz.
  int rate = 48000;
  for (const int* r = codec->supported_samplerates; r && *r; ++r) {
    if (*r == c_.audio_decoder->sample_rate) rate = *r;
  }
  encoder->sample_rate = rate;
  encoder->sample_fmt = AV_SAMPLE_FMT_FLTP;
  encoder->bit_rate = kAudioBitRate;
  encoder->time_base = AVRational{1, rate};
  if (c_.output->oformat->flags & AVFMT_GLOBALHEADER) encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  const int opened = avcodec_open2(encoder, codec, nullptr);
  if (opened < 0) return FailOutput(opened);
  if (!SetResampler(&c_.audio_decoder->ch_layout, c_.audio_decoder->sample_fmt, c_.audio_decoder->sample_rate)) {
    return false;
  }
  c_.fifo = av_audio_fifo_alloc(encoder->sample_fmt, channels, std::max(encoder->frame_size, 1024));
  if (!c_.fifo) return Fail("out of memory");
  return true;
}

// (Re)sets the resampler for sound of that layout, format and rate, into the encoder's.
bool TWebVideoCopy::SetResampler(const AVChannelLayout* layout, AVSampleFormat format, int rate) {
  const AVCodecContext* encoder = c_.audio_encoder;
  if (layout->nb_channels <= 0 || rate <= 0 || format == AV_SAMPLE_FMT_NONE ||
      // (FFmpeg 5.1 takes the layouts as non-const; it only reads them.)
      swr_alloc_set_opts2(&c_.resampler, const_cast<AVChannelLayout*>(&encoder->ch_layout), encoder->sample_fmt,
                          encoder->sample_rate, const_cast<AVChannelLayout*>(layout), format, rate, 0, nullptr) < 0 ||
      swr_init(c_.resampler) < 0 || av_channel_layout_copy(&c_.resampled_layout, layout) < 0) {
    return Fail("cannot convert the sound");
  }
  c_.resampled_format = format;
  c_.resampled_rate = rate;
  return true;
}

bool TWebVideoCopy::OpenOutput() {
  if (avformat_alloc_output_context2(&c_.output, nullptr, "mp4", nullptr) < 0 || !c_.output) {
    return Fail("out of memory");
  }
  if (!OpenVideoEncoder() || !OpenAudioEncoder()) return false;
  AVFormatContext* output = c_.output;
  out_->Attach(output);
  out_video_ = avformat_new_stream(output, nullptr);
  if (!out_video_ || avcodec_parameters_from_context(out_video_->codecpar, c_.video_encoder) < 0) {
    return Fail("out of memory");
  }
  out_video_->time_base = c_.video_encoder->time_base;
  // The turn stays a display matrix: the player turns the frames.
  size_t matrix_size = 0;
  const uint8_t* matrix = av_stream_get_side_data(in_video_, AV_PKT_DATA_DISPLAYMATRIX, &matrix_size);
  if (matrix && matrix_size >= 9 * sizeof(int32_t)) {
    uint8_t* kept = av_stream_new_side_data(out_video_, AV_PKT_DATA_DISPLAYMATRIX, 9 * sizeof(int32_t));
    if (!kept) return Fail("out of memory");
    std::memcpy(kept, matrix, 9 * sizeof(int32_t));
  }
  if (c_.audio_encoder) {
    out_audio_ = avformat_new_stream(output, nullptr);
    if (!out_audio_ || avcodec_parameters_from_context(out_audio_->codecpar, c_.audio_encoder) < 0) {
      return Fail("out of memory");
    }
    out_audio_->time_base = c_.audio_encoder->time_base;
  }
  if (const AVDictionaryEntry* created = av_dict_get(c_.input->metadata, "creation_time", nullptr, 0)) {
    av_dict_set(&output->metadata, "creation_time", created->value, 0);
  }
  AVDictionary* settings = nullptr;
  av_dict_set(&settings, "movflags", "+faststart", 0);
  const int written = avformat_write_header(output, &settings);
  av_dict_free(&settings);
  if (written < 0) return FailOutput(written);
  return true;
}

void TWebVideoCopy::NoteReached(const AVPacket* packet) {
  const AVStream* stream = c_.input->streams[packet->stream_index];
  int64_t at = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
  if (at == AV_NOPTS_VALUE) return;
  if (packet->duration > 0) at += packet->duration;
  const int64_t ms = av_rescale_q(at, stream->time_base, AVRational{1, 1000}) - start_us_ / 1000;
  reached_ms_ = std::max(reached_ms_, ms);
}

void TWebVideoCopy::ReportProgress() {
  if (!options_.progress || duration_ms_ <= 0 || reached_ms_ < reported_ms_ + kProgressStep) return;
  reported_ms_ = reached_ms_;
  options_.progress(std::clamp(static_cast<double>(reached_ms_) / static_cast<double>(duration_ms_), 0.0, 1.0));
}

bool TWebVideoCopy::Drain(AVCodecContext* encoder, AVStream* stream, const AVFrame* frame) {
  int sent = avcodec_send_frame(encoder, frame);
  if (sent < 0 && sent != AVERROR_EOF) return FailOutput(sent);
  while (true) {
    const int got = avcodec_receive_packet(encoder, c_.encoded);
    if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) return true;
    if (got < 0) return FailOutput(got);
    if (encoder == c_.video_encoder && c_.encoded->duration <= 0) {
      // The encoder keeps no durations: the frame's own, so that the last frame keeps its length.
      const auto found = frame_durations_.find(c_.encoded->pts);
      if (found != frame_durations_.end()) {
        c_.encoded->duration = found->second;
        frame_durations_.erase(found);
      }
    }
    c_.encoded->stream_index = stream->index;
    av_packet_rescale_ts(c_.encoded, encoder->time_base, stream->time_base);
    const int written = av_interleaved_write_frame(c_.output, c_.encoded);
    if (written < 0) return FailOutput(written);
  }
}

bool TWebVideoCopy::EncodeVideoFrame(AVFrame* frame) {
  int64_t pts = frame->best_effort_timestamp;
  if (pts == AV_NOPTS_VALUE) pts = last_video_pts_ == AV_NOPTS_VALUE ? 0 : last_video_pts_ + std::max<int64_t>(frame->pkt_duration, 1);
  else pts -= av_rescale_q(start_us_, AV_TIME_BASE_Q, in_video_->time_base);
  // A frame at or before the last one cannot follow it in the copy.
  if (last_video_pts_ != AV_NOPTS_VALUE && pts <= last_video_pts_) return true;
  if (pts < 0 && last_video_pts_ == AV_NOPTS_VALUE) pts = 0;
  last_video_pts_ = pts;
  if (frame->width <= 0 || frame->height <= 0 ||
      static_cast<uint64_t>(frame->width) * static_cast<uint64_t>(frame->height) > TVideoLimits{}.max_frame_pixels) {
    return Fail(kDamaged);
  }
  c_.scaler = sws_getCachedContext(c_.scaler, frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
                                   out_width_, out_height_, AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr, nullptr, nullptr);
  if (!c_.scaler) return Fail("cannot convert the frames");
  AVFrame* scaled = c_.scaled;
  if (!scaled->data[0]) {
    scaled->format = AV_PIX_FMT_YUV420P;
    scaled->width = out_width_;
    scaled->height = out_height_;
    if (av_frame_get_buffer(scaled, 0) < 0) return Fail("out of memory");
  }
  // The encoder may still hold the last frame's buffer.
  if (av_frame_make_writable(scaled) < 0) return Fail("out of memory");
  sws_scale(c_.scaler, frame->data, frame->linesize, 0, frame->height, scaled->data, scaled->linesize);
  scaled->pts = pts;
  scaled->pict_type = AV_PICTURE_TYPE_NONE;
  if (frame->pkt_duration > 0) {
    // Only the frames inside the encoder's delay are wanted: the map stays small.
    if (frame_durations_.size() >= kMaxHeldDurations) frame_durations_.erase(frame_durations_.begin());
    frame_durations_[pts] = frame->pkt_duration;
  }
  ++video_frames_;
  return Drain(c_.video_encoder, out_video_, scaled);
}

bool TWebVideoCopy::DecodeVideo(const AVPacket* packet) {
  const int sent = avcodec_send_packet(c_.video_decoder, packet);
  // A damaged packet is skipped; whether the clip as a whole is whole is judged at its end.
  if (sent < 0 && sent != AVERROR_INVALIDDATA && sent != AVERROR_EOF && sent != AVERROR(EAGAIN)) {
    if (sent == AVERROR(ENOMEM)) return Fail("out of memory");
  }
  while (true) {
    const int got = avcodec_receive_frame(c_.video_decoder, c_.frame);
    if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) return true;
    if (got < 0) {
      if (got == AVERROR(ENOMEM)) return Fail("out of memory");
      continue;
    }
    const bool ok = EncodeVideoFrame(c_.frame);
    av_frame_unref(c_.frame);
    if (!ok) return false;
  }
}

bool TWebVideoCopy::ResampleAudio(const AVFrame* frame) {
  const AVCodecContext* encoder = c_.audio_encoder;
  if (next_audio_pts_ == AV_NOPTS_VALUE) {
    // The sound starts where the source's does: its first timestamp, in samples.
    next_audio_pts_ = 0;
    if (frame && frame->best_effort_timestamp != AV_NOPTS_VALUE) {
      const int64_t at = av_rescale_q(frame->best_effort_timestamp, in_audio_->time_base, encoder->time_base) -
                         av_rescale_q(start_us_, AV_TIME_BASE_Q, encoder->time_base);
      next_audio_pts_ = std::max<int64_t>(at, 0);
    }
  }
  // A stream whose sound changes its channels or rate midway: the resampler follows.
  if (frame && (frame->format != c_.resampled_format || frame->sample_rate != c_.resampled_rate ||
                av_channel_layout_compare(&frame->ch_layout, &c_.resampled_layout) != 0)) {
    if (!SetResampler(&frame->ch_layout, static_cast<AVSampleFormat>(frame->format), frame->sample_rate)) return false;
  }
  const int in_samples = frame ? frame->nb_samples : 0;
  const int room = swr_get_out_samples(c_.resampler, in_samples);
  if (room < 0) return Fail("cannot convert the sound");
  if (room == 0) return true;
  AVFrame* converted = c_.audio_frame;
  av_frame_unref(converted);
  converted->format = encoder->sample_fmt;
  converted->nb_samples = room;
  converted->sample_rate = encoder->sample_rate;
  if (av_channel_layout_copy(&converted->ch_layout, &encoder->ch_layout) < 0 ||
      av_frame_get_buffer(converted, 0) < 0) {
    return Fail("out of memory");
  }
  const int made = swr_convert(c_.resampler, converted->extended_data, room,
                               frame ? const_cast<const uint8_t**>(frame->extended_data) : nullptr, in_samples);
  if (made < 0) return Fail("cannot convert the sound");
  if (made > 0 && av_audio_fifo_write(c_.fifo, reinterpret_cast<void**>(converted->extended_data), made) < made) {
    return Fail("out of memory");
  }
  av_frame_unref(converted);
  return EncodeAudioFromFifo(frame == nullptr);
}

// Hands the encoder whole frames of its size from the FIFO; with `flush`, the rest too.
bool TWebVideoCopy::EncodeAudioFromFifo(bool flush) {
  AVCodecContext* encoder = c_.audio_encoder;
  const int frame_size = encoder->frame_size > 0 ? encoder->frame_size : 1024;
  while (av_audio_fifo_size(c_.fifo) >= frame_size || (flush && av_audio_fifo_size(c_.fifo) > 0)) {
    const int take = std::min(av_audio_fifo_size(c_.fifo), frame_size);
    AVFrame* out = c_.audio_frame;
    av_frame_unref(out);
    out->format = encoder->sample_fmt;
    out->sample_rate = encoder->sample_rate;
    const bool small_last = (encoder->codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME) != 0;
    out->nb_samples = small_last ? take : frame_size;
    if (av_channel_layout_copy(&out->ch_layout, &encoder->ch_layout) < 0 || av_frame_get_buffer(out, 0) < 0) {
      return Fail("out of memory");
    }
    if (take < out->nb_samples) {
      av_samples_set_silence(out->extended_data, 0, out->nb_samples, out->ch_layout.nb_channels,
                             encoder->sample_fmt);
    }
    if (av_audio_fifo_read(c_.fifo, reinterpret_cast<void**>(out->extended_data), take) < take) {
      return Fail("cannot convert the sound");
    }
    out->pts = next_audio_pts_;
    next_audio_pts_ += out->nb_samples;
    if (!Drain(encoder, out_audio_, out)) return false;
    av_frame_unref(out);
  }
  return true;
}

bool TWebVideoCopy::DecodeAudio(const AVPacket* packet) {
  const int sent = avcodec_send_packet(c_.audio_decoder, packet);
  if (sent == AVERROR(ENOMEM)) return Fail("out of memory");
  while (true) {
    const int got = avcodec_receive_frame(c_.audio_decoder, c_.frame);
    if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) return true;
    if (got < 0) {
      if (got == AVERROR(ENOMEM)) return Fail("out of memory");
      continue;
    }
    const bool ok = ResampleAudio(c_.frame);
    av_frame_unref(c_.frame);
    if (!ok) return false;
  }
}

bool TWebVideoCopy::FailEarlyEnd() {
  if (const char* why = watch_.Why()) return Fail(why);
  return Fail(kDamaged);
}

bool TWebVideoCopy::CopyPackets() {
  AVPacket* packet = c_.packet;
  while (true) {
    if (const char* why = watch_.Why()) return Fail(why);
    const int read = av_read_frame(c_.input, packet);
    if (read == AVERROR_EOF) return true;
    if (read < 0) {
      // A read error ends the clip: what came before it is judged like a short clip.
      if (watch_.Why()) return FailEarlyEnd();
      return true;
    }
    bool ok = true;
    if (packet->stream_index == in_video_->index) {
      NoteReached(packet);
      ok = DecodeVideo(packet);
    } else if (in_audio_ && packet->stream_index == in_audio_->index) {
      NoteReached(packet);
      ok = DecodeAudio(packet);
    }
    av_packet_unref(packet);
    if (!ok) return false;
    ReportProgress();
  }
}

bool TWebVideoCopy::Finish() {
  if (!DecodeVideo(nullptr)) return false;
  if (c_.audio_decoder && (!DecodeAudio(nullptr) || !ResampleAudio(nullptr))) return false;
  if (video_frames_ == 0) return Fail(kDamaged);
  // Ending well before the stated duration: the file was cut short.
  if (duration_ms_ > 0 && reached_ms_ + std::max<int64_t>(500, duration_ms_ / 20) < duration_ms_) {
    return Fail(kDamaged);
  }
  if (!Drain(c_.video_encoder, out_video_, nullptr)) return false;
  if (c_.audio_encoder && !Drain(c_.audio_encoder, out_audio_, nullptr)) return false;
  if (const char* why = watch_.Why()) return Fail(why);
  const int trailer = av_write_trailer(c_.output);
  if (trailer < 0) return FailOutput(trailer);
  if (options_.progress) options_.progress(1.0);
  return true;
}

bool TWebVideoCopy::Run(const char* source, std::string* reason) {
  watch_.stop = options_.stop;
  const bool done = [&] {
    if (const char* why = watch_.Why()) return Fail(why);
    if (!OpenSource(source) || !OpenVideoDecoder()) return false;
    OpenAudioDecoder();
    c_.frame = av_frame_alloc();
    c_.scaled = av_frame_alloc();
    c_.audio_frame = av_frame_alloc();
    c_.packet = av_packet_alloc();
    c_.encoded = av_packet_alloc();
    if (!c_.frame || !c_.scaled || !c_.audio_frame || !c_.packet || !c_.encoded) return Fail("out of memory");
    if (!out_->Open()) return FailOutput(AVERROR(EIO));
    if (!OpenOutput()) return false;
    return CopyPackets() && Finish();
  }();
  if (!done) {
    if (reason) *reason = reason_.empty() ? kDamaged : reason_;
    return false;
  }
  return true;
}

}  // namespace

bool MakeWebVideo(const char* source, const char* target, const TWebVideoOptions& options, std::string* reason) {
  if (reason) reason->clear();
  TWebVideoOutput out(target);
  bool made = false;
  {
    TWebVideoCopy copy(options, &out);
    made = copy.Run(source, reason);
  }
  if (!made) return false;
  if (!out.Commit()) {
    if (reason) *reason = std::string("cannot write: ") + ErrorText(out.Error() != 0 ? out.Error() : EIO);
    return false;
  }
  return true;
}
