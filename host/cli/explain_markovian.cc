// The Markovian filter explained: per class the word sequences of the
// message that scored with their values, and the class's score against its
// threshold scaled for the age.
#include <stdio.h>

#include <map>
#include <string>

#include "common/item.h"
#include "host/cli/explain.h"
#include "src/engines/markovian/markovian.h"
#include "tervo/tervo_names.h"

namespace tervo_cli {

namespace {

using nsMarkovian::CIMMarkovianEngine;

const char* const kAgeWords[] = {"adult", "teen", "child"};

std::string Number(double value) {
  char text[32];
  snprintf(text, sizeof text, "%g", value);
  return text;
}

// Collects, per class, what the engine counted, the sequences spelt with
// the model's words.
class MarkovianRecord : public nsMarkovian::MarkovianObserver {
 public:
  explicit MarkovianRecord(const CIMMarkovianEngine& engine) : engine_(engine) {}

  void OnSequence(const ascommon::sstring& name, const uint32_t* hashes, int64_t k, int32_t value) override {
    std::string words;
    for (int64_t i = 0; i < k; ++i) {
      const auto word = engine_.dictionary().find(hashes[i]);
      words += (i == 0 ? "" : " ") +
               (word == engine_.dictionary().end() ? std::string("?") : std::string(word->second.c_str()));
    }
    Class(name)["sequences"].push_back({{"words", words}, {"value", value}});
  }
  void OnClass(const ascommon::sstring& name, float score, int32_t threshold, float needed,
               bool fired) override {
    ojson& c = Class(name);
    c["score"] = score;
    c["threshold"] = threshold;
    c["needed"] = needed;
    c["fired"] = fired;
    classes_.push_back(c);
    current_.clear();
  }
  const ojson& classes() const { return classes_; }

 private:
  // The class being scored: the engine scores one class at a time.
  ojson& Class(const ascommon::sstring& name) {
    if (current_.empty()) current_ = {{"class", name.c_str()}, {"sequences", ojson::array()}};
    return current_;
  }

  const CIMMarkovianEngine& engine_;
  ojson current_;
  ojson classes_ = ojson::array();
};

class MarkovianExplainer : public FilterExplainer {
 public:
  const char* FilterName() const override { return nsImModules::kMarkovianFilterName; }

  bool SetUp(const ExplainSetup& setup, std::string* error) override {
    const std::string path = setup.data_dir + "/" + nsImModules::kMarkovianDataFile;
    if (engine_.LoadModel(path.c_str()) != 0) {
      *error = "cannot load " + path;
      return false;
    }
    return true;
  }

  // The filter classifies the first text over every class.
  ojson Explain(const ExplainInput& input) override {
    nsMarkovian::MarkovianResults results;
    nsMarkovian::MarkovianParams params;
    params.factor = ascommon::AgeFactor(input.age);
    params.allClasses = 1;
    MarkovianRecord record(engine_);
    if (engine_.ClassifyText(input.text, &results, &params, &record) != 0) return {{"failed", true}};
    return {{"age", kAgeWords[input.age]}, {"factor", params.factor}, {"classes", record.classes()}};
  }

  void Print(const ojson& explanation, std::string* out) const override {
    if (explanation.value("failed", false)) {
      *out += "    the message could not be classified\n";
      return;
    }
    const std::string scale = " x " + Number(explanation["factor"].get<double>()) + ", " +
                              explanation["age"].get<std::string>() + ")";
    bool shown = false;
    for (const ojson& c : explanation["classes"]) {
      const bool fired = c["fired"].get<bool>();
      if (c["sequences"].empty() && !fired) continue;
      std::string sum;
      for (const ojson& s : c["sequences"]) {
        sum += (sum.empty() ? "\"" : " + \"") + s["words"].get<std::string>() + "\" " +
               std::to_string(s["value"].get<int32_t>());
      }
      *out += "    " + c["class"].get<std::string>() + ": " + (sum.empty() ? "no sequences" : sum) +
              " = " + Number(c["score"].get<double>()) + (fired ? " >= " : " < ") +
              Number(c["needed"].get<double>()) + " (threshold " +
              std::to_string(c["threshold"].get<int32_t>()) + scale + ": " +
              (fired ? "fired" : c["threshold"].get<int32_t>() > 0 ? "not fired" : "never fires") + "\n";
      shown = true;
    }
    if (!shown) *out += "    no listed sequences\n";
  }

 private:
  CIMMarkovianEngine engine_;
};

}  // namespace

std::unique_ptr<FilterExplainer> NewMarkovianExplainer() { return std::make_unique<MarkovianExplainer>(); }

}  // namespace tervo_cli
