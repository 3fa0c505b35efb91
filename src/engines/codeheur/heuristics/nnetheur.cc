// Heuristics: score-only tests of mail items.
// In this build each one only checks its arguments (see codeheur.h).
#include "src/engines/codeheur/heuristics/family.h"

namespace nsCodeHeur {

TERVO_MAIL_HEURISTIC(HasOneRecv)
TERVO_MAIL_HEURISTIC(IpInHostnameRecv)
TERVO_MAIL_HEURISTIC(RecvContainsDslLikeWords)
TERVO_MAIL_HEURISTIC(BlankReturnPath)
TERVO_MAIL_HEURISTIC(MissingDK)
TERVO_MAIL_HEURISTIC(FromToDomainsNotInReceived)
TERVO_MAIL_HEURISTIC(FirstRecvContainsDslLikeWords)
TERVO_MAIL_HEURISTIC(FromNameEqSubject)
TERVO_MAIL_HEURISTIC(ToUserEqSubject)
TERVO_MAIL_HEURISTIC(FromAddrEqToAddr)
TERVO_MAIL_HEURISTIC(MoreThanOneCCHeader)
TERVO_MAIL_HEURISTIC(MsgIDDomain)
TERVO_MAIL_HEURISTIC(MoreThan5PartsNew)

}  // namespace nsCodeHeur
