// CASSLEngine: the rule engine of one signature set. It builds the set from
// the "<pfx>*.slf" files of a data folder (InitFull), brings it up to date
// from the incremental list "<pfx>_incslf.txt" (InitIncSlf), and runs rules
// by index over an item's context.
//
// Initialisation runs under the signature filter's writer lock; everything
// else only reads the engine and may run on many threads at once, each item
// with its own context.
#ifndef TERVO_SRC_ENGINES_ASSL_ASSLENGINE_H_
#define TERVO_SRC_ENGINES_ASSL_ASSLENGINE_H_

#include <stdint.h>

#include "common/sstring.h"
#include "src/common/array.h"
#include "src/engines/assl/engines.h"
#include "src/engines/assl/rule_table.h"
#include "src/engines/assl/rules/prefilter.h"
#include "src/engines/assl/signature_index.h"
#include "src/engines/assl/signature_plan.h"

namespace nsAssl {

// The signature sets: "as", "ph", "pc", "cf", "im", "fr", "tr", "op" for the
// indices 0 to 7; null for any other index. The filters use 4 ("im").
const char* SignatureSetPrefix(int32_t index);

class CASSLEngine : public RuleRunner {
 public:
  CASSLEngine();            // logs "constructing AntiSpam Scripting Language Engine"
  ~CASSLEngine() override;  // logs "destructing ..."
  CASSLEngine(const CASSLEngine&) = delete;
  CASSLEngine& operator=(const CASSLEngine&) = delete;

  // Keeps `flag`, tries the incremental update and, when it does not apply,
  // builds the set in full. Answers 0 on success.
  int32_t Init(Engines* engines, const char* path, int32_t prefix_index, uint8_t flag);
  // Releases the rules, sizes the array from "<pfx>_update.txt", parses
  // every "<pfx>*.slf" file of `path` in listing order and initialises the
  // rules. 0, or -1 after the log line of the step that failed.
  int32_t InitFull(Engines* engines, const char* path, int32_t prefix_index);
  // Applies the jobs of "<pfx>_incslf.txt" newer than the last one applied;
  // 0 only when it applied some, else -1 (the caller then builds in full).
  int32_t InitIncSlf(Engines* engines, const char* path, int32_t prefix_index);
  // Initialises every rule, drops those that fail and rebuilds the index.
  int32_t InitRules(Engines* engines);
  // Deletes every rule and empties every array and the name index.
  int32_t Release();

  // RuleRunner: 0, or non-zero after a log line for a bad index, an empty
  // slot, an unknown name, or a rule that raised.
  int32_t GetRuleIndex(const sstring& name, uint64_t* index) override;
  int32_t InitRule(uint64_t index, Engines* engines) override;
  int32_t ExecRule(uint64_t index, Engines* engines, ContextInterface* context,
                   float* result) override;

  // The name of the rule at `index`; null for a bad index or an empty slot.
  const char* GetRuleName(uint64_t index) const;
  const SignatureArray& GetSignatures() const { return index_.signatures(); }
  const StateInfoArray& GetStateInfo() const { return index_.states(); }
  const ApmRuleArray& GetApmRules() const { return index_.apm_rules(); }
  // Which signatures may answer non-zero on an item (signature_plan.h).
  const SignaturePlan& plan() const { return plan_; }
  // The names of the context's fired rules that are signatures, joined by
  // "; " (with `with_actions`, only those that have actions). -1 for null
  // handles.
  int32_t GetFiredNames(Engines* engines, ContextInterface* context, bool with_actions,
                        sstring* names) const;

  const RuleTable& rules() const { return rules_; }
  int32_t last_jid() const { return last_jid_; }
  uint64_t free_slots() const { return free_.GetCount(); }
  uint8_t flag() const { return flag_; }

 private:
  // The path of `name` in `path`: a backslash between them unless the
  // folder ends in one. False after "problems concatenating strings".
  static bool BuildPath(const char* path, const char* name, sstring* out);
  // The rule at `index`, or null after the line for a bad index or an empty
  // slot (the line starts with `caller`).
  CRule* Slot(uint64_t index, const char* caller) const;
  // Parses every file of the list into the rule table.
  int32_t ExtractRules(const char* mask);
  // Reads the set's prealloc list and sizes the rule array.
  void Prealloc(const char* path, const char* prefix);
  // Rebuilds the index, the prefilter and the plan over the rules in the table.
  int32_t Reindex(Engines* engines);
  // Applies the changed and deleted rules of the incremental jobs.
  int32_t ApplyJobs(Engines* engines, const sstring& buffer, uint32_t changed,
                    const ascommon::Vector<sstring>& deleted);

  RuleTable rules_;
  SignatureIndex index_;
  Prefilter prefilter_;
  SignaturePlan plan_;
  ascommon::CArray<uint64_t, 64> free_;  // slots freed by incremental deletions
  uint8_t flag_ = 0;
  int32_t last_jid_ = -1;
};

}  // namespace nsAssl

#endif  // TERVO_SRC_ENGINES_ASSL_ASSLENGINE_H_
