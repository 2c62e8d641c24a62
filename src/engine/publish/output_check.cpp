#include "engine/publish/output_check.h"

#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/real_path.h"

bool OutputFolderKeepsApart(const char* tree, const char* output, std::string* message) {
  if (output[0] == '\0') return true;
  char tree_real[PATH_MAX];
  if (!ResolvePath(tree, tree_real, sizeof tree_real)) {
    *message = std::string("cannot resolve the photo folder '") + tree + "': " + std::strerror(errno);
    return false;
  }
  std::string output_real;
  if (!ResolvePathAhead(output, &output_real)) return true;
  const char* relation = nullptr;
  if (output_real == tree_real) {
    relation = " is ";
  } else if (IsPathWithin(output_real.c_str(), tree_real)) {
    relation = " lies inside ";
  } else if (IsPathWithin(tree_real, output_real.c_str())) {
    relation = " contains ";
  }
  if (relation == nullptr) return true;
  *message = std::string("the output folder '") + output + "'" + relation + "the photo folder '" + tree + "'" +
             (output_real == tree_real ? " itself" : "") + "; choose a folder outside it";
  return false;
}
