#include "engine/page_writer.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "engine/cell_producer.h"
#include "engine/html_escape.h"
#include "engine/image_cell.h"
#include "engine/template_reader.h"
#include "engine/walk.h"
#include "support/path_util.h"

namespace {

constexpr const char* kDefaultHead = "<html><head><title>Vellumcast</title>\n";
constexpr const char* kUpLevelLink = "<a href=../imageback.html>Up Level</a>";
constexpr const char* kBackLinkPageName = "imageback.html";

void AppendNumber(std::string& out, int64_t value) { out += std::to_string(value); }

TCellOptions CellOptionsOf(const TThreadVellumcast& worker) {
  TCellOptions options;
  options.cellwidth = worker.cellwidth;
  options.cellheight = worker.cellheight;
  options.thumbwhite = worker.thumbwhite;
  return options;
}

// The img tag of one cell without its closing ">".
void AppendImageTag(std::string& out, const TThreadVellumcast& worker, const char* folder,
                    const char* name, int32_t position, TCellProducer& cells) {
  const TCellOptions options = CellOptionsOf(worker);
  if (worker.createthumbs != 0 &&
      (cells.Active() ? cells.WriteThumbnail(out, name, position)
                      : WriteThumbnail(out, folder, name, position, options)) != 0) {
    return;
  }
  out += "<img src=\"";
  AppendUrlEscaped(out, name);
  out += '"';
  char image_path[kPathBufferSize];
  if (PathJoin(image_path, sizeof image_path, kMaxPath, folder, name)) {
    WriteImageSize(out, image_path, options);
  } else {
    out += " width=";
    AppendNumber(out, options.cellwidth);
  }
}

bool WriteBackLinkPage(const char* folder, const char* first, bool to_parent) {
  char path[kPathBufferSize];
  if (!PathJoin(path, sizeof path, kMaxPath, folder, kBackLinkPageName)) return false;
  TPageFile file;
  if (!file.Create(path)) return false;
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
  return file.Commit();
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
  char name[32];
  if (page == 0) {
    std::snprintf(name, sizeof name, "vellumcast.html");
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
    text += worker.footertext;
    text += '\n';
    if (worker.centerfooter != 0) text += "</center>";
  }
  text += "</body></html>\n";
  file.Write(text);
}

bool OpenCatalogPage(TThreadVellumcast& worker, TPageFile& file, int32_t depth, const char* folder,
                     int32_t page, bool redirect, TStringManager& subfolders, TStringManager& images,
                     int32_t before) {
  const int64_t per_page = static_cast<int64_t>(worker.rowsperpage) * worker.cellsperrow;
  const bool previous = worker.rowsperpage > 0 && page > 0;
  const bool next = worker.rowsperpage > 0 && before + per_page < images.TotalEntries();
  const bool up = depth > 0 && worker.blinks != 0;
  const bool refresh = page == 0 && worker.hlinks != 0 && redirect;
  const bool hierarchy = (page == 0 || worker.dirfirstpageonly == 0) && worker.hlinks != 0 &&
                         subfolders.TotalEntries() > 0;

  char path[kPathBufferSize];
  if (!PageFileName(path, sizeof path, folder, page) || !file.Create(path)) return false;

  std::string text;
  if (worker.headertemplate.empty()) {
    text += kDefaultHead;
  } else {
    file.Write(text);
    text.clear();
    WriteHeaderTemplate(worker, file);
  }
  const char* only_subfolder = refresh ? subfolders.Walk()->name : nullptr;
  if (refresh) {
    text += "<META HTTP-EQUIV=\"Refresh\" CONTENT=\"0; URL=";
    AppendRefreshUrlEscaped(text, only_subfolder);
    text += "/vellumcast.html\">\n";
  }
  if (worker.headertemplate.empty()) {
    text += "</head><body>\n";
    if (!worker.title.empty()) {
      if (worker.centertitle != 0) text += "<center>";
      text += "<h3>";
      text += worker.title;
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
      text += "/vellumcast.html\">";
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
  if (previous && PageFileName(neighbour, sizeof neighbour, nullptr, page - 1)) {
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

void WriteFolderPages(TThreadVellumcast& worker, int32_t depth, const char* folder, const char* first,
                      TStringManager& subfolders, TStringManager& images) {
  const bool redirect = subfolders.TotalEntries() == 1 && images.TotalEntries() == 0;
  if (images.TotalEntries() == 0 && (subfolders.TotalEntries() == 0 || worker.hlinks == 0)) return;
  ++worker.indexcount;

  int32_t page = 0;
  int32_t before = 0;
  int32_t col = 0;
  int32_t row = 0;
  TPageFile file;
  std::string text;
  // With thumbnails, the cells are produced ahead on every core.
  TCellProducer cells(worker, folder, images);
  for (const TStrEntry* image = images.SortedWalk(0, nullptr); image != nullptr; image = image->walk) {
    if (!file.IsOpen() &&
        !OpenCatalogPage(worker, file, depth, folder, page, redirect, subfolders, images, before)) {
      return;
    }
    text.clear();
    if (col == 0) text += "<tr>";
    text += "<td><a href=\"";
    AppendUrlEscaped(text, image->name);
    text += "\">";
    AppendImageTag(text, worker, folder, image->name, before, cells);
    text += '>';
    if (worker.includefilenames != 0) {
      text += "<br>";
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
    if (page_complete) {
      WritePageFoot(worker, file);
      if (!file.Commit()) return;
    }
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
      !OpenCatalogPage(worker, file, depth, folder, 0, redirect, subfolders, images, 0)) {
    return;
  }
  if (file.IsOpen()) {
    WritePageFoot(worker, file);
    if (!file.Commit()) return;
  }
  if (worker.blinks != 0) WriteBackLinkPage(folder, first, redirect && depth > 0);
}
