// What the heuristic families share: the start every heuristic makes (its
// argument checks and the conversion of the context to the kind it reads),
// and the macros that define the heuristics of a family in one line each.
#ifndef TERVO_SRC_ENGINES_CODEHEUR_HEURISTICS_FAMILY_H_
#define TERVO_SRC_ENGINES_CODEHEUR_HEURISTICS_FAMILY_H_

#include <stdint.h>

#include "src/engines/assl/acontextif.h"
#include "src/engines/codeheur/codeheur.h"

namespace nsCodeHeur {

// ASException "invalid engines handle" for a null `engines`, "invalid
// context handle" for a null `context`; then the context when its kind is
// `kind` (a ContextInterface::Kind), else null.
nsAssl::ContextInterface* ContextOfKind(void* engines, void* context, int32_t kind);

// A heuristic whose computation is not in this build: the checks of
// ContextOfKind, then 0.0 whatever the context, nothing stored.
float PendingScore(void* engines, void* context, int32_t kind);

}  // namespace nsCodeHeur

// Defines CCodeHeurEngine::function as a heuristic reading contexts of `kind`.
#define TERVO_PENDING_HEURISTIC(function, kind)                                   \
  float CCodeHeurEngine::function(void* engines, void* context, CAFeature*) {      \
    return PendingScore(engines, context, nsAssl::ContextInterface::kind);         \
  }
#define TERVO_MAIL_HEURISTIC(function) TERVO_PENDING_HEURISTIC(function, kMailContext)
#define TERVO_HTTP_HEURISTIC(function) TERVO_PENDING_HEURISTIC(function, kHttpContext)

#endif  // TERVO_SRC_ENGINES_CODEHEUR_HEURISTICS_FAMILY_H_
