// Hostile JPEG files: what small files that declare huge frames or carry many
// scans cost a decode, a thumbnail cell and a whole thumbnail run. Every file
// is written with libjpeg's own encoder (a frame size patched in where a huge
// one is wanted); each measurement runs in a child process of its own, whose
// peak resident size and CPU time come from wait4.
//
//   hostile_jpeg_bench [--folder=DIR] [--cli=PATH] [--only=NAME]
//
// The goal: no file of at most 1 MB costs more than 1 GiB of peak memory or
// 2 s of CPU time. The exit code is 1 when a measurement misses it.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "fixtures/hostile_jpeg.h"
#include "fixtures/jpeg_coding_writer.h"
#include "fixtures/jpeg_fixtures.h"
#include "imagein/jpeg_adapter.h"
#include "imagein/jpeg_thumb_decode.h"
#include "imagein/load_codes.h"

namespace {

namespace fs = std::filesystem;

constexpr double kGoalPeakMiB = 1024.0;
constexpr double kGoalCpuSeconds = 2.0;
constexpr size_t kMaxFileBytes = 1u << 20;

struct TCase {
  const char* name;
  const char* what;
  std::function<std::vector<uint8_t>()> make;
};

std::vector<uint8_t> Declared(const std::vector<uint8_t>& bytes, uint16_t width, uint16_t height) {
  std::vector<uint8_t> out = bytes;
  if (!DeclareJpegFrameSize(out, width, height)) out.clear();
  return out;
}

// A progressive grey file of `scans` scans over a flat image: every scan is a
// pass over all the coefficients, and the file stays small.
std::vector<uint8_t> FlatManyScans(int side, int scans) {
  return MakeManyScanJpeg(side, side, 1, scans, true);
}

std::vector<uint8_t> FlatProgressive(int side) {
  TJpegFixtureOptions options;
  options.flavour = TJpegFlavour::kProgressive;
  return EncodeJpeg(MakeSolidImage(side, side, 120, 130, 140), options);
}

std::vector<TCase> Cases() {
  return {
      {"huge-progressive-18900", "progressive 4:2:0, 16x16 of data, frame 18900 x 18900",
       [] { return MakeHugeDeclaredProgressiveJpeg(18900, 18900); }},
      {"huge-progressive-65500", "progressive 4:2:0, 16x16 of data, frame 65500 x 65500",
       [] { return MakeHugeDeclaredProgressiveJpeg(65500, 65500); }},
      {"progressive-under-cap", "progressive 4:2:0, 16x16 of data, frame 13000 x 13000 (1014 MB)",
       [] { return MakeHugeDeclaredProgressiveJpeg(13000, 13000); }},
      {"baseline-under-cap", "baseline 4:2:0, 16x16 of data, frame 18900 x 18900 (1072 MB)",
       [] { return Declared(EncodeJpeg(MakeSolidImage(16, 16, 90, 140, 200)), 18900, 18900); }},
      {"scans-2000", "progressive 256 x 256 colour in 2000 scans",
       [] { return MakeManyScanJpeg(256, 256, 3, 2000); }},
      {"progressive-flat-12000", "progressive 4:2:0, flat 12000 x 12000, every scan complete",
       [] { return FlatProgressive(12000); }},
      {"scans-500-2048", "progressive 2048 x 2048 flat grey in 500 scans (the most scans allowed)",
       [] { return FlatManyScans(2048, 500); }},
      {"scans-500-12288", "progressive 12288 x 12288 flat grey in 500 scans (stopped by scan work)",
       [] { return FlatManyScans(12288, 500); }},
  };
}

struct TMeasure {
  int exit_code = -1;
  double peak_mib = 0;
  double cpu_seconds = 0;
};

TMeasure MeasureChild(const std::function<int()>& body) {
  TMeasure m;
  std::fflush(stdout);
  const pid_t pid = fork();
  if (pid < 0) return m;
  if (pid == 0) _exit(body() & 0xFF);
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid) return m;
  m.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
  m.peak_mib = static_cast<double>(usage.ru_maxrss) / 1024.0;
  m.cpu_seconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                  static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  return m;
}

TMeasure MeasureCli(const std::string& cli, const std::string& folder) {
  return MeasureChild([&] {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    if (chdir(folder.c_str()) != 0) return 99;
    execl(cli.c_str(), cli.c_str(), "index", "--createthumbs=1", ".", static_cast<char*>(nullptr));
    return 98;
  });
}

std::string DefaultCli(const char* argv0) {
  const fs::path self = fs::absolute(argv0);
  return (self.parent_path().parent_path() / "src" / "vellumcast-cli").string();
}

bool Within(const TMeasure& m) {
  return m.exit_code >= 0 && m.exit_code < 1000 && m.peak_mib <= kGoalPeakMiB &&
         m.cpu_seconds <= kGoalCpuSeconds;
}

void PrintRow(const char* name, const char* step, const TMeasure& m, const char* result) {
  std::printf("| %s | %s | %s | %.1f | %.2f | %s |\n", name, step, result, m.peak_mib, m.cpu_seconds,
              Within(m) ? "yes" : "NO");
}

}  // namespace

int main(int argc, char** argv) {
  std::string folder = "/tmp/vellumcast_hostile_jpeg_bench";
  std::string cli = DefaultCli(argv[0]);
  std::string only;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind("--folder=", 0) == 0) {
      folder = arg.substr(9);
    } else if (arg.rfind("--cli=", 0) == 0) {
      cli = arg.substr(6);
    } else if (arg.rfind("--only=", 0) == 0) {
      only = arg.substr(7);
    } else {
      std::fprintf(stderr, "usage: hostile_jpeg_bench [--folder=DIR] [--cli=PATH] [--only=NAME]\n");
      return 2;
    }
  }
  std::error_code ignored;
  fs::remove_all(folder, ignored);
  fs::create_directories(folder, ignored);

  bool all_within = true;
  std::printf("| file | step | result | peak MiB | CPU s | within goal |\n");
  std::printf("| --- | --- | --- | --- | --- | --- |\n");
  for (const TCase& c : Cases()) {
    if (!only.empty() && only != c.name) continue;
    const std::vector<uint8_t> bytes = c.make();
    if (bytes.empty() || bytes.size() > kMaxFileBytes) {
      std::fprintf(stderr, "%s: could not be made within 1 MB (%zu bytes)\n", c.name, bytes.size());
      return 1;
    }
    const std::string case_folder = folder + "/" + c.name;
    fs::create_directories(case_folder, ignored);
    const std::string path = case_folder + "/" + c.name + ".jpg";
    if (!WriteBytesFile(path, bytes)) return 1;
    std::fprintf(stderr, "%s: %zu bytes, %s\n", c.name, bytes.size(), c.what);

    const TMeasure decode = MeasureChild([&] {
      TMemBitmap bitmap;
      return static_cast<int>(JpegLoadBitmap(path.c_str(), 120, 90, bitmap, kThumbnailLoadFlags, nullptr));
    });
    char result[64];
    std::snprintf(result, sizeof result, "code %d", decode.exit_code);
    PrintRow(c.name, "full decode", decode, result);

    const TMeasure cell = MeasureChild([&] {
      TMemBitmap out;
      return static_cast<int>(
          JpegThumbnailCell(path.c_str(), 120, 90, 0, out, TJpegCellRowMode::kSkipWhereExact));
    });
    PrintRow(c.name, "thumbnail cell", cell, cell.exit_code == 0 ? "made" : "no thumbnail");

    const TMeasure run = MeasureCli(cli, case_folder);
    std::snprintf(result, sizeof result, "exit %d", run.exit_code);
    PrintRow(c.name, "thumbnail run", run, result);
    all_within = all_within && Within(decode) && Within(cell) && Within(run);
  }
  return all_within ? 0 : 1;
}
