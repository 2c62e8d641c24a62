#include <cstring>

#include "engine/run/index_options.h"

bool ParseCaptionsMode(const char* text, int32_t* mode) {
  if (text == nullptr) return false;
  static constexpr const char* kNames[] = {"auto", "title", "name"};
  for (int32_t i = 0; i < 3; ++i) {
    if (std::strcmp(text, kNames[i]) == 0) {
      *mode = i;
      return true;
    }
  }
  return false;
}
