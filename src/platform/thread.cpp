#include "platform/thread.h"

#include <system_error>

TThread::~TThread() {
  WaitFor();
  // Destroyed by its own thread: nothing to wait for, and joining would never end.
  if (thread_.joinable()) thread_.detach();
}

bool TThread::Start() {
  if (started_) return false;
  started_ = true;
  try {
    thread_ = std::thread([this] { Execute(); });
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

void TThread::WaitFor() {
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}
