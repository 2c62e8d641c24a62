// The width and height attributes of a full-image cell, and the probe log.

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "engine/image_cell.h"
#include "imagein/loader.h"
#include "raster/membitmap.h"

namespace {

constexpr const char* kProbeLogName = "fn.log";

// One line per full-image cell, in the current folder, with the CR LF line
// end every generated text file has. Appended and closed per line.
void AppendProbeLog(const char* image_path) {
  const int fd = ::open(kProbeLogName, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666);
  if (fd < 0) return;
  std::string line = image_path;
  line += "\r\n";
  // One write call, so lines of concurrent runs do not interleave.
  const ssize_t written = ::write(fd, line.data(), line.size());
  (void)written;
  ::close(fd);
}

void AppendAttribute(std::string& out, const char* name, int32_t value) {
  char text[32];
  std::snprintf(text, sizeof text, " %s=%d", name, value);
  out += text;
}

}  // namespace

void WriteImageSize(std::string& out, const char* image_path, const TCellOptions& options) {
  AppendProbeLog(image_path);
  int32_t width = 0;
  int32_t height = 0;
  if (!ProbeImageSize(image_path, &width, &height) || width <= 0 || height <= 0) {
    // The browser scales to the cell's width and keeps the proportions.
    AppendAttribute(out, "width", options.cellwidth);
    return;
  }
  TBltRect box{0, 0, options.cellwidth, options.cellheight};
  const TBltRect src{0, 0, width, height};
  FitRect(box, src, 1, 0, 1, width, height, 1);
  AppendAttribute(out, "width", box.right - box.left);
  AppendAttribute(out, "height", box.bottom - box.top);
}
