#include "host/cli/words_source.h"

#include <string.h>

#include <unordered_set>

#include "host/cli/source_text.h"
#include "src/engines/wordsheur/imwords_format.h"
#include "src/engines/wordsheur/wordsheur.h"

namespace tervo_cli {

namespace {

// Why `word` could never match a token, or null when it can.
const char* WordProblem(const std::string& word) {
  if (word.size() < 3) return "words shorter than three bytes never match";
  for (unsigned char c : word) {
    if (c >= 'A' && c <= 'Z') return "words are matched in lower case";
    if (c == 0 || strchr(nsWordsHeur::kWordDelimiters, c) != nullptr) {
      return "a word with a delimiter character never matches";
    }
  }
  return nullptr;
}

}  // namespace

bool ParseWordsSource(const std::string& text, const std::string& file_name,
                      std::vector<WordsCategory>* categories, std::string* error) {
  std::unordered_set<std::string> seen;  // the words of the current category
  return ForEachSourceLine(text, file_name, error, [&](const auto& f, const auto& fail) {
    if (f[0] == "category") {
      seen.clear();
      WordsCategory c;
      if (f.size() != 6) return fail("expected: category NAME CHILD TEEN ADULT SPARE");
      c.name = f[1];
      if (!ParseInt32(f[2], &c.child) || !ParseInt32(f[3], &c.teen) ||
          !ParseInt32(f[4], &c.adult) || !ParseInt32(f[5], &c.spare)) {
        return fail("thresholds and spare value must be 32-bit integers");
      }
      categories->push_back(std::move(c));
      return true;
    }
    if (categories->empty()) return fail("a word before the first category line");
    if (f.size() != 2) return fail("expected: WORD WEIGHT");
    if (const char* problem = WordProblem(f[0])) return fail(problem);
    int32_t weight = 0;
    if (!ParseInt32(f[1], &weight)) return fail("the weight must be a 32-bit integer");
    WordsCategory& c = categories->back();
    if (!seen.insert(f[0]).second) {
      return fail("\"" + f[0] + "\" is already in category " + c.name);
    }
    c.words.emplace_back(f[0], weight);
    return true;
  });
}

std::string ReadWordsPayloadAsSource(ascommon::IStreamer* in) {
  nsWordsHeur::WordsFileReader reader(in);
  std::string out;
  const uint32_t count = reader.ReadCategoryCount();
  for (uint32_t i = 0; i < count; ++i) {
    ascommon::sstring name;
    int32_t child = 0, teen = 0, adult = 0, spare = 0, words = 0;
    reader.ReadCategoryHeader(&name, &child, &teen, &adult, &spare, &words);
    if (i > 0) out += "\n";
    out += "category " + std::string(name.c_str()) + " " + std::to_string(child) + " " +
           std::to_string(teen) + " " + std::to_string(adult) + " " + std::to_string(spare) +
           "\n";
    for (int32_t w = 0; w < words; ++w) {
      ascommon::sstring word;
      int32_t weight = 0;
      reader.ReadWord(&word, &weight);
      out += std::string(word.c_str()) + " " + std::to_string(weight) + "\n";
    }
  }
  return out;
}

}  // namespace tervo_cli
