#pragma once
// Originals placed beside the pages of an output folder: copies or hard
// links of the photo folder's images. Each output folder records what runs
// placed there (kOriginalsRecordFile), with the size and modification time
// each file had, so that re-runs leave unchanged copies alone and the
// clean-up removes only files a run placed and nobody changed since.

#include <cstdint>
#include <string>
#include <vector>

#include "engine/publish/folder_place.h"
#include "engine/run/index_run.h"
#include "support/strman.h"

// "link", "copy" or "hardlink" (also "hard link", and the numbers 0 to 2)
// into its number. False for anything else.
bool ParseImagesMode(const char* text, int32_t* mode);
const char* ImagesModeName(int32_t mode);

// Places every image of `images` in place.output (copies, or hard links
// falling back to copies where no link can be made) and lists in
// place.local the ones now there. A file in the output folder that no run
// recorded is never replaced: that image is reached by its link instead.
// With pruning on, recorded originals whose images are gone are removed.
void PlaceOriginals(TIndexRun& run, TFolderPlace& place, TStringManager& images);

// The paths of the recorded originals of `folder` that are still as a run
// placed them (regular files of the recorded size and time): what the
// clean-up may remove.
std::vector<std::string> RecordedOriginalsInPlace(const char* folder);
