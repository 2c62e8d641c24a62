// Videos from the command line: --video and its help line, the -v summary
// that counts videos apart, warnings on stderr with exit status 0, and the
// original of a video placed beside the pages like a photo's (--output).

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/cli_runner.h"
#include "fixtures/image_writers.h"
#include "fixtures/tree_writer.h"
#include "fixtures/video_writer.h"

namespace {

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class CliVideoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!TestVideoEncoderPresent("libx264")) GTEST_SKIP() << "no H.264 encoder here";
    std::string error;
    ASSERT_TRUE(MakeDirs(dir_.Join("p")));
    ASSERT_TRUE(WriteTestVideo(dir_.Join("p/clip.mp4"), TTestVideoSpec{}, &error)) << error;
    const std::string whole = ReadFileBytes(dir_.Join("p/clip.mp4"));
    ASSERT_TRUE(WriteFileBytes(dir_.Join("p/cut.mp4"), whole.substr(0, whole.size() / 3)));
    ASSERT_TRUE(WriteTestJpeg(dir_.Join("p/photo.jpg"), 200, 150));
  }

  TCliResult Index(std::vector<std::string> extra) {
    std::vector<std::string> args = {"index", "--style=modern", "-v"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back("p");
    return RunCli(args, dir_.path());
  }

  TScratchDir dir_{"vc-cli-video"};
};

TEST_F(CliVideoTest, EachModeCountsAndWarnsAndEndsWithStatusZero) {
  struct TCase {
    const char* option;
    const char* summary;
    const char* warning;
  };
  const TCase cases[] = {
      {"--video=link", "videos 2, transcoded 0", "cut.mp4: "},
      {"--video=transcode", "videos 2, transcoded 0", "cut.mp4: "},  // H.264 in MP4 plays as it is
      {"--video=off", "decoded 0, reused 1\nTime: ", "2 videos left out (--video=off)"},  // no video line
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.option);
    const TCliResult run = Index({c.option});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_TRUE(Contains(run.out, c.summary)) << run.out;
    EXPECT_TRUE(Contains(run.err, c.warning)) << run.err;
  }
}

TEST_F(CliVideoTest, AnUnknownModeIsRefusedAndTheHelpNamesTheDefault) {
  const TCliResult bad = Index({"--video=convert"});
  EXPECT_EQ(bad.exit_code, 2);
  EXPECT_TRUE(Contains(bad.err, "link|transcode|off")) << bad.err;
  EXPECT_FALSE(FileExists(dir_.Join("p/vellumcast.html")));
  const TCliResult help = RunCli({"index", "--help"}, dir_.path());
  EXPECT_EQ(help.exit_code, 0);
  const size_t line = help.out.find("--video=link|transcode|off");
  ASSERT_NE(line, std::string::npos) << help.out;
  const std::string rest = help.out.substr(line, help.out.find("\n  --", line + 1) - line);
  EXPECT_TRUE(Contains(rest, "[transcode]")) << rest;
}

TEST_F(CliVideoTest, AnOutputFolderGetsTheVideoOriginalAsItGetsThePhotos) {
  const TCliResult run = Index({"--output=site", "--images=copy"});
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(ReadFileBytes(dir_.Join("site/clip.mp4")), ReadFileBytes(dir_.Join("p/clip.mp4")));
  EXPECT_TRUE(FileExists(dir_.Join("site/photo.jpg")));
  EXPECT_TRUE(Contains(ReadFileBytes(dir_.Join("site/vellumcast.html")), "class=\"vc-video\""));
}

}  // namespace
