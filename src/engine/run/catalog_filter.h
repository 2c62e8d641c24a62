#pragma once
// Which names a walk takes: the image patterns of the `formats` setting, the
// user's exclusions, the hidden and NAS metadata folders, and the images no
// browser shows when no thumbnail is made for them.

#include <cstddef>
#include <string>
#include <vector>

#include "engine/run/index_run.h"

// The listing patterns of a formats value, from the format table: classic
// (also for anything unknown) takes "*.gif", "*.jpg", "*.bmp", all every
// extension of every row.
const char* const* CatalogPatterns(int32_t formats, size_t* count);

// The patterns a folder's listing takes: CatalogPatterns and, with the
// modern style unless videos are off, the video patterns of the format table.
// Videos are listed with --video=off too (to be counted and left out).
std::vector<const char*> WalkPatterns(const TIndexOptions& options);

// Parses "link", "transcode" or "off"; false for anything else.
bool ParseVideoMode(const char* text, int32_t* mode);
const char* VideoModeName(int32_t mode);

// Parses "classic" or "all"; false for anything else.
bool ParseCatalogFormats(const char* text, int32_t* formats);
const char* CatalogFormatsName(int32_t formats);

// True when `name` matches one of the run's exclusion patterns.
bool IsExcludedName(const TIndexRun& run, const char* name);

// True for a folder the walk leaves out: excluded, or hidden/NAS metadata
// with skiphidden set.
bool IsSkippedFolder(const TIndexRun& run, const char* name);

// True for an image that no browser shows (by the format table: HEIC/HEIF,
// TIFF, Targa, FITS)
// when a classic run makes no thumbnails: such a file is left out of the
// catalog. The modern style always makes its images, a web copy among them.
bool IsUndisplayableWithoutThumbnail(const TIndexRun& run, const char* name);

// Resolves the values left to follow the style: every format, natural
// order, pruning and hidden folders left out with the modern style; the
// described behaviour with the classic one.
void ResolveStyleDefaults(TIndexOptions& options);

// Splits a ';'-separated list (the stored form of `exclude`); empty items dropped.
std::vector<std::string> SplitPatternList(const std::string& text);
std::string JoinPatternList(const std::vector<std::string>& patterns);
