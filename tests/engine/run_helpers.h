#pragma once
// Runs of the index worker for the engine tests: a recording owner, a scratch
// tree that is also the current folder (the probe log lands there), and page
// text read back.

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "engine/run/thread_vellumcast.h"
#include "fixtures/tree_writer.h"

// Records every message; can request the stop after a number of progress messages.
class TRecordingOwner : public TOwnerWindow {
 public:
  void Post(uint32_t message) override {
    std::lock_guard<std::mutex> lock(mutex_);
    messages_.push_back(message);
    if (message == WM_INDEX_PROGRESS && ++progress_ == stop_after_progress && worker != nullptr) {
      worker->Terminate();
    }
  }
  std::vector<uint32_t> Messages() {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
  }
  TThreadVellumcast* worker = nullptr;
  int stop_after_progress = -1;

 private:
  std::mutex mutex_;
  std::vector<uint32_t> messages_;
  int progress_ = 0;
};

struct TRunResult {
  int32_t dircount = 0;
  int32_t filecount = 0;
  int32_t indexcount = 0;
  int32_t renderedcount = 0;  // pages rendered from a theme view
  int32_t currentcount = 0;   // pages found current without rendering
  int32_t decodedcount = 0;   // images (and video posters) decoded, and their outputs reused
  int32_t reusedcount = 0;
  int32_t videocount = 0;     // videos on the pages, and their web copies made
  int32_t transcodedcount = 0;
  std::vector<uint32_t> messages;
  // The run's report: counts, and the kept entries as "action path: reason".
  int32_t failures = 0;
  int32_t warnings = 0;
  std::vector<std::string> failure_lines;
  std::vector<std::string> warning_lines;
  int ProgressMessages() const {
    int n = 0;
    for (uint32_t m : messages) n += m == WM_INDEX_PROGRESS ? 1 : 0;
    return n;
  }
};

inline TRunResult RunIndex(const std::string& path,
                           const std::function<void(TThreadVellumcast&)>& configure = {},
                           int stop_after_progress = -1, bool terminate_first = false) {
  TRecordingOwner owner;
  TRunResult result;
  {
    TThreadVellumcast worker;
    worker.options.path = path;
    worker.ownerwindow = &owner;
    owner.worker = &worker;
    owner.stop_after_progress = stop_after_progress;
    if (configure) configure(worker);
    if (terminate_first) worker.Terminate();
    EXPECT_TRUE(worker.Start());
    worker.WaitFor();
    result.dircount = worker.counters.dircount;
    result.filecount = worker.counters.filecount;
    result.indexcount = worker.counters.indexcount;
    result.renderedcount = worker.counters.renderedcount;
    result.currentcount = worker.counters.currentcount;
    result.decodedcount = worker.counters.decodedcount;
    result.reusedcount = worker.counters.reusedcount;
    result.videocount = worker.counters.videocount;
    result.transcodedcount = worker.counters.transcodedcount;
    result.failures = worker.report.FailureCount();
    result.warnings = worker.report.WarningCount();
    TRunEntry entry;
    for (int i = 0; worker.report.KeptFailure(i, &entry); ++i) {
      result.failure_lines.push_back(std::string(entry.action) + " " + entry.path + ": " + entry.reason);
    }
    for (int i = 0; worker.report.KeptWarning(i, &entry); ++i) {
      result.warning_lines.push_back(std::string(entry.action) + " " + entry.path + ": " + entry.reason);
    }
  }
  result.messages = owner.Messages();
  return result;
}

// A scratch folder that is the current folder for the test's duration.
class TEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char saved[PATH_MAX];
    ASSERT_NE(::getcwd(saved, sizeof saved), nullptr);
    saved_cwd_ = saved;
    ASSERT_EQ(::chdir(dir_.path().c_str()), 0);
  }
  void TearDown() override { EXPECT_EQ(::chdir(saved_cwd_.c_str()), 0); }

  std::string Path(const std::string& relative) const { return dir_.Join(relative); }
  std::string Page(const std::string& relative) const { return ReadFileBytes(dir_.Join(relative)); }
  bool Exists(const std::string& relative) const { return FileExists(dir_.Join(relative)); }

  TScratchDir dir_{"vc-engine"};
  std::string saved_cwd_;
};
