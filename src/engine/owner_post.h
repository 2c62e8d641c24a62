#pragma once
// The worker's notifications to its owner, shared by the walk and the page writer.

#include <cstdint>

#include "engine/thread_vellumcast.h"

// Posts `message` to the worker's owner, when it has one.
inline void PostToOwner(const TThreadVellumcast& worker, uint32_t message) {
  if (worker.ownerwindow != nullptr) worker.ownerwindow->Post(message);
}
