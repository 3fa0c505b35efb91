// Heuristics: HTTP items.
// In this build each one only checks its arguments (see codeheur.h).
#include "src/engines/codeheur/heuristics/family.h"

namespace nsCodeHeur {

TERVO_HTTP_HEURISTIC(FewWordsHeur)
TERVO_HTTP_HEURISTIC(LongSizeHeur)
TERVO_HTTP_HEURISTIC(ProtocolIsHttpHeur)
TERVO_HTTP_HEURISTIC(ProtocolIsHttpsHeur)
TERVO_HTTP_HEURISTIC(ProtocolIsFtpHeur)
TERVO_HTTP_HEURISTIC(ProtocolIsFileHeur)
TERVO_HTTP_HEURISTIC(ProtocolIsResHeur)
TERVO_HTTP_HEURISTIC(UrlHasWWWHeur)
TERVO_HTTP_HEURISTIC(HasVerisign)

}  // namespace nsCodeHeur
