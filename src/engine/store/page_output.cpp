#include "engine/store/page_output.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "engine/run/run_report.h"
#include "engine/store/first_page.h"
#include "engine/store/generated_names.h"
#include "support/path_util.h"

namespace {

TRunFailure FailureOf(TPageKind kind) {
  return kind == TPageKind::kBackLink ? TRunFailure::kBackLink : TRunFailure::kPage;
}

}  // namespace

TFolderOutput::TFolderOutput(TIndexRun& run, const char* folder) : run_(run), folder_(folder) {
  record_.Read(folder);
  keep_record_ = run.options.style == 1 || run.options.prune != 0 ||
                 std::strcmp(RequestedFirstPage(run), kFirstPageName) != 0 || record_.Present();
}

TFolderOutput::~TFolderOutput() {
  file_.Discard();
  Finish();
}

void TFolderOutput::Report(TPageKind kind, const char* name, const char* path, const char* reason) {
  char shown[kPathBufferSize];
  if (path == nullptr || path[0] == '\0') {
    std::snprintf(shown, sizeof shown, "%s%c%s", folder_, kPathSeparator, name);
    path = shown;
  }
  run_.report.AddFailure(FailureOf(kind), path, 0, reason);
}

bool TFolderOutput::Start(TPageFile& file, TPageKind kind, const char* name, char* path, size_t capacity) {
  if (!IsRecordablePageName(name)) {
    Report(kind, name, nullptr, "not a page name");
    return false;
  }
  if (!PathJoin(path, capacity, kMaxPath, folder_, name)) {
    Report(kind, name, nullptr, "path longer than 1023 characters");
    return false;
  }
  if (!file.Create(path, run_.options.rebuild == 0)) {
    Report(kind, name, path, file.FailureReason());
    return false;
  }
  return true;
}

bool TFolderOutput::Commit(TPageFile& file, TPageKind kind, const char* name, const char* path,
                           const uint64_t* digest) {
  if (!file.Commit()) {
    Report(kind, name, path, file.FailureReason());
    return false;
  }
  written_.insert(name);
  TPageRecord::TEntry entry{name, {}, digest != nullptr, digest != nullptr ? *digest : 0};
  if (ReadPageStamp(folder_, name, &entry.stamp)) record_.Set(entry);
  return true;
}

bool TFolderOutput::Current(const char* name, uint64_t digest) {
  if (run_.options.rebuild != 0 || !keep_record_ || !record_.Current(folder_, name, digest)) return false;
  if (file_.IsOpen() && open_name_ == name) file_.Discard();
  written_.insert(name);
  ++run_.counters.currentcount;
  return true;
}

bool TFolderOutput::Open(TPageKind kind, const char* name) {
  file_.Discard();
  if (!Start(file_, kind, name, open_path_, sizeof open_path_)) return false;
  open_kind_ = kind;
  open_name_ = name;
  return true;
}

bool TFolderOutput::Close(const uint64_t* digest) {
  if (!file_.IsOpen()) return false;
  return Commit(file_, open_kind_, open_name_.c_str(), open_path_, digest);
}

bool TFolderOutput::Write(TPageKind kind, const char* name, const std::string& text, const uint64_t* digest) {
  TPageFile file;
  char path[kPathBufferSize];
  if (!Start(file, kind, name, path, sizeof path)) return false;
  file.Write(text);
  return Commit(file, kind, name, path, digest);
}

bool TFolderOutput::Wrote(const char* name) const {
  return written_.count(name) != 0;
}

void TFolderOutput::PruneUnwritten() {
  char path[kPathBufferSize];
  for (const TPageRecord::TEntry& entry : record_.Entries()) {
    const char* name = entry.name.c_str();
    if (Wrote(name) || !record_.Holds(folder_, name)) continue;
    if (PathJoin(path, sizeof path, kMaxPath, folder_, name)) ::unlink(path);
  }
}

void TFolderOutput::Finish() {
  if (finished_) return;
  finished_ = true;
  if (!keep_record_) return;
  // What this run wrote, and what earlier runs wrote that is still as they left it.
  TPageRecord kept;
  for (const TPageRecord::TEntry& entry : record_.Entries()) {
    if (Wrote(entry.name.c_str()) || record_.Holds(folder_, entry.name.c_str())) kept.Set(entry);
  }
  kept.Write(folder_);
}
