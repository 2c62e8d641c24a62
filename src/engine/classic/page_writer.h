#pragma once
// The catalog pages of one folder: pages of image cells chained by Previous
// and Next, the hierarchy list of subfolders, redirect pages, "Up Level"
// links, the back-link page, and the head and foot from the options or from
// template files.

#include <cstddef>
#include <cstdint>

#include "engine/publish/folder_place.h"
#include "engine/store/generated_names.h"
#include "engine/store/page_file.h"
#include "engine/store/page_output.h"
#include "engine/run/index_run.h"
#include "support/strman.h"

// Writes every page and the back-link page of a folder, reading the images
// from place.source and writing everything into place.output, the cells
// reaching the originals through `place`. `subfolders` holds the subfolders
// with images below them (payload: their image totals), `images` the
// folder's image file names.
void WriteFolderPages(TIndexRun& run, int32_t depth, const TFolderPlace& place, const char* first,
                      TStringManager& subfolders, TStringManager& images);

// Opens page `page` of the folder in `output` and writes it up to and
// including the table's start tag. False (reported) when the page cannot be
// started. `first` is the name of the folder's first page (page 0).
bool OpenCatalogPage(TIndexRun& run, TFolderOutput& output, int32_t depth, int32_t page,
                     bool redirect, TStringManager& subfolders, TStringManager& images, int32_t before,
                     const char* first = kFirstPageName);

// "vellumcast.html" for page 0, "vellumcast<n>.html" after it; with a folder
// (non-null) joined to it. False when the path would exceed kMaxPath.
bool PageFileName(char* out, size_t capacity, const char* folder, int32_t page);
// The same with `first` as the name of page 0.
bool PageFileName(char* out, size_t capacity, const char* folder, int32_t page, const char* first);

void WriteHeaderTemplate(const TIndexRun& run, TPageFile& file);
void WritePageFoot(const TIndexRun& run, TPageFile& file);
