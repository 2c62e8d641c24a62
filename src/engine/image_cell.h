#pragma once
// The img tag of one image cell: the full image with fitted width and height,
// or a cell-sized JPEG thumbnail written beside the images.

#include <cstdint>
#include <string>

struct TCellOptions {
  int32_t cellwidth = 120;
  int32_t cellheight = 80;
  int32_t thumbwhite = 0;   // background byte: 0 black, 255 white
};

// Appends " width=W height=H" (or " width=cellwidth" when the size cannot be
// probed) for the full image at `image_path` as the browser shows it (upright
// by its EXIF orientation), and logs the path to fn.log.
void WriteImageSize(std::string& out, const char* image_path, const TCellOptions& options);

// While one exists, the fn.log lines of its thread go through one descriptor,
// opened (append only, in the current folder) at the first line and closed
// with the session, instead of an open and a close per line. Each line is
// still one write, so the file is as complete after every line. Sessions
// nest; without one, every line opens and closes the file.
class TProbeLogSession {
 public:
  TProbeLogSession();
  ~TProbeLogSession();
  TProbeLogSession(const TProbeLogSession&) = delete;
  TProbeLogSession& operator=(const TProbeLogSession&) = delete;

  // The innermost session of the calling thread, or none.
  static TProbeLogSession* Current();
  // Appends the line `image_path` CR LF with one write; opens the file
  // first when it is not open yet, and tries again at the next line if that
  // fails.
  void Append(const char* image_path);

 private:
  int fd_ = -1;
  TProbeLogSession* outer_ = nullptr;
};

// Decodes folder/name, writes folder/quarto_tn/quarto_tn<position>.jpg and
// appends "<img src=quarto_tn/quarto_tn<position>.jpg width=W height=H"
// (left open for the page writer's ">"). Returns 1, or 0 with nothing
// appended when the image cannot be decoded or the thumbnail not written.
int WriteThumbnail(std::string& out, const char* folder, const char* name, int32_t position,
                   const TCellOptions& options);

struct TMemBitmap;

// The load flags of a thumbnail: 24-bit colour at full size, transparent
// pixels laid over the cell's background.
int32_t ThumbnailLoadFlags(const TCellOptions& options);

// Turns a decoded image upright by the EXIF orientation of the file at
// `image_path`; unchanged when it has none. False when memory runs out.
bool TurnImageUpright(TMemBitmap& image, const char* image_path);

// Fills `cell` (already cell-sized) with the background and stretches the
// decoded `image` into it, fitted, centred and never enlarged past its own size.
void FitImageIntoCell(TMemBitmap& cell, const TMemBitmap& image, const TCellOptions& options);
