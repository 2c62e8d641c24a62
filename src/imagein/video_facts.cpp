// A video's facts from its container and video stream: shown size and turn,
// duration, codecs, what a browser plays, the recording date and the camera.

#include <strings.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <utility>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
}

#include "imagein/load_codes.h"
#include "imagein/video.h"
#include "imagein/video_parts.h"
#include "support/utf8.h"

namespace {

// Clockwise degrees that make the stream's frames upright, from its display matrix.
int StreamRotation(const AVStream* stream) {
  size_t size = 0;
  const uint8_t* data = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
  if (data == nullptr || size < 9 * sizeof(int32_t)) return 0;
  const double counterclockwise = av_display_rotation_get(reinterpret_cast<const int32_t*>(data));
  if (!std::isfinite(counterclockwise)) return 0;
  long quarter = std::lround(-counterclockwise / 90.0) % 4;
  if (quarter < 0) quarter += 4;
  return static_cast<int>(quarter * 90);
}

}  // namespace

bool VideoShownSize(int32_t coded_width, int32_t coded_height, AVRational aspect, int rotation, int32_t* width,
                    int32_t* height) {
  if (coded_width <= 0 || coded_height <= 0) return false;
  int64_t shown_width = coded_width;
  if (aspect.num > 0 && aspect.den > 0 && aspect.num != aspect.den) {
    const int64_t scaled = (int64_t{coded_width} * aspect.num + aspect.den / 2) / aspect.den;
    // An absurd aspect (over 16:1 either way) is taken as square pixels.
    if (scaled >= 1 && scaled <= int64_t{coded_width} * 16 && scaled * 16 >= coded_width) shown_width = scaled;
  }
  if (shown_width > INT32_MAX) return false;
  *width = static_cast<int32_t>(shown_width);
  *height = coded_height;
  if (rotation == 90 || rotation == 270) std::swap(*width, *height);
  return true;
}

namespace {

const char* Tag(const AVDictionary* metadata, const char* key) {
  const AVDictionaryEntry* entry = av_dict_get(metadata, key, nullptr, 0);
  return entry == nullptr ? nullptr : entry->value;
}

// A tag from the container or, failing that, the video stream.
const char* ClipTag(const AVFormatContext* context, const AVStream* video, const char* key) {
  const char* value = Tag(context->metadata, key);
  if ((value == nullptr || *value == '\0') && video != nullptr) value = Tag(video->metadata, key);
  return value != nullptr && *value != '\0' ? value : nullptr;
}

// "YYYY-MM-DD HH:MM:SS" from the start of "YYYY-MM-DDTHH:MM:SS..." (or a space
// between the parts), as written; empty when it does not start so, or is a zero date.
std::string DateTimeText(const char* value) {
  if (value == nullptr) return {};
  const char* pattern = "dddd-dd-ddXdd:dd:dd";
  std::string out;
  for (size_t i = 0; pattern[i] != '\0'; ++i) {
    const char c = value[i];
    if (pattern[i] == 'd') {
      if (c < '0' || c > '9') return {};
      out += c;
    } else if (pattern[i] == 'X') {
      if (c != 'T' && c != ' ') return {};
      out += ' ';
    } else {
      if (c != pattern[i]) return {};
      out += c;
    }
  }
  const int month = std::atoi(out.substr(5, 2).c_str());
  const int day = std::atoi(out.substr(8, 2).c_str());
  if (month < 1 || month > 12 || day < 1 || day > 31) return {};
  if (out.compare(0, 4, "1904") == 0 || out == "1970-01-01 00:00:00" || out.compare(0, 4, "0000") == 0) return {};
  return out;
}

// A tag's text for a page: valid UTF-8 only (stops at the first bad sequence
// or control character), spaces trimmed, at most 64 bytes.
std::string CleanTagText(const char* value) {
  std::string out;
  if (value == nullptr) return out;
  const auto* text = reinterpret_cast<const unsigned char*>(value);
  size_t length = std::strlen(value);
  size_t at = 0;
  while (at < length) {
    uint32_t code_point = 0;
    const size_t taken = DecodeUtf8Sequence(text + at, length - at, &code_point);
    if (taken == 0 || code_point < 0x20 || code_point == 0x7f) break;
    if (out.size() + taken > 64) break;
    out.append(value + at, taken);
    at += taken;
  }
  const size_t first = out.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  const size_t last = out.find_last_not_of(' ');
  return out.substr(first, last - first + 1);
}

std::string CameraText(const AVFormatContext* context, const AVStream* video) {
  static const char* const kPairs[][2] = {{"com.apple.quicktime.make", "com.apple.quicktime.model"},
                                          {"com.android.manufacturer", "com.android.model"},
                                          {"make", "model"}};
  for (const auto& pair : kPairs) {
    const std::string make = CleanTagText(ClipTag(context, video, pair[0]));
    const std::string model = CleanTagText(ClipTag(context, video, pair[1]));
    if (make.empty() && model.empty()) continue;
    if (make.empty()) return model;
    if (model.empty()) return make;
    // "Canon" + "Canon EOS R6" reads "Canon EOS R6".
    if (model.size() >= make.size() && strncasecmp(model.c_str(), make.c_str(), make.size()) == 0) return model;
    return make + " " + model;
  }
  return {};
}

std::string MajorBrand(const AVFormatContext* context) {
  const char* brand = Tag(context->metadata, "major_brand");
  return brand == nullptr ? std::string() : std::string(brand);
}

bool IsOneOf(const std::string& name, std::initializer_list<const char*> names) {
  for (const char* candidate : names) {
    if (name == candidate) return true;
  }
  return false;
}

void FillContainerFacts(AVFormatContext* context, TVideoFacts* facts) {
  const std::string demuxer = context->iformat != nullptr ? context->iformat->name : "";
  facts->container = demuxer;
  bool mp4 = false;
  bool webm = false;
  if (demuxer.rfind("mov", 0) == 0) {
    const std::string brand = MajorBrand(context);
    if (brand.rfind("qt", 0) == 0) {
      facts->mime_type = "video/quicktime";
    } else if (brand.rfind("3g2", 0) == 0) {
      facts->mime_type = "video/3gpp2";
    } else if (brand.rfind("3g", 0) == 0) {
      facts->mime_type = "video/3gpp";
    } else {
      facts->mime_type = "video/mp4";
      mp4 = true;
    }
  } else if (demuxer.rfind("matroska", 0) == 0) {
    webm = VideoInputWebm(context);
    facts->mime_type = webm ? "video/webm" : "video/x-matroska";
  } else if (demuxer == "avi") {
    facts->mime_type = "video/x-msvideo";
  } else if (demuxer == "mpegts") {
    facts->mime_type = "video/mp2t";
  }
  const std::string& video = facts->video_codec;
  const std::string& audio = facts->audio_codec;
  if (mp4) {
    facts->browser_playable = IsOneOf(video, {"h264", "av1"}) && (audio.empty() || IsOneOf(audio, {"aac", "opus", "mp3"}));
  } else if (webm) {
    facts->browser_playable = IsOneOf(video, {"vp8", "vp9", "av1"}) && (audio.empty() || IsOneOf(audio, {"opus", "vorbis"}));
  }
}

}  // namespace

void FillVideoFacts(AVFormatContext* context, int video_index, TVideoFacts* facts) {
  const AVStream* video = context->streams[video_index];
  const AVCodecParameters* parameters = video->codecpar;
  facts->coded_width = parameters->width;
  facts->coded_height = parameters->height;
  facts->rotation = StreamRotation(video);
  const AVRational aspect = av_guess_sample_aspect_ratio(context, const_cast<AVStream*>(video), nullptr);
  if (!VideoShownSize(parameters->width, parameters->height, aspect, facts->rotation, &facts->width, &facts->height)) {
    facts->width = facts->height = 0;
  }
  if (video->duration != AV_NOPTS_VALUE && video->duration > 0 && video->time_base.den > 0) {
    facts->duration_ms = av_rescale_q(video->duration, video->time_base, AVRational{1, 1000});
  } else if (context->duration != AV_NOPTS_VALUE && context->duration > 0) {
    facts->duration_ms = av_rescale(context->duration, 1000, AV_TIME_BASE);
  }
  facts->video_codec = avcodec_get_name(parameters->codec_id);
  const int audio_index = av_find_best_stream(context, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  if (audio_index >= 0) facts->audio_codec = avcodec_get_name(context->streams[audio_index]->codecpar->codec_id);
  FillContainerFacts(context, facts);
  facts->date_recorded = DateTimeText(ClipTag(context, video, "com.apple.quicktime.creationdate"));
  if (facts->date_recorded.empty()) facts->date_recorded = DateTimeText(ClipTag(context, video, "creation_time"));
  facts->camera = CameraText(context, video);
}

int32_t ReadVideoFacts(const char* path, TVideoFacts* facts) {
  if (facts == nullptr) return kLoadCannotOpen;
  *facts = TVideoFacts{};
  AVFormatContext* context = nullptr;
  const int32_t code = OpenVideoInput(path, TVideoLimits{}.max_cpu_seconds, &context);
  if (code != kLoadOk) return code;
  FillVideoFacts(context, FindVideoStream(context), facts);
  CloseVideoInput(&context);
  return kLoadOk;
}

