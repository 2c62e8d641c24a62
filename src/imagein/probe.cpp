// Size probes: the logical screen of a GIF, the frame size of a BMP or Targa
// file, and the front end's probe by the format table. Only headers are
// read; nothing is decoded.

#include <climits>
#include <cstdint>

#include "imagein/format_table.h"
#include "imagein/loader.h"
#include "support/path_util.h"

bool GifReadScreenSize(const char* path, int32_t* width, int32_t* height) {
  *width = 0;
  *height = 0;
  // The signature (6 bytes) and the logical screen descriptor (7 bytes). The
  // width and height are the descriptor's first four bytes; a file cut
  // before them has no size to report.
  unsigned char head[13];
  const long got = ReadRegularFileHead(path, head, sizeof head);
  if (got < 10 || head[0] != 'G' || head[1] != 'I' || head[2] != 'F') return false;
  *width = head[6] | (head[7] << 8);
  *height = head[8] | (head[9] << 8);
  return true;
}

bool BmpReadSize(const char* path, int32_t* width, int32_t* height) {
  *width = 0;
  *height = 0;
  // File header (14 bytes), then the info header's size and the frame size:
  // 16-bit fields in the OS/2 header of 12 bytes, 32-bit ones (the height
  // negative for top-down rows) in the others.
  unsigned char head[26];
  if (ReadRegularFileHead(path, head, sizeof head) != static_cast<long>(sizeof head)) return false;
  if (head[0] != 'B' || head[1] != 'M') return false;
  const uint32_t info_size = head[14] | (head[15] << 8) | (head[16] << 16) | (uint32_t{head[17]} << 24);
  if (info_size == 12) {
    *width = head[18] | (head[19] << 8);
    *height = head[20] | (head[21] << 8);
    return true;
  }
  const auto w = static_cast<int32_t>(head[18] | (head[19] << 8) | (head[20] << 16) | (uint32_t{head[21]} << 24));
  const auto h = static_cast<int32_t>(head[22] | (head[23] << 8) | (head[24] << 16) | (uint32_t{head[25]} << 24));
  if (w <= 0 || h == INT32_MIN) return false;
  *width = w;
  *height = h < 0 ? -h : h;
  return true;
}

bool TargaReadSize(const char* path, int32_t* width, int32_t* height) {
  *width = 0;
  *height = 0;
  // The 18-byte header: width and height are 16-bit fields at 12 and 14.
  unsigned char head[18];
  if (ReadRegularFileHead(path, head, sizeof head) != static_cast<long>(sizeof head)) return false;
  *width = head[12] | (head[13] << 8);
  *height = head[14] | (head[15] << 8);
  return true;
}

bool ProbeImageSize(const char* path, int32_t* width, int32_t* height) {
  int32_t orientation = 1;
  return ProbeImageSizeAndOrientation(path, width, height, &orientation);
}

bool ProbeImageSizeAndOrientation(const char* path, int32_t* width, int32_t* height, int32_t* orientation) {
  *orientation = 1;
  // Files no probe reads leave the size as it was.
  const TFormatRow* row = FormatOfPath(path);
  if (row == nullptr || row->probe == nullptr) return false;
  TImageProbe probe;
  const bool known = row->probe(path, &probe);
  *width = probe.width;
  *height = probe.height;
  *orientation = probe.orientation;
  return known;
}
