#pragma once
// The receiver of a worker's notifications: Post must be thread-safe and never block.

#include <cstdint>

inline constexpr uint32_t WM_INDEX_PROGRESS = 1126;
inline constexpr uint32_t WM_INDEX_DONE = 1127;

class TOwnerWindow {
 public:
  virtual ~TOwnerWindow() = default;
  virtual void Post(uint32_t message) = 0;
};
