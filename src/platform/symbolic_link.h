#pragma once
// Whether a name is itself a symbolic link, without following it.

// True when `path` names a symbolic link (dangling or not).
bool IsSymbolicLink(const char* path);
