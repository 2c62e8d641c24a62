#include "platform/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

namespace {

class TCountingThread : public TThread {
 public:
  ~TCountingThread() override { WaitFor(); }
  std::atomic<int> runs{0};
  std::atomic<bool> saw_stop{false};
  bool wait_for_stop = false;

 protected:
  void Execute() override {
    ++runs;
    if (!wait_for_stop) return;
    while (!Terminated()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    saw_stop = true;
  }
};

TEST(Thread, NothingRunsBeforeStartAndExecuteRunsOnce) {
  TCountingThread thread;
  EXPECT_EQ(thread.runs, 0);
  EXPECT_TRUE(thread.Start());
  EXPECT_FALSE(thread.Start());
  thread.WaitFor();
  EXPECT_EQ(thread.runs, 1);
  EXPECT_FALSE(thread.Start());  // a finished thread is not run again
  thread.WaitFor();
  EXPECT_EQ(thread.runs, 1);
}

TEST(Thread, TerminateIsSeenByTheBodyAndTheDestructorWaits) {
  auto* thread = new TCountingThread;
  thread->wait_for_stop = true;
  ASSERT_TRUE(thread->Start());
  EXPECT_FALSE(thread->Terminated());
  thread->Terminate();
  EXPECT_TRUE(thread->Terminated());
  thread->WaitFor();
  EXPECT_TRUE(thread->saw_stop);
  delete thread;
}

TEST(Thread, NeverStartedThreadIsDestroyedQuietly) {
  TCountingThread thread;
  thread.WaitFor();
  EXPECT_EQ(thread.runs, 0);
}

}  // namespace
