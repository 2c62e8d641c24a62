#pragma once
// The longest path a load accepts.

#include <cstddef>
#include <cstring>

// Paths of this many characters or more do not fit a load request or a
// bitmap's name (256 bytes with the terminating NUL); loads refuse them with
// kLoadPathTooLong rather than cut them.
inline constexpr size_t kMaxLoadPathLength = 256;

inline bool LoadPathTooLong(const char* path) {
  return path != nullptr && strnlen(path, kMaxLoadPathLength) >= kMaxLoadPathLength;
}
