#include "src/engines/assl/parser/recorded_rule.h"

namespace nsAssl {

const RecordedAttribute* RecordedItem::Find(int32_t attribute_code) const {
  for (const RecordedAttribute& a : attributes) {
    if (a.code == attribute_code) return &a;
  }
  return nullptr;
}

RecordedRule::~RecordedRule() {
  for (expr_t* node : nodes) ascommon::Delete(node);
}

ascommon::Vector<expr_t*> RecordedRule::TakeNodes() {
  ascommon::Vector<expr_t*> taken;
  taken.swap(nodes);
  return taken;
}

const char* OperatorText(int32_t op) {
  switch (op) {
    case kOpOr: return "||";
    case kOpAllOr: return "|||";
    case kOpAnd: return "&&";
    case kOpAllAnd: return "&&&";
    case kOpEq: return "==";
    case kOpNe: return "!=";
    case kOpNot: return "!";
  }
  return "?";
}

std::string DumpExpr(const expr_t* node) {
  if (node == nullptr) return "null";
  if (node->leaf) {
    switch (node->value_type) {
      case kValueBool: return node->boolean ? "true" : "false";
      case kValueName: return std::string(node->name.data(), node->name.size());
      case kValueIndex: return "#" + std::to_string(node->index);
    }
    return "?";
  }
  std::string out = "(";
  out += OperatorText(node->op);
  out += " " + DumpExpr(node->left);
  if (node->op != kOpNot) out += " " + DumpExpr(node->right);
  return out + ")";
}

std::string RecordedRule::Dump() const {
  std::string out = kind == kMetaRule ? "metarule " : "rule ";
  out.append(name.data(), name.size());
  for (const RecordedItem& item : items) {
    out += " " + std::to_string(item.group) + "/" + std::to_string(item.code) + "{";
    for (size_t i = 0; i < item.attributes.size(); ++i) {
      const RecordedAttribute& a = item.attributes[i];
      if (i > 0) out += " ";
      out += std::to_string(a.code) + ":";
      switch (a.kind) {
        case RecordedAttribute::kNumber: out += std::to_string(a.number); break;
        case RecordedAttribute::kText:
          out += "\"";
          out.append(a.text.data(), a.text.size());
          out += "\"";
          break;
        case RecordedAttribute::kExpr: out += DumpExpr(a.expr); break;
      }
    }
    out += "}";
  }
  return out;
}

}  // namespace nsAssl
