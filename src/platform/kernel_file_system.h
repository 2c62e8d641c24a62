#pragma once
// Folders a run must never enter: the kernel's own file systems (/proc,
// /sys, /dev and their kin), whose entries lead into other programs' working
// folders, devices and endless trees.

// True when the folder at `path` lies on such a file system: proc, sysfs,
// devpts, cgroup, debugfs and the like by their file-system type, and the
// devtmpfs of /dev (a tmpfs by type) by being the file system mounted at
// /dev (a tmpfs of its own below it, as /dev/shm, is ordinary). False when
// the folder cannot be examined.
bool IsKernelFileSystem(const char* path);
