// Heuristics: the encodings and attachments of a mail.
// In this build each one only checks its arguments (see codeheur.h).
#include "src/engines/codeheur/heuristics/family.h"

namespace nsCodeHeur {

TERVO_MAIL_HEURISTIC(pfMailHaveNonAsciiCharacters)
TERVO_MAIL_HEURISTIC(pfPartsEncodingCount)
TERVO_MAIL_HEURISTIC(pfPartsEncodingID)
TERVO_MAIL_HEURISTIC(pfPartsAttachID)

}  // namespace nsCodeHeur
