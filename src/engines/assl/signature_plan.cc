#include "src/engines/assl/signature_plan.h"

#include <algorithm>

#include "src/engines/assl/rules/items.h"

namespace nsAssl {

namespace {

// Past this many patterns, or this many rules and nodes looked at, a
// signature is simply always run.
constexpr size_t kMaxGates = 64;
constexpr size_t kMaxSteps = 4096;

struct Gate {
  int set;  // 0: the text, 1: the second text
  size_t id;
};

// Judges one signature: which patterns decide it, if patterns alone do.
class Judge {
 public:
  Judge(const RuleTable& rules, ascommon::Vector<uint8_t>* visiting, ascommon::Vector<Gate>* gates)
      : rules_(rules), visiting_(*visiting), gates_(*gates) {}

  // Whether rule `index` answers 0.0 whenever the scans rule out every
  // pattern gathered into the gates (none for a disabled rule).
  bool RuleGated(uint64_t index) {
    const CRule* rule = index < rules_.RuleCount() ? rules_.Rule(index) : nullptr;
    if (rule == nullptr || ++steps_ > kMaxSteps) return false;
    if (!rule->is_enabled()) return true;
    const ACondition* condition = rule->condition();
    if (condition == nullptr || !rule->is_initialized() || visiting_[index]) return false;
    if (condition->type() == kCondMatch) {
      // Every condition of type kCondMatch is a MatchCondition.
      const auto* match = static_cast<const MatchCondition*>(condition);
      if (match->prefilter_id() < 0) return false;
      gates_.push_back({match->reads_second_text() ? 1 : 0, static_cast<size_t>(match->prefilter_id())});
      return gates_.size() <= kMaxGates;
    }
    if (condition->type() != kCondExpr) return false;
    visiting_[index] = 1;  // a rule that names itself, however deep, is not judged
    const int value = ZeroValue(static_cast<const ExprCondition*>(condition)->root(), 0);
    visiting_[index] = 0;
    return value == 0;
  }

 private:
  // The value of an expression while every rule it names answers 0.0, as
  // ExprCondition evaluates it; -1 when it cannot be judged so (it would
  // raise, or a rule it names is not decided by patterns).
  int ZeroValue(const expr_t* node, int depth) {
    if (node == nullptr || depth >= ExprCondition::kMaxDepth || ++steps_ > kMaxSteps) return -1;
    if (node->leaf) {
      if (node->value_type == kValueBool) return node->boolean != 0 ? 1 : 0;
      return node->value_type == kValueIndex && RuleGated(node->index) ? 0 : -1;
    }
    if (node->left == nullptr || (node->op != kOpNot && node->right == nullptr)) return -1;
    const int left = ZeroValue(node->left, depth + 1);
    if (left < 0) return -1;
    if (node->op == kOpNot) return left == 0 ? 1 : 0;
    const int right = ZeroValue(node->right, depth + 1);
    if (right < 0) return -1;
    switch (node->op) {
      case kOpOr:
      case kOpAllOr:
        return left != 0 ? left : right;
      case kOpAnd:
      case kOpAllAnd:
        return left == 0 ? 0 : right;
      case kOpEq:
        return (left != 0) == (right != 0) ? 1 : 0;
      case kOpNe:
        return (left != 0) != (right != 0) ? 1 : 0;
    }
    return -1;
  }

  const RuleTable& rules_;
  ascommon::Vector<uint8_t>& visiting_;
  ascommon::Vector<Gate>& gates_;
  size_t steps_ = 0;
};

}  // namespace

void SignaturePlan::Clear() {
  prefilter_ = nullptr;
  always_.clear();
  for (int s = 0; s < 2; ++s) {
    positions_of_[s].clear();
    gated_[s].clear();
  }
}

void SignaturePlan::Build(const SignatureArray& signatures, const RuleTable& rules, const Prefilter& prefilter) {
  Clear();
  if (!prefilter.active()) return;
  ascommon::Vector<uint8_t> visiting(rules.RuleCount(), 0);
  ascommon::Vector<Gate> gates;
  for (uint32_t p = 0; p < signatures.GetCount(); ++p) {
    gates.clear();
    if (signatures[p] == nullptr || !Judge(rules, &visiting, &gates).RuleGated(signatures[p]->index)) {
      always_.push_back(p);
      continue;
    }
    bool in_set[2] = {false, false};
    for (const Gate& gate : gates) {
      auto& positions_of = positions_of_[gate.set];
      if (positions_of.size() <= gate.id) positions_of.resize(gate.id + 1);
      if (positions_of[gate.id].empty() || positions_of[gate.id].back() != p) positions_of[gate.id].push_back(p);
      in_set[gate.set] = true;
    }
    for (int s = 0; s < 2; ++s) {
      if (in_set[s]) gated_[s].push_back(p);
    }
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
    const auto& positions_of = positions_of_[s];
    for (size_t w = 0; w < scan.bits.size(); ++w) {
      for (uint64_t bits = scan.bits[w]; bits != 0; bits &= bits - 1) {
        const size_t id = w * 64 + static_cast<size_t>(__builtin_ctzll(bits));
        if (id < positions_of.size()) {
          positions->insert(positions->end(), positions_of[id].begin(), positions_of[id].end());
        }
      }
    }
  }
  // A signature gated by several patterns that may match is listed once.
  if (positions->size() != always_.size()) {
    std::sort(positions->begin(), positions->end());
    positions->erase(std::unique(positions->begin(), positions->end()), positions->end());
  }
  return true;
}

}  // namespace nsAssl
