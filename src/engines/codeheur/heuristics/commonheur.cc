// Heuristics: features of the parts and summary of a mail.
// In this build each one only checks its arguments (see codeheur.h).
#include "src/engines/codeheur/heuristics/family.h"

namespace nsCodeHeur {

TERVO_MAIL_HEURISTIC(pfMailSize)
TERVO_MAIL_HEURISTIC(pfMailLinesCount)
TERVO_MAIL_HEURISTIC(pfMailIsMultipart)
TERVO_MAIL_HEURISTIC(pfMailPartsCount)
TERVO_MAIL_HEURISTIC(pfMailSummary)
TERVO_MAIL_HEURISTIC(pfMailLinksCount)
TERVO_MAIL_HEURISTIC(pfMailVoidLinesCount)
TERVO_MAIL_HEURISTIC(pfMailMaxCountVoidLineConsec)
TERVO_MAIL_HEURISTIC(pfMailVoidLinesCountAtEnd)
TERVO_MAIL_HEURISTIC(pfMailLinesCountWith1Link)
TERVO_MAIL_HEURISTIC(pfMailSummaryLength)
TERVO_MAIL_HEURISTIC(pfMailGoodImagesCount)
TERVO_MAIL_HEURISTIC(pfMailHasNoLink)
TERVO_MAIL_HEURISTIC(pfMailLinkWithIP)
TERVO_MAIL_HEURISTIC(pfMailHasLinkCuKKT)
TERVO_MAIL_HEURISTIC(pfMailFromToAddrInBody)
TERVO_MAIL_HEURISTIC(pfMailFromDomainNotInBody)
TERVO_MAIL_HEURISTIC(pfMailMaxConsecutiveWordsCount)
TERVO_MAIL_HEURISTIC(pfMailMissBoundary)

}  // namespace nsCodeHeur
