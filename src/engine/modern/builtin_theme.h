#pragma once
// The built-in theme of the modern pages: the files of themes/default in the
// source tree, built into the program (cmake/embed_theme.cmake), so the
// default pages need no file at run time.

#include <cstddef>
#include <span>

struct TBuiltinThemeFile {
  const char* name;            // file name, e.g. "folder.mustache"
  const unsigned char* bytes;
  size_t size;
};

// Every file of the built-in theme, in name order.
std::span<const TBuiltinThemeFile> BuiltinThemeFiles();
