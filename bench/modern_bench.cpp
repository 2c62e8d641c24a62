// Times the modern style's image production (1x and 2x thumbnails and web
// copies, TModernFolderImages on every core) over every folder of .jpg files
// below --folder, and reports wall and CPU time, images per second, what was
// made and the peak resident size. Before each run the images and manifests
// of earlier runs are removed, unless --keep is given (then the run measures
// reuse through the manifests). --texts=0 leaves the photos' texts
// (metadata and sidecars) unread, to measure what reading them costs.
//
//   modern_bench --folder=DIR [--cell=140x100] [--crop=0] [--runs=1] [--keep] [--texts=1]

#include <dirent.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/store/generated_names.h"
#include "engine/modern/images.h"

namespace {

struct TOptions {
  std::string folder;
  TModernImageOptions images;
  int runs = 1;
  bool keep = false;
};

bool ParseOptions(int argc, char** argv, TOptions* options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const size_t eq = arg.find('=');
    const std::string name = arg.substr(0, eq);
    const std::string value = eq == std::string::npos ? std::string() : arg.substr(eq + 1);
    if (name == "--folder") {
      options->folder = value;
    } else if (name == "--cell") {
      if (std::sscanf(value.c_str(), "%dx%d", &options->images.cellwidth, &options->images.cellheight) != 2) return false;
    } else if (name == "--crop") {
      options->images.crop = std::atoi(value.c_str());
    } else if (name == "--runs") {
      options->runs = std::max(1, std::atoi(value.c_str()));
    } else if (name == "--texts") {
      options->images.read_texts = std::atoi(value.c_str());
    } else if (name == "--keep") {
      options->keep = true;
    } else {
      return false;
    }
  }
  return !options->folder.empty();
}

bool HasJpegExtension(const std::string& name) {
  return name.size() > 4 && strcasecmp(name.c_str() + name.size() - 4, ".jpg") == 0;
}

// Every folder below `root` (thumbnail folders left out) with its .jpg names, sorted.
void CollectFolders(const std::string& root, std::vector<std::pair<std::string, std::vector<std::string>>>* out) {
  DIR* dir = opendir(root.c_str());
  if (dir == nullptr) return;
  std::vector<std::string> images;
  std::vector<std::string> folders;
  while (dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == ".." || IsThumbnailFolderName(name.c_str())) continue;
    struct stat info;
    const std::string path = root + "/" + name;
    if (stat(path.c_str(), &info) != 0) continue;
    if (S_ISDIR(info.st_mode)) {
      folders.push_back(path);
    } else if (S_ISREG(info.st_mode) && HasJpegExtension(name)) {
      images.push_back(name);
    }
  }
  closedir(dir);
  std::sort(images.begin(), images.end());
  std::sort(folders.begin(), folders.end());
  if (!images.empty()) out->emplace_back(root, images);
  for (const std::string& folder : folders) CollectFolders(folder, out);
}

// Removes what earlier runs made in `folder`'s thumbnail folder.
void RemoveModernImages(const std::string& folder) {
  const std::string thumbs = folder + "/" + kThumbnailFolder;
  DIR* dir = opendir(thumbs.c_str());
  if (dir == nullptr) return;
  std::vector<std::string> doomed;
  while (dirent* entry = readdir(dir)) {
    if (IsNamedImageName(entry->d_name) || IsModernManifestName(entry->d_name)) doomed.push_back(entry->d_name);
  }
  closedir(dir);
  for (const std::string& name : doomed) unlink((thumbs + "/" + name).c_str());
}

double CpuSeconds() {
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  TOptions options;
  if (!ParseOptions(argc, argv, &options)) {
    std::fprintf(stderr, "usage: modern_bench --folder=DIR [--cell=140x100] [--crop=0] [--runs=1] [--keep] [--texts=1]\n");
    return 2;
  }
  std::vector<std::pair<std::string, std::vector<std::string>>> folders;
  CollectFolders(options.folder, &folders);
  size_t total = 0;
  for (const auto& f : folders) total += f.second.size();
  if (total == 0) {
    std::fprintf(stderr, "no .jpg files below %s\n", options.folder.c_str());
    return 1;
  }
  int failures = 0;
  for (int run = 0; run < options.runs; ++run) {
    if (!options.keep) {
      for (const auto& f : folders) RemoveModernImages(f.first);
    }
    int made_2x = 0;
    int made_web = 0;
    failures = 0;
    const double cpu_before = CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    for (const auto& [folder, names] : folders) {
      std::vector<const char*> pointers;
      for (const std::string& n : names) pointers.push_back(n.c_str());
      TModernFolderImages images(folder.c_str(), pointers.data(), static_cast<int32_t>(pointers.size()),
                                 options.images);
      for (size_t i = 0; i < names.size(); ++i) {
        TModernImageResult result;
        if (!images.Take(static_cast<int32_t>(i), &result)) {
          ++failures;
          continue;
        }
        made_2x += result.thumb_2x.empty() ? 0 : 1;
        made_web += result.web_copy.empty() ? 0 : 1;
      }
    }
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = CpuSeconds() - cpu_before;
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    std::printf("run %d: %zu images in %zu folders, wall %.2f s, cpu %.2f s, %.1f images/s (wall), "
                "%.1f images/s (cpu), 2x %d, web %d, failed %d, peak RSS %ld MB\n",
                run + 1, total, folders.size(), wall, cpu, total / wall, total / cpu, made_2x, made_web, failures,
                usage.ru_maxrss / 1024);
  }
  return failures == 0 ? 0 : 1;
}
