#pragma once
// Resolved paths: where a path really leads once every link is followed, and
// whether one resolved path lies inside another.

#include <cstddef>
#include <string>

// Writes the resolved, absolute form of `path` (empty: the current folder)
// to `out`. False when the path cannot be resolved or does not fit.
bool ResolvePath(const char* path, char* out, size_t capacity);

// True when the resolved path `path` is `root` itself or lies below it.
// Both must be resolved (absolute, no "." or "..", no trailing separator
// except for the root folder "/").
bool IsPathWithin(const char* path, const char* root);

// Like ResolvePath, for a path that may not exist yet: every existing part is
// resolved with its links followed, the rest is appended as a folder maker
// would create it ("." dropped, ".." taking away the part before it). A
// relative path starts from the current folder. False when a part cannot be
// resolved for another reason than its absence (no permission, a dangling
// link, a file in the way), so that no folder could be made there either.
bool ResolvePathAhead(const char* path, std::string* out);
