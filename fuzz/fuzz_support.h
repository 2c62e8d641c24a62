#pragma once
// What the fuzz targets share: an input file rewritten for every input, a
// scratch folder emptied for every input, and a format reader driven the way
// the loading front end drives it.

#include <dirent.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "imagein/image_source.h"
#include "raster/jpeg_error.h"

// A temporary file $TMPDIR/<stem>XXXXXX<suffix>, created once per process.
class TFuzzInputFile {
 public:
  TFuzzInputFile(const char* stem, const char* suffix) {
    const char* dir = std::getenv("TMPDIR");
    std::snprintf(path_, sizeof path_, "%s/%sXXXXXX%s", dir != nullptr ? dir : "/tmp", stem, suffix);
    fd_ = mkstemps(path_, static_cast<int>(std::strlen(suffix)));
    if (fd_ < 0) std::abort();
  }
  ~TFuzzInputFile() {
    close(fd_);
    unlink(path_);
  }
  TFuzzInputFile(const TFuzzInputFile&) = delete;
  TFuzzInputFile& operator=(const TFuzzInputFile&) = delete;

  const char* Path() const { return path_; }

  // Replaces the file's content with the input.
  bool Write(const uint8_t* data, size_t size) {
    if (ftruncate(fd_, 0) != 0) return false;
    size_t done = 0;
    while (done < size) {
      const ssize_t n = pwrite(fd_, data + done, size - done, static_cast<off_t>(done));
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }

 private:
  char path_[1024] = {};
  int fd_ = -1;
};

using TSourceFactory = TImageSource* (*)(TReaderContext* context);

// StartInput; stop when anything was raised; rows until the reader stops, the
// image is full or a warning was raised; then one more GetRows call, which a
// stopped reader must survive. Works over a memory stream, so that no bitmap
// of the promised size slows the search. `after_start` may probe the source.
inline void DriveReaderLikeTheLoader(const uint8_t* data, size_t size, TSourceFactory create,
                                     void (*after_start)(TImageSource* source) = nullptr) {
  if (size == 0) return;
  FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "rb");
  if (file == nullptr) return;
  TJpegErrorManager manager;
  TReaderContext context;
  context.common.err = JpegErrorInit(&manager);
  TImageSource* source = create(&context);
  if (source == nullptr) {
    std::fclose(file);
    return;
  }
  source->reader.file = file;
  source->StartInput(&context, source);
  if (after_start != nullptr) after_start(source);
  if (manager.pub.num_warnings == 0 && context.image_width > 0 && context.image_height > 0) {
    const size_t row_bytes = size_t{context.image_width} * static_cast<size_t>(context.input_components);
    uint32_t checksum = 0;
    for (uint32_t row = 0; row < context.image_height; ++row) {
      if (source->GetRows(&context, source) == 0 || manager.pub.num_warnings > 0) break;
      // Touch the whole row, so a short or missing row buffer shows.
      for (size_t i = 0; i < row_bytes; ++i) checksum += source->row_buffer[i];
    }
    source->GetRows(&context, source);
    if (checksum == 0xFFFFFFFFu) std::fputc(0, stderr);  // keep the reads
  }
  source->FinishInput(&context, source);
  source->Destroy(source);
  std::fclose(file);
}

// The whole file at `path`; empty when it cannot be read.
inline std::string FileBytes(const std::string& path) {
  std::string bytes;
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return bytes;
  char block[4096];
  size_t got = 0;
  while ((got = std::fread(block, 1, sizeof block, file)) > 0) bytes.append(block, got);
  std::fclose(file);
  return bytes;
}

// A folder $TMPDIR/<stem>XXXXXX, created once per process and emptied for
// every input, for targets whose code under test reads and writes files.
class TFuzzScratchFolder {
 public:
  explicit TFuzzScratchFolder(const char* stem) {
    const char* dir = std::getenv("TMPDIR");
    std::snprintf(path_, sizeof path_, "%s/%sXXXXXX", dir != nullptr ? dir : "/tmp", stem);
    if (mkdtemp(path_) == nullptr) std::abort();
  }
  ~TFuzzScratchFolder() { RemoveBelow(path_, true); }
  TFuzzScratchFolder(const TFuzzScratchFolder&) = delete;
  TFuzzScratchFolder& operator=(const TFuzzScratchFolder&) = delete;

  const char* Path() const { return path_; }

  // Removes everything inside the folder.
  void Empty() { RemoveBelow(path_, false); }

  // <folder>/<relative>.
  std::string Join(const char* relative) const { return std::string(path_) + "/" + relative; }

  bool MakeFolder(const char* relative) const { return mkdir(Join(relative).c_str(), 0755) == 0; }

  // Writes <folder>/<relative> with the bytes given.
  bool WriteFile(const char* relative, const void* data, size_t size) const {
    const std::string path = Join(relative);
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool ok = size == 0 || std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && ok;
  }

 private:
  static int RemoveOne(const char* path, const struct stat*, int, struct FTW*) { return ::remove(path); }
  static void RemoveBelow(const char* path, bool self) {
    if (self) {
      nftw(path, RemoveOne, 16, FTW_DEPTH | FTW_PHYS);
      return;
    }
    DIR* dir = opendir(path);
    if (dir == nullptr) return;
    while (const dirent* entry = readdir(dir)) {
      if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
      const std::string child = std::string(path) + "/" + entry->d_name;
      nftw(child.c_str(), RemoveOne, 16, FTW_DEPTH | FTW_PHYS);
    }
    closedir(dir);
  }

  char path_[1024] = {};
};
