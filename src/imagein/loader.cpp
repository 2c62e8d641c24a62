// The loading front end: dispatch by extension, and the loader thread on
// which every full load runs, one request at a time.

#include "imagein/loader.h"

#include <cstring>
#include <new>
#include <semaphore>
#include <thread>

#include "imagein/format_table.h"
#include "imagein/jpeg_adapter.h"
#include "imagein/load_path.h"
#include "imagein/reader_pipeline.h"
#include "support/path_util.h"

namespace {

// The hand-over between a caller and the loader thread.
struct TLoadRequest {
  int32_t load_flags = 0;
  int32_t requested_width = 0;
  int32_t requested_height = 0;
  int32_t result = 0;
  char path[kMaxLoadPathLength] = {};
  const char* key = nullptr;
};

// Lives from the first load to the end of the process. `free` lets one caller
// at a time hand over a request; `request` wakes the loader, `done` the caller.
struct TLoaderState {
  std::binary_semaphore request{0};
  std::binary_semaphore done{0};
  std::binary_semaphore free{1};
  TLoadRequest current;
  TMemBitmap result;
  bool thread_running = false;
};

[[noreturn]] void LoaderMain(TLoaderState* state) {
  for (;;) {
    state->request.acquire();
    BitmapClear(state->result);
    const TLoadRequest& request = state->current;
    state->current.result =
        LoadImageByExtension(request.path, request.requested_width, request.requested_height,
                             state->result, request.load_flags, request.key);
    state->done.release();
  }
}

// Created once; never destroyed, as the thread waits on it until the process
// ends. Null when not even the state could be allocated.
TLoaderState* StartLoader() {
  auto* state = new (std::nothrow) TLoaderState;
  if (state == nullptr) return nullptr;
  try {
    std::thread thread(LoaderMain, state);
    thread.detach();
    state->thread_running = true;
  } catch (...) {
    // No thread to be had: callers then load on their own thread, still one
    // at a time.
    state->thread_running = false;
  }
  return state;
}

TLoaderState* Loader() {
  static TLoaderState* const state = StartLoader();
  return state;
}

}  // namespace

int32_t ReaderKindOf(const char* path) {
  const TFormatRow* row = FormatOfPath(path);
  return row != nullptr && row->reader != nullptr ? row->id : 0;
}

int32_t LoadImageByExtension(const char* path, int32_t requested_width, int32_t requested_height,
                             TMemBitmap& bitmap, int32_t load_flags, const char* key) {
  BitmapClear(bitmap);
  if (path == nullptr) return kLoadCannotOpen;
  if (LoadPathTooLong(path)) return kLoadPathTooLong;
  // Anything that exists and is not a regular file (a FIFO, a device, a
  // socket, a folder) is refused before it is opened.
  if (IsReservedDeviceName(path)) return kLoadCannotOpen;
  const TFormatRow* row = FormatOfPath(path);
  // A video is no image: no image decoder is handed one.
  if (row != nullptr && row->video) return kLoadCannotOpen;
  if (row != nullptr && row->reader != nullptr)
    return LoadImageWithSource(path, requested_width, requested_height, bitmap, load_flags, key, row->reader,
                               row->id == static_cast<int32_t>(TImageFormat::kGif));
  return JpegLoadBitmap(path, requested_width, requested_height, bitmap, load_flags, key);
}

int32_t LoadImageToBitmap(const char* path, int32_t requested_width, int32_t requested_height,
                          TMemBitmap& bitmap, int32_t load_flags, const char* key) {
  BitmapClear(bitmap);
  if (path == nullptr) return kLoadCannotOpen;
  if (LoadPathTooLong(path)) return kLoadPathTooLong;
  TLoaderState* state = Loader();
  if (state == nullptr)
    return LoadImageByExtension(path, requested_width, requested_height, bitmap, load_flags, key);

  state->free.acquire();
  if (!state->thread_running) {
    const int32_t result =
        LoadImageByExtension(path, requested_width, requested_height, bitmap, load_flags, key);
    state->free.release();
    return result;
  }
  TLoadRequest& request = state->current;
  std::memset(request.path, 0, sizeof(request.path));
  std::memcpy(request.path, path, std::strlen(path));
  request.requested_width = requested_width;
  request.requested_height = requested_height;
  request.load_flags = load_flags;
  request.key = key;
  request.result = 0;
  state->request.release();
  state->done.acquire();
  // The caller takes the whole record; the loader keeps no handle to the pixels.
  bitmap = std::move(state->result);
  const int32_t result = request.result;
  state->free.release();
  return result;
}
