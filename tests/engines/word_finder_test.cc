#include "src/engines/levenshtein/word_finder.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace {

using nsLevenshtein::CWordFinder;

using Finder = std::unique_ptr<CWordFinder, decltype(&CWordFinder::Destroy)>;

Finder NewFinder() { return Finder(CWordFinder::Create(), &CWordFinder::Destroy); }

// The same bytes in both objects: nothing else changed.
bool SameTables(const CWordFinder& a, const CWordFinder& b) {
  return memcmp(&a, &b, sizeof(CWordFinder)) == 0;
}

TEST(WordFinder, StartsFromTheDefaultsAndLogsItsLife) {
  tervo_test::CapturingTrace trace;
  {
    Finder f = NewFinder();
    ASSERT_NE(f, nullptr);
    for (int c = 0; c < 256; ++c) EXPECT_EQ(f->ThinCost(c), 1000u) << c;
    // Only a byte with itself and an ASCII letter with its other case are free.
    const struct {
      unsigned char x, y;
      uint32_t cost;
    } pairs[] = {{'x', 'x', 0}, {0xE9, 0xE9, 0}, {'A', 'a', 0}, {'z', 'Z', 0}, {'a', 'b', 1000},
                 {0xC9, 0xE9, 1000}};
    for (const auto& p : pairs) EXPECT_EQ(f->PairCost(p.x, p.y), p.cost) << p.x << p.y;
    EXPECT_EQ(std::string({static_cast<char>(f->Fold('Q')), static_cast<char>(f->Fold('q')),
                           static_cast<char>(f->Fold(0xC9))}),
              "qq\xC9");
  }
  EXPECT_EQ(trace.texts(),
            (std::vector<std::string>{
                ">>> CWordFinder Constructor: allocting a lot of resources...",
                "Populating structures....", "<<< CWordFinder Constructor leaving...",
                ">>> CWordFinder destructor : freeing the structures...",
                "<<< CWordFinder destructor: done!"}));
  EXPECT_EQ(trace.levels(), (std::vector<int32_t>{3, 3, 3, 0, 0}));
}

TEST(WordFinder, CostLinesChangeOnlyWhatTheyName) {
  struct Pair {
    unsigned char x, y;
  };
  const struct {
    const char* line;
    int thin;  // the byte whose thin cost is set, or -1
    std::vector<Pair> pairs;
    uint32_t cost;
    const char* log;  // null: nothing logged
  } cases[] = {
      {". x 0.5\n", 'x', {}, 500, "Thin char: [x], cost 0.500"},
      {"* 300 0.2", 44, {}, 200, "Special Thin char: [300], cost 0.200"},
      {"; o 0 0.25\n", -1, {{'o', '0'}, {'O', '0'}}, 250,
       "Homeomorphic characters:  [o] and [0], cost 0.250"},
      {": 97 48 0.1", -1, {{'a', '0'}, {'A', '0'}}, 100,
       "Special Homeomorphic characters:  [97] and [48], cost 0.100"},
      {": 16 1 1.5", -1, {{16, 1}, {240, 1}}, 1500,  // 16 - 32 wraps to 240
       "Special Homeomorphic characters:  [16] and [1], cost 1.500"},
      {". q 0.9999", 'q', {}, 999, "Thin char: [q], cost 1.000"},
      {". r -2", 'r', {}, 0, "Thin char: [r], cost -2.000"},
      {". ## 1", -1, {}, 0, nullptr},  // a comment, whatever it starts with
      {". x 0.5 ## was 0.4", -1, {}, 0, nullptr},
      {"; o 0\n", -1, {}, 0, nullptr},  // the cost missing
      {"? x 0.5", -1, {}, 0, nullptr},
      {".", -1, {}, 0, nullptr},
      {"", -1, {}, 0, nullptr},
  };
  for (const auto& c : cases) {
    Finder f = NewFinder(), expected = NewFinder();
    tervo_test::CapturingTrace trace;
    nsLevenshtein::ApplyCostLine(c.line, f.get());
    if (c.thin >= 0) expected->SetThinCost(static_cast<unsigned char>(c.thin), c.cost);
    for (const Pair& p : c.pairs) expected->SetPairCost(p.x, p.y, c.cost);
    EXPECT_TRUE(SameTables(*f, *expected)) << c.line;
    if (!c.pairs.empty()) {
      EXPECT_EQ(f->PairCost(c.pairs[0].y, c.pairs[0].x), c.cost) << c.line;
    }
    EXPECT_EQ(trace.texts(), c.log ? std::vector<std::string>{c.log} : std::vector<std::string>{})
        << c.line;
  }
}

TEST(WordFinder, CostFilesAddUpAndLongLinesAreReadInPieces) {
  tervo_test::TempDir dir;
  std::ofstream(dir.File("a.txt")) << "## look-alikes\n. x 0.5\n; o 0 0.25\n";
  // The second piece of a 2,005-byte line starts with an entry of its own.
  std::ofstream(dir.File("b.txt")) << ". x 0.1\n" << std::string(1999, ' ') << ". k 0.3\n";
  Finder f = NewFinder(), expected = NewFinder();
  EXPECT_TRUE(nsLevenshtein::LoadCostFile(dir.File("a.txt").c_str(), f.get()));
  EXPECT_TRUE(nsLevenshtein::LoadCostFile(dir.File("b.txt").c_str(), f.get()));
  expected->SetThinCost('x', 100);
  expected->SetThinCost('k', 300);
  expected->SetPairCost('o', '0', 250);
  expected->SetPairCost('O', '0', 250);
  EXPECT_TRUE(SameTables(*f, *expected));
  EXPECT_FALSE(nsLevenshtein::LoadCostFile(dir.File("missing.txt").c_str(), f.get()));
  EXPECT_FALSE(nsLevenshtein::LoadCostFile(dir.File("a.txt").c_str(), nullptr));
  EXPECT_TRUE(SameTables(*f, *expected));
}

}  // namespace
