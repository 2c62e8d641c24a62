#include "engine/template_reader.h"

#include <cstring>

#include "support/path_util.h"

TTemplateReader::TTemplateReader(const char* path) {
  if (path == nullptr || path[0] == '\0' || std::strlen(path) > kMaxPath) return;
  file_ = OpenRegularFileForReading(path);
}

TTemplateReader::~TTemplateReader() {
  if (file_ != nullptr) std::fclose(file_);
}

bool TTemplateReader::NextLine(const char** data, size_t* length) {
  if (file_ == nullptr) return false;
  size_t n = 0;
  while (n + 1 < sizeof line_) {
    int c = std::getc(file_);
    if (c == EOF) break;
    if (c == '\r') {
      const int next = std::getc(file_);
      if (next == '\n') {
        c = '\n';
      } else if (next != EOF) {
        std::ungetc(next, file_);
      }
    }
    line_[n++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  line_[n] = '\0';
  *data = line_;
  *length = n;
  return n > 0;
}
