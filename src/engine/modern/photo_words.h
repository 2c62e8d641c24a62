#pragma once
// A photo's texts as the pages show them: the one-line label of its cell,
// its caption as HTML, its rating as stars and its place as a map link.

#include <cstdint>
#include <string>

#include "imagein/photo_text.h"

// The title, else the caption's first line (of its plain text when it is
// Markdown); empty when the photo has neither.
std::string PhotoCellLabel(const TPhotoText& text);

// The caption as HTML: Markdown rendered (MarkdownToHtml), a plain caption
// escaped with its line breaks kept; empty when there is none.
std::string PhotoCaptionHtml(const TPhotoText& text);

// A video's length as a player shows it: "0:07", "12:30", "1:02:03"
// (whole seconds, rounded down); empty for 0 or less (not known).
std::string VideoDurationText(int64_t duration_ms);

// "★★★★☆" for 4, and its spoken form "4 of 5 stars"; a rejected photo (-1)
// "Rejected". False when the photo has no rating.
bool PhotoRating(int32_t rating, std::string* stars, std::string* spoken);

// Latitude and longitude in degrees with six decimals ("38.713900"), in
// any locale.
std::string CoordinateText(double degrees);

// The OpenStreetMap address of a place, marked and centred at zoom 15.
std::string MapAddress(double latitude, double longitude);
