#include "platform/real_path.h"

#include <sys/stat.h>

#include <cerrno>
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

bool ResolvePathAhead(const char* path, std::string* out) {
  char resolved[PATH_MAX];
  std::string current = "/";
  if (path[0] != '/') {
    if (::realpath(".", resolved) == nullptr) return false;
    current = resolved;
  }
  const char* part = path;
  while (*part != '\0') {
    const char* end = std::strchr(part, '/');
    const size_t length = end != nullptr ? static_cast<size_t>(end - part) : std::strlen(part);
    const std::string name(part, length);
    part += length;
    while (*part == '/') ++part;
    if (name.empty() || name == ".") continue;
    if (name == "..") {
      // `current` holds no links, so its parent is found by cutting.
      const size_t slash = current.rfind('/');
      current.resize(slash == 0 ? 1 : slash);
      continue;
    }
    std::string next = current == "/" ? "/" + name : current + "/" + name;
    if (::realpath(next.c_str(), resolved) != nullptr) {
      current = resolved;
      continue;
    }
    struct stat info;
    if (errno != ENOENT || ::lstat(next.c_str(), &info) == 0) return false;
    current = std::move(next);
  }
  *out = std::move(current);
  return true;
}
