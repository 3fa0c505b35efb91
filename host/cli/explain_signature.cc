// The signature filter explained: every signature in the order the filter
// runs them, with its result, the verdict variables it left, and for each
// match condition that took part the pattern, the text searched and the span
// matched.
#include <string.h>

#include <new>
#include <set>
#include <vector>

#include "common/item.h"
#include "common/sstring.h"
#include "host/cli/explain.h"
#include "src/engines/assl/asslengine.h"
#include "src/engines/assl/imcontextif.h"
#include "src/engines/assl/parser/rule_printer.h"
#include "src/engines/codeheur/codeheur.h"
#include "tervo/tervo_names.h"

namespace tervo_cli {

namespace {

using namespace nsAssl;

const char* const kAgeWords[] = {"adult", "teen", "child"};

// The match of `rule`, or null when its condition is another kind.
const MatchCondition* MatchOf(const CRule* rule) {
  return rule == nullptr ? nullptr : dynamic_cast<const MatchCondition*>(rule->condition());
}

ojson MatchDetails(const CRule& rule, const MatchCondition& match, ContextInterface* context) {
  bool second = false;
  size_t begin = 0, end = 0;
  const bool found = match.FindOnIm(context, &second, &begin, &end);
  auto* im = static_cast<CImContextInterface*>(context);
  ojson out = {{"rule", rule.name().c_str()},
               {"pattern", match.what.c_str()},
               {"how", HowText(match.how)},
               {"text", second ? "second" : "first"}};
  if (found) {
    const char* subject = second ? im->GetSecondText() : im->GetText();
    out["span"] = {begin, end};
    out["matched"] = std::string(subject + begin, end - begin);
  } else {
    out["span"] = nullptr;
  }
  return out;
}

void AddLeaves(const expr_t* node, std::vector<uint64_t>* indices) {
  if (node == nullptr) return;
  if (node->leaf) {
    if (node->value_type == kValueIndex) indices->push_back(node->index);
    return;
  }
  AddLeaves(node->left, indices);
  AddLeaves(node->right, indices);
}

// The match details of `rule` when it is a match, else of the rules its
// expression names that fired, down through metarules; each rule once.
void AddMatches(const CASSLEngine& engine, const CRule* rule, ContextInterface* context,
                std::set<uint64_t>* seen, ojson* matches) {
  if (rule == nullptr || !seen->insert(rule->index()).second) return;
  if (const MatchCondition* match = MatchOf(rule)) {
    matches->push_back(MatchDetails(*rule, *match, context));
    return;
  }
  const auto* expr = dynamic_cast<const ExprCondition*>(rule->condition());
  if (expr == nullptr) return;
  std::vector<uint64_t> indices;
  AddLeaves(expr->root(), &indices);
  for (uint64_t index : indices) {
    const RuleStateInfo* state = context->State(index);
    if (state != nullptr && state->evaluated && state->result != 0.0f) {
      AddMatches(engine, state->rule, context, seen, matches);
    }
  }
}

class SignatureExplainer : public FilterExplainer {
 public:
  const char* FilterName() const override { return nsImModules::kSignFilterName; }

  bool SetUp(const ExplainSetup& setup, std::string* error) override {
    if (engines_.LoadRegexLibrary(setup.lib_dir.c_str()) != 0) {
      *error = "cannot load the regular-expression library from " + setup.lib_dir;
      return false;
    }
    if (engines_.SetupCodeHeur() != 0 || engines_.Init(setup.data_dir.c_str(), 4, 1) != 0) {
      *error = "no im*.slf rules in " + setup.data_dir;
      return false;
    }
    return true;
  }

  ojson Explain(const ExplainInput& input) override {
    const CASSLEngine* engine = engines_.AsslEngine();
    ascommon::CBlackBox io;
    ascommon::SItem item;
    item.io = &io;
    if (input.text != nullptr) item.input.SetText(ascommon::IM_TEXT_KEY, input.text);
    if (input.second != nullptr) item.input.SetText(ascommon::IM_AUX_TEXT_KEY, input.second);
    CImContextInterface context;
    context.SetItem(&item);
    if (context.UseRuleStates(engine->GetStateInfo()) != 0) throw std::bad_alloc();

    ojson signatures = ojson::array();
    const sstring kCategory("CATEGORY"), kScore("SCORE");
    for (const CRule::SignatureInfo* record : engine->GetSignatures()) {
      const CRule* rule = engine->rules().Rule(record->index);
      float result = 0.0f;
      const bool ran = engines_.assl->ExecRule(record->index, &engines_, &context, &result) == 0;
      ojson s = {{"signature", rule->name().c_str()}, {"priority", record->priority}};
      if (!ran) {
        s["failed"] = true;
      } else {
        s["result"] = result;
        s["fired"] = result != 0.0f;
      }
      sstring category;
      int32_t score = 0;
      if (context.GetStringVariable(kCategory, &category) == 0) s["CATEGORY"] = category.c_str();
      if (context.GetIntVariable(kScore, &score) == 0) s["SCORE"] = score;
      if (ran && result != 0.0f && category.length() != 0) {
        std::string lowered = category.c_str();
        for (char& c : lowered) c = ascommon::AsciiLower(c);
        s["marks"] = lowered.find(kAgeWords[input.age]) != std::string::npos;
      }
      // The signature's own match, or those of the rules its expression
      // names that fired on this item (whichever signature ran them first).
      ojson matches = ojson::array();
      std::set<uint64_t> seen;
      AddMatches(*engine, rule, &context, &seen, &matches);
      if (!matches.empty()) s["matches"] = matches;
      signatures.push_back(s);
    }
    return {{"signatures", signatures}};
  }

  void Print(const ojson& explanation, std::string* out) const override {
    size_t quiet = 0;
    for (const ojson& s : explanation["signatures"]) {
      if (!s.value("fired", false) && !s.value("failed", false)) {
        ++quiet;
        continue;
      }
      *out += "    " + s["signature"].get<std::string>() + " (priority " +
              std::to_string(s["priority"].get<int>()) + "): ";
      if (s.value("failed", false)) {
        *out += "failed to run\n";
        continue;
      }
      *out += "fired";
      if (s.contains("CATEGORY")) *out += ", CATEGORY \"" + s["CATEGORY"].get<std::string>() + "\"";
      if (s.contains("SCORE")) *out += ", SCORE " + std::to_string(s["SCORE"].get<int>());
      if (s.contains("marks")) *out += s["marks"].get<bool>() ? ": marks this age" : ": not for this age";
      *out += "\n";
      for (const ojson& m : s.value("matches", ojson::array())) {
        *out += "      " + m["rule"].get<std::string>() + ": " + m["how"].get<std::string>() + " \"" +
                m["pattern"].get<std::string>() + "\" on the " + m["text"].get<std::string>() + " text";
        if (m["span"].is_null()) {
          *out += ": no match\n";
        } else {
          *out += ": \"" + m["matched"].get<std::string>() + "\" at [" +
                  std::to_string(m["span"][0].get<size_t>()) + ", " +
                  std::to_string(m["span"][1].get<size_t>()) + ")\n";
        }
      }
    }
    const size_t total = explanation["signatures"].size();
    *out += "    " + (quiet == total ? "none of the " + std::to_string(total) + " signatures fired"
                                     : std::to_string(quiet) + " other signature" +
                                           (quiet == 1 ? "" : "s") + " gave 0") + "\n";
  }

 private:
  Engines engines_;
};

}  // namespace

std::unique_ptr<FilterExplainer> NewSignatureExplainer() { return std::make_unique<SignatureExplainer>(); }

}  // namespace tervo_cli
