// The built vellumcast-cli: exit codes, the three counter lines, option parsing.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <csignal>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli_runner.h"
#include "fixtures/image_writers.h"
#include "imagein/jpeg_adapter.h"
#include "fixtures/tree_writer.h"
#include "support/product.h"

namespace {

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
      {"index", "--style=fancy", "ok"},   {"index", "--style=2", "ok"},       {"index", "--style=", "ok"},
      {"index", "--firstpage=", "ok"},    {"index", "--firstpage=../x.html", "ok"},
      {"index", "--firstpage=index", "ok"}, {"index", "--firstpage=vellumcast1.html", "ok"},
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

TEST_F(CliIndexTest, StyleAndFirstPage) {
  const struct {
    const char* style;
    bool modern;
  } styles[] = {{"classic", false}, {"0", false}, {"modern", true}, {"1", true}};
  for (const auto& c : styles) {
    RemoveTree(dir_.Join("s"));
    ASSERT_TRUE(WriteTestBmp24(dir_.Join("s/a.bmp"), 8, 8));
    const TCliResult r = RunCli({"index", std::string("--style=") + c.style, "--firstpage=index.html", "s"}, dir_.path());
    EXPECT_EQ(r.exit_code, 0) << c.style << r.err;
    EXPECT_EQ(ReadFileBytes(dir_.Join("s/index.html")).rfind("<!doctype html>", 0) == 0, c.modern) << c.style;
    EXPECT_FALSE(FileExists(dir_.Join("s/vellumcast.html"))) << c.style;
  }
  // A first page of that name that no run wrote stays, with a warning.
  ASSERT_TRUE(WriteFileBytes(dir_.Join("s/sub/index.html"), "mine"));
  ASSERT_TRUE(WriteTestBmp24(dir_.Join("s/sub/b.bmp"), 8, 8));
  const TCliResult r = RunCli({"index", "--firstpage=index.html", "s"}, dir_.path());
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(ReadFileBytes(dir_.Join("s/sub/index.html")), "mine");
  EXPECT_TRUE(FileExists(dir_.Join("s/sub/vellumcast.html")));
  EXPECT_NE(r.err.find("warning: 1 folder(s) hold a file named index.html that no run wrote"), std::string::npos) << r.err;
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
  EXPECT_NE(help.out.find("vellumcast-cli index [OPTION...] FOLDER"), std::string::npos);
  EXPECT_NE(help.out.find("'vellumcast-cli COMMAND --help'"), std::string::npos);
  for (const char* flag : {"--version", "-V"}) {
    const TCliResult version = RunCli({flag}, dir_.path());
    EXPECT_EQ(version.exit_code, 0);
    EXPECT_EQ(version.out, std::string("vellumcast-cli ") + kProductVersion + "\n");
  }
}

// Every command answers -h and --help on stdout with exit status 0, also
// where other arguments would be wrong; index lists every option with its
// default.
TEST_F(CliIndexTest, EveryCommandHasHelp) {
  const std::vector<std::vector<std::string>> cases = {
      {"index", "-h"}, {"index", "--help"}, {"index", "--cellwidth=0", "-h"}, {"clean", "-h"},
      {"clean", "--help"}, {"decode", "--help"}, {"decode", "-h", "only-one"}, {"-h"},
  };
  for (const auto& args : cases) {
    const TCliResult r = RunCli(args, dir_.path());
    EXPECT_EQ(r.exit_code, 0) << args[0] << " " << args[1 % args.size()];
    EXPECT_NE(r.out.find("sage:"), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "");
  }
  const TCliResult help = RunCli({"index", "--help"}, dir_.path());
  for (const char* line : {"  --cellwidth=N            cell width in pixels, 1 or more [140]\n",
                           "  --[no-]createthumbs      write JPEG thumbnails into quarto_tn [off]\n",
                           "  --[no-]hlinks            subfolder lists and redirect pages [on]\n",
                           "  --title=TEXT             heading of every page ['Vellumcast!']\n",
                           "  --headertemplate=FILE    HTML file whose head and body start begin every page [none]\n",
                           "--[no-]dirfirstpageonly", "--settings", "--config=FILE", "-q, --quiet", "-v, --verbose"}) {
    EXPECT_NE(help.out.find(line), std::string::npos) << line << help.out;
  }
}

// The forms users reach for first: a value after a space, a bare on/off
// option and its --no- form, options after the folder.
TEST_F(CliIndexTest, NativeFormsOfOptions) {
  ASSERT_TRUE(WriteTestGif(dir_.Join("n/a.gif"), 64, 48));
  const TCliResult r =
      RunCli({"index", "n", "--cellwidth", "32", "--cellheight", "24", "--createthumbs", "--no-includefilenames"},
             dir_.path());
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, Counters(0, 1, 1));
  const std::string page = ReadFileBytes(dir_.Join("n/vellumcast.html"));
  EXPECT_NE(page.find("quarto_tn/quarto_tn"), std::string::npos);
  EXPECT_NE(page.find("width=32 height=24"), std::string::npos) << page;
  EXPECT_EQ(page.find(">a.gif<"), std::string::npos);
  EXPECT_TRUE(FileExists(dir_.Join("n/quarto_tn")));
}

TEST_F(CliIndexTest, QuietPrintsErrorsOnly) {
  ASSERT_TRUE(WriteTestGif(dir_.Join("q/a.gif"), 8, 8));
  TCliResult r = RunCli({"index", "-q", "q"}, dir_.path());
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(FileExists(dir_.Join("q/vellumcast.html")));
  r = RunCli({"clean", "-q", "q"}, dir_.path());
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_FALSE(FileExists(dir_.Join("q/vellumcast.html")));
  r = RunCli({"index", "-v", "q"}, dir_.path());  // the counters, thumbnails decoded, then the time taken
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out.rfind(Counters(0, 1, 1) + "decoded 0, reused 0\nTime: ", 0), 0u) << r.out;
  EXPECT_NE(r.out.find(" images/s\n"), std::string::npos) << r.out;
  r = RunCli({"index", "-q", "missing"}, dir_.path());
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err, "");
}

// A configuration file sets up the run; an option on the command line wins.
TEST_F(CliIndexTest, ConfigFileAndItsErrors) {
  ASSERT_TRUE(WriteTestGif(dir_.Join("c/a.gif"), 8, 8));
  ASSERT_TRUE(WriteFileBytes(dir_.Join("web.conf"), "# for the web\ntitle = Holiday\nfootertext=\nincludefilenames=0\n"));
  TCliResult r = RunCli({"index", "--config=web.conf", "--includefilenames", "c"}, dir_.path());
  EXPECT_EQ(r.exit_code, 0) << r.err;
  const std::string page = ReadFileBytes(dir_.Join("c/vellumcast.html"));
  EXPECT_NE(page.find("Holiday"), std::string::npos);
  EXPECT_EQ(page.find("Produced by"), std::string::npos);
  EXPECT_NE(page.find("a.gif</"), std::string::npos) << page;  // the file name is back
  r = RunCli({"index", "--config", "web.conf", "-v", "c"}, dir_.path());
  EXPECT_NE(r.err.find("Settings from web.conf\n"), std::string::npos) << r.err;

  ASSERT_TRUE(WriteFileBytes(dir_.Join("bad.conf"), "title=x\ncelwidth=100\n"));
  r = RunCli({"index", "--config", "bad.conf", "c"}, dir_.path());
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("bad.conf:2: unknown setting 'celwidth'"), std::string::npos) << r.err;
}

// Ctrl-C, SIGTERM and SIGHUP each stop a run like Cancel: the counters so
// far are printed and the exit status is 128 + the signal.
struct TStopSignalCase {
  int signal_number;
  int exit_code;
};

class CliStopSignalTest : public ::testing::TestWithParam<TStopSignalCase> {
 protected:
  // One big tree for every case: enough folders that the run is still
  // walking when the signal comes (a fast machine walks a few thousand cells
  // in a fraction of a second).
  static constexpr int kFolders = 2000;
  static constexpr int kPerFolder = 10;
  static void SetUpTestSuite() {
    tree_ = new TScratchDir("vc-cli-big");
    for (int i = 0; i < kFolders; ++i) {
      for (int j = 0; j < kPerFolder; ++j) {
        ASSERT_TRUE(
            WriteFileBytes(tree_->Join("big/f" + std::to_string(i) + "/g" + std::to_string(j) + ".bmp"), ""));
      }
    }
  }
  static void TearDownTestSuite() {
    delete tree_;
    tree_ = nullptr;
  }
  static TScratchDir* tree_;
  TScratchDir dir_{"vc-cli"};
};

TScratchDir* CliStopSignalTest::tree_ = nullptr;

TEST_P(CliStopSignalTest, StopsTheRunPrintsTheCountersAndExitsWith128PlusTheSignal) {
  const TStopSignalCase c = GetParam();
  std::remove(tree_->Join("big/vellumcast.html").c_str());  // written again by this run
  // The probe log's first line (in the current folder) shows that the run is under way.
  const auto stop_once_started = [this, c](pid_t pid) {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!FileExists(dir_.Join("fn.log")) && std::chrono::steady_clock::now() < give_up) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ::kill(pid, c.signal_number);
  };
  const TCliResult r = RunCli({"index", tree_->Join("big")}, dir_.path(), WhileRunning(stop_once_started));
  EXPECT_EQ(r.exit_code, c.exit_code) << r.err;
  EXPECT_NE(r.err.find("interrupted"), std::string::npos) << r.err;
  ASSERT_EQ(r.out.rfind("Directories Processed: ", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("\nFiles Processed: "), std::string::npos);
  EXPECT_NE(r.out.find("\nIndices Created: "), std::string::npos);
  const int files = std::stoi(r.out.substr(r.out.find("Files Processed: ") + 17));
  EXPECT_LT(files, kFolders * kPerFolder);
  // The top folder's walk was cut short: no partial catalog replaces its page.
  EXPECT_FALSE(FileExists(tree_->Join("big/vellumcast.html")));
}

INSTANTIATE_TEST_SUITE_P(Signals, CliStopSignalTest,
                         ::testing::Values(TStopSignalCase{SIGINT, 130}, TStopSignalCase{SIGTERM, 143},
                                           TStopSignalCase{SIGHUP, 129}),
                         [](const ::testing::TestParamInfo<TStopSignalCase>& info) {
                           return std::string(sigabbrev_np(info.param.signal_number));
                         });

TEST_F(CliIndexTest, CleanRemovesWhatTheRunWrote) {
  ASSERT_TRUE(WriteTestGif(dir_.Join("c/a/x.gif"), 20, 20));
  ASSERT_EQ(RunCli({"index", "--createthumbs=1", "c"}, dir_.path()).exit_code, 0);
  const TCliResult r = RunCli({"clean", "c"}, dir_.path());
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "Removed 6 files and 1 folders.\n");
  EXPECT_TRUE(FileExists(dir_.Join("c/a/x.gif")));
  EXPECT_FALSE(FileExists(dir_.Join("c/a/vellumcast.html")));
  EXPECT_EQ(RunCli({"clean", "nothing-here"}, dir_.path()).exit_code, 1);
}

// --dry-run and -n print every path the clean-up would remove, one a line,
// and touch nothing; the clean-up afterwards removes exactly those.
TEST_F(CliIndexTest, CleanDryRunListsThePathsAndRemovesNothing) {
  ASSERT_TRUE(WriteTestGif(dir_.Join("c/a/x.gif"), 20, 20));
  ASSERT_TRUE(WriteFileBytes(dir_.Join("c/a/my vellumcast.html notes.txt"), "mine"));
  ASSERT_TRUE(WriteFileBytes(dir_.Join("c/a/quarto_tn_holiday.jpg"), "mine"));
  ASSERT_EQ(RunCli({"index", "--createthumbs=1", "c"}, dir_.path()).exit_code, 0);
  const std::string expected =
      "c/a/imageback.html\nc/a/quarto_tn\nc/a/quarto_tn/quarto_tn1.jpg\nc/a/quarto_tn/vellumcast.manifest\n"
      "c/a/vellumcast.html\n"
      "c/imageback.html\nc/vellumcast.html\n";
  for (const char* flag : {"--dry-run", "-n"}) {
    SCOPED_TRACE(flag);
    const TCliResult r = RunCli({"clean", flag, "c"}, dir_.path());
    EXPECT_EQ(r.exit_code, 0) << r.err;
    // Listing order follows the file system; compare the sorted lines.
    const size_t summary = r.out.rfind("Would remove ");
    ASSERT_NE(summary, std::string::npos) << r.out;
    EXPECT_EQ(r.out.substr(summary), "Would remove 6 files and 1 folders.\n");
    std::vector<std::string> lines;
    for (size_t at = 0; at < summary;) {
      const size_t end = r.out.find('\n', at);
      lines.push_back(r.out.substr(at, end - at));
      at = end + 1;
    }
    std::sort(lines.begin(), lines.end());
    std::string sorted;
    for (const std::string& line : lines) sorted += line + "\n";
    EXPECT_EQ(sorted, expected);
    EXPECT_TRUE(FileExists(dir_.Join("c/a/quarto_tn/quarto_tn1.jpg")));  // x.gif sorts second
    EXPECT_TRUE(FileExists(dir_.Join("c/vellumcast.html")));
  }
  const TCliResult r = RunCli({"clean", "c"}, dir_.path());
  EXPECT_EQ(r.out, "Removed 6 files and 1 folders.\n");
  EXPECT_EQ(ReadFileBytes(dir_.Join("c/a/my vellumcast.html notes.txt")), "mine");
  EXPECT_EQ(ReadFileBytes(dir_.Join("c/a/quarto_tn_holiday.jpg")), "mine");
  EXPECT_EQ(RunCli({"clean", "--dry-run"}, dir_.path()).exit_code, 2);
  EXPECT_EQ(RunCli({"clean", "--dryrun", "c"}, dir_.path()).exit_code, 2);
}

// Every file below `root`, with its bytes ("/" for a folder).
std::map<std::string, std::string> TreeBytes(const std::string& root) {
  namespace fs = std::filesystem;
  std::map<std::string, std::string> tree;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
    tree[entry.path().lexically_relative(root).string()] =
        entry.is_directory() ? std::string("/") : ReadFileBytes(entry.path().string());
  }
  return tree;
}

TEST_F(CliIndexTest, VerboseRunsTellDecodedAndReusedThumbnails) {
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(WriteTestJpeg(dir_.Join("pics/p" + std::to_string(i) + ".jpg"), 60, 40 + i));
  const std::string counters = Counters(0, 3, 1);
  TCliResult r = RunCli({"index", "-v", "--createthumbs=1", "pics"}, dir_.path());
  EXPECT_EQ(r.exit_code, 0) << r.err;
  // -v goes on with the time the run took.
  EXPECT_EQ(r.out.rfind(counters + "decoded 3, reused 0\nTime: ", 0), 0u) << r.out;
  r = RunCli({"index", "--verbose", "--createthumbs=1", "pics"}, dir_.path());
  EXPECT_EQ(r.out.rfind(counters + "decoded 0, reused 3\nTime: ", 0), 0u) << r.out;
  r = RunCli({"index", "-v", "--createthumbs=1", "--rebuild=1", "pics"}, dir_.path());
  EXPECT_EQ(r.out.rfind(counters + "decoded 3, reused 0\nTime: ", 0), 0u) << r.out;
  // Without -v the output is as it always was.
  r = RunCli({"index", "--createthumbs=1", "--prune=1", "pics"}, dir_.path());
  EXPECT_EQ(r.out, counters);
  for (const char* bad : {"--rebuild=2", "--prune=x", "--rebuild="}) {
    EXPECT_EQ(RunCli({"index", bad, "pics"}, dir_.path()).exit_code, 2) << bad;
  }
}

// Modern thumbnails are fitted into the cell, or with --crop fill it exactly.
TEST_F(CliIndexTest, CropFillsTheModernThumbnailsCell) {
  ASSERT_TRUE(WriteTestJpeg(dir_.Join("wide/w.jpg"), 600, 200));
  for (const bool crop : {false, true}) {
    SCOPED_TRACE(crop);
    const TCliResult r = RunCli({"index", "--style=modern", crop ? "--crop" : "--no-crop", "--cellwidth=140",
                                 "--cellheight=100", "wide"},
                                dir_.path());
    ASSERT_EQ(r.exit_code, 0) << r.err;
    std::string one_x;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.Join("wide/quarto_tn"))) {
      const std::string name = entry.path().filename().string();
      if (name.size() > 7 && name.compare(name.size() - 7, 7, "-1x.jpg") == 0) one_x = entry.path().string();
    }
    ASSERT_FALSE(one_x.empty());
    int32_t width = 0;
    int32_t height = 0;
    ASSERT_NE(JpegReadSize(one_x.c_str(), &width, &height), 0);
    EXPECT_EQ(width, 140);
    EXPECT_EQ(height, crop ? 100 : 47);
  }
}

// A real kill -9 of the command line while it writes thumbnails.
TEST_F(CliIndexTest, AKilledRunIsMadeWholeByTheNextRun) {
  for (int i = 0; i < 40; ++i) {
    ASSERT_TRUE(WriteTestJpeg(dir_.Join("pics/s" + std::to_string(i / 10) + "/p" + std::to_string(i) + ".jpg"),
                              900 + i, 700));
  }
  for (int files_seen : {1, 15, 30}) {
    SCOPED_TRACE("killed once " + std::to_string(files_seen) + " thumbnails were there");
    RunCli({"clean", "pics"}, dir_.path());
    const TCliResult killed = RunCli({"index", "--createthumbs=1", "--straightforward=1", "pics"}, dir_.path(),
                                     WhileRunning([&](pid_t pid) {
                                       for (int waited = 0; waited < 20000; ++waited) {
                                         int count = 0;
                                         for (int s = 0; s < 4; ++s) {
                                           for (int i = 0; i < 10 * (s + 1); ++i) {
                                             count += FileExists(dir_.Join("pics/s" + std::to_string(s) +
                                                                           "/quarto_tn/quarto_tn" +
                                                                           std::to_string(i) + ".jpg"));
                                           }
                                         }
                                         if (count >= files_seen) break;
                                         std::this_thread::sleep_for(std::chrono::microseconds(200));
                                       }
                                       ::kill(pid, SIGKILL);
                                     }));
    EXPECT_EQ(killed.exit_code, 1000 + SIGKILL) << "the run ended before it was killed";
    const TCliResult next = RunCli({"index", "--createthumbs=1", "pics"}, dir_.path());
    EXPECT_EQ(next.exit_code, 0) << next.err;
    const auto after_next = TreeBytes(dir_.Join("pics"));
    const TCliResult rebuilt = RunCli({"index", "--createthumbs=1", "--rebuild=1", "pics"}, dir_.path());
    EXPECT_EQ(rebuilt.exit_code, 0);
    EXPECT_TRUE(TreeBytes(dir_.Join("pics")) == after_next);
  }
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

namespace {

TEST_F(CliIndexTest, OutputFolderAndImagesReachTheRun) {
  ASSERT_TRUE(WriteTestGif(dir_.Join("c/a/x.gif"), 20, 20));
  TCliResult r = RunCli({"index", "--output=site", "--images=copy", "--createthumbs=1", "c"}, dir_.path());
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(FileExists(dir_.Join("site/a/vellumcast.html")));
  EXPECT_TRUE(FileExists(dir_.Join("site/a/quarto_tn/quarto_tn0.jpg")));
  EXPECT_EQ(ReadFileBytes(dir_.Join("site/a/x.gif")), ReadFileBytes(dir_.Join("c/a/x.gif")));
  EXPECT_FALSE(FileExists(dir_.Join("c/vellumcast.html")));
  EXPECT_FALSE(FileExists(dir_.Join("c/a/quarto_tn")));

  // The window's key and the configuration file's name for the folder.
  ASSERT_TRUE(WriteFileBytes(dir_.Join("web.conf"), "outputpath = linked\nimages = link\n"));
  r = RunCli({"index", "--config=web.conf", "c"}, dir_.path());
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(ReadFileBytes(dir_.Join("linked/a/vellumcast.html")).find("href=\"../../c/a/x.gif\""), std::string::npos);

  r = RunCli({"index", "--images=symlink", "c"}, dir_.path());
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("link|copy|hardlink"), std::string::npos) << r.err;

  // The clean-up of the output folder takes the copies it recorded, and nothing of the tree.
  r = RunCli({"clean", "site"}, dir_.path());
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_FALSE(FileExists(dir_.Join("site/a/x.gif")));
  EXPECT_FALSE(FileExists(dir_.Join("site/a/vellumcast.html")));
  EXPECT_TRUE(FileExists(dir_.Join("c/a/x.gif")));
}

}  // namespace
