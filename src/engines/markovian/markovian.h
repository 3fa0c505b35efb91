// The Markovian engine of the IM filters: per class a list of word-sequence
// tables (index k holds sequences of k words, each with a value), a
// threshold, and the scoring of hashed word sequences against them.
//
// Scoring a sequence of word hashes, per class: the longest windows are
// looked up first; a window that matches adds its entry's value to the
// class's score and marks its positions covered, and no later window may
// START on a covered position (a shorter window starting before a covered
// stretch may still run into it). A class fires when its score reaches
// threshold * factor and its threshold is positive.
//
// The containers here are the standard library's (ordered maps for the
// classes, thresholds and dictionary, a multimap per table); every table
// also keeps a flat, hashed copy of its entries built once it is loaded.
// After each load the engine indexes the first words of all its tables
// together (start_index.h): a text costs one probe per word, and then only
// the windows whose first word starts some entry of a table are looked up
// in it. A table changed after the load (Add) is looked up on its own until
// the next load.
//
// The model is changed only by LoadModel (and by Add on a table), which the
// owner must not run while texts are being classified. Classify keeps its
// working state in the call, so any number of threads may classify on one
// engine at once.
#ifndef TERVO_SRC_ENGINES_MARKOVIAN_MARKOVIAN_H_
#define TERVO_SRC_ENGINES_MARKOVIAN_MARKOVIAN_H_

#include <stddef.h>
#include <stdint.h>

#include <map>
#include <vector>

#include "common/binstreamer.h"
#include "common/sstring.h"
#include "src/engines/markovian/start_index.h"

namespace nsMarkovian {

class MarkovianFileReader;

// Result codes.
inline constexpr int32_t kMarkovianOk = ascommon::kDataOk;
inline constexpr int32_t kMarkovianNoMemory = ascommon::kDataNoMemory;
inline constexpr int32_t kMarkovianFileNotFound = ascommon::kDataFileNotFound;
inline constexpr int32_t kMarkovianFileCorrupt = ascommon::kDataFileCorrupt;
// An entry whose number of hashes differs from its table's order.
inline constexpr int32_t kMarkovianBadEntry = -550;

// Class names in unsigned byte order, a proper prefix first; a null name
// counts as empty.
struct NameLess {
  bool operator()(const ascommon::sstring& a, const ascommon::sstring& b) const;
};

// Whether `byte` separates words in a text.
bool IsSeparator(uint8_t byte);

// Cuts `text` (zero-terminated; null counts as empty) into words and appends
// the hash of each word of two bytes or more to `*out`, in text order.
void CutText(const char* text, std::vector<uint32_t>* out);

}  // namespace nsMarkovian

// One sequence of a table.
struct NGramEntry {
  std::vector<uint32_t> hashes;  // the word hashes, exactly the table's order
  int32_t value = 0;
};

// The sequences of one length of one class.
class NGramTable {
 public:
  explicit NGramTable(int32_t order_in) : order(order_in) {}
  NGramTable(const NGramTable&) = delete;
  NGramTable& operator=(const NGramTable&) = delete;

  // Appends `entry` after the entries sharing its first hash. Answers 0, or
  // -550 (table unchanged) when its hash count differs from `order` (so a
  // table of order 0 or less takes no entries: an entry needs a first hash).
  // The
  // lookup index is dropped until BuildIndex runs again; std::bad_alloc
  // passes on.
  int32_t Add(const NGramEntry& entry);

  // Builds the lookup index from `entries`; std::bad_alloc passes on (the
  // table then looks up through `entries`).
  void BuildIndex();

  // Looks for the first entry, in table order, whose hashes equal the
  // `order` hashes at `seq` and answers its value through `*value`. False
  // when `remaining` (the hashes available at `seq`) is below the order, the
  // order is below 1, or nothing matches.
  bool Find(const uint32_t* seq, size_t remaining, int32_t* value) const;

  // Like Find, for the entries of `run` alone (a run ForEachRun reported
  // since the last change of the table).
  bool FindInRun(const nsMarkovian::StartIndex::Run& run, const uint32_t* seq, size_t remaining,
                 int32_t* value) const;

  // Calls f(first hash, run) for each first hash of the built index, with
  // the run of its entries that FindInRun takes. Calls nothing while the
  // index is not built.
  template <typename F>
  void ForEachRun(F&& f) const {
    if (!indexed_) return;
    for (const Slot& slot : slots_) {
      if (slot.count != 0) f(slot.key, RunOf(slot));
    }
  }

  // Changes with every Add and BuildIndex: runs reported under one revision
  // hold until it changes.
  uint32_t revision() const { return revision_; }

  int32_t order;
  // First hash -> entry; entries sharing a first hash keep their load order.
  std::multimap<uint32_t, NGramEntry> entries;

 private:
  struct Slot {
    uint32_t key;    // the first hash
    uint32_t first;  // index of its first entry in the flat arrays
    uint32_t count;  // its entries; 0 marks a free slot
  };
  nsMarkovian::StartIndex::Run RunOf(const Slot& slot) const;
  static uint32_t SlotIndex(uint32_t key, uint32_t shift) { return (key * 0x9E3779B1u) >> shift; }
  static uint32_t FilterIndex(uint32_t key, uint32_t shift) {
    return (key * 0x85EBCA6Bu) >> shift;
  }

  bool indexed_ = false;
  uint32_t revision_ = 0;
  uint32_t slot_shift_ = 32;
  uint32_t filter_shift_ = 32;
  std::vector<Slot> slots_;
  std::vector<uint64_t> filter_;
  // Entry i's hashes are flat_hashes_[i * order ...]; its value flat_values_[i].
  std::vector<uint32_t> flat_hashes_;
  std::vector<int32_t> flat_values_;
};

struct MarkovianParams {
  float factor = 1.0f;              // scales every threshold
  uint8_t skipNonPositive = 0;      // entries with a value below 1 do not match
  uint8_t collectMatches = 0;       // fill MarkovianResults::matches
  uint8_t allClasses = 0;           // score every class, whatever classList says
  uint8_t reportOnlyFired = 0;      // leave classes that do not fire out of scores
  ascommon::sstring classList;      // names to score, each followed by ";"
  int32_t maxRepeats = -1;          // 1 or more: a text matching more often adds nothing
};

struct MarkovianResults {
  std::map<ascommon::sstring, float, nsMarkovian::NameLess> scores;
  // Per class, the texts of its matched sequences ("w1 w2 ;"), each once.
  std::map<ascommon::sstring, std::vector<ascommon::sstring>, nsMarkovian::NameLess> matches;
};

class CGenericMarkovianEngine {
 public:
  typedef std::vector<NGramTable*> TableList;

  CGenericMarkovianEngine() = default;
  // Frees every table.
  virtual ~CGenericMarkovianEngine();
  CGenericMarkovianEngine(const CGenericMarkovianEngine&) = delete;
  CGenericMarkovianEngine& operator=(const CGenericMarkovianEngine&) = delete;

  // Scores `seq` against the classes; see the file comment and the .cc for
  // the walk. Answers 0, or -10 when the working memory (covered flags,
  // window starts) cannot be had or `results` is null.
  virtual int32_t Classify(const std::vector<uint32_t>& seq, MarkovianResults* results,
                           const MarkovianParams& params) const;

  // Reads the model at `path` (work folder ".") and merges it: each class
  // read completely replaces the class of that name (its tables freed).
  // Answers 0; -13 when the file cannot be opened; -14 when it is corrupt
  // (classes completed before the damage stay); -10 when a table cannot be
  // allocated.
  int32_t LoadModel(const char* path);

  const std::map<ascommon::sstring, TableList, nsMarkovian::NameLess>& classes() const {
    return classes_;
  }
  const std::map<ascommon::sstring, int32_t, nsMarkovian::NameLess>& thresholds() const {
    return thresholds_;
  }
  const std::map<uint32_t, ascommon::sstring>& dictionary() const { return dictionary_; }

 private:
  static void FreeTables(TableList* tables);
  // LoadModel without rebuilding the plan.
  int32_t ReadModel(const char* path);
  int32_t ThresholdOf(const ascommon::sstring& name) const;
  int32_t ReadClass(nsMarkovian::MarkovianFileReader* reader, ascommon::sstring* name,
                    int32_t* threshold, TableList* tables);

  // What Classify needs of one class besides its tables, in class order.
  struct ClassPlan {
    int32_t threshold = 0;
    // Per table index: the table's id in starts_, or -1 when it has none.
    std::vector<int> ids;
  };

  class ClassifyCall;

  // Rebuilds plans_, starts_ and revisions_ from the classes; on
  // std::bad_alloc leaves them empty, and Classify then looks every window
  // up table by table.
  void RebuildPlan();

  std::map<ascommon::sstring, TableList, nsMarkovian::NameLess> classes_;
  std::map<ascommon::sstring, int32_t, nsMarkovian::NameLess> thresholds_;
  std::map<uint32_t, ascommon::sstring> dictionary_;

  std::vector<ClassPlan> plans_;  // one per class, or none at all
  nsMarkovian::StartIndex starts_;
  std::vector<uint32_t> revisions_;  // per id in starts_: its table's revision then
};

class CIMMarkovianEngine : public CGenericMarkovianEngine {
 public:
  // Sets params->reportOnlyFired to 1, cuts `text` into word hashes and
  // answers Classify on them with a copy of `*params`. A null `params`
  // classifies with the defaults (reportOnlyFired 1).
  virtual int32_t ClassifyText(const char* text, MarkovianResults* results,
                               MarkovianParams* params) const;
};

#endif  // TERVO_SRC_ENGINES_MARKOVIAN_MARKOVIAN_H_
