#pragma once
// Text helpers of the window: folder paths as typed and file-dialog filters.

#include <QString>

// The path with one "/" added, unless it is empty or already ends in "/"
// (the rule of the engine's PathAddSeparator, on window texts).
QString WithTrailingSeparator(const QString& path);

// The page that View opens for a starting path: "vellumcast.html" in that
// folder, or in the process's current folder when the path is empty; always
// returned as an absolute path.
QString TopCatalogPage(const QString& start_path);

// Turns a filter of "description|pattern" pairs, patterns separated by ";"
// (e.g. "Html Files|*htm*"), into a Qt name-filter list such as
// "Html Files (*htm*)". A trailing description without a pattern is dropped.
QString QtNameFilter(const QString& pairs);
