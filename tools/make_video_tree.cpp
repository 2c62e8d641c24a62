// Writes a small tree of videos beside a photo, for a look at a modern
// catalog's video cells and players in a browser:
//
//   FOLDER/
//     portrait.mp4   H.264 + AAC in MP4, turned 90 degrees (shown taller than
//                    wide), recording date and camera (Apple iPhone 12), 3 s
//     phone.mov      HEVC in MOV (browsers do not play it: a web copy is made
//                    with --video=transcode), with dark opening frames
//     clip.webm      VP9 + Opus in WebM, 2 s
//     cut.mp4        the first third of portrait.mp4: truncated
//     empty.mp4      no bytes
//     photo.jpg      a JPEG photo, 640 x 480
//
// A clip whose encoder this FFmpeg lacks is left out with a note (HEVC falls
// back to MPEG-4 Part 2 in MOV, which browsers do not play either).
//
// Usage: make-video-tree FOLDER

#include <cstdio>
#include <string>

#include "fixtures/image_writers.h"
#include "fixtures/tree_writer.h"
#include "fixtures/video_writer.h"

namespace {

bool WriteClip(const std::string& path, const TTestVideoSpec& spec) {
  std::string error;
  if (WriteTestVideo(path, spec, &error)) return true;
  std::fprintf(stderr, "make-video-tree: %s left out: %s\n", path.c_str(), error.c_str());
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make-video-tree FOLDER\n");
    return 2;
  }
  const std::string root = argv[1];
  if (!MakeDirs(root)) {
    std::fprintf(stderr, "make-video-tree: cannot make %s\n", root.c_str());
    return 1;
  }
  TTestVideoSpec portrait;
  portrait.width = 320;
  portrait.height = 180;
  portrait.frames = 90;
  portrait.audio_encoder = "aac";
  portrait.rotation = 90;
  portrait.creation_time = "2024-05-01T12:03:22Z";
  portrait.make = "Apple";
  portrait.model = "iPhone 12";
  const bool have_portrait = WriteClip(root + "/portrait.mp4", portrait);

  TTestVideoSpec phone;
  phone.muxer = "mov";
  phone.video_encoder = TestVideoEncoderPresent("libx265") ? "libx265" : "mpeg4";
  phone.audio_encoder = "aac";
  phone.width = 320;
  phone.height = 240;
  phone.frames = 60;
  phone.dark_frames = 10;
  WriteClip(root + "/phone.mov", phone);

  TTestVideoSpec webm;
  webm.muxer = "webm";
  webm.video_encoder = "libvpx-vp9";
  webm.audio_encoder = "libopus";
  webm.width = 256;
  webm.height = 144;
  webm.frames = 60;
  WriteClip(root + "/clip.webm", webm);

  if (have_portrait) {
    const std::string whole = ReadFileBytes(root + "/portrait.mp4");
    WriteFileBytes(root + "/cut.mp4", whole.substr(0, whole.size() / 3));
  }
  const bool ok = WriteFileBytes(root + "/empty.mp4", std::string()) && WriteTestJpeg(root + "/photo.jpg", 640, 480);
  if (!ok) {
    std::fprintf(stderr, "make-video-tree: cannot write into %s\n", root.c_str());
    return 1;
  }
  return 0;
}
