// Web copies of videos: transcodes a generated 1080p HEVC clip with sound
// (10 s at 30 frames/s by default) to H.264 + AAC MP4 through MakeWebVideo,
// in a child process whose wall time and peak resident size (wait4) are
// reported as frames per second and MiB; beside it the same copy by the
// `ffmpeg` program when it is installed.
//
//   web_video_bench [--folder=DIR] [--seconds=S] [--width=W] [--height=H] [--max-long-side=N] [--regenerate]
//
// The clip is kept in the folder and reused by later runs of the same size.

#include <sys/resource.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "engine/modern/web_video.h"
#include "fixtures/video_writer.h"

namespace {

namespace fs = std::filesystem;

constexpr int kFps = 30;

struct TBenchOptions {
  std::string folder = (fs::temp_directory_path() / "vellumcast-web-video-bench").string();
  int seconds = 10;
  int width = 1920;
  int height = 1080;
  int max_long_side = 1920;
  bool regenerate = false;
};

struct TMeasure {
  int exit_code = -1;
  double wall_seconds = 0;
  double peak_mib = 0;
};

TMeasure MeasureChild(const std::function<int()>& body) {
  TMeasure m;
  std::fflush(stdout);
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid < 0) return m;
  if (pid == 0) _exit(body() & 0xFF);
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid) return m;
  m.wall_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  m.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
  m.peak_mib = static_cast<double>(usage.ru_maxrss) / 1024.0;
  return m;
}

// The `ffmpeg` program on PATH, or empty.
std::string FindFfmpeg() {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  size_t at = 0;
  while (at <= dirs.size()) {
    const size_t end = dirs.find(':', at);
    const std::string dir = dirs.substr(at, end == std::string::npos ? std::string::npos : end - at);
    const std::string candidate = (dir.empty() ? std::string(".") : dir) + "/ffmpeg";
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    if (end == std::string::npos) break;
    at = end + 1;
  }
  return {};
}

void PrintRow(const char* tool, const TMeasure& m, int frames) {
  if (m.exit_code != 0) {
    std::printf("| %s | failed (exit %d) | | |\n", tool, m.exit_code);
    return;
  }
  std::printf("| %s | %.2f | %.1f | %.1f |\n", tool, m.wall_seconds, frames / m.wall_seconds, m.peak_mib);
}

bool ParseArgs(int argc, char** argv, TBenchOptions* options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](const char* name) -> const char* {
      const size_t length = std::strlen(name);
      return arg.compare(0, length, name) == 0 ? arg.c_str() + length : nullptr;
    };
    if (const char* v = value("--folder=")) options->folder = v;
    else if (const char* v = value("--seconds=")) options->seconds = std::atoi(v);
    else if (const char* v = value("--width=")) options->width = std::atoi(v);
    else if (const char* v = value("--height=")) options->height = std::atoi(v);
    else if (const char* v = value("--max-long-side=")) options->max_long_side = std::atoi(v);
    else if (arg == "--regenerate") options->regenerate = true;
    else {
      std::fprintf(stderr, "unknown argument %s\n", argv[i]);
      return false;
    }
  }
  return options->seconds > 0 && options->width >= 16 && options->height >= 16;
}

}  // namespace

int main(int argc, char** argv) {
  TBenchOptions options;
  if (!ParseArgs(argc, argv, &options)) {
    std::fprintf(stderr,
                 "usage: web_video_bench [--folder=DIR] [--seconds=S] [--width=W] [--height=H] "
                 "[--max-long-side=N] [--regenerate]\n");
    return 2;
  }
  std::error_code ignored;
  fs::create_directories(options.folder, ignored);
  const int frames = options.seconds * kFps;
  const std::string source = options.folder + "/hevc-" + std::to_string(options.width) + "x" +
                             std::to_string(options.height) + "-" + std::to_string(options.seconds) + "s.mov";
  if (options.regenerate || !fs::exists(source)) {
    if (!TestVideoEncoderPresent("libx265")) {
      std::fprintf(stderr, "no libx265 encoder to make the HEVC clip\n");
      return 1;
    }
    std::printf("writing %s ...\n", source.c_str());
    TTestVideoSpec spec;
    spec.muxer = "mov";
    spec.video_encoder = "libx265";
    spec.audio_encoder = "aac";
    spec.width = options.width;
    spec.height = options.height;
    spec.frames = frames;
    spec.fps = kFps;
    std::string error;
    if (!WriteTestVideo(source, spec, &error)) {
      std::fprintf(stderr, "cannot write the clip: %s\n", error.c_str());
      return 1;
    }
  }

  std::printf("%d frames of %dx%d HEVC + AAC, long side capped at %d, %ld cores\n\n", frames, options.width,
              options.height, options.max_long_side, sysconf(_SC_NPROCESSORS_ONLN));
  std::printf("| tool | seconds | frames/s | peak RSS MiB |\n| --- | --- | --- | --- |\n");
  const std::string ours = options.folder + "/copy-vellumcast.mp4";
  const TMeasure made = MeasureChild([&] {
    TWebVideoOptions web;
    web.max_long_side = options.max_long_side;
    std::string reason;
    if (MakeWebVideo(source.c_str(), ours.c_str(), web, &reason)) return 0;
    std::fprintf(stderr, "MakeWebVideo: %s\n", reason.c_str());
    return 1;
  });
  PrintRow("MakeWebVideo", made, frames);

  const std::string ffmpeg = FindFfmpeg();
  if (ffmpeg.empty()) {
    std::printf("\nffmpeg not found\n");
  } else {
    const std::string theirs = options.folder + "/copy-ffmpeg.mp4";
    const std::string scale = "scale='if(gt(iw,ih),min(" + std::to_string(options.max_long_side) +
                              ",iw),-2)':'if(gt(iw,ih),-2,min(" + std::to_string(options.max_long_side) + ",ih))'";
    const TMeasure them = MeasureChild([&] {
      const int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
      dup2(null, 2);
      execl(ffmpeg.c_str(), ffmpeg.c_str(), "-y", "-i", source.c_str(), "-vf", scale.c_str(), "-c:v", "libx264",
            "-preset", "veryfast", "-crf", "23", "-pix_fmt", "yuv420p", "-c:a", "aac", "-movflags", "+faststart",
            theirs.c_str(), static_cast<char*>(nullptr));
      return 98;
    });
    PrintRow("ffmpeg", them, frames);
  }
  return made.exit_code == 0 ? 0 : 1;
}
