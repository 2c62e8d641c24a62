#include "engine/modern/page_writer.h"

#include <sys/stat.h>

#include <cerrno>
#include <ctime>

#include <algorithm>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "engine/store/first_page.h"
#include "engine/store/generated_names.h"
#include "engine/run/image_order.h"
#include "engine/store/leftovers.h"
#include "engine/store/prune.h"
#include "engine/run/run_report.h"
#include "engine/modern/html.h"
#include "engine/modern/photo_words.h"
#include "engine/modern/images.h"
#include "engine/modern/markdown.h"
#include "engine/modern/page_parts.h"
#include "engine/modern/template.h"
#include "engine/modern/theme.h"
#include "engine/modern/viewer.h"
#include "engine/store/page_output.h"
#include "engine/run/walk.h"
#include "imagein/format_table.h"
#include "imagein/video.h"
#include "support/path_util.h"

namespace {

struct TCard {
  const char* name;
  std::string title;  // the subfolder's album title, or empty
  int32_t count;
  std::string first;  // the subfolder's first page
  TModernCover cover;
  bool has_cover;
};

// The breadcrumb from the top folder down to this one, as a list of
// {label, href}: each ancestor's album title, else its name. Ancestors are
// linked (href) only with hierarchy links on, since only then is each of
// them sure to have a page; href is false else. `labels` receives the
// labels, the top folder's first.
TThemeView CrumbsView(const TModernFolder& folder, const TModernAlbum& album, std::vector<std::string>* labels) {
  std::vector<std::string> paths;  // ancestors, nearest first
  std::string path = folder.folder;
  for (int32_t k = 0; k < folder.depth; ++k) {
    while (path.size() > 1 && path.back() == kPathSeparator) path.pop_back();
    const size_t slash = path.rfind(kPathSeparator);
    if (slash == std::string::npos) break;
    path.resize(slash == 0 ? 1 : slash);
    paths.push_back(path);
  }
  TThemeView crumbs(TThemeView::type::list);
  const int32_t levels = static_cast<int32_t>(paths.size());
  for (int32_t k = levels; k >= 1; --k) {
    const std::string& ancestor = paths[static_cast<size_t>(k - 1)];
    TThemeView crumb;
    const size_t nearest = static_cast<size_t>(k - 1);
    const bool titled = nearest < album.ancestor_titles.size() && !album.ancestor_titles[nearest].empty();
    labels->push_back(titled ? album.ancestor_titles[nearest] : FolderDisplayName(ancestor.c_str(), folder.depth - k));
    crumb.set("label", labels->back());
    if (folder.run->options.hlinks != 0) {
      std::string href;
      for (int32_t up = 0; up < k; ++up) href += "../";
      AppendModernUrl(href, ChooseFirstPage(*folder.run, ancestor.c_str(), false));
      crumb.set("href", href);
    } else {
      crumb.set("href", false);
    }
    crumbs.push_back(std::move(crumb));
  }
  return crumbs;
}

// The URL of the folder from the top folder's pages: its last `depth` path
// components, each encoded, each followed by '/'; empty for the top folder.
std::string FolderUrlFromTop(const TModernFolder& folder) {
  std::vector<std::string> names;  // nearest first
  std::string path = folder.folder;
  for (int32_t k = 0; k < folder.depth; ++k) {
    while (path.size() > 1 && path.back() == kPathSeparator) path.pop_back();
    const size_t slash = path.rfind(kPathSeparator);
    names.push_back(path.substr(slash == std::string::npos ? 0 : slash + 1));
    if (slash == std::string::npos) break;
    path.resize(slash);
  }
  std::string url;
  for (auto name = names.rbegin(); name != names.rend(); ++name) {
    AppendModernUrl(url, name->c_str());
    url += '/';
  }
  return url;
}

// The day the photo was taken ("YYYY-MM-DD"): from its texts, else its
// EXIF facts, else the file's modification time (UTC); empty when unknown.
std::string PhotoDay(const TModernFolder& folder, const char* name, const TImageFacts& facts) {
  std::string day = !facts.text.date_taken.empty() ? facts.text.date_taken : facts.date_taken;
  if (day.size() >= 10) {
    day.resize(10);
    if (day[4] == ':') day[4] = '-';
    if (day[7] == ':') day[7] = '-';
    return day;
  }
  char path[kPathBufferSize];
  const char* source = folder.place != nullptr ? folder.place->source : folder.folder;
  struct stat info;
  struct tm when;
  char text[16];
  if (!PathJoin(path, sizeof path, kMaxPath, source, name) || ::stat(path, &info) != 0 ||
      gmtime_r(&info.st_mtime, &when) == nullptr || std::strftime(text, sizeof text, "%Y-%m-%d", &when) != 10) {
    return std::string();
  }
  return text;
}

// {prev, page, pages, next} (prev and next: page URLs, or false), or false
// for a folder of one page.
TThemeView PagerView(const TModernFolder& folder, int32_t page, int32_t pages) {
  if (pages <= 1) return TThemeView(false);
  TThemeView pager;
  std::string url;
  if (page > 0) AppendModernUrl(url, ModernPageName(folder, page - 1).c_str());
  pager.set("prev", OptionalText(url));
  url.clear();
  if (page + 1 < pages) AppendModernUrl(url, ModernPageName(folder, page + 1).c_str());
  pager.set("next", OptionalText(url));
  pager.set("page", std::to_string(page + 1));
  pager.set("pages", std::to_string(pages));
  return pager;
}

// The subfolder cards: {href, name, count, one (count is 1), cover} with
// cover {src, sized, width, height} or false.
TThemeView CardsView(const std::vector<TCard>& cards) {
  TThemeView list(TThemeView::type::list);
  for (const TCard& card : cards) {
    TThemeView view;
    std::string href;
    AppendModernUrl(href, card.name);
    href += '/';
    AppendModernUrl(href, card.first.c_str());
    view.set("href", href);
    view.set("name", card.title.empty() ? std::string(card.name) : card.title);
    view.set("count", std::to_string(card.count));
    view.set("one", card.count == 1);
    if (card.has_cover) {
      TThemeView cover;
      std::string src;
      AppendModernUrl(src, card.name);
      src += '/';
      AppendModernUrlPath(src, card.cover.url.c_str());
      cover.set("src", src);
      SetImageSize(cover, card.cover.width, card.cover.height);
      view.set("cover", std::move(cover));
    } else {
      view.set("cover", false);
    }
    list.push_back(std::move(view));
  }
  return list;
}

// A video's warnings: its poster could not be read (the cell shows the play
// mark alone), or its web copy could not be made (the page plays the original).
void ReportVideo(TIndexRun& run, const TFolderPlace& place, const char* name, const TModernVideo& video) {
  if (video.code == 0 && (video.web_failure.empty() || run.Terminated())) return;
  char path[kPathBufferSize];
  if (!PathJoin(path, sizeof path, kMaxPath, place.source, name)) return;
  if (video.code != 0) {
    run.report.AddWarning(TRunWarning::kUnreadable, path, 0, VideoCodeText(video.code));
  } else {
    run.report.AddWarning(TRunWarning::kUnreadable, path, 0, ("no web copy: " + video.web_failure).c_str());
  }
}

enum class TCellImage : uint8_t { kNone, kThumbnail, kOriginal };

// What a cell of the image shows and its URL from the folder's pages: the
// thumbnail when it was made, else the original when a browser shows it.
TCellImage CellImage(const TModernFolder& folder, const char* name, const TModernImageResult& result, bool produced,
                     std::string* url) {
  if (produced && !result.thumb_1x.empty()) {
    AppendModernUrlPath(*url, result.thumb_1x.c_str());
    return TCellImage::kThumbnail;
  }
  if (BrowserShowsPath(name)) {
    AppendModernOriginal(*url, folder, name);
    return TCellImage::kOriginal;
  }
  return TCellImage::kNone;
}

// What a cell and a search result show under the thumbnail: the photo's
// title or caption's first line, unless the run keeps file names; empty: the
// file name.
std::string CellLabel(const TIndexRun& run, const TPhotoText& text) {
  return run.options.captions != kCaptionsName ? PhotoCellLabel(text) : std::string();
}

// One grid cell: {href (its viewer page), name, caption (file names shown),
// image}. image is {src, src_2x (or false), sized, width, height}: the
// thumbnail when it was made, else the original when a browser shows it
// (sized as the cell when its size is unknown); false else.
TThemeView CellView(const TModernFolder& folder, const char* name, const TModernImageResult& result,
                    bool produced) {
  const TIndexRun& run = *folder.run;
  TThemeView cell;
  std::string url;
  AppendModernUrl(url, ViewerPageName(name).c_str());
  cell.set("href", url);
  cell.set("name", name);
  const std::string label = CellLabel(run, result.facts.text);
  cell.set("label", label.empty() ? std::string(name) : label);
  cell.set("full", OptionalText(label));
  cell.set("caption", run.options.includefilenames != 0 || !label.empty());
  // A video: {duration ("1:02", or false)}, shown over its poster with a play mark; false for a photo.
  if (result.video.is_video) {
    TThemeView video;
    video.set("duration", OptionalText(VideoDurationText(result.video.duration_ms)));
    cell.set("video", std::move(video));
  } else {
    cell.set("video", false);
  }
  TThemeView image;
  url.clear();
  const TCellImage shown = CellImage(folder, name, result, produced, &url);
  if (shown == TCellImage::kThumbnail) {
    std::string url_2x;
    if (!result.thumb_2x.empty()) AppendModernUrlPath(url_2x, result.thumb_2x.c_str());
    image.set("src_2x", OptionalText(url_2x));
    SetImageSize(image, result.thumb_width, result.thumb_height);
  } else if (shown == TCellImage::kOriginal) {
    image.set("src_2x", false);
    if (result.facts.width > 0 && result.facts.height > 0) {
      SetImageSize(image, result.facts.width, result.facts.height);
    } else {
      SetImageSize(image, run.options.cellwidth, run.options.cellheight);
    }
  } else {
    cell.set("image", false);
    return cell;
  }
  image.set("src", url);
  cell.set("image", std::move(image));
  return cell;
}

bool WriteBackLinkPage(TFolderOutput& output, const TModernFolder& folder, bool to_parent) {
  std::string url;
  if (to_parent) {
    url = "../";
    url += kBackLinkPageFile;
  } else {
    AppendModernUrl(url, folder.first);
  }
  TThemeView view;
  view.set("refresh", url);
  std::string href;
  AppendModernUrl(href, folder.first);
  view.set("href", href);
  view.set("name", folder.name);
  return WriteModernPage(output, folder, TPageKind::kBackLink, TThemePage::kBackLink, kBackLinkPageFile, std::move(view));
}

// The position of the album's chosen cover among `names`, or -1 (with a
// warning when the album names one that is not an image of the folder).
int32_t AlbumCoverPosition(TIndexRun& run, const TFolderPlace& place, const TAlbumText& album,
                           const std::vector<const char*>& names) {
  if (album.cover.empty()) return -1;
  for (size_t k = 0; k < names.size(); ++k) {
    if (album.cover == names[k]) return static_cast<int32_t>(k);
  }
  char path[kPathBufferSize];
  if (!PathJoin(path, sizeof path, kMaxPath, place.source, "index.md")) path[0] = '\0';
  run.report.AddWarning(TRunWarning::kAlbumText, path, 0, "Thumbnail: names no image of the folder");
  return -1;
}

}  // namespace

void WriteModernFolderPages(TIndexRun& run, TModernTheme& theme, TModernCovers& covers, TSearchIndex& search,
                            const TModernAlbum& album, int32_t depth, const TFolderPlace& place, const char* first, TStringManager& subfolders,
                            TStringManager& images) {
  const char* folder = place.output;  // where everything of this folder is written
  const int64_t image_total = images.TotalEntries();
  const bool redirect = subfolders.TotalEntries() == 1 && image_total == 0;
  TFolderOutput output(run, folder);
  if (image_total == 0 && (subfolders.TotalEntries() == 0 || run.options.hlinks == 0)) {
    if (run.options.prune != 0 && !run.Terminated()) {
      output.PruneUnwritten();
      PruneModernFiles(folder, nullptr, 0);
    }
    return;
  }
  RemoveLeftoverTemporaries(folder, place.leftovers);

  TModernFolder context;
  context.run = &run;
  context.depth = depth;
  context.folder = folder;
  context.place = &place;
  context.first = first;
  context.name = album.text.title.empty() ? FolderDisplayName(place.source, depth) : album.text.title;
  context.theme = &theme;
  ReadModernHeaderTemplate(run.options.headertemplate.c_str(), &context.head_extra, &context.body_top);
  ReadModernFooterTemplate(run.options.footertemplate.c_str(), &context.body_end);

  // Subfolder cards in hierarchy order, each with its cover taken out once.
  std::vector<TCard> cards;
  char child_path[kPathBufferSize];
  for (const TStrEntry* e = subfolders.SortedWalk(run.options.sort, CompareSubfolders); e != nullptr; e = e->walk) {
    if (e->count <= 0) continue;
    TCard card{e->name, std::string(), e->count, SubfolderFirstPage(run, folder, e->name), {}, false};
    const bool joined = PathJoin(child_path, sizeof child_path, kMaxPath, folder, e->name);
    if (joined) card.title = covers.TakeTitle(child_path);
    // A subfolder whose page could not be written is not linked.
    if (!SubfolderPageExists(folder, e->name, card.first.c_str())) continue;
    if (joined) card.has_cover = covers.Take(child_path, &card.cover);
    cards.push_back(std::move(card));
  }

  std::vector<const char*> names;
  names.reserve(static_cast<size_t>(image_total));
  for (const TStrEntry* e = SortedImageWalk(images, AlbumImageOrder(album.text, run.options.order)); e != nullptr;
       e = e->walk) {
    names.push_back(e->name);
  }
  if (album.text.reverse) std::reverse(names.begin(), names.end());
  const int32_t chosen_cover = AlbumCoverPosition(run, place, album.text, names);
  const std::string description = MarkdownToHtml(album.text.description);
  const int32_t count = static_cast<int32_t>(names.size());
  const int64_t per_page = run.options.rowsperpage > 0 && run.options.cellsperrow > 0
                               ? static_cast<int64_t>(run.options.rowsperpage) * run.options.cellsperrow
                               : std::max<int64_t>(count, 1);
  const int32_t pages = count == 0 ? 1 : static_cast<int32_t>((count + per_page - 1) / per_page);

  TModernImageOptions options;
  options.cellwidth = run.options.cellwidth;
  options.cellheight = run.options.cellheight;
  options.crop = run.options.crop;
  options.rebuild = run.options.rebuild;
  options.decodes = &run.counters.decodedcount;
  options.reuses = &run.counters.reusedcount;
  options.video_mode = run.options.video;
  options.stop = &run.StopFlag();
  options.transcodes = &run.counters.transcodedcount;
  options.video_progress = &run.counters.videoprogress;
  TModernFolderImages produced_images(place.source, folder, names.data(), count, options);

  TModernCover own_cover;
  bool has_cover = false;
  const bool refresh = run.options.hlinks != 0 && redirect && !cards.empty();
  int32_t position = 0;
  std::vector<std::string> crumb_labels;
  const TThemeView crumbs = CrumbsView(context, album, &crumb_labels);
  // The albums a photo of this folder is in, below the top folder.
  std::string album_path;
  for (size_t k = 1; k < crumb_labels.size(); ++k) album_path += crumb_labels[k] + " / ";
  if (depth > 0) album_path += context.name;
  const std::string folder_url = FolderUrlFromTop(context);
  const TThemeView card_list = CardsView(cards);
  for (int32_t page = 0; page < pages; ++page) {
    std::string title = context.name;
    if (pages > 1) title += ", page " + std::to_string(page + 1) + " of " + std::to_string(pages);
    std::string refresh_url;
    if (refresh && page == 0) {
      AppendModernUrl(refresh_url, cards.front().name);
      refresh_url += '/';
      AppendModernUrl(refresh_url, cards.front().first.c_str());
    }
    // Values of a folder page (besides those of ModernPageView): body_top
    // (the header template's markup), site (the catalog title when no
    // header template is given, or false), crumbs, name, pager, folders
    // (the subfolder cards are shown), cards, grid (the page has images), videos (some are videos)
    // and cells.
    TThemeView view = ModernPageView(context, ModernTitle(context, title),
                                     refresh && page == 0 ? &refresh_url : nullptr, nullptr);
    view.set("body_top", context.body_top);
    view.set("site", run.options.headertemplate.empty() ? OptionalText(run.options.title) : TThemeView(false));
    view.set("crumbs", crumbs);
    view.set("name", context.name);
    view.set("description", page == 0 ? TThemeView(OptionalText(description)) : TThemeView(false));
    view.set("pager", PagerView(context, page, pages));
    const bool hierarchy = (page == 0 || run.options.dirfirstpageonly == 0) && run.options.hlinks != 0 && !cards.empty();
    view.set("folders", hierarchy);
    view.set("cards", hierarchy ? card_list : TThemeView(TThemeView::type::list));
    // The top page: the search box and the index it loads.
    if (depth == 0 && page == 0) {
      TThemeView box;
      box.set("src", std::string(kSearchIndexFile));
      view.set("search", box);
    } else {
      view.set("search", false);
    }

    const std::string page_name = ModernPageName(context, page);
    // As in the classic style: a page that cannot be written ends the folder.
    if (!output.Open(TPageKind::kModernFolder, page_name.c_str())) return;
    int32_t page_cells = 0;  // counted once the page is in place
    const int32_t end = static_cast<int32_t>(std::min<int64_t>(count, position + per_page));
    view.set("grid", position < end);
    TThemeView cells(TThemeView::type::list);
    bool page_videos = false;  // the page shows a video: the theme adds its cells' marks
    for (; position < end; ++position) {
      TModernImageResult result;
      bool made = produced_images.Take(position, &result);
      const char* name = names[static_cast<size_t>(position)];
      if (result.video.is_video) {
        ++run.counters.videocount;
        ReportVideo(run, place, name, result.video);
        made = !result.thumb_1x.empty();  // its poster thumbnails, whether or not they were recorded
      }
      if (!result.failure.path.empty()) {
        run.report.AddFailure(TRunFailure::kThumbnail, result.failure.path.c_str(), result.failure.error,
                             result.failure.reason);
      } else if (!made && !result.video.is_video) {
        // An image that could not be decoded (refused for its size among
        // them) is a warning, as in the classic style; the page shows the original.
        char image_path[kPathBufferSize];
        if (PathJoin(image_path, sizeof image_path, kMaxPath, place.source, name)) {
          run.report.AddWarning(TRunWarning::kUnreadable, image_path, 0, "not a readable image");
        }
      }
      for (const TPhotoTextWarning& warning : result.text_warnings) {
        run.report.AddWarning(TRunWarning::kPhotoText, warning.path.c_str(), 0, warning.reason.c_str());
      }
      cells.push_back(CellView(context, name, result, made));
      page_videos = page_videos || result.video.is_video;
      // The album's chosen cover replaces the first image's.
      if (!has_cover || position == chosen_cover) {
        if (made && !result.thumb_1x.empty()) {
          own_cover = TModernCover{result.thumb_1x, result.thumb_width, result.thumb_height};
          has_cover = true;
        } else if (BrowserShowsPath(name) && result.facts.width > 0) {
          own_cover = TModernCover{OriginalLink(place, name), result.facts.width, result.facts.height};
          has_cover = true;
        }
      }
      TSearchEntry entry;
      entry.name = name;
      entry.page = folder_url;
      AppendModernUrl(entry.page, ViewerPageName(name).c_str());
      if (CellImage(context, name, result, made, &entry.thumbnail) != TCellImage::kNone) {
        entry.thumbnail.insert(0, folder_url);
      }
      entry.title = result.facts.text.title;
      entry.label = CellLabel(run, result.facts.text);
      entry.caption = result.facts.text.caption;
      entry.keywords = result.facts.text.keywords;
      entry.album = album_path;
      entry.date = PhotoDay(context, name, result.facts);
      search.Add(std::move(entry));
      TModernViewerImage viewer;
      viewer.name = name;
      viewer.result = &result;
      viewer.produced = made;
      viewer.folder_page = page_name;
      viewer.previous = position > 0 ? names[static_cast<size_t>(position - 1)] : nullptr;
      viewer.next = position + 1 < count ? names[static_cast<size_t>(position + 1)] : nullptr;
      viewer.position = position;
      viewer.count = count;
      WriteModernPage(output, context, TPageKind::kViewer, TThemePage::kViewer, ViewerPageName(name).c_str(),
                      ModernViewerView(context, viewer));
      ++run.counters.filecount;
      ++page_cells;
      PostToOwner(run, WM_INDEX_PROGRESS);
    }
    view.set("cells", std::move(cells));
    view.set("videos", page_videos);
    const uint64_t digest = theme.PageDigest(TThemePage::kFolder, view);
    if (!output.Current(page_name.c_str(), digest)) {
      ++run.counters.renderedcount;
      output.Page().Write(theme.Render(TThemePage::kFolder, view));
      if (!output.Close(&digest)) {
        run.counters.filecount -= page_cells;  // the cells of a page not written were not written
        return;
      }
    }
    // A catalog counts once its first page is in place.
    if (page == 0) ++run.counters.indexcount;
  }

  // A folder without images of its own shows its first subfolder's cover.
  if (!has_cover) {
    for (const TCard& card : cards) {
      if (!card.has_cover) continue;
      own_cover = TModernCover{std::string(card.name) + "/" + card.cover.url, card.cover.width, card.cover.height};
      has_cover = true;
      break;
    }
  }
  if (depth == 0) output.Write(TPageKind::kSearchIndex, kSearchIndexFile, search.ScriptText());
  if (has_cover) covers.Record(folder, std::move(own_cover));
  covers.RecordTitle(folder, album.text.title);
  if (run.options.blinks != 0 && !WriteBackLinkPage(output, context, redirect && depth > 0)) return;
  if (run.options.prune != 0 && !run.Terminated()) {
    output.PruneUnwritten();
    PruneModernFiles(folder, names.data(), count);
  }
}
