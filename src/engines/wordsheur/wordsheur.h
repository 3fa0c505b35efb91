// The words engine of the IM filters: a list of word categories, each a
// weighted word list with a threshold per age category, read from
// imwords.dat, and the scoring of message texts against them.
//
// Scoring splits each text into tokens on kWordDelimiters, lower-cases the
// ASCII capitals of each token, and adds the weight of every token found in a
// category to that category's sum. A category fires when its sum, read as a
// signed 32-bit value, is strictly greater than its threshold for the age.
//
// Next to the list the engine keeps a bit set keyed by the length and the
// first three bytes of every stored word, so that the many tokens that are in
// no category cost one bit test instead of hashing and a lookup in every
// category.
//
// The list is changed only by LoadIMCategories and ClearCategories, which the
// owner must not run while texts are being scored. ScoreIMTexts itself keeps
// its working state in the call, so any number of threads may score on one
// engine at once.
#ifndef TERVO_SRC_ENGINES_WORDSHEUR_WORDSHEUR_H_
#define TERVO_SRC_ENGINES_WORDSHEUR_WORDSHEUR_H_

#include <stdint.h>

#include "common/binstreamer.h"
#include "common/item.h"
#include "common/sstring.h"
#include "src/common/array.h"

namespace ascommon {
class IStreamer;
}

namespace nsWordsHeur {

class WordsFileReader;

// The age category selects the threshold of a category.
using ascommon::AgeCategory;
using ascommon::kAgeAdult;
using ascommon::kAgeChild;
using ascommon::kAgeTeen;

// The bytes that separate tokens (35 of them, the last three are tab, CR and
// LF). Runs of them produce no empty tokens.
inline constexpr char kWordDelimiters[] = " ,'.()[]{}/\\?!#`~$%^&*-+=:;|\"<>_\t\r\n";
inline constexpr uint32_t kWordDelimiterCount = sizeof(kWordDelimiters) - 1;

// Tokens and texts shorter than this are ignored.
inline constexpr uint64_t kMinWordLength = 3;
// The details text of ScoreIMTexts stays below this many bytes, terminator
// included.
inline constexpr uint64_t kDetailsLimit = 1000;

// Result codes.
inline constexpr int32_t kWordsOk = ascommon::kDataOk;
inline constexpr int32_t kWordsNoMemory = ascommon::kDataNoMemory;
inline constexpr int32_t kWordsFileNotFound = ascommon::kDataFileNotFound;
inline constexpr int32_t kWordsFileCorrupt = ascommon::kDataFileCorrupt;

// Told what one scoring call counted, for a caller that shows why a text
// scored as it did. Categories are named by their index in list order.
class WordsObserver {
 public:
  virtual ~WordsObserver() = default;
  // A token found in `category`: `word` as looked up (lower-cased), the
  // weight it added. Called once per occurrence, in text order.
  virtual void OnWord(uint64_t category, const ascommon::sstring& word, int32_t weight) = 0;
  // After the texts, per category in list order: its sum, the threshold it
  // was held to, whether it fired.
  virtual void OnCategory(uint64_t category, int32_t sum, int32_t threshold, bool fired) = 0;
};

// One category of the list. Allocated through the allocation wrappers and
// owned by the engine.
struct CategoryInfoIM {
  ascommon::sstring name;
  int32_t childThreshold = 0;  // age category 2
  int32_t teenThreshold = 0;   // age category 1
  int32_t adultThreshold = 0;  // any other age, unless overridden
  int32_t spareValue = 0;      // read and kept; scoring ignores it
  // Word -> weight. Keys are matched byte for byte against lower-cased
  // tokens, so a stored word with capitals never matches.
  ascommon::CMap<ascommon::sstring, int32_t> words;
};

class CWordsHeurEngine {
 public:
  CWordsHeurEngine() = default;
  // Deletes the categories.
  ~CWordsHeurEngine();
  CWordsHeurEngine(const CWordsHeurEngine&) = delete;
  CWordsHeurEngine& operator=(const CWordsHeurEngine&) = delete;

  // Reads the categories of the words file at `path` and appends them to the
  // list, in file order; `temp_folder` is the streamer's work folder. Answers
  // 0; -13 when the file cannot be opened; -14 when it is corrupt (the
  // categories read before the damage stay in the list); -10 when a category
  // or one of its words cannot be allocated (earlier categories stay). A word
  // found twice in a category keeps its first weight.
  int32_t LoadIMCategories(const char* path, const ascommon::sstring& temp_folder);

  // Deletes every category and empties the list. Answers 0.
  int32_t ClearCategories();

  // Scores `texts` (null entries and texts shorter than 3 bytes are skipped;
  // the texts are not changed) against every category for `age`.
  //
  // The threshold of a category is `threshold_override` when that is not -1,
  // else its adult threshold; age 1 takes the teen threshold and age 2 the
  // child threshold whatever the override. For each category that fires, in
  // list order: `*score` becomes its sum (so the last one wins), its name and
  // one blank are appended to `*fired_names`, "(name) <<sum>> -> (hits /
  // examined) " is appended to `*details` as far as kDetailsLimit allows, and
  // `*fired` becomes 1. Otherwise `*score` is -1 and `*fired` 0.
  // `*fired_names` and `*details` are emptied (made empty, non-null) first.
  // Any output pointer may be null when the caller does not want it. A
  // non-null `observer` is told every word that counted and every category's
  // result during the call.
  //
  // Answers 0, or -10 with `*score` -1 and the other outputs untouched when
  // the per-category counters (more than 64 categories) or the buffer for a
  // token of 24 bytes or more cannot be allocated.
  int32_t ScoreIMTexts(const ascommon::CArray<const char*, 64>& texts, AgeCategory age,
                       int32_t* score, ascommon::sstring* fired_names, ascommon::sstring* details,
                       uint8_t* fired, int32_t threshold_override,
                       WordsObserver* observer = nullptr) const;
  // As above, over the `count` texts at `texts`: a caller with one text
  // needs no array.
  int32_t ScoreIMTexts(const char* const* texts, uint64_t count, AgeCategory age, int32_t* score,
                       ascommon::sstring* fired_names, ascommon::sstring* details, uint8_t* fired,
                       int32_t threshold_override, WordsObserver* observer = nullptr) const;

  uint64_t GetCategoryCount() const { return categories_.GetCount(); }
  // The category at `index` in list order; raises InvalidIndexException when
  // out of range.
  const CategoryInfoIM* GetCategory(uint64_t index) const { return categories_[index]; }

 private:
  // Bits of the word filter: 2^16, 8 KB.
  static constexpr uint32_t kFilterBits = 16;
  static constexpr uint32_t kFilterWords = (1u << kFilterBits) / 64;

  // The filter bit of a word of `length` bytes (3 or more) whose first three
  // bytes are `bytes`.
  static uint32_t FilterIndex(const uint8_t* bytes, uint64_t length);
  // Sets the bit of a stored word.
  void MarkWord(const ascommon::sstring& word);
  // Whether a token (not yet lower-cased, 3 bytes or more) may be stored in
  // some category; false means it is in none.
  bool MayHoldWord(const uint8_t* token, uint64_t length) const;
  int32_t AppendCategories(ascommon::IStreamer* stream);
  int32_t ReadCategory(WordsFileReader* reader, CategoryInfoIM* category);

  ascommon::CArray<CategoryInfoIM*, 64> categories_;
  // Set for every word of 3 bytes or more of every category in the list; may
  // hold stray bits (words of a category dropped by a failed load), which only
  // cost a lookup.
  uint64_t filter_[kFilterWords] = {};
};

}  // namespace nsWordsHeur

#endif  // TERVO_SRC_ENGINES_WORDSHEUR_WORDSHEUR_H_
