// libFuzzer target: header and footer templates. The input is the template
// file. It is read piece by piece and the pieces are checked against what
// they must be (the file's bytes with each CR LF read as LF, cut after every
// LF and at 1023 bytes); then it is copied into a page as head and as foot.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/store/page_file.h"
#include "engine/classic/page_writer.h"
#include "engine/classic/template_reader.h"
#include "engine/run/index_run.h"
#include "fuzz_support.h"

namespace {

constexpr size_t kLongestPiece = kTemplateLineBufferSize - 1;

// The bytes with every CR LF turned into LF, as a text read gives them.
std::string ReadAsText(const uint8_t* data, size_t size) {
  std::string text;
  text.reserve(size);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == '\r' && i + 1 < size && data[i + 1] == '\n') continue;
    text += static_cast<char>(data[i]);
  }
  return text;
}

void CheckPieces(const char* path, const uint8_t* data, size_t size) {
  TTemplateReader reader(path);
  if (!reader.IsOpen()) std::abort();
  std::string joined;
  const char* piece = nullptr;
  size_t length = 0;
  bool last_was_short = false;
  while (reader.NextLine(&piece, &length)) {
    // Only the last piece may end without a LF before the length limit.
    if (last_was_short) std::abort();
    if (length == 0 || length > kLongestPiece) std::abort();
    const std::string text(piece, length);
    const size_t line_feed = text.find('\n');
    if (line_feed != std::string::npos && line_feed + 1 != length) std::abort();
    last_was_short = line_feed == std::string::npos && length < kLongestPiece;
    joined += text;
  }
  if (joined != ReadAsText(data, size)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static TFuzzInputFile input("fuzz_template_reader_", ".html");
  static TFuzzInputFile page_dir_marker("fuzz_template_page_", ".html");
  static TIndexOptions options;
  static TRunCounters counters;
  static TRunReport report;
  static const std::atomic<bool> stop{false};
  static TIndexRun worker(options, counters, report, nullptr, stop);
  if (!input.Write(data, size)) return 0;
  CheckPieces(input.Path(), data, size);

  options.headertemplate = input.Path();
  options.footertemplate = input.Path();
  // The page goes to a temporary file beside the marker and is discarded.
  TPageFile page;
  if (!page.Create(page_dir_marker.Path())) return 0;
  WriteHeaderTemplate(worker, page);
  WritePageFoot(worker, page);
  page.Discard();
  return 0;
}
