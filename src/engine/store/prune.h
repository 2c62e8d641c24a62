#pragma once
// Removal of the generated files of a folder that a run no longer produces:
// only regular files (never a link) that a manifest shows a run wrote.

#include <cstdint>

#include "engine/store/thumb_manifest.h"

// Removes the thumbnails that `manifest` lists at numbers `kept` and above.
// With `kept` 0 the manifest goes too, and the thumbnail folder when that
// leaves it empty. A thumbnail folder that is a link is left alone.
void PruneThumbnails(const char* folder, int32_t kept, const TThumbManifest& manifest);

// PruneThumbnails with the manifest read from the folder.
void PruneAllThumbnails(const char* folder);

// Path of the thumbnail folder of `folder`, and whether it is a real folder
// (not a link); false when the path does not fit.
bool ThumbnailFolderPath(char* out, size_t capacity, const char* folder);

// The modern style's per-image files in `folder`'s thumbnail folder
// (quarto_tn/vc-<16 hex>-1x.jpg, -2x.jpg, -web.jpg) that the folder's modern
// manifest shows a run made for an image not among `names` (the folder's
// current images). A file the manifest does not list stays, whatever its
// name. Pages go by the folder's page record (TFolderOutput::PruneUnwritten).
void PruneModernFiles(const char* folder, const char* const* names, int32_t count);
