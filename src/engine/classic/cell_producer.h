#pragma once
// The thumbnails of one folder, produced ahead of the page writer on every
// core. Worker threads decode, fit, stretch and encode each image's thumbnail
// into memory, at most a bounded number of images ahead of the writer; the
// page writer still goes through the cells in order and, for each, takes the
// finished thumbnail, writes its file and appends its tag. Everything the run
// writes, counts and posts therefore happens in the writer's order, exactly
// as with WriteThumbnail cell by cell. Work not taken when the folder ends
// (a page that cannot be created ends it early) is discarded: nothing of it
// has touched the file system. An image that links to a file the run itself
// writes (a thumbnail or page of the folder), and every image of a folder
// whose thumbnail folder is a link, is read only in its turn. The decodes
// under way together stay within the process's one decode budget
// (DecodeMemoryBudget): each reserves its peak, estimated from the image's
// header, before it starts.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "engine/classic/image_cell.h"
#include "engine/run/index_run.h"
#include "imagein/memory_budget.h"
#include "raster/jpeg_memory_writer.h"
#include "support/strman.h"

class TThumbReuse;

// Threads that produce cells: one per processor this process may run on.
int CellProducerThreads();

// The cell settings of the run, with its decode counter.
TCellOptions CellOptionsOf(TIndexRun& run);

class TCellProducer {
 public:
  // Active when the run asks for thumbnails on the fast path and the
  // folder has images; then production starts at once, in the images'
  // sorted-walk order (the page writer's order). Cells whose thumbnail
  // `reuse` (may be null) has in place already are not produced.
  // The images are read from `source`, the thumbnails written below `folder`.
  TCellProducer(TIndexRun& run, const char* source, const char* folder, TStringManager& images,
                const TThumbReuse* reuse);
  ~TCellProducer();  // discards what was not taken and waits for the threads
  TCellProducer(const TCellProducer&) = delete;
  TCellProducer& operator=(const TCellProducer&) = delete;

  bool Active() const { return count_ > 0; }

  // WriteThumbnail for the image `name` at `position` of the folder, with the
  // same result and the same effects: 1 with the thumbnail file written and
  // "<img src=... width=W height=H" appended, or 0 with nothing appended
  // and `fallback` (may be null) saying why. `written_size` (may be null)
  // receives the thumbnail file's size.
  int WriteThumbnail(std::string& out, const char* name, int32_t position,
                     TThumbnailFallback* fallback = nullptr, int64_t* written_size = nullptr);
  // The writer has passed `position` without taking a cell (its thumbnail
  // was reused): the look-ahead moves on.
  void Passed(int32_t position);

 private:
  enum class TJobState : uint8_t { kPending, kRunning, kDone };
  enum class TJobResult : uint8_t {
    kNoThumbnail,   // the cell falls back to the full image
    kEncoded,       // `jpeg` holds the thumbnail file
    kRedo,          // memory ran out, or the image must be read in its turn:
                    // the writer makes this cell itself, cell by cell
  };
  struct TJob {
    TJobState state = TJobState::kPending;
    TJobResult result = TJobResult::kNoThumbnail;
    bool unreadable = false;   // kNoThumbnail because the image could not be read
    TEncodedJpeg jpeg;
  };

  void ThreadMain();
  // Claims the next job a thread may start; -1 when there is none (yet).
  int32_t ClaimNextLocked();
  void RunJob(int32_t position);
  // RunJob's decode, fit, stretch and encode, with the job's memory reserved.
  // `unreadable` is set when the result is kNoThumbnail because the image could not be read.
  TJobResult MakeJobCell(const char* image_path, TEncodedJpeg& jpeg, bool* unreadable);
  // WriteThumbnail by the writer itself, which reserves its full decode's memory.
  int WriteThumbnailReserved(std::string& out, const char* name, int32_t position,
                             TThumbnailFallback* fallback, int64_t* written_size);
  // True when the image reaches, through a link, a file this run writes in
  // the folder (a thumbnail or a page): it must then be read in its turn.
  bool ReadsOwnOutput(const char* image_path) const;

  const char* folder_ = nullptr;   // where the thumbnails are written
  const char* source_ = nullptr;   // where the images are read
  std::string folder_real_;        // the folder's resolved path
  std::string thumbs_real_;        // its thumbnail folder's resolved path
  TCellOptions options_;
  const char** names_ = nullptr;   // the images in order; names owned by the table
  TJob* jobs_ = nullptr;
  int32_t count_ = 0;
  int32_t lookahead_ = 0;          // jobs that may be started beyond the writer's position

  TMemoryBudget& budget_;          // the process's decode budget

  std::mutex mutex_;
  std::condition_variable work_;   // threads wait for jobs inside the look-ahead
  std::condition_variable done_;   // the writer waits for its job
  int32_t next_job_ = 0;           // lowest job no thread has claimed
  int32_t writer_position_ = 0;    // the job the writer needs next
  bool stopping_ = false;
  std::thread* threads_ = nullptr;
  int thread_count_ = 0;
};
