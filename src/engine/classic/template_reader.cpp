#include "engine/classic/template_reader.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "engine/run/run_report.h"
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

const char* TemplateUnreadableReason(const char* path) {
  if (path == nullptr || path[0] == '\0') return nullptr;
  if (std::strlen(path) > kMaxPath) return "path longer than 1023 characters";
  struct stat info;
  if (::stat(path, &info) != 0) return ErrorText(errno);
  if (!S_ISREG(info.st_mode)) return "not a regular file";
  errno = 0;
  std::FILE* file = OpenRegularFileForReading(path);
  if (file == nullptr) return ErrorText(errno);
  std::fclose(file);
  return nullptr;
}

bool DescribeUnreadableTemplate(const char* header_template, const char* footer_template, char* out,
                                size_t capacity) {
  const char* paths[] = {header_template, footer_template};
  const char* kinds[] = {"header", "footer"};
  for (int i = 0; i < 2; ++i) {
    const char* reason = TemplateUnreadableReason(paths[i]);
    if (reason == nullptr) continue;
    std::snprintf(out, capacity, "cannot read %s template '%s': %s", kinds[i], paths[i], reason);
    return true;
  }
  return false;
}
