#pragma once
// The reader path of the loading front end with the reader given by its
// constructor: LoadImageWithReader picks the constructor by reader kind; a
// test may run a reader of its own through the same path.

#include <cstdint>

#include "imagein/format_table.h"
#include "imagein/image_source.h"
#include "raster/membitmap.h"


// `is_gif` asks for the transparent colour through GifTransparentColor.
int32_t LoadImageWithSource(const char* path, int32_t requested_width, int32_t requested_height,
                            TMemBitmap& bitmap, int32_t load_flags, const char* key,
                            TSourceCreate create, bool is_gif);
