#pragma once
// The catalog pages of one folder: pages of image cells chained by Previous
// and Next, the hierarchy list of subfolders, redirect pages, "Up Level"
// links, the back-link page, and the head and foot from the options or from
// template files.

#include <cstddef>
#include <cstdint>

#include "engine/folder_place.h"
#include "engine/page_file.h"
#include "engine/thread_vellumcast.h"
#include "support/strman.h"

// Writes every page and the back-link page of a folder, reading the images
// from place.source and writing everything into place.output, the cells
// reaching the originals through `place`. `subfolders` holds the subfolders
// with images below them (payload: their image totals), `images` the
// folder's image file names.
void WriteFolderPages(TThreadVellumcast& worker, int32_t depth, const TFolderPlace& place, const char* first,
                      TStringManager& subfolders, TStringManager& images);

// Creates page `page` of the folder and writes it up to and including the
// table's start tag. False when the file cannot be created. `first` is the
// name of the folder's first page (page 0).
bool OpenCatalogPage(TThreadVellumcast& worker, TPageFile& file, int32_t depth, const char* folder,
                     int32_t page, bool redirect, TStringManager& subfolders, TStringManager& images,
                     int32_t before, const char* first = "vellumcast.html");

// "vellumcast.html" for page 0, "vellumcast<n>.html" after it; with a folder
// (non-null) joined to it. False when the path would exceed kMaxPath.
bool PageFileName(char* out, size_t capacity, const char* folder, int32_t page);
// The same with `first` as the name of page 0.
bool PageFileName(char* out, size_t capacity, const char* folder, int32_t page, const char* first);

void WriteHeaderTemplate(const TThreadVellumcast& worker, TPageFile& file);
void WritePageFoot(const TThreadVellumcast& worker, TPageFile& file);

// Position of the lower-case `needle` in the `length` bytes of `line`,
// without regard to case; -1 when absent.
ptrdiff_t FindNoCase(const char* line, size_t length, const char* needle);
