#include "src/engines/assl/rules/rule.h"

#include <string.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "src/engines/assl/rule_table.h"
#include "src/engines/phrasematch/tokenizer.h"
#include "src/exceptions/asexception.h"
#include "tests/support/test_support.h"

namespace {

using namespace nsAssl;

// The messages of loading `text` into `table`, without the parser state's
// own lines.
std::vector<std::string> Load(RuleTable* table, const std::string& text) {
  tervo_test::CapturingTrace trace;
  {
    ParserState state(table);
    state.SetInputString(text.data(), text.size(), "t.slf");
    EXPECT_EQ(state.Parse(), 0) << text;
  }
  std::vector<std::string> log = trace.texts();
  return std::vector<std::string>(log.begin() + 1, log.end() - 1);
}

std::string Rule(const std::string& condition, const std::string& actions = "none;",
                 const std::string& metadata = "none;") {
  return "rule r { condition: " + condition + " actions: " + actions + " metadata: " + metadata +
         " }";
}

TEST(AsslRule, BuildsConditionActionsAndMetainfo) {
  RuleTable table;
  EXPECT_EQ(Load(&table,
                 Rule("match(\"(phrase matching)?a b\", Headers::\"SUBJECT\", EXACT);",
                      "mark(cat, 70); set_category(\"adult\"); increase_score(total, step);",
                      "priority = 5; relevance = 2; comment = \"c\"; enabled = false;") +
                     Rule("match(\"(phrase matching)?a\", Urls::ALL, REGEX, RAW);",
                          "add_to_header(h, \"v\"); exec(f); mark(\"x\", s); mark(\"y\", 1);")),
            (std::vector<std::string>{"CAUTION: actions count for rule r limited to 3!",
                                      "[parser] r - warning: a rule with the same name already exists"}));
  ASSERT_EQ(table.RuleCount(), 2u);

  const CRule* first = table.Rule(0);
  EXPECT_TRUE(first->is_signature() && first->is_apm_rule());
  EXPECT_FALSE(first->is_enabled());
  EXPECT_STREQ(first->comment().c_str(), "c");
  EXPECT_EQ(first->MetainfoInt(kMetaPriority), 5);
  EXPECT_EQ(first->MetainfoInt(kMetaRelevance), 2);
  auto* phrase = dynamic_cast<const TokenMatchCondition*>(first->condition());
  ASSERT_NE(phrase, nullptr);
  EXPECT_EQ(phrase->where, kHeadersSubject);
  EXPECT_EQ(phrase->part_mode, 0);
  ASSERT_EQ(first->action_count(), 3u);
  auto* mark = dynamic_cast<const MarkAction*>(first->action(0));
  ASSERT_NE(mark, nullptr);
  EXPECT_EQ(mark->category_kind, kAttrMarkCategoryName);
  EXPECT_EQ(mark->score_kind, kAttrMarkScoreValue);
  EXPECT_EQ(mark->score, 70);
  EXPECT_EQ(dynamic_cast<const SetCategoryAction*>(first->action(1))->kind, kAttrCategoryLiteral);
  auto* increase = dynamic_cast<const IncreaseScoreAction*>(first->action(2));
  EXPECT_EQ(increase->increment_kind, kAttrIncreaseByName);
  EXPECT_STREQ(increase->variable.c_str(), "total");

  // Phrase matching is for text places only; the fourth action is dropped.
  const CRule* second = table.Rule(1);
  EXPECT_FALSE(second->is_signature() || second->is_apm_rule());
  EXPECT_TRUE(second->is_enabled());
  EXPECT_EQ(second->index(), 1u);
  auto* match = second->condition();
  EXPECT_EQ(dynamic_cast<const TokenMatchCondition*>(match), nullptr);
  EXPECT_EQ(static_cast<const MatchCondition*>(match)->part_mode, kPartRaw);
  ASSERT_EQ(second->action_count(), 3u);
  EXPECT_EQ(second->action(0)->type(), kActAddToHeader);
  EXPECT_EQ(dynamic_cast<const AddHeaderAction*>(second->action(0))->name_kind, kAttrHeaderNamed);
  EXPECT_EQ(dynamic_cast<const MarkAction*>(second->action(2))->score_kind, kAttrMarkScoreName);
  EXPECT_THROW(second->MetainfoInt(kMetaPriority), ASException);
  EXPECT_THROW(first->MetainfoString(kMetaPriority), ASException);
  EXPECT_THROW(first->MetainfoInt(kMetaComment), ASException);
  uint64_t index = 9;
  EXPECT_TRUE(table.IndexOf(ascommon::String("r"), &index));
  EXPECT_EQ(index, 0u);
}

TEST(AsslRule, RefusesItemsItCannotBuild) {
  const struct {
    std::string text;
    std::vector<std::string> log;
  } cases[] = {
      {Rule("exists(Headers::\"X-\xc3\xa9\");"),
       {"specific header name not ASCII", "could not create condition", "no rule created"}},
      {Rule("match(\"x\", PartHeaders::\"\xff\", EXACT);"),
       {"specific part header name not ASCII", "could not create condition", "no rule created"}},
      {Rule("none;", "add_header(\"X-A\", \"caf\xc3\xa9\");"),
       {"specific header value not ASCII", "could not create action", "no rule created"}},
  };
  for (const auto& c : cases) {
    RuleTable table;
    EXPECT_EQ(Load(&table, c.text), c.log) << c.text;
    EXPECT_EQ(table.RuleCount(), 0u);
  }
}

// Items the grammar never records, made by hand: each missing piece has its
// message and makes no rule.
TEST(AsslRule, NamesTheMissingPieceOfAnItem) {
  const auto attribute = [](int32_t code, int32_t number, const char* text) {
    return RecordedAttribute{code, text ? RecordedAttribute::kText : RecordedAttribute::kNumber, number,
                             text ? text : "", nullptr};
  };
  const auto number = [&](int32_t code, int32_t value) { return attribute(code, value, nullptr); };
  const auto text = [&](int32_t code, const char* value) { return attribute(code, 0, value); };
  const struct {
    int32_t group, code;
    std::vector<RecordedAttribute> attributes;
    std::string message;
  } cases[] = {
      {kGroupCondition, kCondMatch, {number(kAttrMatchWhere, kImText)}, "missing what to match"},
      {kGroupCondition, kCondMatch, {text(kAttrMatchWhat, "x"), number(kAttrMatchHow, kExact)},
       "missing where to match"},
      {kGroupCondition, kCondMatch, {text(kAttrMatchWhat, "x"), number(kAttrMatchWhere, kImText)},
       "missing match type"},
      {kGroupCondition, kCondMatch,
       {text(kAttrMatchWhat, "x"), number(kAttrMatchWhere, kHeadersNamed), number(kAttrMatchHow, kExact)},
       "specific header name not present"},
      {kGroupCondition, kCondMatch,
       {text(kAttrMatchWhat, "x"), number(kAttrMatchWhere, kPartHeadersNamed), number(kAttrMatchHow, kExact)},
       "specific part header name not present"},
      {kGroupCondition, kCondExpr, {}, "missing expression root"},
      {kGroupCondition, kCondExists, {}, "missing what to check for existence"},
      {kGroupCondition, kCondIsEmpty, {}, "missing what to check for emptiness"},
      {kGroupCondition, kCondExec, {}, "missing execution identifier string"},
      {kGroupCondition, kCondKnnCateg, {text(kAttrKnnCategory, "a")}, "missing KNN category or probability"},
      {kGroupCondition, kCondScoreGreater, {}, "missing variable name to compare"},
      {kGroupCondition, kCondScoreGreater, {text(kAttrScoreName, "s")},
       "invalid container to construct a ScoreGreaterCondition"},
      {kGroupCondition, kCondSizeGreater, {}, "missing item which size to compare"},
      {kGroupCondition, 109, {}, "unknown condition type"},
      {kGroupCondition, 0, {}, "blackbox missing specific item type"},
      {kGroupAction, kActSetCategory, {}, "invalid container to construct a SetCategoryAction"},
      {kGroupAction, kActIncreaseScore, {}, "missing IncreaseScore::OfWhat"},
      {kGroupAction, kActIncreaseScore, {text(kAttrIncreaseOf, "s")},
       "invalid container to construct a IncreaseScoreAction"},
      {kGroupAction, kActMark, {text(kAttrMarkCategoryLiteral, "a")}, "invalid container to construct a MarkAction"},
      {kGroupAction, kActExec, {}, "missing execution identifier string"},
      {kGroupAction, kActAddHeader, {text(kAttrHeaderLiteral, "a")},
       "invalid container to construct an AddHeaderAction"},
      {kGroupAction, kActAddToHeader, {text(kAttrHeaderValue, "v")},
       "invalid container to construct an AddToHeaderAction"},
      {kGroupAction, kActAddHeader, {text(kAttrHeaderNamed, "\x80"), text(kAttrHeaderValue, "v")},
       "specific header name not ASCII"},
      {kGroupAction, 1006, {}, "unknown action type"},
      {kGroupMetainfo, kMetaState, {}, "missing enabled value"},
      {kGroupMetainfo, kMetaRelevance, {}, "missing relevance value"},
      {kGroupMetainfo, kMetaComment, {number(kAttrComment, 1)}, "missing comment value"},
      {kGroupMetainfo, kMetaPriority, {}, "missing priority value"},
      {kGroupMetainfo, 2004, {}, "blackbox missing specific item type"},
  };
  for (const auto& c : cases) {
    RecordedRule recorded;
    recorded.name = "r";
    if (c.group != kGroupCondition) {
      RecordedItem& none = recorded.items.emplace_back();
      none.group = kGroupCondition;
      none.code = kCondNone;
    }
    RecordedItem& item = recorded.items.emplace_back();
    item.group = c.group;
    item.code = c.code;
    item.attributes.assign(c.attributes.begin(), c.attributes.end());
    tervo_test::CapturingTrace trace;
    EXPECT_EQ(CRule::Build(&recorded), nullptr) << c.message;
    const char* piece = c.group == kGroupCondition ? "could not create condition"
                        : c.group == kGroupAction  ? "could not create action"
                                                   : "could not create metainfo item";
    EXPECT_EQ(trace.texts(), (std::vector<std::string>{c.message, piece}));
  }
  RecordedRule empty;
  tervo_test::CapturingTrace trace;
  EXPECT_EQ(CRule::Build(&empty), nullptr);
  EXPECT_EQ(trace.texts(), std::vector<std::string>{"could not obtain condition from blackbox"});
}

TEST(AsslRule, PhraseMatchesFindWholeWordSequences) {
  TokenMatchCondition phrases;
  phrases.what = "(phrase matching)?meet me|our  secret|";
  phrases.Init(nullptr);
  EXPECT_EQ(phrases.phrase_count(), 2u);
  const struct {
    const char* text;
    bool found;
  } cases[] = {
      {"can we meet me? no", true}, {"it's OUR secret", false},  // words compare exactly
      {"(our) secret!", true},      {"meet, me", true},
      {"meetme", false},            {"me meet", false},
  };
  for (const auto& c : cases) {
    nsPhraseMatch::CTokenizedText text;
    ASSERT_EQ(text.Tokenize(c.text, strlen(c.text)), 0);
    EXPECT_EQ(phrases.FindIn(text.Tokens(), text.Count()), c.found) << c.text;
  }
  phrases.what = "(phrase matching)? | ?!";
  tervo_test::CapturingTrace trace;
  EXPECT_THROW(phrases.Init(nullptr), ASException);
  EXPECT_EQ(trace.texts().back(), "ASException - MESSAGE: the match string does not contain any phrase");
}

}  // namespace
