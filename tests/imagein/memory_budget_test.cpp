// The thumbnail pool's memory budget: reservations wait while others hold too
// much, never hold more than the capacity together, and every wait ends.

#include "imagein/memory_budget.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

namespace {

TEST(MemoryBudget, ReservationsAddUpAndAnOversizedOneTakesTheWholeCapacity) {
  TMemoryBudget budget(100);
  EXPECT_EQ(budget.Reserve(30), 30u);
  EXPECT_EQ(budget.Reserve(70), 70u);
  EXPECT_EQ(budget.Held(), 100u);
  budget.Release(30);
  budget.Release(70);
  EXPECT_EQ(budget.Held(), 0u);
  // Alone over the capacity: held as the whole capacity, so it runs alone.
  EXPECT_EQ(budget.Reserve(500), 100u);
  EXPECT_EQ(budget.Held(), 100u);
  budget.Release(100);
  EXPECT_EQ(budget.PeakHeld(), 100u);
}

TEST(MemoryBudget, AReservationThatDoesNotFitWaitsForARelease) {
  TMemoryBudget budget(100);
  const uint64_t first = budget.Reserve(70);
  std::atomic<bool> reserved{false};
  std::thread waiter([&] {
    const uint64_t held = budget.Reserve(50);
    reserved = true;
    budget.Release(held);
  });
  // The waiter cannot get its 50 while 70 of 100 are held.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(reserved.load());
  EXPECT_EQ(budget.Held(), 70u);
  budget.Release(first);
  waiter.join();
  EXPECT_TRUE(reserved.load());
  EXPECT_EQ(budget.Held(), 0u);
  EXPECT_LE(budget.PeakHeld(), 100u);
}

TEST(MemoryBudget, ManyThreadsNeverHoldMoreThanTheCapacityAndAllFinish) {
  TMemoryBudget budget(1000);
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&budget, t] {
      uint32_t state = 2654435761u * static_cast<uint32_t>(t + 1);
      for (int i = 0; i < 2000; ++i) {
        state = state * 1664525u + 1013904223u;
        const uint64_t held = budget.Reserve(1 + (state >> 8) % 1200);  // some over the capacity
        budget.Release(held);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(budget.Held(), 0u);
  EXPECT_LE(budget.PeakHeld(), 1000u);
  EXPECT_GT(budget.PeakHeld(), 0u);
}

// With a ceiling (the coefficient budget): a request that does not fit
// within the capacity goes ahead beyond it while no other is beyond and the
// ceiling allows; the next one waits; one that fits still goes within.
TEST(MemoryBudget, OneRequestAtATimeGoesBeyondTheCapacityUnderTheCeiling) {
  TMemoryBudget budget(100, 250);
  const uint64_t within = budget.Reserve(70);
  EXPECT_FALSE(TMemoryBudget::IsBeyond(within));
  const uint64_t beyond = budget.Reserve(150);  // does not fit within: beyond, at once
  EXPECT_TRUE(TMemoryBudget::IsBeyond(beyond));
  EXPECT_EQ(budget.HeldBeyond(), 150u);
  EXPECT_EQ(budget.Held(), 70u);
  const uint64_t small = budget.Reserve(30);  // fits beside the 70, and under the ceiling
  EXPECT_FALSE(TMemoryBudget::IsBeyond(small));
  EXPECT_EQ(budget.Held(), 100u);
  std::atomic<bool> reserved{false};
  std::thread waiter([&] {
    const uint64_t held = budget.Reserve(40);
    reserved = true;
    budget.Release(held);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(reserved.load());  // neither within nor beyond
  budget.Release(beyond);
  waiter.join();
  EXPECT_TRUE(reserved.load());
  EXPECT_EQ(budget.HeldBeyond(), 0u);
  budget.Release(small);
  budget.Release(within);
  EXPECT_EQ(budget.Held(), 0u);

  // Two oversized requests go side by side while the ceiling allows them.
  const uint64_t first = budget.Reserve(120);
  const uint64_t second = budget.Reserve(120);
  EXPECT_EQ(budget.Held(), 100u);
  EXPECT_EQ(budget.HeldBeyond(), 120u);
  budget.Release(second);
  budget.Release(first);
  // Past the ceiling the second waits; alone, a request past it goes ahead.
  const uint64_t large = budget.Reserve(400);
  reserved = false;
  std::thread over([&] {
    const uint64_t held = budget.Reserve(120);
    reserved = true;
    budget.Release(held);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(reserved.load());
  budget.Release(large);
  over.join();
  EXPECT_TRUE(reserved.load());
  EXPECT_EQ(budget.Held(), 0u);
  EXPECT_EQ(budget.HeldBeyond(), 0u);
  EXPECT_EQ(budget.PeakAsked(), 400u);
}

TEST(MemoryBudget, ManyThreadsHoldAtMostOneRequestBeyondTheCapacityAndStayUnderTheCeiling) {
  TMemoryBudget budget(1000, 2000);
  std::atomic<int> beyond{0};
  std::atomic<int> most_beyond{0};
  std::atomic<uint64_t> asked{0};
  std::atomic<uint64_t> most_asked{0};
  auto raise = [](std::atomic<uint64_t>& most, uint64_t now) {
    uint64_t seen = most.load();
    while (now > seen && !most.compare_exchange_weak(seen, now)) {
    }
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      uint32_t state = 2654435761u * static_cast<uint32_t>(t + 1);
      for (int i = 0; i < 2000; ++i) {
        state = state * 1664525u + 1013904223u;
        const uint64_t bytes = 1 + (state >> 8) % 1200;
        const uint64_t held = budget.Reserve(bytes);
        raise(most_asked, asked += bytes);
        const bool is_beyond = TMemoryBudget::IsBeyond(held);
        if (is_beyond) {
          const int now = ++beyond;
          int seen = most_beyond.load();
          while (now > seen && !most_beyond.compare_exchange_weak(seen, now)) {
          }
          --beyond;
        }
        asked -= bytes;
        budget.Release(held);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(budget.Held(), 0u);
  EXPECT_EQ(budget.HeldBeyond(), 0u);
  EXPECT_LE(budget.PeakHeld(), 1000u);
  EXPECT_LE(most_beyond.load(), 1);  // whether any went beyond depends on the timing
  EXPECT_LE(most_asked.load(), 2000u);
  EXPECT_LE(budget.PeakAsked(), 2000u);
}

}  // namespace
