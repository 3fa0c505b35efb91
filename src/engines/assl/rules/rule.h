// CRule: one rule of a signature set, its name, one condition, at most three
// actions and its metainfo, built from what the parser recorded.
//
// A built rule is read-only; any thread may read it.
#ifndef TERVO_SRC_ENGINES_ASSL_RULES_RULE_H_
#define TERVO_SRC_ENGINES_ASSL_RULES_RULE_H_

#include <stdint.h>

#include "src/common/array.h"
#include "src/engines/assl/acontextif.h"
#include "src/engines/assl/parser/parser_state.h"
#include "src/engines/assl/rules/items.h"

namespace nsAssl {

class CRule {
 public:
  static constexpr uint64_t kMaxActions = 3;

  // Builds a rule from its recorded items: the condition, then at most three
  // actions (the CAUTION line when there are more), then the metainfo, in the
  // order recorded. Takes the expression nodes. Null, after the log line that
  // says why, when any piece cannot be made; each message also goes to
  // `listener` when there is one.
  static CRule* Build(RecordedRule* recorded, ParseListener* listener = nullptr);

  CRule() = default;
  ~CRule();
  CRule(const CRule&) = delete;
  CRule& operator=(const CRule&) = delete;

  // The engine's records of a rule.
  struct SignatureInfo {
    uint64_t index;
    int32_t priority;
  };
  struct ApmRuleInfo {
    uint64_t index;
    int32_t relevance;
  };
  typedef RuleStateInfo StateInfo;

  // Initialises the condition and then each action, once (ASException
  // "Cyclic initialization of rule %s" when the rule is reached again while
  // it initialises). An exception leaves the rule uninitialised.
  void Init(Engines* engines);
  // Evaluates the rule on one item's context at most once and, when the
  // result is not 0, runs each action not yet done on that context. 0.0
  // for a disabled or uninitialised rule. ASException for null handles, for
  // a rule reached again while it executes on the same context, and "one or
  // more actions failed to execute" after running the others.
  float Exec(Engines* engines, ContextInterface* context);
  // As Exec with the condition's result given instead of evaluated.
  float ExecWithResult(float result, Engines* engines, ContextInterface* context);

  const sstring& name() const { return name_; }
  uint64_t index() const { return index_; }
  void set_index(uint64_t index) { index_ = index; }
  int32_t position() const { return position_; }
  void set_position(int32_t position) { position_ = position; }
  int32_t rule_kind() const { return kind_; }
  bool is_initialized() const { return initialized_ != 0; }
  bool is_enabled() const { return enabled_ != 0; }
  bool is_signature() const { return signature_ != 0; }
  bool is_apm_rule() const { return apm_ != 0; }
  const sstring& comment() const { return comment_; }
  const ACondition* condition() const { return condition_; }
  ACondition* mutable_condition() { return condition_; }
  uint64_t action_count() const { return actions_.GetCount(); }
  const AAction* action(uint64_t i) const { return actions_[i]; }
  uint64_t metainfo_count() const { return metainfo_.GetCount(); }

  // The first metainfo of that type, or null.
  const AMetainfo* Metainfo(int32_t type) const;
  // Its value; ASException "rule %s has no metainfo of type %d" without one,
  // or the metainfo's own exception for the wrong kind of value.
  int32_t MetainfoInt(int32_t type) const;
  const sstring& MetainfoString(int32_t type) const;

 private:
  friend class RuleBuilder;
  // Checks the handles and answers the context's record of this rule, or
  // null (after its log line) when the rule does not run.
  RuleStateInfo* Record(Engines* engines, ContextInterface* context);
  void RunActions(Engines* engines, ContextInterface* context, RuleStateInfo* record);

  sstring name_;
  uint64_t index_ = 0;
  int32_t position_ = -1;
  int32_t kind_ = kSimpleRule;
  uint8_t initialized_ = 0;
  uint8_t initializing_ = 0;  // set while Init runs
  uint8_t enabled_ = 1;
  uint8_t signature_ = 0;
  uint8_t apm_ = 0;
  ACondition* condition_ = nullptr;
  ascommon::CArray<AAction*, 1> actions_;
  ascommon::CArray<AMetainfo*, 1> metainfo_;
  sstring comment_;
};

}  // namespace nsAssl

#endif  // TERVO_SRC_ENGINES_ASSL_RULES_RULE_H_
