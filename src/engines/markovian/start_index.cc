#include "src/engines/markovian/start_index.h"

#include <string.h>

#include <algorithm>
#include <tuple>
#include <utility>

#include "src/engines/markovian/markovian.h"

namespace nsMarkovian {

namespace {

// How many words ahead TextStarts::Find asks for a word's slot.
constexpr size_t kPrefetchWords = 16;

}  // namespace

void StartIndex::Clear() {
  shift_ = 32;
  slots_.clear();
  runs_.clear();
}

void StartIndex::Build(const ascommon::Vector<const NGramTable*>& tables) {
  Clear();
  struct Start {
    uint32_t word;
    uint32_t table;
    Run run;
  };
  ascommon::Vector<Start> starts;
  for (size_t id = 0; id < tables.size() && id < kMaxTables; ++id) {
    tables[id]->ForEachRun([&](uint32_t word, const Run& run) {
      starts.push_back(Start{word, static_cast<uint32_t>(id), run});
    });
  }
  // By word, then by table, so that a word's runs follow each other in
  // table order and RunOf can count the bits below a table to reach its run.
  std::sort(starts.begin(), starts.end(), [](const Start& a, const Start& b) {
    return std::tie(a.word, a.table) < std::tie(b.word, b.table);
  });
  size_t words = 0;
  for (size_t i = 0; i < starts.size(); ++i) {
    if (i == 0 || starts[i].word != starts[i - 1].word) ++words;
  }
  if (words == 0) return;

  // Slots at most half full.
  uint32_t bits = 3;
  while ((size_t{1} << bits) < words * 2) ++bits;
  ascommon::Vector<Slot> slots(size_t{1} << bits, Slot{0, 0, 0});
  ascommon::Vector<Run> runs;
  runs.reserve(starts.size());
  const uint32_t shift = 32 - bits;
  const uint32_t mask = (uint32_t{1} << bits) - 1;
  for (size_t i = 0; i < starts.size();) {
    const uint32_t word = starts[i].word;
    Slot slot{word, static_cast<uint32_t>(runs.size()), 0};
    for (; i < starts.size() && starts[i].word == word; ++i) {
      slot.tables |= uint64_t{1} << starts[i].table;
      runs.push_back(starts[i].run);
    }
    uint32_t at = SlotIndex(word, shift);
    while (slots[at].tables != 0) at = (at + 1) & mask;
    slots[at] = slot;
  }
  slots_ = std::move(slots);
  runs_ = std::move(runs);
  shift_ = shift;
}

bool TextStarts::Find(const StartIndex& index, size_t tables, const uint32_t* seq, size_t n) {
  if (tables > StartIndex::kMaxTables) tables = StartIndex::kMaxTables;
  if (n > UINT32_MAX || !starts_.Allocate(tables * n)) return false;
  stride_ = n;
  memset(count_, 0, tables * sizeof(count_[0]));
  const uint64_t wanted = tables == 64 ? ~uint64_t{0} : (uint64_t{1} << tables) - 1;
  // The lookups miss the cache more often than not: ask for the slots ahead
  // so that the misses overlap.
  for (size_t p = 0; p < n && p < kPrefetchWords; ++p) index.Prefetch(seq[p]);
  for (uint32_t p = 0; p < n; ++p) {
    if (p + kPrefetchWords < n) index.Prefetch(seq[p + kPrefetchWords]);
    uint32_t run = 0;
    // The i-th set bit of a word's answer is its run begin + i.
    for (uint64_t bits = index.Lookup(seq[p], &run) & wanted; bits != 0; bits &= bits - 1, ++run) {
      const unsigned id = static_cast<unsigned>(__builtin_ctzll(bits));
      starts_.data()[id * n + count_[id]++] = Start{p, run};
    }
  }
  return true;
}

}  // namespace nsMarkovian
