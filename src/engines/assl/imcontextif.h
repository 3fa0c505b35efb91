// The IM kind of context: a message's text and its second form, read from
// the item's input black box. The texts stay owned by the item.
#ifndef TERVO_SRC_ENGINES_ASSL_IMCONTEXTIF_H_
#define TERVO_SRC_ENGINES_ASSL_IMCONTEXTIF_H_

#include "common/asalloc.h"
#include "src/engines/assl/acontextif.h"

namespace nsAssl {

// What one scan of a text by the rule set's prefilter found: which of its
// patterns may match (a bit per pattern). Kept with the item's context.
struct PrefilterScan {
  enum State : uint8_t { kNotScanned, kScanned, kUndecided };
  State state = kNotScanned;
  ascommon::Vector<uint64_t> bits;
};

class CImContextInterface : public ContextInterface {
 public:
  // ASBadPtrException "invalid pitem input" for a null item, "invalid
  // pointer" for an item without its input/output box. A key without a
  // value leaves its text null.
  void SetItem(ascommon::SItem* item) override;
  void Reset() override;
  int32_t GetKind() const override { return kImContext; }

  const char* GetText() const { return text_; }
  const char* GetSecondText() const { return second_text_; }
  // strlen of the text or the second text (0 when null).
  size_t text_length(bool second) const { return lengths_[second ? 1 : 0]; }
  // The prefilter's scan of the text or the second text; SetItem forgets both.
  PrefilterScan& prefilter_scan(bool second) { return scans_[second ? 1 : 0]; }
  // The prefilter's joint scan (one scan of the text for both), which it
  // deals out to the two; kUndecided when it cannot stand for them here.
  PrefilterScan& joint_scan() { return scans_[2]; }

 private:
  PrefilterScan scans_[3];
  const char* text_ = nullptr;
  const char* second_text_ = nullptr;
  size_t lengths_[2] = {0, 0};
};

// The handle as an IM context: itself when its kind is IM, else null. The
// raising form raises ASException "invalid context handle" for a null
// handle (and answers null for another kind).
CImContextInterface* AsImContext(ContextInterface* context);
CImContextInterface* AsImContextOrRaise(ContextInterface* context);

}  // namespace nsAssl

#endif  // TERVO_SRC_ENGINES_ASSL_IMCONTEXTIF_H_
