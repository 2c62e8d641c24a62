#include "engine/run/thread_vellumcast.h"

#include "engine/modern/theme.h"
#include "engine/run/owner_post.h"
#include "engine/run/walk.h"

TThreadVellumcast::~TThreadVellumcast() { WaitFor(); }

void TThreadVellumcast::Execute() {
  TIndexRun run(options, counters, report, ownerwindow, StopFlag());
  const bool modern = options.style == kStyleModern;
  TModernTheme modern_theme;
  TThemeError error;
  if (modern && !modern_theme.Load(options.theme, &error)) {
    // No page is written from a theme that does not load.
    std::string reason = error.message;
    if (error.line > 0) reason = "line " + std::to_string(error.line) + ": " + reason;
    report.AddFailure(TRunFailure::kPage, error.file.c_str(), 0, reason.c_str());
  } else {
    TFolderWalk walk(run, modern ? &modern_theme : nullptr);
    walk.IndexFolder(0, options.path.c_str());
  }
  PostToOwner(run, WM_INDEX_DONE);
}
