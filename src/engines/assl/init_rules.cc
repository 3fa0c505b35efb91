// Initialising the rules of a set and indexing the ones that survive.
#include "src/engines/assl/asslengine.h"
#include "src/engines/assl/rules/items.h"
#include "src/exceptions/asexception.h"
#include "src/trace/trace.h"

namespace nsAssl {

int32_t CASSLEngine::InitRules(Engines* engines) {
  index_.Clear();
  const uint64_t slots = rules_.RuleCount();
  uint64_t failed = 0;
  for (uint64_t i = 0; i < slots; ++i) {
    CRule* rule = rules_.Rule(i);
    if (rule == nullptr) continue;
    try {
      rule->Init(engines);
    } catch (const ASException&) {
      AS_LOG(0, __LINE__, "rule %s failed to initialize", rule->name().c_str());
    }
    // A rule may also have failed earlier, initialised through an expression.
    if (!rule->is_initialized()) {
      ++failed;
      rules_.Drop(i);
    }
  }
  if (Reindex(engines) != 0) return -1;
  AS_LOG(0, __LINE__, "[ASSL] %d RULES      initialized", static_cast<int>(slots - failed));
  AS_LOG(0, __LINE__, "[ASSL] %d SIGNATURES initialized",
         static_cast<int>(index_.signatures().GetCount()));
  AS_LOG(0, __LINE__, "[ASSL] %d APM RULES  initialized", static_cast<int>(index_.apm_rules().GetCount()));
  AS_LOG(0, __LINE__, "[ASSL] %d FAILED rules", static_cast<int>(failed));
  AS_LOG(0, __LINE__, "the initialization process finished successfully");
  return 0;
}

int32_t CASSLEngine::Reindex(Engines* engines) {
  plan_.Clear();
  if (index_.Rebuild(rules_) != 0) return -1;
  // Every rule's match is offered anew: the old sets are gone.
  prefilter_.Begin(engines != nullptr ? engines->regex : nullptr);
  for (uint64_t i = 0; i < rules_.RuleCount(); ++i) {
    CRule* rule = rules_.Rule(i);
    auto* match = rule != nullptr ? dynamic_cast<MatchCondition*>(rule->mutable_condition()) : nullptr;
    if (match != nullptr) prefilter_.Add(match);
  }
  prefilter_.Compile();
  plan_.Build(index_.signatures(), rules_, prefilter_);
  return 0;
}

}  // namespace nsAssl
