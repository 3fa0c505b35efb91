// Fuzzes the im_markovian.dat payload through CIMMarkovianEngine::LoadModel:
// the input is the payload of a valid container. The loaded model, whole or
// cut short by damage, then classifies fixed texts, texts spelled from its own
// sequences and the payload itself, under several parameter sets. Checks:
//   - what Classify promises of a fired class (positive threshold, score at
//     least threshold times factor, listed when a class list is given);
//   - loading the same file again (a merge that replaces every class) changes
//     no result;
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <utility>
#include <vector>

#include "common/sstring.h"
#include "fuzz/fuzz_support.h"
#include "tests/support/data_files.h"
#include "tervo/tervo_names.h"
#include "src/engines/markovian/markovian.h"
#include "src/engines/markovian/markovian_format.h"

namespace {

using ascommon::sstring;
using nsMarkovian::CIMMarkovianEngine;
using nsMarkovian::MarkovianParams;
using nsMarkovian::MarkovianResults;
using nsMarkovian::NGramTable;

// Sequences spelled into a text per input, and the longest text taken from
// the payload itself.
constexpr int kSpelledEntries = 32;
constexpr size_t kPayloadTextLimit = 4096;

std::string Text(const sstring& s) {
  return s.data() != nullptr ? std::string(s.data(), s.length()) : std::string();
}

// One classification's results as plain strings, in the maps' order.
struct Outcome {
  int32_t rc = 0;
  std::vector<std::pair<std::string, float>> scores;
  std::vector<std::pair<std::string, std::vector<std::string>>> matches;
  bool operator==(const Outcome&) const = default;
};

int32_t Load(CIMMarkovianEngine* engine, const std::string& path) {
  const tervo_fuzz::Folders& dirs = tervo_fuzz::TargetFolders("markovian");
  int32_t rc = 0;
  {
    // The engine keeps its working copy in the current folder.
    tervo_fuzz::ScopedChdir in_work(dirs.work.path());
    rc = engine->LoadModel(path.c_str());
  }
  tervo_fuzz::CheckFolderEmpty(dirs.work.path(), "LoadModel");
  FUZZ_CHECK(rc == nsMarkovian::kMarkovianOk || rc == nsMarkovian::kMarkovianFileCorrupt,
             "LoadModel answered " + std::to_string(rc));
  return rc;
}

// Every class has its threshold, and every table holds entries of its order.
void CheckModel(const CIMMarkovianEngine& engine) {
  FUZZ_CHECK(engine.classes().size() == engine.thresholds().size(),
             "classes and thresholds differ in number");
  for (const auto& [name, tables] : engine.classes()) {
    FUZZ_CHECK(engine.thresholds().count(name) == 1, "a class has no threshold");
    for (const NGramTable* table : tables) {
      if (table == nullptr) continue;
      FUZZ_CHECK(table->order >= 1, "a table of order below 1 was kept");
      for (const auto& [first, entry] : table->entries) {
        FUZZ_CHECK(entry.hashes.size() == static_cast<size_t>(table->order) &&
                       entry.hashes[0] == first,
                   "an entry does not fit its table");
      }
    }
  }
}

// Texts made of the model's own sequences: each entry's words as the
// dictionary spells them, one entry per sentence, the first one twice.
std::string SpelledText(const CIMMarkovianEngine& engine) {
  std::string text;
  int spelled = 0;
  for (const auto& [name, tables] : engine.classes()) {
    for (const NGramTable* table : tables) {
      if (table == nullptr) continue;
      for (const auto& [first, entry] : table->entries) {
        if (spelled++ == kSpelledEntries) return text;
        for (uint32_t hash : entry.hashes) {
          const auto word = engine.dictionary().find(hash);
          if (word != engine.dictionary().end()) text += Text(word->second) + " ";
        }
        text += spelled == 1 ? ". " + text : ". ";
      }
    }
  }
  return text;
}

std::vector<MarkovianParams> ParameterSets(const CIMMarkovianEngine& engine) {
  std::vector<MarkovianParams> sets(6);
  sets[1].allClasses = 1;
  sets[2].allClasses = 1;
  sets[2].factor = 0.8f;
  sets[3].allClasses = 1;
  sets[3].factor = 0.0f;
  sets[3].collectMatches = 1;
  sets[4].allClasses = 1;
  sets[4].skipNonPositive = 1;
  sets[4].maxRepeats = 1;
  sets[4].collectMatches = 1;
  // The first and last classes by name, and a name no class has.
  std::string list = "no such class;";
  if (!engine.classes().empty()) {
    list += Text(engine.classes().begin()->first) + ";" + Text(engine.classes().rbegin()->first) +
            ";";
  }
  sets[5].classList.assign(list.data(), list.size());
  sets[5].factor = 0.5f;
  return sets;
}

Outcome Classify(const CIMMarkovianEngine& engine, const std::string& text,
                 const MarkovianParams& params) {
  MarkovianParams copy = params;
  MarkovianResults results;
  Outcome outcome;
  outcome.rc = engine.ClassifyText(text.c_str(), &results, &copy);
  FUZZ_CHECK(outcome.rc == nsMarkovian::kMarkovianOk,
             "ClassifyText answered " + std::to_string(outcome.rc));
  FUZZ_CHECK(copy.reportOnlyFired == 1, "ClassifyText did not set reportOnlyFired");
  const std::string list = Text(params.classList);
  for (const auto& [name, score] : results.scores) {
    const auto threshold = engine.thresholds().find(name);
    FUZZ_CHECK(threshold != engine.thresholds().end(), "a score for a class the model lacks");
    FUZZ_CHECK(threshold->second > 0 &&
                   score >= static_cast<float>(threshold->second) * params.factor,
               "a class below its threshold was reported as fired");
    FUZZ_CHECK(params.allClasses != 0 || list.find(Text(name) + ";") != std::string::npos,
               "a class not in the class list was scored");
    outcome.scores.emplace_back(Text(name), score);
  }
  FUZZ_CHECK(params.collectMatches != 0 || results.matches.empty(),
             "matches were collected without collectMatches");
  for (const auto& [name, texts] : results.matches) {
    std::vector<std::string> spelled;
    for (const sstring& t : texts) spelled.push_back(Text(t));
    outcome.matches.emplace_back(Text(name), std::move(spelled));
  }
  return outcome;
}

std::vector<Outcome> ClassifyAll(const CIMMarkovianEngine& engine,
                                 const std::vector<std::string>& texts) {
  std::vector<Outcome> outcomes;
  for (const MarkovianParams& params : ParameterSets(engine)) {
    for (const std::string& text : texts) outcomes.push_back(Classify(engine, text, params));
  }
  // With neither a class list nor allClasses nothing is scored.
  MarkovianResults results;
  FUZZ_CHECK(engine.ClassifyText(texts.back().c_str(), &results, nullptr) == 0 &&
                 results.scores.empty(),
             "a class was scored without being asked for");
  return outcomes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const tervo_fuzz::Folders& dirs = tervo_fuzz::TargetFolders("markovian");
  const std::string path = dirs.input.File(nsImModules::kMarkovianDataFile);
  tervo_test::WriteRawDataFile(path, nsMarkovian::kMarkovianFileVersion, data, size);

  CIMMarkovianEngine engine;
  const int32_t rc = Load(&engine, path);
  CheckModel(engine);
  if (rc == nsMarkovian::kMarkovianOk) {
    FUZZ_CHECK(size >= 4 && engine.classes().size() <= tervo_fuzz::LoadU32(data),
               "a complete load holds more classes than the file names");
  }

  const size_t payload_text = size < kPayloadTextLimit ? size : kPayloadTextLimit;
  const std::vector<std::string> texts = {
      "",
      "you are such a stupid idiot, nobody likes you",
      "this is our secret, don't tell your mom. turn on your webcam",
      SpelledText(engine),
      std::string(reinterpret_cast<const char*>(data), payload_text).c_str(),
  };
  const std::vector<Outcome> first = ClassifyAll(engine, texts);

  Load(&engine, path);
  CheckModel(engine);
  FUZZ_CHECK(ClassifyAll(engine, texts) == first, "loading the same file again changed results");

  return 0;
}
