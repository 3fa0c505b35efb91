// Executing the actions. "CATEGORY" and "SCORE" are the variables through
// which a rule gives its verdict. set_category and increase_score work on
// mail contexts; on the other kinds they do nothing but say so at level 3.
#include "src/engines/assl/rules/items.h"
#include "src/engines/codeheur/codeheur.h"
#include "src/exceptions/asexception.h"
#include "src/trace/trace.h"

namespace nsAssl {

namespace {

const sstring& CategoryName() {
  static const sstring name("CATEGORY");
  return name;
}

const sstring& ScoreName() {
  static const sstring name("SCORE");
  return name;
}

// Whether `action` may act on the context: true on mail contexts, else
// false after saying so at level 3.
bool OnMail(ContextInterface* context, const char* action) {
  if (context->GetKind() == ContextInterface::kMailContext) return true;
  AS_LOG(3, __LINE__, "%s works on mail items only: nothing set", action);
  return false;
}

}  // namespace

void MarkAction::Execute(Engines*, ContextInterface* context) {
  if (context == nullptr) AS_RAISE_AT_LEVEL(1, ASException, 31, "invalid context handle");
  if (score_kind == kAttrMarkScoreValue) context->SetIntVariable(ScoreName(), score);
  if (category_kind == kAttrMarkCategoryLiteral) context->SetStringVariable(CategoryName(), category);
}

void SetCategoryAction::Execute(Engines*, ContextInterface* context) {
  if (context == nullptr) AS_RAISE_AT_LEVEL(1, ASException, 28, "invalid context handle");
  if (!OnMail(context, "set_category")) return;
  if (kind == kAttrCategoryLiteral) context->SetStringVariable(CategoryName(), category);
}

void IncreaseScoreAction::Execute(Engines*, ContextInterface* context) {
  if (context == nullptr) AS_RAISE_AT_LEVEL(1, ASException, 29, "invalid context handle");
  if (!OnMail(context, "increase_score")) return;
  int32_t value = 0;
  if (context->GetIntVariable(variable, &value) != 0) {
    AS_LOG(3, 42, "variable %s does not exist. It will be added", variable.c_str());
    value = 0;
  }
  if (increment_kind == kAttrIncreaseByValue) {
    context->SetIntVariable(variable, static_cast<int32_t>(static_cast<uint32_t>(value) +
                                                           static_cast<uint32_t>(increment)));
  }
}

void ExecAction::Execute(Engines* engines, ContextInterface* context) {
  if (engines == nullptr) AS_RAISE(ASException, 23, "invalid engines handle");
  if (engines->code_heur == nullptr) AS_RAISE(ASException, 27, "invalid handle to code heur engine");
  engines->code_heur->RunHeuristic(heuristic, engines, context, nullptr);  // the score is not used
}

void AddHeaderAction::Execute(Engines* engines, ContextInterface* context) {
  if (context == nullptr) AS_RAISE(ASException, __LINE__, "invalid context handle");
  if (engines == nullptr) AS_RAISE(ASException, __LINE__, "invalid engines handle");
  AS_RAISE(ASException, __LINE__, "invalid handle to headers map");
}

}  // namespace nsAssl
