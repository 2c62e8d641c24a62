#pragma once
// Pieces shared by the modern folder pages and viewer pages.

#include <cstdint>
#include <string>

#include "engine/folder_place.h"
#include "engine/modern_images.h"
#include "engine/thread_vellumcast.h"

// What every page of one folder shares.
struct TModernFolder {
  TThreadVellumcast* worker = nullptr;
  int32_t depth = 0;
  const char* folder = nullptr;  // where the pages are written
  const TFolderPlace* place = nullptr;  // how the originals are reached; null: beside the pages
  const char* first = nullptr;   // name of the folder's first page
  std::string name;              // the folder's name as shown
  std::string head_extra;        // style sheets of the header template
  std::string body_top;          // header template markup
  std::string body_end;          // footer template markup
};

// The URL of the original `name` from the folder's pages.
void AppendModernOriginal(std::string& out, const TModernFolder& folder, const char* name);

// The folder's name as shown: its last path component; for the top folder
// the name of the folder it resolves to.
std::string FolderDisplayName(const char* folder, int32_t depth);

// "<!doctype html>" up to and including "<body...>": charset, viewport,
// generator marker, the optional refresh (an encoded relative URL), the
// title text, the style sheet and the template's style sheets.
void AppendModernHead(std::string& out, const TModernFolder& folder, const std::string& title,
                      const std::string* refresh_url, const char* body_class);

// "name - title" (or the name alone when the catalog title is empty).
std::string ModernTitle(const TModernFolder& folder, const std::string& name);

// The footer landmark with the footer text, the footer template, and the
// document's end.
void AppendModernFoot(std::string& out, const TModernFolder& folder);

// The file name of page `page` of the folder (page 0: the first page).
std::string ModernPageName(const TModernFolder& folder, int32_t page);

// "vellumcast-view-<16 hex>.html" for the image `name`.
std::string ViewerPageName(const char* name);

// True for the file types every current browser shows in an img element.
bool IsBrowserImageName(const char* name);

void AppendNumber(std::string& out, int64_t value);
