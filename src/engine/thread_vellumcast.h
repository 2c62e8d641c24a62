#pragma once
// One indexing run: walks the tree from `path` depth first and writes every
// folder's catalog pages, posting progress to `ownerwindow`.

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/run_report.h"
#include "platform/owner.h"
#include "platform/thread.h"

class TThreadVellumcast : public TThread {
 public:
  TThreadVellumcast();   // created suspended: Start() begins the run
  ~TThreadVellumcast() override;  // waits for the run to end

  // Options: written only before Start().
  std::string path;
  std::string title;
  std::string footertext;
  std::string headertemplate;   // empty: no header template
  std::string footertemplate;   // empty: no footer template
  TOwnerWindow* ownerwindow = nullptr;
  int32_t cellwidth = 120;
  int32_t cellheight = 80;
  int32_t cellsperrow = 4;
  int32_t rowsperpage = -1;
  int32_t sort = 1;
  int32_t centertable = 1;
  int32_t centertitle = 1;
  int32_t centerfooter = 1;
  int32_t centernavbar = 1;
  int32_t includefilenames = 1;
  int32_t dirfirstpageonly = 1;
  int32_t thumbwhite = 0;
  // Counters: written by the run, read by other threads at any time.
  std::atomic<int32_t> dircount{0};
  std::atomic<int32_t> filecount{0};
  std::atomic<int32_t> indexcount{0};
  int32_t createthumbs = 0;
  int32_t hlinks = 1;
  int32_t blinks = 1;
  // 1: each thumbnail is decoded in full, fitted, stretched and written cell
  // by cell on the run's thread; 0: thumbnails are produced ahead on every
  // core from only the rows they sample. Both write the same bytes.
  int32_t straightforward = 0;
  // 1: symbolic links to folders outside the starting folder are entered
  // too; 0: they are left out with a warning. Kernel file systems (/proc,
  // /sys, /dev) are never entered.
  int32_t followlinks = 0;
  // What the run could not write and what it left out; complete once the
  // run has ended. indexcount counts only folders whose first page was written.
  TRunReport report;
  // 1: every thumbnail is decoded and every file written afresh; 0: a
  // thumbnail whose source and cell settings are unchanged since the run
  // that made it is reused, and a file whose bytes would be the same is
  // left as it is.
  int32_t rebuild = 0;
  // 1: after a folder is written, the generated files of it that this run
  // no longer produces are removed.
  int32_t prune = 0;
  // Thumbnails decoded (each decode of a source image) and reused this run.
  std::atomic<int32_t> decodedcount{0};
  std::atomic<int32_t> reusedcount{0};
  // Page style: 0 classic (tables), 1 modern (HTML5 pages that fit a phone,
  // 1x/2x thumbnails, a viewer page per image).
  int32_t style = 0;
  // Modern thumbnails: 1 fill their cell, the overflow cut; 0 fitted inside it.
  int32_t crop = 0;
  // File name of each folder's first page (e.g. index.html). A file of that
  // name that no run wrote is never replaced: that folder keeps the default.
  std::string firstpage = "vellumcast.html";
  // Folders that kept the default first page name for that reason.
  std::atomic<int32_t> firstpagekept{0};
  // Files that enter catalogs: 0 the classic .gif, .jpg and .bmp; 1 every
  // format the readers take (see catalog_filter.h).
  int32_t formats = 0;
  // Order of a folder's images: 0 name (byte order), 1 natural, 2 date.
  int32_t order = 0;
  // Wildcard patterns ('*', '?', without regard to case) of file and folder
  // names the walk leaves out.
  std::vector<std::string> exclude;
  // 1: hidden folders (".name") and NAS metadata folders ("@eaDir",
  // "#recycle") are not walked; set from the style unless given.
  int32_t skiphidden = 0;
  // Folder the catalog is written into, mirroring the tree (pages,
  // thumbnails, manifests, the probe log); empty: into the tree itself.
  // With it the photo tree is only read.
  std::string outputpath;
  // How pages in the output folder reach the originals: 0 relative links
  // into the tree, 1 copies beside the pages, 2 hard links (copies where
  // no link can be made).
  int32_t images = 0;
  // Files left out because no browser shows them and no thumbnail is made.
  std::atomic<int32_t> skipped_undisplayable{0};

 protected:
  void Execute() override;
};
