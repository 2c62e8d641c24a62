#pragma once
// One index run as the walk and the writers see it: the options it was
// given, its counters and report, the owner it notifies and whether it was
// asked to stop. The thread that runs it (thread_vellumcast.h) only runs.

#include <atomic>
#include <cstdint>

#include "engine/run/index_options.h"
#include "engine/run/run_report.h"
#include "platform/owner.h"

// Written by the run, read by other threads at any time.
struct TRunCounters {
  std::atomic<int32_t> dircount{0};
  std::atomic<int32_t> filecount{0};
  // Folders whose first page was written.
  std::atomic<int32_t> indexcount{0};
  // Thumbnails decoded (each decode of a source image) and reused this run.
  std::atomic<int32_t> decodedcount{0};
  std::atomic<int32_t> reusedcount{0};
  // Folders that kept the default first page name because a file of the
  // chosen name was not a run's.
  std::atomic<int32_t> firstpagekept{0};
  // Pages rendered from a theme view, and pages found current without
  // rendering (page_output.h).
  std::atomic<int32_t> renderedcount{0};
  std::atomic<int32_t> currentcount{0};
  // Files left out because no browser shows them and no thumbnail is made.
  std::atomic<int32_t> skipped_undisplayable{0};
  // Modern style: videos on the pages (also counted in filecount), and web
  // copies of videos made this run.
  std::atomic<int32_t> videocount{0};
  std::atomic<int32_t> transcodedcount{0};
  // Per mille of the web copy of a video under way, -1 when none.
  std::atomic<int32_t> videoprogress{-1};
};

class TIndexRun {
 public:
  TIndexRun(const TIndexOptions& run_options, TRunCounters& run_counters, TRunReport& run_report,
            TOwnerWindow* owner, const std::atomic<bool>& stop)
      : options(run_options), counters(run_counters), report(run_report), ownerwindow(owner), stop_(stop) {}
  TIndexRun(const TIndexRun&) = delete;
  TIndexRun& operator=(const TIndexRun&) = delete;

  const TIndexOptions& options;
  TRunCounters& counters;
  TRunReport& report;
  TOwnerWindow* ownerwindow;
  bool Terminated() const { return stop_.load(std::memory_order_relaxed); }
  // The stop request itself, for work that polls it on its own (a video's web copy).
  const std::atomic<bool>& StopFlag() const { return stop_; }

 private:
  const std::atomic<bool>& stop_;
};
