// The engine-wide index of the words that can start a sequence. For each
// word that starts an entry of some table, it keeps one bit per table (of up
// to 64 tables, numbered by the caller) and, per set bit, where that table's
// entries for the word lie in the table's flat arrays. Classifying a text
// then costs one probe per word for every class together, instead of one
// filter test per word, per class and per length.
//
// The index points into the tables it was built from: it must be rebuilt (or
// cleared) whenever one of them goes away. Lookups are const and
// may run on many threads at once.
#ifndef TERVO_SRC_ENGINES_MARKOVIAN_START_INDEX_H_
#define TERVO_SRC_ENGINES_MARKOVIAN_START_INDEX_H_

#include <stddef.h>
#include <stdint.h>

#include "common/asalloc.h"

namespace nsMarkovian {

class NGramTable;

class StartIndex {
 public:
  // The most tables one index covers.
  static constexpr size_t kMaxTables = 64;

  // Where the entries of one table that start with one word lie: `count`
  // entries from index `first` of the table's flat arrays. The value and
  // second hash of the first of them ride along, so that most lookups are
  // settled without touching the table.
  struct Run {
    uint32_t first;
    uint32_t count;
    int32_t first_value;
    uint32_t first_second;  // its second hash; 0 for one-word entries
  };

  // Rebuilds the index over `tables` (table i gets bit i; at most kMaxTables,
  // each built with NGramTable::BuildIndex). std::bad_alloc passes on and
  // leaves the index empty.
  void Build(const ascommon::Vector<const NGramTable*>& tables);

  void Clear();

  // The tables whose entries can start with `word`, as bits, and through
  // `*begin` the number of its first run. 0 when none can.
  uint64_t Lookup(uint32_t word, uint32_t* begin) const {
    if (slots_.empty()) return 0;
    const uint32_t mask = static_cast<uint32_t>(slots_.size()) - 1;
    for (uint32_t i = SlotIndex(word, shift_);; i = (i + 1) & mask) {
      const Slot& slot = slots_[i];
      if (slot.tables == 0) return 0;
      if (slot.word == word) {
        *begin = slot.begin;
        return slot.tables;
      }
    }
  }

  // Starts loading the slot of `word`, for a Lookup soon after.
  void Prefetch(uint32_t word) const {
    if (!slots_.empty()) __builtin_prefetch(&slots_[SlotIndex(word, shift_)]);
  }

  // Run `i`: a word's runs are numbered from Lookup's `*begin`, one per bit
  // of its answer, lowest bit first.
  const Run& run(uint32_t i) const { return runs_[i]; }

 private:
  struct Slot {
    uint32_t word;
    uint32_t begin;   // its first run in runs_, the runs in table order
    uint64_t tables;  // 0 marks a free slot
  };
  static uint32_t SlotIndex(uint32_t word, uint32_t shift) {
    return (word * 0x9E3779B1u) >> shift;
  }

  uint32_t shift_ = 32;
  ascommon::Vector<Slot> slots_;
  ascommon::Vector<Run> runs_;
};

// Up to this many items a Scratch array lives inside the object (on the
// stack for a local).
inline constexpr size_t kScratchItems = 512;

// A working array of one call: inside the object up to kScratchItems items,
// on the heap beyond.
template <typename T>
class Scratch {
 public:
  Scratch() = default;
  ~Scratch() {
    if (data_ != local_) as_delete_nt_2_9(data_, &ascommon::kNoThrow);
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;

  // Makes room for `count` items (once per object); false when it cannot.
  bool Allocate(size_t count) {
    if (count > kScratchItems) {
      data_ = static_cast<T*>(as_new_nt_2_9(count * sizeof(T), &ascommon::kNoThrow));
    }
    return data_ != nullptr;
  }
  T* data() { return data_; }
  const T* data() const { return data_; }

 private:
  T local_[kScratchItems];
  T* data_ = local_;
};

// Where the windows of one text can start, per table of a StartIndex: for
// table `id`, the positions whose word starts some of its entries, in text
// order, each with the number of its run.
class TextStarts {
 public:
  struct Start {
    uint32_t position;
    uint32_t run;  // for StartIndex::run
  };

  TextStarts() = default;
  TextStarts(const TextStarts&) = delete;
  TextStarts& operator=(const TextStarts&) = delete;

  // Looks the `n` hashes at `seq` up in `index` (which must outlive this
  // object's use), for the tables numbered below `tables`; call once. False
  // when the working memory cannot be had or `n` is above 2^32 - 1.
  bool Find(const StartIndex& index, size_t tables, const uint32_t* seq, size_t n);

  // The starts of table `id` (below Find's `tables`).
  const Start* begin(unsigned id) const { return starts_.data() + id * stride_; }
  const Start* end(unsigned id) const { return begin(id) + count_[id]; }

 private:
  size_t stride_ = 0;                            // room per table: one start per word
  uint32_t count_[StartIndex::kMaxTables];  // starts per table, set by Find
  Scratch<Start> starts_;
};

}  // namespace nsMarkovian

#endif  // TERVO_SRC_ENGINES_MARKOVIAN_START_INDEX_H_
