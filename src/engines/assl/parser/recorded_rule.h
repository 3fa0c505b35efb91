// What the parser makes of one rule: its name, kind and line, the items its
// text records (group, item code and attributes, in the order written) and
// the expression nodes its condition uses. The rule builder turns it into a
// CRule; tools print it back as rule text or as one line for tests.
//
// A recorded rule belongs to one thread at a time.
#ifndef TERVO_SRC_ENGINES_ASSL_PARSER_RECORDED_RULE_H_
#define TERVO_SRC_ENGINES_ASSL_PARSER_RECORDED_RULE_H_

#include <stdint.h>

#include <string>

#include "common/asalloc.h"
#include "src/engines/assl/parser/item_codes.h"

namespace nsAssl {

// Leaf value types and operator codes of an expression node.
enum ExprValueType : int32_t { kValueBool = 1, kValueName = 2, kValueIndex = 5 };
enum ExprOperator : int32_t {
  kOpOr = 1,      // ||
  kOpAllOr = 2,   // |||
  kOpAnd = 3,     // &&
  kOpAllAnd = 4,  // &&&
  kOpEq = 5,      // ==
  kOpNe = 6,      // !=
  kOpNot = 7,     // ! (left operand only)
};

// One node of a meta-rule's condition: a leaf (a boolean, a rule name, or
// once the rule is initialised that rule's index) or an operator.
struct expr_t {
  bool leaf = true;
  int32_t value_type = 0;  // leaves: ExprValueType
  int32_t boolean = 0;     // kValueBool: 1 true, 0 false
  ascommon::String name;   // kValueName, as written
  uint64_t index = 0;      // kValueIndex
  int32_t op = 0;          // operators: ExprOperator
  expr_t* parent = nullptr;
  expr_t* left = nullptr;
  expr_t* right = nullptr;
};

// One attribute of an item: a number, a text or an expression root.
struct RecordedAttribute {
  enum Kind : uint8_t { kNumber, kText, kExpr };
  int32_t code = 0;
  Kind kind = kNumber;
  int32_t number = 0;
  ascommon::String text;
  expr_t* expr = nullptr;  // owned by the rule's node list
};

struct RecordedItem {
  int32_t group = 0;
  int32_t code = 0;
  int32_t line = 0;  // where the item's text ends
  ascommon::Vector<RecordedAttribute> attributes;

  // The attribute of that code, or null.
  const RecordedAttribute* Find(int32_t attribute_code) const;
};

class RecordedRule {
 public:
  RecordedRule() = default;
  RecordedRule(const RecordedRule&) = delete;
  RecordedRule& operator=(const RecordedRule&) = delete;
  // Frees the expression nodes it still owns.
  ~RecordedRule();

  ascommon::String name;
  int32_t kind = kSimpleRule;
  int32_t line = 0;  // of the rule's name
  ascommon::Vector<RecordedItem> items;
  // Every expression node made for the rule, freed with it unless taken.
  ascommon::Vector<expr_t*> nodes;

  // Gives up the expression nodes: whoever takes the root owns them now.
  ascommon::Vector<expr_t*> TakeNodes();

  // The rule on one line, for tests: "rule NAME" or "metarule NAME", then
  // each item as " GROUP/CODE{ATTR:VALUE ...}" with texts quoted as written
  // and expressions in prefix form, e.g. `250:(&& a (! b))`.
  std::string Dump() const;
};

// The expression in prefix form: `true`, `name`, `#5` for an index,
// `(OP left right)` and `(! operand)`.
std::string DumpExpr(const expr_t* node);
// The operator's text: "||", "|||", "&&", "&&&", "==", "!=", "!"; "?" else.
const char* OperatorText(int32_t op);

}  // namespace nsAssl

#endif  // TERVO_SRC_ENGINES_ASSL_PARSER_RECORDED_RULE_H_
