#pragma once
// Reads a header or footer template as text, the way a 1024-byte line buffer
// does: pieces of at most 1023 bytes, each ending after its line feed when
// one came; a CR right before a LF is dropped. Bytes are passed on as they
// are (a NUL included). Only a regular file is opened.

#include <cstddef>
#include <cstdio>

inline constexpr size_t kTemplateLineBufferSize = 1024;

class TTemplateReader {
 public:
  explicit TTemplateReader(const char* path);
  ~TTemplateReader();
  TTemplateReader(const TTemplateReader&) = delete;
  TTemplateReader& operator=(const TTemplateReader&) = delete;

  bool IsOpen() const { return file_ != nullptr; }
  // The next piece; false at the end. The data stays valid until the next call.
  bool NextLine(const char** data, size_t* length);

 private:
  std::FILE* file_ = nullptr;
  char line_[kTemplateLineBufferSize];
};
