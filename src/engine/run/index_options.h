#pragma once
// What one index run is asked to do: a plain value made once by the command
// line, the window or a configuration file, and read by the run. Defaults
// are the worker's own; a first start of the window and the command line
// begin from ApplyFirstStartDefaults (first_start_defaults.h).

#include <cstdint>
#include <string>
#include <vector>

#include "support/product.h"

// Values of the settings that may follow the style: kFollowStyle where
// nothing chose one, resolved by ResolveStyleDefaults before the run.
inline constexpr int32_t kFollowStyle = -1;

// Page style: the described tables, or HTML5 pages that fit a phone with
// 1x/2x thumbnails and a viewer page per image.
enum TPageStyle : int32_t { kStyleClassic = 0, kStyleModern = 1 };
// Files that enter catalogs: the described .gif, .jpg and .bmp, or every
// format the readers take.
enum TCatalogFormats : int32_t { kFormatsFollowStyle = kFollowStyle, kFormatsClassic = 0, kFormatsAll = 1 };
// Order of a folder's images: byte order of names, natural, date taken.
enum TImageOrder : int32_t { kOrderFollowStyle = kFollowStyle, kOrderName = 0, kOrderNatural = 1, kOrderDate = 2 };
// How pages in an output folder reach the originals.
enum TImagesMode : int32_t { kImagesLink = 0, kImagesCopy = 1, kImagesHardLink = 2 };
// What a cell says under its image: auto (the modern style the photo's
// title, else its caption's first line, else the file name; the classic
// style the file name), title (both styles the title or caption first), name
// (the file name).
enum TCaptionsMode : int32_t { kCaptionsAuto = 0, kCaptionsTitle = 1, kCaptionsName = 2 };
// Videos in the modern style: linked as they are, a web copy made of those
// browsers do not play, or left out. The classic style lists no videos.
enum TVideoMode : int32_t { kVideoLink = 0, kVideoTranscode = 1, kVideoOff = 2 };
// An on/off setting that may follow the style until resolved.
enum TStyleSwitch : int32_t { kSwitchFollowStyle = kFollowStyle, kSwitchOff = 0, kSwitchOn = 1 };

struct TIndexOptions {
  std::string path;             // the starting folder
  std::string title = "Vellumcast!";
  std::string footertext = std::string("Vellumcast: ") + kHomePageAddress;
  std::string headertemplate;   // empty: no header template
  std::string footertemplate;   // empty: no footer template
  // Folder of the modern pages' theme files (see engine/modern/theme.h);
  // files it lacks come from the built-in theme. Empty: the built-in theme.
  std::string theme;
  int32_t cellwidth = 120;
  int32_t cellheight = 80;
  int32_t cellsperrow = 4;
  int32_t rowsperpage = -1;     // 0 or less: one page per folder
  // Subfolder list: 0 by name without regard to case, 1 larger image total
  // first; other values leave the list unsorted.
  int32_t sort = 1;
  bool centertable = true;
  bool centertitle = true;
  bool centerfooter = true;
  bool centernavbar = true;
  bool includefilenames = true;
  bool dirfirstpageonly = true;
  int32_t thumbwhite = 0;       // thumbnail background byte: 0 black, 255 white
  bool createthumbs = false;
  bool hlinks = true;
  bool blinks = true;
  // Each thumbnail decoded in full, fitted, stretched and written cell by
  // cell on the run's thread; otherwise produced ahead on every core from
  // only the rows they sample. Both write the same bytes.
  bool straightforward = false;
  // Symbolic links to folders outside the starting folder are entered too;
  // otherwise left out with a warning. Kernel file systems are never entered.
  bool followlinks = false;
  // Every thumbnail decoded and every file written afresh; otherwise a
  // thumbnail whose source and cell settings are unchanged is reused, and a
  // file whose bytes would be the same is left as it is.
  bool rebuild = false;
  // After a folder is written, the generated files of it that this run no
  // longer produces are removed.
  TStyleSwitch prune = kSwitchOff;
  TPageStyle style = kStyleClassic;
  bool crop = false;            // modern thumbnails fill their cell, the overflow cut
  // File name of each folder's first page (e.g. index.html). A file of that
  // name that no run wrote is never replaced: that folder keeps the default.
  std::string firstpage = "vellumcast.html";
  TCatalogFormats formats = kFormatsClassic;
  TImageOrder order = kOrderName;
  // Wildcard patterns ('*', '?', without regard to case) of file and folder
  // names the walk leaves out.
  std::vector<std::string> exclude;
  // Hidden folders (".name") and NAS metadata folders ("@eaDir",
  // "#recycle") are not walked.
  TStyleSwitch skiphidden = kSwitchOff;
  // Folder the catalog is written into, mirroring the tree; empty: into the
  // tree itself. With it the photo tree is only read.
  std::string outputpath;
  TImagesMode images = kImagesLink;
  TCaptionsMode captions = kCaptionsAuto;
  // The viewer pages show a photo's coordinates with a map link; otherwise
  // no page tells where a photo was taken.
  bool showlocation = false;
  // Copies of the originals in an output folder (--images=copy) are written
  // without their GPS tags.
  bool striplocation = false;
  TVideoMode video = kVideoTranscode;
};

// "auto", "title" or "name" as a TCaptionsMode; false for anything else.
bool ParseCaptionsMode(const char* text, int32_t* mode);
