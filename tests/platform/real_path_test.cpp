// Resolved paths, containment, and the kernel file systems a walk avoids.

#include "platform/real_path.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <string>

#include "fixtures/tree_writer.h"
#include "platform/kernel_file_system.h"
#include "platform/symbolic_link.h"

namespace {

TEST(IsPathWithin, Table) {
  struct TCase {
    const char* path;
    const char* root;
    bool within;
  };
  const TCase cases[] = {
      {"/a/b", "/a/b", true},   {"/a/b/c", "/a/b", true}, {"/a/bc", "/a/b", false},
      {"/a", "/a/b", false},    {"/x/y", "/", true},      {"/", "/", true},
      {"/dev/shm", "/dev", true}, {"/device", "/dev", false},
  };
  for (const TCase& c : cases) EXPECT_EQ(IsPathWithin(c.path, c.root), c.within) << c.path << " in " << c.root;
}

TEST(ResolvePath, FollowsLinksAndRefusesWhatIsMissingOrTooLong) {
  TScratchDir dir("vc-real");
  ASSERT_TRUE(MakeDirs(dir.Join("real/inner")));
  ASSERT_EQ(::symlink(dir.Join("real").c_str(), dir.Join("link").c_str()), 0);
  char expected[PATH_MAX];
  ASSERT_NE(::realpath(dir.Join("real/inner").c_str(), expected), nullptr);
  char out[PATH_MAX];
  ASSERT_TRUE(ResolvePath(dir.Join("link/inner").c_str(), out, sizeof out));
  EXPECT_STREQ(out, expected);
  EXPECT_FALSE(ResolvePath(dir.Join("missing").c_str(), out, sizeof out));
  char tiny[4];
  EXPECT_FALSE(ResolvePath(dir.Join("real").c_str(), tiny, sizeof tiny));
  EXPECT_TRUE(IsSymbolicLink(dir.Join("link").c_str()));
  EXPECT_FALSE(IsSymbolicLink(dir.Join("real").c_str()));
  EXPECT_FALSE(IsSymbolicLink(dir.Join("missing").c_str()));
}

// A path not made yet: what exists resolves with its links, the rest is
// added as a folder maker would make it; a part that could never be made
// (a dangling link, a file in the way) gives no answer.
TEST(ResolvePathAhead, ResolvesWhatExistsAndAddsTheRest) {
  TScratchDir dir("vc-ahead");
  ASSERT_TRUE(MakeDirs(dir.Join("real/inner")));
  ASSERT_EQ(::symlink(dir.Join("real").c_str(), dir.Join("link").c_str()), 0);
  ASSERT_EQ(::symlink(dir.Join("gone").c_str(), dir.Join("dangling").c_str()), 0);
  ASSERT_TRUE(WriteFileBytes(dir.Join("file"), "x"));
  char base_buffer[PATH_MAX];
  ASSERT_NE(::realpath(dir.path().c_str(), base_buffer), nullptr);
  const std::string base = base_buffer;
  const struct {
    std::string path;
    const char* resolved;  // below `base`; nullptr: no answer
  } cases[] = {
      {dir.Join("link/inner"), "/real/inner"},
      {dir.Join("link/new/deeper"), "/real/new/deeper"},
      {dir.Join("new/../link/./x/"), "/real/x"},
      {dir.Join("new/../../") + base.substr(base.rfind('/') + 1) + "/link", "/real"},
      {dir.Join("link/inner/../../new"), "/new"},
      {dir.Join("dangling/x"), nullptr},
      {dir.Join("dangling"), nullptr},
      {dir.Join("file/x"), nullptr},
  };
  for (const auto& c : cases) {
    std::string out = "untouched";
    const bool ok = ResolvePathAhead(c.path.c_str(), &out);
    EXPECT_EQ(ok, c.resolved != nullptr) << c.path;
    if (ok && c.resolved != nullptr) EXPECT_EQ(out, base + c.resolved) << c.path;
  }
  std::string root;
  ASSERT_TRUE(ResolvePathAhead("/..//./", &root));
  EXPECT_EQ(root, "/");
}

TEST(IsKernelFileSystem, ProcSysAndDevButNotOrdinaryFolders) {
  struct stat info;
  if (::stat("/proc/self", &info) != 0) GTEST_SKIP() << "no /proc here";
  EXPECT_TRUE(IsKernelFileSystem("/proc"));
  if (::stat("/sys/kernel", &info) == 0) {
    EXPECT_TRUE(IsKernelFileSystem("/sys"));
  }
  if (::stat("/dev/pts", &info) == 0) {
    EXPECT_TRUE(IsKernelFileSystem("/dev/pts"));
  }
  // /dev itself is the kernel's; a tmpfs of its own below it holds ordinary files.
  if (::stat("/dev", &info) == 0) {
    EXPECT_TRUE(IsKernelFileSystem("/dev"));
  }
  struct stat shm;
  if (::stat("/dev/shm", &shm) == 0 && shm.st_dev != info.st_dev) {
    EXPECT_FALSE(IsKernelFileSystem("/dev/shm"));
  }
  TScratchDir dir("vc-kfs");
  EXPECT_FALSE(IsKernelFileSystem(dir.path().c_str()));
  EXPECT_FALSE(IsKernelFileSystem(dir.Join("missing").c_str()));
}

}  // namespace
