#include "engine/run/subfolder_order.h"

#include <cctype>

namespace {

int CompareNoCase(const char* a, const char* b) {
  for (;; ++a, ++b) {
    const int ca = std::toupper(static_cast<unsigned char>(*a));
    const int cb = std::toupper(static_cast<unsigned char>(*b));
    if (ca != cb || ca == 0) return static_cast<unsigned char>(ca) - static_cast<unsigned char>(cb);
  }
}

}  // namespace

bool CompareSubfolders(const TStrEntry* a, const TStrEntry* b, intptr_t sort) {
  if (sort == 1 && a->count != b->count) return a->count > b->count;
  if (sort == 0 || sort == 1) return CompareNoCase(a->name, b->name) < 0;
  return false;
}
