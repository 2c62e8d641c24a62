// Web copies of videos: H.264 + AAC in an MP4 with its index first, the turn
// kept as a display matrix, the long side capped, timestamps kept; bad
// sources, unwritable targets, a stop and the time cap leave nothing behind.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/modern/web_video.h"
#include "engine/run_helpers.h"
#include "fixtures/mount_fixtures.h"
#include "fixtures/tree_writer.h"
#include "fixtures/video_writer.h"
#include "imagein/video.h"
#include "platform/dir_listing.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace {

// The four-letter types of the top-level boxes of an MP4, in file order.
std::vector<std::string> TopLevelBoxes(const std::string& bytes) {
  std::vector<std::string> boxes;
  size_t at = 0;
  while (at + 8 <= bytes.size()) {
    uint64_t size = 0;
    for (int i = 0; i < 4; ++i) size = (size << 8) | static_cast<uint8_t>(bytes[at + i]);
    const std::string type = bytes.substr(at + 4, 4);
    if (size == 1 && at + 16 <= bytes.size()) {
      size = 0;
      for (int i = 8; i < 16; ++i) size = (size << 8) | static_cast<uint8_t>(bytes[at + i]);
    } else if (size == 0) {
      size = bytes.size() - at;
    }
    if (size < 8) break;
    boxes.push_back(type);
    at += size;
  }
  return boxes;
}

int IndexOf(const std::vector<std::string>& boxes, const std::string& type) {
  for (size_t i = 0; i < boxes.size(); ++i) {
    if (boxes[i] == type) return static_cast<int>(i);
  }
  return -1;
}

// The video packets of a file, read through the program's own opener.
int64_t VideoPackets(const std::string& path) {
  AVFormatContext* input = nullptr;
  if (OpenVideoInput(path.c_str(), 0, &input) != 0) return -1;
  const int video = av_find_best_stream(input, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  int64_t count = 0;
  AVPacket* packet = av_packet_alloc();
  while (video >= 0 && av_read_frame(input, packet) >= 0) {
    if (packet->stream_index == video) ++count;
    av_packet_unref(packet);
  }
  av_packet_free(&packet);
  CloseVideoInput(&input);
  return count;
}

// The times (ms from the first) of the video packets of a file, in order of time.
std::vector<int64_t> VideoTimesMs(const std::string& path) {
  std::vector<int64_t> times;
  AVFormatContext* input = nullptr;
  if (OpenVideoInput(path.c_str(), 0, &input) != 0) return times;
  const int video = av_find_best_stream(input, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  AVPacket* packet = av_packet_alloc();
  while (video >= 0 && av_read_frame(input, packet) >= 0) {
    if (packet->stream_index == video && packet->pts != AV_NOPTS_VALUE) {
      times.push_back(av_rescale_q(packet->pts, input->streams[video]->time_base, AVRational{1, 1000}));
    }
    av_packet_unref(packet);
  }
  av_packet_free(&packet);
  CloseVideoInput(&input);
  std::sort(times.begin(), times.end());
  for (size_t i = times.size(); i-- > 0;) times[i] -= times[0];
  return times;
}

// Copies the video packets of the intra-only clip `source` whose index `keep`
// takes into a Matroska file: a clip of variable frame rate.
bool RemuxKeeping(const std::string& source, const std::string& target, const std::function<bool(int)>& keep) {
  AVFormatContext* input = nullptr;
  if (OpenVideoInput(source.c_str(), 0, &input) != 0) return false;
  AVFormatContext* output = nullptr;
  bool ok = avformat_alloc_output_context2(&output, nullptr, "matroska", target.c_str()) >= 0;
  AVStream* stream = ok ? avformat_new_stream(output, nullptr) : nullptr;
  const AVStream* in = input->streams[0];
  ok = stream && avcodec_parameters_copy(stream->codecpar, in->codecpar) >= 0;
  if (ok) stream->codecpar->codec_tag = 0;
  ok = ok && avio_open(&output->pb, target.c_str(), AVIO_FLAG_WRITE) >= 0 &&
       avformat_write_header(output, nullptr) >= 0;
  AVPacket* packet = av_packet_alloc();
  for (int index = 0; ok && av_read_frame(input, packet) >= 0; ++index) {
    if (packet->stream_index == 0 && keep(index)) {
      av_packet_rescale_ts(packet, in->time_base, stream->time_base);
      packet->duration = 0;
      ok = av_interleaved_write_frame(output, packet) >= 0;
    }
    av_packet_unref(packet);
  }
  ok = ok && av_write_trailer(output) >= 0;
  av_packet_free(&packet);
  if (output) avio_closep(&output->pb);
  avformat_free_context(output);
  CloseVideoInput(&input);
  return ok;
}

class WebVideoTest : public TEngineTest {
 protected:
  // Writes a clip, or skips the test when this FFmpeg lacks one of its encoders.
  std::string Clip(const std::string& name, const TTestVideoSpec& spec) {
    for (const std::string& encoder : {spec.video_encoder, spec.audio_encoder}) {
      if (!encoder.empty() && !TestVideoEncoderPresent(encoder)) {
        skipped_ = "no " + encoder + " encoder";
        return {};
      }
    }
    std::string error;
    EXPECT_TRUE(WriteTestVideo(Path(name), spec, &error)) << name << ": " << error;
    return Path(name);
  }
  static TTestVideoSpec Spec(const std::string& muxer, const std::string& video, const std::string& audio = "") {
    TTestVideoSpec spec;
    spec.muxer = muxer;
    spec.video_encoder = video;
    spec.audio_encoder = audio;
    return spec;
  }
  bool Copy(const std::string& source, const std::string& target, const TWebVideoOptions& options = {}) {
    reason_.clear();
    return MakeWebVideo(source.c_str(), target.c_str(), options, &reason_);
  }
  // Files in the test folder's `relative` folder whose names hold `pattern`.
  int Files(const std::string& relative, const char* pattern) {
    int found = 0;
    TDirListing listing(Path(relative).c_str(), pattern);
    while (listing.Next()) ++found;
    return found;
  }
  // Nothing at the target and no temporary file beside it.
  void ExpectNothingLeft(const std::string& folder, const std::string& name) {
    EXPECT_FALSE(Exists(folder + "/" + name)) << name;
    EXPECT_EQ(Files(folder, "*tmp*"), 0) << "a temporary file was left in " << folder;
  }

  std::string skipped_;
  std::string reason_;
};

TEST_F(WebVideoTest, TurnedHevcMovWithSoundBecomesH264AacMp4WithItsIndexFirst) {
  TTestVideoSpec spec = Spec("mov", "libx265", "aac");
  spec.width = 96;
  spec.height = 64;
  spec.frames = 45;
  spec.rotation = 90;
  spec.creation_time = "2024-05-01T12:03:22Z";
  const std::string source = Clip("in.mov", spec);
  if (!skipped_.empty()) GTEST_SKIP() << skipped_;
  std::vector<double> progress;
  TWebVideoOptions options;
  options.progress = [&](double done) { progress.push_back(done); };
  ASSERT_TRUE(Copy(source, Path("out.mp4"), options)) << reason_;

  TVideoFacts in, out;
  ASSERT_EQ(ReadVideoFacts(source.c_str(), &in), 0);
  ASSERT_EQ(ReadVideoFacts(Path("out.mp4").c_str(), &out), 0);
  EXPECT_EQ(out.video_codec, "h264");
  EXPECT_EQ(out.audio_codec, "aac");
  EXPECT_TRUE(out.browser_playable);
  EXPECT_EQ(out.rotation, 90);  // kept as the display matrix, the pixels not turned
  EXPECT_EQ(out.coded_width, 96);
  EXPECT_EQ(out.coded_height, 64);
  EXPECT_EQ(out.width, 64);
  EXPECT_EQ(out.height, 96);
  EXPECT_NEAR(static_cast<double>(out.duration_ms), static_cast<double>(in.duration_ms), 100.0);
  EXPECT_EQ(out.date_recorded, in.date_recorded);
  EXPECT_EQ(VideoPackets(Path("out.mp4")), 45);

  const std::vector<std::string> boxes = TopLevelBoxes(ReadFileBytes(Path("out.mp4")));
  ASSERT_GE(IndexOf(boxes, "moov"), 0);
  ASSERT_GE(IndexOf(boxes, "mdat"), 0);
  EXPECT_LT(IndexOf(boxes, "moov"), IndexOf(boxes, "mdat"));

  // The copy plays: its poster decodes.
  TVideoFacts poster_facts;
  TMemBitmap poster;
  EXPECT_EQ(ReadVideoPoster(Path("out.mp4").c_str(), TVideoLimits{}, &poster_facts, &poster), 0);

  ASSERT_FALSE(progress.empty());
  for (size_t i = 1; i < progress.size(); ++i) EXPECT_GE(progress[i], progress[i - 1]);
  EXPECT_DOUBLE_EQ(progress.back(), 1.0);
  EXPECT_EQ(Files(".", "*tmp*"), 0);
}

TEST_F(WebVideoTest, TheLongSideIsCappedKeepingAspectAndEvenSides) {
  struct TCase {
    int width, height, rotation, cap;
    int coded_width, coded_height;  // of the copy
  };
  const TCase cases[] = {
      {640, 360, 0, 320, 320, 180},
      {640, 360, 90, 320, 320, 180},   // the cap is on the shown frame; the turn stays a matrix
      {360, 640, 0, 320, 180, 320},
      {100, 76, 0, 50, 50, 38},        // 38 = 76 / 2: even
      {102, 70, 0, 51, 50, 36},        // 35 -> 36 rounded to even, but never past the cap
      {64, 48, 0, 320, 64, 48},        // a smaller clip keeps its size
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " turned " +
                 std::to_string(c.rotation) + " cap " + std::to_string(c.cap));
    TTestVideoSpec spec = Spec("mp4", "libx264");
    spec.width = c.width;
    spec.height = c.height;
    spec.rotation = c.rotation;
    spec.frames = 6;
    const std::string source = Clip("big.mp4", spec);
    if (!skipped_.empty()) GTEST_SKIP() << skipped_;
    TWebVideoOptions options;
    options.max_long_side = c.cap;
    ASSERT_TRUE(Copy(source, Path("small.mp4"), options)) << reason_;
    TVideoFacts out;
    ASSERT_EQ(ReadVideoFacts(Path("small.mp4").c_str(), &out), 0);
    EXPECT_EQ(out.coded_width, c.coded_width);
    EXPECT_EQ(out.coded_height, c.coded_height);
    EXPECT_EQ(out.rotation, c.rotation);
    EXPECT_EQ(VideoPackets(Path("small.mp4")), 6);
  }
}

TEST_F(WebVideoTest, AviCodecsBecomeH264) {
  for (const char* codec : {"mpeg4", "mjpeg"}) {
    SCOPED_TRACE(codec);
    TTestVideoSpec spec = Spec("avi", codec, "mp2");
    spec.frames = 25;
    spec.fps = 25;
    const std::string source = Clip(std::string(codec) + ".avi", spec);
    if (!skipped_.empty()) GTEST_SKIP() << skipped_;
    const std::string target = Path(std::string(codec) + ".mp4");
    ASSERT_TRUE(Copy(source, target)) << reason_;
    TVideoFacts in, out;
    ASSERT_EQ(ReadVideoFacts(source.c_str(), &in), 0);
    ASSERT_EQ(ReadVideoFacts(target.c_str(), &out), 0);
    EXPECT_EQ(out.video_codec, "h264");
    EXPECT_EQ(out.audio_codec, "aac");
    EXPECT_EQ(out.width, 64);
    EXPECT_EQ(out.height, 48);
    EXPECT_NEAR(static_cast<double>(out.duration_ms), static_cast<double>(in.duration_ms), 100.0);
    EXPECT_EQ(VideoPackets(target), 25);
  }
}

TEST_F(WebVideoTest, AVariableFrameRateKeepsEveryFramesTime) {
  TTestVideoSpec spec = Spec("matroska", "mjpeg");
  spec.frames = 40;
  spec.fps = 20;
  const std::string steady = Clip("steady.mkv", spec);
  if (!skipped_.empty()) GTEST_SKIP() << skipped_;
  // Every third frame missing, and a gap of half a second.
  ASSERT_TRUE(RemuxKeeping(steady, Path("uneven.mkv"), [](int i) { return i % 3 != 1 && (i < 20 || i >= 30); }));
  const std::vector<int64_t> source_times = VideoTimesMs(Path("uneven.mkv"));
  ASSERT_EQ(source_times.size(), 20u);
  ASSERT_TRUE(Copy(Path("uneven.mkv"), Path("uneven.mp4"))) << reason_;
  const std::vector<int64_t> copy_times = VideoTimesMs(Path("uneven.mp4"));
  ASSERT_EQ(copy_times.size(), source_times.size());
  for (size_t i = 0; i < copy_times.size(); ++i) EXPECT_NEAR(copy_times[i], source_times[i], 1) << "frame " << i;
}

TEST_F(WebVideoTest, BadSourcesFailWithAReasonAndLeaveNothing) {
  // Clips that state their duration before their frames: Matroska, and an MP4
  // with its index first (a web copy itself).
  TTestVideoSpec long_clip = Spec("matroska", "libx264");
  long_clip.width = 160;
  long_clip.height = 120;
  long_clip.frames = 100;
  long_clip.fps = 25;
  const std::string whole_mkv = ReadFileBytes(Clip("whole.mkv", long_clip));
  long_clip.muxer = "mp4";
  const std::string index_last = Clip("whole.mp4", long_clip);
  if (!skipped_.empty()) GTEST_SKIP() << skipped_;
  ASSERT_TRUE(Copy(index_last, Path("index-first.mp4"))) << reason_;
  const std::string whole_mp4 = ReadFileBytes(index_last);
  const std::string index_first = ReadFileBytes(Path("index-first.mp4"));
  const std::string sound_only = Clip("sound.m4a", Spec("mp4", "", "aac"));
  if (!skipped_.empty()) GTEST_SKIP() << skipped_;
  std::string noise(20000, '\0');
  uint32_t seed = 7;
  for (char& c : noise) c = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 24);

  struct TCase {
    const char* name;
    std::string bytes;
    const char* reason;  // empty: any reason
  };
  ASSERT_TRUE(WriteFileBytes(Path("out/.keep"), ""));
  const TCase cases[] = {
      {"cut.mkv", whole_mkv.substr(0, whole_mkv.size() / 2), "damaged or truncated video"},
      {"cut-index-first.mp4", index_first.substr(0, index_first.size() / 2), "damaged or truncated video"},
      {"cut-index-last.mp4", whole_mp4.substr(0, whole_mp4.size() / 2), ""},  // no index: the opener's word
      {"empty.mp4", "", "not a video"},
      {"noise.mp4", noise, "not a video"},
      {"sound.m4a", ReadFileBytes(sound_only), "not a video"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(WriteFileBytes(Path(std::string("bad/") + c.name), c.bytes));
    EXPECT_FALSE(Copy(Path(std::string("bad/") + c.name), Path("out/copy.mp4")));
    EXPECT_FALSE(reason_.empty());
    if (*c.reason) {
      EXPECT_EQ(reason_, c.reason);
    }
    ExpectNothingLeft("out", "copy.mp4");
  }
  EXPECT_FALSE(Copy(Path("missing.mov"), Path("out/copy.mp4")));
  EXPECT_EQ(reason_, "cannot open the file");
  ExpectNothingLeft("out", "copy.mp4");
}

TEST_F(WebVideoTest, AnUnwritableTargetSaysCannotWriteAndLeavesNothing) {
  TTestVideoSpec spec = Spec("mp4", "libx264", "aac");
  spec.width = 640;
  spec.height = 480;
  spec.frames = 30;  // a copy well over the tiny file system's 32 KiB
  const std::string source = Clip("in.mp4", spec);
  if (!skipped_.empty()) GTEST_SKIP() << skipped_;
  ASSERT_TRUE(WriteFileBytes(Path("ro/keep.txt"), "x"));
  ASSERT_TRUE(WriteFileBytes(Path("full/.keep"), ""));
  {
    TReadOnlyBind read_only(Path("ro"));
    if (!read_only.Mounted()) GTEST_SKIP() << "no read-only bind mount: " << read_only.Why();
    EXPECT_FALSE(Copy(source, Path("ro/copy.mp4")));
    EXPECT_EQ(reason_, "cannot write: Read-only file system");
    ExpectNothingLeft("ro", "copy.mp4");
  }
  {
    TTinyTmpfs tiny(Path("full"), 32 * 1024);
    if (!tiny.Mounted()) GTEST_SKIP() << "no tmpfs: " << tiny.Why();
    EXPECT_FALSE(Copy(source, Path("full/copy.mp4")));
    EXPECT_EQ(reason_, "cannot write: No space left on device");
    ExpectNothingLeft("full", "copy.mp4");
  }
}

TEST_F(WebVideoTest, AStopOrTheTimeCapEndsTheCopyWithNothingLeft) {
  TTestVideoSpec spec = Spec("mp4", "libx264", "aac");
  spec.frames = 90;
  const std::string source = Clip("in.mp4", spec);
  if (!skipped_.empty()) GTEST_SKIP() << skipped_;

  ASSERT_TRUE(WriteFileBytes(Path("out/.keep"), ""));
  std::atomic<bool> stop{true};
  TWebVideoOptions before;
  before.stop = &stop;
  EXPECT_FALSE(Copy(source, Path("out/a.mp4"), before));
  EXPECT_EQ(reason_, "stopped");
  ExpectNothingLeft("out", "a.mp4");

  // Stopped from the progress callback, partway through.
  stop = false;
  TWebVideoOptions during;
  during.stop = &stop;
  double stopped_at = -1;
  during.progress = [&](double done) {
    if (done > 0.2 && stopped_at < 0) {
      stopped_at = done;
      stop = true;
    }
  };
  EXPECT_FALSE(Copy(source, Path("out/b.mp4"), during));
  EXPECT_EQ(reason_, "stopped");
  EXPECT_GT(stopped_at, 0.2);
  EXPECT_LT(stopped_at, 1.0);
  ExpectNothingLeft("out", "b.mp4");

  TWebVideoOptions capped;
  capped.seconds_per_minute = 1e-9;
  EXPECT_FALSE(Copy(source, Path("out/c.mp4"), capped));
  EXPECT_EQ(reason_, "took too long");
  ExpectNothingLeft("out", "c.mp4");
}

TEST_F(WebVideoTest, AnEarlierFileIsReplacedOnlyByAWholeCopy) {
  const std::string source = Clip("in.mp4", Spec("mp4", "libx264"));
  if (!skipped_.empty()) GTEST_SKIP() << skipped_;
  ASSERT_TRUE(WriteFileBytes(Path("out/copy.mp4"), "earlier"));
  ASSERT_TRUE(WriteFileBytes(Path("bad.mp4"), "not a video"));

  EXPECT_FALSE(Copy(Path("bad.mp4"), Path("out/copy.mp4")));
  std::atomic<bool> stop{true};
  TWebVideoOptions stopped;
  stopped.stop = &stop;
  EXPECT_FALSE(Copy(source, Path("out/copy.mp4"), stopped));
  EXPECT_EQ(ReadFileBytes(Path("out/copy.mp4")), "earlier");

  ASSERT_TRUE(Copy(source, Path("out/copy.mp4"))) << reason_;
  TVideoFacts out;
  EXPECT_EQ(ReadVideoFacts(Path("out/copy.mp4").c_str(), &out), 0);
  EXPECT_EQ(out.video_codec, "h264");
  EXPECT_EQ(Files("out", "*tmp*"), 0);
}

}  // namespace
