#pragma once
// Resolved paths: where a path really leads once every link is followed, and
// whether one resolved path lies inside another.

#include <cstddef>

// Writes the resolved, absolute form of `path` (empty: the current folder)
// to `out`. False when the path cannot be resolved or does not fit.
bool ResolvePath(const char* path, char* out, size_t capacity);

// True when the resolved path `path` is `root` itself or lies below it.
// Both must be resolved (absolute, no "." or "..", no trailing separator
// except for the root folder "/").
bool IsPathWithin(const char* path, const char* root);
