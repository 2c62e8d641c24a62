#include "engine/memory_budget.h"

uint64_t TMemoryBudget::Reserve(uint64_t bytes) {
  if (bytes > capacity_) bytes = capacity_;
  std::unique_lock<std::mutex> lock(mutex_);
  while (held_ + bytes > capacity_) freed_.wait(lock);
  held_ += bytes;
  if (held_ > peak_held_) peak_held_ = held_;
  return bytes;
}

void TMemoryBudget::Release(uint64_t bytes) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    held_ = bytes < held_ ? held_ - bytes : 0;
  }
  freed_.notify_all();
}

uint64_t TMemoryBudget::Held() {
  std::lock_guard<std::mutex> lock(mutex_);
  return held_;
}

uint64_t TMemoryBudget::PeakHeld() {
  std::lock_guard<std::mutex> lock(mutex_);
  return peak_held_;
}
