#include "src/engines/assl/rule_table.h"

#include "src/exceptions/asexception.h"

namespace nsAssl {

RuleTable::~RuleTable() {
  for (uint64_t i = 0; i < rules_.GetCount(); ++i) ascommon::Delete(rules_[i]);
}

bool RuleTable::AddRule(ascommon::UniquePtr<RecordedRule> recorded) {
  CRule* rule = CRule::Build(recorded.get(), listener_);
  if (rule == nullptr) return false;
  rule->set_index(rules_.GetCount());
  if (rules_.Add(rule) != 0) {
    ascommon::Delete(rule);
    AS_RAISE(ASException, __LINE__, "allocation error while adding to rules array");
  }
  return true;
}

bool RuleTable::AddName(const ascommon::String& name, uint64_t index) {
  try {
    return names_.emplace(name, index).second;
  } catch (const std::bad_alloc&) {
    AS_RAISE(ASException, __LINE__, "allocation error while adding to rule index map");
  }
}

bool RuleTable::IndexOf(const ascommon::String& name, uint64_t* index) const {
  auto it = names_.find(name);
  if (it == names_.end()) return false;
  *index = it->second;
  return true;
}

}  // namespace nsAssl
