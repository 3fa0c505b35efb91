#include "src/engines/codeheur/codeheur.h"

#include <new>

#include "src/exceptions/asexception.h"
#include "src/trace/trace.h"

namespace nsCodeHeur {

namespace {

struct Registration {
  const char* name;
  CCodeHeurEngine::Heuristic function;
  const char* function_name;
  CAFeatureType type;
};

#define TERVO_REGISTRATION(name, function, type) \
  {#name, &CCodeHeurEngine::function, #function, type},
const Registration kRegistrations[] = {TERVO_CODE_HEURISTICS(TERVO_REGISTRATION)};
#undef TERVO_REGISTRATION

}  // namespace

CCodeHeurEngine::CCodeHeurEngine() {
  for (const Registration& entry : kRegistrations) {
    const sstring name(entry.name);
    if (functions_.Insert(name, entry.function) != 0 || types_.Insert(name, entry.type) != 0) {
      throw std::bad_alloc();
    }
    AS_LOG(3, __LINE__, "Rule [%s] bound to function [%s]", entry.name, entry.function_name);
  }
  // Warm-up call: what pfPartsEncodingID sets up on its first call (its
  // table of transfer encodings) is then ready before any item. The null
  // arguments make it raise; that is expected and ignored.
  try {
    pfPartsEncodingID(nullptr, nullptr, nullptr);
  } catch (...) {
  }
}

CCodeHeurEngine::~CCodeHeurEngine() = default;

float CCodeHeurEngine::RunHeuristic(const sstring& name, void* engines, void* context,
                                    CAFeature* feature) {
  if (engines == nullptr) AS_RAISE(ASException, __LINE__, "invalid engines handle");
  if (context == nullptr) AS_RAISE(ASException, __LINE__, "invalid context handle");
  const Heuristic* function = functions_.Lookup(name);
  if (function == nullptr) {
    AS_RAISE(ASException, __LINE__, "A heuristic function is called from the script but has no definition!");
  }
  return (this->**function)(engines, context, feature);
}

bool CCodeHeurEngine::HasHeuristic(const sstring& name) const {
  return functions_.Lookup(name) != nullptr;
}

CAFeatureType CCodeHeurEngine::GetHeuristicType(const sstring& name) const {
  const CAFeatureType* type = types_.Lookup(name);
  return type == nullptr ? FT_NONE : *type;
}

}  // namespace nsCodeHeur
