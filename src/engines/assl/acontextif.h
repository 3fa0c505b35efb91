// The context through which rules read one item and keep that item's rule-run
// state: the fired rules, the variables actions set, the per-rule records and
// the rule executing now. The IM kind (imcontextif.h) presents a message's
// two texts; mail and HTTP kinds come later.
//
// A context belongs to one item and is used by the one thread processing it.
#ifndef TERVO_SRC_ENGINES_ASSL_ACONTEXTIF_H_
#define TERVO_SRC_ENGINES_ASSL_ACONTEXTIF_H_

#include <stdint.h>
#include <stdlib.h>

#include <memory>
#include <type_traits>

#include "common/asalloc.h"
#include "common/item.h"
#include "common/sstring.h"
#include "src/common/array.h"

namespace nsAssl {

using ascommon::sstring;
class CRule;

// One rule's record in a context (CRule::StateInfo): the rule (null for a
// free slot), its index, and what running it on this item has done so far.
struct RuleStateInfo {
  CRule* rule = nullptr;
  uint64_t index = 0;
  uint8_t executing = 0;
  uint8_t overridden = 0;  // the result was given, not evaluated
  uint8_t evaluated = 0;
  float result = 0.0f;
  uint8_t action_done[3] = {};
};

// Copied into raw room by ContextInterface::State.
static_assert(std::is_trivially_copyable_v<RuleStateInfo>);

// The variables of one kind that actions set on an item: a few names each,
// so a list searched from the front. Reset keeps the slots (and their names'
// room) for the next item.
template <class V>
class VariableList {
 public:
  V* Find(const sstring& name) {
    for (size_t i = 0; i < count_; ++i) {
      if (slots_[i].name == name) return &slots_[i].value;
    }
    return nullptr;
  }
  const V* Find(const sstring& name) const { return const_cast<VariableList*>(this)->Find(name); }
  // Inserts the name or replaces its value; false when memory runs out.
  bool Store(const sstring& name, const V& value);
  void Reset() { count_ = 0; }

 private:
  struct Slot {
    sstring name;
    V value;
  };
  ascommon::Vector<Slot> slots_;  // the first count_ are in use
  size_t count_ = 0;
};

class ContextInterface {
 public:
  // GetKind answers.
  enum Kind : int32_t { kHttpContext = 1, kMailContext = 2, kImContext = 3 };

  ContextInterface() = default;
  virtual ~ContextInterface() = default;
  ContextInterface(const ContextInterface&) = delete;
  ContextInterface& operator=(const ContextInterface&) = delete;

  // Takes from the item what the kind presents.
  virtual void SetItem(ascommon::SItem* item) = 0;
  // Forgets the item and everything its rules left (fired rules, variables,
  // records, the current rule), keeping the memory for the next item.
  virtual void Reset();
  virtual int32_t GetKind() const = 0;

  // Variables: setting inserts the name or replaces its value (ASException
  // "memory problems" when the memory cannot be had); getting copies the
  // value out and answers 0, or logs "variable with given name does not
  // exist" at level 3 and answers -1.
  void SetIntVariable(const sstring& name, int32_t value);
  void SetStringVariable(const sstring& name, const sstring& value);
  int32_t GetIntVariable(const sstring& name, int32_t* value) const;
  int32_t GetStringVariable(const sstring& name, sstring* value) const;
  // The string variable in place (valid until the next change of the
  // context's variables), or null with GetStringVariable's log line.
  const sstring* StringVariable(const sstring& name) const;

  ascommon::CArray<uint64_t, 16>& fired_rules() { return fired_rules_; }

  // The per-rule records start as the rule set's `initial` ones (which
  // must outlive this use): each is copied in on its first use, so an item
  // pays only for the rules it runs. The room is kept from item to item.
  // -1 when memory runs out.
  int32_t UseRuleStates(const ascommon::CArray<RuleStateInfo, 16>& initial);
  // The record of rule `index` on this item; null past the end.
  RuleStateInfo* State(uint64_t index) {
    if (index >= state_count_) return nullptr;
    uint64_t& word = ready_[index / 64];
    const uint64_t bit = uint64_t{1} << (index % 64);
    if ((word & bit) == 0) {
      states_.get()[index] = (*initial_)[index];
      word |= bit;
    }
    return &states_.get()[index];
  }
  // Whether rule `index` has a record on this item that State has not yet
  // copied in: the rule has not run on it, nor been given a result.
  bool StateUntouched(uint64_t index) const {
    return index < state_count_ && (ready_[index / 64] >> (index % 64) & 1) == 0;
  }
  uint64_t state_count() const { return state_count_; }
  CRule* current_rule() const { return current_rule_; }
  void set_current_rule(CRule* rule) { current_rule_ = rule; }

 private:
  ascommon::CArray<uint64_t, 16> fired_rules_;
  VariableList<int32_t> int_variables_;
  VariableList<sstring> string_variables_;
  const ascommon::CArray<RuleStateInfo, 16>* initial_ = nullptr;
  uint64_t state_count_ = 0;
  uint64_t state_room_ = 0;
  // Room for state_room_ records, the first state_count_ valid once their
  // ready_ bit is set.
  std::unique_ptr<RuleStateInfo, void (*)(RuleStateInfo*)> states_{nullptr, [](RuleStateInfo* p) { free(p); }};
  ascommon::Vector<uint64_t> ready_;
  CRule* current_rule_ = nullptr;
};

}  // namespace nsAssl

#endif  // TERVO_SRC_ENGINES_ASSL_ACONTEXTIF_H_
