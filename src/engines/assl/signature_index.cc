#include "src/engines/assl/signature_index.h"

#include <algorithm>

#include "common/asalloc.h"
#include "src/trace/trace.h"

namespace nsAssl {

void SignatureIndex::Clear() {
  for (CRule::ApmRuleInfo* record : apm_rules_) ascommon::Delete(record);
  for (CRule::SignatureInfo* record : signatures_) ascommon::Delete(record);
  apm_rules_.SetSize(0, false);
  signatures_.SetSize(0, false);
  states_.SetSize(0, false);
}

int32_t SignatureIndex::Rebuild(const RuleTable& table) {
  Clear();
  const uint64_t count = table.RuleCount();
  uint64_t signatures = 0, apm_rules = 0;
  for (uint64_t i = 0; i < count; ++i) {
    const CRule* rule = table.Rule(i);
    signatures += rule != nullptr && rule->is_signature();
    apm_rules += rule != nullptr && rule->is_apm_rule();
  }
  bool ok = (count == 0 || states_.SetSize(count, false) == 0) &&
            (signatures == 0 || signatures_.SetSize(signatures, false) == 0) &&
            (apm_rules == 0 || apm_rules_.SetSize(apm_rules, false) == 0);
  for (uint64_t i = 0; ok && i < count; ++i) {
    CRule* rule = table.Rule(i);
    RuleStateInfo state;
    state.rule = rule;
    state.index = i;
    if (rule != nullptr && rule->is_apm_rule()) {
      auto* record = ascommon::NewNoThrow<CRule::ApmRuleInfo>(
          CRule::ApmRuleInfo{i, rule->MetainfoInt(kMetaRelevance)});
      rule->set_position(static_cast<int32_t>(apm_rules_.GetCount()));
      ok = record != nullptr && apm_rules_.Add(record) == 0;
      if (!ok) ascommon::Delete(record);
    }
    if (ok && rule != nullptr && rule->is_signature()) {
      auto* record = ascommon::NewNoThrow<CRule::SignatureInfo>(
          CRule::SignatureInfo{i, rule->MetainfoInt(kMetaPriority)});
      rule->set_position(static_cast<int32_t>(signatures_.GetCount()));
      ok = record != nullptr && signatures_.Add(record) == 0;
      if (!ok) ascommon::Delete(record);
    }
    ok = ok && states_.Add(state) == 0;
  }
  if (!ok) {
    AS_LOG(0, __LINE__, "allocation error while adding to state info array");
    Clear();
    return -1;
  }
  std::stable_sort(signatures_.begin(), signatures_.end(),
                   [](const CRule::SignatureInfo* a, const CRule::SignatureInfo* b) {
                     return a->priority != b->priority ? a->priority > b->priority : a->index > b->index;
                   });
  return 0;
}

}  // namespace nsAssl
