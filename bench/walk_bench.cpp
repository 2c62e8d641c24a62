// Walk throughput: an index run without thumbnails over a tree of many small
// images, beside a plain walk that opens every image and reads its first 64
// bytes (the least any catalog of the same tree must do). The index run is
// measured on a tree without pages and again over its own pages, which it
// replaces (a rename over an existing file costs the file system more).
//
// Between the runs without pages, the pages are moved out of the tree into a
// holding folder rather than deleted (--clean=delete deletes them with the
// clean-up instead): on ext4 without a journal, creating a file costs a scan
// over the inodes deleted nearby in the last minutes, so deleting 4,000 pages
// just before a run would make the run pay for the benchmark's own clean-up.
//
// The re-runs over existing pages find them unchanged and leave them as they
// are; the benchmark counts the files a last re-run changed (another inode
// or date), which is none. With --createthumbs=1 every run also makes or
// reuses thumbnails.
//
// Usage: walk_bench [--folders=2000] [--per-folder=10] [--runs=3] [--folder=DIR]
//                   [--clean=move|delete] [--createthumbs=0|1]

#include <dirent.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "engine/store/clean.h"
#include "engine/run/thread_vellumcast.h"
#include "fixtures/image_writers.h"
#include "fixtures/tree_writer.h"

namespace {

struct TOptions {
  int folders = 2000;
  int per_folder = 10;
  int runs = 3;
  std::string folder;
  bool delete_pages = false;  // --clean=delete
  int createthumbs = 0;
};

class TQuietOwner : public TOwnerWindow {
 public:
  void Post(uint32_t) override {}
};

struct TMeasure {
  double wall = 0;
  double cpu = 0;
  long peak_kib = 0;
  long images = 0;
};

double CpuSeconds() {
  rusage usage;
  ::getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Peak resident size since the last reset (VmHWM), in KiB.
long PeakKib() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  rusage usage;
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

void ResetPeak() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
}

std::string FileBytes(const std::string& path) { return ReadFileBytes(path); }

bool IsImageName(const char* name) {
  const char* dot = std::strrchr(name, '.');
  return dot != nullptr && (strcasecmp(dot, ".gif") == 0 || strcasecmp(dot, ".jpg") == 0 ||
                            strcasecmp(dot, ".bmp") == 0);
}

long PlainWalk(const std::string& folder) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return 0;
  long images = 0;
  std::vector<std::string> subfolders;
  while (dirent* entry = ::readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    const std::string path = folder + "/" + entry->d_name;
    if (entry->d_type == DT_DIR) {
      subfolders.push_back(path);
    } else if (IsImageName(entry->d_name)) {
      if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
        unsigned char head[64];
        images += std::fread(head, 1, sizeof head, file) > 0 ? 1 : 0;
        std::fclose(file);
      }
    }
  }
  ::closedir(dir);
  for (const std::string& sub : subfolders) images += PlainWalk(sub);
  return images;
}

bool IsPageName(const char* name) {
  if (std::strcmp(name, "imageback.html") == 0) return true;
  if (std::strncmp(name, "vellumcast", 10) != 0) return false;
  const char* at = name + 10;
  while (*at >= '0' && *at <= '9') ++at;
  return std::strcmp(at, ".html") == 0;
}

// Moves every page below `folder` into `holding` (numbered names); the count moved.
long MovePagesOut(const std::string& folder, const std::string& holding, long& serial) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return 0;
  long moved = 0;
  std::vector<std::string> subfolders;
  while (dirent* entry = ::readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    const std::string path = folder + "/" + entry->d_name;
    if (entry->d_type == DT_DIR) {
      subfolders.push_back(path);
    } else if (entry->d_type == DT_REG && IsPageName(entry->d_name)) {
      const std::string target = holding + "/" + std::to_string(serial++);
      moved += std::rename(path.c_str(), target.c_str()) == 0 ? 1 : 0;
    }
  }
  ::closedir(dir);
  for (const std::string& sub : subfolders) moved += MovePagesOut(sub, holding, serial);
  return moved;
}

int g_createthumbs = 0;

long IndexRun(const std::string& folder) {
  TQuietOwner owner;
  TThreadVellumcast worker;
  worker.options.path = folder;
  worker.options.createthumbs = g_createthumbs;
  worker.ownerwindow = &owner;
  worker.Start();
  worker.WaitFor();
  return worker.counters.filecount;
}

template <typename F>
TMeasure Measure(F&& run) {
  ResetPeak();
  TMeasure m;
  const double cpu = CpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  m.images = run();
  m.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  m.cpu = CpuSeconds() - cpu;
  m.peak_kib = PeakKib();
  return m;
}

bool BuildTree(const std::string& root, const TOptions& options) {
  // Three small images, written once and copied: GIF, JPEG and BMP of 32 x 24.
  TScratchDir samples("vc-bench-samples");
  if (!WriteTestGif(samples.Join("s.gif"), 32, 24) || !WriteTestJpeg(samples.Join("s.jpg"), 32, 24) ||
      !WriteTestBmp24(samples.Join("s.bmp"), 32, 24)) {
    return false;
  }
  const std::string kinds[3] = {FileBytes(samples.Join("s.gif")), FileBytes(samples.Join("s.jpg")),
                                FileBytes(samples.Join("s.bmp"))};
  const char* extensions[3] = {".gif", ".jpg", ".bmp"};
  // Top folders, each holding its share of the subfolders; every folder holds images.
  const int tops = std::max(1, options.folders / 50);
  int made = 0;
  long image = 0;
  for (int t = 0; t < tops && made < options.folders; ++t) {
    const std::string top = root + "/top" + std::to_string(t);
    std::vector<std::string> folders = {top};
    ++made;
    const int subs = (options.folders - made) / (tops - t);
    for (int s = 0; s < subs && made < options.folders; ++s, ++made) {
      folders.push_back(top + "/sub" + std::to_string(s));
    }
    for (const std::string& folder : folders) {
      if (!MakeDirs(folder)) return false;
      for (int i = 0; i < options.per_folder; ++i, ++image) {
        const int kind = static_cast<int>(image % 3);
        if (!WriteFileBytes(folder + "/img" + std::to_string(i) + extensions[kind], kinds[kind])) return false;
      }
    }
  }
  return true;
}

// Inode and modification time of every file below `folder`, by path.
void CollectIdentities(const std::string& folder, std::vector<std::pair<std::string, std::pair<ino_t, int64_t>>>& out) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return;
  std::vector<std::string> subfolders;
  while (dirent* entry = ::readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    const std::string path = folder + "/" + entry->d_name;
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0) continue;
    if (S_ISDIR(info.st_mode)) {
      subfolders.push_back(path);
    } else {
      out.push_back({path, {info.st_ino, static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec}});
    }
  }
  ::closedir(dir);
  for (const std::string& sub : subfolders) CollectIdentities(sub, out);
}

long FilesChangedByARun(const std::string& root) {
  std::vector<std::pair<std::string, std::pair<ino_t, int64_t>>> before, after;
  CollectIdentities(root, before);
  IndexRun(root);
  std::remove("fn.log");
  CollectIdentities(root, after);
  std::sort(before.begin(), before.end());
  std::sort(after.begin(), after.end());
  long changed = 0;
  size_t b = 0;
  for (const auto& file : after) {
    while (b < before.size() && before[b].first < file.first) ++b;
    changed += b < before.size() && before[b] == file ? 0 : 1;
  }
  return changed;
}

void Report(const char* what, const std::vector<TMeasure>& runs) {
  std::vector<TMeasure> sorted = runs;
  std::sort(sorted.begin(), sorted.end(), [](const TMeasure& a, const TMeasure& b) { return a.wall < b.wall; });
  const TMeasure& median = sorted[sorted.size() / 2];
  long peak = 0;
  for (const TMeasure& m : runs) peak = std::max(peak, m.peak_kib);
  std::printf("%-34s %6ld images  wall %7.3f s  %9.0f images/s  cpu %7.3f s  %9.0f images/s (cpu)  peak RSS %6.1f MiB\n",
              what, median.images, median.wall, median.images / median.wall, median.cpu,
              median.cpu > 0 ? median.images / median.cpu : 0.0, peak / 1024.0);
}

}  // namespace

int main(int argc, char** argv) {
  TOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](const char* name) -> const char* {
      const std::string prefix = std::string("--") + name + "=";
      return arg.rfind(prefix, 0) == 0 ? argv[i] + prefix.size() : nullptr;
    };
    if (const char* v = value("folders")) {
      options.folders = std::atoi(v);
    } else if (const char* v2 = value("per-folder")) {
      options.per_folder = std::atoi(v2);
    } else if (const char* v3 = value("runs")) {
      options.runs = std::max(1, std::atoi(v3));
    } else if (const char* v4 = value("folder")) {
      options.folder = v4;
    } else if (const char* v5 = value("clean"); v5 != nullptr && (std::strcmp(v5, "move") == 0 ||
                                                                  std::strcmp(v5, "delete") == 0)) {
      options.delete_pages = std::strcmp(v5, "delete") == 0;
    } else if (const char* v6 = value("createthumbs")) {
      options.createthumbs = std::atoi(v6) != 0 ? 1 : 0;
    } else {
      std::fprintf(stderr,
                   "usage: walk_bench [--folders=2000] [--per-folder=10] [--runs=3] [--folder=DIR] "
                   "[--clean=move|delete] [--createthumbs=0|1]\n");
      return 2;
    }
  }
  g_createthumbs = options.createthumbs;
  TScratchDir scratch("vc-walk-bench");
  const std::string root = options.folder.empty() ? scratch.Join("tree") : options.folder;
  RemoveTree(root);
  std::printf("building %d folders x %d images in %s ...\n", options.folders, options.per_folder, root.c_str());
  if (!BuildTree(root, options)) {
    std::fprintf(stderr, "walk_bench: cannot build the tree\n");
    return 1;
  }
  // The probe log goes to the current folder: keep it out of the tree and the source.
  if (::chdir(scratch.path().c_str()) != 0) return 1;
  PlainWalk(root);  // warm the cache
  std::vector<TMeasure> plain;
  std::vector<TMeasure> first;
  std::vector<TMeasure> again;
  // Beside the tree, on its file system: pages are renamed there, and a
  // rename does not cross file systems.
  const std::string holding = options.folder.empty() ? scratch.Join("old-pages") : root + ".old-pages";
  RemoveTree(holding);
  if (!MakeDirs(holding)) return 1;
  long serial = 0;
  // All runs without pages first: the runs over existing pages delete the
  // pages they replace, which would slow the creations of a later run.
  for (int r = 0; r < options.runs; ++r) {
    plain.push_back(Measure([&] { return PlainWalk(root); }));
    if (!options.delete_pages) MovePagesOut(root, holding, serial);
    // What the clean-up still finds is deleted: nothing after the move but
    // the thumbnails, so that every first run makes them afresh.
    const TCleanResult left = DeleteGenerated(root.c_str());
    if (!options.delete_pages && options.createthumbs == 0 && left.files_removed != 0) {
      std::fprintf(stderr, "walk_bench: %ld generated files left after the move\n", static_cast<long>(left.files_removed));
      return 1;
    }
    first.push_back(Measure([&] { return IndexRun(root); }));
    std::remove("fn.log");
  }
  for (int r = 0; r < options.runs; ++r) {
    again.push_back(Measure([&] { return IndexRun(root); }));
    std::remove("fn.log");
  }
  double load[3] = {0, 0, 0};
  ::getloadavg(load, 3);
  std::printf("median of %d runs, warm cache, thumbnails %s, pages %s between runs; load average %.2f %.2f %.2f\n",
              options.runs, options.createthumbs ? "on" : "off", options.delete_pages ? "deleted" : "moved out", load[0], load[1], load[2]);
  Report("plain walk (open, read 64 bytes)", plain);
  Report("index run, no pages yet", first);
  Report("index run again, pages unchanged", again);
  std::printf("files changed by another re-run: %ld\n", FilesChangedByARun(root));
  if (!options.folder.empty()) {
    RemoveTree(holding);
    return 0;
  }
  RemoveTree(root);
  return 0;
}
