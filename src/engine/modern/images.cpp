// ProduceModernImages for one image, and TModernFolderImages, which produces
// a folder's images ahead of the page writer on every core: run threads
// claim the images in order, at most a bounded number beyond the one the
// writer takes next, and make (or reuse) each image's files; Take hands the
// results out in order. The folder's manifest is read once at the start and
// written once at the end.

#include "engine/modern/images.h"

#include <sys/stat.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "engine/classic/cell_producer.h"
#include "engine/store/modern_manifest.h"
#include "engine/modern/production.h"
#include "support/path_util.h"

namespace {

// Images a thread may start beyond the one the writer takes next.
constexpr int32_t kLookaheadPerThread = 3;

void SortByName(std::vector<TModernManifestEntry>& entries) {
  std::sort(entries.begin(), entries.end(),
            [](const TModernManifestEntry& a, const TModernManifestEntry& b) { return a.name < b.name; });
}

// `entries` with `made` in place of any entry of its name (or without one
// when the image could not be made).
void ReplaceEntry(std::vector<TModernManifestEntry>& entries, TModernManifestEntry made, bool keep) {
  entries.erase(std::remove_if(entries.begin(), entries.end(),
                               [&made](const TModernManifestEntry& e) { return e.name == made.name; }),
                entries.end());
  if (keep) entries.push_back(std::move(made));
  SortByName(entries);
}

}  // namespace

bool ProduceModernImages(const char* folder, const char* name, const TModernImageOptions& options,
                         TModernImageResult* result) {
  *result = TModernImageResult{};
  if (folder == nullptr || name == nullptr) return false;
  std::vector<TModernManifestEntry> entries = ReadModernManifest(folder);
  TModernManifestEntry made;
  const bool ok = ProduceOrReuseModernImages(folder, folder, name, options, entries, &made);
  *result = made.result;
  ReplaceEntry(entries, std::move(made), ok);
  WriteModernManifest(folder, entries);
  return ok;
}

struct TModernFolderImages::TState {
  enum class TJobState : uint8_t { kPending, kRunning, kDone };
  struct TJob {
    TJobState state = TJobState::kPending;
    bool ok = false;
    bool taken = false;
    TModernManifestEntry made;
  };

  std::string folder;   // where the images and the manifest go
  std::string source;   // where the originals are read
  TModernImageOptions options;
  std::vector<std::string> names;
  std::vector<TModernManifestEntry> manifest;  // as read at the start, sorted
  TJob* jobs = nullptr;
  int32_t count = 0;
  int32_t lookahead = 0;

  std::mutex mutex;
  std::condition_variable work;
  std::condition_variable done;
  int32_t next_job = 0;
  int32_t writer_position = 0;
  bool stopping = false;
  std::thread* threads = nullptr;
  int thread_count = 0;

  ~TState() { delete[] jobs; }

  void RunJob(int32_t position) {
    TJob& job = jobs[position];
    job.ok = ProduceOrReuseModernImages(source.c_str(), folder.c_str(), names[static_cast<size_t>(position)].c_str(),
                                        options, manifest, &job.made);
  }

  int32_t ClaimNextLocked() {
    while (next_job < count && jobs[next_job].state != TJobState::kPending) ++next_job;
    if (stopping || next_job >= count || next_job >= writer_position + lookahead) return -1;
    jobs[next_job].state = TJobState::kRunning;
    return next_job++;
  }

  void ThreadMain() {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      if (stopping) return;
      const int32_t job = ClaimNextLocked();
      if (job < 0) {
        if (next_job >= count) return;
        work.wait(lock);
        continue;
      }
      lock.unlock();
      RunJob(job);
      lock.lock();
      jobs[job].state = TJobState::kDone;
      done.notify_all();
    }
  }

  // The manifest after the run: what was made or reused, and the earlier
  // entries of images of the folder that were not reached.
  void WriteManifest() {
    std::vector<TModernManifestEntry> entries;
    std::vector<bool> reached(manifest.size(), false);
    for (int32_t i = 0; i < count; ++i) {
      const TJob& job = jobs[i];
      if (job.state != TJobState::kDone) continue;
      if (job.ok) entries.push_back(job.made);
    }
    for (int32_t i = 0; i < count; ++i) {
      if (jobs[i].state == TJobState::kDone) continue;
      const auto found = std::lower_bound(
          manifest.begin(), manifest.end(), names[static_cast<size_t>(i)],
          [](const TModernManifestEntry& e, const std::string& wanted) { return e.name < wanted; });
      if (found != manifest.end() && found->name == names[static_cast<size_t>(i)]) entries.push_back(*found);
    }
    // Images the folder no longer has stay listed while their files are
    // there: the manifest is what tells pruning and the clean-up that a run
    // made them.
    std::vector<std::string> current(names);
    std::sort(current.begin(), current.end());
    for (const TModernManifestEntry& e : manifest) {
      if (std::binary_search(current.begin(), current.end(), e.name)) continue;
      char path[kPathBufferSize];
      struct stat info;
      if (PathJoin(path, sizeof path, kMaxPath, folder.c_str(), e.result.thumb_1x.c_str()) &&
          ::lstat(path, &info) == 0 && S_ISREG(info.st_mode)) {
        entries.push_back(e);
      }
    }
    SortByName(entries);
    WriteModernManifest(folder.c_str(), entries);
  }
};

TModernFolderImages::TModernFolderImages(const char* folder, const char* const* names, int32_t count,
                                         const TModernImageOptions& options)
    : TModernFolderImages(folder, folder, names, count, options) {}

TModernFolderImages::TModernFolderImages(const char* source, const char* folder, const char* const* names,
                                         int32_t count, const TModernImageOptions& options) {
  if (source == nullptr || folder == nullptr || names == nullptr || count <= 0) return;
  state_ = new (std::nothrow) TState;
  if (state_ == nullptr) return;
  state_->jobs = new (std::nothrow) TState::TJob[static_cast<size_t>(count)];
  if (state_->jobs == nullptr) {
    delete state_;
    state_ = nullptr;
    return;
  }
  state_->folder = folder;
  state_->source = source;
  state_->options = options;
  state_->names.reserve(static_cast<size_t>(count));
  for (int32_t i = 0; i < count; ++i) state_->names.emplace_back(names[i] != nullptr ? names[i] : "");
  state_->manifest = ReadModernManifest(folder);
  state_->count = count;
  const int wanted = CellProducerThreads();
  state_->lookahead = kLookaheadPerThread * wanted;
  state_->threads = new (std::nothrow) std::thread[static_cast<size_t>(wanted)];
  if (state_->threads == nullptr) return;  // Take then makes every image itself
  for (int i = 0; i < wanted; ++i) {
    try {
      state_->threads[i] = std::thread(&TState::ThreadMain, state_);
    } catch (...) {
      break;  // fewer threads; Take makes what nobody else takes
    }
    ++state_->thread_count;
  }
}

TModernFolderImages::~TModernFolderImages() {
  if (state_ == nullptr) return;
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->stopping = true;
  }
  state_->work.notify_all();
  for (int i = 0; i < state_->thread_count; ++i) state_->threads[i].join();
  delete[] state_->threads;
  state_->WriteManifest();
  delete state_;
}

bool TModernFolderImages::Take(int32_t position, TModernImageResult* result) {
  *result = TModernImageResult{};
  if (state_ == nullptr || position < 0 || position >= state_->count) return false;
  TState& s = *state_;
  TState::TJob& job = s.jobs[position];
  {
    std::unique_lock<std::mutex> lock(s.mutex);
    if (job.taken) return false;
    s.writer_position = position;
    if (job.state == TState::TJobState::kPending) {
      // Nobody has started it: the caller makes it rather than wait.
      job.state = TState::TJobState::kRunning;
      lock.unlock();
      s.work.notify_all();
      s.RunJob(position);
      lock.lock();
      job.state = TState::TJobState::kDone;
    }
    while (job.state != TState::TJobState::kDone) s.done.wait(lock);
    job.taken = true;
    s.writer_position = position + 1;
  }
  s.work.notify_all();
  *result = job.made.result;
  return job.ok;
}
