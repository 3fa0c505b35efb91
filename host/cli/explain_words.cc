// The words filter explained: per category the words of the message that
// counted with their weights, the sum against the threshold for the age, and
// the score the filter wrote.
#include <stdint.h>

#include <string>
#include <vector>

#include "common/item.h"
#include "host/cli/explain.h"
#include "src/engines/wordsheur/wordsheur.h"
#include "tervo/tervo_names.h"

namespace tervo_cli {

namespace {

using nsWordsHeur::CWordsHeurEngine;

const char* const kAgeWords[] = {"adult", "teen", "child"};

// Collects, per category, what the engine counted.
class WordsRecord : public nsWordsHeur::WordsObserver {
 public:
  explicit WordsRecord(uint64_t categories) : categories_(categories, ojson::object()) {
    for (ojson& c : categories_) c["words"] = ojson::array();
  }
  void OnWord(uint64_t category, const ascommon::sstring& word, int32_t weight) override {
    categories_[category]["words"].push_back(
        {{"word", std::string(word.data(), word.length())}, {"weight", weight}});
  }
  void OnCategory(uint64_t category, int32_t sum, int32_t threshold, bool fired) override {
    ojson& c = categories_[category];
    c["sum"] = sum;
    c["threshold"] = threshold;
    c["fired"] = fired;
  }
  std::vector<ojson>& categories() { return categories_; }

 private:
  std::vector<ojson> categories_;
};

class WordsExplainer : public FilterExplainer {
 public:
  const char* FilterName() const override { return nsImModules::kWordsFilterName; }

  bool SetUp(const ExplainSetup& setup, std::string* error) override {
    const std::string path = setup.data_dir + "/" + nsImModules::kWordsDataFile;
    const ascommon::sstring temp((setup.temp_dir + "/").c_str());
    if (engine_.LoadIMCategories(path.c_str(), temp) != 0) {
      *error = "cannot load " + path;
      return false;
    }
    return true;
  }

  // The filter scores the message's first text only, with no threshold
  // override, and writes the score the engine answers.
  ojson Explain(const ExplainInput& input) override {
    WordsRecord record(engine_.GetCategoryCount());
    const char* const texts[1] = {input.text};
    int32_t score = -1;
    if (engine_.ScoreIMTexts(texts, 1, input.age, &score, nullptr, nullptr, nullptr, -1, &record) != 0) {
      return {{"failed", true}};
    }
    ojson categories = ojson::array();
    std::string last_fired;
    for (uint64_t i = 0; i < engine_.GetCategoryCount(); ++i) {
      ojson& c = record.categories()[i];
      const std::string name = engine_.GetCategory(i)->name.c_str();
      if (c["fired"].get<bool>()) last_fired = name;
      categories.push_back({{"category", name}, {"words", c["words"]}, {"sum", c["sum"]},
                            {"threshold", c["threshold"]}, {"fired", c["fired"]}});
    }
    ojson verdict = {{"key", ascommon::IM_WORDS_VERDICT_KEY}, {"value", score}};
    verdict["why"] = last_fired.empty() ? "no category fired"
                                        : "the sum of " + last_fired + ", the last category that fired";
    return {{"age", kAgeWords[input.age]}, {"categories", categories}, {"verdict", verdict}};
  }

  void Print(const ojson& explanation, std::string* out) const override {
    if (explanation.value("failed", false)) {
      *out += "    the words could not be scored\n";
      return;
    }
    const std::string age = explanation["age"].get<std::string>();
    bool shown = false;
    for (const ojson& c : explanation["categories"]) {
      const bool fired = c["fired"].get<bool>();
      if (c["words"].empty() && !fired) continue;
      std::string sum;
      for (const ojson& w : c["words"]) {
        sum += (sum.empty() ? "" : " + ") + w["word"].get<std::string>() + " " +
               std::to_string(w["weight"].get<int32_t>());
      }
      *out += "    " + c["category"].get<std::string>() + ": " + (sum.empty() ? "no words" : sum) +
              " = " + std::to_string(c["sum"].get<int32_t>()) + (fired ? " > " : " <= ") +
              std::to_string(c["threshold"].get<int32_t>()) + " (" + age + "): " +
              (fired ? "fired" : "not fired") + "\n";
      shown = true;
    }
    const ojson& verdict = explanation["verdict"];
    *out += std::string("    ") + (shown ? "" : "no listed words; ") +
            std::to_string(verdict["key"].get<uint32_t>()) + " = " +
            std::to_string(verdict["value"].get<int32_t>()) + ": " + verdict["why"].get<std::string>() + "\n";
  }

 private:
  CWordsHeurEngine engine_;
};

}  // namespace

std::unique_ptr<FilterExplainer> NewWordsExplainer() { return std::make_unique<WordsExplainer>(); }

}  // namespace tervo_cli
