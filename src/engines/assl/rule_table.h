// The engine's rules: the rule array (a rule's index is its slot) and the
// name index, filled by the parser through the RuleSink interface.
//
// Written only while rules are loaded (under the signature filter's writer
// lock); read by any number of threads after that.
#ifndef TERVO_SRC_ENGINES_ASSL_RULE_TABLE_H_
#define TERVO_SRC_ENGINES_ASSL_RULE_TABLE_H_

#include <stdint.h>

#include "common/asalloc.h"
#include "src/common/array.h"
#include "src/engines/assl/parser/parser_state.h"
#include "src/engines/assl/rules/rule.h"

namespace nsAssl {

class RuleTable : public RuleSink {
 public:
  explicit RuleTable(ParseListener* listener = nullptr) : listener_(listener) {}
  ~RuleTable() override;
  RuleTable(const RuleTable&) = delete;
  RuleTable& operator=(const RuleTable&) = delete;

  // RuleSink: builds the rule and appends it (ASException "allocation error
  // while adding to rules array" when the array cannot grow); enters a name
  // (ASException "allocation error while adding to rule index map").
  uint64_t RuleCount() const override { return rules_.GetCount(); }
  bool AddRule(ascommon::UniquePtr<RecordedRule> rule) override;
  bool AddName(const ascommon::String& name, uint64_t index) override;

  // The rule in a slot (null for a free one); the index of a name, or false.
  CRule* Rule(uint64_t index) const { return rules_[index]; }
  bool IndexOf(const ascommon::String& name, uint64_t* index) const;

  // Deletes every rule and empties the array and the index.
  void Clear();
  // Room for `count` rules; false when it cannot be had.
  bool Reserve(uint64_t count);
  // Deletes the rule in a slot and leaves the slot null; its name leaves the
  // index when it stands for that slot.
  void Drop(uint64_t index);
  // Takes the rule out of a slot, which becomes null; the index is left.
  CRule* Take(uint64_t index);
  // Stores `rule` in slot `index` (RuleCount() appends), deleting the rule
  // held there, and makes its name stand for that slot. ASException when
  // memory runs out (the rule is deleted then).
  void Put(uint64_t index, CRule* rule);

 private:
  ParseListener* listener_;
  ascommon::CArray<CRule*, 16> rules_;
  ascommon::Map<ascommon::String, uint64_t> names_;
};

}  // namespace nsAssl

#endif  // TERVO_SRC_ENGINES_ASSL_RULE_TABLE_H_
