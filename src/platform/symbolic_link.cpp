#include "platform/symbolic_link.h"

#include <sys/stat.h>

bool IsSymbolicLink(const char* path) {
  struct stat info;
  return ::lstat(path, &info) == 0 && S_ISLNK(info.st_mode);
}
