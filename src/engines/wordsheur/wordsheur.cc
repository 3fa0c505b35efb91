#include "src/engines/wordsheur/wordsheur.h"

#include <stdio.h>
#include <string.h>

#include <new>
#include <optional>

#include "common/asalloc.h"
#include "common/binstreamer.h"
#include "common/sstring.h"
#include "src/engines/wordsheur/imwords_format.h"
#include "src/exceptions/asexception.h"
#include "src/trace/trace.h"

namespace nsWordsHeur {

using ascommon::AsciiLower;
using ascommon::CArray;
using ascommon::CBinaryStreamer;
using ascommon::IStreamer;
using ascommon::sstring;

namespace {

// A category announcing more words than this gets chains for this many; the
// count comes from the file and may be damaged.
constexpr uint32_t kMaxPresizedWords = 1u << 16;
// Up to this many categories the counters of a scoring call live on the stack.
constexpr uint64_t kStackCategories = 64;

// This file's name in log lines, worked out once: AS_LOG would find it again
// for every word found and every category scored.
const char* const kSourceName = ASFileName(__FILE_NAME__);

// AS_LOG for the scoring path, with kSourceName.
#define WORDS_LOG(level, text, ...)                              \
  g_pTrace->Trace((level), AS_LOG_PREFIX text "\n", kSourceName, \
                  __LINE__ __VA_OPT__(, ) __VA_ARGS__)

// Per byte: whether it belongs to a token (not a delimiter, not the
// terminator), and what it mixes into the token's hash once lower-cased
// (sstring::hash() takes each byte as a signed value).
struct ByteTables {
  uint8_t in_word[256];
  uint32_t mix[256];
  constexpr ByteTables() : in_word(), mix() {
    for (int i = 0; i < 256; ++i) {
      in_word[i] = 1;
      mix[i] = static_cast<uint32_t>(
          static_cast<int32_t>(static_cast<signed char>(AsciiLower(static_cast<char>(i)))));
    }
    for (const char* d = kWordDelimiters; *d != '\0'; ++d) in_word[static_cast<uint8_t>(*d)] = 0;
    in_word[0] = 0;
  }
};
constexpr ByteTables kBytes;

// The djb2-xor seed of sstring::hash(); a token hashed from it with
// kBytes.mix finds its bucket in every category's map.
constexpr uint32_t kHashSeed = 5381;

// Finds the next token of at least kMinWordLength bytes at or after
// `*cursor`: its first byte and its length. Answers false at the end of the
// text. The cursor is left on the byte after the token.
inline bool NextToken(const uint8_t** cursor, const uint8_t** start, uint64_t* length) {
  uint64_t n = 0;
  for (const uint8_t* p = *cursor;; ++p) {
    const uint8_t byte = *p;
    const uint64_t in_word = kBytes.in_word[byte];
    // One branch, taken once per token: where a token of 3 bytes or more
    // has just ended.
    if (static_cast<uint64_t>(n >= kMinWordLength) > in_word) {
      *cursor = p;
      *start = p - n;
      *length = n;
      return true;
    }
    if (byte == '\0') {
      *cursor = p;
      return false;
    }
    // A mask rather than a branch: a branch here would be mispredicted at
    // every token boundary.
    n = (n + 1) & (uint64_t{0} - in_word);
  }
}

// The two counter arrays of a scoring call (summed weights, then hits), on
// the stack for up to kStackCategories categories.
class Counters {
 public:
  explicit Counters(uint64_t categories) : count_(categories) {
    if (categories > kStackCategories) {
      data_ = static_cast<uint32_t*>(
          as_new_nt_2_9(2 * categories * sizeof(uint32_t), &ascommon::kNoThrow));
    }
    if (data_ != nullptr) memset(data_, 0, 2 * categories * sizeof(uint32_t));
  }
  ~Counters() {
    if (data_ != local_) as_delete_nt_2_9(data_, &ascommon::kNoThrow);
  }
  Counters(const Counters&) = delete;
  Counters& operator=(const Counters&) = delete;

  bool ok() const { return data_ != nullptr; }
  uint32_t* sums() { return data_; }
  uint32_t* hits() { return data_ + count_; }

 private:
  uint64_t count_;
  uint32_t local_[2 * kStackCategories];
  uint32_t* data_ = local_;
};

// Appends "(name) <<sum>> -> (hits / examined) " to `details`, cut so that the
// text stays below kDetailsLimit bytes with its terminator.
void AppendDetails(sstring* details, const char* name, int32_t sum, uint32_t hits,
                   uint32_t examined) {
  const uint64_t used = details->length();
  if (used + 1 >= kDetailsLimit) return;
  const uint64_t room = kDetailsLimit - 1 - used;
  char piece[kDetailsLimit];
  const int written = snprintf(piece, room + 1, "(%s) <<%d>> -> (%d / %d) ", name, sum,
                               static_cast<int>(hits), static_cast<int>(examined));
  if (written <= 0) return;
  details->append(piece,
                  static_cast<uint64_t>(written) < room ? static_cast<uint64_t>(written) : room);
}

}  // namespace

CWordsHeurEngine::~CWordsHeurEngine() { ClearCategories(); }

inline uint32_t CWordsHeurEngine::FilterIndex(const uint8_t* bytes, uint64_t length) {
  const uint32_t packed = static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
                          static_cast<uint32_t>(bytes[2]) << 16 |
                          static_cast<uint32_t>(length < 255 ? length : 255) << 24;
  return (packed * 0x9E3779B1u) >> (32 - kFilterBits);
}

void CWordsHeurEngine::MarkWord(const sstring& word) {
  // Shorter words can never match: shorter tokens are not looked up.
  if (word.length() < kMinWordLength) return;
  const uint32_t index = FilterIndex(reinterpret_cast<const uint8_t*>(word.data()), word.length());
  filter_[index / 64] |= uint64_t{1} << (index % 64);
}

inline bool CWordsHeurEngine::MayHoldWord(const uint8_t* token, uint64_t length) const {
  const uint8_t lowered[3] = {static_cast<uint8_t>(AsciiLower(token[0])),
                              static_cast<uint8_t>(AsciiLower(token[1])),
                              static_cast<uint8_t>(AsciiLower(token[2]))};
  const uint32_t index = FilterIndex(lowered, length);
  return (filter_[index / 64] >> (index % 64)) & 1;
}

// Reads one category's header and words into `category`. Answers 0, or -10
// when a word cannot be stored; stream failures pass on as exceptions.
int32_t CWordsHeurEngine::ReadCategory(WordsFileReader* reader, CategoryInfoIM* category) {
  int32_t word_count = 0;
  reader->ReadCategoryHeader(&category->name, &category->childThreshold, &category->teenThreshold,
                             &category->adultThreshold, &category->spareValue, &word_count);
  if (word_count > 0) {
    // Short chains for the lookups; when the rehash fails the default chains
    // still work.
    const uint32_t expected = static_cast<uint32_t>(word_count) < kMaxPresizedWords
                                  ? static_cast<uint32_t>(word_count)
                                  : kMaxPresizedWords;
    const uint32_t buckets = expected * 2 + 1;
    if (buckets > category->words.GetBucketCount()) category->words.ReHash(buckets);
  }
  sstring word;
  for (int32_t i = 0; i < word_count; ++i) {
    int32_t weight = 0;
    reader->ReadWord(&word, &weight);
    // A repeated word keeps its first weight: the map refuses the second
    // insert, which is not an error here.
    const int32_t rc = category->words.Insert(word, weight);
    if (rc == ascommon::kArrayNoMemory) return kWordsNoMemory;
    if (rc == ascommon::kArrayOk) MarkWord(word);
  }
  return kWordsOk;
}

// Reads the category count and the categories from `stream`, appending each
// complete category to the list.
int32_t CWordsHeurEngine::AppendCategories(IStreamer* stream) {
  WordsFileReader reader(stream);
  uint32_t count = 0;
  try {
    count = reader.ReadCategoryCount();
  } catch (...) {
    AS_LOG(0, __LINE__, "[Words Heur] File Corrupt!");
    return kWordsFileCorrupt;
  }
  for (uint32_t i = 0; i < count; ++i) {
    CategoryInfoIM* category = nullptr;
    try {
      category = ascommon::NewNoThrow<CategoryInfoIM>();
    } catch (const std::bad_alloc&) {
      // The word map's chain arrays could not be had.
      category = nullptr;
    }
    if (category == nullptr) return kWordsNoMemory;

    int32_t rc = kWordsOk;
    try {
      rc = ReadCategory(&reader, category);
    } catch (const ASException& e) {
      ascommon::Delete(category);
      AS_LOG(0, __LINE__, "[Fuzzy Engine] Signature File Corrupt: %s", e.what());
      return kWordsFileCorrupt;
    } catch (...) {
      ascommon::Delete(category);
      AS_LOG(0, __LINE__, "[Fuzzy Engine] Signature file not found");
      return kWordsFileNotFound;
    }
    if (rc == kWordsOk && categories_.Add(category) != ascommon::kArrayOk) rc = kWordsNoMemory;
    if (rc != kWordsOk) {
      ascommon::Delete(category);
      return rc;
    }
  }
  return kWordsOk;
}

int32_t CWordsHeurEngine::LoadIMCategories(const char* path, const sstring& temp_folder) {
  // The streamer's destructor closes the file and removes its working copy.
  std::optional<CBinaryStreamer> stream;
  if (!ascommon::OpenDataFile(&stream, path, temp_folder.c_str(), kWordsFileVersion)) {
    AS_LOG(0, __LINE__, "[Fuzzy Engine] Signature file not found");
    return kWordsFileNotFound;
  }
  return AppendCategories(&*stream);
}

int32_t CWordsHeurEngine::ClearCategories() {
  for (CategoryInfoIM* category : categories_) ascommon::Delete(category);
  categories_.SetSize(0, false);
  memset(filter_, 0, sizeof filter_);
  return kWordsOk;
}

int32_t CWordsHeurEngine::ScoreIMTexts(const CArray<const char*, 64>& texts, AgeCategory age,
                                       int32_t* score, sstring* fired_names, sstring* details,
                                       uint8_t* fired, int32_t threshold_override,
                                       WordsObserver* observer) const {
  return ScoreIMTexts(texts.GetData(), texts.GetCount(), age, score, fired_names, details, fired,
                      threshold_override, observer);
}

int32_t CWordsHeurEngine::ScoreIMTexts(const char* const* texts, uint64_t text_count,
                                       AgeCategory age, int32_t* score, sstring* fired_names,
                                       sstring* details, uint8_t* fired,
                                       int32_t threshold_override,
                                       WordsObserver* observer) const {
  if (score != nullptr) *score = -1;
  const uint64_t count = categories_.GetCount();
  CategoryInfoIM* const* categories = categories_.GetData();
  Counters counters(count);
  if (!counters.ok()) return kWordsNoMemory;
  uint32_t* sums = counters.sums();
  uint32_t* hits = counters.hits();
  uint32_t examined = 0;

  // The lower-cased token for the lookups. Up to 22 bytes (23 with the
  // terminator) it stays in the string's inline buffer; a longer one grows
  // it for the rest of the call.
  sstring key;
  key.fill(sstring::kInlineSize - 1, '\0');

  for (uint64_t t = 0; t < text_count; ++t) {
    const char* text = texts[t];
    if (text == nullptr || text[0] == '\0' || text[1] == '\0' || text[2] == '\0') continue;
    const uint8_t* cursor = reinterpret_cast<const uint8_t*>(text);
    const uint8_t* start;
    uint64_t length;
    while (NextToken(&cursor, &start, &length)) {
      ++examined;
      if (!MayHoldWord(start, length)) continue;
      if (length >= key.size()) {
        const uint64_t grown = 2 * key.size() > length ? 2 * key.size() : length + 1;
        if (key.fill(grown, '\0') != 0) return kWordsNoMemory;
      }
      char* out = key.buffer();
      uint32_t hash = kHashSeed;
      for (uint64_t i = 0; i < length; ++i) {
        out[i] = AsciiLower(start[i]);
        hash = (hash * 33) ^ kBytes.mix[start[i]];
      }
      key.set_length(length);
      for (uint64_t c = 0; c < count; ++c) {
        const int32_t* weight = categories[c]->words.Lookup(key, hash);
        if (weight == nullptr) continue;
        WORDS_LOG(3, "parental wordsheur found %s", key.c_str());
        sums[c] += static_cast<uint32_t>(*weight);
        ++hits[c];
        if (observer != nullptr) observer->OnWord(c, key, *weight);
      }
    }
  }

  uint8_t any_fired = 0;
  if (fired_names != nullptr) fired_names->assign("", 0);
  if (details != nullptr) details->assign("", 0);
  for (uint64_t c = 0; c < count; ++c) {
    const CategoryInfoIM* category = categories[c];
    int32_t threshold = threshold_override != -1 ? threshold_override : category->adultThreshold;
    if (age == kAgeTeen) {
      threshold = category->teenThreshold;
    } else if (age == kAgeChild) {
      threshold = category->childThreshold;
    }
    const int32_t sum = static_cast<int32_t>(sums[c]);
    if (sum > threshold) {
      if (score != nullptr) *score = sum;
      if (fired_names != nullptr) {
        fired_names->append(category->name);
        fired_names->append(" ", 1);
      }
      if (details != nullptr) {
        AppendDetails(details, category->name.c_str(), sum, hits[c], examined);
      }
      any_fired = 1;
    }
    if (observer != nullptr) observer->OnCategory(c, sum, threshold, sum > threshold);
    WORDS_LOG(3, "\t\t(%s) <<%d>> -> (%d / %d)\n\n", category->name.c_str(), sum,
              static_cast<int>(hits[c]), static_cast<int>(examined));
  }
  if (fired != nullptr) *fired = any_fired;
  return kWordsOk;
}

#undef WORDS_LOG

}  // namespace nsWordsHeur
