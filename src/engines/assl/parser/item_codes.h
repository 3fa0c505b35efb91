// The numbers through which the rule-language parser tells the rule builder
// what a rule says: item groups, item codes, attribute codes and the value
// codes of places, match kinds and part modes. Fixed: rule files are parsed
// into these and the builder reads nothing else.
#ifndef TERVO_SRC_ENGINES_ASSL_PARSER_ITEM_CODES_H_
#define TERVO_SRC_ENGINES_ASSL_PARSER_ITEM_CODES_H_

#include <stdint.h>

namespace nsAssl {

// Item groups.
enum ItemGroup : int32_t {
  kGroupCondition = 20,
  kGroupAction = 21,
  kGroupMetainfo = 22,
};

// Rule kinds.
enum RuleKind : int32_t {
  kSimpleRule = 0,
  kMetaRule = 1,
};

// Condition items (group 20) and their attributes.
enum ConditionCode : int32_t {
  kCondNone = 100,       // attribute kAttrNone
  kCondExpr = 101,       // kAttrExprRoot
  kCondMatch = 102,
  kCondExists = 103,
  kCondIsEmpty = 104,
  kCondExec = 105,
  kCondKnnCateg = 106,
  kCondScoreGreater = 107,
  kCondSizeGreater = 108,
};

// Action items (group 21).
enum ActionCode : int32_t {
  kActSetCategory = 1000,
  kActIncreaseScore = 1001,
  kActMark = 1002,
  kActExec = 1003,
  kActAddHeader = 1004,
  kActAddToHeader = 1005,
};

// Metainfo items (group 22).
enum MetainfoCode : int32_t {
  kMetaState = 2000,
  kMetaRelevance = 2001,
  kMetaComment = 2002,
  kMetaPriority = 2003,
};

// Attribute codes. Values are numbers unless marked (text) or (expr).
enum AttributeCode : int32_t {
  kAttrNone = 100,              // condition: none
  kAttrMatchWhat = 120,         // (text)
  kAttrMatchWhere = 121,        // a place code
  kAttrMatchHow = 122,          // a how code
  kAttrMatchPartMode = 123,     // kPartRaw or kPartDecoded
  kAttrExistsWhat = 130,        // a place code
  kAttrExistsCollection = 131,  // (text) the collection's header name
  kAttrEmptyWhat = 140,         // a place code
  kAttrCondExecName = 150,      // (text)
  kAttrKnnCategory = 160,       // (text)
  kAttrKnnNumber = 161,         // 100 when left out
  kAttrScoreName = 170,         // (text)
  kAttrScoreCompareName = 171,  // (text)
  kAttrScoreCompareValue = 172,
  kAttrSizeWhat = 180,          // kSizeTotal or kSizeAnyAttachment
  kAttrSizeLimit = 181,
  kAttrHeaderName = 202,        // (text) of Headers::"x"
  kAttrPartHeaderName = 262,    // (text) of PartHeaders::"x" in a match
  kAttrExprRoot = 250,          // (expr)
  kAttrCategoryName = 1020,     // (text) set_category(name)
  kAttrCategoryLiteral = 1021,  // (text) set_category("literal")
  kAttrIncreaseOf = 1030,       // (text) the score variable
  kAttrIncreaseByName = 1031,   // (text)
  kAttrIncreaseByValue = 1032,
  kAttrMarkCategoryName = 1040,     // (text)
  kAttrMarkCategoryLiteral = 1041,  // (text)
  kAttrMarkScoreName = 1042,        // (text)
  kAttrMarkScoreValue = 1043,
  kAttrActExecName = 1050,       // (text)
  kAttrHeaderLiteral = 1060,     // (text)
  kAttrHeaderNamed = 1061,       // (text)
  kAttrHeaderValue = 1062,       // (text)
  kAttrState = 2020,             // 1 true, 0 false
  kAttrRelevance = 2030,
  kAttrComment = 2040,           // (text)
  kAttrPriority = 2050,
};

// Place value codes (attributes 121, 130, 140).
enum PlaceCode : int32_t {
  kHeadersAll = 200,
  kHeadersNamed = 201,
  kHeadersCollection = 203,
  kHeadersSubject = 204,  // set by the builder for phrase matching on SUBJECT
  kPartsAll = 210,
  kPartsText = 211,
  kPartsTextPlain = 212,
  kPartsTextHtml = 213,
  kPartsMulti = 214,
  kUrlsAll = 220,
  kPartHeadersAll = 260,
  kPartHeadersNamed = 261,
  kHtmlBody = 280,
  kHtmlUrl = 281,
  kHtmlTitle = 282,
  kHtmlMeta = 283,
  kHtmlForms = 284,
  kHtmlComments = 285,
  kHtmlImages = 286,
  kHtmlAHref = 287,
  kHtmlScript = 288,
  kUrlHost = 300,
  kUrlPath = 301,
  kUrlParams = 302,
  kImText = 310,
};

// How value codes (attribute 122).
enum HowCode : int32_t {
  kExact = 230,
  kExactInsensitive = 231,
  kObfuscated = 232,
  kRegex = 233,
  kRegexInsensitive = 234,
  kIpRange = 235,
  kIpClass = 236,
  kIpMask = 237,
  kRegexSummary = 238,
};

// Part modes (attribute 123) and sizes (attribute 180).
enum PartMode : int32_t { kPartRaw = 240, kPartDecoded = 241 };
enum SizeWhat : int32_t { kSizeTotal = 270, kSizeAnyAttachment = 271 };

}  // namespace nsAssl

#endif  // TERVO_SRC_ENGINES_ASSL_PARSER_ITEM_CODES_H_
