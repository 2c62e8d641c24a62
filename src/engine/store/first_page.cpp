#include "engine/store/first_page.h"

#include <strings.h>
#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstring>

#include "engine/store/generated_names.h"
#include "engine/run/walk.h"
#include "support/path_util.h"
#include "support/text_search.h"

namespace {

constexpr size_t kMaxFirstPageName = 128;

bool IsDefaultName(const char* name) { return std::strcmp(name, kFirstPageName) == 0; }

}  // namespace

bool IsValidFirstPageName(const char* name) {
  if (name == nullptr) return false;
  const size_t length = std::strlen(name);
  if (length == 0 || length > kMaxFirstPageName) return false;
  // Letters, digits, '.', '-' and '_' only: the name then stands in any URL
  // or page text as it is. A leading '.' would hide the page.
  if (name[0] == '.') return false;
  for (size_t i = 0; i < length; ++i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    if (!std::isalnum(c) && c != '.' && c != '-' && c != '_') return false;
  }
  if (!EndsWithNoCase(name, length, ".html") && !EndsWithNoCase(name, length, ".htm")) return false;
  if (IsDefaultName(name)) return true;
  // Another generated name would be overwritten by, or overwrite, its own file.
  return !IsCatalogPageName(name) && !IsBackLinkPageName(name) && !IsViewerPageName(name) &&
         !HasTemporarySuffix(name);
}

const char* RequestedFirstPage(const TIndexRun& run) {
  const char* name = run.options.firstpage.c_str();
  return IsValidFirstPageName(name) ? name : kFirstPageName;
}

const char* ChooseFirstPage(TIndexRun& run, const char* folder, bool count) {
  const char* name = RequestedFirstPage(run);
  if (IsDefaultName(name)) return name;
  char path[kPathBufferSize];
  if (!PathJoin(path, sizeof path, kMaxPath, folder, name)) return kFirstPageName;
  struct stat info;
  if (::lstat(path, &info) != 0 && errno == ENOENT) return name;
  if (IsGeneratedPageContent(path)) return name;
  if (count) ++run.counters.firstpagekept;
  return kFirstPageName;
}

const char* WrittenFirstPage(const TIndexRun& run, const char* folder) {
  const char* name = RequestedFirstPage(run);
  if (IsDefaultName(name)) return name;
  char path[kPathBufferSize];
  if (!PathJoin(path, sizeof path, kMaxPath, folder, name)) return kFirstPageName;
  return IsGeneratedPageContent(path) ? name : kFirstPageName;
}

const char* SubfolderFirstPage(const TIndexRun& run, const char* folder, const char* name) {
  const char* requested = RequestedFirstPage(run);
  if (IsDefaultName(requested)) return requested;
  char path[kPathBufferSize];
  if (!PathJoin(path, sizeof path, kMaxPath, folder, name)) return kFirstPageName;
  return WrittenFirstPage(run, path);
}

bool SubfolderPageExists(const char* folder, const char* name, const char* first) {
  char subfolder[kPathBufferSize];
  char path[kPathBufferSize];
  struct stat info;
  return PathJoin(subfolder, sizeof subfolder, kMaxPath, folder, name) &&
         PathJoin(path, sizeof path, kMaxPath, subfolder, first) && ::stat(path, &info) == 0 &&
         S_ISREG(info.st_mode);
}
