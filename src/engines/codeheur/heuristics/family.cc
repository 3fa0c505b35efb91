#include "src/engines/codeheur/heuristics/family.h"

#include "src/exceptions/asexception.h"
#include "src/trace/trace.h"

namespace nsCodeHeur {

nsAssl::ContextInterface* ContextOfKind(void* engines, void* context, int32_t kind) {
  if (engines == nullptr) AS_RAISE(ASException, __LINE__, "invalid engines handle");
  if (context == nullptr) AS_RAISE(ASException, __LINE__, "invalid context handle");
  auto* item = static_cast<nsAssl::ContextInterface*>(context);
  return item->GetKind() == kind ? item : nullptr;
}

float PendingScore(void* engines, void* context, int32_t kind) {
  // No context of this build is a mail or HTTP item, and the computations on
  // those arrive with their contexts: until then every context scores 0.0.
  static_cast<void>(ContextOfKind(engines, context, kind));
  return 0.0f;
}

}  // namespace nsCodeHeur
