// The rule-language parser: a flex scanner and a bison LALR(1) grammar
// (lexer.l, grammar.y) driven over one parser state, which records each rule
// as the grammar reduces it and hands every finished rule to a rule sink.
//
// The scanner and parser are reentrant: all their state lives in the
// ParserState, so several states may parse at once on different threads. One
// state is used by one thread at a time.
#ifndef TERVO_SRC_ENGINES_ASSL_PARSER_PARSER_STATE_H_
#define TERVO_SRC_ENGINES_ASSL_PARSER_PARSER_STATE_H_

#include <stddef.h>
#include <stdint.h>

#include <initializer_list>

#include "common/asalloc.h"
#include "src/engines/assl/parser/recorded_rule.h"

namespace nsAssl {

// Where finished rules go: the engine's rule table, or a tool's list.
class RuleSink {
 public:
  virtual ~RuleSink() = default;
  // The number of rules held: the index the next rule gets.
  virtual uint64_t RuleCount() const = 0;
  // Builds and stores the rule at index RuleCount(); false when no rule
  // could be made of it (the sink logs why).
  virtual bool AddRule(ascommon::UniquePtr<RecordedRule> rule) = 0;
  // Enters `name` into the name index for `index`; false when the name is
  // already there (the index keeps the first rule of that name).
  virtual bool AddName(const ascommon::String& name, uint64_t index) = 0;
};

// Sees each message of the parse and of rule building that a rule author
// must read, besides the log: errors (syntax errors, recoveries, pieces that
// cannot be built), discarded rules and warnings.
class ParseListener {
 public:
  enum Kind { kError, kDiscarded, kWarning };
  virtual ~ParseListener() = default;
  virtual void OnMessage(Kind kind, int line, const char* text) = 0;
};

// The values a grammar action passes for one attribute.
struct AttributeValue {
  int32_t code;
  RecordedAttribute::Kind kind;
  int32_t number;
  const char* text;  // kText: not terminated
  size_t length;
  expr_t* expr;

  static AttributeValue Number(int32_t code, int32_t value) {
    return {code, RecordedAttribute::kNumber, value, nullptr, 0, nullptr};
  }
  static AttributeValue Text(int32_t code, const char* text, size_t length) {
    return {code, RecordedAttribute::kText, 0, text, length, nullptr};
  }
  static AttributeValue Expr(int32_t code, expr_t* root) {
    return {code, RecordedAttribute::kExpr, 0, nullptr, 0, root};
  }
};

// Results of Parse.
inline constexpr int kParseAccepted = 0;
inline constexpr int kParseSyntaxError = 1;
inline constexpr int kParseExhausted = 2;

class ParserState {
 public:
  // Logs "the parser state info is about to be created".
  explicit ParserState(RuleSink* sink, ParseListener* listener = nullptr);
  // Logs "... about to be destructed" and, with a rule still current,
  // "releasing current rule".
  ~ParserState();
  ParserState(const ParserState&) = delete;
  ParserState& operator=(const ParserState&) = delete;

  // The input: the whole file at `path` (false when it cannot be read), or
  // a copy of `length` bytes of text parsed under `name` (the engine's
  // update text is "inc-buffer"). Either resets the line counter to 1.
  bool SetInputFile(const char* path);
  void SetInputString(const char* text, size_t length, const char* name);

  // Parses the input to its end: kParseAccepted, kParseSyntaxError when the
  // grammar could not recover, kParseExhausted when its stack ran out.
  int Parse();

  // Rule building, called by the grammar. Each but BeginRule raises
  // ASException "no current rule" between rules.
  void BeginRule(const char* name, size_t length, int32_t kind);
  void AddItem(int32_t group, int32_t code, const AttributeValue* attributes, size_t count);
  void AddItem(int32_t group, int32_t code, std::initializer_list<AttributeValue> attributes) {
    AddItem(group, code, attributes.begin(), attributes.size());
  }
  // Completes the current rule: discards it when it holds errors, else ends
  // it; then no rule is current.
  void CompleteRule();
  void EndRule();
  void DiscardRule();

  // Expression nodes, registered with the current rule.
  expr_t* NewBoolLeaf(bool value);
  expr_t* NewNameLeaf(const char* name, size_t length);
  expr_t* NewOperator(int32_t op, expr_t* left, expr_t* right);

  // Error reporting by the grammar: a syntax error text from the parser, and
  // a recovery point's message (which marks the current rule, if any).
  void SyntaxError(const char* message);
  void Recover(const char* message);

  // Scanner support.
  void NewLine() { ++line_; }
  void UnclosedComment();
  int line() const { return line_; }
  const char* file_name() const { return file_name_.c_str(); }
  bool has_current_rule() const { return current_ != nullptr; }
  bool error_flag() const { return error_; }

 private:
  RecordedRule* Current();
  // A blank node registered with the current rule.
  expr_t* NewNode();
  void Tell(ParseListener::Kind kind, int line, const char* text);

  RuleSink* sink_;
  ParseListener* listener_;
  ascommon::UniquePtr<RecordedRule> current_;
  bool error_ = false;
  ascommon::String file_name_;
  int line_ = 1;
  int error_line_ = 1;  // of the last syntax error
  // The input with the two terminating zero bytes the scanner needs.
  ascommon::String input_;
};

}  // namespace nsAssl

#endif  // TERVO_SRC_ENGINES_ASSL_PARSER_PARSER_STATE_H_
