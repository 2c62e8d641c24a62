#include "imagein/memory_budget.h"

#include "raster/membitmap.h"

uint64_t TMemoryBudget::Reserve(uint64_t bytes) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (ceiling_ == 0) {
    if (bytes > capacity_) bytes = capacity_;
    while (held_ + bytes > capacity_) freed_.wait(lock);
    held_ += bytes;
    if (held_ > peak_held_) peak_held_ = held_;
    return bytes;
  }
  if (bytes >= kBeyond) bytes = kBeyond - 1;
  const uint64_t share = bytes > capacity_ ? capacity_ : bytes;
  for (;;) {
    // Alone, any request goes ahead; beside others only within the ceiling.
    const bool room = asked_ == 0 || asked_ + bytes <= ceiling_;
    const bool within = room && held_ + share <= capacity_;
    if (within || (room && beyond_ == 0 && bytes != 0)) {
      asked_ += bytes;
      if (asked_ > peak_asked_) peak_asked_ = asked_;
      if (!within) {
        beyond_ = bytes;
        return kBeyond | bytes;
      }
      held_ += share;
      if (held_ > peak_held_) peak_held_ = held_;
      return bytes;
    }
    freed_.wait(lock);
  }
}

void TMemoryBudget::Release(uint64_t bytes) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (ceiling_ == 0) {
      held_ = bytes < held_ ? held_ - bytes : 0;
    } else {
      if ((bytes & kBeyond) != 0) {
        bytes &= ~kBeyond;
        beyond_ = 0;
      } else {
        const uint64_t share = bytes > capacity_ ? capacity_ : bytes;
        held_ = share < held_ ? held_ - share : 0;
      }
      asked_ = bytes < asked_ ? asked_ - bytes : 0;
    }
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

uint64_t TMemoryBudget::HeldBeyond() {
  std::lock_guard<std::mutex> lock(mutex_);
  return beyond_;
}

uint64_t TMemoryBudget::PeakAsked() {
  std::lock_guard<std::mutex> lock(mutex_);
  return peak_asked_;
}

TMemoryBudget& DecodeMemoryBudget() {
  static TMemoryBudget budget(kMaxPixelBytes);
  return budget;
}

TMemoryBudget& CoefficientMemoryBudget() {
  static TMemoryBudget budget(kCoefficientBudgetBytes, kCoefficientCeilingBytes);
  return budget;
}
