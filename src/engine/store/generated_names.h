#pragma once
// The exact names of the files and folders that index runs write. The
// clean-up, pruning and the "never overwrite a user's file" checks all go
// through these predicates, so a name is generated only when it matches one
// of these patterns exactly (without regard to case, as a tree copied from a
// case-insensitive disk may have them), never by a part of the name.
//
// In a catalog folder:
//   vellumcast.html, vellumcast<N>.html     catalog pages (N: 1, 2, ...)
//   imageback.html                          back-link page
//   vellumcast-view-<16 hex>.html           viewer page of one image
//   vellumcast-originals.list               originals a run placed beside the pages (output folders only)
//   vellumcast-pages.list                   the pages runs wrote here (page_record.h)
//   vellumcast-search.js                    the search index of a modern catalog (its top folder)
// In its thumbnail folder quarto_tn/:
//   quarto_tn<N>.jpg                        cell thumbnails (N: 0, 1, ...)
//   vc-<16 hex>-1x.jpg, -2x.jpg, -web.jpg   thumbnails and web copies named per source image
//   vc-<16 hex>-web.mp4                     web copy of a video browsers do not play
//   vellumcast.manifest                     what the folder's thumbnails were made from
//   vellumcast-modern.manifest              what its per-image thumbnails and web copies were made from
// And each of these followed by a run's temporary suffix
// (".tmp<digits>-<digits>", ".tmp<digits>_<digits>", ".tmp<digits>_w<digits>").
//
// A first page under another name (index.html) is generated only when its
// content carries kGeneratorMarker near its start.

#include <cstddef>
#include <cstdint>
#include <string>

inline constexpr const char* kFirstPageName = "vellumcast.html";  // the first page's default name
inline constexpr const char* kThumbnailFolder = "quarto_tn";
inline constexpr const char* kBackLinkPageFile = "imageback.html";
inline constexpr const char* kManifestFile = "vellumcast.manifest";
inline constexpr const char* kModernManifestFile = "vellumcast-modern.manifest";
inline constexpr const char* kOriginalsRecordFile = "vellumcast-originals.list";
inline constexpr const char* kPageRecordFile = "vellumcast-pages.list";
inline constexpr const char* kViewerPagePrefix = "vellumcast-view-";
inline constexpr const char* kSearchIndexFile = "vellumcast-search.js";
// Suffixes of the images named per source image: 1x and 2x thumbnails, web copy.
inline constexpr int kNamedImageKinds = 3;
inline constexpr const char* kNamedImageSuffixes[kNamedImageKinds] = {"-1x.jpg", "-2x.jpg", "-web.jpg"};
// Suffix of a video's web copy (its poster thumbnails take the 1x and 2x suffixes).
inline constexpr const char* kNamedVideoSuffix = "-web.mp4";
inline constexpr const char* kGeneratorMarker = "<meta name=\"generator\" content=\"Vellumcast\">";
// How far into a page the marker is looked for.
inline constexpr size_t kGeneratorMarkerWindow = 4096;

// vellumcast.html (page 0) or vellumcast<N>.html with N >= 1 written without
// leading zeros; `page` (may be null) receives N.
bool IsCatalogPageName(const char* name, int32_t* page = nullptr);
// The file name of a folder's catalog page `page`, classic or modern:
// `first` for page 0, vellumcast<N>.html after it.
std::string CatalogPageName(int32_t page, const char* first = kFirstPageName);
bool IsBackLinkPageName(const char* name);
bool IsViewerPageName(const char* name);
bool IsOriginalsRecordName(const char* name);
bool IsPageRecordName(const char* name);
bool IsSearchIndexName(const char* name);
bool IsThumbnailFolderName(const char* name);
// quarto_tn<N>.jpg, N >= 0 without leading zeros; `position` (may be null) receives N.
bool IsCellThumbnailName(const char* name, int32_t* position = nullptr);
// The cell thumbnail of `position` relative to its catalog folder:
// "quarto_tn/quarto_tn<N>.jpg" with this build's separator. False when it
// does not fit in `capacity`.
bool CellThumbnailPath(char* out, size_t capacity, int32_t position);
bool IsNamedImageName(const char* name);
bool IsManifestName(const char* name);
bool IsModernManifestName(const char* name);

// A file a run writes directly in a catalog folder (pages, back-link page,
// viewer pages, the search index, the originals and page records), or one of their temporary names.
bool IsGeneratedFolderFileName(const char* name);
// A file a run writes inside a thumbnail folder, or one of their temporary names.
bool IsGeneratedThumbnailFileName(const char* name);
// `name` is `base` of one of the predicates above followed by a temporary suffix;
// `base_length` (may be null) receives the length of that base.
bool HasTemporarySuffix(const char* name, size_t* base_length = nullptr);

// True when the thumbnail folder of the catalog folder `folder` is a
// symbolic link: nothing is written through it, in either style, since it may
// lead anywhere, even onto the folder's own images.
bool IsLinkedThumbnailFolder(const char* folder);
// Why a file of a linked thumbnail folder was not written.
inline constexpr const char* kLinkedFolderReason = "its folder is a symbolic link";

// True when the regular file at `path` (not followed through a link) carries
// kGeneratorMarker within its first kGeneratorMarkerWindow bytes.
bool IsGeneratedPageContent(const char* path);

// "vc-<16 hex>" from the source image's file name: the stable stem of the
// images named per source image. `out` holds at least 20 bytes.
void NamedImageStem(const char* source_name, char* out, size_t capacity);
