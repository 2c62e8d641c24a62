#include "engine/run/run_report.h"

#include <iterator>

#include <cstdio>
#include <cstring>

namespace {

constexpr const char* kWarningActions[] = {"cannot list", "not entered", "skipped", "cannot read", "left out",
                                           "not used", "text left out", "videos left out"};
static_assert(std::size(kWarningActions) == static_cast<size_t>(TRunWarning::kVideosOff) + 1,
              "one action per warning kind");

void CopyText(char* out, size_t capacity, const char* text) {
  std::snprintf(out, capacity, "%s", text != nullptr ? text : "");
}

}  // namespace

const char* ErrorText(int error) {
  if (error == 0) return "unknown error";
  const char* text = ::strerrordesc_np(error);
  return text != nullptr ? text : "unknown error";
}

void TRunReport::Keep(TRunEntry* list, int* kept, const char* action, const char* path, int error,
                      const char* reason) {
  if (*kept >= kKeptEntries) return;
  TRunEntry& entry = list[(*kept)++];
  entry.action = action;
  CopyText(entry.path, sizeof entry.path, path);
  CopyText(entry.reason, sizeof entry.reason, reason != nullptr ? reason : ErrorText(error));
}

void TRunReport::AddFailure(TRunFailure what, const char* path, int error, const char* reason) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++failures_[Index(what)];
  Keep(kept_failures_, &failures_kept_, "cannot write", path, error, reason);
}

void TRunReport::AddWarning(TRunWarning what, const char* path, int error, const char* reason) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++warnings_[Index(what)];
  Keep(kept_warnings_, &warnings_kept_, kWarningActions[Index(what)], path, error, reason);
}

int32_t TRunReport::FailureCount() const {
  int32_t total = 0;
  for (const auto& count : failures_) total += count.load();
  return total;
}

int32_t TRunReport::WarningCount() const {
  int32_t total = 0;
  for (const auto& count : warnings_) total += count.load();
  return total;
}

bool TRunReport::KeptFailure(int index, TRunEntry* out) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (index < 0 || index >= failures_kept_) return false;
  *out = kept_failures_[index];
  return true;
}

bool TRunReport::KeptWarning(int index, TRunEntry* out) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (index < 0 || index >= warnings_kept_) return false;
  *out = kept_warnings_[index];
  return true;
}
