#pragma once
// Small, stateless helpers on path strings and on the file system. Paths are
// NUL-terminated byte strings; helpers that edit one take its buffer size and
// never write past it. All are reentrant.

#include <cstddef>
#include <cstdio>
#include <string>

// The one folder separator of this build.
inline constexpr char kPathSeparator = '/';

// Longest folder path the walk enters, and longest of every other path
// (pages, images, templates, thumbnails). A longer path is skipped, never cut.
inline constexpr size_t kMaxFolderPath = 255;
inline constexpr size_t kMaxPath = 1023;
inline constexpr size_t kFolderPathBufferSize = kMaxFolderPath + 1;
inline constexpr size_t kPathBufferSize = kMaxPath + 1;

// Appends one separator unless the path is empty or already ends in one.
// False (path unchanged) when the buffer of `capacity` bytes has no room.
bool PathAddSeparator(char* path, size_t capacity);

// out = folder, separator (by PathAddSeparator's rule), name. False, with out
// left empty, when the result would be longer than `max_length` characters or
// not fit the buffer of `capacity` bytes.
bool PathJoin(char* out, size_t capacity, size_t max_length, const char* folder, const char* name);

// Turns every separator of this build into a forward slash, in place (the
// form written into pages).
void PathToUrlSlashes(char* text);

// True when the text from the last dot of `name` to its end equals `extension`
// (with its dot) without regard to case. No dot: false.
bool HasExtension(const char* name, const char* extension);

// Nonzero when `path` names a folder (a link to a folder counts).
int IsDirectory(const char* path);

// Tests, and with `create` set makes, every folder level of `path` that is
// followed by a separator, from the top down; the text after the last
// separator is never touched. "." and ".." levels count as present. 1 when
// every level exists at the end, 0 at the first missing (or uncreatable)
// level. The path reads the same on return.
int MakePathDirs(char* path, int create);

// MakePathDirs on a copy of `path` with a separator added, so the last level
// counts too. 0 for a path too long for a 1024-byte buffer with its separator.
int CheckDirPath(const char* path, int create);

// Points just past the last separator ('/' always counts), the whole string
// when there is none, the empty end when the path ends in one.
const char* PathFileName(const char* path);
char* PathFileName(char* path);

// Lower-cases every byte in place with the current locale's mapping.
void StrLower(char* text);

// True when `path` is a regular file (links followed) or names nothing: what
// may be opened for reading without risk of blocking or of endless data.
// FIFOs, devices and sockets give false.
bool IsRegularFileOrMissing(const char* path);

// The guard that replaces the reserved device names of other platforms: true
// for anything that exists and is not a regular file. A file named con.gif is
// an ordinary file.
bool IsReservedDeviceName(const char* path);

// Opens a regular file for binary reading; null when it cannot be opened or
// is not a regular file. Never blocks on a FIFO and is not fooled by a file
// swapped between a check and the open.
std::FILE* OpenRegularFileForReading(const char* path);

// Reads up to `size` bytes from the start of the regular file `path`, with
// the same checks as above and no more system calls than the check, the
// open, one read (or a few, should the system return less) and the close.
// The count read, or -1; `whole` (when given) tells whether that is the
// whole file.
long ReadRegularFileHead(const char* path, unsigned char* out, size_t size, bool* whole = nullptr);

// Whether ReadWholeRegularFile follows a symbolic link at the path: a user's
// settings file may be one; a file the program wrote and reads back may not.
enum class TLinkRule { kFollow, kRefuse };

// Reads the whole regular file `path` into `text` (replaced), with the same
// checks as above: at most `max_bytes`, else false. False, with `error`
// set (the system's message, or a short reason), when it cannot be read.
bool ReadWholeRegularFile(const char* path, size_t max_bytes, TLinkRule links, std::string* text,
                          std::string* error);
