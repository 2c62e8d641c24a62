#pragma once
// Web copies of videos browsers do not play as they are (HEVC from phones,
// MPEG-2, MJPEG, AVI codecs): H.264 High through libx264 on every core, AAC
// sound, MP4 with its index first (faststart), the long side capped, the
// display matrix kept, frame by frame so that memory stays flat in the
// clip's length. Written through the one atomic write: a copy is whole or
// not there.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

struct TWebVideoOptions {
  int32_t max_long_side = 1920;      // of the shown (upright) frame; smaller clips keep their size
  double seconds_per_minute = 600;   // time cap: wall seconds per minute of video (at least one minute's)
  const std::atomic<bool>* stop = nullptr;        // a run's stop: the copy ends, nothing left
  std::function<void(double done)> progress;      // 0..1 of the clip, now and then; may be empty
};

// Writes the web copy of the video at `source` to `target` (whose folder
// exists). False with `reason` ("damaged or truncated video", "stopped",
// "took too long", "cannot write: No space left on device", or the text of
// the source's read code: "not a video", "cannot open the file", ...)
// otherwise; nothing is left at `target` then, and an earlier file there is
// kept. A sound the copy cannot carry is left out; the creation time is kept.
bool MakeWebVideo(const char* source, const char* target, const TWebVideoOptions& options, std::string* reason);
