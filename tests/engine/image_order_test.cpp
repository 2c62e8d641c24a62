// The order of a folder's images: natural comparison of names, and the date
// order with its tie-break.

#include "engine/run/image_order.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

int Sign(int v) { return (v > 0) - (v < 0); }

struct TNaturalCase {
  const char* a;
  const char* b;
  int want;  // sign of NaturalCompare(a, b)
};

const TNaturalCase kNaturalCases[] = {
    {"img2.jpg", "img10.jpg", -1},
    {"img10.jpg", "img2.jpg", 1},
    {"IMG2.jpg", "img10.jpg", -1},       // case does not decide before the numbers
    {"a.jpg", "B.jpg", -1},              // case-insensitive
    {"B.jpg", "b.jpg", -1},              // equal without case: bytes decide ('B' < 'b')
    {"img02.jpg", "img2.jpg", -1},       // equal numbers: bytes decide ('0' < '2')
    {"img2.jpg", "img2.jpg", 0},
    {"x99999999999999999999.jpg", "x100000000000000000000.jpg", -1},  // runs longer than any integer
    {"photo.jpg", "photo1.jpg", -1},     // a prefix comes first
    {"2020-01-02", "2020-1-10", -1},
    {"", "a", -1},
};

TEST(NaturalCompare, OrdersDigitRunsAsNumbersThenCaseThenBytes) {
  for (const TNaturalCase& c : kNaturalCases) {
    EXPECT_EQ(Sign(NaturalCompare(c.a, c.b)), c.want) << c.a << " vs " << c.b;
    EXPECT_EQ(Sign(NaturalCompare(c.b, c.a)), -c.want) << c.b << " vs " << c.a;
  }
}

TEST(NaturalCompare, IsATotalOrderOverMixedNames) {
  std::vector<std::string> names = {"img10.png", "IMG2.png", "img2.png", "img02.png", "img1.png", "a",
                                    "A",         "a1b2",     "a1b10",    "a01b2",     "z",        "10", "9"};
  std::sort(names.begin(), names.end(),
            [](const std::string& a, const std::string& b) { return NaturalCompare(a.c_str(), b.c_str()) < 0; });
  const std::vector<std::string> want = {"9", "10", "A", "a", "a01b2", "a1b2", "a1b10",
                                         "img1.png", "IMG2.png", "img02.png", "img2.png", "img10.png", "z"};
  EXPECT_EQ(names, want);
  for (const auto& a : names) {
    for (const auto& b : names) {
      if (a != b) {
        EXPECT_NE(NaturalCompare(a.c_str(), b.c_str()), 0) << a << " " << b;
      }
    }
  }
}

TEST(ImageOrder, ParsesItsNames) {
  int32_t order = -1;
  for (const char* name : {"name", "natural", "date"}) {
    ASSERT_TRUE(ParseImageOrder(name, &order)) << name;
    EXPECT_STREQ(ImageOrderName(order), name);
  }
  EXPECT_FALSE(ParseImageOrder("Name", &order));
  EXPECT_FALSE(ParseImageOrder("", &order));
}

TEST(ImageOrder, DateOrderBreaksTiesByName) {
  TStringManager table(sizeof(TImageEntry), 4, 0, nullptr);
  const struct {
    const char* name;
    int64_t date;
  } entries[] = {{"c10.jpg", 100}, {"c9.jpg", 100}, {"b.jpg", 50}, {"a.jpg", 200}};
  for (const auto& e : entries) static_cast<TImageEntry*>(table.FindOrAdd(e.name))->date = e.date;
  std::string order;
  for (const TStrEntry* e = SortedImageWalk(table, kOrderDate); e != nullptr; e = e->walk) order += std::string(e->name) + " ";
  EXPECT_EQ(order, "b.jpg c9.jpg c10.jpg a.jpg ");
}

}  // namespace
