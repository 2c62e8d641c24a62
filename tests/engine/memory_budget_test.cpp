// The thumbnail pool's memory budget: reservations wait while others hold too
// much, never hold more than the capacity together, and every wait ends.

#include "engine/memory_budget.h"

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

}  // namespace
