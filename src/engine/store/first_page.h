#pragma once
// The name of a folder's first page. With the default name every folder's
// first page is vellumcast.html. Another name (index.html, so that a web
// server opens the catalog of a folder) is used only where it replaces no
// file that a run did not write: a file of that name without the generator
// marker stays, and that folder's first page keeps the default name.

#include <cstddef>

#include "engine/run/index_run.h"

// A file name of letters, digits, '.', '-' and '_' (not starting with '.'),
// at most 128 bytes, ending in ".html" or ".htm" (any case), that names no
// other generated file.
bool IsValidFirstPageName(const char* name);

// The first page name the run asks for: `firstpage`, or the default when
// that is empty or not a valid name.
const char* RequestedFirstPage(const TIndexRun& run);

// The name under which `folder`'s first page is written by this run: the
// requested name unless a file of that name exists there that no run wrote.
// When `count` is set, such a kept file is counted in `firstpagekept`.
const char* ChooseFirstPage(TIndexRun& run, const char* folder, bool count);

// The name of the first page of `folder` once its pages are written (the
// walk writes a folder's subfolders before the folder): the requested name
// when a generated page of that name is there, else the default.
const char* WrittenFirstPage(const TIndexRun& run, const char* folder);

// As WrittenFirstPage for the subfolder `name` of `folder`.
const char* SubfolderFirstPage(const TIndexRun& run, const char* folder, const char* name);

// True when the subfolder `name` of `folder` holds its first page `first`
// (a page of it is there to link to).
bool SubfolderPageExists(const char* folder, const char* name, const char* first);
