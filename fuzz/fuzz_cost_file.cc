// Fuzzes the word finder's cost-file loader: the input is written as a cost
// file and loaded into a fresh word finder. Every entry sets a pair in both
// orders, so the pair table must stay symmetric; no entry touches the fold
// table; and loading the same file again must change nothing (each entry
// assigns, the last one of a cell wins).
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <memory>

#include "fuzz/fuzz_support.h"
#include "src/engines/levenshtein/word_finder.h"

namespace {

using nsLevenshtein::CWordFinder;

struct FinderDeleter {
  void operator()(CWordFinder* f) const { CWordFinder::Destroy(f); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = tervo_fuzz::TargetFolders("cost").input.File("costs.txt");
  static const std::unique_ptr<CWordFinder, FinderDeleter> defaults(CWordFinder::Create());
  tervo_fuzz::WriteInput(path, data, size);

  std::unique_ptr<CWordFinder, FinderDeleter> finder(CWordFinder::Create());
  FUZZ_CHECK(finder != nullptr && nsLevenshtein::LoadCostFile(path.c_str(), finder.get()),
             "the cost file does not load");
  for (int x = 0; x < 256; ++x) {
    FUZZ_CHECK(finder->Fold(x) == defaults->Fold(x), "the fold table changed");
    for (int y = 0; y < x; ++y) {
      FUZZ_CHECK(finder->PairCost(x, y) == finder->PairCost(y, x), "pair costs not symmetric");
    }
  }
  std::unique_ptr<CWordFinder, FinderDeleter> again(CWordFinder::Create());
  memcpy(static_cast<void*>(again.get()), finder.get(), sizeof(CWordFinder));
  nsLevenshtein::LoadCostFile(path.c_str(), again.get());
  FUZZ_CHECK(memcmp(again.get(), finder.get(), sizeof(CWordFinder)) == 0,
             "loading the file twice differs from loading it once");
  return 0;
}
