// Size probes: the logical screen of a GIF, the frame size of a JPEG. Only
// headers are read; nothing is decoded.

#include <cstdio>

#include "imagein/jpeg_adapter.h"
#include "imagein/loader.h"
#include "support/path_util.h"

bool GifReadScreenSize(const char* path, int32_t* width, int32_t* height) {
  *width = 0;
  *height = 0;
  // Only a regular file is opened: a FIFO named x.gif must not hold the run.
  std::FILE* file = OpenRegularFileForReading(path);
  if (file == nullptr) return false;
  unsigned char signature[6];
  unsigned char screen[7];
  const bool is_gif = std::fread(signature, 1, sizeof signature, file) == sizeof signature &&
                      signature[0] == 'G' && signature[1] == 'I' && signature[2] == 'F';
  // The width and height are the descriptor's first four bytes; a file cut
  // before them has no size to report.
  const bool has_size = is_gif && std::fread(screen, 1, sizeof screen, file) >= 4;
  std::fclose(file);
  if (!has_size) return false;
  *width = screen[0] | (screen[1] << 8);
  *height = screen[2] | (screen[3] << 8);
  return true;
}

bool ProbeImageSize(const char* path, int32_t* width, int32_t* height) {
  if (HasExtension(path, ".gif")) return GifReadScreenSize(path, width, height);
  if (HasExtension(path, ".jpg") || HasExtension(path, ".jpe") || HasExtension(path, ".jpeg")) {
    return JpegReadSize(path, width, height) != 0;
  }
  return false;
}
