#pragma once
// Temporary files that an earlier run left when it was killed while writing:
// a generated name followed by a run's temporary suffix (generated_names.h),
// whose writing process is gone.

// Where a folder's leftovers may be, as a listing of the folder shows it.
// Both true when nothing is known.
struct TLeftoverHint {
  bool in_folder = true;         // a temporary name among the folder's entries
  bool thumbnail_folder = true;  // a thumbnail folder among them
};

// Removes them from `folder` and from its thumbnail folder, before a run
// writes that folder. A name whose base is not generated stays, as does
// anything that is not a regular file; the thumbnail folder is never entered
// through a link, and temporary files of a process still alive (another run,
// or this one) stay. The folder is listed only when `hint.in_folder`; the
// thumbnail folder only when it was changed after its manifest was put in
// place (every run that completes a folder puts its manifest in place last,
// so a folder unchanged since holds no temporary file of a dead run).
void RemoveLeftoverTemporaries(const char* folder, TLeftoverHint hint = TLeftoverHint{});

// The process id written into a temporary suffix (".tmp<pid>-<n>" and the
// like), or -1 when `name` carries no such suffix or the number does not fit.
long TemporaryWriterId(const char* name);
