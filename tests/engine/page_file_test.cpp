#include "engine/store/page_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <string>

#include "engine/classic/html_escape.h"
#include "fixtures/tree_writer.h"
#include "platform/dir_listing.h"

namespace {

int CountEntries(const std::string& folder) {
  TDirListing listing(folder.c_str(), "*.*");
  int n = 0;
  while (listing.Next()) n += std::string(listing.Name()) == "." || std::string(listing.Name()) == ".." ? 0 : 1;
  return n;
}

TEST(PageFile, LineFeedsBecomeCrLfAndTheFileAppearsOnlyWhenComplete) {
  TScratchDir dir("vc-page");
  const std::string path = dir.Join("vellumcast.html");
  TPageFile file;
  ASSERT_TRUE(file.Create(path.c_str()));
  file.Write("a\nb");
  file.Write(std::string("\n\nc\0d", 5));
  file.Write("\n");
  EXPECT_FALSE(FileExists(path));
  EXPECT_EQ(CountEntries(dir.path()), 1);  // the temporary file
  TDirListing temp(dir.path().c_str(), "vellumcast.html.tmp*");
  ASSERT_TRUE(temp.Next());  // a name the clean-up removes: "vellumcast" and ".html"
  EXPECT_TRUE(file.Commit());
  EXPECT_EQ(ReadFileBytes(path), std::string("a\r\nb\r\n\r\nc\0d\r\n", 13));
  EXPECT_EQ(CountEntries(dir.path()), 1);
  EXPECT_FALSE(file.IsOpen());
  EXPECT_FALSE(file.Commit());
}

TEST(PageFile, NeverWritesThroughNorReplacesALink) {
  TScratchDir dir("vc-page");
  ASSERT_TRUE(WriteFileBytes(dir.Join("target.txt"), "target"));
  ASSERT_EQ(::symlink("target.txt", dir.Join("imageback.html").c_str()), 0);
  TPageFile file;
  ASSERT_TRUE(file.Create(dir.Join("imageback.html").c_str()));
  file.Write("new\n");
  EXPECT_FALSE(file.Commit());
  EXPECT_STREQ(file.FailureReason(), "a symbolic link stands in its place");
  char target[64] = {};
  ASSERT_GT(::readlink(dir.Join("imageback.html").c_str(), target, sizeof target - 1), 0);
  EXPECT_STREQ(target, "target.txt");
  EXPECT_EQ(ReadFileBytes(dir.Join("target.txt")), "target");
  EXPECT_EQ(CountEntries(dir.path()), 2);  // no temporary file left
}

TEST(PageFile, DiscardedOrFailedFilesLeaveNothingBehind) {
  TScratchDir dir("vc-page");
  {
    TPageFile file;
    ASSERT_TRUE(file.Create(dir.Join("vellumcast.html").c_str()));
    file.Write("half a page");
  }  // destroyed without Commit
  EXPECT_EQ(CountEntries(dir.path()), 0);

  ASSERT_TRUE(MakeDirs(dir.Join("vellumcast1.html")));
  TPageFile blocked;
  ASSERT_TRUE(blocked.Create(dir.Join("vellumcast1.html").c_str()));
  blocked.Write("x\n");
  EXPECT_FALSE(blocked.Commit());
  EXPECT_EQ(CountEntries(dir.path()), 1);  // only the folder

  TPageFile nowhere;
  EXPECT_FALSE(nowhere.Create(dir.Join("missing/vellumcast.html").c_str()));
  EXPECT_FALSE(nowhere.Create(""));
  EXPECT_FALSE(nowhere.Create((dir.path() + "/" + std::string(1100, 'a')).c_str()));
}

TEST(PageFile, AFailedWriteIsAFailedPageNotAShortOne) {
  // A file size limit makes writes fail the way a full disk does.
  TScratchDir dir("vc-page");
  ASSERT_TRUE(WriteFileBytes(dir.Join("vellumcast.html"), "old page"));
  rlimit saved;
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 4096;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  TPageFile file;
  bool committed = true;
  if (file.Create(dir.Join("vellumcast.html").c_str())) {
    file.Write(std::string(1 << 20, 'x'));
    committed = file.Commit();
  }
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, old_handler);
  EXPECT_FALSE(committed);
  EXPECT_EQ(ReadFileBytes(dir.Join("vellumcast.html")), "old page");
  EXPECT_EQ(CountEntries(dir.path()), 1);
}

TEST(HtmlEscape, UrlPositions) {
  struct TCase {
    const char* name;
    const char* url;
    const char* refresh;
  };
  for (const TCase& c : {
           TCase{"my photo.jpg", "my photo.jpg", "my photo.jpg"},
           TCase{"A.gif", "A.gif", "A.gif"},
           TCase{"R&D", "R&amp;D", "R&amp;D"},
           TCase{"a\"b#c%d?e", "a%22b%23c%25d%3Fe", "a%22b%23c%25d%3Fe"},
           TCase{"tab\there\nnl", "tab%09here%0Anl", "tab%09here%0Anl"},
           TCase{"\x7F\x80\xFF", "%7F%80%FF", "%7F%80%FF"},
           TCase{" edge ", "%20edge%20", "%20edge%20"},
           TCase{"it's", "it's", "it%27s"},
           TCase{"back\\slash", "back%5Cslash", "back%5Cslash"},
           TCase{"<b>", "<b>", "<b>"},
           TCase{"javascript:alert(3).jpg", "javascript%3Aalert(3).jpg", "javascript%3Aalert(3).jpg"},
           TCase{"a:b.jpg", "a%3Ab.jpg", "a%3Ab.jpg"},
           TCase{"caf\xC3\xA9 \xE9.jpg", "caf%C3%A9 %E9.jpg", "caf%C3%A9 %E9.jpg"},
       }) {
    std::string url;
    AppendUrlEscaped(url, c.name);
    EXPECT_EQ(url, c.url) << c.name;
    std::string refresh;
    AppendRefreshUrlEscaped(refresh, c.name);
    EXPECT_EQ(refresh, c.refresh) << c.name;
  }
}

// Text is pure ASCII: beyond ASCII, a valid UTF-8 character becomes its
// decimal reference and each byte of an invalid sequence the replacement character.
TEST(HtmlEscape, TextPositions) {
  struct TCase {
    const char* label;
    const char* text;
    const char* html;    // AppendHtmlText
    const char* markup;  // AppendMarkupText
  };
  for (const TCase& c : {
           TCase{"plain", "a&b <c> \"d\" 'e'", "a&amp;b &lt;c&gt; \"d\" 'e'", "a&b <c> \"d\" 'e'"},
           TCase{"two bytes", "caf\xC3\xA9.jpg", "caf&#233;.jpg", "caf&#233;.jpg"},
           TCase{"three bytes", "\xE2\x82\xAC<", "&#8364;&lt;", "&#8364;<"},
           TCase{"four bytes", "\xF0\x9F\x98\x80", "&#128512;", "&#128512;"},
           TCase{"highest", "\xF4\x8F\xBF\xBF", "&#1114111;", "&#1114111;"},
           TCase{"Latin-1 byte", "caf\xE9.jpg", "caf&#65533;.jpg", "caf&#65533;.jpg"},
           TCase{"stray continuation", "\x80x", "&#65533;x", "&#65533;x"},
           TCase{"cut short", "\xE2\x82", "&#65533;&#65533;", "&#65533;&#65533;"},
           TCase{"cut by ASCII", "\xE2\x82<", "&#65533;&#65533;&lt;", "&#65533;&#65533;<"},
           TCase{"overlong slash", "\xC0\xAF", "&#65533;&#65533;", "&#65533;&#65533;"},
           TCase{"overlong three", "\xE0\x80\xAF", "&#65533;&#65533;&#65533;", "&#65533;&#65533;&#65533;"},
           TCase{"overlong four", "\xF0\x80\x80\xAF", "&#65533;&#65533;&#65533;&#65533;",
                 "&#65533;&#65533;&#65533;&#65533;"},
           TCase{"surrogate", "\xED\xA0\x80", "&#65533;&#65533;&#65533;", "&#65533;&#65533;&#65533;"},
           TCase{"past U+10FFFF", "\xF4\x90\x80\x80", "&#65533;&#65533;&#65533;&#65533;",
                 "&#65533;&#65533;&#65533;&#65533;"},
           TCase{"never a lead", "\xFF\xFE", "&#65533;&#65533;", "&#65533;&#65533;"},
           TCase{"markup kept", "<b>\xC3\xA9</b>", "&lt;b&gt;&#233;&lt;/b&gt;", "<b>&#233;</b>"},
       }) {
    SCOPED_TRACE(c.label);
    std::string html;
    AppendHtmlText(html, c.text);
    EXPECT_EQ(html, c.html);
    std::string markup;
    AppendMarkupText(markup, c.text);
    EXPECT_EQ(markup, c.markup);
  }
}


struct TFileIdentity {
  ino_t inode = 0;
  int64_t mtime_ns = 0;
};

TFileIdentity IdentityOf(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
  return TFileIdentity{info.st_ino, static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec};
}

// A page is compared with the file it replaces as it is written: an equal
// file stays as it was (same inode, same date), any difference - early,
// late, in length - gives exactly the new bytes, and no temporary file stays.
TEST(PageFile, ReplacesAnExistingFileOnlyWhenItsBytesDiffer) {
  const std::string big(40000, 'x');  // larger than the write buffer
  struct TCase {
    const char* label;
    std::string existing;
    std::string text;
    bool compare;
    bool unchanged;
  };
  const TCase cases[] = {
      {"equal", "a\r\nb\r\n", "a\nb\n", true, true},
      {"equal, larger than the buffer", big + "\r\n" + big, big + "\n" + big, true, true},
      {"equal but compare off", "a\r\nb\r\n", "a\nb\n", false, false},
      {"first byte differs", "X\r\nb\r\n", "a\nb\n", true, false},
      {"differs past the buffer", big + "\r\ny", big + "\nz", true, false},
      {"existing longer", "a\r\nb\r\nmore", "a\nb\n", true, false},
      {"existing shorter", "a\r\n", "a\nb\n", true, false},
      {"existing empty", "", "a\n", true, false},
      {"both empty", "", "", true, true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.label);
    TScratchDir dir("vc-page-compare");
    const std::string path = dir.Join("vellumcast.html");
    ASSERT_TRUE(WriteFileBytes(path, c.existing));
    struct timespec old_times[2] = {{1000000000, 5}, {1000000000, 5}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), old_times, 0), 0);
    const TFileIdentity before = IdentityOf(path);
    TPageFile file;
    ASSERT_TRUE(file.Create(path.c_str(), c.compare));
    file.Write(c.text);
    ASSERT_TRUE(file.Commit());
    EXPECT_EQ(file.Unchanged(), c.unchanged);
    EXPECT_EQ(ReadFileBytes(path), Crlf(c.text));
    const TFileIdentity after = IdentityOf(path);
    EXPECT_EQ(after.inode == before.inode && after.mtime_ns == before.mtime_ns, c.unchanged);
    EXPECT_EQ(CountEntries(dir.path()), 1);
  }
}

TEST(PageFile, ALinkInThePagesPlaceIsKeptNeverReadOrWrittenThrough) {
  TScratchDir dir("vc-page-link");
  ASSERT_TRUE(WriteFileBytes(dir.Join("target.html"), "a\r\n"));
  ASSERT_EQ(::symlink("target.html", dir.Join("vellumcast.html").c_str()), 0);
  TPageFile file;
  // The target holds the same bytes: comparing through the link would wrongly call the page unchanged.
  ASSERT_TRUE(file.Create(dir.Join("vellumcast.html").c_str()));
  file.Write("a\n");
  EXPECT_FALSE(file.Commit());
  EXPECT_FALSE(file.Unchanged());
  struct stat info {};
  ASSERT_EQ(::lstat(dir.Join("vellumcast.html").c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
  EXPECT_EQ(ReadFileBytes(dir.Join("target.html")), "a\r\n");
  EXPECT_EQ(CountEntries(dir.path()), 2);  // no temporary file left
}

TEST(PageFile, AnEqualPageInAFolderThatCannotBeWrittenStaysAndADifferentOneFails) {
  TScratchDir dir("vc-page-ro");
  const std::string folder = dir.Join("ro");
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  ASSERT_TRUE(MakeDirs(folder));
  ASSERT_TRUE(WriteFileBytes(folder + "/vellumcast.html", "a\r\n"));
  ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
  // Root writes anywhere: drop to nobody for the write, in a child.
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::getuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(3);
    TPageFile same;
    if (!same.Create((folder + "/vellumcast.html").c_str())) ::_exit(4);
    same.Write("a\n");
    if (!same.Commit() || !same.Unchanged()) ::_exit(5);
    TPageFile other;
    if (other.Create((folder + "/vellumcast.html").c_str())) {
      other.Write("b\n");
      if (other.Commit()) ::_exit(6);
    }
    ::_exit(0);
  }
  ASSERT_GT(pid, 0);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ::chmod(folder.c_str(), 0755);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 3) GTEST_SKIP() << "cannot drop privileges";
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(ReadFileBytes(folder + "/vellumcast.html"), "a\r\n");
  EXPECT_EQ(CountEntries(folder), 1);
}

}  // namespace
