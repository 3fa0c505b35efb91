// The IM kind of context: a message's text and its second form, read from
// the item's input black box. The texts stay owned by the item.
#ifndef TERVO_SRC_ENGINES_ASSL_IMCONTEXTIF_H_
#define TERVO_SRC_ENGINES_ASSL_IMCONTEXTIF_H_

#include "src/engines/assl/acontextif.h"

namespace nsAssl {

class CImContextInterface : public ContextInterface {
 public:
  // ASBadPtrException "invalid pitem input" for a null item, "invalid
  // pointer" for an item without its input/output box. A key without a
  // value leaves its text null.
  void SetItem(ascommon::SItem* item) override;
  int32_t GetKind() const override { return kImContext; }

  const char* GetText() const { return text_; }
  const char* GetSecondText() const { return second_text_; }

 private:
  const char* text_ = nullptr;
  const char* second_text_ = nullptr;
};

// The handle as an IM context: itself when its kind is IM, else null. The
// raising form raises ASException "invalid context handle" for a null
// handle (and answers null for another kind).
CImContextInterface* AsImContext(ContextInterface* context);
CImContextInterface* AsImContextOrRaise(ContextInterface* context);

}  // namespace nsAssl

#endif  // TERVO_SRC_ENGINES_ASSL_IMCONTEXTIF_H_
