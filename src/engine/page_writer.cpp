#include "engine/page_writer.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "engine/cell_producer.h"
#include "engine/first_page.h"
#include "engine/folder_place.h"
#include "engine/generated_names.h"
#include "engine/html_escape.h"
#include "engine/image_cell.h"
#include "engine/leftovers.h"
#include "engine/owner_post.h"
#include "engine/prune.h"
#include "engine/subfolder_order.h"
#include "engine/template_reader.h"
#include "engine/thumb_reuse.h"
#include "engine/image_order.h"
#include "imagein/image_format.h"
#include "support/path_util.h"

namespace {

constexpr const char* kDefaultHead = "<html><head><title>Vellumcast</title>\n";
constexpr const char* kUpLevelLink = "<a href=../imageback.html>Up Level</a>";
constexpr const char* kBackLinkPageName = "imageback.html";

void AppendNumber(std::string& out, int64_t value) { out += std::to_string(value); }

// The img tag of one cell without its closing ">".
// A thumbnail that could not be written is a failure of the run; an image
// that could not be read for one is a warning.
void ReportThumbnailFallback(TThreadVellumcast& worker, const TThumbnailFallback& fallback) {
  if (fallback.not_written) {
    worker.report.AddFailure(TRunFailure::kThumbnail, fallback.path, fallback.error, fallback.reason);
  } else if (fallback.unreadable) {
    worker.report.AddWarning(TRunWarning::kUnreadable, fallback.path, 0, "not a readable image");
  }
}

// False, with nothing appended, for an image no browser shows (HEIC, TIFF,
// Targa, FITS) whose thumbnail could not be made: its cell links to it by
// name alone.
bool AppendImageTag(std::string& out, TThreadVellumcast& worker, const TFolderPlace& place, const char* name,
                    int32_t position, TCellProducer& cells, TThumbReuse& reuse) {
  const TCellOptions options = CellOptionsOf(worker);
  if (worker.createthumbs != 0 && reuse.Reused(position)) {
    AppendThumbnailTag(out, position, options);
    ++worker.reusedcount;
    cells.Passed(position);
    return true;
  }
  if (worker.createthumbs != 0) {
    TThumbnailFallback fallback;
    int64_t written_size = -1;
    if ((cells.Active() ? cells.WriteThumbnail(out, name, position, &fallback, &written_size)
                        : WriteThumbnail(out, place.source, place.output, name, position, options, &fallback,
                                         &written_size)) != 0) {
      reuse.RecordWritten(position, written_size);
      return true;
    }
    ReportThumbnailFallback(worker, fallback);
  }
  if (!BrowserDisplaysFormat(ImageFormatOfPath(name))) return false;
  out += "<img src=\"";
  AppendOriginalUrl(out, place, name);
  out += '"';
  char image_path[kPathBufferSize];
  if (PathJoin(image_path, sizeof image_path, kMaxPath, place.source, name)) {
    WriteImageSize(out, image_path, options);
  } else {
    out += " width=";
    AppendNumber(out, options.cellwidth);
  }
  return true;
}

// Reports the page at `path` (or folder/name when the path did not fit) as not written.
void ReportPageFailure(TThreadVellumcast& worker, TRunFailure what, const char* folder,
                       const char* name, const char* path, const char* reason) {
  char shown[kPathBufferSize];
  if (path == nullptr || path[0] == '\0') {
    std::snprintf(shown, sizeof shown, "%s%c%s", folder, kPathSeparator, name);
    path = shown;
  }
  worker.report.AddFailure(what, path, 0, reason);
}

bool WriteBackLinkPage(TThreadVellumcast& worker, const char* folder, const char* first, bool to_parent) {
  char path[kPathBufferSize];
  if (!PathJoin(path, sizeof path, kMaxPath, folder, kBackLinkPageName)) {
    ReportPageFailure(worker, TRunFailure::kBackLink, folder, kBackLinkPageName, nullptr,
                      "path longer than 1023 characters");
    return false;
  }
  TPageFile file;
  if (!file.Create(path, worker.rebuild == 0)) {
    ReportPageFailure(worker, TRunFailure::kBackLink, folder, kBackLinkPageName, path, file.FailureReason());
    return false;
  }
  std::string text = "<html><head><title>Back Up</title>";
  text += "<META HTTP-EQUIV=\"Refresh\" CONTENT=\"0; URL=";
  if (to_parent) {
    text += "../imageback.html";
  } else {
    AppendRefreshUrlEscaped(text, first);
  }
  text += "\">\n</head><body><a href=";
  AppendUrlEscaped(text, first);
  text += '>';
  AppendHtmlText(text, first);
  text += "</a></body></html>\n";
  file.Write(text);
  if (file.Commit()) return true;
  ReportPageFailure(worker, TRunFailure::kBackLink, folder, kBackLinkPageName, path, file.FailureReason());
  return false;
}

// Closes the page with its foot and puts it in place; counts the folder's
// catalog when it is its first page. False, reported, when it failed.
bool FinishCatalogPage(TThreadVellumcast& worker, TPageFile& file, const char* folder, int32_t page) {
  WritePageFoot(worker, file);
  if (file.Commit()) {
    if (page == 0) ++worker.indexcount;
    return true;
  }
  char path[kPathBufferSize] = {};
  PageFileName(path, sizeof path, folder, page);
  ReportPageFailure(worker, TRunFailure::kPage, folder, "vellumcast.html", path, file.FailureReason());
  return false;
}

}  // namespace

ptrdiff_t FindNoCase(const char* line, size_t length, const char* needle) {
  const size_t needle_length = std::strlen(needle);
  if (needle_length > length) return -1;
  for (size_t i = 0; i + needle_length <= length; ++i) {
    size_t k = 0;
    while (k < needle_length &&
           std::tolower(static_cast<unsigned char>(line[i + k])) == static_cast<unsigned char>(needle[k])) {
      ++k;
    }
    if (k == needle_length) return static_cast<ptrdiff_t>(i);
  }
  return -1;
}

bool PageFileName(char* out, size_t capacity, const char* folder, int32_t page) {
  return PageFileName(out, capacity, folder, page, kFirstPageName);
}

bool PageFileName(char* out, size_t capacity, const char* folder, int32_t page, const char* first) {
  char name[160];
  if (page == 0) {
    std::snprintf(name, sizeof name, "%s", first);
  } else {
    std::snprintf(name, sizeof name, "vellumcast%d.html", page);
  }
  if (folder == nullptr) folder = "";
  return PathJoin(out, capacity, kMaxPath, folder, name);
}

void WriteHeaderTemplate(const TThreadVellumcast& worker, TPageFile& file) {
  TTemplateReader reader(worker.headertemplate.c_str());
  if (!reader.IsOpen()) {
    file.Write(kDefaultHead);
    return;
  }
  const char* line;
  size_t length;
  while (reader.NextLine(&line, &length)) {
    ptrdiff_t cut = FindNoCase(line, length, "</body");
    if (cut < 0) cut = FindNoCase(line, length, "</html");
    if (cut >= 0) {
      file.Write(line, static_cast<size_t>(cut));
      return;
    }
    file.Write(line, length);
  }
}

void WritePageFoot(const TThreadVellumcast& worker, TPageFile& file) {
  if (!worker.footertemplate.empty()) {
    TTemplateReader reader(worker.footertemplate.c_str());
    if (reader.IsOpen()) {
      bool body_seen = false;
      const char* line;
      size_t length;
      while (reader.NextLine(&line, &length)) {
        const ptrdiff_t body = FindNoCase(line, length, "<body");
        if (body >= 0) {
          size_t rest = static_cast<size_t>(body);
          while (rest < length && line[rest] != '>') ++rest;
          if (rest < length) ++rest;
          body_seen = true;
          file.Write(line + rest, length - rest);
        } else if (body_seen) {
          file.Write(line, length);
        }
      }
      if (body_seen) return;
      // No body start tag: the whole template is the foot.
      TTemplateReader again(worker.footertemplate.c_str());
      while (again.NextLine(&line, &length)) file.Write(line, length);
      return;
    }
  }
  std::string text;
  if (!worker.footertext.empty()) {
    text += "<hr>\n";
    if (worker.centerfooter != 0) text += "<center>";
    AppendMarkupText(text, worker.footertext.c_str());
    text += '\n';
    if (worker.centerfooter != 0) text += "</center>";
  }
  text += "</body></html>\n";
  file.Write(text);
}

bool OpenCatalogPage(TThreadVellumcast& worker, TPageFile& file, int32_t depth, const char* folder,
                     int32_t page, bool redirect, TStringManager& subfolders, TStringManager& images,
                     int32_t before, const char* first) {
  const int64_t per_page = static_cast<int64_t>(worker.rowsperpage) * worker.cellsperrow;
  const bool previous = worker.rowsperpage > 0 && page > 0;
  const bool next = worker.rowsperpage > 0 && before + per_page < images.TotalEntries();
  const bool up = depth > 0 && worker.blinks != 0;
  const bool refresh = page == 0 && worker.hlinks != 0 && redirect;
  const bool hierarchy = (page == 0 || worker.dirfirstpageonly == 0) && worker.hlinks != 0 &&
                         subfolders.TotalEntries() > 0;

  char path[kPathBufferSize];
  if (!PageFileName(path, sizeof path, folder, page, first)) {
    ReportPageFailure(worker, TRunFailure::kPage, folder, "vellumcast.html", nullptr,
                      "path longer than 1023 characters");
    return false;
  }
  if (!file.Create(path, worker.rebuild == 0)) {
    ReportPageFailure(worker, TRunFailure::kPage, folder, "vellumcast.html", path, file.FailureReason());
    return false;
  }

  // Under another first page name than the default, the marker tells later
  // runs that the page is theirs to replace.
  const bool marked = std::strcmp(RequestedFirstPage(worker), kFirstPageName) != 0;
  std::string text;
  if (worker.headertemplate.empty()) {
    text += kDefaultHead;
    if (marked) {
      text += kGeneratorMarker;
      text += '\n';
    }
  } else {
    if (marked) {
      text += kGeneratorMarker;
      text += '\n';
    }
    file.Write(text);
    text.clear();
    WriteHeaderTemplate(worker, file);
  }
  const char* only_subfolder = refresh ? subfolders.Walk()->name : nullptr;
  if (refresh) {
    text += "<META HTTP-EQUIV=\"Refresh\" CONTENT=\"0; URL=";
    AppendRefreshUrlEscaped(text, only_subfolder);
    text += '/';
    AppendRefreshUrlEscaped(text, SubfolderFirstPage(worker, folder, only_subfolder));
    text += "\">\n";
  }
  if (worker.headertemplate.empty()) {
    text += "</head><body>\n";
    if (!worker.title.empty()) {
      if (worker.centertitle != 0) text += "<center>";
      text += "<h3>";
      AppendMarkupText(text, worker.title.c_str());
      text += "</h3>\n";
      if (worker.centertitle != 0) text += "</center>";
    }
  }
  if (refresh) {
    text += "<h3>Browser auto-redirection to ";
    AppendHtmlText(text, only_subfolder);
    text += "</h3>\n";
  }
  bool up_written = false;
  if (hierarchy) {
    if (up) {
      text += kUpLevelLink;
      text += "<br>\n";
      up_written = true;
    }
    text += "<ul>\n";
    for (const TStrEntry* e = subfolders.SortedWalk(worker.sort, CompareSubfolders); e != nullptr;
         e = e->walk) {
      if (e->count <= 0) continue;
      text += "<li><a href=\"";
      AppendUrlEscaped(text, e->name);
      text += '/';
      AppendUrlEscaped(text, SubfolderFirstPage(worker, folder, e->name));
      text += "\">";
      AppendHtmlText(text, e->name);
      text += "</a> ";
      AppendNumber(text, e->count);
      text += " images</li>\n";
    }
    text += "</ul><hr>";
  }
  bool bar_link = false;
  if (worker.centernavbar != 0) text += "<Center>";
  if (up && (!up_written || previous || next)) {
    text += kUpLevelLink;
    text += '\n';
    bar_link = true;
  }
  char neighbour[kPathBufferSize];
  if (previous && PageFileName(neighbour, sizeof neighbour, nullptr, page - 1, first)) {
    text += "<a href=";
    text += neighbour;
    text += ">Previous Page</a>\n";
    bar_link = true;
  }
  if (next && PageFileName(neighbour, sizeof neighbour, nullptr, page + 1)) {
    text += "<a href=";
    text += neighbour;
    text += ">Next Page</a>\n";
    bar_link = true;
  }
  if (worker.centernavbar != 0) text += "</Center>";
  if (bar_link) text += "<hr>\n";
  if (images.TotalEntries() > 0) {
    text += "<table border=1";
    if (worker.centertable != 0) text += " align=center";
    text += '>';
  }
  file.Write(text);
  return true;
}

namespace {

// With pruning on, the generated files of a folder that this run did not
// produce go once the folder is complete. A cancelled run lists folders only
// in part, so it prunes nothing.
void PruneAfterFolder(TThreadVellumcast& worker, const char* folder, int32_t pages_written,
                      bool back_link_written, int32_t image_count, TThumbReuse* reuse) {
  if (worker.prune == 0 || worker.Terminated()) return;
  PruneFolderPages(folder, pages_written, back_link_written);
  if (reuse != nullptr && reuse->Active()) {
    reuse->PruneStale();
  } else if (worker.createthumbs == 0 || image_count == 0) {
    PruneAllThumbnails(folder);
  }
}

}  // namespace

void WriteFolderPages(TThreadVellumcast& worker, int32_t depth, const TFolderPlace& place, const char* first,
                      TStringManager& subfolders, TStringManager& images) {
  const char* folder = place.output;  // where everything of this folder is written
  const bool redirect = subfolders.TotalEntries() == 1 && images.TotalEntries() == 0;
  if (images.TotalEntries() == 0 && (subfolders.TotalEntries() == 0 || worker.hlinks == 0)) {
    PruneAfterFolder(worker, folder, 0, false, 0, nullptr);
    return;
  }
  RemoveLeftoverTemporaries(folder, place.leftovers);

  int32_t page = 0;
  int32_t before = 0;
  int32_t col = 0;
  int32_t row = 0;
  TPageFile file;
  std::string text;
  // Thumbnails from earlier runs are reused or moved into place first; the
  // others are produced ahead on every core. The manifest is written when
  // the folder is left, however it is left.
  TThumbReuse reuse(worker, place.source, folder, images);
  TCellProducer cells(worker, place.source, folder, images, &reuse);
  for (const TStrEntry* image = SortedImageWalk(images, worker.order); image != nullptr; image = image->walk) {
    if (!file.IsOpen() &&
        !OpenCatalogPage(worker, file, depth, folder, page, redirect, subfolders, images, before, first)) {
      return;
    }
    text.clear();
    if (col == 0) text += "<tr>";
    text += "<td><a href=\"";
    AppendOriginalUrl(text, place, image->name);
    text += "\">";
    if (AppendImageTag(text, worker, place, image->name, before, cells, reuse)) {
      text += '>';
      if (worker.includefilenames != 0) {
        text += "<br>";
        AppendHtmlText(text, image->name);
      }
    } else {
      AppendHtmlText(text, image->name);
    }
    text += "</a></td>\n";
    bool page_complete = false;
    // col + 1 cannot overflow; cellsperrow - 1 would for the lowest 32-bit count.
    if (col + 1 >= worker.cellsperrow) {
      text += "</tr>";
      col = 0;
      const int32_t rows_before = row++;
      if (worker.rowsperpage > 0 && rows_before >= worker.rowsperpage - 1) {
        row = 0;
        ++page;
        text += "</table>";
        page_complete = true;
      }
    } else {
      ++col;
    }
    file.Write(text);
    if (page_complete && !FinishCatalogPage(worker, file, folder, page - 1)) return;
    ++before;
    ++worker.filecount;
    PostToOwner(worker, WM_INDEX_PROGRESS);
  }
  if (file.IsOpen()) {
    text.clear();
    if (col != 0) text += "</tr>";
    if (row != 0 || col != 0) text += "</table>\n";
    file.Write(text);
  }
  if (images.TotalEntries() == 0 &&
      !OpenCatalogPage(worker, file, depth, folder, 0, redirect, subfolders, images, 0, first)) {
    return;
  }
  if (file.IsOpen()) {
    if (!FinishCatalogPage(worker, file, folder, page)) return;
    ++page;
  }
  if (worker.blinks != 0 && !WriteBackLinkPage(worker, folder, first, redirect && depth > 0)) return;
  PruneAfterFolder(worker, folder, page, worker.blinks != 0, images.TotalEntries(), &reuse);
}
