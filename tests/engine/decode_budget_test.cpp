// Every decode path reserves from the process's one decode budget: with the
// whole budget held elsewhere, a modern production (JPEG row stream or whole
// decode of another format) and a classic cell-by-cell thumbnail wait, and
// finish once it is given back, leaving nothing held.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "engine/classic/image_cell.h"
#include "engine/modern/images.h"
#include "fixtures/image_writers.h"
#include "fixtures/tree_writer.h"
#include "imagein/memory_budget.h"

namespace {

TEST(DecodeBudget, EveryDecodePathWaitsForTheProcessBudget) {
  TScratchDir dir("vc-decode-budget");
  const std::string folder = dir.path();
  ASSERT_TRUE(WriteTestJpeg(dir.Join("a.jpg"), 300, 200));
  ASSERT_TRUE(WriteTestBmp24(dir.Join("b.bmp"), 300, 200));
  const struct {
    const char* label;
    std::function<bool()> decode;
  } cases[] = {
      {"modern, JPEG row stream",
       [&] {
         TModernImageResult result;
         return ProduceModernImages(folder.c_str(), "a.jpg", TModernImageOptions{}, &result);
       }},
      {"modern, whole decode",
       [&] {
         TModernImageResult result;
         return ProduceModernImages(folder.c_str(), "b.bmp", TModernImageOptions{}, &result);
       }},
      {"classic, cell by cell",
       [&] {
         std::string out;
         return WriteThumbnail(out, folder.c_str(), "b.bmp", 0, TCellOptions{}) == 1;
       }},
  };
  TMemoryBudget& budget = DecodeMemoryBudget();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    ASSERT_EQ(budget.Held(), 0u);
    std::atomic<bool> finished{false};
    bool ok = false;
    std::thread decode;
    {
      TBudgetHold everything(budget, budget.Capacity());
      decode = std::thread([&] {
        ok = c.decode();
        finished = true;
      });
      // Long enough for these small images to be made many times over.
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      EXPECT_FALSE(finished.load());
    }
    decode.join();
    EXPECT_TRUE(ok);
    EXPECT_EQ(budget.Held(), 0u);
  }
}

}  // namespace
