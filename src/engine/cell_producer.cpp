#include "engine/cell_producer.h"

#include <sched.h>
#include <sys/stat.h>

#include <climits>
#include <cstdlib>

#include <cstdio>
#include <cstring>
#include <new>
#include <utility>

#include "engine/image_order.h"
#include "imagein/jpeg_thumb_decode.h"
#include "imagein/load_codes.h"
#include "imagein/loader.h"
#include "imagein/orientation_probe.h"
#include "raster/membitmap.h"
#include "support/path_util.h"

namespace {

constexpr const char* kThumbFolder = "quarto_tn";
constexpr int kThumbQuality = 90;
constexpr int kMaxThreads = 64;
// Jobs a thread may start beyond the one the writer needs, per thread.
constexpr int32_t kLookaheadPerThread = 4;

// The paths of WriteThumbnail: the image, the thumbnail file, and the
// reference written into the page (forward slashes).
struct TThumbPaths {
  char image[kPathBufferSize];
  char thumb[kPathBufferSize];
  char relative[kPathBufferSize];
};

bool BuildThumbPaths(TThumbPaths* paths, const char* folder, const char* name, int32_t position) {
  if (!PathJoin(paths->image, sizeof paths->image, kMaxPath, folder, name)) return false;
  const int written = std::snprintf(paths->relative, sizeof paths->relative, "%s%cquarto_tn%d.jpg",
                                    kThumbFolder, kPathSeparator, position);
  if (written <= 0 || static_cast<size_t>(written) >= sizeof paths->relative) return false;
  if (!PathJoin(paths->thumb, sizeof paths->thumb, kMaxPath, folder, paths->relative)) return false;
  PathToUrlSlashes(paths->relative);
  return true;
}

// Files that the loading front end hands to a format reader rather than to
// the JPEG adapter.
bool IsReaderFile(const char* path) { return ReaderKindOf(path) != 0; }

bool CellOverCap(int32_t width, int32_t height) {
  return uint64_t{static_cast<uint32_t>(height)} * (uint64_t{static_cast<uint32_t>(width)} + 3) * 3 >
         kMaxPixelBytes;
}

enum class TCellResult { kMade, kNoThumbnail, kOutOfMemory };

// The resolved form of `path`, or "" when it cannot be resolved.
std::string RealPath(const char* path) {
  char resolved[PATH_MAX];
  if (realpath(path, resolved) == nullptr) return std::string();
  return resolved;
}

bool IsSymbolicLink(const char* path) {
  struct stat info;
  return lstat(path, &info) == 0 && S_ISLNK(info.st_mode);
}

// Names of the files a run writes into an image folder.
bool IsPageName(const char* name) {
  if (std::strcmp(name, "imageback.html") == 0) return true;
  if (std::strncmp(name, "vellumcast", 10) != 0) return false;
  const size_t length = std::strlen(name);
  return length >= 15 && std::strcmp(name + length - 5, ".html") == 0;
}

// WriteThumbnail's decode, turn, fit and stretch on the calling thread (the
// decoders keep no state between loads): for the readers' files, and for
// JPEG files with an EXIF orientation other than upright.
TCellResult ReaderCell(const char* path, const TCellOptions& options, TMemBitmap& cell) {
  TMemBitmap image;
  LoadImageByExtension(path, options.cellwidth, options.cellheight, image, ThumbnailLoadFlags(options), nullptr);
  if (image.width <= 1 || image.height <= 1 || image.pixels == nullptr ||
      image.header.biBitCount != 24) {
    return TCellResult::kNoThumbnail;
  }
  if (!TurnImageUpright(image, path)) return TCellResult::kOutOfMemory;
  if (!BitmapCreate(cell, options.cellwidth, options.cellheight)) {
    return CellOverCap(options.cellwidth, options.cellheight) ? TCellResult::kNoThumbnail
                                                              : TCellResult::kOutOfMemory;
  }
  FitImageIntoCell(cell, image, options);
  return TCellResult::kMade;
}

TCellResult JpegCell(const char* path, const TCellOptions& options, TMemBitmap& cell) {
  // The front end refuses anything that is not a regular file before the JPEG adapter sees it.
  if (IsReservedDeviceName(path)) return TCellResult::kNoThumbnail;
  // A turned image is decoded whole and turned, as WriteThumbnail does.
  if (ProbeImageOrientation(path) != 1) return ReaderCell(path, options, cell);
  switch (JpegThumbnailCell(path, options.cellwidth, options.cellheight,
                            static_cast<uint8_t>(options.thumbwhite), cell,
                            TJpegCellRowMode::kSkipWhereExact)) {
    case TJpegCellResult::kMade: return TCellResult::kMade;
    case TJpegCellResult::kOutOfMemory: return TCellResult::kOutOfMemory;
    case TJpegCellResult::kNoThumbnail: break;
  }
  return TCellResult::kNoThumbnail;
}

}  // namespace

int CellProducerThreads() {
  cpu_set_t set;
  int count = 0;
  if (sched_getaffinity(0, sizeof set, &set) == 0) count = CPU_COUNT(&set);
  if (count <= 0) count = static_cast<int>(std::thread::hardware_concurrency());
  if (count <= 0) count = 1;
  return count > kMaxThreads ? kMaxThreads : count;
}

TCellProducer::TCellProducer(const TThreadVellumcast& worker, const char* folder,
                             TStringManager& images) {
  if (worker.createthumbs == 0 || worker.straightforward != 0) return;
  const int32_t total = images.TotalEntries();
  if (total <= 0) return;
  names_ = new (std::nothrow) const char*[static_cast<size_t>(total)];
  jobs_ = new (std::nothrow) TJob[static_cast<size_t>(total)];
  if (names_ == nullptr || jobs_ == nullptr) return;  // inactive: WriteThumbnail cell by cell
  int32_t n = 0;
  for (const TStrEntry* e = SortedImageWalk(images, worker.order); e != nullptr && n < total; e = e->walk)
    names_[n++] = e->name;
  if (n != total) return;

  // Thumbnails written through a linked thumbnail folder may land anywhere,
  // even on the folder's own images: such a folder is made cell by cell.
  char thumbs[kPathBufferSize];
  if (!PathJoin(thumbs, sizeof thumbs, kMaxPath, folder, kThumbFolder) || IsSymbolicLink(thumbs)) return;
  folder_real_ = RealPath(folder[0] != '\0' ? folder : ".");
  if (folder_real_.empty()) return;
  thumbs_real_ = folder_real_ + (folder_real_.back() == '/' ? "" : "/") + kThumbFolder;

  folder_ = folder;
  options_.cellwidth = worker.cellwidth;
  options_.cellheight = worker.cellheight;
  options_.thumbwhite = worker.thumbwhite;
  const int wanted = CellProducerThreads();
  lookahead_ = kLookaheadPerThread * wanted;
  count_ = total;

  threads_ = new (std::nothrow) std::thread[static_cast<size_t>(wanted)];
  if (threads_ == nullptr) return;  // the writer then makes every cell itself
  for (int i = 0; i < wanted; ++i) {
    try {
      threads_[i] = std::thread(&TCellProducer::ThreadMain, this);
    } catch (...) {
      break;  // fewer threads; the writer makes what nobody else takes
    }
    ++thread_count_;
  }
}

TCellProducer::~TCellProducer() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  work_.notify_all();
  for (int i = 0; i < thread_count_; ++i) threads_[i].join();
  delete[] threads_;
  delete[] jobs_;
  delete[] names_;
}

int32_t TCellProducer::ClaimNextLocked() {
  while (next_job_ < count_ && jobs_[next_job_].state != TJobState::kPending) ++next_job_;
  if (next_job_ >= count_ || next_job_ >= writer_position_ + lookahead_) return -1;
  jobs_[next_job_].state = TJobState::kRunning;
  return next_job_++;
}

void TCellProducer::ThreadMain() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    if (stopping_) return;
    const int32_t job = ClaimNextLocked();
    if (job < 0) {
      if (next_job_ >= count_) return;
      work_.wait(lock);
      continue;
    }
    lock.unlock();
    RunJob(job);
    lock.lock();
    jobs_[job].state = TJobState::kDone;
    done_.notify_all();
  }
}

bool TCellProducer::ReadsOwnOutput(const char* image_path) const {
  if (!IsSymbolicLink(image_path)) return false;
  const std::string target = RealPath(image_path);
  // A target that does not exist yet may be written by this run.
  if (target.empty()) return true;
  const size_t slash = target.rfind('/');
  const std::string parent = slash == std::string::npos ? std::string() : target.substr(0, slash);
  const std::string leaf = slash == std::string::npos ? target : target.substr(slash + 1);
  if (parent == thumbs_real_) return true;
  return parent == folder_real_ && IsPageName(leaf.c_str());
}

// Runs with the job claimed (state kRunning): its fields belong to this thread.
void TCellProducer::RunJob(int32_t position) {
  TJob& job = jobs_[position];
  job.result = TJobResult::kNoThumbnail;
  TThumbPaths paths;
  if (options_.cellwidth < 1 || options_.cellheight < 1 ||
      !BuildThumbPaths(&paths, folder_, names_[position], position)) {
    return;
  }
  if (ReadsOwnOutput(paths.image)) {
    job.result = TJobResult::kRedo;
    return;
  }
  TMemBitmap cell;
  const TCellResult made = IsReaderFile(paths.image) ? ReaderCell(paths.image, options_, cell)
                                                     : JpegCell(paths.image, options_, cell);
  if (made == TCellResult::kOutOfMemory) {
    job.result = TJobResult::kRedo;
    return;
  }
  if (made != TCellResult::kMade) return;
  job.result = JpegEncodeBitmap(cell, kThumbQuality, job.jpeg) ? TJobResult::kEncoded : TJobResult::kRedo;
}

int TCellProducer::WriteThumbnail(std::string& out, const char* name, int32_t position) {
  if (position < 0 || position >= count_ || std::strcmp(names_[position], name) != 0)
    return ::WriteThumbnail(out, folder_, name, position, options_);

  TJob& job = jobs_[position];
  {
    std::unique_lock<std::mutex> lock(mutex_);
    writer_position_ = position;
    if (job.state == TJobState::kPending) {
      // Nobody has started it: the writer makes it rather than wait.
      job.state = TJobState::kRunning;
      lock.unlock();
      work_.notify_all();
      RunJob(position);
      lock.lock();
      job.state = TJobState::kDone;
    }
    while (job.state != TJobState::kDone) done_.wait(lock);
    // The look-ahead moves on while this cell is written.
    writer_position_ = position + 1;
  }
  work_.notify_all();

  const TJobResult result = job.result;
  TEncodedJpeg jpeg = std::move(job.jpeg);
  if (result == TJobResult::kRedo) return ::WriteThumbnail(out, folder_, name, position, options_);
  if (result != TJobResult::kEncoded) return 0;

  TThumbPaths paths;
  if (!BuildThumbPaths(&paths, folder_, name, position)) return 0;
  // As WriteThumbnail: a thumbnail that cannot be written is not referred to.
  MakePathDirs(paths.thumb, 1);
  if (!WriteFileReplacing(paths.thumb, jpeg.data, jpeg.size)) return 0;
  char tag[kPathBufferSize + 64];
  std::snprintf(tag, sizeof tag, "<img src=%s width=%d height=%d", paths.relative, options_.cellwidth,
                options_.cellheight);
  out += tag;
  return 1;
}
