// The rule language: parsing and building a generated set of 10,000 rules
// (nine simple rules of the usual kinds to each meta-rule over three of
// them) into the engine's rule table, as the engine loads a signature set.
// Parsing alone (recording the items into a sink that drops them) shows what
// the build adds. items_per_second is rules per second.
#include <benchmark/benchmark.h>

#include <string>

#include "src/engines/assl/parser/parser_state.h"
#include "src/engines/assl/rule_table.h"

namespace {

constexpr int kRules = 10000;

const std::string& RuleText() {
  static const std::string text = [] {
    static const char* kConditions[] = {
        "match(\"\\b(free|win)\\s*(money|prize)%d\\b\", IM::Text, REGEX_INSENSITIVE)",
        "match(\"word%d\", IM::Text, EXACT_INSENSITIVE)",
        "match(\"(phrase matching)?meet me %d\", Parts::Text, EXACT)",
        "exists(Headers::\"X-Rule-%d\")",
        "score_greater_than(total, %d)",
    };
    std::string out = "/* generated */\n";
    char line[512];
    for (int i = 0; i < kRules; ++i) {
      if (i % 10 == 9) {
        snprintf(line, sizeof line,
                 "metarule m%d {\n  condition: r%d || r%d && !r%d;\n  actions: mark(\"grooming\", %d);\n"
                 "  metadata: priority = %d; comment = \"meta %d\";\n}\n",
                 i, i - 1, i - 2, i - 3, i % 100, i % 50, i);
      } else {
        char condition[256];
        snprintf(condition, sizeof condition, kConditions[i % 5], i);
        snprintf(line, sizeof line,
                 "rule r%d {\n  condition: %s;\n  actions: increase_score(total, %d);\n"
                 "  metadata: relevance = %d; enabled = true;\n}\n",
                 i, condition, i % 7, i % 3);
      }
      out += line;
    }
    return out;
  }();
  return text;
}

class DropSink : public nsAssl::RuleSink {
 public:
  uint64_t RuleCount() const override { return count_; }
  bool AddRule(ascommon::UniquePtr<nsAssl::RecordedRule>) override { return ++count_ > 0; }
  bool AddName(const ascommon::String&, uint64_t) override { return true; }

 private:
  uint64_t count_ = 0;
};

template <class Sink>
void ParseRules(benchmark::State& state) {
  const std::string& text = RuleText();
  for (auto _ : state) {
    Sink sink;
    nsAssl::ParserState parser(&sink);
    parser.SetInputString(text.data(), text.size(), "bench.slf");
    if (parser.Parse() != nsAssl::kParseAccepted || sink.RuleCount() != kRules) {
      state.SkipWithError("the generated rules did not all load");
      return;
    }
  }
  state.SetItemsProcessed(state.iterations() * kRules);
  state.SetBytesProcessed(state.iterations() * text.size());
}

void BM_ParseOnly(benchmark::State& state) { ParseRules<DropSink>(state); }
void BM_ParseAndBuild(benchmark::State& state) { ParseRules<nsAssl::RuleTable>(state); }

BENCHMARK(BM_ParseOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseAndBuild)->Unit(benchmark::kMillisecond);

}  // namespace
