// Writes a folder of photo-like JPEG files for the thumbnailer comparison:
// sizes drawn from a seed (megapixels uniform in [min, max], camera aspect
// ratios, a quarter portrait), coded the way cameras and editors code them
// (mostly 4:2:0, some 4:2:2 and 4:4:4, optionally some progressive), spread
// over subfolders. With --huge-mp it writes one more, very large file into
// its own folder for the memory measurement instead.
//
//   make_photo_corpus --folder=DIR [--count=200] [--min-mp=2] [--max-mp=12]
//                     [--folders=8] [--seed=1] [--quality=88]
//                     [--progressive-percent=0] [--threads=N]
//   make_photo_corpus --folder=DIR --huge-mp=100
//
// A folder that already holds the same plan (corpus.txt) is left as it is.

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "fixtures/jpeg_coding_writer.h"
#include "fixtures/jpeg_fixtures.h"

namespace {

namespace fs = std::filesystem;

struct TOptions {
  std::string folder;
  int count = 200;
  double min_mp = 2.0;
  double max_mp = 12.0;
  int folders = 8;
  uint32_t seed = 1;
  int quality = 88;
  int progressive_percent = 0;
  double huge_mp = 0;
  int threads = 0;
};

struct TPlanned {
  std::string relative_path;
  int width = 0;
  int height = 0;
  TJpegCoding coding;
};

bool ParseOptions(int argc, char** argv, TOptions* options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const size_t eq = arg.find('=');
    if (arg.rfind("--", 0) != 0 || eq == std::string::npos) return false;
    const std::string name = arg.substr(2, eq - 2);
    const std::string value = arg.substr(eq + 1);
    const double number = std::atof(value.c_str());
    if (name == "folder") {
      options->folder = value;
    } else if (name == "count") {
      options->count = static_cast<int>(number);
    } else if (name == "min-mp") {
      options->min_mp = number;
    } else if (name == "max-mp") {
      options->max_mp = number;
    } else if (name == "folders") {
      options->folders = std::max(1, static_cast<int>(number));
    } else if (name == "seed") {
      options->seed = static_cast<uint32_t>(number);
    } else if (name == "quality") {
      options->quality = static_cast<int>(number);
    } else if (name == "progressive-percent") {
      options->progressive_percent = static_cast<int>(number);
    } else if (name == "huge-mp") {
      options->huge_mp = number;
    } else if (name == "threads") {
      options->threads = static_cast<int>(number);
    } else {
      return false;
    }
  }
  return !options->folder.empty() && options->count >= 0 && options->min_mp > 0 &&
         options->max_mp >= options->min_mp;
}

TJpegCoding CodingFor(uint32_t draw, const TOptions& options) {
  TJpegCoding coding;
  coding.quality = options.quality;
  const uint32_t percent = draw % 100;
  if (percent < static_cast<uint32_t>(options.progressive_percent)) {
    coding.progressive = true;
    coding.label = "progressive420";
  } else if (percent < 70) {
    coding.label = "420";
  } else if (percent < 90) {
    coding.h_samp[0] = 2;
    coding.v_samp[0] = 1;
    coding.label = "422";
  } else {
    coding.h_samp[0] = 1;
    coding.v_samp[0] = 1;
    coding.label = "444";
  }
  // Many cameras write restart markers.
  if ((draw / 100) % 3 == 0) coding.restart_interval = 64;
  return coding;
}

std::vector<TPlanned> Plan(const TOptions& options) {
  static const double kAspects[] = {4.0 / 3.0, 3.0 / 2.0, 16.0 / 9.0, 1.0};
  uint32_t state = options.seed * 2654435761u + 1;
  auto next = [&state]() {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
  };
  std::vector<TPlanned> plan;
  if (options.huge_mp > 0) {
    TPlanned huge;
    huge.width = static_cast<int>(std::lround(std::sqrt(options.huge_mp * 1e6 * 3.0 / 2.0)));
    huge.height = static_cast<int>(std::lround(options.huge_mp * 1e6 / huge.width));
    huge.relative_path = "huge/HUGE_0001.jpg";
    huge.coding.quality = options.quality;
    huge.coding.label = "420";
    plan.push_back(huge);
    return plan;
  }
  for (int i = 0; i < options.count; ++i) {
    const double t = (next() % 10001) / 10000.0;
    const double pixels = (options.min_mp + t * (options.max_mp - options.min_mp)) * 1e6;
    const double aspect = kAspects[next() % 4];
    int width = static_cast<int>(std::lround(std::sqrt(pixels * aspect)));
    int height = static_cast<int>(std::lround(pixels / width));
    if (next() % 4 == 0) std::swap(width, height);
    TPlanned image;
    char name[64];
    std::snprintf(name, sizeof name, "set%02d/IMG_%05d.jpg", i % options.folders, i);
    image.relative_path = name;
    image.width = std::max(width, 1);
    image.height = std::max(height, 1);
    image.coding = CodingFor(next(), options);
    plan.push_back(image);
  }
  return plan;
}

std::string Describe(const TOptions& options, const std::vector<TPlanned>& plan) {
  std::ostringstream text;
  text << "make_photo_corpus 1 seed=" << options.seed << " quality=" << options.quality << "\n";
  for (const TPlanned& image : plan) {
    text << image.relative_path << " " << image.width << "x" << image.height << " " << image.coding.label
         << " restart=" << image.coding.restart_interval << "\n";
  }
  return text.str();
}

}  // namespace

int main(int argc, char** argv) {
  TOptions options;
  if (!ParseOptions(argc, argv, &options)) {
    std::fprintf(stderr,
                 "usage: make_photo_corpus --folder=DIR [--count=N] [--min-mp=M] [--max-mp=M]\n"
                 "         [--folders=K] [--seed=S] [--quality=Q] [--progressive-percent=P]\n"
                 "         [--threads=N] | --folder=DIR --huge-mp=M\n");
    return 2;
  }
  const std::vector<TPlanned> plan = Plan(options);
  const std::string description = Describe(options, plan);
  const fs::path root = options.folder;
  const fs::path manifest = root / (options.huge_mp > 0 ? "huge_corpus.txt" : "corpus.txt");
  {
    std::ifstream in(manifest);
    std::stringstream current;
    if (in) current << in.rdbuf();
    if (in && current.str() == description) {
      std::printf("corpus: %s is current\n", root.c_str());
      return 0;
    }
  }
  std::error_code error;
  fs::remove(manifest, error);
  std::atomic<size_t> next{0};
  std::atomic<bool> failed{false};
  auto work = [&]() {
    for (size_t i = next++; i < plan.size(); i = next++) {
      const TPlanned& image = plan[i];
      const fs::path path = root / image.relative_path;
      std::error_code ignored;
      fs::create_directories(path.parent_path(), ignored);
      const std::vector<uint8_t> bytes = EncodeJpegCoding(
          MakePhotoLikeImage(image.width, image.height, options.seed * 7919u + static_cast<uint32_t>(i)),
          image.coding);
      if (bytes.empty() || !WriteBytesFile(path.string(), bytes)) failed = true;
    }
  };
  int threads = options.threads > 0 ? options.threads : static_cast<int>(std::thread::hardware_concurrency());
  threads = std::max(1, std::min(threads, 16));
  std::vector<std::thread> pool;
  for (int t = 1; t < threads; ++t) pool.emplace_back(work);
  work();
  for (std::thread& t : pool) t.join();
  if (failed) {
    std::fprintf(stderr, "make_photo_corpus: cannot write the corpus into %s\n", root.c_str());
    return 1;
  }
  std::ofstream out(manifest);
  out << description;
  std::printf("corpus: wrote %zu images into %s\n", plan.size(), root.c_str());
  return out ? 0 : 1;
}
