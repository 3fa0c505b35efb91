// Fuzzes the imwords.dat payload through CWordsHeurEngine::LoadIMCategories:
// the input is the payload of a valid container, so every byte reaches the
// words reader. After a load the engine scores a few fixed texts in every age,
// and every stored word that a text can hold must make its category fire.
#include <limits.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>

#include "common/sstring.h"
#include "fuzz/fuzz_support.h"
#include "tests/support/data_files.h"
#include "tervo/tervo_names.h"
#include "src/common/array.h"
#include "src/engines/wordsheur/imwords_format.h"
#include "src/engines/wordsheur/wordsheur.h"

namespace {

using ascommon::sstring;
using nsWordsHeur::CategoryInfoIM;
using nsWordsHeur::CWordsHeurEngine;

// Stored words checked per input, to keep each run short.
constexpr int kWordsChecked = 64;

// Scores `text` and checks what ScoreIMTexts promises of its outputs.
void Score(const CWordsHeurEngine& engine, const char* text, nsWordsHeur::AgeCategory age,
           int32_t threshold_override, int32_t* score, uint8_t* fired, sstring* names) {
  ascommon::CArray<const char*, 64> texts;
  FUZZ_CHECK(texts.Add(text) == 0 && texts.Add(nullptr) == 0, "cannot build the text list");
  sstring details;
  const int32_t rc = engine.ScoreIMTexts(texts, age, score, names, &details, fired,
                                         threshold_override);
  FUZZ_CHECK(rc == nsWordsHeur::kWordsOk, "ScoreIMTexts answered " + std::to_string(rc));
  FUZZ_CHECK(*fired == 0 || *fired == 1, "fired is neither 0 nor 1");
  // Category names are never empty, so a fired category always leaves its
  // name in the list.
  FUZZ_CHECK((*fired == 1) == (names->length() > 0), "fired and the fired names disagree");
  FUZZ_CHECK(*fired == 1 || *score == -1, "no category fired but the score is not -1");
  FUZZ_CHECK(details.length() < nsWordsHeur::kDetailsLimit, "the details text is too long");
}

// Whether a text made of `word` alone is exactly one token equal to it: at
// least three bytes, no delimiter, no capital.
bool IsWholeToken(const sstring& word) {
  if (word.length() < nsWordsHeur::kMinWordLength) return false;
  for (uint64_t i = 0; i < word.length(); ++i) {
    const char c = word.data()[i];
    if (c == '\0' || (c >= 'A' && c <= 'Z') || strchr(nsWordsHeur::kWordDelimiters, c) != nullptr) {
      return false;
    }
  }
  return true;
}

// `word` with its ASCII letters in capitals.
std::string Capitals(const sstring& word) {
  std::string text(word.c_str(), word.length());
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

// A stored word scored alone in an adult session, as it is stored and in
// capitals (tokens are lower-cased), sums its weight in its category; with the
// threshold just below that weight the category fires.
void CheckStoredWords(const CWordsHeurEngine& engine) {
  int checked = 0;
  for (uint64_t c = 0; c < engine.GetCategoryCount() && checked < kWordsChecked; ++c) {
    // CMap has no const walk; the walk changes nothing.
    auto& words = const_cast<CategoryInfoIM*>(engine.GetCategory(c))->words;
    const sstring& name = engine.GetCategory(c)->name;
    for (auto& entry : words) {
      if (checked == kWordsChecked) break;
      const int32_t weight = entry.value;
      if (!IsWholeToken(entry.key) || weight == INT_MIN) continue;
      ++checked;
      // -1 means "no override", so a weight of 0 gets -2.
      const int32_t threshold = weight == 0 ? -2 : weight - 1;
      const std::string listed = std::string(name.c_str()) + " ";
      for (const std::string& text : {std::string(entry.key.c_str()), Capitals(entry.key)}) {
        int32_t score = 0;
        uint8_t fired = 0;
        sstring names;
        Score(engine, text.c_str(), nsWordsHeur::kAgeAdult, threshold, &score, &fired, &names);
        FUZZ_CHECK(fired == 1 && strstr(names.c_str(), listed.c_str()) != nullptr,
                   "the stored word \"" + text + "\" does not fire " + name.c_str());
      }
    }
  }
}

void Exercise(const CWordsHeurEngine& engine) {
  static const char* const kTexts[] = {
      "",
      "hi",
      "you are such a stupid idiot, nobody likes you",
      "DAMN this SHIT... free-gift-cards!!! click here",
      "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa bbb ccc",
  };
  for (const char* text : kTexts) {
    for (nsWordsHeur::AgeCategory age = 0; age <= 3; ++age) {
      for (int32_t threshold : {-1, 0, INT_MIN, INT_MAX}) {
        int32_t score = 0;
        uint8_t fired = 0;
        sstring names;
        Score(engine, text, age, threshold, &score, &fired, &names);
        if (threshold == INT_MAX && age != nsWordsHeur::kAgeTeen &&
            age != nsWordsHeur::kAgeChild) {
          FUZZ_CHECK(fired == 0, "a category fired over the highest threshold");
        }
      }
    }
  }
  CheckStoredWords(engine);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const tervo_fuzz::Folders& dirs = tervo_fuzz::TargetFolders("imwords");
  const std::string path = dirs.input.File(nsImModules::kWordsDataFile);
  tervo_test::WriteRawDataFile(path, nsWordsHeur::kWordsFileVersion, data, size);

  CWordsHeurEngine engine;
  const int32_t rc = engine.LoadIMCategories(path.c_str(), sstring(dirs.work.path().c_str()));
  tervo_fuzz::CheckFolderEmpty(dirs.work.path(), "LoadIMCategories");
  FUZZ_CHECK(rc == nsWordsHeur::kWordsOk || rc == nsWordsHeur::kWordsFileCorrupt,
             "LoadIMCategories answered " + std::to_string(rc));
  if (rc == nsWordsHeur::kWordsOk) {
    FUZZ_CHECK(size >= 4 && engine.GetCategoryCount() == tervo_fuzz::LoadU32(data),
               "a complete load holds another number of categories than the file says");
  }
  Exercise(engine);
  FUZZ_CHECK(engine.ClearCategories() == 0 && engine.GetCategoryCount() == 0,
             "ClearCategories left categories");
  return 0;
}
