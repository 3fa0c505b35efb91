// What the engine derives from its initialised rules: one state record per
// rule slot (copied into each item's context), the APM rules in rule order,
// and the signatures by priority, highest first (equal priorities: the
// higher rule index first), which is the order the signature filter runs
// them in.
//
// Rebuilt only while rules are loaded (under the filter's writer lock); read
// by any number of threads after that.
#ifndef TERVO_SRC_ENGINES_ASSL_SIGNATURE_INDEX_H_
#define TERVO_SRC_ENGINES_ASSL_SIGNATURE_INDEX_H_

#include <stdint.h>

#include "src/common/array.h"
#include "src/engines/assl/rule_table.h"

namespace nsAssl {

using SignatureArray = ascommon::CArray<CRule::SignatureInfo*, 16>;
using ApmRuleArray = ascommon::CArray<CRule::ApmRuleInfo*, 16>;
using StateInfoArray = ascommon::CArray<RuleStateInfo, 16>;

class SignatureIndex {
 public:
  SignatureIndex() = default;
  ~SignatureIndex() { Clear(); }
  SignatureIndex(const SignatureIndex&) = delete;
  SignatureIndex& operator=(const SignatureIndex&) = delete;

  // Deletes the records and empties the three arrays.
  void Clear();
  // Builds the arrays from the rules of `table`: a null slot gets a state
  // record with no rule. Answers 0, or -1 after its log line when memory runs
  // out (the arrays are then empty).
  int32_t Rebuild(const RuleTable& table);

  const StateInfoArray& states() const { return states_; }
  const ApmRuleArray& apm_rules() const { return apm_rules_; }
  const SignatureArray& signatures() const { return signatures_; }

 private:
  StateInfoArray states_;
  ApmRuleArray apm_rules_;
  SignatureArray signatures_;
};

}  // namespace nsAssl

#endif  // TERVO_SRC_ENGINES_ASSL_SIGNATURE_INDEX_H_
