// The code heuristics engine: its registry, its argument checks, and what
// the heuristics answer on the one context of this build, an IM message.
#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "src/engines/assl/engines.h"
#include "src/engines/assl/imcontextif.h"
#include "src/engines/codeheur/codeheur.h"
#include "src/exceptions/asexception.h"
#include "tests/support/test_support.h"

namespace {

using ascommon::sstring;
using nsCodeHeur::CCodeHeurEngine;

// Every heuristic with its feature type, in registration order.
const struct {
  const char* name;
  int type;
} kHeuristics[] = {
    {"H_MAIL_SIZE", 1}, {"H_MAIL_LINES_COUNT", 1}, {"H_MAIL_HEADERS_COUNT", 1},
    {"H_MAIL_HEADER_MESSAGEID_LENGTH", 1}, {"H_MAIL_HEADER_SUBJECT_LENGTH", 1},
    {"H_MAIL_SUBJECT_SEPARATORS_COUNT", 1}, {"H_MAIL_IS_MULTIPART", 1}, {"H_MAIL_PARTS_COUNT", 1},
    {"H_MAIL_SUBJECT_MAX_LEN_WORD", 1}, {"H_MAIL_SUBJECT_ALNUM8", 1},
    {"H_MAIL_HEADER_FROM_IS_EQUAL_WITH_REPLAYTO", 1}, {"H_MAIL_HEADER_FROM_HAS_A_NAME", 1},
    {"H_MAIL_HEADER_RECEIVED_COUNT", 1}, {"H_MAIL_HEADER_DATE_FORMAT", 4}, {"H_MAIL_HEADER_SUMMARY", 5},
    {"H_MAIL_LINKS_COUNT", 1}, {"H_MAIL_VOID_LINES_COUNT", 1}, {"H_MAIL_MAX_COUNT_VOID_LINES_CONSEC", 1},
    {"H_MAIL_VOID_LINES_COUNT_AT_END", 1}, {"H_MAIL_LINES_COUNT_WITH_1_LINK", 1},
    {"H_MAIL_HAVE_NON_ASCII_CHARS", 1}, {"H_PARTS_ENCODING_COUNT", 1}, {"H_MAIL_SUMMARY_LENGTH", 1},
    {"H_PARTS_ENCODING_ID", 4}, {"H_PARTS_ATTACH_ID", 4}, {"H_MAIL_GOOD_IMAGES_COUNT", 1},
    {"H_MAIL_HAS_NO_LINK", 1}, {"H_MAIL_LINK_HAS_IP", 1}, {"H_MAIL_LINK_WITH_KKT", 1},
    {"H_MAIL_FROM_ADDR_IN_BODY", 1}, {"H_MAIL_FROMDOMAIN_NOT_IN_BODY", 1}, {"H_MAIL_BODY_HTML_STYLE", 1},
    {"H_HAS_ONE_RECV", 0}, {"H_IP_IN_HOSTNAME_RECV", 0}, {"H_RECV_CONTAINS_DSL_LIKE_WORDS", 0},
    {"H_MAIL_HEADER_FROM_MISSING", 1}, {"H_MAIL_HEADER_TO_MISSING", 1}, {"H_MAIL_HEADER_SUBJ_MISSING", 1},
    {"H_MAIL_HEADER_TO_UNDISCLOSED_RCPTS", 1}, {"H_MAIL_HEADER_TO_HAS_A_NAME", 1},
    {"H_MAIL_HEADER_FROM_NAME_4_WORDS", 1}, {"H_MAIL_HEADER_NON_ASCII_CHARS", 1},
    {"H_MAIL_HEADER_SUBJ_ENCODED", 1}, {"H_MAIL_HEADER_SUBJ_TRAILING_PUNCTUATION", 1},
    {"H_MAIL_HEADER_TO_IN_SUBJ", 1}, {"H_MAIL_MAX_CONSECUTIVE_WORDS_COUNT", 1}, {"H_MAIL_MISS_BOUNDARY", 1},
    {"H_MAIL_BODY_EMAIL_ADDR_COUNT", 1}, {"H_MAIL_HEADER_PARTIAL_CONVERTED", 1},
    {"H_MAIL_HEADER_FAILED_CONVERSION", 1}, {"H_MAIL_HEADER_FAILED_LOWER_FOR_DECODED", 1},
    {"H_RETPATH_EMPTY", 0}, {"H_YAHOO_AND_GMAIL_NO_DOMAIN_KEY", 0},
    {"H_FROM_AND_TO_DOMAIN_NOT_IN_RECEIVED", 0}, {"H_FIRST_RECV_CONTAINS_DSL_LIKE_WORDS", 0},
    {"H_FROM_NAME_EQUAL_SUBJECT", 0}, {"H_TO_USER_EQUAL_SUBJECT", 0}, {"H_FROM_ADDR_EQUAL_TO_ADDR", 0},
    {"H_MORE_THAN_ONE_CC", 0}, {"H_MSGID_DOMAIN", 0}, {"H_MORE_THAN_5_PARTS_NEW", 0}, {"H_FEW_WORDS", 0},
    {"H_LONG_SIZE", 0}, {"H_PROTOCOL_IS_HTTP", 0}, {"H_PROTOCOL_IS_HTTPS", 0}, {"H_PROTOCOL_IS_FTP", 0},
    {"H_PROTOCOL_IS_FILE", 0}, {"H_PROTOCOL_IS_RES", 0}, {"H_URL_HAS_WWW", 0}, {"H_HAS_VERISIGN", 0},
};

TEST(CodeHeur, RegistersEveryHeuristicInTableOrder) {
  tervo_test::CapturingTrace trace;
  CCodeHeurEngine engine;
  const auto texts = trace.texts();
  std::vector<std::string> bound;
  for (size_t i = 0; i < texts.size(); ++i) {
    if (texts[i].rfind("Rule [", 0) != 0) continue;
    bound.push_back(texts[i].substr(6, texts[i].find(']') - 6));
    EXPECT_EQ(trace.levels()[i], 3) << texts[i];
  }
  ASSERT_EQ(bound.size(), std::size(kHeuristics));
  for (size_t i = 0; i < bound.size(); ++i) {
    EXPECT_EQ(bound[i], kHeuristics[i].name) << i;
    EXPECT_TRUE(engine.HasHeuristic(sstring(kHeuristics[i].name))) << kHeuristics[i].name;
    EXPECT_EQ(engine.GetHeuristicType(sstring(kHeuristics[i].name)), kHeuristics[i].type) << i;
  }
  EXPECT_EQ(texts[69], "Rule [H_HAS_VERISIGN] bound to function [HasVerisign]");
  // The warm-up call of pfPartsEncodingID raised for its null arguments; it was swallowed.
  EXPECT_EQ(texts.back(), "ASException - MESSAGE: invalid engines handle");
}

TEST(CodeHeur, ChecksItsArgumentsAndComparesNamesExactly) {
  CCodeHeurEngine engine;
  nsAssl::Engines engines;
  nsAssl::CImContextInterface context;
  tervo_test::CapturingTrace trace;
  const std::string unknown =
      "A heuristic function is called from the script but has no definition!";
  const struct {
    const char* name;
    void *engines, *context;
    std::string text;
  } cases[] = {
      {"H_MAIL_SIZE", nullptr, &context, "invalid engines handle"},
      {"H_NO_SUCH", nullptr, nullptr, "invalid engines handle"},  // before the look-up
      {"H_NO_SUCH", &engines, nullptr, "invalid context handle"},
      {"h_mail_header_summary", &engines, &context, unknown},
      {"H_MAIL_HEADER_SUMMARY ", &engines, &context, unknown},
  };
  for (const auto& c : cases) {
    EXPECT_THROW(engine.RunHeuristic(sstring(c.name), c.engines, c.context, nullptr), ASException);
    EXPECT_EQ(trace.texts().back(), "ASException - MESSAGE: " + c.text) << c.name;
    if (c.text != unknown) continue;
    EXPECT_FALSE(engine.HasHeuristic(sstring(c.name))) << c.name;
    EXPECT_EQ(engine.GetHeuristicType(sstring(c.name)), nsCodeHeur::FT_NONE) << c.name;
  }
  // Called directly, a heuristic checks for itself.
  EXPECT_THROW(engine.pfMailSize(nullptr, &context, nullptr), ASException);
  EXPECT_EQ(trace.texts().back(), "ASException - MESSAGE: invalid engines handle");
  EXPECT_THROW(engine.HasVerisign(&engines, nullptr, nullptr), ASException);
  EXPECT_EQ(trace.texts().back(), "ASException - MESSAGE: invalid context handle");
}

TEST(CodeHeur, EveryHeuristicScoresZeroAndStoresNothingOnAnImMessage) {
  CCodeHeurEngine engine;
  nsAssl::Engines engines;
  nsAssl::CImContextInterface context;
  unsigned char feature[64], untouched[64];  // stands in for a feature: any write shows
  memset(feature, 0xA5, sizeof feature);
  memcpy(untouched, feature, sizeof feature);
  auto* stand_in = reinterpret_cast<nsCodeHeur::CAFeature*>(feature);
  for (const auto& h : kHeuristics) {
    EXPECT_EQ(engine.RunHeuristic(sstring(h.name), &engines, &context, stand_in), 0.0f) << h.name;
    EXPECT_EQ(memcmp(feature, untouched, sizeof feature), 0) << h.name;
  }
}

}  // namespace
