// Heuristics: features of the mail body.
// In this build each one only checks its arguments (see codeheur.h).
#include "src/engines/codeheur/heuristics/family.h"

namespace nsCodeHeur {

TERVO_MAIL_HEURISTIC(pfMailBodyHtmlStyle)
TERVO_MAIL_HEURISTIC(pfMailBodyEmailAddrCount)

}  // namespace nsCodeHeur
