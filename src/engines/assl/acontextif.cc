#include "src/engines/assl/acontextif.h"

#include "src/exceptions/asexception.h"

namespace nsAssl {

namespace {

bool Copy(int32_t* to, int32_t from) {
  *to = from;
  return true;
}
bool Copy(sstring* to, const sstring& from) { return to->assign(from) == 0; }

// The value of `name`, or null after logging the miss (at `line`).
template <class V>
const V* Fetch(const VariableList<V>& list, const sstring& name, int line) {
  const V* present = list.Find(name);
  if (present == nullptr) AS_LOG(3, line, "variable with given name does not exist");
  return present;
}

}  // namespace

template <class V>
bool VariableList<V>::Store(const sstring& name, const V& value) {
  if (V* present = Find(name)) return Copy(present, value);
  if (count_ == slots_.size()) {
    try {
      slots_.emplace_back();
    } catch (const std::exception&) {
      return false;
    }
  }
  Slot& slot = slots_[count_];
  if (slot.name.assign(name) != 0 || !Copy(&slot.value, value)) return false;
  ++count_;
  return true;
}

void ContextInterface::Reset() {
  fired_rules_.RemoveAll();
  int_variables_.Reset();
  string_variables_.Reset();
  initial_ = nullptr;
  state_count_ = 0;
  current_rule_ = nullptr;
}

int32_t ContextInterface::UseRuleStates(const ascommon::CArray<RuleStateInfo, 16>& initial) {
  const uint64_t count = initial.GetCount();
  state_count_ = 0;
  if (count > state_room_) {
    states_.reset(static_cast<RuleStateInfo*>(malloc(count * sizeof(RuleStateInfo))));
    state_room_ = states_ != nullptr ? count : 0;
    if (states_ == nullptr) return -1;
  }
  try {
    ready_.assign((count + 63) / 64, 0);
  } catch (const std::exception&) {
    return -1;
  }
  initial_ = &initial;
  state_count_ = count;
  return 0;
}

void ContextInterface::SetIntVariable(const sstring& name, int32_t value) {
  if (!int_variables_.Store(name, value)) AS_RAISE(ASException, 58, "memory problems");
}

void ContextInterface::SetStringVariable(const sstring& name, const sstring& value) {
  if (!string_variables_.Store(name, value)) AS_RAISE(ASException, 99, "memory problems");
}

int32_t ContextInterface::GetIntVariable(const sstring& name, int32_t* value) const {
  const int32_t* present = Fetch(int_variables_, name, 85);
  if (present == nullptr) return -1;
  *value = *present;
  return 0;
}

int32_t ContextInterface::GetStringVariable(const sstring& name, sstring* value) const {
  const sstring* present = StringVariable(name);
  if (present == nullptr) return -1;
  *value = *present;
  return 0;
}

const sstring* ContextInterface::StringVariable(const sstring& name) const {
  return Fetch(string_variables_, name, 126);
}

}  // namespace nsAssl
