#include "engine/modern/viewer.h"

#include <utility>

#include "engine/modern/html.h"
#include "engine/modern/photo_words.h"
#include "engine/run/index_run.h"
#include "imagein/format_table.h"
#include "imagein/video.h"
#include "support/path_util.h"

namespace {

// The photo fitted to the window: its web copy when one was made, else the
// original when a browser shows it; false when neither.
TThemeView PhotoView(const TModernFolder& folder, const TModernViewerImage& image) {
  const TModernImageResult& result = *image.result;
  const TImageFacts& facts = result.facts;
  std::string src;
  TThemeView photo;
  if (image.produced && !result.web_copy.empty()) {
    AppendModernUrlPath(src, result.web_copy.c_str());
    SetImageSize(photo, result.web_width, result.web_height);
  } else if (BrowserShowsPath(image.name)) {
    AppendModernOriginal(src, folder, image.name);
    SetImageSize(photo, facts.width, facts.height);
  } else {
    return TThemeView(false);
  }
  photo.set("src", src);
  return photo;
}

// The words of the photo: heading (its title, else the file name),
// file_name (the name under a title, or false), caption (HTML, or false),
// keywords ({words: {word} list}, or false), rating ({stars, spoken}, or false), lens
// and, when the run shows places, place ({latitude, longitude, href}, or
// false).
void SetPhotoWords(const TModernFolder& folder, const char* name, const TPhotoText& text, TThemeView& view) {
  view.set("heading", text.title.empty() ? std::string(name) : text.title);
  view.set("file_name", text.title.empty() ? TThemeView(false) : TThemeView(std::string(name)));
  view.set("caption", OptionalText(PhotoCaptionHtml(text)));
  if (text.keywords.empty()) {
    view.set("keywords", false);
  } else {
    TThemeView words(TThemeView::type::list);
    for (const std::string& keyword : text.keywords) {
      TThemeView word;
      word.set("word", keyword);
      words.push_back(word);
    }
    TThemeView keywords;
    keywords.set("words", words);
    view.set("keywords", keywords);
  }
  std::string stars;
  std::string spoken;
  if (PhotoRating(text.rating, &stars, &spoken)) {
    TThemeView rating;
    rating.set("stars", stars);
    rating.set("spoken", spoken);
    view.set("rating", rating);
  } else {
    view.set("rating", false);
  }
  view.set("lens", OptionalText(text.lens));
  if (folder.run->options.showlocation && text.has_location) {
    TThemeView place;
    place.set("latitude", CoordinateText(text.latitude));
    place.set("longitude", CoordinateText(text.longitude));
    place.set("href", MapAddress(text.latitude, text.longitude));
    view.set("place", place);
  } else {
    view.set("place", false);
  }
}

// A video's player: {src (its web copy when there is one, else the
// original), type (or false), poster (its largest poster thumbnail, or
// false), sized, width, height, unplayable (browsers may not play what src
// names), original}.
TThemeView VideoView(const TModernFolder& folder, const TModernViewerImage& image) {
  const TModernImageResult& result = *image.result;
  const TModernVideo& video = result.video;
  TThemeView player;
  std::string src;
  std::string type;
  if (!video.web_copy.empty()) {
    AppendModernUrlPath(src, video.web_copy.c_str());
    type = "video/mp4";
  } else {
    AppendModernOriginal(src, folder, image.name);
    type = video.mime_type;
  }
  player.set("src", src);
  player.set("type", OptionalText(type));
  std::string poster;
  const std::string& largest = !result.thumb_2x.empty() ? result.thumb_2x : result.thumb_1x;
  if (image.produced && !largest.empty()) AppendModernUrlPath(poster, largest.c_str());
  player.set("poster", OptionalText(poster));
  SetImageSize(player, result.facts.width, result.facts.height);
  player.set("unplayable", video.web_copy.empty() && !video.playable);
  std::string original;
  AppendModernOriginal(original, folder, image.name);
  player.set("original", original);
  return player;
}

std::string ViewerUrl(const char* name) {
  std::string url;
  if (name != nullptr) AppendModernUrl(url, ViewerPageName(name).c_str());
  return url;
}

}  // namespace

// Values of the viewer page (besides those of ModernPageView): name,
// folder (its name), back (the folder page), prev and next (or false),
// position (1-based) and count, photo {src, sized, width, height} (or
// false), size {width, height} (or false), taken, camera and exposure (or
// false), the photo's words (SetPhotoWords) and original (the original's URL).
TThemeView ModernViewerView(const TModernFolder& folder, const TModernViewerImage& image) {
  const std::string title = ModernTitle(folder, std::string(image.name) + " \xE2\x80\x93 " + folder.name);
  TThemeView view = ModernPageView(folder, title, nullptr, "vc-viewer");
  view.set("name", image.name);
  view.set("folder", folder.name);
  std::string back;
  AppendModernUrl(back, image.folder_page.c_str());
  view.set("back", back);
  view.set("prev", OptionalText(ViewerUrl(image.previous)));
  view.set("next", OptionalText(ViewerUrl(image.next)));
  view.set("position", std::to_string(image.position + 1));
  view.set("count", std::to_string(image.count));
  const TImageFacts& facts = image.result->facts;
  // A video: video (VideoView), duration and recorded (or false); photo and taken false.
  // A file that holds no video or whose frames do not decode gets no player
  // (no browser plays it either): the page says it cannot be shown.
  const TModernVideo& clip = image.result->video;
  const bool video = clip.is_video;
  const bool player = video && clip.code != kVideoNotVideo && clip.code != kVideoDamaged;
  view.set("photo", video ? TThemeView(false) : PhotoView(folder, image));
  view.set("video", player ? VideoView(folder, image) : TThemeView(false));
  view.set("duration", OptionalText(video ? VideoDurationText(image.result->video.duration_ms) : std::string()));
  view.set("recorded", OptionalText(video ? facts.date_taken : std::string()));
  if (facts.width > 0 && facts.height > 0) {
    TThemeView size;
    size.set("width", std::to_string(facts.width));
    size.set("height", std::to_string(facts.height));
    view.set("size", std::move(size));
  } else {
    view.set("size", false);
  }
  SetPhotoWords(folder, image.name, facts.text, view);
  // A date a sidecar gives is the one the photographer meant.
  view.set("taken", OptionalText(video ? std::string()
                                       : facts.text.date_taken.empty() ? facts.date_taken : facts.text.date_taken));
  view.set("camera", OptionalText(facts.camera));
  view.set("exposure", OptionalText(facts.exposure));
  std::string original;
  AppendModernOriginal(original, folder, image.name);
  view.set("original", original);
  return view;
}
