#pragma once
// Pieces shared by the modern folder pages and viewer pages.

#include <cstdint>
#include <string>

#include "engine/publish/folder_place.h"
#include "engine/modern/images.h"
#include "engine/modern/theme.h"
#include "engine/run/index_run.h"
#include "engine/store/page_output.h"

// What every page of one folder shares.
struct TModernFolder {
  TIndexRun* run = nullptr;
  int32_t depth = 0;
  const char* folder = nullptr;  // where the pages are written
  const TFolderPlace* place = nullptr;  // how the originals are reached; null: beside the pages
  const char* first = nullptr;   // name of the folder's first page
  std::string name;              // the folder's name as shown
  std::string head_extra;        // style sheets of the header template
  std::string body_top;          // header template markup
  std::string body_end;          // footer template markup
  TModernTheme* theme = nullptr;  // the templates the pages come from
};

// The URL of the original `name` from the folder's pages.
void AppendModernOriginal(std::string& out, const TModernFolder& folder, const char* name);

// The folder's name as shown: its last path component; for the top folder
// the name of the folder it resolves to.
std::string FolderDisplayName(const char* folder, int32_t depth);

// The values every page of the folder hands its theme for the document's
// head and end: title (text), refresh (an encoded relative URL, or false),
// body_class (or false), cellwidth, cellheight, head_extra (the header
// template's style sheets, markup), footertext (text, or false) and
// body_end (the footer template's markup).
TThemeView ModernPageView(const TModernFolder& folder, const std::string& title, const std::string* refresh_url,
                          const char* body_class);

// Writes the page `name` of `kind` rendered from `view` with the folder's
// theme, unless the output finds it current (then it is not rendered).
// False when it could not be written.
bool WriteModernPage(TFolderOutput& output, const TModernFolder& folder, TPageKind kind, TThemePage page,
                     const char* name, const TThemeView& view);

// A text value, or false when it is empty (so {{#name}} leaves it out).
TThemeView OptionalText(const std::string& text);

// "name - title" (or the name alone when the catalog title is empty).
std::string ModernTitle(const TModernFolder& folder, const std::string& name);

// The file name of page `page` of the folder (page 0: the first page).
std::string ModernPageName(const TModernFolder& folder, int32_t page);

// "vellumcast-view-<16 hex>.html" for the image `name`.
std::string ViewerPageName(const char* name);


// width and height as text, and sized: true when both are positive.
void SetImageSize(TThemeView& view, int32_t width, int32_t height);
