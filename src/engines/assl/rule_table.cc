#include "src/engines/assl/rule_table.h"

#include "src/exceptions/asexception.h"

namespace nsAssl {

RuleTable::~RuleTable() { Clear(); }

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

void RuleTable::Clear() {
  for (uint64_t i = 0; i < rules_.GetCount(); ++i) ascommon::Delete(rules_[i]);
  rules_.SetSize(0, false);
  names_.clear();
}

bool RuleTable::Reserve(uint64_t count) {
  return count <= rules_.GetCount() || rules_.SetSize(count, false) == 0;
}

void RuleTable::Drop(uint64_t index) {
  CRule* rule = Take(index);
  if (rule == nullptr) return;
  auto it = names_.find(ascommon::String(rule->name().c_str()));
  if (it != names_.end() && it->second == index) names_.erase(it);
  ascommon::Delete(rule);
}

CRule* RuleTable::Take(uint64_t index) {
  CRule* rule = rules_[index];
  rules_[index] = nullptr;
  return rule;
}

void RuleTable::Put(uint64_t index, CRule* rule) {
  ascommon::UniquePtr<CRule> owned(rule);
  if (index == rules_.GetCount() && rules_.Add(nullptr) != 0) {
    AS_RAISE(ASException, __LINE__, "allocation error while adding to rules array");
  }
  try {
    names_[ascommon::String(rule->name().c_str())] = index;
  } catch (const std::bad_alloc&) {
    AS_RAISE(ASException, __LINE__, "allocation error while adding to rule index map");
  }
  ascommon::Delete(rules_[index]);
  rule->set_index(index);
  rules_[index] = owned.release();
}

}  // namespace nsAssl
