// Rules initialised and run on IM contexts, over a stand-in rule engine.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "src/engines/assl/imcontextif.h"
#include "src/engines/assl/rule_table.h"
#include "src/engines/codeheur/codeheur.h"
#include "src/exceptions/asexception.h"
#include "tests/support/test_support.h"

namespace {

using namespace nsAssl;

// The rule table with the engine's face for expressions; rules are
// initialised in index order, as the engine does, and a failure leaves the
// rule uninitialised.
class StandInEngine : public RuleRunner {
 public:
  explicit StandInEngine(const std::string& text) {
    engines_.assl = this;
    EXPECT_EQ(engines_.LoadRegexLibrary(tervo_test::ProgramFolder().c_str()), 0);
    ParserState state(&table_);
    state.SetInputString(text.data(), text.size(), "t.slf");
    EXPECT_EQ(state.Parse(), 0);
    for (uint64_t i = 0; i < table_.RuleCount(); ++i) InitRule(i, &engines_);
  }
  ~StandInEngine() override { engines_.assl = nullptr; }  // not the engines' to delete

  int32_t GetRuleIndex(const sstring& name, uint64_t* index) override {
    return table_.IndexOf(ascommon::String(name.c_str()), index) ? 0 : -1;
  }
  int32_t InitRule(uint64_t index, Engines* engines) override {
    try {
      table_.Rule(index)->Init(engines);
      return 0;
    } catch (const ASException&) {
      return -1;
    }
  }
  int32_t ExecRule(uint64_t index, Engines* engines, ContextInterface* context, float* result) override {
    try {
      *result = table_.Rule(index)->Exec(engines, context);
      return 0;
    } catch (const ASException&) {
      return -1;
    }
  }

  // A context for one message, with a record for every rule.
  struct Item {
    ascommon::CBlackBox io;
    ascommon::SItem item;
    CImContextInterface context;
  };
  std::unique_ptr<Item> NewItem(const char* text, const char* second) {
    auto item = std::make_unique<Item>();
    item->item.io = &item->io;
    if (text != nullptr) item->item.input.SetText(ascommon::IM_TEXT_KEY, text);
    if (second != nullptr) item->item.input.SetText(ascommon::IM_AUX_TEXT_KEY, second);
    item->context.SetItem(&item->item);
    if (states_.GetCount() == 0) {
      for (uint64_t i = 0; i < table_.RuleCount(); ++i) {
        RuleStateInfo record;
        record.rule = table_.Rule(i);
        record.index = i;
        states_.Add(record);
      }
    }
    EXPECT_EQ(item->context.UseRuleStates(states_), 0);
    return item;
  }
  CRule* Named(const char* name) {
    uint64_t index = 0;
    EXPECT_TRUE(table_.IndexOf(ascommon::String(name), &index)) << name;
    return table_.Rule(index);
  }
  float Run(const char* name, Item* item) { return Named(name)->Exec(&engines_, &item->context); }
  Engines* engines() { return &engines_; }

 private:
  // Declared first: the rules free their patterns through the library.
  Engines engines_;
  RuleTable table_;
  ascommon::CArray<RuleStateInfo, 16> states_;  // the items' initial records
};

std::string Var(ContextInterface* context, const char* name) {
  sstring text;
  int32_t number = 0;
  if (context->GetStringVariable(sstring(name), &text) == 0) return text.c_str();
  if (context->GetIntVariable(sstring(name), &number) == 0) return std::to_string(number);
  return "-";
}

std::vector<std::string> Fired(StandInEngine::Item* item) {
  std::vector<std::string> names;
  auto& fired = item->context.fired_rules();
  for (uint64_t i = 0; i < fired.GetCount(); ++i) {
    names.push_back(item->context.State(fired[i])->rule->name().c_str());
  }
  return names;
}

const char kRules[] =
    "rule a { condition: match(\"secret\", IM::Text, REGEX); actions: mark(\"a\", 1); metadata: none; }\n"
    "rule b { condition: match(\"alone\", IM::Text, REGEX_INSENSITIVE); actions: mark(\"b\", 2); "
    "  metadata: none; }\n"
    "rule n { condition: match(\"secret\", Parts::Text, EXACT); actions: mark(\"n\", 3); metadata: none; }\n"
    "metarule or { condition: a || b; actions: none; metadata: none; }\n"
    "metarule all_or { condition: a ||| b; actions: none; metadata: none; }\n"
    "metarule and { condition: n && b; actions: none; metadata: none; }\n"
    "metarule all_and { condition: n &&& b; actions: none; metadata: none; }\n"
    "metarule eq { condition: a == b; actions: none; metadata: none; }\n"
    "metarule ne { condition: a != n; actions: none; metadata: none; }\n"
    "metarule not { condition: !n; actions: mark(cat, 70); metadata: none; }\n";

TEST(AsslExec, OperatorsEvaluateTheirSidesInOrder) {
  StandInEngine engine(kRules);
  const struct {
    const char* rule;
    float result;
    std::vector<std::string> fired;
    std::string category, score;
  } cases[] = {
      {"or", 1, {"a", "or"}, "a", "1"},              // b is not run
      {"all_or", 1, {"a", "b", "all_or"}, "b", "2"},  // both run; b's mark comes last
      {"and", 0, {}, "-", "-"},                       // n answers 0 on IM: b is not run
      {"all_and", 0, {"b"}, "b", "2"},
      {"eq", 1, {"a", "b", "eq"}, "b", "2"},
      {"ne", 1, {"a", "ne"}, "a", "1"},
      {"not", 1, {"not"}, "-", "70"},                 // a named category sets only SCORE
  };
  for (const auto& c : cases) {
    auto item = engine.NewItem("our secret", "are you alone");
    EXPECT_EQ(engine.Run(c.rule, item.get()), c.result) << c.rule;
    EXPECT_EQ(Fired(item.get()), c.fired) << c.rule;
    EXPECT_EQ(Var(&item->context, "CATEGORY"), c.category) << c.rule;
    EXPECT_EQ(Var(&item->context, "SCORE"), c.score) << c.rule;
  }
  // An IM match needs both texts, and says so before it looks at its place.
  auto one_text = engine.NewItem("our secret", nullptr);
  tervo_test::CapturingTrace trace;
  EXPECT_THROW(engine.Run("a", one_text.get()), ASException);
  EXPECT_THROW(engine.Run("n", one_text.get()), ASException);
  EXPECT_EQ(trace.texts().back(), "ASException - MESSAGE: invalid content IM ");
}

TEST(AsslExec, RunsOncePerItemAndRetriesFailedActions) {
  StandInEngine engine(
      "rule r { condition: none; actions: exec(f); mark(\"x\", 5); metadata: none; }\n"
      "rule off { condition: none; actions: mark(\"y\", 1); metadata: enabled = false; }\n"
      "rule s { condition: score_greater_than(total, 5); actions: none; metadata: none; }\n"
      "rule h { condition: exec(H_LONG_SIZE); actions: exec(H_MAIL_SIZE); metadata: none; }\n"
      "rule u { condition: none; actions: exec(H_NO_SUCH); mark(\"u\", 9); metadata: none; }\n");
  auto item = engine.NewItem("t", "t");
  tervo_test::CapturingTrace trace;
  EXPECT_THROW(engine.Run("r", item.get()), ASException);  // exec has no code heuristics engine
  EXPECT_EQ(Var(&item->context, "SCORE"), "5");            // the other action ran
  item->context.SetIntVariable(sstring("SCORE"), 0);
  EXPECT_THROW(engine.Run("r", item.get()), ASException);  // only the failed action again
  EXPECT_EQ(Var(&item->context, "SCORE"), "0");
  EXPECT_EQ(Fired(item.get()), std::vector<std::string>{"r"});
  EXPECT_EQ(engine.Run("off", item.get()), 0.0f);
  EXPECT_EQ(trace.texts().back(), "rule state for off is disabled - returning zero");

  EXPECT_EQ(engine.Run("s", item.get()), 0.0f);  // no such variable yet
  auto other = engine.NewItem("t", "t");
  other->context.SetIntVariable(sstring("total"), 5);
  EXPECT_EQ(engine.Run("s", other.get()), 1.0f);
  EXPECT_EQ(engine.Named("r")->ExecWithResult(0.0f, engine.engines(), &other->context), 0.0f);
  EXPECT_EQ(Var(&other->context, "SCORE"), "-");

  // With a code heuristics engine exec runs the heuristic it names.
  nsCodeHeur::CCodeHeurEngine heuristics;
  // Detached before the engines go: the engine is not theirs to delete.
  struct Detach { Engines* e; ~Detach() { e->code_heur = nullptr; } } detach{engine.engines()};
  engine.engines()->code_heur = &heuristics;
  EXPECT_EQ(engine.Run("h", other.get()), 0.0f);  // no heuristic scores an IM message
  EXPECT_EQ(engine.Named("h")->ExecWithResult(1.0f, engine.engines(), &other->context), 1.0f);
  EXPECT_THROW(engine.Run("u", other.get()), ASException);
  EXPECT_EQ(trace.texts().end()[-3], "ASException - MESSAGE: A heuristic function is called from "
                                     "the script but has no definition!");
  EXPECT_EQ(Var(&other->context, "SCORE"), "9");  // the other action ran
}

TEST(AsslExec, InitialisationFailuresLeaveTheRuleUnusable) {
  std::string deep = "a";
  for (int i = 0; i < 100; ++i) deep = "!(" + deep + ")";
  tervo_test::CapturingTrace trace;
  StandInEngine engine(
      "metarule x { condition: y; actions: none; metadata: none; }\n"
      "metarule y { condition: x; actions: none; metadata: none; }\n"
      "rule bad { condition: match(\"[\", IM::Text, REGEX); actions: none; metadata: none; }\n"
      "metarule ghost { condition: nobody; actions: none; metadata: none; }\n"
      "rule a { condition: none; actions: none; metadata: none; }\n"
      "metarule deep { condition: " + deep + "; actions: none; metadata: none; }\n");
  const auto texts = trace.texts();
  auto has = [&texts](const std::string& line) {
    return std::find(texts.begin(), texts.end(), line) != texts.end();
  };
  EXPECT_TRUE(has("ASException - MESSAGE: Cyclic initialization of rule x"));
  EXPECT_TRUE(has("ASException - MESSAGE: FastPCRE:could not initialize regex from string [[]"));
  EXPECT_TRUE(has("[init] error: no index for rule nobody. Are you sure it is defined?"));
  for (const char* name : {"x", "y", "bad", "ghost"}) {
    EXPECT_FALSE(engine.Named(name)->is_initialized()) << name;
  }
  auto item = engine.NewItem("t", "t");
  EXPECT_EQ(engine.Run("x", item.get()), 0.0f);
  EXPECT_THROW(engine.Run("deep", item.get()), ASException);
  EXPECT_EQ(trace.texts().back(), "ASException - MESSAGE: reached the maximum expression depth");
}

TEST(AsslExec, GivenResultsCfRulesAndCycledExecution) {
  tervo_test::CapturingTrace trace;
  StandInEngine engine(
      "rule cf { condition: match(\"(CF-RULE)?x\", IM::Text, REGEX); actions: mark(\"a\", 1);"
      "  metadata: none; }\n"
      "rule later { condition: none; actions: mark(\"b\", 2); metadata: none; }\n");
  auto item = engine.NewItem("nothing", "nothing");
  EXPECT_EQ(engine.Named("cf")->ExecWithResult(1.0f, engine.engines(), &item->context), 1.0f);
  EXPECT_EQ(Var(&item->context, "CATEGORY"), "a");
  EXPECT_EQ(engine.Run("cf", item.get()), 1.0f);  // evaluated, but the given result stands
  EXPECT_EQ(Fired(item.get()), std::vector<std::string>{"cf"});
  EXPECT_EQ(engine.Run("later", item.get()), 1.0f);  // a later mark replaces both variables
  EXPECT_EQ(Var(&item->context, "CATEGORY") + Var(&item->context, "SCORE"), "b2");
  item->context.State(1)->executing = 1;
  EXPECT_THROW(engine.Run("later", item.get()), ASException);
  const auto texts = trace.texts();
  for (const char* line : {"CF MATCH: (CF-RULE)?x", "the condition evaluation was overriden to 1.000000",
                           "ASException - MESSAGE: cycled execution of rule later on the same context"}) {
    EXPECT_NE(std::find(texts.begin(), texts.end(), line), texts.end()) << line;
  }
}

// A plain evaluator of a rule set: a rule runs at most once per item, and one
// that fires records its name and marks its category and score.
struct Model {
  std::vector<std::function<float(Model&)>> conditions;
  std::string message;
  std::vector<int> done;  // -1 not run, else 0 or 1
  std::vector<std::string> fired;
  std::string category, score;

  float Exec(int i) {
    if (done[i] < 0 && (done[i] = conditions[i](*this) != 0) != 0) {
      fired.push_back("r" + std::to_string(i));
      category = "c" + std::to_string(i);
      score = std::to_string(i);
    }
    return static_cast<float>(done[i]);
  }
};

// Random rule sets and messages: running every signature through the rules
// agrees with the plain evaluator.
TEST(AsslExec, SignaturesAgreeWithAPlainEvaluator) {
  using Eval = std::function<float(Model&)>;
  struct Node {
    std::string text;
    Eval eval;
  };
  const char* const kWords[] = {"alpha", "bravo", "charlie", "delta"};
  tervo_test::CapturingTrace quiet;
  std::mt19937 rng(12345);
  const auto next = [&rng](size_t n) { return static_cast<int>(rng() % n); };
  for (int set = 0; set < 200; ++set) {
    Model model;
    std::vector<bool> signature;
    std::string text;
    const int count = 3 + next(10);
    for (int i = 0; i < count; ++i) {
      Node rule;
      if (i < 2 || next(3) == 0) {
        const std::string word = kWords[next(4)];
        const bool none = next(5) == 0;
        rule = {none ? "none" : "match(\"" + word + "\", IM::Text, REGEX)",
                [word, none](Model& m) -> float { return none || m.message.find(word) != std::string::npos; }};
      } else {
        // A random tree over earlier rules, built leaves first; the root is the last.
        std::vector<Node> nodes;
        for (int k = 1 + next(6); k > 0; --k) {
          if (nodes.empty() || next(3) == 0) {
            const int r = next(i);
            const bool value = next(2) == 0;
            if (next(4) == 0) {
              nodes.push_back({value ? "true" : "false", [value](Model&) -> float { return value; }});
            } else {
              nodes.push_back({"r" + std::to_string(r), [r](Model& m) { return m.Exec(r); }});
            }
            continue;
          }
          const int op = 1 + next(7);
          const Node& right = nodes[next(nodes.size())];
          const Eval a = nodes.back().eval, b = right.eval;
          const Eval eval = [op, a, b](Model& m) -> float {
            const float l = a(m);
            if (op == kOpNot) return l == 0;
            if ((op == kOpOr && l != 0) || (op == kOpAnd && l == 0)) return l;  // the right side is not run
            const float r = b(m);
            if (op == kOpEq || op == kOpNe) return ((l != 0) == (r != 0)) == (op == kOpEq);
            return (op == kOpAnd || op == kOpAllAnd) == (l == 0) ? l : r;
          };
          nodes.push_back({op == kOpNot ? "!(" + nodes.back().text + ")"
                                        : "(" + nodes.back().text + " " + OperatorText(op) + " " + right.text + ")",
                           eval});
        }
        rule = nodes.back();
      }
      model.conditions.push_back(rule.eval);
      signature.push_back(next(2) == 0);
      const std::string n = std::to_string(i);
      const bool simple = rule.text.rfind("match", 0) == 0 || rule.text == "none";
      text += (simple ? "rule r" : "metarule r") + n + " { condition: " + rule.text + "; actions: mark(\"c" +
              n + "\", " + n + "); metadata: " + (signature.back() ? "priority = 1;" : "none;") + " }\n";
    }
    StandInEngine engine(text);
    for (int m = 0; m < 4; ++m) {
      model.message.clear();
      for (const char* word : kWords) {
        if (next(2) == 0) model.message += std::string(word) + " ";
      }
      model.done.assign(count, -1);
      model.fired.clear();
      model.category = model.score = "-";
      auto item = engine.NewItem(model.message.c_str(), model.message.c_str());
      for (int i = 0; i < count; ++i) {
        if (!signature[i]) continue;
        ASSERT_EQ(engine.Run(("r" + std::to_string(i)).c_str(), item.get()), model.Exec(i)) << text;
      }
      EXPECT_EQ(Fired(item.get()), model.fired) << text << model.message;
      EXPECT_EQ(Var(&item->context, "CATEGORY") + " " + Var(&item->context, "SCORE"),
                model.category + " " + model.score) << text;
    }
  }
}

}  // namespace
