#pragma once
// The run's notifications to its owner, shared by the walk and the page writer.

#include <cstdint>

#include "engine/run/index_run.h"

// Posts `message` to the run's owner, when it has one.
inline void PostToOwner(const TIndexRun& run, uint32_t message) {
  if (run.ownerwindow != nullptr) run.ownerwindow->Post(message);
}
