#include "src/engines/assl/imcontextif.h"

#include <string.h>

#include "src/exceptions/asexception.h"

namespace nsAssl {

void CImContextInterface::SetItem(ascommon::SItem* item) {
  if (item == nullptr) AS_RAISE(ASBadPtrException, 31, "invalid pitem input");
  if (item->io == nullptr) AS_RAISE(ASBadPtrException, 34, "invalid pointer");
  const sstring* text = item->input.GetText(ascommon::IM_TEXT_KEY);
  const sstring* second = item->input.GetText(ascommon::IM_AUX_TEXT_KEY);
  text_ = text != nullptr ? text->c_str() : nullptr;
  second_text_ = second != nullptr ? second->c_str() : nullptr;
  lengths_[0] = text_ != nullptr ? strlen(text_) : 0;
  lengths_[1] = second_text_ != nullptr ? strlen(second_text_) : 0;
  for (PrefilterScan& scan : scans_) scan.state = PrefilterScan::kNotScanned;
}

void CImContextInterface::Reset() {
  ContextInterface::Reset();
  text_ = second_text_ = nullptr;
  lengths_[0] = lengths_[1] = 0;
  for (PrefilterScan& scan : scans_) scan.state = PrefilterScan::kNotScanned;
}

CImContextInterface* AsImContext(ContextInterface* context) {
  return context != nullptr && context->GetKind() == ContextInterface::kImContext
             ? static_cast<CImContextInterface*>(context)
             : nullptr;
}

CImContextInterface* AsImContextOrRaise(ContextInterface* context) {
  if (context == nullptr) AS_RAISE_AT_LEVEL(1, ASException, 56, "invalid context handle");
  return AsImContext(context);
}

}  // namespace nsAssl
