// Full loads through the loader thread: the caller gets the whole result and
// owns its pixels; callers on several threads are served one at a time, each
// with its own complete result.

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "fixtures/bitmap_rgb.h"
#include "fixtures/image_writers.h"
#include "fixtures/tree_writer.h"
#include "imagein/load_codes.h"
#include "imagein/loader.h"

namespace {

TEST(LoaderThread, HandsTheWholeResultToTheCaller) {
  TScratchDir dir("vellumcast-loader");
  const std::string path = dir.Join("a.bmp");
  ASSERT_TRUE(WriteTestBmp24(path, 33, 21, GradientPixels(4)));
  TMemBitmap direct;
  ASSERT_EQ(LoadImageByExtension(path.c_str(), 120, 80, direct, kThumbnailLoadFlags, nullptr), kLoadOk);

  TMemBitmap bitmap;
  ASSERT_EQ(LoadImageToBitmap(path.c_str(), 120, 80, bitmap, kThumbnailLoadFlags, nullptr), kLoadOk);
  EXPECT_EQ(bitmap.width, 33);
  EXPECT_EQ(bitmap.height, 21);
  EXPECT_EQ(bitmap.requested_width, 120);
  EXPECT_EQ(bitmap.requested_height, 80);
  EXPECT_EQ(bitmap.load_flags, kThumbnailLoadFlags);
  EXPECT_STREQ(bitmap.name, path.c_str());
  EXPECT_NE(bitmap.pixel_handle, nullptr);
  EXPECT_EQ(BitmapToRgb(bitmap), BitmapToRgb(direct));

  // The next load replaces the caller's bitmap, releasing its old pixels.
  EXPECT_EQ(LoadImageToBitmap(dir.Join("missing.bmp").c_str(), 120, 80, bitmap, kThumbnailLoadFlags,
                              nullptr),
            kLoadCannotOpen);
  EXPECT_EQ(bitmap.width, 0);
  EXPECT_EQ(bitmap.pixel_handle, nullptr);
}

TEST(LoaderThread, RefusesLongPathsBeforeQueueing) {
  const std::string path = "/tmp/" + std::string(300, 'x') + ".jpg";
  TMemBitmap bitmap;
  EXPECT_EQ(LoadImageToBitmap(path.c_str(), 120, 80, bitmap, kThumbnailLoadFlags, nullptr), kLoadPathTooLong);
  EXPECT_EQ(bitmap.width, 0);
}

TEST(LoaderThread, ConcurrentCallersEachGetTheirOwnResult) {
  TScratchDir dir("vellumcast-loader");
  struct TJob {
    std::string path;
    int32_t width;
    int32_t height;
    std::vector<uint8_t> expected;
  };
  std::vector<TJob> jobs = {
      {dir.Join("one.bmp"), 40, 30, {}},
      {dir.Join("two.gif"), 17, 45, {}},
      {dir.Join("three.jpg"), 64, 8, {}},
      {dir.Join("four.bmp"), 5, 5, {}},
  };
  ASSERT_TRUE(WriteTestBmp24(jobs[0].path, 40, 30, GradientPixels(1)));
  ASSERT_TRUE(WriteTestGif(jobs[1].path, 17, 45, GradientPixels(2)));
  ASSERT_TRUE(WriteTestJpeg(jobs[2].path, 64, 8, GradientPixels(3)));
  ASSERT_TRUE(WriteTestBmp24(jobs[3].path, 5, 5, GradientPixels(5)));
  for (TJob& job : jobs) {
    TMemBitmap bitmap;
    ASSERT_EQ(LoadImageByExtension(job.path.c_str(), 120, 80, bitmap, kThumbnailLoadFlags, nullptr), kLoadOk);
    job.expected = BitmapToRgb(bitmap);
  }

  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  for (const TJob& job : jobs) {
    threads.emplace_back([&job, &mismatches] {
      for (int i = 0; i < 25; ++i) {
        TMemBitmap bitmap;
        const int32_t result =
            LoadImageToBitmap(job.path.c_str(), 120, 80, bitmap, kThumbnailLoadFlags, nullptr);
        if (result != kLoadOk || bitmap.width != job.width || bitmap.height != job.height ||
            std::string(bitmap.name) != job.path || BitmapToRgb(bitmap) != job.expected) {
          ++mismatches;
        }
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(mismatches.load(), 0);
}

}  // namespace
