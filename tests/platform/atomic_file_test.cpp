// The atomic writer puts a file in place whole or not at all, never through
// or over what is not a regular file, and below a pinned folder reaches the
// folder through its handle, never through a link.

#include "platform/atomic_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <string>

#include "fixtures/tree_writer.h"
#include "platform/folder_handle.h"

namespace {

namespace fs = std::filesystem;

int EntriesIn(const std::string& folder) {
  int n = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder)) ++n;
  return n;
}

const uint8_t kBytes[] = {'n', 'e', 'w'};

// What stands under the final name decides: a regular file is replaced; a
// link, a folder or a FIFO is left as it is and the write fails with a reason.
TEST(AtomicFile, OnlyARegularFileIsReplaced) {
  const struct {
    const char* label;
    std::function<void(const std::string&)> prepare;
    bool written;
    int error;
  } cases[] = {
      {"nothing", [](const std::string&) {}, true, 0},
      {"a file", [](const std::string& p) { ASSERT_TRUE(WriteFileBytes(p, "old")); }, true, 0},
      {"a link", [](const std::string& p) { ASSERT_EQ(::symlink("kept", p.c_str()), 0); }, false, ELOOP},
      {"a dangling link", [](const std::string& p) { ASSERT_EQ(::symlink("nowhere", p.c_str()), 0); }, false, ELOOP},
      {"a folder", [](const std::string& p) { ASSERT_TRUE(MakeDirs(p)); }, false, EISDIR},
      {"a fifo", [](const std::string& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0666), 0); }, false, EEXIST},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    TScratchDir dir("vc-atomic");
    ASSERT_TRUE(WriteFileBytes(dir.Join("kept"), "kept"));
    const std::string path = dir.Join("page.html");
    c.prepare(path);
    const int before = EntriesIn(dir.path());
    TAtomicFile file;
    ASSERT_TRUE(file.Create(path.c_str(), true));
    EXPECT_TRUE(file.Write(kBytes, sizeof kBytes));
    EXPECT_EQ(file.Commit(), c.written);
    EXPECT_EQ(file.Error(), c.error);
    EXPECT_EQ(file.LinkRefused(), c.error == ELOOP);
    EXPECT_EQ(ReadFileBytes(dir.Join("kept")), "kept");
    if (c.written) {
      EXPECT_EQ(ReadFileBytes(path), "new");
    }
    EXPECT_EQ(EntriesIn(dir.path()), before + (before == 1 && c.written ? 1 : 0));  // no temporary left
  }
}

TEST(AtomicFile, TemporaryFilesAreNamedWithOneSuffix) {
  TScratchDir dir("vc-atomic");
  TAtomicFile file;
  ASSERT_TRUE(file.Create(dir.Join("a.jpg").c_str(), false));
  ASSERT_TRUE(file.Write(kBytes, sizeof kBytes));
  const std::string prefix = "a.jpg.tmp" + std::to_string(::getpid()) + "-";
  int temporaries = 0;
  for (const auto& entry : fs::directory_iterator(dir.path())) {
    temporaries += entry.path().filename().string().rfind(prefix, 0) == 0 ? 1 : 0;
  }
  EXPECT_EQ(temporaries, 1);
  EXPECT_TRUE(file.Commit());
  EXPECT_EQ(EntriesIn(dir.path()), 1);
}

// Below a pinned folder, the path of the pinned folder itself no longer
// matters: swapped for a link, it is not followed; and a folder below it
// that is a link is refused.
TEST(FolderPin, WritesGoThroughThePinnedFolderNeverThroughALink) {
  TScratchDir dir("vc-pin");
  ASSERT_TRUE(MakeDirs(dir.Join("cat/quarto_tn")));
  ASSERT_TRUE(MakeDirs(dir.Join("elsewhere/quarto_tn")));
  struct stat info;
  ASSERT_EQ(::stat(dir.Join("cat").c_str(), &info), 0);
  {
    TFolderPin pin(dir.Join("cat").c_str(), info.st_dev, info.st_ino);
    ASSERT_TRUE(pin.Pinned());
    fs::rename(dir.Join("cat"), dir.Join("cat-moved"));
    ASSERT_EQ(::symlink(dir.Join("elsewhere").c_str(), dir.Join("cat").c_str()), 0);
    EXPECT_TRUE(WriteFileReplacing(dir.Join("cat/page.html").c_str(), kBytes, sizeof kBytes));
    EXPECT_TRUE(WriteFileReplacing(dir.Join("cat/quarto_tn/t.jpg").c_str(), kBytes, sizeof kBytes));
    EXPECT_TRUE(MakeParentFolder(dir.Join("cat/new/t.jpg").c_str()));
    EXPECT_TRUE(RemoveFileInFolder(dir.Join("cat/page.html").c_str()));
    EXPECT_EQ(EntriesIn(dir.Join("elsewhere")), 1);  // its own quarto_tn only
    EXPECT_EQ(EntriesIn(dir.Join("elsewhere/quarto_tn")), 0);
    EXPECT_EQ(ReadFileBytes(dir.Join("cat-moved/quarto_tn/t.jpg")), "new");
    EXPECT_TRUE(fs::is_directory(dir.Join("cat-moved/new")));
    EXPECT_FALSE(fs::exists(dir.Join("cat-moved/page.html")));

    fs::remove_all(dir.Join("cat-moved/quarto_tn"));
    ASSERT_EQ(::symlink(dir.Join("elsewhere/quarto_tn").c_str(), dir.Join("cat-moved/quarto_tn").c_str()), 0);
    errno = 0;
    EXPECT_FALSE(WriteFileReplacing(dir.Join("cat/quarto_tn/t.jpg").c_str(), kBytes, sizeof kBytes));
    EXPECT_TRUE(errno == ELOOP || errno == ENOTDIR) << errno;
    EXPECT_EQ(EntriesIn(dir.Join("elsewhere/quarto_tn")), 0);
  }
  // The pin is gone: the path is the path again.
  EXPECT_TRUE(WriteFileReplacing(dir.Join("cat/page.html").c_str(), kBytes, sizeof kBytes));
  EXPECT_TRUE(fs::exists(dir.Join("elsewhere/page.html")));
}

TEST(FolderPin, AFolderNoLongerTheOneListedIsNotPinned) {
  TScratchDir dir("vc-pin");
  ASSERT_TRUE(MakeDirs(dir.Join("a")));
  ASSERT_TRUE(MakeDirs(dir.Join("b")));
  struct stat info;
  ASSERT_EQ(::stat(dir.Join("b").c_str(), &info), 0);
  TFolderPin pin(dir.Join("a").c_str(), info.st_dev, info.st_ino);
  EXPECT_FALSE(pin.Pinned());
  EXPECT_EQ(pin.Error(), ESTALE);
  TFolderPin missing(dir.Join("gone").c_str(), info.st_dev, info.st_ino);
  EXPECT_FALSE(missing.Pinned());
  EXPECT_EQ(missing.Error(), ENOENT);
}

}  // namespace
