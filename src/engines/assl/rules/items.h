// The pieces a rule is made of: its condition, its actions and its metainfo
// items, each built from one item the parser recorded and keeping that item's
// codes and values. Built once, then read-only: any thread may read them.
#ifndef TERVO_SRC_ENGINES_ASSL_RULES_ITEMS_H_
#define TERVO_SRC_ENGINES_ASSL_RULES_ITEMS_H_

#include <stdint.h>

#include "common/asalloc.h"
#include "common/sstring.h"
#include "src/engines/assl/acontextif.h"
#include "src/engines/assl/engines.h"
#include "src/engines/assl/parser/item_codes.h"
#include "src/engines/assl/parser/recorded_rule.h"
#include "src/engines/assl/rules/prefilter.h"

namespace nsAssl {

using ascommon::sstring;

// The base of conditions, actions and metainfo: the item group it came from
// and its item code within that group.
class AItem {
 public:
  AItem(int32_t kind, int32_t type) : kind_(kind), type_(type) {}
  virtual ~AItem() = default;
  AItem(const AItem&) = delete;
  AItem& operator=(const AItem&) = delete;
  int32_t kind() const { return kind_; }  // kGroupCondition, kGroupAction or kGroupMetainfo
  // A ConditionCode, ActionCode or MetainfoCode.
  int32_t type() const { return type_; }

 private:
  int32_t kind_;
  int32_t type_;
};

// ---------------------------------------------------------------- conditions

class ACondition : public AItem {
 public:
  explicit ACondition(int32_t type) : AItem(kGroupCondition, type) {}

  // Prepares the condition once, before its rule first runs; raises
  // ASException when it cannot be used.
  virtual void Init(Engines*) {}
  // The condition's result on one item's context; raises ASException on a
  // failure.
  virtual float Evaluate(Engines* engines, ContextInterface* context) = 0;
};

// condition: none; fires whenever its rule runs.
class NoCondition : public ACondition {
 public:
  NoCondition() : ACondition(kCondNone) {}
  float Evaluate(Engines*, ContextInterface*) override { return 1.0f; }
};

// An expression over other rules; owns every node of its tree.
class ExprCondition : public ACondition {
 public:
  ExprCondition(expr_t* root, ascommon::Vector<expr_t*> nodes)
      : ACondition(kCondExpr), root_(root), nodes_(std::move(nodes)) {}
  ~ExprCondition() override;
  const expr_t* root() const { return root_; }
  // Resolves each rule name into its index and initialises that rule.
  void Init(Engines* engines) override;
  float Evaluate(Engines* engines, ContextInterface* context) override;

  static constexpr int kMaxDepth = 100;

 private:
  float EvaluateNode(const expr_t* node, int depth, Engines* engines, ContextInterface* context);

  expr_t* root_;
  ascommon::Vector<expr_t*> nodes_;
};

// match(what, where, how[, part mode]).
class MatchCondition : public ACondition {
 public:
  MatchCondition() : ACondition(kCondMatch) {}
  // Whether the match compiles a regular expression (REGEX,
  // REGEX_INSENSITIVE, REGEX_SUMMARY), and whether its place allows it:
  // summaries only on text parts and on all headers.
  bool IsRegex() const { return how == kRegex || how == kRegexInsensitive || how == kRegexSummary; }
  bool RegexPlaceAllowed() const;
  // The pattern compiled: the text, lower-cased for REGEX_INSENSITIVE (the
  // text searched is lower-cased too). Answers 0 or the string's error.
  int32_t Pattern(sstring* out) const;

  ~MatchCondition() override;
  // Compiles the pattern of a regex match; logs the CF MATCH line.
  void Init(Engines* engines) override;
  float Evaluate(Engines* engines, ContextInterface* context) override;
  bool is_cf() const { return cf_; }
  // For explanations, on an IM context: whether the match reads the second
  // text, and the span of its first match there. False when the context has
  // not both texts or the place is not IM::Text (*second is set then too),
  // or when nothing matches.
  bool FindOnIm(ContextInterface* context, bool* second, size_t* begin, size_t* end) const;
  bool has_regex() const { return regex_ != nullptr; }
  // The rule set's prefilter holds the pattern as number `id` (Prefilter::Add).
  void SetPrefilter(const Prefilter* prefilter, int32_t id) {
    prefilter_ = prefilter;
    prefilter_id_ = id;
  }
  void ClearPrefilter() { SetPrefilter(nullptr, -1); }
  // The pattern's number in the prefilter's set of its text; -1 when the
  // prefilter does not hold it.
  int32_t prefilter_id() const { return prefilter_id_; }
  // Whether Evaluate would answer 0.0 on `context` without running the
  // pattern: the prefilter's scan of the item rules it out.
  bool RuledOut(ContextInterface* context) const;
  bool reads_second_text() const { return how == kRegexInsensitive || how == kExactInsensitive; }

  sstring what;         // the text or pattern, as written
  int32_t where = 0;    // a PlaceCode
  sstring header_name;  // of Headers::"x" and PartHeaders::"x"
  int32_t how = 0;      // a HowCode
  int32_t part_mode = 0;  // kPartRaw, kPartDecoded, or 0 when not given

 private:
  // The text an exact match looks for: lower-cased for EXACT_INSENSITIVE.
  int32_t ExactText(sstring* needle) const;

  bool cf_ = false;
  nsFernwick::RegExLib* lib_ = nullptr;  // that made regex_
  FernwickRegEx* regex_ = nullptr;
  const Prefilter* prefilter_ = nullptr;
  int32_t prefilter_id_ = -1;
};

inline constexpr char kPhrasePrefix[] = "(phrase matching)?";

// A match whose text starts with "(phrase matching)?" on a text place, an
// HTML place or the SUBJECT header (place kHeadersSubject): phrase matching.
//
// The text after the prefix is a list of phrases separated by '|'; each
// phrase is the sequence of its words as the phrase tokenizer hashes them,
// so "(phrase matching)?meet me | our secret" holds two phrases of two words.
class TokenMatchCondition : public MatchCondition {
 public:
  // Splits the text into phrases; ASException "the match string does not
  // contain any phrase" when no piece holds a word.
  void Init(Engines* engines) override;
  float Evaluate(Engines* engines, ContextInterface* context) override;
  size_t phrase_count() const { return ends_.size(); }
  // Whether some phrase occurs as consecutive words of `tokens`.
  bool FindIn(const uint32_t* tokens, uint32_t count) const;

 private:
  ascommon::Vector<uint32_t> words_;  // the phrases' hashes, one phrase after another
  ascommon::Vector<size_t> ends_;     // where each phrase ends in words_
};

// exists(place) and is_empty(place).
class ExistsCondition : public ACondition {
 public:
  ExistsCondition() : ACondition(kCondExists) {}
  float Evaluate(Engines* engines, ContextInterface* context) override;
  int32_t what = 0;
  sstring header_name;
  sstring collection;  // the header name of Headers::Collection
};

class IsEmptyCondition : public ACondition {
 public:
  IsEmptyCondition() : ACondition(kCondIsEmpty) {}
  float Evaluate(Engines* engines, ContextInterface* context) override;
  int32_t what = 0;
  sstring header_name;
};

// exec(function): a function of the code heuristics engine.
class ExecCondition : public ACondition {
 public:
  ExecCondition() : ACondition(kCondExec) {}
  float Evaluate(Engines* engines, ContextInterface* context) override;
  sstring function;
};

// is_knn_categ(category[, number]).
class KNNCategCondition : public ACondition {
 public:
  KNNCategCondition() : ACondition(kCondKnnCateg) {}
  void Init(Engines*) override;
  float Evaluate(Engines* engines, ContextInterface* context) override;
  sstring category;
  int32_t number = 100;
};

// score_greater_than(variable, constant or name).
class ScoreGreaterCondition : public ACondition {
 public:
  ScoreGreaterCondition() : ACondition(kCondScoreGreater) {}
  float Evaluate(Engines* engines, ContextInterface* context) override;
  sstring variable;
  int32_t compare_kind = 0;  // kAttrScoreCompareValue or kAttrScoreCompareName
  int32_t value = 0;
  sstring compare_name;
};

// size_greater_than(Message::TotalSize or AnyAttachmentSize, limit).
class SizeGreaterCondition : public ACondition {
 public:
  SizeGreaterCondition() : ACondition(kCondSizeGreater) {}
  float Evaluate(Engines* engines, ContextInterface* context) override;
  int32_t what = 0;  // kSizeTotal or kSizeAnyAttachment
  int32_t limit = 0;
};

// ------------------------------------------------------------------- actions

class AAction : public AItem {
 public:
  explicit AAction(int32_t type) : AItem(kGroupAction, type) {}

  // Nothing to prepare for any action.
  virtual void Init(Engines*) {}
  // Performs the action on the item's context; raises ASException.
  virtual void Execute(Engines* engines, ContextInterface* context) = 0;
};

// The kinds below start as a literal category, a constant increment and a
// constant score; the builder sets the kinds the rule's text gives.
class SetCategoryAction : public AAction {
 public:
  SetCategoryAction() : AAction(kActSetCategory) {}
  void Execute(Engines* engines, ContextInterface* context) override;
  sstring category;
  int32_t kind = kAttrCategoryLiteral;  // or kAttrCategoryName
};

class IncreaseScoreAction : public AAction {
 public:
  IncreaseScoreAction() : AAction(kActIncreaseScore) {}
  void Execute(Engines* engines, ContextInterface* context) override;
  int32_t increment = 0;
  sstring increment_name;
  int32_t increment_kind = kAttrIncreaseByValue;  // or kAttrIncreaseByName
  sstring variable;
};

class MarkAction : public AAction {
 public:
  MarkAction() : AAction(kActMark) {}
  void Execute(Engines* engines, ContextInterface* context) override;
  int32_t score = 0;
  sstring score_name;
  int32_t score_kind = kAttrMarkScoreValue;  // or kAttrMarkScoreName
  sstring category;
  int32_t category_kind = kAttrMarkCategoryLiteral;  // or kAttrMarkCategoryName
};

class ExecAction : public AAction {
 public:
  ExecAction() : AAction(kActExec) {}
  void Execute(Engines* engines, ContextInterface* context) override;
  sstring heuristic;
};

// add_header(name, value) and add_to_header(name, value).
class AddHeaderAction : public AAction {
 public:
  AddHeaderAction() : AAction(kActAddHeader) {}
  // Headers belong to mail items: on other contexts the handle checks fail.
  void Execute(Engines* engines, ContextInterface* context) override;
  sstring name;
  int32_t name_kind = 0;  // kAttrHeaderLiteral or kAttrHeaderNamed
  sstring value;

 protected:
  explicit AddHeaderAction(int32_t type) : AAction(type) {}
};

class AddToHeaderAction : public AddHeaderAction {
 public:
  AddToHeaderAction() : AddHeaderAction(kActAddToHeader) {}
};

// ------------------------------------------------------------------ metainfo

class AMetainfo : public AItem {
 public:
  explicit AMetainfo(int32_t type) : AItem(kGroupMetainfo, type) {}
  // The value; ASException "specific metainfo type %d does not have an
  // integer value" (or "a string value") for the other kind.
  virtual int32_t IntValue() const;
  virtual const sstring& StringValue() const;
};

class IntMetainfo : public AMetainfo {
 public:
  IntMetainfo(int32_t type, int32_t value) : AMetainfo(type), value_(value) {}
  int32_t IntValue() const override { return value_; }

 private:
  int32_t value_;
};

class StateMetainfo : public IntMetainfo {  // enabled = true/false: 1 or 0
 public:
  explicit StateMetainfo(int32_t value) : IntMetainfo(kMetaState, value) {}
};
class RelevanceMetainfo : public IntMetainfo {
 public:
  explicit RelevanceMetainfo(int32_t value) : IntMetainfo(kMetaRelevance, value) {}
};
class PriorityMetainfo : public IntMetainfo {
 public:
  explicit PriorityMetainfo(int32_t value) : IntMetainfo(kMetaPriority, value) {}
};

class CommentMetainfo : public AMetainfo {
 public:
  explicit CommentMetainfo(const sstring& text) : AMetainfo(kMetaComment), text_(text) {}
  const sstring& StringValue() const override { return text_; }

 private:
  sstring text_;
};

}  // namespace nsAssl

#endif  // TERVO_SRC_ENGINES_ASSL_RULES_ITEMS_H_
