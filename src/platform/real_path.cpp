#include "platform/real_path.h"

#include <climits>
#include <cstdlib>
#include <cstring>

bool ResolvePath(const char* path, char* out, size_t capacity) {
  char resolved[PATH_MAX];
  if (::realpath(path == nullptr || path[0] == '\0' ? "." : path, resolved) == nullptr) return false;
  const size_t length = std::strlen(resolved);
  if (length + 1 > capacity) return false;
  std::memcpy(out, resolved, length + 1);
  return true;
}

bool IsPathWithin(const char* path, const char* root) {
  const size_t root_length = std::strlen(root);
  if (std::strncmp(path, root, root_length) != 0) return false;
  // "/a/bc" is not within "/a/b"; everything is within "/".
  if (root_length > 0 && root[root_length - 1] == '/') return true;
  return path[root_length] == '\0' || path[root_length] == '/';
}
