#pragma once
// The settings a first start of the window shows. A run started from the
// command line starts from the same values, so both front ends make the same
// catalog of the same tree. (TIndexOptions keeps its own defaults.)

#include <cstdint>
#include <string>

#include "engine/run/index_options.h"
#include "support/product.h"

inline constexpr int32_t kFirstStartCellWidth = 140;
inline constexpr int32_t kFirstStartCellHeight = 100;
inline constexpr int32_t kFirstStartCellsPerRow = 4;
inline constexpr int32_t kFirstStartRowsPerPage = 4;
inline constexpr const char* kFirstStartTitle = "Vellumcast!";
inline constexpr const char* kFooterTextPrefix = "Produced by Vellumcast! ";

inline std::string FirstStartFooterText() { return std::string(kFooterTextPrefix) + kHomePageAddress; }

// Sets the options whose first-start value differs from TIndexOptions' own default.
inline void ApplyFirstStartDefaults(TIndexOptions& options) {
  options.cellwidth = kFirstStartCellWidth;
  options.cellheight = kFirstStartCellHeight;
  options.cellsperrow = kFirstStartCellsPerRow;
  options.rowsperpage = kFirstStartRowsPerPage;
  options.title = kFirstStartTitle;
  options.footertext = FirstStartFooterText();
}
