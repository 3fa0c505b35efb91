#include "src/engines/assl/signature_plan.h"

#include <algorithm>

#include "src/engines/assl/rules/items.h"

namespace nsAssl {

void SignaturePlan::Clear() {
  prefilter_ = nullptr;
  always_.clear();
  for (int s = 0; s < 2; ++s) {
    position_of_[s].clear();
    gated_[s].clear();
  }
}

void SignaturePlan::Build(const SignatureArray& signatures, const RuleTable& rules, const Prefilter& prefilter) {
  Clear();
  if (!prefilter.active()) return;
  for (uint32_t p = 0; p < signatures.GetCount(); ++p) {
    const CRule* rule = signatures[p] != nullptr && signatures[p]->index < rules.RuleCount()
                            ? rules.Rule(signatures[p]->index)
                            : nullptr;
    if (rule != nullptr && !rule->is_enabled()) continue;  // answers 0.0 on every item
    const ACondition* condition = rule != nullptr ? rule->condition() : nullptr;
    // Every condition of type kCondMatch is a MatchCondition.
    const auto* match = condition != nullptr && condition->type() == kCondMatch
                            ? static_cast<const MatchCondition*>(condition)
                            : nullptr;
    if (match == nullptr || match->prefilter_id() < 0) {
      always_.push_back(p);
      continue;
    }
    const int s = match->reads_second_text() ? 1 : 0;
    const auto id = static_cast<size_t>(match->prefilter_id());
    if (position_of_[s].size() <= id) position_of_[s].resize(id + 1, -1);
    position_of_[s][id] = static_cast<int32_t>(p);
    gated_[s].push_back(p);
  }
  prefilter_ = &prefilter;
}

bool SignaturePlan::Candidates(ContextInterface* context, ascommon::Vector<uint32_t>* positions) const {
  CImContextInterface* im = AsImContext(context);
  if (prefilter_ == nullptr || im == nullptr || im->GetText() == nullptr || im->GetSecondText() == nullptr) {
    return false;
  }
  positions->assign(always_.begin(), always_.end());
  for (int s = 0; s < 2; ++s) {
    if (gated_[s].empty()) continue;
    const PrefilterScan& scan = prefilter_->Scan(im, s == 1);
    if (scan.state == PrefilterScan::kUndecided) {
      positions->insert(positions->end(), gated_[s].begin(), gated_[s].end());
      continue;
    }
    const ascommon::Vector<int32_t>& position_of = position_of_[s];
    for (size_t w = 0; w < scan.bits.size(); ++w) {
      for (uint64_t bits = scan.bits[w]; bits != 0; bits &= bits - 1) {
        const size_t id = w * 64 + static_cast<size_t>(__builtin_ctzll(bits));
        if (id < position_of.size() && position_of[id] >= 0) {
          positions->push_back(static_cast<uint32_t>(position_of[id]));
        }
      }
    }
  }
  if (positions->size() != always_.size()) std::sort(positions->begin(), positions->end());
  return true;
}

}  // namespace nsAssl
