#pragma once
// Removes generated pages, back-link pages, thumbnails and thumbnail folders below a folder.

#include <cstdint>

struct TCleanResult {
  int32_t files_removed = 0;
  int32_t folders_removed = 0;
};

TCleanResult DeleteGenerated(const char* folder);
