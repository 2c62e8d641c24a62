#pragma once
// The viewer page of one image in the modern style: static HTML that works
// without script. The photo fitted to the window (its web copy when there
// is one, else the original), Previous / Next / back to the folder page that
// holds the image, the file name, pixel size and the EXIF facts present, a
// link to the original; a short script adds the arrow keys, Escape and swipes.

#include <cstdint>
#include <string>

#include "engine/modern/images.h"
#include "engine/modern/page_parts.h"

struct TModernViewerImage {
  const char* name = nullptr;            // the image's file name
  const TModernImageResult* result = nullptr;
  bool produced = false;                 // the images of `result` were made
  std::string folder_page;               // file name of the folder page holding it
  const char* previous = nullptr;        // neighbours' file names, or null
  const char* next = nullptr;
  int32_t position = 0;                  // 0-based, of `count`
  int32_t count = 0;
};

// The values of the page (TThemePage::kViewer); WriteModernPage renders and
// writes it.
TThemeView ModernViewerView(const TModernFolder& folder, const TModernViewerImage& image);
