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
// Every table keeps, besides its entries, a flat copy of them grouped by first
// word, built once when the table is loaded. After each load the engine
// indexes the first words of all its tables together (start_index.h), 64
// tables to a bank: a text costs one probe per word and bank, and then only
// the windows whose first word starts some entry of a table are looked up in
// it. That is the one lookup path.
//
// The model is immutable between loads: only LoadModel changes it, which the
// owner must not run while texts are being classified. Classify keeps its
// working state in the call, so any number of threads may classify on one
// engine at once. The containers take their memory from the allocation
// library.
#ifndef TERVO_SRC_ENGINES_MARKOVIAN_MARKOVIAN_H_
#define TERVO_SRC_ENGINES_MARKOVIAN_MARKOVIAN_H_

#include <stddef.h>
#include <stdint.h>

#include "common/asalloc.h"
#include "common/binstreamer.h"
#include "common/sstring.h"
#include "src/engines/markovian/start_index.h"

namespace nsMarkovian {

using ascommon::Map;
using ascommon::Vector;

class MarkovianFileReader;

// Result codes.
inline constexpr int32_t kMarkovianOk = ascommon::kDataOk;
inline constexpr int32_t kMarkovianNoMemory = ascommon::kDataNoMemory;
inline constexpr int32_t kMarkovianFileNotFound = ascommon::kDataFileNotFound;
inline constexpr int32_t kMarkovianFileCorrupt = ascommon::kDataFileCorrupt;
// An entry whose number of hashes differs from its table's order.
inline constexpr int32_t kMarkovianBadEntry = -550;

// A text cut into word hashes.
typedef Vector<uint32_t> HashSequence;

// Class names in unsigned byte order, a proper prefix first; a null name
// counts as empty.
struct NameLess {
  bool operator()(const ascommon::sstring& a, const ascommon::sstring& b) const;
};

// Whether `byte` separates words in a text.
bool IsSeparator(uint8_t byte);

// Cuts `text` (zero-terminated; null counts as empty) into words and appends
// the hash of each word of two bytes or more to `*out`, in text order.
void CutText(const char* text, HashSequence* out);

// One sequence of a table.
struct NGramEntry {
  Vector<uint32_t> hashes;  // the word hashes, exactly the table's order
  int32_t value = 0;
};

// The sequences of one length of one class. Filled with Add while its class
// is read, then frozen by BuildIndex; read-only from then on.
class NGramTable {
 public:
  explicit NGramTable(int32_t order_in) : order(order_in) {}
  NGramTable(const NGramTable&) = delete;
  NGramTable& operator=(const NGramTable&) = delete;

  // Appends `entry` after the entries sharing its first hash; only before
  // BuildIndex. Answers 0, or -550 (table unchanged) when its hash count
  // differs from `order` (so a table of order 0 or less takes no entries: an
  // entry needs a first hash). std::bad_alloc passes on.
  int32_t Add(const NGramEntry& entry);

  // Builds the flat copy of the entries that lookups read; called once,
  // after the last Add. std::bad_alloc passes on.
  void BuildIndex();

  // Looks, among the entries of `run` (one ForEachRun reported), for the
  // first whose hashes equal the `order` hashes at `seq`, in table order, and
  // answers its value through `*value`. False when `remaining` (the hashes
  // available at `seq`) is below the order, or nothing matches.
  bool FindInRun(const StartIndex::Run& run, const uint32_t* seq, size_t remaining,
                 int32_t* value) const;

  // Calls f(first hash, run) for each first hash, in ascending order, with
  // the run of its entries that FindInRun takes.
  template <typename F>
  void ForEachRun(F&& f) const {
    for (const Group& group : groups_) f(group.key, RunOf(group));
  }

  int32_t order;
  // First hash -> entry; entries sharing a first hash keep their load order.
  ascommon::MultiMap<uint32_t, NGramEntry> entries;

 private:
  struct Group {
    uint32_t key;    // the first hash
    uint32_t first;  // index of its first entry in the flat arrays
    uint32_t count;  // its entries
  };
  StartIndex::Run RunOf(const Group& group) const;

  Vector<Group> groups_;
  // Entry i's hashes are flat_hashes_[i * order ...]; its value flat_values_[i].
  Vector<uint32_t> flat_hashes_;
  Vector<int32_t> flat_values_;
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
  Map<ascommon::sstring, float, NameLess> scores;
  // Per class, the texts of its matched sequences ("w1 w2 ;"), each once.
  Map<ascommon::sstring, Vector<ascommon::sstring>, NameLess> matches;
};

// Told what one Classify call counted, for a caller that shows why a text
// scored as it did.
class MarkovianObserver {
 public:
  virtual ~MarkovianObserver() = default;
  // A window of `k` words at `hashes` (the sequence's own hashes) that added
  // `value` to the score of class `name`.
  virtual void OnSequence(const ascommon::sstring& name, const uint32_t* hashes, int64_t k,
                          int32_t value) = 0;
  // After its windows, per class scored in class order: its score, its
  // threshold, the score it needed (threshold * factor), whether it fired.
  virtual void OnClass(const ascommon::sstring& name, float score, int32_t threshold, float needed,
                       bool fired) = 0;
};

class CGenericMarkovianEngine {
 public:
  typedef Vector<NGramTable*> TableList;

  CGenericMarkovianEngine() = default;
  // Frees every table.
  virtual ~CGenericMarkovianEngine();
  CGenericMarkovianEngine(const CGenericMarkovianEngine&) = delete;
  CGenericMarkovianEngine& operator=(const CGenericMarkovianEngine&) = delete;

  // Scores `seq` against the classes; see the file comment and the .cc for
  // the walk. Answers 0, or -10 when the working memory (covered flags,
  // window starts) cannot be had, `results` is null, or the last load could
  // not index its tables. A non-null `observer` is told every window that
  // counted and every class scored.
  virtual int32_t Classify(const HashSequence& seq, MarkovianResults* results,
                           const MarkovianParams& params,
                           MarkovianObserver* observer = nullptr) const;

  // Reads the model at `path` (work folder ".") and merges it: each class
  // read completely replaces the class of that name (its tables freed).
  // Answers 0; -13 when the file cannot be opened; -14 when it is corrupt
  // (classes completed before the damage stay); -10 when a table or the
  // index over the tables cannot be allocated.
  int32_t LoadModel(const char* path);

  const Map<ascommon::sstring, TableList, NameLess>& classes() const { return classes_; }
  const Map<ascommon::sstring, int32_t, NameLess>& thresholds() const { return thresholds_; }
  const Map<uint32_t, ascommon::sstring>& dictionary() const { return dictionary_; }

 private:
  static void FreeTables(TableList* tables);
  // LoadModel without rebuilding the plan.
  int32_t ReadModel(const char* path);
  int32_t ThresholdOf(const ascommon::sstring& name) const;
  int32_t ReadClass(MarkovianFileReader* reader, ascommon::sstring* name, int32_t* threshold,
                    TableList* tables);

  // What Classify needs of one class besides its tables, in class order.
  struct ClassPlan {
    int32_t threshold = 0;
    // Per table index: the table's number across the banks (bank id / 64,
    // bit id % 64), or -1 for an empty index.
    Vector<int> ids;
  };

  class ClassifyCall;

  // Rebuilds plans_ and banks_ from the classes. False, with both left
  // empty, when the memory cannot be had.
  bool RebuildPlan();

  Map<ascommon::sstring, TableList, NameLess> classes_;
  Map<ascommon::sstring, int32_t, NameLess> thresholds_;
  Map<uint32_t, ascommon::sstring> dictionary_;

  Vector<ClassPlan> plans_;     // one per class; empty when the index failed
  Vector<StartIndex> banks_;    // the start index, 64 tables to a bank
  size_t table_count_ = 0;      // tables across the banks
};

class CIMMarkovianEngine : public CGenericMarkovianEngine {
 public:
  // Sets params->reportOnlyFired to 1, cuts `text` into word hashes and
  // answers Classify on them with a copy of `*params`. A null `params`
  // classifies with the defaults (reportOnlyFired 1). `observer` as for
  // Classify.
  virtual int32_t ClassifyText(const char* text, MarkovianResults* results,
                               MarkovianParams* params,
                               MarkovianObserver* observer = nullptr) const;
};

}  // namespace nsMarkovian

#endif  // TERVO_SRC_ENGINES_MARKOVIAN_MARKOVIAN_H_
