// Re-runs over a photo tree with thumbnails: the first run (everything
// decoded), a re-run of the unchanged tree (everything reused, nothing
// written), runs without thumbnails over the same tree for comparison, and a
// re-run after one image was replaced by another (exactly one decode). Each
// figure is the median of --runs runs, with the decode and reuse counts and
// the number of files the run changed (new inode or date).
//
// The tree is one made by make_photo_corpus; the benchmark leaves its images
// as it found them (the replaced image is put back) and its generated files
// as a run with thumbnails leaves them.
//
// Usage: rerun_bench --folder=DIR [--runs=3] [--cellwidth=120] [--cellheight=80]

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
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "engine/run/thread_vellumcast.h"
#include "fixtures/tree_writer.h"

namespace {

class TQuietOwner : public TOwnerWindow {
 public:
  void Post(uint32_t) override {}
};

struct TMeasure {
  double wall = 0;
  double cpu = 0;
  long peak_kib = 0;
  int32_t decoded = 0;
  int32_t reused = 0;
  long changed = 0;  // files with another inode or date after the run
};

double CpuSeconds() {
  rusage usage;
  ::getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long PeakKib() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return 0;
}

void ResetPeak() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
}

using TIdentities = std::map<std::string, std::pair<ino_t, int64_t>>;

void CollectIdentities(const std::string& folder, TIdentities& out) {
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
      out[path] = {info.st_ino, static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec};
    }
  }
  ::closedir(dir);
  for (const std::string& sub : subfolders) CollectIdentities(sub, out);
}

long Changed(const TIdentities& before, const TIdentities& after) {
  long changed = 0;
  for (const auto& [path, id] : after) {
    const auto found = before.find(path);
    changed += found == before.end() || found->second != id ? 1 : 0;
  }
  return changed;
}

struct TOptions {
  std::string folder;
  int runs = 3;
  int32_t cellwidth = 120;
  int32_t cellheight = 80;
};

TMeasure Run(const TOptions& options, int32_t createthumbs, int32_t rebuild) {
  TIdentities before;
  CollectIdentities(options.folder, before);
  TMeasure m;
  ResetPeak();
  const double cpu = CpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  {
    TQuietOwner owner;
    TThreadVellumcast worker;
    worker.options.path = options.folder;
    worker.ownerwindow = &owner;
    worker.options.createthumbs = createthumbs;
    worker.options.rebuild = rebuild;
    worker.options.cellwidth = options.cellwidth;
    worker.options.cellheight = options.cellheight;
    worker.Start();
    worker.WaitFor();
    m.decoded = worker.counters.decodedcount;
    m.reused = worker.counters.reusedcount;
  }
  m.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  m.cpu = CpuSeconds() - cpu;
  m.peak_kib = PeakKib();
  std::remove("fn.log");
  TIdentities after;
  CollectIdentities(options.folder, after);
  m.changed = Changed(before, after);
  return m;
}

TMeasure Median(std::vector<TMeasure> runs) {
  std::sort(runs.begin(), runs.end(), [](const TMeasure& a, const TMeasure& b) { return a.wall < b.wall; });
  TMeasure median = runs[runs.size() / 2];
  for (const TMeasure& m : runs) median.peak_kib = std::max(median.peak_kib, m.peak_kib);
  return median;
}

void Report(const char* what, const TMeasure& m) {
  std::printf("%-44s wall %7.3f s  cpu %7.3f s  decoded %5d  reused %5d  files changed %6ld  peak RSS %6.1f MiB\n",
              what, m.wall, m.cpu, m.decoded, m.reused, m.changed, m.peak_kib / 1024.0);
}

// The first and the second image file (".jpg") found below `folder`.
bool TwoImages(const std::string& folder, std::string* first, std::string* second) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return false;
  std::vector<std::string> names;
  std::vector<std::string> subfolders;
  while (dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == ".." || name == "quarto_tn") continue;
    const std::string path = folder + "/" + name;
    if (entry->d_type == DT_DIR) subfolders.push_back(path);
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".jpg") == 0) names.push_back(path);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  if (names.size() >= 2) {
    *first = names[0];
    *second = names[1];
    return true;
  }
  std::sort(subfolders.begin(), subfolders.end());
  for (const std::string& sub : subfolders) {
    if (TwoImages(sub, first, second)) return true;
  }
  return false;
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
    if (const char* v = value("folder")) {
      options.folder = v;
    } else if (const char* v2 = value("runs")) {
      options.runs = std::max(1, std::atoi(v2));
    } else if (const char* v3 = value("cellwidth")) {
      options.cellwidth = std::max(1, std::atoi(v3));
    } else if (const char* v4 = value("cellheight")) {
      options.cellheight = std::max(1, std::atoi(v4));
    } else {
      options.folder.clear();
      break;
    }
  }
  if (options.folder.empty()) {
    std::fprintf(stderr, "usage: rerun_bench --folder=DIR [--runs=3] [--cellwidth=120] [--cellheight=80]\n"
                         "       DIR: a tree made by make_photo_corpus\n");
    return 2;
  }
  std::string replaced;
  std::string other;
  if (!TwoImages(options.folder, &replaced, &other)) {
    std::fprintf(stderr, "rerun_bench: no folder with two .jpg images below %s\n", options.folder.c_str());
    return 1;
  }
  // The probe log goes to the current folder: keep it out of the tree.
  TScratchDir scratch("vc-rerun-bench");
  if (::chdir(scratch.path().c_str()) != 0) return 1;

  std::vector<TMeasure> first, again, plain_first, plain_again, one;
  for (int r = 0; r < options.runs; ++r) first.push_back(Run(options, 1, 1));
  for (int r = 0; r < options.runs; ++r) again.push_back(Run(options, 1, 0));
  plain_first.push_back(Run(options, 0, 0));
  for (int r = 0; r < options.runs; ++r) plain_again.push_back(Run(options, 0, 0));
  Run(options, 1, 0);  // back to the pages with thumbnails
  const std::string original = ReadFileBytes(replaced);
  const std::string substitute = ReadFileBytes(other);
  for (int r = 0; r < options.runs; ++r) {
    // Another picture under the same name, then the original again: one changed image per run.
    if (!WriteFileBytes(replaced, r % 2 == 0 ? substitute : original)) return 1;
    one.push_back(Run(options, 1, 0));
  }
  if (!WriteFileBytes(replaced, original)) return 1;
  Run(options, 1, 0);

  double load[3] = {0, 0, 0};
  ::getloadavg(load, 3);
  std::printf("%s: median of %d runs, cells %dx%d, warm cache; load average %.2f %.2f %.2f\n",
              options.folder.c_str(), options.runs, options.cellwidth, options.cellheight, load[0], load[1], load[2]);
  const TMeasure m_first = Median(first);
  const TMeasure m_again = Median(again);
  const TMeasure m_plain = Median(plain_again);
  Report("thumbnails, everything afresh (--rebuild=1)", m_first);
  Report("thumbnails, re-run of the unchanged tree", m_again);
  Report("no thumbnails, first run over the tree", Median(plain_first));
  Report("no thumbnails, re-run", m_plain);
  Report("thumbnails, re-run after one image replaced", Median(one));
  std::printf("unchanged re-run / first run: %.1f%%   unchanged re-run / re-run without thumbnails: %.2fx\n",
              100.0 * m_again.wall / m_first.wall, m_again.wall / m_plain.wall);
  return 0;
}
