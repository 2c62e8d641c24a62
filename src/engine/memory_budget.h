#pragma once
// The memory the thumbnail pool's decodes may hold together. A decode
// reserves its estimated peak before it starts and releases it when done; a
// reservation that does not fit beside what others hold waits until it does.
// A holder never waits for anything while it holds, so every wait ends.

#include <condition_variable>
#include <cstdint>
#include <mutex>

class TMemoryBudget {
 public:
  explicit TMemoryBudget(uint64_t capacity) : capacity_(capacity) {}
  TMemoryBudget(const TMemoryBudget&) = delete;
  TMemoryBudget& operator=(const TMemoryBudget&) = delete;

  uint64_t Capacity() const { return capacity_; }

  // Waits until `bytes` fit beside what is held, then holds them. A request
  // above the capacity holds the whole capacity: it runs alone.
  uint64_t Reserve(uint64_t bytes);
  // Gives back what Reserve returned.
  void Release(uint64_t bytes);

  uint64_t Held();
  uint64_t PeakHeld();

 private:
  const uint64_t capacity_;
  std::mutex mutex_;
  std::condition_variable freed_;
  uint64_t held_ = 0;
  uint64_t peak_held_ = 0;
};
