// The code heuristics engine: named heuristic functions written in C++ that
// rules call with exec(NAME) and that fill KNN features of a mail.
//
// The heuristics read mail items (context kind 2) and HTTP items (kind 1).
// Their computations on those items are not in this build yet: no mail or
// HTTP context exists here, and every heuristic answers 0.0 after its
// argument checks, storing nothing.
#ifndef TERVO_SRC_ENGINES_CODEHEUR_CODEHEUR_H_
#define TERVO_SRC_ENGINES_CODEHEUR_CODEHEUR_H_

#include <stdint.h>

#include "common/sstring.h"
#include "src/common/array.h"

namespace nsCodeHeur {

using ascommon::sstring;

// The kind of feature a heuristic fills; FT_NONE heuristics only score.
enum CAFeatureType : int32_t { FT_NONE = 0, FT_INT = 1, FT_UTF8_STRING = 4, FT_SUMMARY = 5 };

class CAFeature;  // the feature classes come with the KNN classifier

// The registration table, in registration order: name used by rules and the
// KNN feature list, member function, feature type. The family of each
// function is the file under heuristics/ that defines it.
#define TERVO_CODE_HEURISTICS(X)                                                      \
  X(H_MAIL_SIZE, pfMailSize, FT_INT)                                                  \
  X(H_MAIL_LINES_COUNT, pfMailLinesCount, FT_INT)                                     \
  X(H_MAIL_HEADERS_COUNT, pfMailHeadersCount, FT_INT)                                 \
  X(H_MAIL_HEADER_MESSAGEID_LENGTH, pfMailMessageIDLength, FT_INT)                    \
  X(H_MAIL_HEADER_SUBJECT_LENGTH, pfMailSubjectLength, FT_INT)                        \
  X(H_MAIL_SUBJECT_SEPARATORS_COUNT, pfMailSubjectSeparatorsCount, FT_INT)            \
  X(H_MAIL_IS_MULTIPART, pfMailIsMultipart, FT_INT)                                   \
  X(H_MAIL_PARTS_COUNT, pfMailPartsCount, FT_INT)                                     \
  X(H_MAIL_SUBJECT_MAX_LEN_WORD, pfMailSubjectMaxLenWord, FT_INT)                     \
  X(H_MAIL_SUBJECT_ALNUM8, pfMailSubjectAlNumRatio, FT_INT)                           \
  X(H_MAIL_HEADER_FROM_IS_EQUAL_WITH_REPLAYTO, pfMailIsFromEqualWithReplayto, FT_INT) \
  X(H_MAIL_HEADER_FROM_HAS_A_NAME, pfMailHeaderFromHasAName, FT_INT)                  \
  X(H_MAIL_HEADER_RECEIVED_COUNT, pfMailHeaderReceivedCount, FT_INT)                  \
  X(H_MAIL_HEADER_DATE_FORMAT, pfMailGetDataFormat, FT_UTF8_STRING)                   \
  X(H_MAIL_HEADER_SUMMARY, pfMailSummary, FT_SUMMARY)                                 \
  X(H_MAIL_LINKS_COUNT, pfMailLinksCount, FT_INT)                                     \
  X(H_MAIL_VOID_LINES_COUNT, pfMailVoidLinesCount, FT_INT)                            \
  X(H_MAIL_MAX_COUNT_VOID_LINES_CONSEC, pfMailMaxCountVoidLineConsec, FT_INT)         \
  X(H_MAIL_VOID_LINES_COUNT_AT_END, pfMailVoidLinesCountAtEnd, FT_INT)                \
  X(H_MAIL_LINES_COUNT_WITH_1_LINK, pfMailLinesCountWith1Link, FT_INT)                \
  X(H_MAIL_HAVE_NON_ASCII_CHARS, pfMailHaveNonAsciiCharacters, FT_INT)                \
  X(H_PARTS_ENCODING_COUNT, pfPartsEncodingCount, FT_INT)                             \
  X(H_MAIL_SUMMARY_LENGTH, pfMailSummaryLength, FT_INT)                               \
  X(H_PARTS_ENCODING_ID, pfPartsEncodingID, FT_UTF8_STRING)                           \
  X(H_PARTS_ATTACH_ID, pfPartsAttachID, FT_UTF8_STRING)                               \
  X(H_MAIL_GOOD_IMAGES_COUNT, pfMailGoodImagesCount, FT_INT)                          \
  X(H_MAIL_HAS_NO_LINK, pfMailHasNoLink, FT_INT)                                      \
  X(H_MAIL_LINK_HAS_IP, pfMailLinkWithIP, FT_INT)                                     \
  X(H_MAIL_LINK_WITH_KKT, pfMailHasLinkCuKKT, FT_INT)                                 \
  X(H_MAIL_FROM_ADDR_IN_BODY, pfMailFromToAddrInBody, FT_INT)                         \
  X(H_MAIL_FROMDOMAIN_NOT_IN_BODY, pfMailFromDomainNotInBody, FT_INT)                 \
  X(H_MAIL_BODY_HTML_STYLE, pfMailBodyHtmlStyle, FT_INT)                              \
  X(H_HAS_ONE_RECV, HasOneRecv, FT_NONE)                                              \
  X(H_IP_IN_HOSTNAME_RECV, IpInHostnameRecv, FT_NONE)                                 \
  X(H_RECV_CONTAINS_DSL_LIKE_WORDS, RecvContainsDslLikeWords, FT_NONE)                \
  X(H_MAIL_HEADER_FROM_MISSING, pfMailHeaderFromMissing, FT_INT)                      \
  X(H_MAIL_HEADER_TO_MISSING, pfMailHeaderToMissing, FT_INT)                          \
  X(H_MAIL_HEADER_SUBJ_MISSING, pfMailHeaderSubjMissing, FT_INT)                      \
  X(H_MAIL_HEADER_TO_UNDISCLOSED_RCPTS, pfMailHeaderToUndisclosedRecipients, FT_INT)  \
  X(H_MAIL_HEADER_TO_HAS_A_NAME, pfMailHeaderToHasName, FT_INT)                       \
  X(H_MAIL_HEADER_FROM_NAME_4_WORDS, pfMailHeaderFromName4Words, FT_INT)              \
  X(H_MAIL_HEADER_NON_ASCII_CHARS, pfMailHeaderNonASCIIChars, FT_INT)                 \
  X(H_MAIL_HEADER_SUBJ_ENCODED, pfMailHeaderSubjEncoded, FT_INT)                      \
  X(H_MAIL_HEADER_SUBJ_TRAILING_PUNCTUATION, pfMailHeaderSubjTrailingPunctuation, FT_INT) \
  X(H_MAIL_HEADER_TO_IN_SUBJ, pfMailHeaderToInSubj, FT_INT)                           \
  X(H_MAIL_MAX_CONSECUTIVE_WORDS_COUNT, pfMailMaxConsecutiveWordsCount, FT_INT)       \
  X(H_MAIL_MISS_BOUNDARY, pfMailMissBoundary, FT_INT)                                 \
  X(H_MAIL_BODY_EMAIL_ADDR_COUNT, pfMailBodyEmailAddrCount, FT_INT)                   \
  X(H_MAIL_HEADER_PARTIAL_CONVERTED, pfMailHeaderPartialConverted, FT_INT)            \
  X(H_MAIL_HEADER_FAILED_CONVERSION, pfMailHeaderFailedConversion, FT_INT)            \
  X(H_MAIL_HEADER_FAILED_LOWER_FOR_DECODED, pfMailHeaderFailedLower4Decoded, FT_INT)  \
  X(H_RETPATH_EMPTY, BlankReturnPath, FT_NONE)                                        \
  X(H_YAHOO_AND_GMAIL_NO_DOMAIN_KEY, MissingDK, FT_NONE)                              \
  X(H_FROM_AND_TO_DOMAIN_NOT_IN_RECEIVED, FromToDomainsNotInReceived, FT_NONE)        \
  X(H_FIRST_RECV_CONTAINS_DSL_LIKE_WORDS, FirstRecvContainsDslLikeWords, FT_NONE)     \
  X(H_FROM_NAME_EQUAL_SUBJECT, FromNameEqSubject, FT_NONE)                            \
  X(H_TO_USER_EQUAL_SUBJECT, ToUserEqSubject, FT_NONE)                                \
  X(H_FROM_ADDR_EQUAL_TO_ADDR, FromAddrEqToAddr, FT_NONE)                             \
  X(H_MORE_THAN_ONE_CC, MoreThanOneCCHeader, FT_NONE)                                 \
  X(H_MSGID_DOMAIN, MsgIDDomain, FT_NONE)                                             \
  X(H_MORE_THAN_5_PARTS_NEW, MoreThan5PartsNew, FT_NONE)                              \
  X(H_FEW_WORDS, FewWordsHeur, FT_NONE)                                               \
  X(H_LONG_SIZE, LongSizeHeur, FT_NONE)                                               \
  X(H_PROTOCOL_IS_HTTP, ProtocolIsHttpHeur, FT_NONE)                                  \
  X(H_PROTOCOL_IS_HTTPS, ProtocolIsHttpsHeur, FT_NONE)                                \
  X(H_PROTOCOL_IS_FTP, ProtocolIsFtpHeur, FT_NONE)                                    \
  X(H_PROTOCOL_IS_FILE, ProtocolIsFileHeur, FT_NONE)                                  \
  X(H_PROTOCOL_IS_RES, ProtocolIsResHeur, FT_NONE)                                    \
  X(H_URL_HAS_WWW, UrlHasWWWHeur, FT_NONE)                                            \
  X(H_HAS_VERISIGN, HasVerisign, FT_NONE)

class CCodeHeurEngine {
 public:
  // What every heuristic is: `engines` is the rule engines record
  // (nsAssl::Engines), `context` an nsAssl::ContextInterface, `feature` null
  // or the feature to fill. Answers the score.
  typedef float (CCodeHeurEngine::*Heuristic)(void* engines, void* context, CAFeature* feature);

  // Registers the table above, logging each entry at level 3, then runs
  // pfPartsEncodingID once with null arguments, ignoring what it raises.
  // Throws only std::bad_alloc.
  CCodeHeurEngine();
  virtual ~CCodeHeurEngine();
  CCodeHeurEngine(const CCodeHeurEngine&) = delete;
  CCodeHeurEngine& operator=(const CCodeHeurEngine&) = delete;

  // Runs the heuristic registered as `name` (exact, case-sensitive) and
  // answers its score. ASException "invalid engines handle" / "invalid
  // context handle" for a null argument, "A heuristic function is called
  // from the script but has no definition!" for an unknown name.
  float RunHeuristic(const sstring& name, void* engines, void* context, CAFeature* feature);
  bool HasHeuristic(const sstring& name) const;
  // The feature type registered for `name`; 0 (FT_NONE) when unknown.
  CAFeatureType GetHeuristicType(const sstring& name) const;

  // The heuristics. Each raises "invalid engines handle" / "invalid context
  // handle" for a null argument; see the top of this file for what they
  // answer in this build.
#define TERVO_DECLARE_HEURISTIC(name, function, type) \
  float function(void* engines, void* context, CAFeature* feature);
  TERVO_CODE_HEURISTICS(TERVO_DECLARE_HEURISTIC)
#undef TERVO_DECLARE_HEURISTIC

 private:
  ascommon::CMap<sstring, Heuristic> functions_;
  ascommon::CMap<sstring, CAFeatureType> types_;
};

}  // namespace nsCodeHeur

#endif  // TERVO_SRC_ENGINES_CODEHEUR_CODEHEUR_H_
