#include "engine/classic/cell_producer.h"

#include <sched.h>
#include <sys/stat.h>

#include <climits>
#include <cstdlib>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <utility>

#include "engine/store/generated_names.h"
#include "engine/run/image_order.h"
#include "engine/store/thumb_reuse.h"
#include "imagein/jpeg_thumb_decode.h"
#include "imagein/load_codes.h"
#include "imagein/image_record.h"
#include "imagein/load_peak.h"
#include "imagein/loader.h"
#include "imagein/reader_row_stream.h"
#include "raster/membitmap.h"
#include "platform/folder_handle.h"
#include "platform/real_path.h"
#include "platform/symbolic_link.h"
#include "support/path_util.h"

namespace {

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

bool BuildThumbPaths(TThumbPaths* paths, const char* source, const char* folder, const char* name,
                     int32_t position) {
  if (!PathJoin(paths->image, sizeof paths->image, kMaxPath, source, name)) return false;
  if (!CellThumbnailPath(paths->relative, sizeof paths->relative, position)) return false;
  if (!PathJoin(paths->thumb, sizeof paths->thumb, kMaxPath, folder, paths->relative)) return false;
  PathToUrlSlashes(paths->relative);
  return true;
}

// Files that the loading front end hands to a format reader rather than to
// the JPEG adapter.
bool IsReaderFile(const char* path) { return ReaderKindOf(path) != 0; }

uint64_t CellBytes(int32_t width, int32_t height) {
  return uint64_t{static_cast<uint32_t>(height)} * (uint64_t{static_cast<uint32_t>(width)} + 3) * 3;
}

bool CellOverCap(int32_t width, int32_t height) { return CellBytes(width, height) > kMaxPixelBytes; }

// The memory a decode of `peak` holds at its worst beside the cell and its
// encoded file (twice the cell): the thumbnail cell decode of a JPEG file
// holds one row beside libjpeg's buffers, every other load the full bitmap.
// Unknown sizes take the whole budget, so such a decode runs alone.
uint64_t PeakBytes(const TLoadPeak& peak, bool full_load, const TCellOptions& options) {
  return LoadPeakBytes(peak, full_load) + 2 * CellBytes(options.cellwidth, options.cellheight);
}

enum class TCellResult { kMade, kNoThumbnail, kOutOfMemory };

// The resolved form of `path`, or "" when it cannot be resolved.
std::string RealPath(const char* path) {
  char resolved[PATH_MAX];
  return ResolvePath(path, resolved, sizeof resolved) ? std::string(resolved) : std::string();
}

// Names of the pages a run writes into an image folder.
bool IsPageName(const char* name) {
  return IsCatalogPageName(name) || IsBackLinkPageName(name) || IsViewerPageName(name);
}

// WriteThumbnail's decode, turn, fit and stretch on the calling thread (the
// decoders keep no state between loads): for the readers' files (those that
// stream made as their rows are read), and for JPEG files with an EXIF
// orientation other than upright.
TCellResult ReaderCell(const char* path, const TImageRecord& record, const TCellOptions& options, TMemBitmap& cell,
                       bool* unreadable) {
  const int32_t kind = ReaderKindOf(path);
  if (ReaderKindStreams(kind)) {
    switch (StreamedReaderCell(path, kind, options, cell, unreadable)) {
      case TStreamedCellResult::kMade: return TCellResult::kMade;
      case TStreamedCellResult::kOutOfMemory: return TCellResult::kOutOfMemory;
      case TStreamedCellResult::kNoThumbnail: break;
    }
    return TCellResult::kNoThumbnail;
  }
  TMemBitmap image;
  LoadImageByExtension(path, options.cellwidth, options.cellheight, image, ThumbnailLoadFlags(options), nullptr);
  *unreadable = image.pixels == nullptr;
  if (image.width <= 1 || image.height <= 1 || image.pixels == nullptr ||
      image.header.biBitCount != 24) {
    return TCellResult::kNoThumbnail;
  }
  if (!TurnImageUpright(image, record.orientation)) return TCellResult::kOutOfMemory;
  if (!BitmapCreate(cell, options.cellwidth, options.cellheight)) {
    return CellOverCap(options.cellwidth, options.cellheight) ? TCellResult::kNoThumbnail
                                                              : TCellResult::kOutOfMemory;
  }
  FitImageIntoCell(cell, image, options);
  return TCellResult::kMade;
}

TCellResult JpegCell(const char* path, const TImageRecord& record, const TCellOptions& options, TMemBitmap& cell) {
  // The front end refuses anything that is not a regular file before the JPEG adapter sees it.
  if (IsReservedDeviceName(path)) return TCellResult::kNoThumbnail;
  // A turned image is decoded whole and turned, as WriteThumbnail does.
  if (record.orientation != 1) {
    bool unreadable = false;
    return ReaderCell(path, record, options, cell, &unreadable);
  }
  switch (JpegThumbnailCell(path, options.cellwidth, options.cellheight,
                            static_cast<uint8_t>(options.thumbwhite), cell,
                            TJpegCellRowMode::kSkipWhereExact)) {
    case TJpegCellResult::kMade: return TCellResult::kMade;
    case TJpegCellResult::kOutOfMemory: return TCellResult::kOutOfMemory;
    case TJpegCellResult::kNoThumbnail: break;
  }
  return TCellResult::kNoThumbnail;
}

// A JPEG without a thumbnail could not be read, unless its size alone (one
// pixel wide or high) rules the thumbnail out.
bool JpegUnreadable(const TImageRecord& record) {
  return !record.size_known || (record.width > 1 && record.height > 1);
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

TCellOptions CellOptionsOf(TIndexRun& run) {
  TCellOptions options;
  options.cellwidth = run.options.cellwidth;
  options.cellheight = run.options.cellheight;
  options.thumbwhite = run.options.thumbwhite;
  options.compare_existing = run.options.rebuild == 0;
  options.decodes = &run.counters.decodedcount;
  return options;
}

TCellProducer::TCellProducer(TIndexRun& run, const char* source, const char* folder,
                             TStringManager& images, const TThumbReuse* reuse)
    : budget_(DecodeMemoryBudget()) {
  if (run.options.createthumbs == 0 || run.options.straightforward != 0) return;
  const int32_t total = images.TotalEntries();
  if (total <= 0) return;
  names_ = new (std::nothrow) const char*[static_cast<size_t>(total)];
  jobs_ = new (std::nothrow) TJob[static_cast<size_t>(total)];
  if (names_ == nullptr || jobs_ == nullptr) return;  // inactive: WriteThumbnail cell by cell
  int32_t n = 0;
  for (const TStrEntry* e = SortedImageWalk(images, run.options.order); e != nullptr && n < total; e = e->walk)
    names_[n++] = e->name;
  if (n != total) return;

  // A reused thumbnail is in place already: its job is done before it starts.
  int32_t pending = total;
  if (reuse != nullptr) {
    for (int32_t i = 0; i < total; ++i) {
      if (!reuse->Reused(i)) continue;
      jobs_[i].state = TJobState::kDone;
      --pending;
    }
  }
  if (pending == 0) return;  // nothing to make: no threads

  // Thumbnails written through a linked thumbnail folder may land anywhere,
  // even on the folder's own images: such a folder is made cell by cell.
  char thumbs[kPathBufferSize];
  if (!PathJoin(thumbs, sizeof thumbs, kMaxPath, folder, kThumbnailFolder) || IsSymbolicLink(thumbs)) return;
  folder_real_ = RealPath(folder[0] != '\0' ? folder : ".");
  if (folder_real_.empty()) return;
  thumbs_real_ = folder_real_ + (folder_real_.back() == '/' ? "" : "/") + kThumbnailFolder;

  folder_ = folder;
  source_ = source;
  options_ = CellOptionsOf(run);
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
  job.unreadable = false;
  TThumbPaths paths;
  if (options_.cellwidth < 1 || options_.cellheight < 1 ||
      !BuildThumbPaths(&paths, source_, folder_, names_[position], position)) {
    return;
  }
  if (ReadsOwnOutput(paths.image)) {
    job.result = TJobResult::kRedo;
    return;
  }
  job.result = MakeJobCell(paths.image, job.jpeg, &job.unreadable);
}

TCellProducer::TJobResult TCellProducer::MakeJobCell(const char* image_path, TEncodedJpeg& jpeg, bool* unreadable) {
  const bool reader_file = IsReaderFile(image_path);
  // The image's one probe: its orientation and the decode's peak (a JPEG
  // file's size too, from the same read).
  TImageRecord record;
  ProbeImageRecord(image_path, kRecordOrientation | kRecordDecodeNeeds, &record);
  const TLoadPeak& peak = record.peak;
  if (options_.decodes != nullptr) options_.decodes->fetch_add(1, std::memory_order_relaxed);
  // Refused by the decode for memory whatever else runs: no thumbnail, and
  // nothing reserved or decoded for it.
  if (!reader_file && LoadPeakRefusedByJpeg(peak)) {
    *unreadable = true;
    return TJobResult::kNoThumbnail;
  }
  const uint64_t held = budget_.Reserve(PeakBytes(peak, reader_file && !peak.streams, options_));
  TJobResult result = TJobResult::kNoThumbnail;
  {
    TMemBitmap cell;
    bool reader_unreadable = false;
    const TCellResult made = reader_file ? ReaderCell(image_path, record, options_, cell, &reader_unreadable)
                                         : JpegCell(image_path, record, options_, cell);
    if (made == TCellResult::kOutOfMemory) {
      result = TJobResult::kRedo;
    } else if (made == TCellResult::kMade) {
      result = JpegEncodeBitmap(cell, kThumbQuality, jpeg) ? TJobResult::kEncoded : TJobResult::kRedo;
    } else {
      *unreadable = reader_file ? reader_unreadable : JpegUnreadable(record);
    }
  }
  budget_.Release(held);
  return result;
}

int TCellProducer::WriteThumbnailReserved(std::string& out, const char* name, int32_t position,
                                          TThumbnailFallback* fallback, int64_t* written_size) {
  char image_path[kPathBufferSize];
  TImageRecord record;
  const bool probed = PathJoin(image_path, sizeof image_path, kMaxPath, source_, name);
  if (probed) ProbeImageRecord(image_path, kRecordOrientation | kRecordDecodeNeeds, &record);
  // The cell-by-cell thumbnail reserves its own decode's memory.
  return ::WriteThumbnail(out, source_, folder_, name, position, options_, fallback, written_size,
                          probed ? &record : nullptr);
}

int TCellProducer::WriteThumbnail(std::string& out, const char* name, int32_t position,
                                  TThumbnailFallback* fallback, int64_t* written_size) {
  if (position < 0 || position >= count_ || std::strcmp(names_[position], name) != 0)
    return WriteThumbnailReserved(out, name, position, fallback, written_size);

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
  if (result == TJobResult::kRedo) return WriteThumbnailReserved(out, name, position, fallback, written_size);
  TThumbPaths paths;
  if (!BuildThumbPaths(&paths, source_, folder_, name, position)) return 0;
  if (result != TJobResult::kEncoded) {
    if (job.unreadable) NoteImageUnreadable(fallback, paths.image);
    return 0;
  }

  // As WriteThumbnail: a thumbnail that cannot be written is not referred
  // to, and a linked thumbnail folder is never written through.
  if (ThumbnailFolderIsLink(paths.thumb, fallback)) return 0;
  errno = 0;
  if (!MakeParentFolder(paths.thumb)) {
    // A file where the thumbnail folder goes makes mkdir say EEXIST.
    NoteThumbnailNotWritten(fallback, paths.thumb, errno == EEXIST ? ENOTDIR : errno);
    return 0;
  }
  errno = 0;
  if (!PutThumbnailFile(paths.thumb, jpeg.data, jpeg.size, options_)) {
    NoteThumbnailNotWritten(fallback, paths.thumb, errno);
    return 0;
  }
  if (written_size != nullptr) *written_size = static_cast<int64_t>(jpeg.size);
  char tag[kPathBufferSize + 64];
  std::snprintf(tag, sizeof tag, "<img src=%s width=%d height=%d", paths.relative, options_.cellwidth,
                options_.cellheight);
  out += tag;
  return 1;
}

void TCellProducer::Passed(int32_t position) {
  if (!Active()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (position + 1 > writer_position_) writer_position_ = position + 1;
  }
  work_.notify_all();
}
