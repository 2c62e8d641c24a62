#include "platform/kernel_file_system.h"

#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>

#include <climits>
#include <cstdint>
#include <iterator>

#include "platform/real_path.h"

namespace {

// File-system types that only the kernel fills. Some constants are missing
// from older headers, so the values are spelled out.
constexpr uint64_t kKernelTypes[] = {
    PROC_SUPER_MAGIC,      // /proc
    SYSFS_MAGIC,           // /sys
    0x1cd1,                // devpts
    0x27e0eb,              // cgroup
    0x63677270,            // cgroup2
    0x64626720,            // debugfs
    0x74726163,            // tracefs
    0x73636673,            // securityfs
    0xcafe4a11,            // bpf
    0x6165676c,            // pstore
    0x62656570,            // configfs
    0xde5e81e4,            // efivarfs
    0x19800202,            // mqueue
    0x42494e4d,            // binfmt_misc
    0x65735543,            // fusectl
};

}  // namespace

bool IsKernelFileSystem(const char* path) {
  struct statfs info;
  if (::statfs(path == nullptr || path[0] == '\0' ? "." : path, &info) != 0) return false;
  const uint64_t type = static_cast<uint64_t>(static_cast<uint32_t>(info.f_type));
  for (const uint64_t kernel : kKernelTypes) {
    if (type == kernel) return true;
  }
  if (type != TMPFS_MAGIC) return false;
  // devtmpfs reports itself as tmpfs: told apart by being the file system
  // mounted at /dev. A tmpfs of its own below it (/dev/shm) holds ordinary files.
  char resolved[PATH_MAX];
  if (!ResolvePath(path, resolved, sizeof resolved) || !IsPathWithin(resolved, "/dev")) return false;
  struct stat folder_info;
  struct stat dev_info;
  return ::stat(resolved, &folder_info) == 0 && ::stat("/dev", &dev_info) == 0 &&
         folder_info.st_dev == dev_info.st_dev;
}
