#pragma once
// Which names a walk takes: the image patterns of the `formats` setting, the
// user's exclusions, the hidden and NAS metadata folders, and the images no
// browser shows when no thumbnail is made for them.

#include <cstddef>
#include <string>
#include <vector>

#include "engine/thread_vellumcast.h"

enum TCatalogFormats : int32_t { kFormatsClassic = 0, kFormatsAll = 1 };

// The listing patterns of a formats value (classic for anything unknown).
const char* const* CatalogPatterns(int32_t formats, size_t* count);

// Parses "classic" or "all"; false for anything else.
bool ParseCatalogFormats(const char* text, int32_t* formats);
const char* CatalogFormatsName(int32_t formats);

// True when `name` matches one of the worker's exclusion patterns.
bool IsExcludedName(const TThreadVellumcast& worker, const char* name);

// True for a folder the walk leaves out: excluded, or hidden/NAS metadata
// with skiphidden set.
bool IsSkippedFolder(const TThreadVellumcast& worker, const char* name);

// True for an image that no browser shows (HEIC/HEIF, TIFF, Targa, FITS)
// when the run makes no thumbnails: such a file is left out of the catalog.
bool IsUndisplayableWithoutThumbnail(const TThreadVellumcast& worker, const char* name);

// A formats, order, prune or skiphidden value that follows the style: set
// where nothing chose one, resolved by ResolveStyleDefaults.
inline constexpr int32_t kFollowStyle = -1;

// Resolves the values left to follow the style: every format, natural
// order, pruning and hidden folders left out with the modern style; the
// described behaviour with the classic one.
void ResolveStyleDefaults(TThreadVellumcast& worker);

// Splits a ';'-separated list (the stored form of `exclude`); empty items dropped.
std::vector<std::string> SplitPatternList(const std::string& text);
std::string JoinPatternList(const std::vector<std::string>& patterns);
