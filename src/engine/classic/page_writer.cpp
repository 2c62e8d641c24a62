#include "engine/classic/page_writer.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/classic/cell_producer.h"
#include "engine/store/first_page.h"
#include "engine/publish/folder_place.h"
#include "engine/store/generated_names.h"
#include "engine/classic/html_escape.h"
#include "engine/classic/image_cell.h"
#include "engine/store/leftovers.h"
#include "engine/store/page_output.h"
#include "engine/run/owner_post.h"
#include "engine/store/prune.h"
#include "engine/run/subfolder_order.h"
#include "engine/classic/template_reader.h"
#include "engine/store/thumb_reuse.h"
#include "engine/run/image_order.h"
#include "engine/modern/photo_words.h"
#include "engine/run/run_report.h"
#include "imagein/photo_text.h"
#include "imagein/format_table.h"
#include "support/path_util.h"
#include "support/text_search.h"

namespace {

// The text under a cell's image: the file name, or with --captions=title the
// photo's title, else its caption's first line, when it has one.
std::string CellCaption(TIndexRun& run, const TFolderPlace& place, const char* name) {
  if (run.options.captions != kCaptionsTitle) return name;
  TPhotoText words;
  std::vector<TPhotoTextWarning> warnings;
  ReadPhotoText(place.source, name, &words, &warnings);
  for (const TPhotoTextWarning& warning : warnings) {
    run.report.AddWarning(TRunWarning::kPhotoText, warning.path.c_str(), 0, warning.reason.c_str());
  }
  const std::string label = PhotoCellLabel(words);
  return label.empty() ? std::string(name) : label;
}

constexpr const char* kDefaultHead = "<html><head><title>Vellumcast</title>\n";
constexpr const char* kUpLevelLink = "<a href=../imageback.html>Up Level</a>";
constexpr const char* kBackLinkPageName = "imageback.html";

void AppendNumber(std::string& out, int64_t value) { out += std::to_string(value); }

// The img tag of one cell without its closing ">".
// A thumbnail that could not be written is a failure of the run; an image
// that could not be read for one is a warning.
void ReportThumbnailFallback(TIndexRun& run, const TThumbnailFallback& fallback) {
  if (fallback.not_written) {
    run.report.AddFailure(TRunFailure::kThumbnail, fallback.path, fallback.error, fallback.reason);
  } else if (fallback.unreadable) {
    run.report.AddWarning(TRunWarning::kUnreadable, fallback.path, 0, "not a readable image");
  }
}

// False, with nothing appended, for an image no browser shows (HEIC, TIFF,
// Targa, FITS) whose thumbnail could not be made: its cell links to it by
// name alone.
bool AppendImageTag(std::string& out, TIndexRun& run, const TFolderPlace& place, const char* name,
                    int32_t position, TCellProducer& cells, TThumbReuse& reuse) {
  const TCellOptions options = CellOptionsOf(run);
  if (run.options.createthumbs != 0 && reuse.Reused(position)) {
    AppendThumbnailTag(out, position, options);
    ++run.counters.reusedcount;
    cells.Passed(position);
    return true;
  }
  if (run.options.createthumbs != 0) {
    TThumbnailFallback fallback;
    int64_t written_size = -1;
    if ((cells.Active() ? cells.WriteThumbnail(out, name, position, &fallback, &written_size)
                        : WriteThumbnail(out, place.source, place.output, name, position, options, &fallback,
                                         &written_size)) != 0) {
      reuse.RecordWritten(position, written_size);
      return true;
    }
    ReportThumbnailFallback(run, fallback);
  }
  if (!BrowserShowsPath(name)) return false;
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

bool WriteBackLinkPage(TFolderOutput& output, const char* first, bool to_parent) {
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
  return output.Write(TPageKind::kBackLink, kBackLinkPageName, text);
}

// Closes the page with its foot and puts it in place; counts the folder's
// catalog when it is its first page. False, reported, when it failed.
bool FinishCatalogPage(TIndexRun& run, TFolderOutput& output, int32_t page) {
  WritePageFoot(run, output.Page());
  if (!output.Close()) return false;
  if (page == 0) ++run.counters.indexcount;
  return true;
}

}  // namespace

bool PageFileName(char* out, size_t capacity, const char* folder, int32_t page) {
  return PageFileName(out, capacity, folder, page, kFirstPageName);
}

bool PageFileName(char* out, size_t capacity, const char* folder, int32_t page, const char* first) {
  if (folder == nullptr) folder = "";
  return PathJoin(out, capacity, kMaxPath, folder, CatalogPageName(page, first).c_str());
}

void WriteHeaderTemplate(const TIndexRun& run, TPageFile& file) {
  TTemplateReader reader(run.options.headertemplate.c_str());
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

void WritePageFoot(const TIndexRun& run, TPageFile& file) {
  if (!run.options.footertemplate.empty()) {
    TTemplateReader reader(run.options.footertemplate.c_str());
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
      TTemplateReader again(run.options.footertemplate.c_str());
      while (again.NextLine(&line, &length)) file.Write(line, length);
      return;
    }
  }
  std::string text;
  if (!run.options.footertext.empty()) {
    text += "<hr>\n";
    if (run.options.centerfooter != 0) text += "<center>";
    AppendMarkupText(text, run.options.footertext.c_str());
    text += '\n';
    if (run.options.centerfooter != 0) text += "</center>";
  }
  text += "</body></html>\n";
  file.Write(text);
}

bool OpenCatalogPage(TIndexRun& run, TFolderOutput& output, int32_t depth, int32_t page,
                     bool redirect, TStringManager& subfolders, TStringManager& images, int32_t before,
                     const char* first) {
  const char* folder = output.Folder();
  const int64_t per_page = static_cast<int64_t>(run.options.rowsperpage) * run.options.cellsperrow;
  const bool previous = run.options.rowsperpage > 0 && page > 0;
  const bool next = run.options.rowsperpage > 0 && before + per_page < images.TotalEntries();
  const bool up = depth > 0 && run.options.blinks != 0;
  const bool refresh = page == 0 && run.options.hlinks != 0 && redirect;
  const bool hierarchy = (page == 0 || run.options.dirfirstpageonly == 0) && run.options.hlinks != 0 &&
                         subfolders.TotalEntries() > 0;

  char name[kPathBufferSize];
  if (!PageFileName(name, sizeof name, nullptr, page, first) ||
      !output.Open(refresh ? TPageKind::kRedirect : TPageKind::kCatalog, name)) {
    return false;
  }
  TPageFile& file = output.Page();

  // Under another first page name than the default, the marker tells later
  // runs that the page is theirs to replace.
  const bool marked = std::strcmp(RequestedFirstPage(run), kFirstPageName) != 0;
  std::string text;
  if (run.options.headertemplate.empty()) {
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
    WriteHeaderTemplate(run, file);
  }
  const char* only_subfolder = refresh ? subfolders.Walk()->name : nullptr;
  if (refresh) {
    text += "<META HTTP-EQUIV=\"Refresh\" CONTENT=\"0; URL=";
    AppendRefreshUrlEscaped(text, only_subfolder);
    text += '/';
    AppendRefreshUrlEscaped(text, SubfolderFirstPage(run, folder, only_subfolder));
    text += "\">\n";
  }
  if (run.options.headertemplate.empty()) {
    text += "</head><body>\n";
    if (!run.options.title.empty()) {
      if (run.options.centertitle != 0) text += "<center>";
      text += "<h3>";
      AppendMarkupText(text, run.options.title.c_str());
      text += "</h3>\n";
      if (run.options.centertitle != 0) text += "</center>";
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
    for (const TStrEntry* e = subfolders.SortedWalk(run.options.sort, CompareSubfolders); e != nullptr;
         e = e->walk) {
      if (e->count <= 0) continue;
      // A subfolder whose page could not be written is not linked.
      const char* subfolder_first = SubfolderFirstPage(run, folder, e->name);
      if (!SubfolderPageExists(folder, e->name, subfolder_first)) continue;
      text += "<li><a href=\"";
      AppendUrlEscaped(text, e->name);
      text += '/';
      AppendUrlEscaped(text, subfolder_first);
      text += "\">";
      AppendHtmlText(text, e->name);
      text += "</a> ";
      AppendNumber(text, e->count);
      text += " images</li>\n";
    }
    text += "</ul><hr>";
  }
  bool bar_link = false;
  if (run.options.centernavbar != 0) text += "<Center>";
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
  if (run.options.centernavbar != 0) text += "</Center>";
  if (bar_link) text += "<hr>\n";
  if (images.TotalEntries() > 0) {
    text += "<table border=1";
    if (run.options.centertable != 0) text += " align=center";
    text += '>';
  }
  file.Write(text);
  return true;
}

namespace {

// With pruning on, the generated files of a folder that this run did not
// produce go once the folder is complete. A cancelled run lists folders only
// in part, so it prunes nothing.
void PruneAfterFolder(TIndexRun& run, TFolderOutput& output, int32_t image_count, TThumbReuse* reuse) {
  if (run.options.prune == 0 || run.Terminated()) return;
  const char* folder = output.Folder();
  output.PruneUnwritten();
  if (reuse != nullptr && reuse->Active()) {
    reuse->PruneStale();
  } else if (run.options.createthumbs == 0 || image_count == 0) {
    PruneAllThumbnails(folder);
  }
}

}  // namespace

void WriteFolderPages(TIndexRun& run, int32_t depth, const TFolderPlace& place, const char* first,
                      TStringManager& subfolders, TStringManager& images) {
  const char* folder = place.output;  // where everything of this folder is written
  const bool redirect = subfolders.TotalEntries() == 1 && images.TotalEntries() == 0;
  TFolderOutput output(run, folder);
  if (images.TotalEntries() == 0 && (subfolders.TotalEntries() == 0 || run.options.hlinks == 0)) {
    PruneAfterFolder(run, output, 0, nullptr);
    return;
  }
  RemoveLeftoverTemporaries(folder, place.leftovers);

  int32_t page = 0;
  int32_t before = 0;
  int32_t col = 0;
  int32_t row = 0;
  int32_t page_cells = 0;  // cells on the open page, counted once it is in place
  std::string text;
  // Thumbnails from earlier runs are reused or moved into place first; the
  // others are produced ahead on every core. The manifest is written when
  // the folder is left, however it is left.
  TThumbReuse reuse(run, place.source, folder, images);
  TCellProducer cells(run, place.source, folder, images, &reuse);
  for (const TStrEntry* image = SortedImageWalk(images, run.options.order); image != nullptr; image = image->walk) {
    if (!output.IsOpen() &&
        !OpenCatalogPage(run, output, depth, page, redirect, subfolders, images, before, first)) {
      return;
    }
    text.clear();
    if (col == 0) text += "<tr>";
    text += "<td><a href=\"";
    AppendOriginalUrl(text, place, image->name);
    text += "\">";
    if (AppendImageTag(text, run, place, image->name, before, cells, reuse)) {
      text += '>';
      if (run.options.includefilenames != 0) {
        text += "<br>";
        AppendHtmlText(text, CellCaption(run, place, image->name).c_str());
      }
    } else {
      AppendHtmlText(text, image->name);
    }
    text += "</a></td>\n";
    bool page_complete = false;
    // col + 1 cannot overflow; cellsperrow - 1 would for the lowest 32-bit count.
    if (col + 1 >= run.options.cellsperrow) {
      text += "</tr>";
      col = 0;
      const int32_t rows_before = row++;
      if (run.options.rowsperpage > 0 && rows_before >= run.options.rowsperpage - 1) {
        row = 0;
        ++page;
        text += "</table>";
        page_complete = true;
      }
    } else {
      ++col;
    }
    output.Page().Write(text);
    if (page_complete) {
      if (!FinishCatalogPage(run, output, page - 1)) {
        run.counters.filecount -= page_cells;  // the cells of a page not written were not written
        return;
      }
      page_cells = 0;
    }
    ++before;
    ++run.counters.filecount;
    ++page_cells;
    PostToOwner(run, WM_INDEX_PROGRESS);
  }
  if (output.IsOpen()) {
    text.clear();
    if (col != 0) text += "</tr>";
    if (row != 0 || col != 0) text += "</table>\n";
    output.Page().Write(text);
  }
  if (images.TotalEntries() == 0 &&
      !OpenCatalogPage(run, output, depth, 0, redirect, subfolders, images, 0, first)) {
    return;
  }
  if (output.IsOpen() && !FinishCatalogPage(run, output, page)) {
    run.counters.filecount -= page_cells;
    return;
  }
  if (run.options.blinks != 0 && !WriteBackLinkPage(output, first, redirect && depth > 0)) return;
  PruneAfterFolder(run, output, images.TotalEntries(), &reuse);
}
