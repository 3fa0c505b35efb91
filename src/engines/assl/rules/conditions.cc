// Initialising and evaluating the conditions. On an IM context only the
// texts exist: the conditions that read parts, headers, sizes or the KNN
// engine answer with the failure for a missing parts tree, headers map,
// facilitator or engine, never by reading what is not there.
#include <string.h>

#include <algorithm>
#include <new>

#include "src/engines/assl/imcontextif.h"
#include "src/engines/assl/rules/items.h"
#include "src/engines/codeheur/codeheur.h"
#include "src/engines/phrasematch/tokenizer.h"
#include "src/exceptions/asexception.h"
#include "src/trace/trace.h"

namespace nsAssl {

// ---------------------------------------------------------- ExprCondition

void ExprCondition::Init(Engines* engines) {
  if (engines == nullptr || engines->assl == nullptr) {
    AS_RAISE(ASException, __LINE__, "obtained an invalid handle to the ASSL engine");
  }
  // A name is resolved once; the rule it names is initialised on every Init,
  // so that a rule whose first attempt failed half-way still fails on a
  // cycle the second time.
  for (expr_t* node : nodes_) {
    if (!node->leaf) continue;
    if (node->value_type == kValueName) {
      if (node->name.empty()) AS_RAISE(ASException, __LINE__, "node->value.pstrval is NULL");
      const int length = static_cast<int>(node->name.size());
      sstring name(node->name.data(), node->name.size());
      if (engines->assl->GetRuleIndex(name, &node->index) != 0) {
        AS_LOG(0, __LINE__, "[init] error: no index for rule %1.*s. Are you sure it is defined?",
               length, node->name.data());
        AS_RAISE(ASException, __LINE__, "pASSL->GetRuleIndex( %1.*s ) returned non-zero", length,
                 node->name.data());
      }
      node->value_type = kValueIndex;
    }
    if (node->value_type == kValueIndex && engines->assl->InitRule(node->index, engines) != 0) {
      AS_RAISE(ASException, __LINE__, "pASSL->InitRule( %d ) returned non-zero",
               static_cast<int>(node->index));
    }
  }
}

float ExprCondition::Evaluate(Engines* engines, ContextInterface* context) {
  return EvaluateNode(root_, 0, engines, context);
}

float ExprCondition::EvaluateNode(const expr_t* node, int depth, Engines* engines,
                                  ContextInterface* context) {
  if (depth >= kMaxDepth) AS_RAISE(ASException, __LINE__, "reached the maximum expression depth");
  if (node == nullptr) AS_RAISE(ASException, __LINE__, "invalid operands");
  if (node->leaf) {
    if (node->value_type == kValueBool) return node->boolean != 0 ? 1.0f : 0.0f;
    if (node->value_type != kValueIndex) {
      AS_RAISE(ASException, __LINE__, "invalid value type for a leaf node");
    }
    float result = 0.0f;
    if (engines == nullptr || engines->assl == nullptr ||
        engines->assl->ExecRule(node->index, engines, context, &result) != 0) {
      AS_RAISE(ASException, __LINE__, "pASSL->ExecRule( %d ) returned non-zero",
               static_cast<int>(node->index));
    }
    return result;
  }
  if (node->left == nullptr || (node->op != kOpNot && node->right == nullptr)) {
    AS_RAISE(ASException, __LINE__, "invalid operands");
  }
  auto side = [&](const expr_t* n) { return EvaluateNode(n, depth + 1, engines, context); };
  switch (node->op) {
    case kOpOr: {
      const float left = side(node->left);
      return left != 0.0f ? left : side(node->right);
    }
    case kOpAllOr: {
      const float left = side(node->left), right = side(node->right);
      return left != 0.0f ? left : right;
    }
    case kOpAnd: {
      const float left = side(node->left);
      return left == 0.0f ? left : side(node->right);
    }
    case kOpAllAnd: {
      const float left = side(node->left), right = side(node->right);
      return left == 0.0f ? left : right;
    }
    case kOpEq: {
      const bool left = side(node->left) != 0.0f, right = side(node->right) != 0.0f;
      return left == right ? 1.0f : 0.0f;
    }
    case kOpNe: {
      const bool left = side(node->left) != 0.0f, right = side(node->right) != 0.0f;
      return left != right ? 1.0f : 0.0f;
    }
    case kOpNot:
      return side(node->left) == 0.0f ? 1.0f : 0.0f;
  }
  AS_RAISE(ASException, __LINE__, "invalid operator");
}

// --------------------------------------------------------- MatchCondition

MatchCondition::~MatchCondition() { nsFernwick::DeleteRegEx(lib_, regex_); }

void MatchCondition::Init(Engines* engines) {
  if (what.length() >= 10 && strncmp(what.c_str(), "(CF-RULE)?", 10) == 0) {
    cf_ = true;
    AS_LOG(0, __LINE__, "CF MATCH: %s", what.c_str());
  }
  if (!IsRegex()) return;
  if (!RegexPlaceAllowed()) {
    AS_RAISE(ASException, __LINE__, "summary queries can only be performed on text parts or all headers");
  }
  if (engines == nullptr || engines->regex == nullptr) {
    AS_RAISE(ASException, __LINE__, "invalid engines handle");
  }
  nsFernwick::DeleteRegEx(lib_, regex_);
  lib_ = engines->regex;
  regex_ = nsFernwick::CreateFastRegEx(lib_);
  if (regex_ == nullptr) AS_RAISE(ASException, __LINE__, "could not obtain fast regex from handle");
  sstring pattern;
  if (Pattern(&pattern) != 0 || regex_->Compile(pattern.data(), pattern.length(), 0) != FERNWICK_OK) {
    nsFernwick::DeleteRegEx(lib_, regex_);
    regex_ = nullptr;
    if (how != kRegexSummary) {
      AS_RAISE(ASException, __LINE__, "FastPCRE:could not initialize regex from string [%s]", what.c_str());
    }
    if (where == kHeadersAll) {
      AS_RAISE(ASException, __LINE__,
               "FastPCRE: could not initialize header summary regex from string [%s]", what.c_str());
    }
    AS_RAISE(ASException, __LINE__, "FastPCRE: could not initialize summary regex from string [%s]",
             what.c_str());
  }
}

// On an IM context: the place must be IM::Text; REGEX_INSENSITIVE and
// EXACT_INSENSITIVE read the second (lower-cased) text. Exact kinds look
// for the text as a substring; the others need their compiled pattern.
float MatchCondition::Evaluate(Engines*, ContextInterface* context) {
  CImContextInterface* im = AsImContextOrRaise(context);
  if (im == nullptr) AS_RAISE(ASException, __LINE__, "invalid reference to parts tree");
  if (im->GetText() == nullptr) AS_RAISE(ASException, 930, "invalid content IM ");
  if (im->GetSecondText() == nullptr) AS_RAISE(ASException, 931, "invalid content IM ");
  if (where != kImText) return 0.0f;
  const bool lowered = reads_second_text();
  const char* subject = lowered ? im->GetSecondText() : im->GetText();
  if (how == kExact || how == kExactInsensitive) {
    sstring needle;
    if (ExactText(&needle) != 0) AS_RAISE(ASException, __LINE__, "memory problems");
    return strstr(subject, needle.c_str()) != nullptr ? 1.0f : 0.0f;
  }
  if (regex_ == nullptr) AS_RAISE(ASException, __LINE__, "invalid fast regex - maybe init failed");
  if (prefilter_ != nullptr && !prefilter_->MayMatch(im, lowered, prefilter_id_)) return 0.0f;
  return regex_->Search(subject, im->text_length(lowered), 0) != 0 ? 1.0f : 0.0f;
}

bool MatchCondition::RuledOut(ContextInterface* context) const {
  if (prefilter_ == nullptr) return false;
  CImContextInterface* im = AsImContext(context);
  return im != nullptr && im->GetText() != nullptr && im->GetSecondText() != nullptr &&
         !prefilter_->MayMatch(im, reads_second_text(), prefilter_id_);
}

int32_t MatchCondition::ExactText(sstring* needle) const {
  if (needle->assign(what) != 0) return -2;
  return how == kExactInsensitive ? needle->UTF8_tolower(false) : 0;
}

bool MatchCondition::FindOnIm(ContextInterface* context, bool* second, size_t* begin,
                              size_t* end) const {
  *second = reads_second_text();
  CImContextInterface* im = AsImContext(context);
  if (im == nullptr || im->GetText() == nullptr || im->GetSecondText() == nullptr || where != kImText) {
    return false;
  }
  const char* subject = *second ? im->GetSecondText() : im->GetText();
  if (how == kExact || how == kExactInsensitive) {
    sstring needle;
    if (ExactText(&needle) != 0) return false;
    const char* at = strstr(subject, needle.c_str());
    if (at == nullptr) return false;
    *begin = static_cast<size_t>(at - subject);
    *end = *begin + needle.length();
    return true;
  }
  return regex_ != nullptr && regex_->Find(subject, strlen(subject), 0, begin, end) == FERNWICK_MATCH;
}

// ------------------------------------------------ the mail-side conditions

void TokenMatchCondition::Init(Engines*) {
  words_.clear();
  ends_.clear();
  const char* text = what.c_str() + (sizeof kPhrasePrefix - 1);
  const char* const end = what.c_str() + what.length();
  try {
    while (text <= end) {
      const char* bar = static_cast<const char*>(memchr(text, '|', end - text));
      if (bar == nullptr) bar = end;
      nsPhraseMatch::CTokenizedText phrase;
      const int32_t status = phrase.Tokenize(text, static_cast<uint32_t>(bar - text));
      if (status == nsPhraseMatch::kTokenizeNoMemory) throw std::bad_alloc();
      if (status == nsPhraseMatch::kTokenizeOk) {
        words_.insert(words_.end(), phrase.Tokens(), phrase.Tokens() + phrase.Count());
        ends_.push_back(words_.size());
      }
      text = bar + 1;
    }
  } catch (const std::bad_alloc&) {
    AS_RAISE(ASException, __LINE__, "could not alloc memory");
  }
  if (ends_.empty()) AS_RAISE(ASException, __LINE__, "the match string does not contain any phrase");
}

bool TokenMatchCondition::FindIn(const uint32_t* tokens, uint32_t count) const {
  size_t begin = 0;
  for (size_t end : ends_) {
    const uint32_t* first = words_.data() + begin;
    if (std::search(tokens, tokens + count, first, words_.data() + end) != tokens + count) return true;
    begin = end;
  }
  return false;
}

// The phrases are looked for in the parts of a mail, read through its
// facilitator; an IM context has none.
float TokenMatchCondition::Evaluate(Engines*, ContextInterface*) {
  AS_RAISE(ASException, __LINE__, "invalid reference to facilitator");
}

float ExistsCondition::Evaluate(Engines*, ContextInterface*) {
  if (what == kHeadersCollection && collection.is_null()) {
    AS_RAISE(ASException, __LINE__,
             "error: missing extra info with Headers::Collection in exists condition");
  }
  if (what == kHeadersNamed || what == kHeadersCollection) {
    AS_RAISE(ASException, __LINE__, "invalid pointer to headers map");
  }
  AS_RAISE(ASException, __LINE__, "invalid pointer to parts tree");
}

float IsEmptyCondition::Evaluate(Engines*, ContextInterface*) {
  if (what == kHeadersNamed) AS_RAISE(ASException, __LINE__, "invalid pointer to headers map");
  AS_RAISE(ASException, __LINE__, "invalid pointer to parts tree");
}

float SizeGreaterCondition::Evaluate(Engines*, ContextInterface*) {
  AS_RAISE(ASException, __LINE__, "invalid reference to blackbox facilitator");
}

float ExecCondition::Evaluate(Engines* engines, ContextInterface* context) {
  if (engines == nullptr) AS_RAISE(ASException, __LINE__, "invalid engines handle");
  if (engines->code_heur == nullptr) {
    AS_RAISE(ASException, __LINE__, "invalid handle to code heur engine");
  }
  return engines->code_heur->RunHeuristic(function, engines, context, nullptr);
}

void KNNCategCondition::Init(Engines*) {
  AS_LOG(0, __LINE__, "Unused param %s :: %s", "KNNCategCondition::Init", "hEngines");
}

float KNNCategCondition::Evaluate(Engines* engines, ContextInterface* context) {
  AS_LOG(0, __LINE__, "KNN_CATEG_CONDITION Evaluate");
  if (context == nullptr) AS_RAISE(ASException, __LINE__, "NULL pointer to context");
  if (engines == nullptr || engines->knn == nullptr) {
    AS_RAISE(ASException, __LINE__, "NULL pointer to knn engine");
  }
  AS_RAISE(ASException, __LINE__, "the KNN engine is not part of this build");
}

// ------------------------------------------------- ScoreGreaterCondition

float ScoreGreaterCondition::Evaluate(Engines*, ContextInterface* context) {
  if (context == nullptr) AS_RAISE(ASException, __LINE__, "invalid context handle");
  int32_t score = 0;
  if (compare_kind != kAttrScoreCompareValue || context->GetIntVariable(variable, &score) != 0) {
    return 0.0f;
  }
  return score >= value ? 1.0f : 0.0f;
}

}  // namespace nsAssl
