#include "src/engines/assl/acontextif.h"

#include "src/exceptions/asexception.h"

namespace nsAssl {

namespace {

// Inserts or replaces; false when the memory cannot be had.
template <class V>
bool Store(ascommon::CMap<sstring, V>* map, const sstring& name, const V& value) {
  if (V* present = map->Lookup(name)) {
    *present = value;
    return true;
  }
  return map->Insert(name, value) == 0;
}

// Copies the value out and answers 0, or logs the miss (at `line`) and
// answers -1.
template <class V>
int32_t Fetch(const ascommon::CMap<sstring, V>& map, const sstring& name, V* value, int line) {
  const V* present = map.Lookup(name);
  if (present == nullptr) {
    AS_LOG(3, line, "variable with given name does not exist");
    return -1;
  }
  *value = *present;
  return 0;
}

}  // namespace

int32_t ContextInterface::UseRuleStates(const ascommon::CArray<RuleStateInfo, 16>& initial) {
  const uint64_t count = initial.GetCount();
  states_.reset(count != 0 ? static_cast<RuleStateInfo*>(malloc(count * sizeof(RuleStateInfo))) : nullptr);
  if (count != 0 && states_ == nullptr) {
    state_count_ = 0;
    return -1;
  }
  try {
    ready_.assign((count + 63) / 64, 0);
  } catch (const std::exception&) {
    states_.reset();
    state_count_ = 0;
    return -1;
  }
  initial_ = &initial;
  state_count_ = count;
  return 0;
}

void ContextInterface::SetIntVariable(const sstring& name, int32_t value) {
  if (!Store(&int_variables_, name, value)) AS_RAISE(ASException, 58, "memory problems");
}

void ContextInterface::SetStringVariable(const sstring& name, const sstring& value) {
  if (!Store(&string_variables_, name, value)) AS_RAISE(ASException, 99, "memory problems");
}

int32_t ContextInterface::GetIntVariable(const sstring& name, int32_t* value) const {
  return Fetch(int_variables_, name, value, 85);
}

int32_t ContextInterface::GetStringVariable(const sstring& name, sstring* value) const {
  return Fetch(string_variables_, name, value, 126);
}

}  // namespace nsAssl
