#pragma once
// Removes what index runs wrote below a folder: catalog pages, back-link
// pages, viewer pages, thumbnails, manifests, their temporary names, and the
// thumbnail folders that this emptied. Names are judged by the exact patterns
// of generated_names.h, never by a part of the name; besides them, a folder's
// page record (page_record.h) names the pages runs wrote there under other
// names (a first page such as index.html).

#include <cstdint>

#include "engine/store/generated_names.h"

struct TCleanResult {
  int32_t files_removed = 0;
  int32_t folders_removed = 0;
};

struct TCleanOptions {
  // The first page's file name of the runs to undo. A name other than the
  // vellumcast page pattern is removed only when the file carries the
  // generator marker (IsGeneratedPageContent).
  const char* firstpage = kFirstPageName;
  // List what would go, remove nothing; the result counts what would go.
  bool dry_run = false;
  // Called with each path removed (in a dry run: that would be removed),
  // folders after their contents. May be null.
  void (*on_remove)(const char* path, bool is_folder, void* context) = nullptr;
  void* context = nullptr;
};

TCleanResult DeleteGenerated(const char* folder, const TCleanOptions& options = TCleanOptions());
