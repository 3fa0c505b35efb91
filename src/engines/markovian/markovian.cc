#include "src/engines/markovian/markovian.h"

#include <string.h>

#include <new>
#include <optional>
#include <string>
#include <utility>

#include "common/asalloc.h"
#include "common/binstreamer.h"
#include "common/sstring.h"
#include "src/engines/markovian/markovian_format.h"
#include "src/trace/trace.h"

using ascommon::CBinaryStreamer;
using ascommon::sstring;

namespace nsMarkovian {

namespace {

// The 24 bytes that separate words; every other byte belongs to a word.
constexpr char kSeparators[] = "\t\n\r !\"'(),-./:;?[\\]^`{}";
static_assert(sizeof(kSeparators) - 1 == 23, "23 printable and control separators, and the zero");

// Per byte: 0 when it separates words, otherwise what it mixes into a
// word's hash once lower-cased (never 0, as the zero byte is a separator).
struct ByteTables {
  uint8_t word_byte[256];
  constexpr ByteTables() : word_byte() {
    for (int i = 1; i < 256; ++i) {
      word_byte[i] = static_cast<uint8_t>(ascommon::AsciiLower(static_cast<char>(i)));
    }
    for (const char* s = kSeparators; *s != '\0'; ++s) word_byte[static_cast<uint8_t>(*s)] = 0;
  }
};
constexpr ByteTables kBytes;

// Whether `list` holds `name` directly followed by ";" anywhere.
bool ListsClass(const sstring& list, const sstring& name) {
  const char* text = list.data();
  if (text == nullptr) return false;
  const size_t length = list.length();
  const size_t name_length = name.length();
  if (name_length + 1 > length) return false;
  const char* name_text = name.data() != nullptr ? name.data() : "";
  for (size_t i = 0; i + name_length < length; ++i) {
    if (text[i + name_length] == ';' && memcmp(text + i, name_text, name_length) == 0) return true;
  }
  return false;
}

}  // namespace

bool NameLess::operator()(const sstring& a, const sstring& b) const {
  const size_t la = a.data() != nullptr ? a.length() : 0;
  const size_t lb = b.data() != nullptr ? b.length() : 0;
  const size_t common = la < lb ? la : lb;
  if (common > 0) {
    const int c = memcmp(a.data(), b.data(), common);
    if (c != 0) return c < 0;
  }
  return la < lb;
}

bool IsSeparator(uint8_t byte) { return kBytes.word_byte[byte] == 0; }

void CutText(const char* text, HashSequence* out) {
  if (text == nullptr) return;
  const uint8_t* p = reinterpret_cast<const uint8_t*>(text);
  for (;;) {
    while (kBytes.word_byte[*p] == 0) {
      if (*p == 0) return;
      ++p;
    }
    const uint8_t* start = p;
    uint32_t hash = kWordHashSeed;
    for (uint8_t byte = kBytes.word_byte[*p]; byte != 0; byte = kBytes.word_byte[*++p]) {
      hash = WordHashStep(hash, byte);
    }
    // One-byte words carry no meaning here and are dropped.
    if (p - start >= 2) out->push_back(hash);
  }
}

// ---------------------------------------------------------------- NGramTable

int32_t NGramTable::Add(const NGramEntry& entry) {
  if (order < 1 || entry.hashes.size() != static_cast<size_t>(order)) return kMarkovianBadEntry;
  // A multimap inserts after the entries of an equal key: load order is kept.
  entries.emplace(entry.hashes[0], entry);
  return kMarkovianOk;
}

void NGramTable::BuildIndex() {
  if (order < 1) return;
  Vector<Group> groups;
  Vector<uint32_t> flat_hashes;
  Vector<int32_t> flat_values;
  flat_hashes.reserve(entries.size() * static_cast<size_t>(order));
  flat_values.reserve(entries.size());
  for (auto it = entries.begin(); it != entries.end();) {
    const uint32_t key = it->first;
    const uint32_t first = static_cast<uint32_t>(flat_values.size());
    for (; it != entries.end() && it->first == key; ++it) {
      flat_hashes.insert(flat_hashes.end(), it->second.hashes.begin(), it->second.hashes.end());
      flat_values.push_back(it->second.value);
    }
    groups.push_back(Group{key, first, static_cast<uint32_t>(flat_values.size()) - first});
  }
  groups_ = std::move(groups);
  flat_hashes_ = std::move(flat_hashes);
  flat_values_ = std::move(flat_values);
}

StartIndex::Run NGramTable::RunOf(const Group& group) const {
  const size_t width = static_cast<size_t>(order);
  const uint32_t* first = flat_hashes_.data() + static_cast<size_t>(group.first) * width;
  return {group.first, group.count, flat_values_[group.first], width >= 2 ? first[1] : 0};
}

bool NGramTable::FindInRun(const StartIndex::Run& run, const uint32_t* seq, size_t remaining,
                           int32_t* value) const {
  if (order < 1 || remaining < static_cast<size_t>(order)) return false;
  const size_t width = static_cast<size_t>(order);
  // The first entry, mostly the only one, as far as the run tells.
  if (width == 1 || run.first_second == seq[1]) {
    size_t w = 2;
    const uint32_t* hashes = flat_hashes_.data() + static_cast<size_t>(run.first) * width;
    while (w < width && hashes[w] == seq[w]) ++w;
    if (w >= width) {
      *value = run.first_value;
      return true;
    }
  }
  const uint32_t* hashes = flat_hashes_.data() + static_cast<size_t>(run.first + 1) * width;
  for (uint32_t e = 1; e < run.count; ++e, hashes += width) {
    size_t w = 1;
    while (w < width && hashes[w] == seq[w]) ++w;
    if (w == width) {
      *value = flat_values_[run.first + e];
      return true;
    }
  }
  return false;
}

// --------------------------------------------------- CGenericMarkovianEngine

CGenericMarkovianEngine::~CGenericMarkovianEngine() {
  for (auto& entry : classes_) FreeTables(&entry.second);
}

void CGenericMarkovianEngine::FreeTables(TableList* tables) {
  for (NGramTable*& table : *tables) {
    ascommon::Delete(table);
    table = nullptr;
  }
  tables->clear();
}

// Reads one class into `*name`, `*threshold` and `*tables` (the tables
// allocated so far are in `*tables` whatever happens; the caller frees them
// unless it keeps the class). Answers 0 or -10; stream failures pass on as
// exceptions.
int32_t CGenericMarkovianEngine::ReadClass(MarkovianFileReader* reader,
                                           sstring* name, int32_t* threshold,
                                           TableList* tables) {
  uint32_t table_count = 0;
  reader->ReadClassHeader(name, threshold, &table_count);
  sstring text;
  for (uint32_t index = 0; index < table_count; ++index) {
    const int32_t order = reader->ReadTableOrder();
    tables->push_back(nullptr);
    if (order <= 0) continue;
    const uint32_t entry_count = reader->ReadEntryCount();
    NGramTable* table = nullptr;
    try {
      table = ascommon::NewNoThrow<NGramTable>(order);
    } catch (const std::bad_alloc&) {
      table = nullptr;
    }
    if (table == nullptr) return kMarkovianNoMemory;
    tables->back() = table;
    NGramEntry entry;
    for (uint32_t e = 0; e < entry_count; ++e) {
      entry.value = reader->ReadEntryValue();
      entry.hashes.clear();
      for (int32_t w = 0; w < order; ++w) {
        uint32_t hash = 0;
        reader->ReadWord(&hash, &text);
        dictionary_.insert_or_assign(hash, text);
        entry.hashes.push_back(hash);
      }
      table->Add(entry);
    }
    table->BuildIndex();
  }
  return kMarkovianOk;
}

int32_t CGenericMarkovianEngine::LoadModel(const char* path) {
  const int32_t rc = ReadModel(path);
  if (!RebuildPlan() && rc == kMarkovianOk) return kMarkovianNoMemory;
  return rc;
}

int32_t CGenericMarkovianEngine::ReadModel(const char* path) {
  // The streamer's destructor closes the file and removes its working copy.
  std::optional<CBinaryStreamer> stream;
  if (!ascommon::OpenDataFile(&stream, path, ".", kMarkovianFileVersion)) {
    AS_LOG(0, __LINE__, "[Markovian] Signature file not found");
    return kMarkovianFileNotFound;
  }
  MarkovianFileReader reader(&*stream);
  TableList tables;
  try {
    const uint32_t count = reader.ReadClassCount();
    for (uint32_t i = 0; i < count; ++i) {
      sstring name;
      int32_t threshold = 0;
      const int32_t rc = ReadClass(&reader, &name, &threshold, &tables);
      if (rc != kMarkovianOk) {
        FreeTables(&tables);
        return rc;
      }
      // Complete: it replaces the class of the same name.
      auto found = classes_.find(name);
      if (found == classes_.end()) {
        classes_.emplace(name, std::move(tables));
      } else {
        FreeTables(&found->second);
        found->second = std::move(tables);
      }
      tables = TableList();
      thresholds_.insert_or_assign(name, threshold);
    }
  } catch (const std::bad_alloc&) {
    FreeTables(&tables);
    return kMarkovianNoMemory;
  } catch (...) {
    FreeTables(&tables);
    AS_LOG(0, __LINE__, "[Markovian] Corrupt File!");
    return kMarkovianFileCorrupt;
  }
  return kMarkovianOk;
}

bool CGenericMarkovianEngine::RebuildPlan() {
  plans_.clear();
  banks_.clear();
  table_count_ = 0;
  try {
    Vector<ClassPlan> plans;
    Vector<Vector<const NGramTable*>> banked;
    size_t count = 0;
    for (const auto& [name, tables] : classes_) {
      ClassPlan plan;
      plan.threshold = ThresholdOf(name);
      plan.ids.assign(tables.size(), -1);
      for (size_t k = 0; k < tables.size(); ++k) {
        if (tables[k] == nullptr) continue;
        if (count % StartIndex::kMaxTables == 0) banked.emplace_back();
        banked.back().push_back(tables[k]);
        plan.ids[k] = static_cast<int>(count++);
      }
      plans.push_back(std::move(plan));
    }
    Vector<StartIndex> banks(banked.size());
    for (size_t b = 0; b < banked.size(); ++b) banks[b].Build(banked[b]);
    plans_ = std::move(plans);
    banks_ = std::move(banks);
    table_count_ = count;
    return true;
  } catch (const std::bad_alloc&) {
    plans_.clear();
    banks_.clear();
    return false;
  }
}

// The working state of one Classify call: the covered flags, the starts of
// the text's windows per bank, and the current class's score and repeat
// counts.
class CGenericMarkovianEngine::ClassifyCall {
 public:
  // std::bad_alloc passes on.
  ClassifyCall(const CGenericMarkovianEngine& engine, const HashSequence& seq,
               const MarkovianParams& params, MarkovianResults* results,
               MarkovianObserver* observer)
      : engine_(engine),
        hashes_(seq.data()),
        n_(static_cast<int64_t>(seq.size())),
        params_(params),
        results_(results),
        observer_(observer),
        spell_(params.collectMatches != 0 || params.maxRepeats >= 1),
        more_banks_(engine.banks_.size() > 1 ? engine.banks_.size() - 1 : 0) {}

  // Allocates the flags and looks every word up in each bank of the
  // engine's start index. False when the memory cannot be had.
  bool Prepare() {
    if (!flags_.Allocate(static_cast<size_t>(n_) + 1)) return false;
    size_t left = engine_.table_count_;
    for (size_t b = 0; b < engine_.banks_.size(); ++b) {
      const size_t tables = left < StartIndex::kMaxTables ? left : StartIndex::kMaxTables;
      left -= tables;
      if (!StartsOf(b).Find(engine_.banks_[b], tables, hashes_, static_cast<size_t>(n_))) {
        return false;
      }
    }
    return true;
  }

  // The score of one class. std::bad_alloc passes on.
  float Score(const sstring& name, const TableList& tables, const ClassPlan& plan) {
    memset(flags_.data(), 0, static_cast<size_t>(n_) + 1);
    repeats_.clear();
    score_ = 0.0f;
    for (size_t k = tables.size() - 1; k >= 1; --k) {
      if (tables[k] == nullptr) continue;
      const unsigned id = static_cast<unsigned>(plan.ids[k]);
      ScoreTable(name, static_cast<int64_t>(k), *tables[k], id / StartIndex::kMaxTables,
                 id % StartIndex::kMaxTables);
    }
    return score_;
  }

 private:
  TextStarts& StartsOf(size_t bank) { return bank == 0 ? starts_ : more_banks_[bank - 1]; }

  // Looks up only the windows whose first word starts entries of table `id`
  // of `bank` (in text order), and only among those entries.
  void ScoreTable(const sstring& name, int64_t k, const NGramTable& table, size_t bank,
                  unsigned id) {
    const uint8_t* covered = flags_.data();
    const TextStarts& starts = StartsOf(bank);
    const StartIndex& index = engine_.banks_[bank];
    for (const auto* start = starts.begin(id); start != starts.end(id); ++start) {
      const int64_t p = start->position;
      if (p > n_ - k + 1) break;
      if (covered[p] != 0) continue;
      int32_t value = 0;
      if (!table.FindInRun(index.run(start->run), hashes_ + p, static_cast<size_t>(n_ - p),
                           &value)) {
        continue;
      }
      if (!Count(name, p, k, value)) break;
    }
  }

  // Counts the window of `k` words at `p` that matched an entry of `value`.
  // False when the window runs past the sequence: no later start of this
  // length fits either.
  bool Count(const sstring& name, int64_t p, int64_t k, int32_t value) {
    if (params_.skipNonPositive != 0 && value < 1) return true;
    if (p + k - 1 >= n_) return false;
    bool is_new = false;
    if (spell_) {
      Spell(p, k);
      auto counted = repeats_.try_emplace(text_, 0).first;
      is_new = counted->second == 0;
      ++counted->second;
      if (params_.maxRepeats >= 1 && counted->second > params_.maxRepeats) return true;
    }
    score_ += static_cast<float>(value);
    if (observer_ != nullptr) [[unlikely]] Tell(name, p, k, value);
    if (params_.collectMatches != 0 && is_new) {
      text_.push_back(';');
      results_->matches[name].push_back(sstring(text_.data(), text_.size()));
    }
    memset(flags_.data() + p, 1, static_cast<size_t>(k));
    return true;
  }

  // Out of line, so that the walk without an observer keeps its shape.
  [[gnu::noinline, gnu::cold]] void Tell(const sstring& name, int64_t p, int64_t k, int32_t value) {
    observer_->OnSequence(name, hashes_ + p, k, value);
  }

  // Sets text_ to the words of the window, each followed by a blank; words
  // missing from the dictionary add nothing.
  void Spell(int64_t p, int64_t k) {
    text_.clear();
    for (int64_t w = p; w < p + k; ++w) {
      const auto word = engine_.dictionary_.find(hashes_[w]);
      if (word == engine_.dictionary_.end()) continue;
      text_.append(word->second.data(), word->second.length());
      text_.push_back(' ');
    }
  }

  const CGenericMarkovianEngine& engine_;
  const uint32_t* hashes_;
  const int64_t n_;
  const MarkovianParams& params_;
  MarkovianResults* results_;
  MarkovianObserver* observer_;
  // The text of a match is only looked at when it is counted or collected.
  const bool spell_;
  Scratch<uint8_t> flags_;  // covered positions, n_ + 1 of them
  TextStarts starts_;       // of the first bank; most models have no other
  Vector<TextStarts> more_banks_;
  Map<ascommon::String, int32_t> repeats_;
  ascommon::String text_;
  float score_ = 0.0f;
};

int32_t CGenericMarkovianEngine::Classify(const HashSequence& seq, MarkovianResults* results,
                                          const MarkovianParams& params,
                                          MarkovianObserver* observer) const {
  if (results == nullptr || plans_.size() != classes_.size()) return kMarkovianNoMemory;
  results->scores.clear();
  results->matches.clear();
  try {
    ClassifyCall call(*this, seq, params, results, observer);
    if (!call.Prepare()) return kMarkovianNoMemory;
    size_t class_index = 0;
    for (const auto& [name, tables] : classes_) {
      const ClassPlan& plan = plans_[class_index++];
      if (params.allClasses == 0 && !ListsClass(params.classList, name)) continue;
      if (tables.empty()) continue;
      const float score = call.Score(name, tables, plan);
      const float needed = static_cast<float>(plan.threshold) * params.factor;
      const bool fires = score >= needed && plan.threshold > 0;
      if (observer != nullptr) observer->OnClass(name, score, plan.threshold, needed, fires);
      if ((fires || params.reportOnlyFired == 0) && name.length() > 0) {
        // emplace keeps the first score of a name already recorded.
        results->scores.emplace(name, score);
      }
    }
  } catch (const std::bad_alloc&) {
    return kMarkovianNoMemory;
  }
  return kMarkovianOk;
}

int32_t CGenericMarkovianEngine::ThresholdOf(const sstring& name) const {
  const auto found = thresholds_.find(name);
  return found != thresholds_.end() ? found->second : 0;
}

// --------------------------------------------------------- CIMMarkovianEngine

int32_t CIMMarkovianEngine::ClassifyText(const char* text, MarkovianResults* results,
                                         MarkovianParams* params,
                                         MarkovianObserver* observer) const {
  MarkovianParams copy;
  if (params != nullptr) {
    params->reportOnlyFired = 1;
    copy = *params;
  }
  copy.reportOnlyFired = 1;
  HashSequence seq;
  try {
    seq.reserve(32);
    CutText(text, &seq);
  } catch (const std::bad_alloc&) {
    return kMarkovianNoMemory;
  }
  return Classify(seq, results, copy, observer);
}

}  // namespace nsMarkovian
