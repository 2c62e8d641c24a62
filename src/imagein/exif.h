#pragma once
// What an image file's EXIF block says: orientation, date taken, camera and
// exposure. Read through a maintained EXIF library; a file without EXIF, or
// with a damaged block, gives the defaults. Never throws.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

struct TExifFacts {
  int32_t orientation = 1;  // 1-8 as EXIF defines them; 1 when absent or out of range
  std::string date_taken;   // DateTimeOriginal (else DateTime) as "YYYY-MM-DD HH:MM:SS", or empty
  std::string camera;       // "Make Model" (Model alone when it starts with Make), or empty
  std::string exposure;     // e.g. "1/250 s, f/2.8, ISO 100, 35 mm" (the parts present), or empty
};

// Reads the EXIF facts of the file at `path` (JPEG; other containers when the
// library reads them). False when the file has no readable EXIF block: then
// `facts` holds the defaults.
bool ReadExifFacts(const char* path, TExifFacts* facts);

// The same from a JPEG stream at its start. `ran_out` tells, when the facts
// were not found, whether the stream ended before the search was over (a
// head read into memory that was too short to tell).
bool ReadExifFactsFromStream(std::FILE* stream, TExifFacts* facts, bool* ran_out);

// The same from the bytes of an EXIF block (the APP1 payload after "Exif\0\0",
// or with it). For decoders that hold the block already.
bool ParseExifFacts(const uint8_t* data, size_t size, TExifFacts* facts);
