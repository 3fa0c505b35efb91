// Writes recorded rules back as rule text in one layout: the rule's head,
// then its condition, actions and metadata sections on a line each. Parsing
// the text again records the same items, so printing is stable.
#ifndef TERVO_SRC_ENGINES_ASSL_PARSER_RULE_PRINTER_H_
#define TERVO_SRC_ENGINES_ASSL_PARSER_RULE_PRINTER_H_

#include <string>

#include "src/engines/assl/parser/recorded_rule.h"

namespace nsAssl {

// The rule as text, ending in a line break.
std::string PrintRule(const RecordedRule& rule);
// An expression with the parentheses its binding needs and no others.
std::string PrintExpr(const expr_t* node);
// The rule-language text of a place or a how code ("IM::Text", "REGEX"; a
// named header's place prints as its scope, e.g. "Headers"); "?" for a code
// without one.
const char* PlaceText(int32_t place);
const char* HowText(int32_t how);

}  // namespace nsAssl

#endif  // TERVO_SRC_ENGINES_ASSL_PARSER_RULE_PRINTER_H_
