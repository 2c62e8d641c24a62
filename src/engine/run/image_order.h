#pragma once
// The order of a folder's images on its pages (and so the numbering of their
// thumbnails): byte order of the names, natural order (img2 before img10), or
// by date (when taken, else the file's modification time, then the name).

#include <cstdint>

#include "engine/run/index_options.h"
#include "support/strman.h"


// The image table's entries: a name and, for the date order, its date.
struct TImageEntry : TStrEntry {
  int64_t date;  // seconds since 1970 (UTC for modification times), or 0 when unknown
};

// Digit runs compared as numbers, the rest without regard to case, and names
// equal so far in plain byte order: a total order. <0, 0 or >0 as strcmp.
int NaturalCompare(const char* a, const char* b);

// Before-relation of the image table's sorted walk for an order (user data).
bool CompareImages(const TStrEntry* a, const TStrEntry* b, intptr_t order);

// The walk of `images` in `order` (the page writer's and the thumbnail
// producer's order). The table's entries are TImageEntry when order is kOrderDate.
TStrEntry* SortedImageWalk(TStringManager& images, int32_t order);

// Fills each entry's date from the image file in `folder`: when it was taken
// (a JPEG's EXIF DateTimeOriginal, else DateTime), else its modification
// time; 0 when neither can be read.
void ReadImageDates(TStringManager& images, const char* folder);

// Parses "name", "natural" or "date"; false for anything else.
bool ParseImageOrder(const char* text, int32_t* order);
const char* ImageOrderName(int32_t order);
