#include "src/engines/markovian/markovian.h"

#include <string.h>

#include <new>
#include <optional>
#include <string>
#include <utility>

#include "common/asalloc.h"
#include "common/binstreamer.h"
#include "src/engines/markovian/markovian_format.h"
#include "src/trace/trace.h"

using ascommon::CBinaryStreamer;
using ascommon::sstring;

namespace nsMarkovian {

namespace {

// The 24 bytes that separate words; every other byte belongs to a word.
constexpr char kSeparators[] = "\t\n\r !\"'(),-./:;?[\\]^`{}";
static_assert(sizeof(kSeparators) - 1 == 23, "23 printable and control separators, and the zero");

// Per byte: whether it separates words, and what it mixes into a word's hash
// once lower-cased.
struct ByteTables {
  uint8_t separator[256];
  uint8_t lower[256];
  constexpr ByteTables() : separator(), lower() {
    for (int i = 0; i < 256; ++i) {
      lower[i] = static_cast<uint8_t>(i >= 'A' && i <= 'Z' ? i + ('a' - 'A') : i);
    }
    for (const char* s = kSeparators; *s != '\0'; ++s) separator[static_cast<uint8_t>(*s)] = 1;
    separator[0] = 1;
  }
};
constexpr ByteTables kBytes;

// Up to this many positions the covered flags of a call live on the stack.
constexpr size_t kStackFlags = 512;

// The covered flags of one Classify call.
class CoveredFlags {
 public:
  explicit CoveredFlags(size_t count) : count_(count) {
    if (count > kStackFlags) {
      data_ = static_cast<uint8_t*>(as_new_nt_2_9(count, &ascommon::kNoThrow));
    }
  }
  ~CoveredFlags() {
    if (data_ != local_) as_delete_nt_2_9(data_, &ascommon::kNoThrow);
  }
  CoveredFlags(const CoveredFlags&) = delete;
  CoveredFlags& operator=(const CoveredFlags&) = delete;

  bool ok() const { return data_ != nullptr; }
  void Clear() { memset(data_, 0, count_); }
  uint8_t* data() { return data_; }

 private:
  size_t count_;
  uint8_t local_[kStackFlags];
  uint8_t* data_ = local_;
};

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

bool IsSeparator(uint8_t byte) { return kBytes.separator[byte] != 0; }

void CutText(const char* text, std::vector<uint32_t>* out) {
  if (text == nullptr) return;
  const uint8_t* p = reinterpret_cast<const uint8_t*>(text);
  for (;;) {
    while (kBytes.separator[*p] != 0) {
      if (*p == 0) return;
      ++p;
    }
    const uint8_t* start = p;
    uint32_t hash = kWordHashSeed;
    do {
      hash = WordHashStep(hash, kBytes.lower[*p]);
      ++p;
    } while (kBytes.separator[*p] == 0);
    // One-byte words carry no meaning here and are dropped.
    if (p - start >= 2) out->push_back(hash);
  }
}

}  // namespace nsMarkovian

using nsMarkovian::kMarkovianBadEntry;
using nsMarkovian::kMarkovianFileCorrupt;
using nsMarkovian::kMarkovianFileNotFound;
using nsMarkovian::kMarkovianNoMemory;
using nsMarkovian::kMarkovianOk;

// ---------------------------------------------------------------- NGramTable

int32_t NGramTable::Add(const NGramEntry& entry) {
  if (order < 1 || entry.hashes.size() != static_cast<size_t>(order)) return kMarkovianBadEntry;
  // A multimap inserts after the entries of an equal key: load order is kept.
  entries.emplace(entry.hashes[0], entry);
  if (indexed_) {
    indexed_ = false;
    slots_.clear();
    filter_.clear();
    flat_hashes_.clear();
    flat_values_.clear();
  }
  return kMarkovianOk;
}

void NGramTable::BuildIndex() {
  indexed_ = false;
  slots_.clear();
  filter_.clear();
  flat_hashes_.clear();
  flat_values_.clear();
  if (order < 1) return;

  size_t keys = 0;
  for (auto it = entries.begin(); it != entries.end(); it = entries.upper_bound(it->first)) ++keys;
  // Slots at most half full, at least 8; filter bits 16 per key, at least 64.
  uint32_t slot_bits = 3;
  while ((size_t{1} << slot_bits) < keys * 2) ++slot_bits;
  uint32_t filter_bits = 6;
  while ((size_t{1} << filter_bits) < keys * 16) ++filter_bits;

  std::vector<Slot> slots(size_t{1} << slot_bits, Slot{0, 0, 0});
  std::vector<uint64_t> filter((size_t{1} << filter_bits) / 64, 0);
  std::vector<uint32_t> flat_hashes;
  std::vector<int32_t> flat_values;
  flat_hashes.reserve(entries.size() * static_cast<size_t>(order));
  flat_values.reserve(entries.size());
  const uint32_t slot_shift = 32 - slot_bits;
  const uint32_t filter_shift = 32 - filter_bits;
  const uint32_t mask = (uint32_t{1} << slot_bits) - 1;

  for (auto it = entries.begin(); it != entries.end();) {
    const uint32_t key = it->first;
    const uint32_t first = static_cast<uint32_t>(flat_values.size());
    for (; it != entries.end() && it->first == key; ++it) {
      flat_hashes.insert(flat_hashes.end(), it->second.hashes.begin(), it->second.hashes.end());
      flat_values.push_back(it->second.value);
    }
    uint32_t i = SlotIndex(key, slot_shift);
    while (slots[i].count != 0) i = (i + 1) & mask;
    slots[i] = Slot{key, first, static_cast<uint32_t>(flat_values.size()) - first};
    const uint32_t f = FilterIndex(key, filter_shift);
    filter[f / 64] |= uint64_t{1} << (f % 64);
  }

  slots_ = std::move(slots);
  filter_ = std::move(filter);
  flat_hashes_ = std::move(flat_hashes);
  flat_values_ = std::move(flat_values);
  slot_shift_ = slot_shift;
  filter_shift_ = filter_shift;
  indexed_ = true;
}

bool NGramTable::Find(const uint32_t* seq, size_t remaining, int32_t* value) const {
  if (order < 1 || remaining < static_cast<size_t>(order)) return false;
  const uint32_t key = seq[0];
  const size_t width = static_cast<size_t>(order);

  if (!indexed_) {
    const auto range = entries.equal_range(key);
    for (auto it = range.first; it != range.second; ++it) {
      if (memcmp(it->second.hashes.data() + 1, seq + 1, (width - 1) * sizeof(uint32_t)) == 0) {
        *value = it->second.value;
        return true;
      }
    }
    return false;
  }

  const uint32_t f = FilterIndex(key, filter_shift_);
  if (((filter_[f / 64] >> (f % 64)) & 1) == 0) return false;
  const uint32_t mask = static_cast<uint32_t>(slots_.size()) - 1;
  for (uint32_t i = SlotIndex(key, slot_shift_);; i = (i + 1) & mask) {
    const Slot& slot = slots_[i];
    if (slot.count == 0) return false;
    if (slot.key != key) continue;
    const uint32_t* hashes = flat_hashes_.data() + static_cast<size_t>(slot.first) * width;
    for (uint32_t e = 0; e < slot.count; ++e, hashes += width) {
      bool same = true;
      for (size_t w = 1; w < width; ++w) {
        if (hashes[w] != seq[w]) {
          same = false;
          break;
        }
      }
      if (same) {
        *value = flat_values_[slot.first + e];
        return true;
      }
    }
    return false;
  }
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
int32_t CGenericMarkovianEngine::ReadClass(nsMarkovian::MarkovianFileReader* reader,
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
  // The streamer's destructor closes the file and removes its working copy.
  std::optional<CBinaryStreamer> stream;
  try {
    stream.emplace(path, CBinaryStreamer::kModeRead, ".", nsMarkovian::kMarkovianFileVersion);
  } catch (...) {
    AS_LOG(0, __LINE__, "[Markovian] Signature file not found");
    return kMarkovianFileNotFound;
  }
  nsMarkovian::MarkovianFileReader reader(&*stream);
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

int32_t CGenericMarkovianEngine::Classify(const std::vector<uint32_t>& seq,
                                          MarkovianResults* results,
                                          const MarkovianParams& params) const {
  if (results == nullptr) return kMarkovianNoMemory;
  results->scores.clear();
  results->matches.clear();
  const int64_t n = static_cast<int64_t>(seq.size());
  nsMarkovian::CoveredFlags flags(static_cast<size_t>(n) + 1);
  if (!flags.ok()) return kMarkovianNoMemory;
  uint8_t* covered = flags.data();
  const uint32_t* hashes = seq.data();
  // The text of a match is only looked at when it is counted or collected.
  const bool spell = params.collectMatches != 0 || params.maxRepeats >= 1;

  try {
    std::map<std::string, int32_t> repeats;
    std::string text;
    for (const auto& [name, tables] : classes_) {
      if (params.allClasses == 0 && !nsMarkovian::ListsClass(params.classList, name)) continue;
      if (tables.empty()) continue;
      flags.Clear();
      repeats.clear();
      float score = 0.0f;
      const int64_t last = static_cast<int64_t>(tables.size()) - 1;
      for (int64_t k = last; k >= 1; --k) {
        const NGramTable* table = tables[static_cast<size_t>(k)];
        if (table == nullptr) continue;
        for (int64_t p = 0; p <= n - k + 1; ++p) {
          if (covered[p] != 0 || p >= n || !table->MayStart(hashes[p])) continue;
          int32_t value = 0;
          if (!table->Find(hashes + p, static_cast<size_t>(n - p), &value)) continue;
          if (params.skipNonPositive != 0 && value < 1) continue;
          // The window would run past the sequence: no later start fits either.
          if (p + k - 1 >= n) break;
          bool is_new = false;
          if (spell) {
            text.clear();
            for (int64_t w = p; w < p + k; ++w) {
              const auto word = dictionary_.find(hashes[w]);
              if (word == dictionary_.end()) continue;
              text.append(word->second.data(), word->second.length());
              text.push_back(' ');
            }
            auto counted = repeats.try_emplace(text, 0).first;
            is_new = counted->second == 0;
            ++counted->second;
            if (params.maxRepeats >= 1 && counted->second > params.maxRepeats) continue;
          }
          score += static_cast<float>(value);
          if (params.collectMatches != 0 && is_new) {
            text.push_back(';');
            results->matches[name].push_back(sstring(text.data(), text.size()));
          }
          memset(covered + p, 1, static_cast<size_t>(k));
        }
      }
      const auto found = thresholds_.find(name);
      const int32_t threshold = found != thresholds_.end() ? found->second : 0;
      const float needed = static_cast<float>(threshold) * params.factor;
      const bool fires = score >= needed && threshold > 0;
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

// --------------------------------------------------------- CIMMarkovianEngine

int32_t CIMMarkovianEngine::ClassifyText(const char* text, MarkovianResults* results,
                                         MarkovianParams* params) const {
  MarkovianParams copy;
  if (params != nullptr) {
    params->reportOnlyFired = 1;
    copy = *params;
  }
  copy.reportOnlyFired = 1;
  std::vector<uint32_t> seq;
  try {
    seq.reserve(32);
    nsMarkovian::CutText(text, &seq);
  } catch (const std::bad_alloc&) {
    return kMarkovianNoMemory;
  }
  return Classify(seq, results, copy);
}
