#pragma once
// The inline style sheet and viewer script of the modern pages: no
// framework, no fetch, so a subtree published alone still looks the same.

#include <cstdint>
#include <string>

// The style sheet of folder and viewer pages for cells of the given size.
void AppendModernStyle(std::string& out, int32_t cellwidth, int32_t cellheight);

// The viewer's keys (Left, Right, Escape) and swipes, as a script element.
// They follow the links with the ids vc-prev, vc-next and vc-back.
void AppendViewerScript(std::string& out);
