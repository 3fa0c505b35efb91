#include "src/engines/assl/rules/rule.h"

#include <string.h>

#include <string>

#include "src/exceptions/asexception.h"
#include "src/trace/trace.h"

namespace nsAssl {

ExprCondition::~ExprCondition() {
  for (expr_t* node : nodes_) ascommon::Delete(node);
}

bool MatchCondition::RegexPlaceAllowed() const {
  if (how != kRegexSummary) return true;
  return where == kPartsText || where == kPartsTextPlain || where == kPartsTextHtml ||
         where == kHeadersAll;
}

int32_t MatchCondition::Pattern(sstring* out) const {
  if (out->assign(what) != 0) return out->error();
  return how == kRegexInsensitive ? out->UTF8_regex_tolower(false) : 0;
}

int32_t AMetainfo::IntValue() const {
  AS_RAISE(ASException, __LINE__, "specific metainfo type %d does not have an integer value", type());
}

const sstring& AMetainfo::StringValue() const {
  AS_RAISE(ASException, __LINE__, "specific metainfo type %d does not have a string value", type());
}

CRule::~CRule() {
  ascommon::Delete(condition_);
  for (uint64_t i = 0; i < actions_.GetCount(); ++i) ascommon::Delete(actions_[i]);
  for (uint64_t i = 0; i < metainfo_.GetCount(); ++i) ascommon::Delete(metainfo_[i]);
}

void CRule::Init(Engines* engines) {
  if (initializing_) AS_RAISE(ASException, __LINE__, "Cyclic initialization of rule %s", name_.c_str());
  initializing_ = 1;
  try {
    if (!initialized_) {
      condition_->Init(engines);
      for (uint64_t i = 0; i < actions_.GetCount(); ++i) actions_[i]->Init(engines);
      initialized_ = 1;
    }
  } catch (...) {
    initializing_ = 0;
    throw;
  }
  initializing_ = 0;
}

RuleStateInfo* CRule::Record(Engines* engines, ContextInterface* context) {
  if (!enabled_) {
    AS_LOG(0, __LINE__, "rule state for %s is disabled - returning zero", name_.c_str());
    return nullptr;
  }
  if (!initialized_) {
    AS_LOG(0, __LINE__, "rule %s not initialized yet or initialization failed", name_.c_str());
    return nullptr;
  }
  if (context == nullptr) AS_RAISE(ASException, __LINE__, "invalid handle to context");
  if (engines == nullptr) AS_RAISE(ASException, __LINE__, "invalid handle to engines");
  RuleStateInfo* record = context->State(index_);
  if (record == nullptr) AS_RAISE(ASException, __LINE__, "the context has no state for rule %s", name_.c_str());
  return record;
}

void CRule::RunActions(Engines* engines, ContextInterface* context, RuleStateInfo* record) {
  bool failed = false;
  for (uint64_t i = 0; i < actions_.GetCount(); ++i) {
    if (record->action_done[i]) continue;
    try {
      actions_[i]->Execute(engines, context);
      record->action_done[i] = 1;
    } catch (const ASException&) {
      AS_LOG(0, __LINE__, "Rule %s action %d failed to execute", name_.c_str(), static_cast<int>(i));
      failed = true;
    }
  }
  if (failed) AS_RAISE(ASException, __LINE__, "one or more actions failed to execute");
}

float CRule::Exec(Engines* engines, ContextInterface* context) {
  // A match the prefilter rules out answers 0.0 and would leave only a
  // record saying so: skipped while the item has no record of the rule (a
  // record may hold a result given by ExecWithResult). Nothing is logged
  // either way.
  if (enabled_ && initialized_ && condition_->type() == kCondMatch && engines != nullptr && context != nullptr &&
      context->StateUntouched(index_) && static_cast<const MatchCondition*>(condition_)->RuledOut(context)) {
    return 0.0f;
  }
  RuleStateInfo* record = Record(engines, context);
  if (record == nullptr) return 0.0f;
  if (record->executing) {
    AS_RAISE(ASException, __LINE__, "cycled execution of rule %s on the same context", name_.c_str());
  }
  // Executing and current rule are restored on every way out.
  struct Running {
    RuleStateInfo* record;
    ContextInterface* context;
    CRule* previous;
    ~Running() {
      record->executing = 0;
      context->set_current_rule(previous);
    }
  } running{record, context, context->current_rule()};
  record->executing = 1;
  context->set_current_rule(this);
  if (!record->evaluated) {
    const float evaluated = condition_->Evaluate(engines, context);
    if (record->overridden) {
      AS_LOG(0, __LINE__, "the condition evaluation was overriden to %lf",
             static_cast<double>(record->result));
    } else {
      record->result = evaluated;
    }
    if (record->result != 0.0f && context->fired_rules().Add(index_) != 0) {
      AS_RAISE(ASException, __LINE__, "memory problems");
    }
    record->evaluated = 1;
  }
  const float result = record->result;
  if (result != 0.0f) RunActions(engines, context, record);
  return result;
}

float CRule::ExecWithResult(float result, Engines* engines, ContextInterface* context) {
  AS_LOG(0, __LINE__, "Rule %s condition result will be auto set to %lf", name_.c_str(),
         static_cast<double>(result));
  RuleStateInfo* record = Record(engines, context);
  if (record == nullptr) return 0.0f;
  record->overridden = 1;
  record->result = result;
  if (result != 0.0f) RunActions(engines, context, record);
  return result;
}

const AMetainfo* CRule::Metainfo(int32_t type) const {
  for (uint64_t i = 0; i < metainfo_.GetCount(); ++i) {
    if (metainfo_[i]->type() == type) return metainfo_[i];
  }
  return nullptr;
}

int32_t CRule::MetainfoInt(int32_t type) const {
  const AMetainfo* info = Metainfo(type);
  if (info == nullptr) {
    AS_RAISE(ASException, __LINE__, "rule %s has no metainfo of type %d", name_.c_str(), type);
  }
  return info->IntValue();
}

const sstring& CRule::MetainfoString(int32_t type) const {
  const AMetainfo* info = Metainfo(type);
  if (info == nullptr) {
    AS_RAISE(ASException, __LINE__, "rule %s has no metainfo of type %d", name_.c_str(), type);
  }
  return info->StringValue();
}

// Builds the pieces of one rule, logging (and telling the listener) why a
// piece cannot be made.
class RuleBuilder {
 public:
  RuleBuilder(RecordedRule* recorded, ParseListener* listener)
      : recorded_(recorded), listener_(listener) {}
  CRule* Build();

 private:
  ACondition* MakeCondition(const RecordedItem& item);
  ACondition* MakeMatch(const RecordedItem& item);
  AAction* MakeAction(const RecordedItem& item);
  AMetainfo* MakeMetainfo(const RecordedItem& item);
  void Tell(int line, const char* text, ParseListener::Kind kind = ParseListener::kError) {
    if (listener_ != nullptr) listener_->OnMessage(kind, line, text);
  }

  RecordedRule* recorded_;
  ParseListener* listener_;
};

// Logs `text` as a build failure of the item (or rule) at `line` and gives up
// on that piece.
#define BUILD_FAIL(line, text)     \
  do {                             \
    AS_LOG(0, __LINE__, text);     \
    Tell((line), text);            \
    return nullptr;                \
  } while (0)

namespace {

const RecordedAttribute* Text(const RecordedItem& item, int32_t code) {
  const RecordedAttribute* a = item.Find(code);
  return a != nullptr && a->kind == RecordedAttribute::kText ? a : nullptr;
}

const RecordedAttribute* Number(const RecordedItem& item, int32_t code) {
  const RecordedAttribute* a = item.Find(code);
  return a != nullptr && a->kind == RecordedAttribute::kNumber ? a : nullptr;
}

bool IsAscii(const ascommon::String& text) {
  for (unsigned char c : text) {
    if (c > 127) return false;
  }
  return true;
}

void Assign(sstring* to, const ascommon::String& from) {
  to->assign(from.data(), from.size());
  if (to->error() != 0) throw std::bad_alloc();
}

// Whether a match on `where` (with its header name) may be phrase matching.
bool PhrasePlace(int32_t where, const sstring& header) {
  switch (where) {
    case kPartsAll: case kPartsText: case kPartsTextPlain: case kPartsTextHtml: case kPartsMulti:
      return true;
    case kHeadersNamed:
      return header.length() >= 7 && strncmp(header.c_str(), "SUBJECT", 7) == 0;
  }
  return where >= kHtmlBody && where <= kHtmlScript;
}

}  // namespace

ACondition* RuleBuilder::MakeMatch(const RecordedItem& item) {
  const RecordedAttribute* what = Text(item, kAttrMatchWhat);
  const RecordedAttribute* where = Number(item, kAttrMatchWhere);
  const RecordedAttribute* how = Number(item, kAttrMatchHow);
  if (what == nullptr) BUILD_FAIL(item.line, "missing what to match");
  if (where == nullptr) BUILD_FAIL(item.line, "missing where to match");
  if (how == nullptr) BUILD_FAIL(item.line, "missing match type");
  const RecordedAttribute* header = nullptr;
  if (where->number == kHeadersNamed) {
    header = Text(item, kAttrHeaderName);
    if (header == nullptr) BUILD_FAIL(item.line, "specific header name not present");
    if (!IsAscii(header->text)) BUILD_FAIL(item.line, "specific header name not ASCII");
  } else if (where->number == kPartHeadersNamed) {
    header = Text(item, kAttrPartHeaderName);
    if (header == nullptr) BUILD_FAIL(item.line, "specific part header name not present");
    if (!IsAscii(header->text)) BUILD_FAIL(item.line, "specific part header name not ASCII");
  }
  sstring header_name;
  if (header != nullptr) Assign(&header_name, header->text);
  const bool phrase = what->text.compare(0, sizeof kPhrasePrefix - 1, kPhrasePrefix) == 0 &&
                      PhrasePlace(where->number, header_name);
  ascommon::UniquePtr<MatchCondition> match(phrase ? ascommon::NewNoThrow<TokenMatchCondition>()
                                                   : ascommon::NewNoThrow<MatchCondition>());
  if (match == nullptr) BUILD_FAIL(item.line, "could not alloc memory");
  Assign(&match->what, what->text);
  match->where = phrase && where->number == kHeadersNamed ? kHeadersSubject : where->number;
  match->header_name = header_name;
  match->how = how->number;
  const RecordedAttribute* mode = Number(item, kAttrMatchPartMode);
  if (mode != nullptr) match->part_mode = mode->number;
  return match.release();
}

ACondition* RuleBuilder::MakeCondition(const RecordedItem& item) {
  switch (item.code) {
    case kCondNone: {
      ascommon::UniquePtr<ACondition> c(ascommon::NewNoThrow<NoCondition>());
      if (c == nullptr) BUILD_FAIL(item.line, "could not alloc memory");
      return c.release();
    }
    case kCondExpr: {
      const RecordedAttribute* root = item.Find(kAttrExprRoot);
      if (root == nullptr || root->kind != RecordedAttribute::kExpr || root->expr == nullptr) {
        BUILD_FAIL(item.line, "missing expression root");
      }
      ascommon::Vector<expr_t*> nodes = recorded_->TakeNodes();
      ACondition* c = ascommon::NewNoThrow<ExprCondition>(root->expr, std::move(nodes));
      if (c == nullptr) {
        recorded_->nodes = std::move(nodes);
        BUILD_FAIL(item.line, "could not alloc memory");
      }
      return c;
    }
    case kCondMatch:
      return MakeMatch(item);
    case kCondExists:
    case kCondIsEmpty: {
      const bool exists = item.code == kCondExists;
      const RecordedAttribute* what = Number(item, exists ? kAttrExistsWhat : kAttrEmptyWhat);
      if (what == nullptr) {
        if (exists) BUILD_FAIL(item.line, "missing what to check for existence");
        BUILD_FAIL(item.line, "missing what to check for emptiness");
      }
      const RecordedAttribute* header = Text(item, kAttrHeaderName);
      if (what->number == kHeadersNamed) {
        if (header == nullptr) BUILD_FAIL(item.line, "specific header name not present");
        if (!IsAscii(header->text)) BUILD_FAIL(item.line, "specific header name not ASCII");
      }
      if (exists) {
        ascommon::UniquePtr<ExistsCondition> c(ascommon::NewNoThrow<ExistsCondition>());
        if (c == nullptr) BUILD_FAIL(item.line, "could not alloc memory");
        c->what = what->number;
        if (header != nullptr) Assign(&c->header_name, header->text);
        if (const RecordedAttribute* collection = Text(item, kAttrExistsCollection)) {
          Assign(&c->collection, collection->text);
        }
        return c.release();
      }
      ascommon::UniquePtr<IsEmptyCondition> c(ascommon::NewNoThrow<IsEmptyCondition>());
      if (c == nullptr) BUILD_FAIL(item.line, "could not alloc memory");
      c->what = what->number;
      if (header != nullptr) Assign(&c->header_name, header->text);
      return c.release();
    }
    case kCondExec: {
      const RecordedAttribute* name = Text(item, kAttrCondExecName);
      if (name == nullptr) BUILD_FAIL(item.line, "missing execution identifier string");
      ascommon::UniquePtr<ExecCondition> c(ascommon::NewNoThrow<ExecCondition>());
      if (c == nullptr) BUILD_FAIL(item.line, "could not alloc memory");
      Assign(&c->function, name->text);
      return c.release();
    }
    case kCondKnnCateg: {
      const RecordedAttribute* category = Text(item, kAttrKnnCategory);
      const RecordedAttribute* number = Number(item, kAttrKnnNumber);
      if (category == nullptr || number == nullptr) {
        BUILD_FAIL(item.line, "missing KNN category or probability");
      }
      ascommon::UniquePtr<KNNCategCondition> c(ascommon::NewNoThrow<KNNCategCondition>());
      if (c == nullptr) BUILD_FAIL(item.line, "could not alloc memory");
      Assign(&c->category, category->text);
      c->number = number->number;
      return c.release();
    }
    case kCondScoreGreater: {
      const RecordedAttribute* variable = Text(item, kAttrScoreName);
      if (variable == nullptr) BUILD_FAIL(item.line, "missing variable name to compare");
      const RecordedAttribute* value = Number(item, kAttrScoreCompareValue);
      const RecordedAttribute* name = Text(item, kAttrScoreCompareName);
      if (value == nullptr && name == nullptr) {
        BUILD_FAIL(item.line, "invalid container to construct a ScoreGreaterCondition");
      }
      ascommon::UniquePtr<ScoreGreaterCondition> c(ascommon::NewNoThrow<ScoreGreaterCondition>());
      if (c == nullptr) BUILD_FAIL(item.line, "could not alloc memory");
      Assign(&c->variable, variable->text);
      if (value != nullptr) {
        c->compare_kind = kAttrScoreCompareValue;
        c->value = value->number;
      } else {
        c->compare_kind = kAttrScoreCompareName;
        Assign(&c->compare_name, name->text);
      }
      return c.release();
    }
    case kCondSizeGreater: {
      const RecordedAttribute* what = Number(item, kAttrSizeWhat);
      if (what == nullptr) BUILD_FAIL(item.line, "missing item which size to compare");
      ascommon::UniquePtr<SizeGreaterCondition> c(ascommon::NewNoThrow<SizeGreaterCondition>());
      if (c == nullptr) BUILD_FAIL(item.line, "could not alloc memory");
      c->what = what->number;
      const RecordedAttribute* limit = Number(item, kAttrSizeLimit);
      c->limit = limit != nullptr ? limit->number : -1;  // refused when evaluated
      return c.release();
    }
    case 0:
      BUILD_FAIL(item.line, "blackbox missing specific item type");
  }
  BUILD_FAIL(item.line, "unknown condition type");
}

AAction* RuleBuilder::MakeAction(const RecordedItem& item) {
  switch (item.code) {
    case kActSetCategory: {
      const RecordedAttribute* literal = Text(item, kAttrCategoryLiteral);
      const RecordedAttribute* name = Text(item, kAttrCategoryName);
      if (literal == nullptr && name == nullptr) {
        BUILD_FAIL(item.line, "invalid container to construct a SetCategoryAction");
      }
      ascommon::UniquePtr<SetCategoryAction> a(ascommon::NewNoThrow<SetCategoryAction>());
      if (a == nullptr) BUILD_FAIL(item.line, "could not alloc memory");
      a->kind = literal != nullptr ? kAttrCategoryLiteral : kAttrCategoryName;
      Assign(&a->category, (literal != nullptr ? literal : name)->text);
      return a.release();
    }
    case kActIncreaseScore: {
      const RecordedAttribute* of = Text(item, kAttrIncreaseOf);
      if (of == nullptr) BUILD_FAIL(item.line, "missing IncreaseScore::OfWhat");
      const RecordedAttribute* value = Number(item, kAttrIncreaseByValue);
      const RecordedAttribute* name = Text(item, kAttrIncreaseByName);
      if (value == nullptr && name == nullptr) {
        BUILD_FAIL(item.line, "invalid container to construct a IncreaseScoreAction");
      }
      ascommon::UniquePtr<IncreaseScoreAction> a(ascommon::NewNoThrow<IncreaseScoreAction>());
      if (a == nullptr) BUILD_FAIL(item.line, "could not alloc memory");
      Assign(&a->variable, of->text);
      if (value != nullptr) {
        a->increment = value->number;
      } else {
        a->increment_kind = kAttrIncreaseByName;
        Assign(&a->increment_name, name->text);
      }
      return a.release();
    }
    case kActMark: {
      const RecordedAttribute* literal = Text(item, kAttrMarkCategoryLiteral);
      const RecordedAttribute* category = literal != nullptr ? literal : Text(item, kAttrMarkCategoryName);
      const RecordedAttribute* value = Number(item, kAttrMarkScoreValue);
      const RecordedAttribute* name = Text(item, kAttrMarkScoreName);
      if (category == nullptr || (value == nullptr && name == nullptr)) {
        BUILD_FAIL(item.line, "invalid container to construct a MarkAction");
      }
      ascommon::UniquePtr<MarkAction> a(ascommon::NewNoThrow<MarkAction>());
      if (a == nullptr) BUILD_FAIL(item.line, "could not alloc memory");
      a->category_kind = literal != nullptr ? kAttrMarkCategoryLiteral : kAttrMarkCategoryName;
      Assign(&a->category, category->text);
      if (value != nullptr) {
        a->score = value->number;
      } else {
        a->score_kind = kAttrMarkScoreName;
        Assign(&a->score_name, name->text);
      }
      return a.release();
    }
    case kActExec: {
      const RecordedAttribute* name = Text(item, kAttrActExecName);
      if (name == nullptr) BUILD_FAIL(item.line, "missing execution identifier string");
      ascommon::UniquePtr<ExecAction> a(ascommon::NewNoThrow<ExecAction>());
      if (a == nullptr) BUILD_FAIL(item.line, "could not alloc memory");
      Assign(&a->heuristic, name->text);
      return a.release();
    }
    case kActAddHeader:
    case kActAddToHeader: {
      const bool add = item.code == kActAddHeader;
      const RecordedAttribute* literal = Text(item, kAttrHeaderLiteral);
      const RecordedAttribute* name = literal != nullptr ? literal : Text(item, kAttrHeaderNamed);
      const RecordedAttribute* value = Text(item, kAttrHeaderValue);
      if (name == nullptr || value == nullptr) {
        if (add) BUILD_FAIL(item.line, "invalid container to construct an AddHeaderAction");
        BUILD_FAIL(item.line, "invalid container to construct an AddToHeaderAction");
      }
      if (!IsAscii(name->text)) BUILD_FAIL(item.line, "specific header name not ASCII");
      if (!IsAscii(value->text)) BUILD_FAIL(item.line, "specific header value not ASCII");
      ascommon::UniquePtr<AddHeaderAction> a(add ? ascommon::NewNoThrow<AddHeaderAction>()
                                                 : ascommon::NewNoThrow<AddToHeaderAction>());
      if (a == nullptr) BUILD_FAIL(item.line, "could not alloc memory");
      a->name_kind = literal != nullptr ? kAttrHeaderLiteral : kAttrHeaderNamed;
      Assign(&a->name, name->text);
      Assign(&a->value, value->text);
      return a.release();
    }
  }
  BUILD_FAIL(item.line, "unknown action type");
}

AMetainfo* RuleBuilder::MakeMetainfo(const RecordedItem& item) {
  AMetainfo* info = nullptr;
  switch (item.code) {
    case kMetaState: {
      const RecordedAttribute* value = Number(item, kAttrState);
      if (value == nullptr) BUILD_FAIL(item.line, "missing enabled value");
      info = ascommon::NewNoThrow<StateMetainfo>(value->number != 0 ? 1 : 0);
      break;
    }
    case kMetaRelevance: {
      const RecordedAttribute* value = Number(item, kAttrRelevance);
      if (value == nullptr) BUILD_FAIL(item.line, "missing relevance value");
      info = ascommon::NewNoThrow<RelevanceMetainfo>(value->number);
      break;
    }
    case kMetaComment: {
      const RecordedAttribute* value = Text(item, kAttrComment);
      if (value == nullptr) BUILD_FAIL(item.line, "missing comment value");
      sstring text;
      Assign(&text, value->text);
      info = ascommon::NewNoThrow<CommentMetainfo>(text);
      break;
    }
    case kMetaPriority: {
      const RecordedAttribute* value = Number(item, kAttrPriority);
      if (value == nullptr) BUILD_FAIL(item.line, "missing priority value");
      info = ascommon::NewNoThrow<PriorityMetainfo>(value->number);
      break;
    }
    default:
      BUILD_FAIL(item.line, "blackbox missing specific item type");
  }
  if (info == nullptr) BUILD_FAIL(item.line, "could not alloc memory");
  return info;
}

CRule* RuleBuilder::Build() {
  const int line = recorded_->line;
  const RecordedItem* condition = nullptr;
  uint64_t actions = 0;
  for (const RecordedItem& item : recorded_->items) {
    if (item.group == kGroupCondition && condition == nullptr) condition = &item;
    if (item.group == kGroupAction) ++actions;
  }
  if (condition == nullptr) BUILD_FAIL(line, "could not obtain condition from blackbox");
  ascommon::UniquePtr<CRule> rule(ascommon::NewNoThrow<CRule>());
  if (rule == nullptr) BUILD_FAIL(line, "memory problems");
  Assign(&rule->name_, recorded_->name);
  rule->kind_ = recorded_->kind;
  rule->condition_ = MakeCondition(*condition);
  if (rule->condition_ == nullptr) BUILD_FAIL(line, "could not create condition");
  if (actions > CRule::kMaxActions) {
    AS_LOG(0, __LINE__, "CAUTION: actions count for rule %s limited to %d!", rule->name_.c_str(),
           static_cast<int>(CRule::kMaxActions));
    Tell(line, ("rule " + std::string(rule->name_.c_str()) +
                " has more than 3 actions: only the first 3 are kept").c_str(),
         ParseListener::kWarning);
  }
  for (const RecordedItem& item : recorded_->items) {
    if (item.group != kGroupAction || rule->actions_.GetCount() == CRule::kMaxActions) continue;
    AAction* action = MakeAction(item);
    if (action == nullptr) BUILD_FAIL(line, "could not create action");
    if (rule->actions_.Add(action) != 0) {
      ascommon::Delete(action);
      BUILD_FAIL(line, "memory problems");
    }
  }
  for (const RecordedItem& item : recorded_->items) {
    if (item.group != kGroupMetainfo) continue;
    AMetainfo* info = MakeMetainfo(item);
    if (info == nullptr) BUILD_FAIL(line, "could not create metainfo item");
    if (rule->metainfo_.Add(info) != 0) {
      ascommon::Delete(info);
      BUILD_FAIL(line, "memory problems");
    }
    switch (info->type()) {
      case kMetaState: rule->enabled_ = info->IntValue() != 0; break;
      case kMetaRelevance: rule->apm_ = 1; break;
      case kMetaPriority: rule->signature_ = 1; break;
      case kMetaComment: rule->comment_ = info->StringValue(); break;
    }
  }
  return rule.release();
}

CRule* CRule::Build(RecordedRule* recorded, ParseListener* listener) {
  try {
    return RuleBuilder(recorded, listener).Build();
  } catch (const std::bad_alloc&) {
    AS_LOG(0, __LINE__, "memory problems");
    return nullptr;
  }
}

}  // namespace nsAssl
