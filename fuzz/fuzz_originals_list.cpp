// libFuzzer target: the record of originals placed in an output folder
// (vellumcast-originals.list), which decides what the clean-up removes and
// what a re-run may replace. The first byte picks the run's settings; the
// rest is the record. The output folder holds files of known sizes and
// times, so that records naming them can match: a copy a run placed, a file
// the user put there, a folder, a link, a file only the record knows.
// Whatever is read, only plain regular files of the output folder whose
// size and time the record holds may be offered for removal, and placing
// the originals never changes a file that is not the run's own.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "engine/publish/folder_place.h"
#include "engine/publish/original_copies.h"
#include "engine/run/thread_vellumcast.h"
#include "engine/store/generated_names.h"
#include "fuzz_support.h"
#include "support/strman.h"

namespace {

TFuzzScratchFolder& Scratch() {
  static TFuzzScratchFolder folder("fuzz_originals_list_");
  return folder;
}

// Files made for every input: path below the scratch folder, content, and
// modification time (seconds, nanoseconds) as the seeds record them.
struct TKnownFile {
  const char* path;
  const char* content;
  int64_t seconds;
  int64_t nanoseconds;
};
const TKnownFile kFiles[] = {
    {"src/a.jpg", "0123456789", 1700000000, 500},
    {"src/b.jpg", "01234567890123456789", 1700000100, 0},
    {"src/c d.jpg", "0123456789012345678901234567890", 1700000200, 999999999},
    {"out/a.jpg", "0123456789", 1700000000, 500},          // a copy placed earlier
    {"out/b.jpg", "user's own", 1600000000, 0},            // the user's file of the same name
    {"out/old.jpg", "an earlier original", 1650000000, 0},  // its image is gone
    {"out/notes.txt", "keep me", 1650000000, 0},
};

bool MakeKnownFile(TFuzzScratchFolder& scratch, const TKnownFile& file) {
  if (!scratch.WriteFile(file.path, file.content, std::strlen(file.content))) return false;
  const struct timespec times[2] = {{file.seconds, file.nanoseconds}, {file.seconds, file.nanoseconds}};
  return utimensat(AT_FDCWD, scratch.Join(file.path).c_str(), times, 0) == 0;
}

// Name -> (type, size, mtime, content) of every entry of `folder` but the record.
struct TState {
  mode_t type = 0;
  off_t size = 0;
  struct timespec mtime = {};
  std::string content;
};
std::map<std::string, TState> Snapshot(const std::string& folder) {
  std::map<std::string, TState> state;
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return state;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == ".." || name == kOriginalsRecordFile) continue;
    const std::string path = folder + "/" + name;
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0) continue;
    TState& s = state[name];
    s.type = info.st_mode & S_IFMT;
    s.size = info.st_size;
    s.mtime = info.st_mtim;
    if (S_ISREG(info.st_mode)) {
      FILE* f = std::fopen(path.c_str(), "rb");
      if (f != nullptr) {
        char block[256];
        size_t got = 0;
        while ((got = std::fread(block, 1, sizeof block, f)) > 0) s.content.append(block, got);
        std::fclose(f);
      }
    }
  }
  closedir(dir);
  return state;
}

void CheckOfferedForRemoval(const std::vector<std::string>& paths, const std::string& out) {
  for (const std::string& path : paths) {
    if (path.compare(0, out.size() + 1, out + "/") != 0) std::abort();
    const std::string name = path.substr(out.size() + 1);
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) std::abort();
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t choice = data[0];
  TFuzzScratchFolder& scratch = Scratch();
  scratch.Empty();
  if (!scratch.MakeFolder("src") || !scratch.MakeFolder("out") || !scratch.MakeFolder("out/sub")) return 0;
  for (const TKnownFile& file : kFiles) {
    if (!MakeKnownFile(scratch, file)) return 0;
  }
  if (symlink("../src/a.jpg", scratch.Join("out/link.jpg").c_str()) != 0) return 0;
  const std::string record = std::string("out/") + kOriginalsRecordFile;
  if (!scratch.WriteFile(record.c_str(), data + 1, size - 1)) return 0;
  const std::string out = scratch.Join("out");

  CheckOfferedForRemoval(RecordedOriginalsInPlace(out.c_str()), out);

  // A run placing the source folder's originals (and, by the choice, names
  // that are not plain or not there).
  const std::map<std::string, TState> before = Snapshot(out);
  const std::vector<std::string> offered = RecordedOriginalsInPlace(out.c_str());
  TThreadVellumcast worker;
  worker.options.path = scratch.Path();
  worker.options.images = (choice & 1) != 0 ? kImagesHardLink : kImagesCopy;
  worker.options.prune = static_cast<TStyleSwitch>((choice >> 1) & 1);
  worker.options.followlinks = (choice >> 2) & 1;
  TStringManager images(sizeof(TStrEntry), 4, 0, nullptr);
  for (const char* name : {"a.jpg", "b.jpg", "c d.jpg"}) images.FindOrAdd(name);
  if ((choice & 8) != 0) images.FindOrAdd("missing.jpg");
  if ((choice & 16) != 0) images.FindOrAdd("..");
  if ((choice & 32) != 0) images.FindOrAdd("sub");
  const std::string source = scratch.Join("src");
  TFolderPlace place;
  place.source = source.c_str();
  place.output = out.c_str();
  const std::atomic<bool> stop{false};
  TIndexRun run(worker.options, worker.counters, worker.report, nullptr, stop);
  PlaceOriginals(run, place, images);

  // Whatever changed was the run's own: a regular file the record vouched for.
  const std::map<std::string, TState> after = Snapshot(out);
  for (const auto& [name, was] : before) {
    const auto now = after.find(name);
    const bool same = now != after.end() && now->second.type == was.type && now->second.content == was.content;
    if (same) continue;
    const std::string path = out + "/" + name;
    bool vouched = false;
    for (const std::string& p : offered) vouched = vouched || p == path;
    if (!vouched) std::abort();
  }
  for (const std::string& name : place.local) {
    const auto now = after.find(name);
    if (now == after.end() || now->second.type != S_IFREG) std::abort();
  }
  CheckOfferedForRemoval(RecordedOriginalsInPlace(out.c_str()), out);
  return 0;
}
