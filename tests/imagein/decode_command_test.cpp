// vellumcast-cli decode, run as the built program.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <vector>

#include "fixtures/bitmap_rgb.h"
#include "fixtures/image_writers.h"
#include "fixtures/jpeg_fixtures.h"
#include "fixtures/seal_writer.h"
#include "fixtures/tree_writer.h"
#include "imagein/load_codes.h"
#include "imagein/loader.h"

namespace {

struct TRun {
  int exit_code = -1;
  std::string out;
};

TRun RunCli(const std::string& arguments) {
  TRun run;
  const std::string command = std::string(VELLUMCAST_CLI_PATH) + " decode " + arguments + " 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[512];
  while (std::fgets(buffer, sizeof(buffer), pipe) != nullptr) run.out += buffer;
  const int status = pclose(pipe);
  run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

class DecodeCommandTest : public ::testing::Test {
 protected:
  TScratchDir dir_{"vellumcast-decode"};
};

TEST_F(DecodeCommandTest, WritesThePixelsAsPpm) {
  const std::string image = dir_.Join("a.bmp");
  ASSERT_TRUE(WriteTestBmp24(image, 7, 5, GradientPixels(2)));
  const std::string out = dir_.Join("a.ppm");
  const TRun run = RunCli(Quoted(image) + " " + Quoted(out));
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.out, "result=0 width=7 height=5 full=7x5 scale=1/1\n");
  TPpmImage ppm;
  ASSERT_TRUE(ReadPpm(out, &ppm));
  TMemBitmap bitmap;
  ASSERT_EQ(LoadImageByExtension(image.c_str(), 0, 0, bitmap, kThumbnailLoadFlags, nullptr), kLoadOk);
  EXPECT_EQ(ppm.width, 7);
  EXPECT_EQ(ppm.height, 5);
  EXPECT_EQ(ppm.rgb, BitmapToRgb(bitmap));
}

TEST_F(DecodeCommandTest, FlagsRequestAndKey) {
  const std::string image = dir_.Join("big.jpg");
  ASSERT_TRUE(WriteJpegFile(image, MakeGradientImage(1600, 1200)));
  const std::string out = dir_.Join("o.ppm");
  TRun run = RunCli("--flags=" + std::to_string(LF_SCALE | LF_NO_QUANTIZE) + " --request=120x80 " +
                    Quoted(image) + " " + Quoted(out));
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.out, "result=0 width=200 height=150 full=1600x1200 scale=1/8\n");

  // Palette output goes out through the colour table.
  run = RunCli("--flags=0x2 " + Quoted(image) + " " + Quoted(out));
  EXPECT_EQ(run.exit_code, 0);
  TPpmImage ppm;
  ASSERT_TRUE(ReadPpm(out, &ppm));
  TMemBitmap bitmap;
  ASSERT_EQ(LoadImageByExtension(image.c_str(), 0, 0, bitmap, LF_QUANTIZE, nullptr), kLoadOk);
  ASSERT_EQ(bitmap.header.biBitCount, 8);
  EXPECT_EQ(ppm.rgb, BitmapToRgb(bitmap));

  const std::string sealed = dir_.Join("sealed.jpg");
  ASSERT_TRUE(WriteBytesFile(sealed, SealWithKeyText(ReadBytesFile(image), "k3y")));
  run = RunCli("--key=k3y " + Quoted(sealed) + " " + Quoted(out));
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.out, "result=0 width=1600 height=1200 full=1600x1200 scale=1/1\n");
  run = RunCli(Quoted(sealed) + " " + Quoted(out));
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.out, "result=118 width=0 height=0 full=0x0 scale=0/0\n");
}

TEST_F(DecodeCommandTest, FailedLoadExitsOne) {
  const std::string out = dir_.Join("none.ppm");
  const TRun run = RunCli(Quoted(dir_.Join("missing.gif")) + " " + Quoted(out));
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.out, "result=119 width=0 height=0 full=0x0 scale=0/0\n");
  EXPECT_FALSE(FileExists(out));
}

TEST_F(DecodeCommandTest, UsageErrorsExitTwo) {
  const std::string image = dir_.Join("a.bmp");
  ASSERT_TRUE(WriteTestBmp24(image, 2, 2));
  for (const std::string& arguments :
       {std::string(""), Quoted(image), "--flags=x " + Quoted(image) + " o.ppm",
        "--request=12 " + Quoted(image) + " o.ppm", "--bogus " + Quoted(image) + " o.ppm",
        Quoted(image) + " a.ppm b.ppm"}) {
    SCOPED_TRACE(arguments);
    const TRun run = RunCli(arguments);
    EXPECT_EQ(run.exit_code, 2);
    EXPECT_EQ(run.out, "");
  }
}

}  // namespace

namespace {

TEST_F(DecodeCommandTest, ReadsEveryFormatAndGivesTheirRefusalCodes) {
  const std::string corpus = std::string(VELLUMCAST_SOURCE_DIR) + "/tests/corpus/";
  const struct {
    const char* file;
    const char* line;
  } cases[] = {
      {"png/rgba16_interlaced.png", "result=0 width=23 height=17 full=23x17 scale=1/1\n"},
      {"webp/lossy.webp", "result=0 width=32 height=24 full=32x24 scale=1/1\n"},
      {"heif/alpha.heic", "result=0 width=32 height=24 full=32x24 scale=1/1\n"},
      {"heif/rgb.avif", "result=0 width=32 height=24 full=32x24 scale=1/1\n"},
      {"tiff/cmyk8_strips_lzw.tif", "result=0 width=23 height=17 full=23x17 scale=1/1\n"},
      {"damaged/png_not_png.png", "result=260 width=0 height=0 full=0x0 scale=0/0\n"},
      {"damaged/tiff_cut.tif", "result=290 width=0 height=0 full=0x0 scale=0/0\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string out = dir_.Join("out.ppm");
    const TRun run = RunCli(Quoted(corpus + c.file) + " " + Quoted(out));
    EXPECT_EQ(run.out, c.line);
    EXPECT_EQ(run.exit_code, run.out.rfind("result=0 ", 0) == 0 ? 0 : 1);
    EXPECT_EQ(FileExists(out), run.exit_code == 0);
    std::remove(out.c_str());
  }
}

}  // namespace
