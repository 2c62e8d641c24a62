// Videos in the modern catalog: a cell with the poster thumbnail, a play mark
// and the duration; a player page in the Previous/Next chain; the three
// --video modes; damaged and empty clips; reuse on an unchanged re-run, the
// web copy and posters pruned with their video, and the clean-up.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "engine/modern/page_parts.h"
#include "engine/modern/photo_words.h"
#include "engine/store/clean.h"
#include "engine/store/generated_names.h"
#include "engine/run_helpers.h"
#include "fixtures/image_writers.h"
#include "fixtures/tree_writer.h"
#include "fixtures/video_writer.h"
#include "imagein/loader.h"

namespace {

namespace fs = std::filesystem;

#define EXPECT_HAS(text, needle) EXPECT_NE((text).find(needle), std::string::npos) << "missing: " << (needle) << "\nin:\n" << (text)
#define EXPECT_LACKS(text, needle) EXPECT_EQ((text).find(needle), std::string::npos) << "present: " << (needle) << "\nin:\n" << (text)

int Count(const std::string& text, const std::string& needle) {
  int n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

std::string Stem(const char* name) {
  char stem[32];
  NamedImageStem(name, stem, sizeof stem);
  return stem;
}

// Every file and folder below `root` with its bytes ("/" for a folder).
std::map<std::string, std::string> Listing(const std::string& root) {
  std::map<std::string, std::string> listing;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
    const std::string relative = entry.path().lexically_relative(root).string();
    listing[relative] = entry.is_directory() ? std::string("/") : ReadFileBytes(entry.path().string());
  }
  return listing;
}

constexpr int kVideos = 5;  // portrait.mp4, phone.mov, clip.webm, cut.mp4, empty.mp4

class VideoPagesTest : public TEngineTest {
 protected:
  // The clips are encoded once for the whole suite and copied into each tree.
  static void SetUpTestSuite() {
    clips_ = new TScratchDir("vc-clips");
    if (!TestVideoEncoderPresent("libx264")) return;
    std::string error;
    TTestVideoSpec portrait;
    portrait.audio_encoder = "aac";
    portrait.rotation = 90;
    portrait.creation_time = "2024-05-01T12:03:22Z";
    portrait.make = "Apple";
    portrait.model = "iPhone 12";
    TTestVideoSpec phone;  // a codec browsers do not play: HEVC where there is an encoder
    phone.muxer = "mov";
    phone.video_encoder = TestVideoEncoderPresent("libx265") ? "libx265" : "mpeg4";
    TTestVideoSpec webm;
    webm.muxer = "webm";
    webm.video_encoder = "libvpx-vp9";
    webm.audio_encoder = "libopus";
    ready_ = WriteTestVideo(clips_->Join("portrait.mp4"), portrait, &error) &&
             WriteTestVideo(clips_->Join("phone.mov"), phone, &error) &&
             WriteTestVideo(clips_->Join("clip.webm"), webm, &error);
    if (!ready_) skip_reason_ = error;
  }
  static void TearDownTestSuite() {
    delete clips_;
    clips_ = nullptr;
  }
  void SetUp() override {
    TEngineTest::SetUp();
    if (!ready_) GTEST_SKIP() << "test clips cannot be written here: " << skip_reason_;
  }

  // A folder of the three clips, a truncated MP4 (its first third), an empty
  // MP4 and a JPEG photo.
  std::string WriteTree(const std::string& name) const {
    const std::string tree = Path(name);
    EXPECT_TRUE(MakeDirs(tree));
    for (const char* clip : {"portrait.mp4", "phone.mov", "clip.webm"}) {
      EXPECT_TRUE(WriteFileBytes(tree + "/" + clip, ReadFileBytes(clips_->Join(clip))));
    }
    const std::string whole = ReadFileBytes(clips_->Join("portrait.mp4"));
    EXPECT_TRUE(WriteFileBytes(tree + "/cut.mp4", whole.substr(0, whole.size() / 3)));
    EXPECT_TRUE(WriteFileBytes(tree + "/empty.mp4", std::string()));
    EXPECT_TRUE(WriteTestJpeg(tree + "/photo.jpg", 320, 240));
    return tree;
  }

  // With pruning on, as the modern style has it by default.
  static TRunResult RunModern(const std::string& tree, TVideoMode mode) {
    return RunIndex(tree, [mode](TThreadVellumcast& worker) {
      worker.options.style = kStyleModern;
      worker.options.video = mode;
      worker.options.prune = kSwitchOn;
    });
  }

  static std::string Viewer(const std::string& tree, const char* name) {
    return ReadFileBytes(tree + "/" + ViewerPageName(name));
  }

  static TScratchDir* clips_;
  static bool ready_;
  static std::string skip_reason_;
};

TScratchDir* VideoPagesTest::clips_ = nullptr;
bool VideoPagesTest::ready_ = false;
std::string VideoPagesTest::skip_reason_;

TEST(VideoDurationTest, ReadsAsAPlayerShowsIt) {
  const std::pair<int64_t, const char*> cases[] = {
      {0, ""},          {-5, ""},          {999, "0:00"},       {7400, "0:07"},         {59999, "0:59"},
      {60000, "1:00"},  {750000, "12:30"}, {3599999, "59:59"},  {3723000, "1:02:03"}, {360000000, "100:00:00"},
  };
  for (const auto& [ms, text] : cases) EXPECT_EQ(VideoDurationText(ms), text) << ms;
}

TEST_F(VideoPagesTest, EachModeGivesItsCellsPlayersAndWarnings) {
  struct TCase {
    TVideoMode mode;
    const char* name;
    bool listed;
    bool web_copy;  // phone.mov plays from a web copy
  };
  for (const TCase& c : {TCase{kVideoLink, "link", true, false}, TCase{kVideoTranscode, "transcode", true, true},
                         TCase{kVideoOff, "off", false, false}}) {
    SCOPED_TRACE(c.name);
    const std::string tree = WriteTree(c.name);
    const TRunResult run = RunModern(tree, c.mode);
    EXPECT_EQ(run.failures, 0);
    const std::string page = ReadFileBytes(tree + "/vellumcast.html");
    EXPECT_HAS(page, "alt=\"photo.jpg\"");
    EXPECT_EQ(Count(page, "class=\"vc-video\""), c.listed ? kVideos : 0);
    EXPECT_EQ(run.videocount, c.listed ? kVideos : 0);
    EXPECT_EQ(run.filecount, c.listed ? kVideos + 1 : 1);
    if (!c.listed) {
      EXPECT_EQ(run.warning_lines, std::vector<std::string>{"videos left out " + tree + ": 5 videos left out (--video=off)"});
      EXPECT_FALSE(FileExists(tree + "/" + ViewerPageName("portrait.mp4")));
      EXPECT_FALSE(FileExists(tree + "/quarto_tn/" + Stem("portrait.mp4") + "-1x.jpg"));
      continue;
    }
    // The damaged and the empty clip: a warning naming each, a cell with the play mark and no poster,
    // a viewer with no player (no browser plays them) that links the file.
    ASSERT_EQ(run.warnings, 2) << ::testing::PrintToString(run.warning_lines);
    for (const char* broken : {"cut.mp4", "empty.mp4"}) {
      bool named = false;
      for (const std::string& line : run.warning_lines) {
        named = named || line.rfind("cannot read " + tree + "/" + broken + ": ", 0) == 0;
      }
      EXPECT_TRUE(named) << broken << " in " << ::testing::PrintToString(run.warning_lines);
      EXPECT_HAS(page, std::string("<span class=\"vc-blank\">") + broken + "</span><span class=\"vc-play\"");
      const std::string viewer = Viewer(tree, broken);
      EXPECT_LACKS(viewer, "<video");
      EXPECT_LACKS(viewer, ".vc-player video[width]{");
      EXPECT_HAS(viewer, "<p>This file cannot be shown in a browser.</p>");
      EXPECT_HAS(viewer, std::string("<a href=\"") + broken + "\">Original file</a>");
    }
    // The portrait clip: an upright poster, taller than wide, in the cell and as the player's poster.
    const std::string portrait_thumb = "quarto_tn/" + Stem("portrait.mp4") + "-1x.jpg";
    int32_t width = 0;
    int32_t height = 0;
    ASSERT_TRUE(ProbeImageSize((tree + "/" + portrait_thumb).c_str(), &width, &height));
    EXPECT_GT(height, width);
    EXPECT_HAS(page, "<img src=\"" + portrait_thumb + "\"");
    EXPECT_HAS(page, "<span class=\"vc-duration\">0:01</span>");
    const std::string portrait = Viewer(tree, "portrait.mp4");
    EXPECT_HAS(portrait, "<video controls preload=\"metadata\" poster=\"quarto_tn/" + Stem("portrait.mp4"));
    EXPECT_HAS(portrait, "<source src=\"portrait.mp4\" type=\"video/mp4\">");
    // The player's box takes the clip's shown size, not its poster's (the page's style gives it).
    EXPECT_HAS(portrait, ".vc-player video[width]{aspect-ratio:48/64;width:min(100%,48px,");
    EXPECT_HAS(portrait, "<dt>Duration</dt><dd>0:01</dd>");
    EXPECT_HAS(portrait, "<dt>Recorded</dt>");
    EXPECT_HAS(portrait, "<dt>Camera</dt><dd>Apple iPhone 12</dd>");
    EXPECT_HAS(portrait, "<a href=\"portrait.mp4\">Original file</a>");
    EXPECT_LACKS(portrait, "<p class=\"vc-note\">");
    EXPECT_HAS(Viewer(tree, "clip.webm"), "<source src=\"clip.webm\" type=\"video/webm\">");
    // Previous/Next run through photos and videos alike (natural order).
    EXPECT_HAS(Viewer(tree, "photo.jpg"), "href=\"" + ViewerPageName("portrait.mp4") + "\"");
    // The clip browsers do not play: a web copy, or a word that it may not play.
    const std::string web = "quarto_tn/" + Stem("phone.mov") + kNamedVideoSuffix;
    const std::string phone = Viewer(tree, "phone.mov");
    EXPECT_EQ(FileExists(tree + "/" + web), c.web_copy);
    EXPECT_EQ(run.transcodedcount, c.web_copy ? 1 : 0);
    if (c.web_copy) {
      EXPECT_HAS(phone, "<source src=\"" + web + "\" type=\"video/mp4\">");
      EXPECT_LACKS(phone, "<p class=\"vc-note\">");
    } else {
      EXPECT_HAS(phone, "<source src=\"phone.mov\" type=\"video/quicktime\">");
      EXPECT_HAS(phone, "<p class=\"vc-note\">");
    }
  }
}

// By date, a video sorts by when it was recorded, among the photos by when they were taken.
TEST_F(VideoPagesTest, DateOrderTakesTheRecordingDate) {
  const std::string tree = Path("dated");
  ASSERT_TRUE(MakeDirs(tree));
  std::string error;
  TTestVideoSpec june;
  june.creation_time = "2024-06-01T10:00:00Z";
  TTestVideoSpec january;
  january.creation_time = "2024-01-01T10:00:00Z";
  ASSERT_TRUE(WriteTestVideo(tree + "/a.mp4", june, &error)) << error;
  ASSERT_TRUE(WriteTestVideo(tree + "/b.mp4", january, &error)) << error;
  ASSERT_TRUE(WriteTestJpeg(tree + "/c.jpg", 64, 48));  // no EXIF date: its modification time, today
  const TRunResult run = RunIndex(tree, [](TThreadVellumcast& worker) {
    worker.options.style = kStyleModern;
    worker.options.order = kOrderDate;
  });
  EXPECT_EQ(run.warnings, 0);
  const std::string page = ReadFileBytes(tree + "/vellumcast.html");
  const size_t b = page.find("alt=\"b.mp4\"");
  const size_t a = page.find("alt=\"a.mp4\"");
  const size_t c = page.find("alt=\"c.jpg\"");
  ASSERT_NE(c, std::string::npos);
  EXPECT_LT(b, a);
  EXPECT_LT(a, c);
}

TEST_F(VideoPagesTest, UnchangedRerunDecodesAndEncodesNothingAndAModeChangeRedoesTheVideos) {
  const std::string tree = WriteTree("tree");
  const TRunResult first = RunModern(tree, kVideoTranscode);
  EXPECT_EQ(first.transcodedcount, 1);
  EXPECT_EQ(first.decodedcount, kVideos + 1);
  const auto written = Listing(tree);

  const TRunResult again = RunModern(tree, kVideoTranscode);
  EXPECT_EQ(again.decodedcount, 0);
  EXPECT_EQ(again.transcodedcount, 0);
  EXPECT_EQ(again.reusedcount, kVideos + 1);
  EXPECT_EQ(again.warnings, 2);  // the damaged clips are still named
  EXPECT_EQ(Listing(tree), written);

  // Linked as they are: the web copy goes, the photo is kept as it was.
  const TRunResult linked = RunModern(tree, kVideoLink);
  EXPECT_EQ(linked.decodedcount, kVideos);
  EXPECT_EQ(linked.transcodedcount, 0);
  EXPECT_FALSE(FileExists(tree + "/quarto_tn/" + Stem("phone.mov") + kNamedVideoSuffix));
  EXPECT_HAS(Viewer(tree, "phone.mov"), "<source src=\"phone.mov\"");
}

TEST_F(VideoPagesTest, PruneRemovesADeletedVideosPosterAndWebCopy) {
  const std::string tree = WriteTree("tree");
  RunModern(tree, kVideoTranscode);
  const std::string stem = tree + "/quarto_tn/" + Stem("phone.mov");
  ASSERT_TRUE(FileExists(stem + "-1x.jpg"));
  ASSERT_TRUE(FileExists(stem + kNamedVideoSuffix));
  ASSERT_EQ(::unlink((tree + "/phone.mov").c_str()), 0);
  const TRunResult run = RunModern(tree, kVideoTranscode);
  EXPECT_EQ(run.videocount, kVideos - 1);
  for (const char* suffix : {"-1x.jpg", "-2x.jpg", kNamedVideoSuffix}) {
    EXPECT_FALSE(FileExists(stem + suffix)) << suffix;
  }
  EXPECT_FALSE(FileExists(tree + "/" + ViewerPageName("phone.mov")));
  EXPECT_TRUE(FileExists(tree + "/quarto_tn/" + Stem("portrait.mp4") + "-1x.jpg"));
}

TEST_F(VideoPagesTest, CleanLeavesTheTreeAsItWas) {
  const std::string tree = WriteTree("tree");
  const auto before = Listing(tree);
  RunModern(tree, kVideoTranscode);
  ASSERT_TRUE(FileExists(tree + "/quarto_tn/" + Stem("phone.mov") + kNamedVideoSuffix));
  DeleteGenerated(tree.c_str());
  EXPECT_EQ(Listing(tree), before);
}

}  // namespace
