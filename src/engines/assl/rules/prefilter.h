// The prefilter of a rule set: every IM match pattern of kind REGEX in one
// pattern set scanned over an item's text, every REGEX_INSENSITIVE pattern
// (as lowered) in another scanned over its second text. Each text is scanned
// once per item, by the first match that needs it; a pattern the scan rules
// out answers "no match" without running, any other runs as before. When the
// second text is the text with A-Z lowered (all ASCII), one joint set of
// both kinds, the second caseless, scans the text once for the two. The
// sets come from libfernwick's optional pattern-set entry points: without
// them, or with TERVO_PREFILTER=0 in the environment, there is no prefilter
// and every pattern runs.
//
// Built while the rule set is initialised; read-only (MayMatch from any
// number of threads, each with its own contexts) afterwards.
#ifndef TERVO_SRC_ENGINES_ASSL_RULES_PREFILTER_H_
#define TERVO_SRC_ENGINES_ASSL_RULES_PREFILTER_H_

#include <stddef.h>
#include <stdint.h>

#include "src/engines/assl/imcontextif.h"
#include "src/engines/fernwick/fernwicklib.h"

namespace nsAssl {

class MatchCondition;

class Prefilter {
 public:
  Prefilter() = default;
  ~Prefilter() { Clear(); }
  Prefilter(const Prefilter&) = delete;
  Prefilter& operator=(const Prefilter&) = delete;

  // Frees the sets. Conditions told earlier must be told again (Add) or
  // forgotten (MatchCondition::ClearPrefilter) before they run.
  void Clear();
  // Starts a new build: the two sets from `lib`, unless it has none or the
  // prefilter is switched off.
  void Begin(nsFernwick::RegExLib* lib);
  // Offers the condition of a rule: an initialised IM regex match whose
  // pattern the set accepts is told its place in the set. Answers whether
  // it was taken.
  bool Add(MatchCondition* match);
  // Compiles both sets; a set that fails to compile declines every scan.
  void Compile();

  // Whether there are sets to scan with (Begin found them).
  bool active() const { return sets_[0] != nullptr; }
  // The scan of the item's text (or second text), made on the first call
  // for the item. The item must have both texts.
  const PrefilterScan& Scan(CImContextInterface* im, bool second) const;
  // Whether pattern `id` of the (second) text may match in this item; false
  // only when the text's scan rules it out.
  bool MayMatch(CImContextInterface* im, bool second, int32_t id) const {
    const PrefilterScan& scan = Scan(im, second);
    return scan.state == PrefilterScan::kUndecided || (scan.bits[id / 64] >> (id % 64) & 1) != 0;
  }

  // Patterns taken and patterns offered but refused, over both sets.
  size_t taken() const { return taken_; }
  size_t refused() const { return refused_; }

 private:
  // Offers pattern `id` of the (second) set to the joint set; the joint set
  // is dropped when it refuses one, and the texts are scanned apart.
  void AddJoint(const sstring& pattern, bool second, int32_t id);
  void DropJoint();
  // The joint scan of the item, dealt out to both scans; false when it
  // cannot stand for them (the texts differ otherwise, a scan declined).
  bool ScanJointly(CImContextInterface* im) const;

  static constexpr uint32_t kSecondSet = 1u << 31;

  nsFernwick::RegExLib* lib_ = nullptr;
  FernwickRegExSet* sets_[2] = {nullptr, nullptr};
  FernwickRegExSet* joint_ = nullptr;
  // For each pattern of the joint set, its number in its own set, with
  // kSecondSet for the second.
  ascommon::Vector<uint32_t> joint_ids_;
  size_t taken_ = 0, refused_ = 0;
};

}  // namespace nsAssl

#endif  // TERVO_SRC_ENGINES_ASSL_RULES_PREFILTER_H_
