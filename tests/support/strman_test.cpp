#include "support/strman.h"

#include "support/hash.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<std::string> WalkNames(TStrEntry* head) {
  std::vector<std::string> names;
  for (TStrEntry* e = head; e != nullptr; e = e->walk) names.emplace_back(e->name);
  return names;
}

TEST(StringTable, AddingTheSameNameTwiceRaisesItsCountAndCaseMakesANewEntry) {
  TStringManager table(sizeof(TStrEntry), 10, 0, nullptr);
  TStrEntry* first = table.FindOrAdd("a.jpg");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->count, 1);
  EXPECT_EQ(first->owner, &table);
  TStrEntry* again = table.FindOrAdd("a.jpg");
  EXPECT_EQ(again, first);
  EXPECT_EQ(first->count, 2);
  TStrEntry* upper = table.FindOrAdd("A.jpg");
  EXPECT_NE(upper, first);
  EXPECT_EQ(table.TotalEntries(), 2);
  EXPECT_EQ(table.total_name_length(), 10u);
}

TEST(StringTable, FindReportsTheBucketHeadAndRaisesTheCount) {
  TStringManager table(sizeof(TStrEntry), 6, 0, nullptr);
  TStrEntry* added = table.FindOrAdd("trip");
  TStrEntry* head = nullptr;
  EXPECT_EQ(table.Find("trip", &head), added);
  ASSERT_NE(head, nullptr);
  EXPECT_EQ(head->name, nullptr);
  EXPECT_EQ(added->count, 2);
  TStrEntry* missing_head = nullptr;
  EXPECT_EQ(table.Find("Trip", &missing_head), nullptr);
  EXPECT_NE(missing_head, nullptr);
  EXPECT_EQ(table.FindOrAdd(nullptr), nullptr);
}

TEST(StringTable, NamesAreCopiedUnlessTheTableDoesNotOwnThem) {
  char name[] = "photo.gif";
  TStringManager owning(sizeof(TStrEntry), 4, 0, nullptr);
  TStrEntry* copied = owning.FindOrAdd(name);
  EXPECT_NE(copied->name, name);
  TStringManager borrowing(sizeof(TStrEntry), 4, kStrNamesNotOwned, nullptr);
  TStrEntry* stored = borrowing.FindOrAdd(name);
  EXPECT_EQ(stored->name, name);
  name[0] = 'P';
  EXPECT_STREQ(copied->name, "photo.gif");
}

TEST(StringTable, SortedWalkUsesByteOrderByDefault) {
  TStringManager table(sizeof(TStrEntry), 10, 0, nullptr);
  for (const char* name : {"b.gif", "a.gif", "B.gif", "A.gif", "\xE9t\xE9.jpg", "_x.jpg"}) {
    table.FindOrAdd(name);
  }
  EXPECT_EQ(WalkNames(table.SortedWalk(0, nullptr)),
            (std::vector<std::string>{"A.gif", "B.gif", "_x.jpg", "a.gif", "b.gif",
                                      "\xE9t\xE9.jpg"}));
}

TEST(StringTable, SortedWalkOnAnEmptyTableReturnsNull) {
  TStringManager table(sizeof(TStrEntry), 6, 0, nullptr);
  EXPECT_EQ(table.SortedWalk(0, nullptr), nullptr);
  EXPECT_FALSE(table.sorted());
  EXPECT_EQ(table.TotalEntries(), 0);
}

TEST(StringTable, SortedOrderLastsUntilTheNextChange) {
  TStringManager table(sizeof(TStrEntry), 10, 0, nullptr);
  for (const char* name : {"c", "a", "b"}) table.FindOrAdd(name);
  TStrEntry* sorted = table.SortedWalk(0, nullptr);
  EXPECT_EQ(table.Walk(), sorted);
  EXPECT_TRUE(table.sorted());
  table.FindOrAdd("a");  // already present: no change
  EXPECT_EQ(table.Walk(), sorted);
  table.FindOrAdd("d");
  EXPECT_FALSE(table.walk_valid());
  std::vector<std::string> names = WalkNames(table.Walk());
  EXPECT_FALSE(table.sorted());
  EXPECT_EQ(names.size(), 4u);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"a", "b", "c", "d"}));
}

bool ByCountThenName(const TStrEntry* a, const TStrEntry* b, intptr_t user) {
  EXPECT_EQ(user, 42);
  if (a->count != b->count) return a->count > b->count;
  return std::strcmp(a->name, b->name) < 0;
}

TEST(StringTable, SortedWalkPassesUserDataToTheRelation) {
  TStringManager table(sizeof(TStrEntry), 6, 0, nullptr);
  table.FindOrAdd("x")->count = 5;
  table.FindOrAdd("B")->count = 12;
  table.FindOrAdd("a")->count = 12;
  EXPECT_EQ(WalkNames(table.SortedWalk(42, ByCountThenName)),
            (std::vector<std::string>{"B", "a", "x"}));
  EXPECT_EQ(table.user_data(), 42);
}

bool AlwaysBefore(const TStrEntry*, const TStrEntry*, intptr_t) { return true; }
bool NeverBefore(const TStrEntry*, const TStrEntry*, intptr_t) { return false; }

TEST(StringTable, ARelationThatBreaksItsContractStillEndsWithEveryEntry) {
  for (TStrRelation relation : {AlwaysBefore, NeverBefore}) {
    TStringManager table(sizeof(TStrEntry), 4, 0, nullptr);
    for (int i = 0; i < 300; ++i) table.FindOrAdd(std::to_string(i).c_str());
    EXPECT_EQ(WalkNames(table.SortedWalk(0, relation)).size(), 300u);
  }
}

TEST(StringTable, SortsManyNamesAndKeepsStatistics) {
  TStringManager table(sizeof(TStrEntry), 10, 0, nullptr);
  std::vector<std::string> expected;
  for (int i = 0; i < 5000; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "img%05d.jpg", (i * 7919) % 5000);
    table.FindOrAdd(name);
    std::snprintf(name, sizeof name, "img%05d.jpg", i);
    expected.emplace_back(name);
  }
  EXPECT_EQ(WalkNames(table.SortedWalk(0, nullptr)), expected);
  table.Clear();
  for (int i = 0; i < 3000; ++i) table.FindOrAdd(std::to_string(i).c_str());
  table.Walk();
  EXPECT_EQ(table.TotalEntries(), 3000);
  EXPECT_GE(table.longest_chain(), 3);
  EXPECT_GE(table.mean_search_length(), 1);
}

TEST(StringTable, WalkStatisticsForKnownChains) {
  // One bucket: every entry hangs from the same chain.
  TStringManager table(sizeof(TStrEntry), 1, 0, nullptr);
  table.Walk();
  EXPECT_EQ(table.mean_search_length(), 0);
  int32_t added = 0;
  for (int i = 0; i < 64 && added < 4; ++i) {
    const std::string name = "n" + std::to_string(i);
    if ((HashString(name.c_str(), 0) & 1u) == 0) {
      table.FindOrAdd(name.c_str());
      ++added;
    }
  }
  table.Walk();
  EXPECT_EQ(table.longest_chain(), 4);
  EXPECT_EQ(table.mean_search_length(), 2);  // (1 + 2 + 3 + 4) / 4
}

struct TGeometryCase {
  int bits;
  size_t buckets;
  size_t quantum;
};

TEST(StringTable, GeometryFollowsTheHashBits) {
  for (const TGeometryCase& c : {TGeometryCase{1, 2, 1}, TGeometryCase{2, 4, 1}, TGeometryCase{6, 64, 16},
                                 TGeometryCase{7, 128, 32}, TGeometryCase{10, 1024, 32}}) {
    TStringManager table(sizeof(TStrEntry), c.bits, 0, nullptr);
    EXPECT_EQ(table.bucket_count(), c.buckets) << c.bits;
    EXPECT_EQ(table.mask(), c.buckets - 1) << c.bits;
    EXPECT_EQ(table.H_Bytes(), c.buckets * sizeof(TStrEntry*)) << c.bits;
    EXPECT_EQ(table.AllocQuantum(), c.quantum) << c.bits;
  }
}

TEST(StringTable, ClearEmptiesTheTableAndReusesEntries) {
  TStringFreeList shared;
  const int64_t allocated_before = StrEntriesAllocated();
  const int64_t released_before = StrEntriesReleased();
  {
    TStringManager table(sizeof(TStrEntry), 6, 0, &shared);
    for (int i = 0; i < 100; ++i) table.FindOrAdd(std::to_string(i).c_str());
    TStrEntry* old_entry = table.Find("7");
    table.Clear();
    EXPECT_EQ(table.TotalEntries(), 0);
    EXPECT_EQ(table.Walk(), nullptr);
    EXPECT_EQ(table.Find("7"), nullptr);
    // The last entry given back is the first taken again.
    std::vector<TStrEntry*> fresh;
    for (int i = 0; i < 100; ++i) fresh.push_back(table.FindOrAdd(("x" + std::to_string(i)).c_str()));
    EXPECT_NE(std::find(fresh.begin(), fresh.end(), old_entry), fresh.end());
    EXPECT_EQ(fresh.back()->count, 1);
  }
  EXPECT_EQ(StrEntriesAllocated() - allocated_before, StrEntriesReleased() - released_before);
}

TEST(StringTable, TablesOfOneEntrySizeShareAFreeList) {
  TStringFreeList shared;
  TStringManager a(sizeof(TStrEntry), 6, 0, &shared);
  TStringManager b(sizeof(TStrEntry), 10, 0, &shared);
  a.FindOrAdd("one");
  b.FindOrAdd("one");
  EXPECT_EQ(shared.EntrySize(), sizeof(TStrEntry));
  EXPECT_EQ(a.FreeList(), b.FreeList());
}

struct TBigEntry {
  TStrEntry base;
  double extra[3];
};

TEST(StringTable, LargerEntriesAndHeapEntriesWork) {
  for (uint32_t flags : {0u, kStrEntriesFromHeap}) {
    TStringManager table(sizeof(TBigEntry) + 4, 3, flags, nullptr);
    for (int i = 0; i < 50; ++i) {
      TStrEntry* e = table.FindOrAdd(std::to_string(i).c_str());
      auto* big = reinterpret_cast<TBigEntry*>(e);
      EXPECT_EQ(big->extra[2], 0.0);
      big->extra[2] = i;
    }
    EXPECT_EQ(WalkNames(table.SortedWalk(0, nullptr)).size(), 50u);
  }
}

TEST(StringTable, PoolInternsNamesFirst) {
  TStringManager pool(sizeof(TStrEntry), 4, 0, nullptr);
  TStringManager table(sizeof(TStrEntry), 4, kStrNamesNotOwned, nullptr);
  table.set_pool(&pool);
  TStrEntry* e = table.FindOrAdd("shared");
  EXPECT_EQ(e->name, pool.Find("shared")->name);
}

using StringTableDeathTest = ::testing::Test;

TEST_F(StringTableDeathTest, BrokenContractsStopWithTheAssertionText) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        TStringFreeList shared;
        TStringManager a(sizeof(TStrEntry), 4, 0, &shared);
        TStringManager b(sizeof(TStrEntry) + 8, 4, 0, &shared);
      },
      "Assertion failed: EntrySize==entrysize, file strman, line [0-9]+");
  EXPECT_DEATH({ TStringManager t(0, 4, 0, nullptr); }, "Assertion failed: entry_size>0, file strman");
  EXPECT_DEATH({ TStringManager t(sizeof(TStrEntry), 0, 0, nullptr); },
               "Assertion failed: bits>0, file strman");
  EXPECT_DEATH(
      {
        TStringManager t(sizeof(TStrEntry), 4, 0, nullptr);
        t.Find(nullptr);
      },
      "Assertion failed: name, file strman");
}

}  // namespace
