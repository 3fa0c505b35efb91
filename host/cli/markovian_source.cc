#include "host/cli/markovian_source.h"

#include <algorithm>

#include "host/cli/source_text.h"
#include "src/engines/markovian/markovian.h"
#include "src/engines/markovian/markovian_format.h"

namespace tervo_cli {

namespace {

// Why `word` could never be matched, or null when it can.
const char* WordProblem(const std::string& word) {
  if (word.size() < 2) return "one-byte words are dropped from messages and never match";
  for (unsigned char c : word) {
    if (c >= 'A' && c <= 'Z') return "words are matched in lower case";
    if (nsMarkovian::IsSeparator(c)) return "a word with a separator character never matches";
  }
  return nullptr;
}

}  // namespace

bool ParseMarkovianSource(const std::string& text, const std::string& file_name,
                          std::vector<MarkovianClass>* classes, std::string* error) {
  return ForEachSourceLine(text, file_name, error, [&](const auto& f, const auto& fail) {
    if (f[0] == "class") {
      MarkovianClass c;
      if (f.size() != 3) return fail("expected: class NAME THRESHOLD");
      c.name = f[1];
      if (!ParseInt32(f[2], &c.threshold)) return fail("the threshold must be a 32-bit integer");
      classes->push_back(std::move(c));
      return true;
    }
    if (classes->empty()) return fail("a sequence before the first class line");
    if (f.size() < 2) return fail("expected: VALUE WORD [WORD ...]");
    MarkovianSequence sequence;
    if (!ParseInt32(f[0], &sequence.value)) return fail("the value must be a 32-bit integer");
    for (size_t i = 1; i < f.size(); ++i) {
      if (const char* problem = WordProblem(f[i])) return fail(problem);
      sequence.words.push_back(f[i]);
    }
    classes->back().sequences.push_back(std::move(sequence));
    return true;
  });
}

std::string ReadMarkovianPayloadAsSource(ascommon::IStreamer* in) {
  nsMarkovian::MarkovianFileReader reader(in);
  std::string out;
  const uint32_t count = reader.ReadClassCount();
  for (uint32_t i = 0; i < count; ++i) {
    ascommon::sstring name;
    int32_t threshold = 0;
    uint32_t tables = 0;
    reader.ReadClassHeader(&name, &threshold, &tables);
    if (i > 0) out += "\n";
    out += "class " + std::string(name.c_str()) + " " + std::to_string(threshold) + "\n";
    for (uint32_t t = 0; t < tables; ++t) {
      const int32_t order = reader.ReadTableOrder();
      if (order <= 0) continue;
      const uint32_t entries = reader.ReadEntryCount();
      for (uint32_t e = 0; e < entries; ++e) {
        out += std::to_string(reader.ReadEntryValue());
        for (int32_t w = 0; w < order; ++w) {
          uint32_t hash = 0;
          ascommon::sstring word;
          reader.ReadWord(&hash, &word);
          out += ' ';
          out += word.c_str();
        }
        out += "\n";
      }
    }
  }
  return out;
}

}  // namespace tervo_cli
