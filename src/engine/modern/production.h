#pragma once
// The making of one source image's modern images, and their reuse when the
// folder's manifest says they were made from the same file with the same
// settings.

#include <vector>

#include "engine/modern/images.h"
#include "engine/store/modern_manifest.h"

// Reuses or makes the images of source/name, kept with the manifest below
// `folder`. `entries` is the folder's manifest (sorted by name). On success
// `made` is the entry to record (its result filled) and the result is true;
// false when the image cannot be decoded or its images not written
// (`made->result.facts` then holds what is known of the image).
bool ProduceOrReuseModernImages(const char* source, const char* folder, const char* name,
                                const TModernImageOptions& options,
                                const std::vector<TModernManifestEntry>& entries, TModernManifestEntry* made);
