#include "src/engines/assl/parser/rule_printer.h"

namespace nsAssl {

namespace {

struct CodeText {
  int32_t code;
  const char* text;
};

constexpr CodeText kPlaces[] = {
    {kHeadersAll, "Headers::ALL"},   {kHeadersNamed, "Headers"},
    {kHeadersCollection, "Headers::Collection"},
    {kPartsAll, "Parts::ALL"},       {kPartsText, "Parts::Text"},
    {kPartsTextPlain, "Parts::TextPlain"}, {kPartsTextHtml, "Parts::TextHTML"},
    {kPartsMulti, "Parts::Multi"},   {kUrlsAll, "Urls::ALL"},
    {kPartHeadersAll, "PartHeaders::ALL"}, {kPartHeadersNamed, "PartHeaders"},
    {kHtmlBody, "HTML::Body"},       {kHtmlUrl, "HTML::Url"},
    {kHtmlTitle, "HTML::Title"},     {kHtmlMeta, "HTML::Meta"},
    {kHtmlForms, "HTML::Forms"},     {kHtmlComments, "HTML::Comments"},
    {kHtmlImages, "HTML::Images"},   {kHtmlAHref, "HTML::AHref"},
    {kHtmlScript, "HTML::Script"},   {kUrlHost, "Url::Host"},
    {kUrlPath, "Url::Path"},         {kUrlParams, "Url::Params"},
    {kImText, "IM::Text"},
};

constexpr CodeText kHows[] = {
    {kExact, "EXACT"},         {kExactInsensitive, "EXACT_INSENSITIVE"},
    {kObfuscated, "OBFUSCATED"}, {kRegex, "REGEX"},
    {kRegexInsensitive, "REGEX_INSENSITIVE"}, {kIpRange, "IP_RANGE"},
    {kIpClass, "IP_CLASS"},    {kIpMask, "IP_MASK"},
    {kRegexSummary, "REGEX_SUMMARY"},
};

const char* Lookup(const CodeText* table, size_t n, int32_t code) {
  for (size_t i = 0; i < n; ++i) {
    if (table[i].code == code) return table[i].text;
  }
  return "?";
}

// Binding strength of an operator: 1 the loosest.
int Level(int32_t op) {
  switch (op) {
    case kOpOr: case kOpAllOr: return 1;
    case kOpAnd: case kOpAllAnd: return 2;
    case kOpEq: case kOpNe: return 3;
  }
  return 4;  // !
}

std::string Quoted(const ascommon::String& text) {
  return "\"" + std::string(text.data(), text.size()) + "\"";
}

std::string Plain(const ascommon::String& text) { return std::string(text.data(), text.size()); }

// An attribute's value as written: a literal, or a name or number.
std::string Value(const RecordedAttribute* a, bool literal) {
  if (a == nullptr) return "?";
  if (a->kind == RecordedAttribute::kNumber) return std::to_string(a->number);
  return literal ? Quoted(a->text) : Plain(a->text);
}

// The value of whichever of the two attributes the item has.
std::string Either(const RecordedItem& item, int32_t literal_code, int32_t other_code,
                   bool other_literal = false) {
  if (const RecordedAttribute* a = item.Find(literal_code)) return Value(a, true);
  return Value(item.Find(other_code), other_literal);
}

std::string Place(const RecordedItem& item, int32_t place_code) {
  const RecordedAttribute* place = item.Find(place_code);
  if (place == nullptr) return "?";
  std::string out = PlaceText(place->number);
  if (place->number == kHeadersNamed) out += "::" + Value(item.Find(kAttrHeaderName), true);
  if (place->number == kPartHeadersNamed) out += "::" + Value(item.Find(kAttrPartHeaderName), true);
  if (place->number == kHeadersCollection) out += ", " + Value(item.Find(kAttrExistsCollection), true);
  return out;
}

std::string PrintItem(const RecordedItem& item) {
  auto find = [&item](int32_t code, bool literal) { return Value(item.Find(code), literal); };
  switch (item.code) {
    case kCondNone: return "none";
    case kCondExpr: {
      const RecordedAttribute* root = item.Find(kAttrExprRoot);
      return PrintExpr(root != nullptr ? root->expr : nullptr);
    }
    case kCondMatch: {
      std::string out = "match(" + find(kAttrMatchWhat, true) + ", " + Place(item, kAttrMatchWhere) +
                        ", " + HowText(item.Find(kAttrMatchHow) ? item.Find(kAttrMatchHow)->number : 0);
      if (const RecordedAttribute* mode = item.Find(kAttrMatchPartMode)) {
        out += mode->number == kPartRaw ? ", RAW" : ", DECODED";
      }
      return out + ")";
    }
    case kCondExists: return "exists(" + Place(item, kAttrExistsWhat) + ")";
    case kCondIsEmpty: return "is_empty(" + Place(item, kAttrEmptyWhat) + ")";
    case kCondExec: return "exec(" + find(kAttrCondExecName, false) + ")";
    case kCondKnnCateg:
      return "is_knn_categ(" + find(kAttrKnnCategory, true) + ", " + find(kAttrKnnNumber, false) + ")";
    case kCondScoreGreater:
      return "score_greater_than(" + find(kAttrScoreName, false) + ", " +
             Either(item, kAttrScoreCompareValue, kAttrScoreCompareName) + ")";
    case kCondSizeGreater: {
      const RecordedAttribute* what = item.Find(kAttrSizeWhat);
      return std::string("size_greater_than(Message::") +
             (what != nullptr && what->number == kSizeAnyAttachment ? "AnyAttachmentSize" : "TotalSize") +
             ", " + find(kAttrSizeLimit, false) + ")";
    }
    case kActSetCategory:
      return "set_category(" + Either(item, kAttrCategoryLiteral, kAttrCategoryName) + ")";
    case kActIncreaseScore:
      return "increase_score(" + find(kAttrIncreaseOf, false) + ", " +
             Either(item, kAttrIncreaseByValue, kAttrIncreaseByName) + ")";
    case kActMark:
      return "mark(" + Either(item, kAttrMarkCategoryLiteral, kAttrMarkCategoryName) + ", " +
             Either(item, kAttrMarkScoreValue, kAttrMarkScoreName) + ")";
    case kActExec: return "exec(" + find(kAttrActExecName, false) + ")";
    case kActAddHeader:
    case kActAddToHeader:
      return std::string(item.code == kActAddHeader ? "add_header(" : "add_to_header(") +
             Either(item, kAttrHeaderLiteral, kAttrHeaderNamed) + ", " + find(kAttrHeaderValue, true) + ")";
    case kMetaState: {
      const RecordedAttribute* state = item.Find(kAttrState);
      return std::string("enabled = ") + (state != nullptr && state->number != 0 ? "true" : "false");
    }
    case kMetaRelevance: return "relevance = " + find(kAttrRelevance, false);
    case kMetaComment: return "comment = " + find(kAttrComment, true);
    case kMetaPriority: return "priority = " + find(kAttrPriority, false);
  }
  return "?";
}

}  // namespace

const char* PlaceText(int32_t place) {
  return Lookup(kPlaces, sizeof kPlaces / sizeof kPlaces[0], place);
}

const char* HowText(int32_t how) { return Lookup(kHows, sizeof kHows / sizeof kHows[0], how); }

std::string PrintExpr(const expr_t* node) {
  if (node == nullptr) return "?";
  if (node->leaf) {
    if (node->value_type == kValueBool) return node->boolean ? "true" : "false";
    if (node->value_type == kValueName) return Plain(node->name);
    return "?";
  }
  const int level = Level(node->op);
  auto operand = [](const expr_t* child, bool bare) {
    std::string text = PrintExpr(child);
    return bare ? text : "(" + text + ")";
  };
  auto bare_at = [](const expr_t* child, int min_level) {
    return child == nullptr || child->leaf || Level(child->op) >= min_level;
  };
  if (node->op == kOpNot) return "!" + operand(node->left, node->left == nullptr || node->left->leaf);
  // Left-associative: a left operand of the same level needs no parentheses,
  // a right one does.
  return operand(node->left, bare_at(node->left, level)) + " " + OperatorText(node->op) + " " +
         operand(node->right, bare_at(node->right, level + 1));
}

std::string PrintRule(const RecordedRule& rule) {
  std::string sections[3];
  for (const RecordedItem& item : rule.items) {
    const int section = item.group - kGroupCondition;
    if (section < 0 || section > 2) continue;
    if (!sections[section].empty()) sections[section] += " ";
    sections[section] += PrintItem(item) + ";";
  }
  std::string out = (rule.kind == kMetaRule ? "metarule " : "rule ") + Plain(rule.name) + " {\n";
  const char* heads[3] = {"  condition: ", "  actions: ", "  metadata: "};
  for (int i = 0; i < 3; ++i) {
    out += heads[i] + (sections[i].empty() ? std::string("none;") : sections[i]) + "\n";
  }
  return out + "}\n";
}

}  // namespace nsAssl
