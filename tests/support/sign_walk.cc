#include "tests/support/sign_walk.h"

#include <string.h>

#include <algorithm>

#include "common/asalloc.h"
#include "common/blackbox.h"
#include "common/item.h"
#include "common/sstring.h"
#include "src/engines/assl/asslengine.h"
#include "src/engines/assl/execunit.h"
#include "src/engines/assl/imcontextif.h"
#include "tests/support/test_support.h"

namespace tervo_test {

namespace {

// The filter's test of a lower-cased category against each age.
constexpr const char* kAgeWords[3] = {"child", "teen", "adult"};

// The string's text; "" for a null one.
std::string Text(const ascommon::sstring& text) {
  return text.c_str() != nullptr ? std::string(text.c_str(), text.length()) : std::string();
}

std::string Lowered(const ascommon::sstring& text) {
  std::string out = Text(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

}  // namespace

bool InitEngines(nsAssl::Engines* engines, const std::string& library_folder, const std::string& folder,
                 bool prefilter) {
  ScopedEnv env("TERVO_PREFILTER", prefilter ? nullptr : "0");
  return engines->LoadRegexLibrary(library_folder.c_str()) == 0 && engines->Init(folder.c_str(), 4, 1) == 0;
}

std::string LoweredText(const std::string& text) {
  ascommon::sstring lowered;
  if (lowered.assign(text.data(), text.size()) != 0 || lowered.UTF8_tolower(false) != 0) return text;
  return Text(lowered);
}

SignWalk RunSignWalk(nsAssl::Engines* engines, const std::string& text, const std::string& second,
                     bool use_plan, nsAssl::ExecUnit* reused) {
  SignWalk walk;
  nsAssl::CASSLEngine* engine = engines->AsslEngine();
  if (engine == nullptr) return walk;
  ascommon::CBlackBox io;
  ascommon::SItem item;
  item.io = &io;
  item.input.SetText(ascommon::IM_TEXT_KEY, text.c_str());
  item.input.SetText(ascommon::IM_AUX_TEXT_KEY, second.c_str());
  nsAssl::ExecUnit fresh;
  nsAssl::ExecUnit& unit = reused != nullptr ? *reused : fresh;
  if (unit.GetContext() == nullptr) unit.SetContext(ascommon::New<nsAssl::CImContextInterface>());
  nsAssl::ContextInterface* context = unit.GetContext();  // the unit deletes it
  context->Reset();
  unit.SetEngines(engines);
  context->SetItem(&item);
  if (context->UseRuleStates(engine->GetStateInfo()) != 0) return walk;

  const nsAssl::SignatureArray& signatures = engine->GetSignatures();
  walk.results.assign(signatures.GetCount(), 0.0f);
  ascommon::Vector<uint32_t> planned;
  walk.planned = use_plan && engine->plan().Candidates(context, &planned);
  const uint64_t count = walk.planned ? planned.size() : signatures.GetCount();
  const ascommon::sstring kCategory("CATEGORY"), kScore("SCORE");
  int32_t score = 0;  // carried from one hit to the next, as the filter does
  for (uint64_t k = 0; k < count; ++k) {
    const uint64_t i = walk.planned ? planned[k] : k;
    const nsAssl::CRule::SignatureInfo* record = signatures[i];
    float result = 0.0f;
    ++walk.ran;
    if (record == nullptr || unit.ExecSignature(record->index, &result) != 0) continue;
    walk.results[i] = result;
    if (result == 0.0f) continue;
    ascommon::sstring category;
    const bool has_category = unit.GetStringVariable(kCategory, &category) == 0;
    int32_t hit_score = 0;
    const bool has_score = unit.GetIntVariable(kScore, &hit_score) == 0;
    walk.hits.push_back(std::to_string(i) + " " + (has_category ? Text(category) : "-") + " " +
                        (has_score ? std::to_string(hit_score) : "-"));
    if (!has_category) continue;
    if (has_score) score = hit_score;
    const std::string lowered = Lowered(category);
    for (int age = 0; age < 3; ++age) {
      if (lowered.find(kAgeWords[age]) == std::string::npos) continue;
      walk.flag[age] = true;
      walk.score[age] = score;
    }
  }
  ascommon::sstring names;
  if (engine->GetFiredNames(engines, context, false, &names) == 0) walk.fired = Text(names);
  if (engine->GetFiredNames(engines, context, true, &names) == 0) walk.fired_with_actions = Text(names);
  return walk;
}

std::string WalkDifference(const SignWalk& a, const SignWalk& b) {
  if (a.results.size() != b.results.size()) {
    return "signature counts " + std::to_string(a.results.size()) + " and " + std::to_string(b.results.size());
  }
  for (size_t i = 0; i < a.results.size(); ++i) {
    if (a.results[i] != b.results[i]) {
      return "signature " + std::to_string(i) + " answers " + std::to_string(a.results[i]) + " and " +
             std::to_string(b.results[i]);
    }
  }
  if (a.fired != b.fired) return "fired [" + a.fired + "] and [" + b.fired + "]";
  if (a.fired_with_actions != b.fired_with_actions) {
    return "fired with actions [" + a.fired_with_actions + "] and [" + b.fired_with_actions + "]";
  }
  if (a.hits != b.hits) {
    const size_t n = std::min(a.hits.size(), b.hits.size());
    size_t i = 0;
    while (i < n && a.hits[i] == b.hits[i]) ++i;
    return "hit " + std::to_string(i) + ": [" + (i < a.hits.size() ? a.hits[i] : "none") + "] and [" +
           (i < b.hits.size() ? b.hits[i] : "none") + "]";
  }
  for (int age = 0; age < 3; ++age) {
    if (a.flag[age] != b.flag[age] || a.score[age] != b.score[age]) {
      return std::string("the verdict for ") + kAgeWords[age] + ": " + std::to_string(a.flag[age]) + "/" +
             std::to_string(a.score[age]) + " and " + std::to_string(b.flag[age]) + "/" +
             std::to_string(b.score[age]);
    }
  }
  return "";
}

}  // namespace tervo_test
