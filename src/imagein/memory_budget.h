#pragma once
// The memory the decodes of this process may hold together. A decode
// reserves its estimated peak before it starts and releases it when done; a
// reservation that does not fit beside what others hold waits until it does.
// A holder never waits for anything while it holds, so every wait ends.
// Every decode path (classic cells, the thumbnail pool, modern production,
// the decode command) reserves from the one budget DecodeMemoryBudget(), so
// that decodes running side by side stay within kMaxPixelBytes together.

#include <condition_variable>
#include <cstdint>
#include <mutex>

class TMemoryBudget {
 public:
  explicit TMemoryBudget(uint64_t capacity) : capacity_(capacity) {}
  // A budget that also lets one request at a time that does not fit go
  // ahead beyond the capacity, as long as everything held stays within
  // `ceiling` (see Reserve).
  TMemoryBudget(uint64_t capacity, uint64_t ceiling) : capacity_(capacity), ceiling_(ceiling) {}
  TMemoryBudget(const TMemoryBudget&) = delete;
  TMemoryBudget& operator=(const TMemoryBudget&) = delete;

  uint64_t Capacity() const { return capacity_; }

  // Waits until `bytes` fit beside what is held, then holds them. A request
  // above the capacity holds the whole capacity: it runs alone. With a
  // ceiling, the requests held together also stay within it (a request
  // larger than the ceiling runs alone), and a request that does not fit
  // within the capacity goes ahead beyond it while no other is beyond: at
  // most one request is ever held beyond the capacity.
  uint64_t Reserve(uint64_t bytes);
  // Gives back what Reserve returned.
  void Release(uint64_t bytes);
  // True when Reserve returned `reserved` for a hold beyond the capacity.
  static bool IsBeyond(uint64_t reserved) { return (reserved & kBeyond) != 0; }

  // What is held within the capacity, and its peak.
  uint64_t Held();
  uint64_t PeakHeld();
  // The bytes of the request held beyond the capacity; 0 when there is none.
  uint64_t HeldBeyond();
  // The most bytes the requests held at once asked for, within and beyond.
  uint64_t PeakAsked();

 private:
  // Marks a hold beyond the capacity in what Reserve returns.
  static constexpr uint64_t kBeyond = uint64_t{1} << 63;

  const uint64_t capacity_;
  const uint64_t ceiling_ = 0;  // 0: none, and nothing goes beyond the capacity
  std::mutex mutex_;
  std::condition_variable freed_;
  uint64_t held_ = 0;    // shares within the capacity
  uint64_t asked_ = 0;   // what the holders asked for, within and beyond
  uint64_t beyond_ = 0;  // bytes of the hold beyond the capacity (0: none)
  uint64_t peak_held_ = 0;
  uint64_t peak_asked_ = 0;
};

// The process's one budget, of kMaxPixelBytes.
TMemoryBudget& DecodeMemoryBudget();

// The whole-image coefficient buffers of progressive and multi-scan JPEG
// files, the largest single block a JPEG decode holds, are held a second time
// from this smaller budget while the decode runs (jpeg_limits.h): the decodes
// running side by side hold no more of them together than its capacity (or a
// single larger one alone), and one more buffer beyond it, while all of them
// together stay within the ceiling. The one beyond lets a second core decode
// beside another: two 12-megapixel photos (36.6 MB of coefficients each,
// 69.8 MiB together) decode together, two 16-megapixel ones take turns, so
// a decode's peak stays under 100 MiB with the rest of the program. Taken after the
// decode's share of the one budget, never the other way round, so no two
// holders wait on each other.
inline constexpr uint64_t kCoefficientBudgetBytes = uint64_t{32} << 20;
inline constexpr uint64_t kCoefficientCeilingBytes = uint64_t{72} << 20;
TMemoryBudget& CoefficientMemoryBudget();

// Holds `bytes` of a budget for its lifetime. Take one per decode, never two
// at once on the same thread (a second would wait on the first).
class TBudgetHold {
 public:
  TBudgetHold(TMemoryBudget& budget, uint64_t bytes) : budget_(budget), held_(budget.Reserve(bytes)) {}
  ~TBudgetHold() { budget_.Release(held_); }
  TBudgetHold(const TBudgetHold&) = delete;
  TBudgetHold& operator=(const TBudgetHold&) = delete;

 private:
  TMemoryBudget& budget_;
  const uint64_t held_;
};
