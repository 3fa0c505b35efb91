// The signature walk's plan: which signatures may answer non-zero on an
// item, told from the prefilter's scans of its texts. A signature answers
// 0.0 and changes nothing when its rule is disabled, when its condition is a
// match the scan rules out, or when its condition is an expression that is
// 0.0 while every rule it names is, and each of those is decided so in turn;
// a walk that logs nothing may pass over it.
//
// Built with the rule set's index; read-only afterwards.
#ifndef TERVO_SRC_ENGINES_ASSL_SIGNATURE_PLAN_H_
#define TERVO_SRC_ENGINES_ASSL_SIGNATURE_PLAN_H_

#include <stdint.h>

#include "common/asalloc.h"
#include "src/engines/assl/rule_table.h"
#include "src/engines/assl/rules/prefilter.h"
#include "src/engines/assl/signature_index.h"

namespace nsAssl {

class SignaturePlan {
 public:
  void Clear();
  // Over the signatures in walk order, their rules and the prefilter
  // holding the rules' patterns. Without an active prefilter the plan
  // answers nothing (Candidates is false).
  void Build(const SignatureArray& signatures, const RuleTable& rules, const Prefilter& prefilter);
  // The positions, ascending in walk order, of the signatures that may
  // answer non-zero on `context`; false when the plan cannot tell (no
  // prefilter, not an IM item with both texts): every signature must run.
  bool Candidates(ContextInterface* context, ascommon::Vector<uint32_t>* positions) const;

 private:
  const Prefilter* prefilter_ = nullptr;  // null: no plan
  ascommon::Vector<uint32_t> always_;     // positions that must run on every item
  // Per set (text, second text): the positions each pattern may make run,
  // and every position some pattern of the set gates.
  ascommon::Vector<ascommon::Vector<uint32_t>> positions_of_[2];
  ascommon::Vector<uint32_t> gated_[2];
};

}  // namespace nsAssl

#endif  // TERVO_SRC_ENGINES_ASSL_SIGNATURE_PLAN_H_
