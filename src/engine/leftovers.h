#pragma once
// Temporary files that an earlier run left when it was killed while writing:
// a generated name followed by a run's temporary suffix (generated_names.h),
// whose writing process is gone.

// Removes them from `folder` and from its thumbnail folder, before a run
// writes that folder. A name whose base is not generated stays, as does
// anything that is not a regular file; the thumbnail folder is never entered
// through a link, and temporary files of a process still alive (another run,
// or this one) stay.
void RemoveLeftoverTemporaries(const char* folder);

// The process id written into a temporary suffix (".tmp<pid>-<n>" and the
// like), or -1 when `name` carries no such suffix or the number does not fit.
long TemporaryWriterId(const char* name);
