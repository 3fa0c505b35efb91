#include "src/common/array.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/sstring.h"

namespace {

using ascommon::CArray;
using ascommon::CMap;
using ascommon::sstring;

TEST(CArray, GrowsInStepsKeepsAFreeSlotAndChecksIndexes) {
  CArray<int, 64> a;
  EXPECT_EQ(0u, a.GetCapacity());
  for (int i = 0; i < 63; ++i) ASSERT_EQ(0, a.Add(i));
  EXPECT_EQ(64u, a.GetCapacity());
  ASSERT_EQ(0, a.Add(63));  // the last free slot is never filled
  EXPECT_EQ(128u, a.GetCapacity());
  for (int i = 0; i < 64; ++i) EXPECT_EQ(i, a[i]);

  CArray<int, 4> b;
  for (int i = 0; i < 5; ++i) b.Add(i * 10);
  ASSERT_EQ(0, b.SetSize(3, false));
  EXPECT_EQ(3u, b.GetCount());
  EXPECT_EQ(4u, b.GetCapacity());
  EXPECT_EQ(20, b[2]);
  ASSERT_EQ(0, b.SetSize(9, false));
  EXPECT_EQ(3u, b.GetCount());
  EXPECT_EQ(12u, b.GetCapacity());
  ASSERT_EQ(0, b.SetSize(0, true));
  EXPECT_EQ(nullptr, b.GetData());
  EXPECT_THROW(b[0], InvalidIndexException);
  b.Add(1);
  try {
    b[1];  // the checked index raises at the count
    FAIL() << "no throw";
  } catch (const ASException& e) {
    EXPECT_EQ(-301, e.GetCode());
    EXPECT_STREQ("unknown exception", e.what());
  }
}

TEST(CArray, OwnsStringElementsAcrossGrowthAndShrink) {
  CArray<sstring, 2> a;
  for (int i = 0; i < 9; ++i) {
    std::string text = "a string long enough for the heap #" + std::to_string(i);
    ASSERT_EQ(0, a.Add(sstring(text.c_str())));
  }
  // Adding an element of the array itself while it grows.
  ASSERT_EQ(10u, a.GetCapacity());
  ASSERT_EQ(0, a.Add(a[0]));
  EXPECT_STREQ("a string long enough for the heap #0", a[9].c_str());
  EXPECT_STREQ("a string long enough for the heap #8", a[8].c_str());
  ASSERT_EQ(0, a.SetSize(2, false));
  ASSERT_EQ(0, a.SetSize(5, true));
  EXPECT_STREQ("a string long enough for the heap #1", a[1].c_str());
  EXPECT_TRUE(a[4].is_null());
}

TEST(CMap, DefaultHashesMatchTheirDefinitions) {
  EXPECT_EQ(2075347461u, ascommon::HashKey(uint64_t{0}));
  EXPECT_EQ(4215896077u, ascommon::HashKey(uint64_t{0x0102030405060708}));
  EXPECT_EQ(0u, ascommon::HashKey(uint32_t{0}));
  EXPECT_EQ(75334879u, ascommon::HashKey(uint32_t{0xFFFFFFFF}));
  EXPECT_EQ((5381u * 33u) ^ 97u, ascommon::HashKey(sstring("a")));
}

TEST(CMap, InsertLookupRemove) {
  CMap<uint64_t, int> map;
  ASSERT_EQ(0, map.Insert(7, 70));
  EXPECT_EQ(-451, map.Insert(7, 71));
  ASSERT_NE(nullptr, map.Lookup(7));
  EXPECT_EQ(70, *map.Lookup(7));
  EXPECT_EQ(1u, map.GetCount());
  EXPECT_EQ(nullptr, map.Lookup(8));
  EXPECT_EQ(-450, map.Remove(8));
  EXPECT_EQ(0, map.Remove(7));
  EXPECT_EQ(nullptr, map.Lookup(7));

  map.Clear();
  EXPECT_EQ(-2, map.Insert(7, 70));
  EXPECT_EQ(-2, map.Remove(7));
  ASSERT_EQ(0, map.ReHash(8));
  EXPECT_EQ(0, map.Insert(7, 70));
}

uint32_t OneBucket(const uint32_t&) { return 0; }

// The keys in iteration order.
std::vector<uint32_t> Keys(CMap<uint32_t, int>& map) {
  std::vector<uint32_t> keys;
  for (auto& entry : map) keys.push_back(entry.key);
  return keys;
}

TEST(CMap, ChainsKeepInsertionOrderOrKeyOrder) {
  CMap<uint32_t, int> sorted(OneBucket);
  sorted.SetSorted(true);
  for (uint32_t k : {5u, 1u, 3u}) ASSERT_EQ(0, sorted.Insert(k, 0));
  EXPECT_EQ((std::vector<uint32_t>{1, 3, 5}), Keys(sorted));
  EXPECT_EQ(-451, sorted.Insert(3, 1));
  // The tail stays right when the last node goes.
  ASSERT_EQ(0, sorted.Remove(5));
  ASSERT_EQ(0, sorted.Insert(9, 0));
  ASSERT_EQ(0, sorted.Insert(4, 0));
  EXPECT_EQ((std::vector<uint32_t>{1, 3, 4, 9}), Keys(sorted));

  ASSERT_EQ(0, sorted.ReHash(3));  // still sorted within every bucket
  EXPECT_EQ((std::vector<uint32_t>{1, 3, 4, 9}), Keys(sorted));

  CMap<uint32_t, int> plain(OneBucket);
  for (uint32_t k : {5u, 1u, 3u}) ASSERT_EQ(0, plain.Insert(k, 0));
  ASSERT_EQ(0, plain.Remove(3));
  ASSERT_EQ(0, plain.Insert(2, 0));
  EXPECT_EQ((std::vector<uint32_t>{5, 1, 2}), Keys(plain));

  // Iteration goes bucket by bucket.
  CMap<uint32_t, int> empty;
  EXPECT_TRUE(empty.begin() == empty.end());
  CMap<uint32_t, int> map(4, [](const uint32_t& key) { return key; });
  for (uint32_t k : {6u, 1u, 4u, 3u, 9u}) map.Insert(k, 0);
  EXPECT_EQ((std::vector<uint32_t>{4, 1, 9, 6, 3}), Keys(map));
}

TEST(CMap, ReHashKeepsEveryEntry) {
  CMap<sstring, int> map(4, nullptr);
  auto key = [](int i) { return sstring(("key-" + std::to_string(i * 7919)).c_str()); };
  for (int i = 0; i < 200; ++i) ASSERT_EQ(0, map.Insert(key(i), i));
  EXPECT_EQ(0, map.ReHash(0));
  ASSERT_EQ(0, map.ReHash(64));
  EXPECT_EQ(200u, map.GetCount());
  for (int i = 0; i < 200; ++i) {
    const int* found = map.Lookup(key(i));
    ASSERT_NE(nullptr, found) << i;
    EXPECT_EQ(i, *found);
  }
}

}  // namespace
