#pragma once
// Videos: what a clip's container tells (size, turn, duration, codecs, date,
// camera) and its poster frame, read through FFmpeg's libraries. A video is
// outside input like any image: the file is opened by us and read only as
// itself (no other protocol, no playlist or concat script), the demuxers and
// decoders are a fixed list, probing is bounded, and decoding a poster stops
// at a pixel cap and a CPU-time cap.

#include <cstdint>
#include <string>

#include "raster/membitmap.h"

struct AVCodec;
struct AVCodecParameters;
struct AVFormatContext;
struct AVDictionary;

// Result codes of a video read, beside kLoadCannotOpen (119: missing, no
// regular file, unreadable) and kLoadPathTooLong (251).
inline constexpr int32_t kVideoNotVideo = 300;     // no allowed demuxer takes it, or it holds no video stream
inline constexpr int32_t kVideoNoDecoder = 301;    // its video codec is not one we decode
inline constexpr int32_t kVideoDamaged = 302;      // damaged or truncated: no frame decodes
inline constexpr int32_t kVideoOverLimits = 303;   // a frame over the pixel cap
inline constexpr int32_t kVideoTimedOut = 304;     // the CPU-time cap passed before a poster was found
inline constexpr int32_t kVideoNoMemory = 305;     // the frame's memory cannot be had

// What the container and its streams tell, before any frame is decoded.
struct TVideoFacts {
  int32_t width = 0;          // shown size: upright (turned by `rotation`), pixel aspect applied
  int32_t height = 0;
  int32_t coded_width = 0;    // the frames' stored size
  int32_t coded_height = 0;
  int32_t rotation = 0;       // clockwise degrees (0, 90, 180, 270) that make a frame upright
  int64_t duration_ms = 0;    // 0 when not known
  std::string container;      // the demuxer's name: "mov,mp4,m4a,3gp,3g2,mj2", "matroska,webm", "avi", "mpegts"
  std::string video_codec;    // FFmpeg's codec name: "h264", "hevc", "vp9", "av1", "mpeg4", "mjpeg", ...
  std::string audio_codec;    // empty when the clip is silent
  // A browser plays the file as it is: H.264 or AV1 (with AAC, Opus or MP3
  // or no sound) in MP4; VP8, VP9 or AV1 (with Opus, Vorbis or no sound) in WebM.
  bool browser_playable = false;
  std::string mime_type;      // "video/mp4", "video/webm", "video/quicktime", ... for a <source type>
  std::string date_recorded;  // "2024-05-01 14:03:22" (the container's creation time), or empty
  std::string camera;         // "Apple iPhone 12", from the container's make/model tags, or empty
};

struct TVideoLimits {
  uint64_t max_frame_pixels = uint64_t{8192} * 8192;  // coded width x height; over: kVideoOverLimits
  double max_cpu_seconds = 5.0;                       // per poster; over: kVideoTimedOut
  double scan_seconds = 3.0;  // how far into the clip a poster that is not nearly black or flat is looked for
};

// Reads the facts of the video at `path` (the header and stream parameters
// only). kLoadOk (0) or a code above; `facts` is filled as far as it was read.
int32_t ReadVideoFacts(const char* path, TVideoFacts* facts);

// Reads the facts and the poster frame: the first frame within
// `limits.scan_seconds` that is neither nearly black nor nearly one flat
// colour, else the first frame; turned upright and scaled to the shown size
// (facts->width x facts->height), as a 24-bit bitmap. On failure `poster`
// holds no pixels and the code says why.
int32_t ReadVideoPoster(const char* path, const TVideoLimits& limits, TVideoFacts* facts, TMemBitmap* poster);

// Opens the file at `path` for demuxing with the same limits every video read
// has (the file read by us as itself, the allowed demuxers and decoders,
// bounded probing, an interrupt callback holding `max_cpu_seconds` when
// above 0). On success *context is open with its stream info found and the
// caller frees it with CloseVideoInput; otherwise *context is null.
int32_t OpenVideoInput(const char* path, double max_cpu_seconds, AVFormatContext** context);
void CloseVideoInput(AVFormatContext** context);

// True once the CPU-time cap (or the wall-clock cap of three times it) of an
// input from OpenVideoInput has passed; a caller decoding from it checks this
// between frames and stops with kVideoTimedOut.
bool VideoInputTimedOut(AVFormatContext* context);

// True when FFmpeg's decoder of that codec name is one a video read may use.
bool VideoDecoderAllowed(const char* codec_name);

// An allowed decoder of the stream's codec (FFmpeg's own choice when it is
// allowed, else another allowed, not experimental one), or null.
const AVCodec* AllowedDecoder(const AVCodecParameters* parameters);

// The video stream a read takes: the container's best video stream that is
// no attached cover picture; -1 when there is none.
int FindVideoStream(AVFormatContext* context);

// The text of a result code ("damaged or truncated video", ...).
const char* VideoCodeText(int32_t code);
