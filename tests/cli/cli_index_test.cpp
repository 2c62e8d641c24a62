// The built vellumcast-cli: exit codes, the three counter lines, option parsing.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "fixtures/image_writers.h"
#include "fixtures/tree_writer.h"
#include "support/product.h"

namespace {

struct TCliResult {
  int exit_code = -1;
  std::string out;
  std::string err;
};

// Runs the program in `cwd`; `while_running`, when given, is called with the
// child's process id once it has started.
TCliResult RunCli(const std::vector<std::string>& args, const std::string& cwd,
                  const std::function<void(pid_t)>& while_running = {}) {
  TScratchDir capture("vc-cli-out");
  const std::string out_path = capture.Join("out");
  const std::string err_path = capture.Join("err");
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(out, 1);
    ::dup2(err, 2);
    if (::chdir(cwd.c_str()) != 0) ::_exit(99);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(VELLUMCAST_CLI_PATH));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(VELLUMCAST_CLI_PATH, argv.data());
    ::_exit(98);
  }
  TCliResult result;
  if (pid < 0) return result;
  if (while_running) while_running(pid);
  int status = 0;
  ::waitpid(pid, &status, 0);
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
  result.out = ReadFileBytes(out_path);
  result.err = ReadFileBytes(err_path);
  return result;
}

std::string Counters(int dirs, int files, int indices) {
  return "Directories Processed: " + std::to_string(dirs) + "\nFiles Processed: " + std::to_string(files) +
         "\nIndices Created: " + std::to_string(indices) + "\n";
}

class CliIndexTest : public ::testing::Test {
 protected:
  TScratchDir dir_{"vc-cli"};
};

TEST_F(CliIndexTest, IndexesATreeAndPrintsTheThreeCounters) {
  ASSERT_TRUE(WriteTestGif(dir_.Join("pics/trip/A.gif"), 64, 48));
  ASSERT_TRUE(WriteTestJpeg(dir_.Join("pics/trip/b.jpg"), 40, 60));
  ASSERT_TRUE(WriteTestBmp24(dir_.Join("pics/c.bmp"), 10, 10));
  const TCliResult r = RunCli({"index", "pics"}, dir_.path());
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, Counters(1, 3, 2));
  EXPECT_EQ(r.err, "");  // no terminal: no progress line
  EXPECT_TRUE(FileExists(dir_.Join("pics/vellumcast.html")));
  EXPECT_TRUE(FileExists(dir_.Join("pics/trip/imageback.html")));
  EXPECT_FALSE(FileExists(dir_.Join("pics/trip/quarto_tn")));
}

// Without options a run uses the window's first-start settings: 140 x 100
// cells, 4 cells by 4 rows a page, the "Produced by" footer.
TEST_F(CliIndexTest, DefaultsAreTheWindowsFirstStartSettings) {
  for (int i = 0; i < 17; ++i) {
    ASSERT_TRUE(WriteTestBmp24(dir_.Join("d/img" + std::to_string(10 + i) + ".bmp"), 4, 4));
  }
  const TCliResult r = RunCli({"index", "d"}, dir_.path());
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const std::string first = ReadFileBytes(dir_.Join("d/vellumcast.html"));
  EXPECT_NE(first.find("<img src=\"img10.bmp\" width=140>"), std::string::npos);
  EXPECT_NE(first.find("<a href=vellumcast1.html>Next Page</a>"), std::string::npos);
  EXPECT_NE(first.find("<center>Produced by Vellumcast! " + std::string(kHomePageAddress) + "\r\n</center>"),
            std::string::npos);
  EXPECT_NE(first.find("<center><h3>Vellumcast!</h3>"), std::string::npos);
  const std::string second = ReadFileBytes(dir_.Join("d/vellumcast1.html"));
  EXPECT_NE(second.find("img26.bmp"), std::string::npos);
  EXPECT_EQ(second.find("img25.bmp"), std::string::npos);
}

TEST_F(CliIndexTest, OptionsReachTheRun) {
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(WriteFileBytes(dir_.Join("o/i" + std::to_string(i) + ".bmp"), ""));
  ASSERT_TRUE(WriteFileBytes(dir_.Join("foot.html"), "<body>my foot\n"));
  const TCliResult r = RunCli({"index", "--cellsperrow=2", "--rowsperpage=1", "--title=", "--includefilenames=0",
                               "--centernavbar=0", "--footertemplate=" + dir_.Join("foot.html"), "--cellwidth=77",
                               "o"},
                              dir_.path());
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const std::string page = ReadFileBytes(dir_.Join("o/vellumcast.html"));
  EXPECT_EQ(page,
            "<html><head><title>Vellumcast</title>\r\n</head><body>\r\n<a href=vellumcast1.html>Next Page</a>\r\n"
            "<hr>\r\n<table border=1 align=center><tr><td><a href=\"i0.bmp\"><img src=\"i0.bmp\" width=77></a></td>\r\n"
            "<td><a href=\"i1.bmp\"><img src=\"i1.bmp\" width=77></a></td>\r\n</tr></table>my foot\r\n");
  EXPECT_TRUE(FileExists(dir_.Join("o/vellumcast2.html")));
  EXPECT_FALSE(FileExists(dir_.Join("o/vellumcast3.html")));
}

TEST_F(CliIndexTest, ThumbnailsAndWhiteBackground) {
  ASSERT_TRUE(WriteTestGif(dir_.Join("t/tall.gif"), 10, 40));
  const TCliResult r = RunCli({"index", "--createthumbs=1", "--thumbwhite=1", "t"}, dir_.path());
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(FileExists(dir_.Join("t/quarto_tn/quarto_tn0.jpg")));
  EXPECT_NE(ReadFileBytes(dir_.Join("t/vellumcast.html")).find("<img src=quarto_tn/quarto_tn0.jpg width=140 height=100>"),
            std::string::npos);
}

TEST_F(CliIndexTest, AMissingFolderIsExitOneAndWritesNothing) {
  ASSERT_TRUE(WriteFileBytes(dir_.Join("file.gif"), "x"));
  for (const std::string& folder : {std::string("missing"), std::string("file.gif")}) {
    const TCliResult r = RunCli({"index", folder}, dir_.path());
    EXPECT_EQ(r.exit_code, 1) << folder;
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(folder), std::string::npos);
  }
  EXPECT_FALSE(FileExists(dir_.Join("fn.log")));
  EXPECT_FALSE(FileExists(dir_.Join("vellumcast.html")));
}

TEST_F(CliIndexTest, UsageErrorsAreExitTwo) {
  ASSERT_TRUE(MakeDirs(dir_.Join("ok")));
  const std::vector<std::vector<std::string>> cases = {
      {"index", "--colour=1", "ok"},      {"index", "--cellwidth=abc", "ok"}, {"index", "--cellwidth=0", "ok"},
      {"index", "--cellheight=-5", "ok"}, {"index", "--cellsperrow=0", "ok"}, {"index", "--rowsperpage=", "ok"},
      {"index", "--hlinks=2", "ok"},      {"index", "--sort=3", "ok"},        {"index", "--cellwidth=99999999999", "ok"},
      {"index", "--cellwidth", "ok"},     {"index"},                          {"index", "ok", "ok"},
      {"clean"},                          {"frobnicate"},                     {},
      {"index", "--formats=jpeg", "ok"},  {"index", "--formats=", "ok"},      {"index", "--order=size", "ok"},
      {"index", "--exclude=", "ok"},      {"index", "--skiphidden=2", "ok"},
  };
  for (const auto& args : cases) {
    const TCliResult r = RunCli(args, dir_.path());
    std::string joined;
    for (const auto& a : args) joined += a + " ";
    EXPECT_EQ(r.exit_code, 2) << joined;
    EXPECT_EQ(r.out, "") << joined;
    EXPECT_NE(r.err, "") << joined;
  }
  EXPECT_FALSE(FileExists(dir_.Join("ok/vellumcast.html")));
}

TEST_F(CliIndexTest, NegativeRowsAndEmptyTextsAreValid) {
  ASSERT_TRUE(WriteFileBytes(dir_.Join("v/a.bmp"), ""));
  const TCliResult r = RunCli({"index", "--rowsperpage=-7", "--footertext=", "--title=", "--", "v"}, dir_.path());
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, Counters(0, 1, 1));
}

TEST_F(CliIndexTest, HelpAndVersion) {
  const TCliResult help = RunCli({"--help"}, dir_.path());
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_NE(help.out.find("vellumcast-cli index [--NAME=VALUE ...] FOLDER"), std::string::npos);
  EXPECT_NE(help.out.find("--dirfirstpageonly"), std::string::npos);
  const TCliResult version = RunCli({"--version"}, dir_.path());
  EXPECT_EQ(version.exit_code, 0);
  EXPECT_EQ(version.out.rfind("vellumcast-cli ", 0), 0u);
}

TEST_F(CliIndexTest, InterruptStopsTheRunPrintsTheCountersAndExits130) {
  // Enough folders that the run is still walking when the interrupt comes
  // (a fast machine walks a few thousand cells in a fraction of a second);
  // the probe log's first line shows that the run is under way.
  constexpr int kFolders = 2000;
  constexpr int kPerFolder = 10;
  for (int i = 0; i < kFolders; ++i) {
    for (int j = 0; j < kPerFolder; ++j) {
      ASSERT_TRUE(WriteFileBytes(dir_.Join("big/f" + std::to_string(i) + "/g" + std::to_string(j) + ".bmp"), ""));
    }
  }
  const TCliResult r = RunCli({"index", "big"}, dir_.path(), [this](pid_t pid) {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!FileExists(dir_.Join("fn.log")) && std::chrono::steady_clock::now() < give_up) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ::kill(pid, SIGINT);
  });
  EXPECT_EQ(r.exit_code, 130) << r.err;
  ASSERT_EQ(r.out.rfind("Directories Processed: ", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("\nFiles Processed: "), std::string::npos);
  EXPECT_NE(r.out.find("\nIndices Created: "), std::string::npos);
  const int files = std::stoi(r.out.substr(r.out.find("Files Processed: ") + 17));
  EXPECT_LT(files, kFolders * kPerFolder);
  EXPECT_TRUE(FileExists(dir_.Join("big/vellumcast.html")));  // the top folder still wrote its page
}

TEST_F(CliIndexTest, CleanRemovesWhatTheRunWrote) {
  ASSERT_TRUE(WriteTestGif(dir_.Join("c/a/x.gif"), 20, 20));
  ASSERT_EQ(RunCli({"index", "--createthumbs=1", "c"}, dir_.path()).exit_code, 0);
  const TCliResult r = RunCli({"clean", "c"}, dir_.path());
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "Removed 5 files and 1 folders.\n");
  EXPECT_TRUE(FileExists(dir_.Join("c/a/x.gif")));
  EXPECT_FALSE(FileExists(dir_.Join("c/a/vellumcast.html")));
  EXPECT_EQ(RunCli({"clean", "nothing-here"}, dir_.path()).exit_code, 1);
}

}  // namespace

namespace {

TEST_F(CliIndexTest, FormatsOrderAndExclusionsReachTheRun) {
  for (const char* name : {"img10.png", "img2.gif", "b.heic", "skip.png", "c.jpg", ".hid/h.gif"}) {
    ASSERT_TRUE(WriteFileBytes(dir_.Join(std::string("f/") + name), ""));
  }
  // Classic by default: the GIF and the JPEG only.
  TCliResult r = RunCli({"index", "f"}, dir_.path());
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, Counters(1, 3, 2));

  r = RunCli({"index", "--formats=all", "--order=natural", "--exclude=SKIP.*", "--exclude=nothing", "--skiphidden=1",
              "f"},
             dir_.path());
  ASSERT_EQ(r.exit_code, 0) << r.err;
  // c.jpg, img2.gif, img10.png; b.heic left out without thumbnails; .hid not walked.
  EXPECT_EQ(r.out, Counters(0, 3, 1));
  EXPECT_NE(r.err.find("images left out: 1;"), std::string::npos) << r.err;
  const std::string page = ReadFileBytes(dir_.Join("f/vellumcast.html"));
  const size_t c = page.find("href=\"c.jpg\"");
  const size_t img2 = page.find("href=\"img2.gif\"");
  const size_t img10 = page.find("href=\"img10.png\"");
  ASSERT_NE(img10, std::string::npos);
  EXPECT_LT(c, img2);
  EXPECT_LT(img2, img10);
  EXPECT_EQ(page.find("skip.png"), std::string::npos);
  EXPECT_EQ(page.find("b.heic"), std::string::npos);
}

}  // namespace
