#pragma once
// The EXIF orientation of an image file, for turning it upright.

#include <cstdint>

// 1-8 as EXIF defines them: from the EXIF block of a JPEG file (".jpg",
// ".jpe", ".jpeg"); 1 for other files and for files without one.
int32_t ProbeImageOrientation(const char* path);
