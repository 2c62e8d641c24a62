// Videos: the facts a container tells and the poster frame, on clips written
// by the test clip writer in each container and codec a catalog takes, and on
// the files a video read must refuse without a crash, a hang or a leak.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "fixtures/child_run.h"
#include "fixtures/tree_writer.h"
#include "fixtures/video_writer.h"
#include "imagein/load_codes.h"
#include "imagein/video.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace {

enum class TSide { kLeft, kRight, kTop, kBottom };

// The centre of the shown picture's half on `side`.
void HalfCentre(const TMemBitmap& bitmap, TSide side, int32_t* x, int32_t* y) {
  *x = bitmap.width / 2;
  *y = bitmap.height / 2;
  if (side == TSide::kLeft) *x = bitmap.width / 4;
  if (side == TSide::kRight) *x = bitmap.width * 3 / 4;
  if (side == TSide::kTop) *y = bitmap.height / 4;
  if (side == TSide::kBottom) *y = bitmap.height * 3 / 4;
}

TSide Opposite(TSide side) {
  switch (side) {
    case TSide::kLeft: return TSide::kRight;
    case TSide::kRight: return TSide::kLeft;
    case TSide::kTop: return TSide::kBottom;
    case TSide::kBottom: return TSide::kTop;
  }
  return TSide::kLeft;
}

// Pixels are blue, green, red.
bool IsRed(const uint8_t* pixel) { return pixel[2] > 150 && pixel[0] < 90 && pixel[1] < 90; }
bool IsBlue(const uint8_t* pixel) { return pixel[0] > 150 && pixel[2] < 90 && pixel[1] < 90; }
bool IsDark(const uint8_t* pixel) { return pixel[0] < 40 && pixel[1] < 40 && pixel[2] < 40; }

// Where the stored frame's red left half shows after the clip's clockwise turn.
TSide RedSide(int rotation) {
  switch (rotation) {
    case 90: return TSide::kTop;
    case 180: return TSide::kRight;
    case 270: return TSide::kBottom;
    default: return TSide::kLeft;
  }
}

class VideoTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { scratch_ = new TScratchDir("vellumcast-video"); }
  static void TearDownTestSuite() {
    delete scratch_;
    scratch_ = nullptr;
  }

  // Writes the clip into the suite's scratch folder.
  static std::string Clip(const std::string& name, const TTestVideoSpec& spec) {
    const std::string path = scratch_->Join(name);
    std::string error;
    EXPECT_TRUE(WriteTestVideo(path, spec, &error)) << name << ": " << error;
    return path;
  }

  static TScratchDir* scratch_;
};

TScratchDir* VideoTest::scratch_ = nullptr;

TEST_F(VideoTest, FactsAndUprightPosterOfEachContainerAndCodec) {
  struct TCase {
    const char* name;
    TTestVideoSpec spec;
    const char* video_codec;
    const char* audio_codec;
    const char* mime_type;
    bool playable;
    const char* date;
    const char* camera;
  };
  auto spec = [](const char* muxer, const char* video, const char* audio, int rotation = 0) {
    TTestVideoSpec s;
    s.muxer = muxer;
    s.video_encoder = video;
    s.audio_encoder = audio;
    s.rotation = rotation;
    return s;
  };
  std::vector<TCase> cases = {
      {"h264.mp4", spec("mp4", "libx264", "aac"), "h264", "aac", "video/mp4", true, "", ""},
      {"h264-90.mp4", spec("mp4", "libx264", "aac", 90), "h264", "aac", "video/mp4", true, "", ""},
      {"h264-180.mp4", spec("mp4", "libx264", "aac", 180), "h264", "aac", "video/mp4", true, "", ""},
      {"h264-270.mp4", spec("mp4", "libx264", "aac", 270), "h264", "aac", "video/mp4", true, "", ""},
      {"hevc.mov", spec("mov", "libx265", ""), "hevc", "", "video/quicktime", false, "", ""},
      {"hevc.mp4", spec("mp4", "libx265", "aac"), "hevc", "aac", "video/mp4", false, "", ""},
      {"vp9.webm", spec("webm", "libvpx-vp9", "libopus"), "vp9", "opus", "video/webm", true, "", ""},
      {"vp9.mkv", spec("matroska", "libvpx-vp9", "libopus"), "vp9", "opus", "video/x-matroska", false, "", ""},
      {"av1.mp4", spec("mp4", "libaom-av1", ""), "av1", "", "video/mp4", true, "", ""},
      {"mpeg4.avi", spec("avi", "mpeg4", ""), "mpeg4", "", "video/x-msvideo", false, "", ""},
      {"mjpeg.avi", spec("avi", "mjpeg", ""), "mjpeg", "", "video/x-msvideo", false, "", ""},
      {"h264.mkv", spec("matroska", "libx264", "aac"), "h264", "aac", "video/x-matroska", false, "", ""},
      {"mpeg2.mts", spec("mpegts", "mpeg2video", "mp2"), "mpeg2video", "mp2", "video/mp2t", false, "", ""},
  };
  // Dates and cameras: the container's UTC creation time, a QuickTime local
  // date before it, make and model joined (a model naming its make kept whole).
  cases[0].spec.creation_time = "2024-05-01T12:03:22Z";
  cases[0].spec.make = "Apple";
  cases[0].spec.model = "iPhone 12";
  cases[0].date = "2024-05-01 12:03:22";
  cases[0].camera = "Apple iPhone 12";
  cases[1].spec.creation_time = "2024-05-01T12:03:22Z";
  cases[1].spec.apple_creation_date = "2024-05-01T14:03:22+0200";
  cases[1].date = "2024-05-01 14:03:22";
  cases[11].spec.make = "  Canon ";
  cases[11].spec.model = "Canon EOS R6";
  cases[11].spec.creation_time = "2023-12-31 23:59:59";
  cases[11].camera = "Canon EOS R6";
  cases[11].date = "2023-12-31 23:59:59";

  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    if (!TestVideoEncoderPresent(c.spec.video_encoder)) {
      ADD_FAILURE() << "encoder missing: " << c.spec.video_encoder;
      continue;
    }
    const std::string path = Clip(c.name, c.spec);
    TVideoFacts facts;
    ASSERT_EQ(ReadVideoFacts(path.c_str(), &facts), kLoadOk);
    const bool quarter = c.spec.rotation == 90 || c.spec.rotation == 270;
    EXPECT_EQ(facts.coded_width, c.spec.width);
    EXPECT_EQ(facts.coded_height, c.spec.height);
    EXPECT_EQ(facts.width, quarter ? c.spec.height : c.spec.width);
    EXPECT_EQ(facts.height, quarter ? c.spec.width : c.spec.height);
    EXPECT_EQ(facts.rotation, c.spec.rotation);
    EXPECT_NEAR(static_cast<double>(facts.duration_ms), 1000.0 * c.spec.frames / c.spec.fps, 100.0);
    EXPECT_EQ(facts.video_codec, c.video_codec);
    EXPECT_EQ(facts.audio_codec, c.audio_codec);
    EXPECT_EQ(facts.mime_type, c.mime_type);
    EXPECT_EQ(facts.browser_playable, c.playable);
    EXPECT_EQ(facts.date_recorded, c.date);
    EXPECT_EQ(facts.camera, c.camera);
    EXPECT_FALSE(facts.container.empty());

    TVideoFacts poster_facts;
    TMemBitmap poster;
    ASSERT_EQ(ReadVideoPoster(path.c_str(), TVideoLimits{}, &poster_facts, &poster), kLoadOk);
    EXPECT_EQ(poster_facts.width, facts.width);
    EXPECT_EQ(poster_facts.height, facts.height);
    EXPECT_EQ(poster_facts.video_codec, facts.video_codec);
    ASSERT_EQ(poster.width, facts.width);
    ASSERT_EQ(poster.height, facts.height);
    ASSERT_EQ(poster.header.biBitCount, 24);
    int32_t x = 0;
    int32_t y = 0;
    HalfCentre(poster, RedSide(c.spec.rotation), &x, &y);
    EXPECT_TRUE(IsRed(BitmapPixel(poster, x, y))) << "red half not at the side the turn puts it";
    HalfCentre(poster, Opposite(RedSide(c.spec.rotation)), &x, &y);
    EXPECT_TRUE(IsBlue(BitmapPixel(poster, x, y)));
  }
}

TEST_F(VideoTest, CameraAndDateTagsAreReadSafely) {
  using TTags = std::vector<std::pair<std::string, std::string>>;
  const struct {
    const char* name;
    TTags tags;
    const char* camera;
    const char* date;
  } cases[] = {
      {"android", {{"com.android.manufacturer", "samsung"}, {"com.android.model", "SM-G991B"}}, "samsung SM-G991B", ""},
      {"model only", {{"com.apple.quicktime.model", " iPhone 15 Pro "}}, "iPhone 15 Pro", ""},
      {"bad UTF-8 ends the text", {{"com.apple.quicktime.make", "Nikon\xff\xfe"}, {"com.apple.quicktime.model", "Z\x01 6"}},
       "Nikon Z", ""},
      {"date without time", {{"com.apple.quicktime.creationdate", "2024-05-01"}}, "", ""},
      {"impossible month", {{"com.apple.quicktime.creationdate", "2024-13-01T10:00:00+0000"}}, "", ""},
      {"space between date and time", {{"com.apple.quicktime.creationdate", "2021-02-03 04:05:06"}}, "",
       "2021-02-03 04:05:06"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TTestVideoSpec spec;
    spec.frames = 3;
    spec.tags = c.tags;
    const std::string path = Clip(std::string("tags-") + c.name + ".mp4", spec);
    TVideoFacts facts;
    ASSERT_EQ(ReadVideoFacts(path.c_str(), &facts), kLoadOk);
    EXPECT_EQ(facts.camera, c.camera);
    EXPECT_EQ(facts.date_recorded, c.date);
  }
}

TEST_F(VideoTest, PixelAspectWidensTheShownSizeBeforeTheTurn) {
  TTestVideoSpec wide;
  wide.aspect_num = 2;
  TTestVideoSpec wide_turned = wide;
  wide_turned.rotation = 90;
  const struct {
    const char* name;
    TTestVideoSpec spec;
    int32_t width, height;
  } cases[] = {{"aspect.mp4", wide, 128, 48}, {"aspect-90.mp4", wide_turned, 48, 128}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = Clip(c.name, c.spec);
    TVideoFacts facts;
    TMemBitmap poster;
    ASSERT_EQ(ReadVideoPoster(path.c_str(), TVideoLimits{}, &facts, &poster), kLoadOk);
    EXPECT_EQ(facts.coded_width, 64);
    EXPECT_EQ(facts.width, c.width);
    EXPECT_EQ(facts.height, c.height);
    EXPECT_EQ(poster.width, c.width);
    EXPECT_EQ(poster.height, c.height);
  }
}

TEST_F(VideoTest, PosterSkipsTheDarkOpeningWithinTheScan) {
  TTestVideoSpec dark_start;
  dark_start.dark_frames = 20;  // two thirds of a second
  const std::string path = Clip("dark-start.mp4", dark_start);
  TTestVideoSpec all_dark;
  all_dark.dark_frames = all_dark.frames;
  const std::string dark_path = Clip("all-dark.mp4", all_dark);

  const struct {
    const char* name;
    std::string path;
    double scan_seconds;
    bool dark_poster;
  } cases[] = {
      {"dark opening within the scan: the first picture", path, 3.0, false},
      {"dark opening longer than the scan: the first frame", path, 0.3, true},
      {"dark throughout: the first frame", dark_path, 3.0, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TVideoLimits limits;
    limits.scan_seconds = c.scan_seconds;
    TVideoFacts facts;
    TMemBitmap poster;
    ASSERT_EQ(ReadVideoPoster(c.path.c_str(), limits, &facts, &poster), kLoadOk);
    int32_t x = 0;
    int32_t y = 0;
    HalfCentre(poster, TSide::kLeft, &x, &y);
    EXPECT_EQ(IsDark(BitmapPixel(poster, x, y)), c.dark_poster);
    if (!c.dark_poster) {
      EXPECT_TRUE(IsRed(BitmapPixel(poster, x, y)));
    }
  }
}

TEST_F(VideoTest, CapsStopThePosterWithTheirCodes) {
  const std::string path = Clip("caps.mp4", TTestVideoSpec{});
  TVideoLimits few_pixels;
  few_pixels.max_frame_pixels = 64 * 48 - 1;
  TVideoLimits exact_pixels;
  exact_pixels.max_frame_pixels = 64 * 48;
  TVideoLimits no_time;
  no_time.max_cpu_seconds = 1e-9;
  const struct {
    const char* name;
    TVideoLimits limits;
    int32_t code;
  } cases[] = {
      {"one pixel over the cap", few_pixels, kVideoOverLimits},
      {"at the cap", exact_pixels, kLoadOk},
      {"no CPU time", no_time, kVideoTimedOut},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TVideoFacts facts;
    TMemBitmap poster;
    EXPECT_EQ(ReadVideoPoster(path.c_str(), c.limits, &facts, &poster), c.code);
    EXPECT_EQ(poster.pixels == nullptr, c.code != kLoadOk);
  }
}

TEST_F(VideoTest, BadFilesGetTheirCodesAndNoPixels) {
  const std::string mp4 = ReadFileBytes(Clip("whole.mp4", TTestVideoSpec{}));
  TTestVideoSpec mkv_spec;
  mkv_spec.muxer = "matroska";
  const std::string mkv = ReadFileBytes(Clip("whole.mkv", mkv_spec));
  ASSERT_FALSE(mp4.empty());
  ASSERT_FALSE(mkv.empty());
  // A Matroska file cut right after its first cluster's ID: header and
  // tracks whole, no frame.
  const size_t cluster = mkv.find("\x1f\x43\xb6\x75");
  ASSERT_NE(cluster, std::string::npos);
  TTestVideoSpec sound;
  sound.video_encoder = "";
  sound.audio_encoder = "aac";
  TTestVideoSpec lossless;
  lossless.muxer = "matroska";
  lossless.video_encoder = "ffv1";
  const std::string sound_path = Clip("sound.mp4", sound);
  const std::string lossless_path = Clip("ffv1.mkv", lossless);

  std::string random(6000, '\0');
  uint32_t seed = 7;
  for (char& byte : random) {
    seed = seed * 1103515245u + 12345u;
    byte = static_cast<char>(seed >> 16);
  }
  const struct {
    const char* name;
    std::string bytes;  // written to the file `name` unless empty and `path` given
    std::string path;
    int32_t facts_code;
    int32_t poster_code;
  } cases[] = {
      {"half.mp4", mp4.substr(0, mp4.size() / 2), "", kVideoDamaged, kVideoDamaged},
      {"head.mp4", mp4.substr(0, 40), "", kVideoDamaged, kVideoDamaged},
      {"no-frames.mkv", mkv.substr(0, cluster + 4), "", kLoadOk, kVideoDamaged},
      {"empty.mp4", "", "", kVideoNotVideo, kVideoNotVideo},
      {"random.mp4", random, "", kVideoNotVideo, kVideoNotVideo},
      {"text.mp4", "This is a text file, not a clip.\nSecond line.\n", "", kVideoNotVideo, kVideoNotVideo},
      // Formats that name other files are not on the allowed list.
      {"playlist.mp4", "#EXTM3U\n#EXT-X-TARGETDURATION:1\n#EXTINF:1,\nwhole.mp4\n#EXT-X-ENDLIST\n", "",
       kVideoNotVideo, kVideoNotVideo},
      {"concat.mp4", "ffconcat version 1.0\nfile 'whole.mp4'\n", "", kVideoNotVideo, kVideoNotVideo},
      {"sound only", "", sound_path, kVideoNotVideo, kVideoNotVideo},
      {"codec not decoded", "", lossless_path, kLoadOk, kVideoNoDecoder},
      {"folder", "", scratch_->path(), kLoadCannotOpen, kLoadCannotOpen},
      {"missing", "", scratch_->Join("missing.mp4"), kLoadCannotOpen, kLoadCannotOpen},
      {"device", "", "/dev/zero", kLoadCannotOpen, kLoadCannotOpen},
      {"path too long", "", "/" + std::string(300, 'a') + ".mp4", kLoadPathTooLong, kLoadPathTooLong},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = c.path;
    if (path.empty()) {
      path = scratch_->Join(c.name);
      ASSERT_TRUE(WriteFileBytes(path, c.bytes));
    }
    TVideoFacts facts;
    EXPECT_EQ(ReadVideoFacts(path.c_str(), &facts), c.facts_code);
    TMemBitmap poster;
    EXPECT_EQ(ReadVideoPoster(path.c_str(), TVideoLimits{}, &facts, &poster), c.poster_code);
    EXPECT_EQ(poster.pixels, nullptr);
    AVFormatContext* context = nullptr;
    const int32_t open_code = OpenVideoInput(path.c_str(), 1.0, &context);
    EXPECT_EQ(context != nullptr, open_code == kLoadOk);
    CloseVideoInput(&context);
    EXPECT_EQ(context, nullptr);
  }
}

TEST_F(VideoTest, FifoIsRefusedWithoutWaitingForAWriter) {
  const std::string path = scratch_->Join("pipe.mp4");
  ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
  TVideoFacts facts;
  EXPECT_EQ(ReadVideoFacts(path.c_str(), &facts), kLoadCannotOpen);
}

TEST_F(VideoTest, UnreadableFileCannotBeOpenedByAnotherUser) {
  // Root reads anything: the read runs as user nobody in a child, beside a
  // readable copy that shows the dropped privileges alone do not fail it.
  TScratchDir dir("vellumcast-video-perm");
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  const std::string readable = dir.Join("readable.mp4");
  const std::string locked = dir.Join("locked.mp4");
  ASSERT_TRUE(WriteTestVideo(readable, TTestVideoSpec{}, nullptr));
  ASSERT_TRUE(WriteFileBytes(locked, ReadFileBytes(readable)));
  ASSERT_EQ(::chmod(readable.c_str(), 0644), 0);
  ASSERT_EQ(::chmod(locked.c_str(), 0600), 0);
  const uid_t nobody = 65534;
  const TChildRun run = RunInChild([&] {
    if (::getuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(nobody) != 0 || ::setuid(nobody) != 0)) return 10;
    TVideoFacts facts;
    TMemBitmap poster;
    if (ReadVideoPoster(readable.c_str(), TVideoLimits{}, &facts, &poster) != kLoadOk) return 11;
    if (ReadVideoFacts(locked.c_str(), &facts) != kLoadCannotOpen) return 12;
    if (ReadVideoPoster(locked.c_str(), TVideoLimits{}, &facts, &poster) != kLoadCannotOpen) return 13;
    return poster.pixels == nullptr ? 0 : 14;
  });
  if (run.exit_code == 10) GTEST_SKIP() << "cannot drop privileges to user nobody";
  EXPECT_EQ(run.exit_code, 0);
}

TEST_F(VideoTest, OpenInputKeepsTheStreamsForACallerAndItsCap) {
  TTestVideoSpec spec;
  spec.audio_encoder = "aac";
  const std::string path = Clip("open.mp4", spec);
  AVFormatContext* context = nullptr;
  ASSERT_EQ(OpenVideoInput(path.c_str(), 5.0, &context), kLoadOk);
  ASSERT_NE(context, nullptr);
  EXPECT_EQ(context->nb_streams, 2u);
  EXPECT_FALSE(VideoInputTimedOut(context));
  AVPacket* packet = av_packet_alloc();
  ASSERT_NE(packet, nullptr);
  int packets = 0;
  while (av_read_frame(context, packet) >= 0) {
    ++packets;
    av_packet_unref(packet);
  }
  av_packet_free(&packet);
  EXPECT_GE(packets, spec.frames);
  CloseVideoInput(&context);
  EXPECT_EQ(context, nullptr);
  CloseVideoInput(&context);  // a second close is harmless
}

TEST(VideoNamesTest, AllowedDecodersAndCodeTexts) {
  const struct {
    const char* name;
    bool allowed;
  } decoders[] = {{"h264", true},  {"hevc", true},   {"vp9", true},   {"libdav1d", true}, {"mjpeg", true},
                  {"aac", true},   {"prores", false}, {"ffv1", false}, {"", false},        {nullptr, false}};
  for (const auto& d : decoders) {
    EXPECT_EQ(VideoDecoderAllowed(d.name), d.allowed) << (d.name != nullptr ? d.name : "(null)");
  }
  const int32_t codes[] = {kVideoNotVideo, kVideoNoDecoder, kVideoDamaged, kVideoOverLimits, kVideoTimedOut,
                           kVideoNoMemory, kLoadCannotOpen};
  std::vector<std::string> texts;
  for (int32_t code : codes) {
    const std::string text = VideoCodeText(code);
    EXPECT_FALSE(text.empty());
    for (const std::string& seen : texts) EXPECT_NE(text, seen) << code;
    texts.push_back(text);
  }
}

}  // namespace
