#pragma once
// A thread object created without starting, started once, with a stop-request
// flag that other threads set and the thread body polls.

#include <atomic>
#include <thread>

class TThread {
 public:
  TThread() = default;
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;
  // Joins; a derived class whose Execute reads its own members must call
  // WaitFor() in its own destructor.
  virtual ~TThread();

  // Runs Execute on a new thread; once only. False when no thread could be
  // made (or it was started already): Execute then never runs.
  bool Start();
  void Terminate() { terminated_.store(true, std::memory_order_relaxed); }
  bool Terminated() const { return terminated_.load(std::memory_order_relaxed); }
  // The stop-request flag itself, for work that polls it without the thread object.
  const std::atomic<bool>& StopFlag() const { return terminated_; }
  void WaitFor();               // joins when started and not yet joined

 protected:
  virtual void Execute() = 0;

 private:
  std::thread thread_;
  bool started_ = false;
  std::atomic<bool> terminated_{false};
};
