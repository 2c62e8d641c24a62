// vellumcast-cli index names what it could not write and exits 3, shows
// warnings unless -q, refuses unreadable templates before writing, and
// follows links out of the folder only with --follow-links=1.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "cli/cli_runner.h"
#include "fixtures/image_writers.h"
#include "fixtures/mount_fixtures.h"
#include "fixtures/tree_writer.h"

namespace {

int CountLines(const std::string& text, const std::string& start) {
  int n = 0;
  size_t at = 0;
  while (at < text.size()) {
    const size_t end = text.find('\n', at);
    if (text.compare(at, start.size(), start) == 0) ++n;
    if (end == std::string::npos) break;
    at = end + 1;
  }
  return n;
}

class CliFailuresTest : public ::testing::Test {
 protected:
  TScratchDir dir_{"vc-cli-fail"};
};

TEST_F(CliFailuresTest, OutputThatCannotBeWrittenIsNamedAndExitsThree) {
  ASSERT_TRUE(WriteTestBmp24(dir_.Join("ro/a.bmp"), 4, 4));
  ASSERT_TRUE(WriteTestBmp24(dir_.Join("ro/sub/b.bmp"), 4, 4));
  TReadOnlyBind read_only(dir_.Join("ro"));
  if (!read_only.Mounted()) GTEST_SKIP() << read_only.Why();
  const TCliResult r = RunCli({"index", "ro"}, dir_.path());
  EXPECT_EQ(r.exit_code, 3);
  EXPECT_EQ(r.err, "vellumcast-cli: cannot write ro/sub/vellumcast.html: Read-only file system\n"
                   "vellumcast-cli: cannot write ro/vellumcast.html: Read-only file system\n");
  EXPECT_EQ(r.out, "Directories Processed: 1\nFiles Processed: 0\nIndices Created: 0\n");
}

TEST_F(CliFailuresTest, AtMostTwentyFailureLinesThenACount) {
  for (int i = 0; i < 24; ++i) ASSERT_TRUE(WriteFileBytes(dir_.Join("m/s" + std::to_string(i) + "/a.bmp"), ""));
  TReadOnlyBind read_only(dir_.Join("m"));
  if (!read_only.Mounted()) GTEST_SKIP() << read_only.Why();
  const TCliResult r = RunCli({"index", "m"}, dir_.path());
  EXPECT_EQ(r.exit_code, 3);
  EXPECT_EQ(CountLines(r.err, "vellumcast-cli: cannot write "), 20);
  EXPECT_NE(r.err.find("vellumcast-cli: 5 more files could not be written\n"), std::string::npos) << r.err;
}

TEST_F(CliFailuresTest, WarningsGoToStderrWithoutChangingTheExitAndQSilencesThem) {
  ASSERT_TRUE(WriteTestBmp24(dir_.Join("w/a.bmp"), 4, 4));
  ASSERT_TRUE(WriteTestBmp24(dir_.Join("elsewhere/o.bmp"), 4, 4));
  ASSERT_EQ(::symlink(dir_.Join("elsewhere").c_str(), dir_.Join("w/out").c_str()), 0);
  const TCliResult loud = RunCli({"index", "w"}, dir_.path());
  EXPECT_EQ(loud.exit_code, 0);
  EXPECT_EQ(loud.err, "vellumcast-cli: warning: not entered w/out: a symbolic link to a folder outside the "
                      "starting folder\n");
  EXPECT_FALSE(FileExists(dir_.Join("elsewhere/vellumcast.html")));
  const TCliResult quiet = RunCli({"index", "-q", "w"}, dir_.path());
  EXPECT_EQ(quiet.exit_code, 0);
  EXPECT_EQ(quiet.err, "");
  EXPECT_EQ(quiet.out, "");  // errors only: no counters either

  const TCliResult followed = RunCli({"index", "--follow-links=1", "w"}, dir_.path());
  EXPECT_EQ(followed.exit_code, 0);
  EXPECT_EQ(followed.err, "");
  EXPECT_TRUE(FileExists(dir_.Join("elsewhere/vellumcast.html")));
}

TEST_F(CliFailuresTest, AFolderThatCannotBeListedIsAWarning) {
  if (::access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "setpriv is missing: cannot drop privileges";
  ASSERT_TRUE(WriteFileBytes(dir_.Join("u/open/a.bmp"), ""));
  ASSERT_TRUE(WriteFileBytes(dir_.Join("u/closed/b.bmp"), ""));
  // Everything writable by the unprivileged user, but one folder closed to it.
  for (const char* path : {"", "u", "u/open", "u/closed"}) ASSERT_EQ(::chmod(dir_.Join(path).c_str(), 0777), 0);
  ASSERT_EQ(::chmod(dir_.Join("u/closed").c_str(), 0), 0);
  const TCliResult r = RunCli({"index", "u"}, dir_.path(), AsNobody());
  ::chmod(dir_.Join("u/closed").c_str(), 0700);
  if (r.exit_code == 98) GTEST_SKIP() << "could not run as another user";
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.err, "vellumcast-cli: warning: cannot list u/closed: Permission denied\n");
  EXPECT_TRUE(FileExists(dir_.Join("u/open/vellumcast.html")));
}

TEST_F(CliFailuresTest, AnUnreadableTemplateIsAUsageErrorBeforeAnythingIsWritten) {
  ASSERT_TRUE(WriteFileBytes(dir_.Join("t/a.bmp"), ""));
  ASSERT_TRUE(MakeDirs(dir_.Join("a-folder.html")));
  struct TCase {
    std::string option;
    std::string message;
  };
  const TCase cases[] = {
      {"--headertemplate=missing.html",
       "vellumcast-cli index: cannot read header template 'missing.html': No such file or directory\n"},
      {"--footertemplate=a-folder.html",
       "vellumcast-cli index: cannot read footer template 'a-folder.html': not a regular file\n"},
  };
  for (const TCase& c : cases) {
    const TCliResult r = RunCli({"index", c.option, "t"}, dir_.path());
    EXPECT_EQ(r.exit_code, 2) << c.option;
    EXPECT_EQ(r.err, c.message);
    EXPECT_EQ(r.out, "");
  }
  EXPECT_FALSE(FileExists(dir_.Join("t/vellumcast.html")));
  EXPECT_FALSE(FileExists(dir_.Join("fn.log")));
}

TEST_F(CliFailuresTest, AnImageThatCannotBeReadForItsThumbnailIsAWarning) {
  ASSERT_TRUE(WriteTestJpeg(dir_.Join("i/good.jpg"), 40, 30));
  ASSERT_TRUE(WriteFileBytes(dir_.Join("i/bad.jpg"), "not an image"));
  for (const char* path : {"0", "1"}) {
    const TCliResult r = RunCli({"index", "--createthumbs=1", std::string("--straightforward=") + path, "i"},
                                dir_.path());
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.err, "vellumcast-cli: warning: cannot read i/bad.jpg: not a readable image\n");
  }
}

}  // namespace
