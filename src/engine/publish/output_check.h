#pragma once
// Whether an output folder keeps the catalog apart from the photo tree. The
// command line and the window ask this before a run starts; a folder that is
// the tree, lies inside it or holds it would put pages among the photos.

#include <string>

// True when `output` may take the catalog of the tree `tree`: empty (no
// output folder: the described run into the tree), or a folder that neither
// is the tree nor lies inside it nor contains it once links are followed (a
// folder not made yet is judged by its nearest existing ancestor). False,
// with a one-line `message`, otherwise. An output folder whose place cannot
// be resolved passes: no folder can be made there, and the run says so.
bool OutputFolderKeepsApart(const char* tree, const char* output, std::string* message);
