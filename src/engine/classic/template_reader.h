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

// Why the template at `path` cannot be read ("No such file or directory",
// "not a regular file", ...), or null when it can (or `path` is empty: no
// template). A run's front end asks before anything is written.
const char* TemplateUnreadableReason(const char* path);

// "cannot read header template 'FILE': REASON" (or footer) into `out` for
// the first of the two templates that cannot be read; false, with `out`
// untouched, when both can (or are not used).
bool DescribeUnreadableTemplate(const char* header_template, const char* footer_template, char* out,
                                size_t capacity);
