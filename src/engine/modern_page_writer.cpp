#include "engine/modern_page_writer.h"

#include <cerrno>

#include <algorithm>
#include <new>
#include <string>
#include <vector>

#include "engine/first_page.h"
#include "engine/generated_names.h"
#include "engine/image_order.h"
#include "engine/leftovers.h"
#include "engine/prune.h"
#include "engine/run_report.h"
#include "engine/modern_html.h"
#include "engine/modern_images.h"
#include "engine/modern_page_parts.h"
#include "engine/modern_template.h"
#include "engine/modern_viewer.h"
#include "engine/page_file.h"
#include "engine/walk.h"
#include "support/path_util.h"

namespace {

struct TCard {
  const char* name;
  int32_t count;
  std::string first;  // the subfolder's first page
  TModernCover cover;
  bool has_cover;
};

// The breadcrumb from the top folder down to this one. Ancestors are linked
// only with hierarchy links on, since only then is each of them sure to
// have a page.
void AppendBreadcrumb(std::string& out, const TModernFolder& folder) {
  std::vector<std::string> paths;  // ancestors, nearest first
  std::string path = folder.folder;
  for (int32_t k = 0; k < folder.depth; ++k) {
    while (path.size() > 1 && path.back() == kPathSeparator) path.pop_back();
    const size_t slash = path.rfind(kPathSeparator);
    if (slash == std::string::npos) break;
    path.resize(slash == 0 ? 1 : slash);
    paths.push_back(path);
  }
  out += "<nav class=\"vc-crumbs\" aria-label=\"Breadcrumb\"><ol>\n";
  const int32_t levels = static_cast<int32_t>(paths.size());
  for (int32_t k = levels; k >= 1; --k) {
    const std::string& ancestor = paths[static_cast<size_t>(k - 1)];
    const std::string label = FolderDisplayName(ancestor.c_str(), folder.depth - k);
    out += "<li>";
    if (folder.worker->hlinks != 0) {
      out += "<a href=\"";
      for (int32_t up = 0; up < k; ++up) out += "../";
      AppendModernUrl(out, ChooseFirstPage(*folder.worker, ancestor.c_str(), false));
      out += "\">";
      AppendModernText(out, label.c_str());
      out += "</a>";
    } else {
      AppendModernText(out, label.c_str());
    }
    out += "</li>\n";
  }
  out += "<li aria-current=\"page\">";
  AppendModernText(out, folder.name.c_str());
  out += "</li>\n</ol></nav>\n";
}

void AppendPager(std::string& out, const TModernFolder& folder, int32_t page, int32_t pages,
                 const char* label) {
  if (pages <= 1) return;
  out += "<nav class=\"vc-pager\" aria-label=\"";
  out += label;
  out += "\">";
  if (page > 0) {
    out += "<a rel=\"prev\" href=\"";
    AppendModernUrl(out, ModernPageName(folder, page - 1).c_str());
    out += "\">Previous</a>";
  }
  out += "<span>Page ";
  AppendNumber(out, page + 1);
  out += " of ";
  AppendNumber(out, pages);
  out += "</span>";
  if (page + 1 < pages) {
    out += "<a rel=\"next\" href=\"";
    AppendModernUrl(out, ModernPageName(folder, page + 1).c_str());
    out += "\">Next</a>";
  }
  out += "</nav>\n";
}

void AppendImageAttributes(std::string& out, int32_t width, int32_t height) {
  if (width <= 0 || height <= 0) return;
  out += " width=\"";
  AppendNumber(out, width);
  out += "\" height=\"";
  AppendNumber(out, height);
  out += '"';
}

void AppendCards(std::string& out, const std::vector<TCard>& cards) {
  out += "<section aria-labelledby=\"vc-folders\">\n<h2 id=\"vc-folders\">Folders</h2>\n";
  out += "<ul class=\"vc-folders\">\n";
  for (const TCard& card : cards) {
    out += "<li><a href=\"";
    AppendModernUrl(out, card.name);
    out += '/';
    AppendModernUrl(out, card.first.c_str());
    out += "\">";
    if (card.has_cover) {
      // The folder's name names the link; the cover adds nothing to it.
      out += "<img src=\"";
      AppendModernUrl(out, card.name);
      out += '/';
      AppendModernUrlPath(out, card.cover.url.c_str());
      out += "\" alt=\"\"";
      AppendImageAttributes(out, card.cover.width, card.cover.height);
      out += " loading=\"lazy\" decoding=\"async\">";
    } else {
      out += "<span class=\"vc-blank\"></span>";
    }
    out += "<span class=\"vc-name\">";
    AppendModernText(out, card.name);
    out += "</span><span class=\"vc-count\">";
    AppendNumber(out, card.count);
    out += card.count == 1 ? " image" : " images";
    out += "</span></a></li>\n";
  }
  out += "</ul>\n</section>\n";
}

// One grid cell. The thumbnail when it was made, else the original when a
// browser shows it, else the name in a blank cell.
void AppendCell(std::string& out, const TModernFolder& folder, const char* name,
                const TModernImageResult& result, bool produced) {
  const TThreadVellumcast& worker = *folder.worker;
  out += "<li><a href=\"";
  AppendModernUrl(out, ViewerPageName(name).c_str());
  out += "\">";
  if (produced && !result.thumb_1x.empty()) {
    out += "<img src=\"";
    AppendModernUrlPath(out, result.thumb_1x.c_str());
    out += '"';
    if (!result.thumb_2x.empty()) {
      out += " srcset=\"";
      AppendModernUrlPath(out, result.thumb_1x.c_str());
      out += " 1x, ";
      AppendModernUrlPath(out, result.thumb_2x.c_str());
      out += " 2x\"";
    }
    AppendImageAttributes(out, result.thumb_width, result.thumb_height);
  } else if (IsBrowserImageName(name)) {
    out += "<img src=\"";
    AppendModernOriginal(out, folder, name);
    out += '"';
    if (result.facts.width > 0 && result.facts.height > 0) {
      AppendImageAttributes(out, result.facts.width, result.facts.height);
    } else {
      AppendImageAttributes(out, worker.cellwidth, worker.cellheight);
    }
  } else {
    out += "<span class=\"vc-blank\">";
    AppendModernText(out, name);
    out += "</span></a>";
    if (worker.includefilenames != 0) {
      out += "<span class=\"vc-caption\">";
      AppendModernText(out, name);
      out += "</span>";
    }
    out += "</li>\n";
    return;
  }
  out += " alt=\"";
  AppendModernText(out, name);
  out += "\" loading=\"lazy\" decoding=\"async\"></a>";
  if (worker.includefilenames != 0) {
    out += "<span class=\"vc-caption\">";
    AppendModernText(out, name);
    out += "</span>";
  }
  out += "</li>\n";
}

bool WriteBackLinkPage(TThreadVellumcast& worker, const TModernFolder& folder, bool to_parent) {
  char path[kPathBufferSize];
  if (!PathJoin(path, sizeof path, kMaxPath, folder.folder, kBackLinkPageFile)) {
    worker.report.AddFailure(TRunFailure::kBackLink, folder.folder, ENAMETOOLONG);
    return false;
  }
  std::string url;
  if (to_parent) {
    url = "../";
    url += kBackLinkPageFile;
  } else {
    AppendModernUrl(url, folder.first);
  }
  std::string text = "<!doctype html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
  text += kGeneratorMarker;
  text += "\n<meta http-equiv=\"refresh\" content=\"0; url=";
  text += url;
  text += "\">\n<title>Back up</title>\n</head>\n<body>\n<p><a href=\"";
  AppendModernUrl(text, folder.first);
  text += "\">";
  AppendModernText(text, folder.name.c_str());
  text += "</a></p>\n</body>\n</html>\n";
  TPageFile file;
  if (file.Create(path, worker.rebuild == 0)) {
    file.Write(text);
    if (file.Commit()) return true;
  }
  worker.report.AddFailure(TRunFailure::kBackLink, path, 0, file.FailureReason());
  return false;
}

}  // namespace

void WriteModernFolderPages(TThreadVellumcast& worker, TModernCovers& covers, int32_t depth,
                            const TFolderPlace& place, const char* first, TStringManager& subfolders,
                            TStringManager& images) {
  const char* folder = place.output;  // where everything of this folder is written
  const int64_t image_total = images.TotalEntries();
  const bool redirect = subfolders.TotalEntries() == 1 && image_total == 0;
  if (image_total == 0 && (subfolders.TotalEntries() == 0 || worker.hlinks == 0)) {
    if (worker.prune != 0 && !worker.Terminated()) {
      PruneFolderPages(folder, 0, false);
      PruneModernFiles(folder, nullptr, 0);
    }
    return;
  }
  RemoveLeftoverTemporaries(folder, place.leftovers);

  TModernFolder context;
  context.worker = &worker;
  context.depth = depth;
  context.folder = folder;
  context.place = &place;
  context.first = first;
  context.name = FolderDisplayName(place.source, depth);
  ReadModernHeaderTemplate(worker.headertemplate.c_str(), &context.head_extra, &context.body_top);
  ReadModernFooterTemplate(worker.footertemplate.c_str(), &context.body_end);

  // Subfolder cards in hierarchy order, each with its cover taken out once.
  std::vector<TCard> cards;
  char child_path[kPathBufferSize];
  for (const TStrEntry* e = subfolders.SortedWalk(worker.sort, CompareSubfolders); e != nullptr; e = e->walk) {
    if (e->count <= 0) continue;
    TCard card{e->name, e->count, SubfolderFirstPage(worker, folder, e->name), {}, false};
    if (PathJoin(child_path, sizeof child_path, kMaxPath, folder, e->name)) {
      card.has_cover = covers.Take(child_path, &card.cover);
    }
    cards.push_back(std::move(card));
  }

  std::vector<const char*> names;
  names.reserve(static_cast<size_t>(image_total));
  for (const TStrEntry* e = SortedImageWalk(images, worker.order); e != nullptr; e = e->walk) {
    names.push_back(e->name);
  }
  const int32_t count = static_cast<int32_t>(names.size());
  const int64_t per_page = worker.rowsperpage > 0 && worker.cellsperrow > 0
                               ? static_cast<int64_t>(worker.rowsperpage) * worker.cellsperrow
                               : std::max<int64_t>(count, 1);
  const int32_t pages = count == 0 ? 1 : static_cast<int32_t>((count + per_page - 1) / per_page);

  TModernImageOptions options;
  options.cellwidth = worker.cellwidth;
  options.cellheight = worker.cellheight;
  options.crop = worker.crop;
  TModernFolderImages produced_images(place.source, folder, names.data(), count, options);

  TModernCover own_cover;
  bool has_cover = false;
  const bool refresh = worker.hlinks != 0 && redirect;
  int32_t position = 0;
  for (int32_t page = 0; page < pages; ++page) {
    std::string text;
    text.reserve(16384);
    std::string title = context.name;
    if (pages > 1) title += ", page " + std::to_string(page + 1) + " of " + std::to_string(pages);
    std::string refresh_url;
    if (refresh && page == 0) {
      AppendModernUrl(refresh_url, cards.front().name);
      refresh_url += '/';
      AppendModernUrl(refresh_url, cards.front().first.c_str());
    }
    AppendModernHead(text, context, ModernTitle(context, title), refresh && page == 0 ? &refresh_url : nullptr,
                     nullptr);
    text += context.body_top;
    text += "<header class=\"vc-head\">\n";
    if (worker.headertemplate.empty() && !worker.title.empty()) {
      text += "<p class=\"vc-site\">";
      AppendModernText(text, worker.title.c_str());
      text += "</p>\n";
    }
    AppendBreadcrumb(text, context);
    text += "</header>\n<main class=\"vc-main\">\n<h1>";
    AppendModernText(text, context.name.c_str());
    text += "</h1>\n";
    AppendPager(text, context, page, pages, "Pages");
    const bool hierarchy = (page == 0 || worker.dirfirstpageonly == 0) && worker.hlinks != 0 && !cards.empty();
    if (hierarchy) AppendCards(text, cards);

    char page_path[kPathBufferSize];
    const std::string page_name = ModernPageName(context, page);
    TPageFile file;
    if (!PathJoin(page_path, sizeof page_path, kMaxPath, folder, page_name.c_str())) {
      worker.report.AddFailure(TRunFailure::kPage, folder, ENAMETOOLONG);
      return;  // as in the classic style: the folder gets no further page
    }
    if (!file.Create(page_path, worker.rebuild == 0)) {
      worker.report.AddFailure(TRunFailure::kPage, page_path, 0, file.FailureReason());
      return;
    }
    const int32_t end = static_cast<int32_t>(std::min<int64_t>(count, position + per_page));
    const bool grid = position < end;
    if (grid) {
      if (hierarchy) text += "<h2>Images</h2>\n";
      text += "<ul class=\"vc-grid\">\n";
    }
    for (; position < end; ++position) {
      TModernImageResult result;
      const bool made = produced_images.Take(position, &result);
      const char* name = names[static_cast<size_t>(position)];
      AppendCell(text, context, name, result, made);
      if (!has_cover) {
        if (made && !result.thumb_1x.empty()) {
          own_cover = TModernCover{result.thumb_1x, result.thumb_width, result.thumb_height};
          has_cover = true;
        } else if (IsBrowserImageName(name) && result.facts.width > 0) {
          own_cover = TModernCover{OriginalLink(place, name), result.facts.width, result.facts.height};
          has_cover = true;
        }
      }
      TModernViewerImage viewer;
      viewer.name = name;
      viewer.result = &result;
      viewer.produced = made;
      viewer.folder_page = page_name;
      viewer.previous = position > 0 ? names[static_cast<size_t>(position - 1)] : nullptr;
      viewer.next = position + 1 < count ? names[static_cast<size_t>(position + 1)] : nullptr;
      viewer.position = position;
      viewer.count = count;
      WriteModernViewerPage(context, viewer);
      ++worker.filecount;
      PostToOwner(worker, WM_INDEX_PROGRESS);
      if (text.size() > 12288) {
        file.Write(text);
        text.clear();
      }
    }
    if (grid) text += "</ul>\n";
    AppendPager(text, context, page, pages, "Pages, bottom");
    text += "</main>\n";
    AppendModernFoot(text, context);
    file.Write(text);
    if (!file.Commit()) {
      worker.report.AddFailure(TRunFailure::kPage, page_path, 0, file.FailureReason());
      return;
    }
    // A catalog counts once its first page is in place.
    if (page == 0) ++worker.indexcount;
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
  if (has_cover) covers.Record(folder, std::move(own_cover));
  if (worker.blinks != 0 && !WriteBackLinkPage(worker, context, redirect && depth > 0)) return;
  if (worker.prune != 0 && !worker.Terminated()) {
    PruneFolderPages(folder, pages, worker.blinks != 0);
    PruneModernFiles(folder, names.data(), count);
  }
}
