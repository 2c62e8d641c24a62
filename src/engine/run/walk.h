#pragma once
// The directory walk of one run: depth first, each folder's subfolders
// completely before its own images, then the folder's pages.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include <climits>
#include <memory>
#include <string>

#include "engine/run/owner_post.h"
#include "engine/run/subfolder_order.h"
#include "engine/modern/covers.h"
#include "engine/modern/search_index.h"
#include "engine/store/generated_names.h"
#include "engine/run/index_run.h"
#include "support/strman.h"

inline constexpr int kSubfolderTableBits = 6;
inline constexpr int kImageTableBits = 10;

class TModernTheme;

class TFolderWalk {
 public:
  // `theme`: the modern pages' templates; null: the built-in theme.
  explicit TFolderWalk(TIndexRun& run, TModernTheme* theme = nullptr);
  ~TFolderWalk();
  TFolderWalk(const TFolderWalk&) = delete;
  TFolderWalk& operator=(const TFolderWalk&) = delete;

  // Images in the folder and every folder below it. A folder already on the
  // path from the start (same device and inode, as through a link loop) is
  // not entered and counts 0; a folder already walked in this run through
  // another path is not walked again and counts its known total. A folder
  // path longer than kMaxFolderPath is not entered, nor a folder on a kernel
  // file system (/proc, /sys, /dev). Once the stop request is seen, a folder
  // whose walk it cut short writes no page: its pages stay as they were.
  int32_t IndexFolder(int32_t depth, const char* folder);
  // True when the subfolder `path`, a symbolic link, may be entered: its
  // target lies inside the starting folder, or the run follows links.
  // Otherwise the run's report gets a warning naming it.
  bool MayEnterLink(const char* path);
  void ListSubfolders(int32_t depth, const char* folder, const char* pattern, TStringManager& table);
  // Only regular files are listed: a folder named x.jpg is no image.
  void ListImages(const char* folder, const char* pattern, TStringManager& table);

 private:
  struct TFrame {
    dev_t device;
    ino_t inode;
    const TFrame* parent;
    const std::string* album_title;  // modern style: the folder's album title ("" when none)
  };
  struct TDone {
    dev_t device;
    ino_t inode;
    int32_t total;
    bool used;
  };

  // With an output folder: makes it and notes where it is. False (reported)
  // when it cannot be made.
  bool PrepareOutput(const char* start);
  // The output folder mirroring the tree folder `folder`.
  std::string OutputFolderOf(const char* folder) const;
  bool OnCurrentPath(dev_t device, ino_t inode) const;
  const TDone* FindDone(dev_t device, ino_t inode) const;
  void RememberDone(dev_t device, ino_t inode, int32_t total);

  TIndexRun& run_;
  char root_real_[PATH_MAX] = {};   // the starting folder's resolved path
  const TFrame* current_ = nullptr;
  // Entries of the folders' subfolder and image tables, kept for the next
  // folder instead of taken from the heap and given back for every one.
  TStringFreeList subfolder_entries_;
  TStringFreeList image_entries_;
  TDone* done_ = nullptr;   // open-addressing table, capacity a power of two
  size_t done_capacity_ = 0;
  size_t done_count_ = 0;
  TModernCovers covers_;  // modern style: each written folder's cover image and album title
  TSearchIndex search_;   // modern style: the catalog's photos, written with the top folder
  TModernTheme* theme_;   // modern style: the pages' templates
  std::unique_ptr<TModernTheme> own_theme_;
  // With an output folder: its given path, its identity (never walked as a
  // folder of the tree) and the length of the starting folder's path that
  // each folder's path begins with.
  bool has_output_ = false;
  std::string output_root_;
  char output_real_[PATH_MAX] = {};
  dev_t output_device_ = 0;
  ino_t output_inode_ = 0;
  size_t start_length_ = 0;
};
