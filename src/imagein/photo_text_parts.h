#pragma once
// The readers behind ReadPhotoText, one per source of a photo's texts, and
// the text rules they share. Each fills only what its source holds (a later
// source then wins field by field) and never throws; a part it cannot use is
// left out with a warning naming `path`.

#include <string>
#include <string_view>
#include <vector>

#include "imagein/photo_text.h"

// The metadata of an image file's bytes (JPEG, PNG, WebP, TIFF, ... as
// exiv2 reads them): XMP first, then IPTC, then EXIF. A format without
// metadata gives nothing and no warning.
void ReadEmbeddedPhotoText(const uint8_t* data, size_t size, const char* path, TPhotoText* text,
                           std::vector<TPhotoTextWarning>* warnings);

// An XMP sidecar's text (an XMP packet, as darktable, Lightroom and digiKam write).
void ReadXmpSidecarText(std::string_view packet, const char* path, TPhotoText* text,
                        std::vector<TPhotoTextWarning>* warnings);

// A Markdown sidecar: `Name: value` header lines (Title, Keywords, Date,
// Rating), then the caption in Markdown.
void ReadMarkdownSidecarText(std::string_view markdown, const char* path, TPhotoText* text,
                             std::vector<TPhotoTextWarning>* warnings);

// A Google Photos Takeout JSON of the photo `photo_name`.
void ReadTakeoutJsonText(std::string_view json, const char* photo_name, const char* path, TPhotoText* text,
                         std::vector<TPhotoTextWarning>* warnings);

// `later`'s fields that are set replace those of `text`.
void MergePhotoText(const TPhotoText& later, TPhotoText* text);

// Text rules shared by the readers.
bool IsUtf8Text(std::string_view text);
// ISO 8859-1 bytes as UTF-8.
std::string Latin1ToUtf8(std::string_view text);
// Trimmed of white space and trailing NULs, cut to `max_bytes` at a character boundary.
std::string TidyText(std::string_view text, size_t max_bytes);
// A one-line text: line breaks and tabs become spaces, then tidied.
std::string TidyLine(std::string_view text, size_t max_bytes);
// Adds `keyword` (tidied) unless empty, already there, or the list is full.
void AddKeyword(std::string_view keyword, std::vector<std::string>* keywords);
// Whether the place is one: finite, within range, not the 0,0 of "unknown".
bool UsablePlace(double latitude, double longitude);
