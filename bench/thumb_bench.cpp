// Thumbnail throughput: builds a tree of photo-sized JPEG, GIF or BMP files and
// times `vellumcast-cli index --createthumbs=1` over it, reporting images per
// second and the peak memory of the indexing process.
//
//   thumb_bench [--format=jpg|gif|bmp] [--count=N] [--folder=DIR] [--cli=PATH]
//               [--min-mp=M] [--max-mp=M] [--folders=K] [--seed=S] [--quality=Q]
//               [--runs=R] [--straightforward] [--regenerate]
//
// The tree is kept and reused by later runs with the same parameters.

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fixtures/bmp_writer.h"
#include "fixtures/gif_writer.h"
#include "fixtures/jpeg_fixtures.h"

namespace {

namespace fs = std::filesystem;

// The file format of the pictures in the tree.
enum class TBenchFormat { kJpeg, kGif, kBmp };

const char* FormatName(TBenchFormat format) {
  switch (format) {
    case TBenchFormat::kGif: return "gif";
    case TBenchFormat::kBmp: return "bmp";
    case TBenchFormat::kJpeg: break;
  }
  return "jpg";
}

struct TBenchOptions {
  TBenchFormat format = TBenchFormat::kJpeg;
  int count = 300;
  std::string folder;  // empty: the default folder of the format
  std::string cli;
  double min_mp = 2.0;
  double max_mp = 12.0;
  int folders = 8;
  uint32_t seed = 1;
  int quality = 88;
  int runs = 1;
  bool straightforward = false;  // index with --straightforward=1
  bool regenerate = false;
};

std::string DefaultFolder(TBenchFormat format) {
  const std::string base = "/tmp/vellumcast_thumb_bench";
  return format == TBenchFormat::kJpeg ? base : base + "_" + FormatName(format);
}

struct TPlannedImage {
  std::string relative_path;
  int width = 0;
  int height = 0;
};

void PrintUsage() {
  std::fprintf(stderr,
               "usage: thumb_bench [--format=jpg|gif|bmp] [--count=N] [--folder=DIR] [--cli=PATH]\n"
               "                   [--min-mp=M] [--max-mp=M] [--folders=K] [--seed=S] [--quality=Q]\n"
               "                   [--runs=R] [--straightforward] [--regenerate]\n");
}

bool ParseOptions(int argc, char** argv, TBenchOptions* options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const size_t eq = arg.find('=');
    const std::string name = arg.substr(0, eq);
    const std::string value = eq == std::string::npos ? "" : arg.substr(eq + 1);
    char* end = nullptr;
    if (name == "--regenerate") {
      options->regenerate = true;
      continue;
    }
    if (name == "--straightforward") {
      options->straightforward = true;
      continue;
    }
    if (eq == std::string::npos) return false;
    if (name == "--format") {
      if (value == "jpg") {
        options->format = TBenchFormat::kJpeg;
      } else if (value == "gif") {
        options->format = TBenchFormat::kGif;
      } else if (value == "bmp") {
        options->format = TBenchFormat::kBmp;
      } else {
        return false;
      }
    } else if (name == "--folder") {
      options->folder = value;
    } else if (name == "--cli") {
      options->cli = value;
    } else if (name == "--count" || name == "--folders" || name == "--seed" ||
               name == "--quality" || name == "--runs") {
      const long number = std::strtol(value.c_str(), &end, 10);
      if (end == value.c_str() || *end != '\0' || number < 0 || number > 1000000) return false;
      if (name == "--count") options->count = static_cast<int>(number);
      if (name == "--folders") options->folders = static_cast<int>(number);
      if (name == "--seed") options->seed = static_cast<uint32_t>(number);
      if (name == "--quality") options->quality = static_cast<int>(number);
      if (name == "--runs") options->runs = static_cast<int>(number);
    } else if (name == "--min-mp" || name == "--max-mp") {
      const double number = std::strtod(value.c_str(), &end);
      if (end == value.c_str() || *end != '\0' || !(number > 0.0) || number > 60.0) return false;
      (name == "--min-mp" ? options->min_mp : options->max_mp) = number;
    } else {
      return false;
    }
  }
  if (options->folder.empty()) options->folder = DefaultFolder(options->format);
  return options->count >= 1 && options->folders >= 1 && options->runs >= 1 &&
         options->min_mp <= options->max_mp;
}

// The CLI beside this program in the build tree: build/bench/thumb_bench next
// to build/src/vellumcast-cli.
std::string FindCli() {
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  if (error) return {};
  const fs::path dir = self.parent_path();
  for (const fs::path& candidate :
       {dir / "vellumcast-cli", dir / ".." / "src" / "vellumcast-cli", dir / ".." / "vellumcast-cli"}) {
    if (access(candidate.c_str(), X_OK) == 0) return fs::weakly_canonical(candidate, error).string();
  }
  return {};
}

// Sizes and places of the images, drawn from the seed: megapixels uniform in
// [min, max], common camera aspect ratios, a quarter of them portrait.
std::vector<TPlannedImage> PlanTree(const TBenchOptions& options) {
  static const double kAspects[] = {4.0 / 3.0, 3.0 / 2.0, 16.0 / 9.0, 1.0};
  uint32_t state = options.seed * 2654435761u + 1;
  auto next = [&state]() {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
  };
  std::vector<TPlannedImage> plan;
  for (int i = 0; i < options.count; ++i) {
    const double t = (next() % 10001) / 10000.0;
    const double pixels = (options.min_mp + t * (options.max_mp - options.min_mp)) * 1e6;
    const double aspect = kAspects[next() % 4];
    int width = static_cast<int>(std::lround(std::sqrt(pixels * aspect)));
    int height = static_cast<int>(std::lround(pixels / width));
    if (next() % 4 == 0) std::swap(width, height);
    TPlannedImage image;
    char name[64];
    std::snprintf(name, sizeof name, "set%02d/IMG_%05d.%s", i % options.folders, i,
                  FormatName(options.format));
    image.relative_path = name;
    image.width = width < 1 ? 1 : width;
    image.height = height < 1 ? 1 : height;
    plan.push_back(image);
  }
  return plan;
}

std::string DescribeTree(const TBenchOptions& options, const std::vector<TPlannedImage>& plan) {
  std::ostringstream text;
  text << "generator=3 format=" << FormatName(options.format) << " count=" << options.count
       << " folders=" << options.folders << " seed=" << options.seed;
  // The quality only shapes JPEG files.
  if (options.format == TBenchFormat::kJpeg) text << " quality=" << options.quality;
  text << " min_mp=" << options.min_mp << " max_mp=" << options.max_mp << "\n";
  for (const TPlannedImage& image : plan) {
    text << image.relative_path << " " << image.width << "x" << image.height << "\n";
  }
  return text.str();
}

bool TreeIsCurrent(const fs::path& manifest, const std::string& description) {
  std::ifstream in(manifest);
  if (!in) return false;
  std::stringstream text;
  text << in.rdbuf();
  return text.str() == description;
}

// The 3-3-2 colour cube: index bits rrrgggbb, each level spread over 0..255.
std::vector<TGifColor> CubePalette() {
  std::vector<TGifColor> palette(256);
  for (int index = 0; index < 256; ++index) {
    palette[index].red = static_cast<uint8_t>((index >> 5) * 255 / 7);
    palette[index].green = static_cast<uint8_t>(((index >> 2) & 7) * 255 / 7);
    palette[index].blue = static_cast<uint8_t>((index & 3) * 255 / 3);
  }
  return palette;
}

// A one-frame GIF89a of the picture mapped to the nearest cube entry, LZW
// coded at code size 8.
std::vector<uint8_t> EncodeGif(const TRgbImage& image) {
  TGifSpec spec;
  spec.global_table = CubePalette();
  TGifFrame frame;
  frame.width = static_cast<uint16_t>(image.width);
  frame.height = static_cast<uint16_t>(image.height);
  frame.min_code_size = 8;
  const size_t pixels = static_cast<size_t>(image.width) * image.height;
  frame.indices.resize(pixels);
  for (size_t i = 0; i < pixels; ++i) {
    const uint8_t* rgb = image.rgb.data() + 3 * i;
    const int red = (rgb[0] * 7 + 127) / 255;
    const int green = (rgb[1] * 7 + 127) / 255;
    const int blue = (rgb[2] * 3 + 127) / 255;
    frame.indices[i] = static_cast<uint8_t>(red << 5 | green << 2 | blue);
  }
  spec.frames.push_back(std::move(frame));
  return BuildGif(spec);
}

// A bottom-up, uncompressed 24-bit BMP of the picture.
std::vector<uint8_t> EncodeBmp(const TRgbImage& image) {
  TBmpSpec spec;
  spec.width = image.width;
  spec.height = image.height;
  spec.bits = 24;
  spec.pixels = image.rgb;
  return BuildBmp(spec);
}

bool WriteImage(const TBenchOptions& options, const std::string& path, const TRgbImage& image) {
  switch (options.format) {
    case TBenchFormat::kGif: {
      const std::vector<uint8_t> bytes = EncodeGif(image);
      return !bytes.empty() && WriteFixtureBytes(path, bytes);
    }
    case TBenchFormat::kBmp: {
      const std::vector<uint8_t> bytes = EncodeBmp(image);
      return !bytes.empty() && WriteFixtureBytes(path, bytes);
    }
    case TBenchFormat::kJpeg: break;
  }
  TJpegFixtureOptions jpeg;
  jpeg.quality = options.quality;
  return WriteJpegFile(path, image, jpeg);
}

bool BuildTree(const TBenchOptions& options, const std::vector<TPlannedImage>& plan) {
  const fs::path root = options.folder;
  const fs::path manifest = root / "bench_tree.txt";
  const std::string description = DescribeTree(options, plan);
  if (!options.regenerate && TreeIsCurrent(manifest, description)) {
    std::printf("tree: reusing %s\n", root.c_str());
    return true;
  }
  std::error_code error;
  fs::remove(manifest, error);
  const auto start = std::chrono::steady_clock::now();
  double megapixels = 0;
  for (size_t i = 0; i < plan.size(); ++i) {
    const TPlannedImage& image = plan[i];
    const fs::path path = root / image.relative_path;
    fs::create_directories(path.parent_path(), error);
    const TRgbImage pixels =
        MakePhotoLikeImage(image.width, image.height, options.seed * 7919u + static_cast<uint32_t>(i));
    if (!WriteImage(options, path.string(), pixels)) {
      std::fprintf(stderr, "cannot write %s\n", path.c_str());
      return false;
    }
    megapixels += image.width * static_cast<double>(image.height) / 1e6;
    std::fprintf(stderr, "\rtree: %zu/%zu images", i + 1, plan.size());
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::fprintf(stderr, "\n");
  std::printf("tree: wrote %zu images, %.1f megapixels in %.1f s\n", plan.size(), megapixels,
              seconds);
  std::ofstream out(manifest);
  out << description;
  return static_cast<bool>(out);
}

uintmax_t TreeBytes(const fs::path& root, const std::vector<TPlannedImage>& plan) {
  uintmax_t bytes = 0;
  std::error_code error;
  for (const TPlannedImage& image : plan) {
    const uintmax_t size = fs::file_size(root / image.relative_path, error);
    if (!error) bytes += size;
  }
  return bytes;
}

// Thumbnails present after a run: files quarto_tn/quarto_tn*.jpg below root.
int CountThumbnails(const fs::path& root) {
  int count = 0;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(root, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    const fs::path& path = it->path();
    const std::string name = path.filename().string();
    if (path.parent_path().filename() == "quarto_tn" && name.rfind("quarto_tn", 0) == 0 &&
        name.size() > 4 && name.compare(name.size() - 4, 4, ".jpg") == 0) {
      ++count;
    }
  }
  return count;
}

std::string LoadAverage() {
  std::ifstream in("/proc/loadavg");
  std::string one, five, fifteen;
  if (!(in >> one >> five >> fifteen)) return "unknown";
  return one + " " + five + " " + fifteen;
}

struct TRunResult {
  bool ok = false;
  int exit_code = -1;
  double seconds = 0;
  double user_seconds = 0;
  double system_seconds = 0;
  long peak_kib = 0;
  std::string output;
};

// Runs the CLI as a child and collects its wall time, CPU time and peak
// resident size (wait4's rusage of the child alone).
TRunResult RunIndex(const std::string& cli, const std::string& folder, bool straightforward) {
  TRunResult result;
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) return result;
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child < 0) {
    close(pipe_fds[0]);
    close(pipe_fds[1]);
    return result;
  }
  if (child == 0) {
    dup2(pipe_fds[1], STDOUT_FILENO);
    close(pipe_fds[0]);
    close(pipe_fds[1]);
    const int null_fd = open("/dev/null", O_WRONLY);
    if (null_fd >= 0) dup2(null_fd, STDERR_FILENO);
    // The probe log fn.log goes to the current folder: keep it out of the
    // caller's folder.
    if (chdir(folder.c_str()) != 0) _exit(126);
    std::vector<char*> args;
    std::string a0 = cli, a1 = "index", a2 = "--createthumbs=1", a3 = "--straightforward=1",
                a4 = folder;
    if (straightforward) {
      args = {a0.data(), a1.data(), a2.data(), a3.data(), a4.data(), nullptr};
    } else {
      args = {a0.data(), a1.data(), a2.data(), a4.data(), nullptr};
    }
    execv(cli.c_str(), args.data());
    _exit(127);
  }
  close(pipe_fds[1]);
  char block[4096];
  ssize_t n = 0;
  while ((n = read(pipe_fds[0], block, sizeof block)) > 0) result.output.append(block, n);
  close(pipe_fds[0]);
  int status = 0;
  struct rusage usage {};
  if (wait4(child, &status, 0, &usage) != child) return result;
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  result.user_seconds = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6;
  result.system_seconds = usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
  result.peak_kib = usage.ru_maxrss;
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.ok = result.exit_code == 0;
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  TBenchOptions options;
  if (!ParseOptions(argc, argv, &options)) {
    PrintUsage();
    return 2;
  }
  if (options.cli.empty()) options.cli = FindCli();
  if (options.cli.empty() || access(options.cli.c_str(), X_OK) != 0) {
    std::fprintf(stderr, "vellumcast-cli not found; give it with --cli=PATH\n");
    return 2;
  }
  std::error_code error;
  options.folder = fs::absolute(options.folder, error).string();

  const std::vector<TPlannedImage> plan = PlanTree(options);
  if (!BuildTree(options, plan)) return 1;
  double megapixels = 0;
  for (const TPlannedImage& image : plan) megapixels += image.width * static_cast<double>(image.height) / 1e6;
  std::printf("tree: %zu images in %d folders, %.1f megapixels (%.1f MP per image), %.1f MB of %s\n",
              plan.size(), options.folders, megapixels, megapixels / plan.size(),
              TreeBytes(options.folder, plan) / 1e6, FormatName(options.format));
  std::printf("cli: %s (%s thumbnail path)\n", options.cli.c_str(),
              options.straightforward ? "straightforward" : "default");

  int failures = 0;
  for (int run = 1; run <= options.runs; ++run) {
    // Other work on the machine stretches the wall time; the CPU time of the
    // child is the steadier figure.
    const std::string load = LoadAverage();
    const TRunResult result = RunIndex(options.cli, options.folder, options.straightforward);
    if (!result.ok) {
      std::printf("run %d: vellumcast-cli failed (exit %d)\n%s", run, result.exit_code,
                  result.output.c_str());
      ++failures;
      continue;
    }
    const int thumbnails = CountThumbnails(options.folder);
    const double cpu_seconds = result.user_seconds + result.system_seconds;
    std::printf(
        "run %d: %.2f s wall, %.2f s user, %.2f s sys; %.2f images/s, %.1f MP/s wall; "
        "%.2f images/s, %.1f MP/s of CPU time; peak RSS %.1f MiB; thumbnails %d/%zu; "
        "load average before: %s\n",
        run, result.seconds, result.user_seconds, result.system_seconds,
        plan.size() / result.seconds, megapixels / result.seconds,
        cpu_seconds > 0 ? plan.size() / cpu_seconds : 0.0,
        cpu_seconds > 0 ? megapixels / cpu_seconds : 0.0, result.peak_kib / 1024.0, thumbnails,
        plan.size(), load.c_str());
    std::string line;
    std::istringstream lines(result.output);
    while (std::getline(lines, line)) std::printf("  %s\n", line.c_str());
    if (thumbnails != static_cast<int>(plan.size())) ++failures;
  }
  return failures == 0 ? 0 : 1;
}
