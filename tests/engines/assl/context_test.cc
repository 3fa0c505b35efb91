#include "src/engines/assl/imcontextif.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "src/exceptions/asexception.h"
#include "tests/support/test_support.h"

namespace {

using nsAssl::CImContextInterface;
using ascommon::sstring;

TEST(ImContext, TakesTheTwoTextsOfTheItem) {
  CImContextInterface context;
  EXPECT_EQ(context.GetKind(), 3);
  EXPECT_EQ(nsAssl::AsImContext(&context), &context);
  EXPECT_EQ(nsAssl::AsImContext(nullptr), nullptr);

  tervo_test::CapturingTrace trace;
  ascommon::SItem item;
  EXPECT_THROW(context.SetItem(nullptr), ASBadPtrException);
  EXPECT_THROW(context.SetItem(&item), ASBadPtrException);  // no input/output box
  EXPECT_THROW(nsAssl::AsImContextOrRaise(nullptr), ASException);
  EXPECT_EQ(trace.texts(), (std::vector<std::string>{
                               "ASBadPtrException - MESSAGE: invalid pitem input",
                               "ASBadPtrException - MESSAGE: invalid pointer",
                               "ASException - MESSAGE: invalid context handle"}));
  EXPECT_EQ(trace.levels().back(), 1);

  ascommon::CBlackBox io;
  item.io = &io;
  item.input.SetText(ascommon::IM_TEXT_KEY, "Hello");
  context.SetItem(&item);
  EXPECT_STREQ(context.GetText(), "Hello");
  EXPECT_EQ(context.GetSecondText(), nullptr);
  item.input.SetText(ascommon::IM_AUX_TEXT_KEY, "hello");
  context.SetItem(&item);
  EXPECT_STREQ(context.GetSecondText(), "hello");
}

TEST(ImContext, VariablesKeepTheLastValueAndMissOnUnsetNames) {
  CImContextInterface context;
  context.SetStringVariable(sstring("CATEGORY"), sstring("adult"));
  context.SetStringVariable(sstring("CATEGORY"), sstring("grooming"));
  context.SetIntVariable(sstring("total"), 5);
  sstring category;
  int32_t total = 0;
  EXPECT_EQ(context.GetStringVariable(sstring("CATEGORY"), &category), 0);
  EXPECT_STREQ(category.c_str(), "grooming");
  EXPECT_EQ(context.GetIntVariable(sstring("total"), &total), 0);
  EXPECT_EQ(total, 5);

  tervo_test::CapturingTrace trace;
  int32_t score = 7;
  EXPECT_EQ(context.GetIntVariable(sstring("SCORE"), &score), -1);
  EXPECT_EQ(score, 7);
  EXPECT_EQ(context.GetStringVariable(sstring("total"), &category), -1);  // kinds are apart
  EXPECT_EQ(trace.texts(), (std::vector<std::string>(2, "variable with given name does not exist")));
  EXPECT_EQ(trace.levels(), (std::vector<int32_t>{3, 3}));
}

// A context serves item after item: Reset must leave nothing of the last one.
TEST(ImContext, ResetForgetsTheItemAndWhatItsRulesLeft) {
  CImContextInterface context;
  ascommon::CArray<nsAssl::RuleStateInfo, 16> initial;
  ASSERT_EQ(initial.Add(nsAssl::RuleStateInfo{}), 0);
  ASSERT_EQ(context.UseRuleStates(initial), 0);
  context.State(0)->evaluated = 1;
  ASSERT_EQ(context.fired_rules().Add(0), 0);
  context.SetStringVariable(sstring("CATEGORY"), sstring("a category longer than the inline room"));
  context.SetIntVariable(sstring("SCORE"), 9);
  ascommon::CBlackBox io;
  ascommon::SItem item;
  item.io = &io;
  item.input.SetText(ascommon::IM_TEXT_KEY, "Hello");
  context.SetItem(&item);

  context.Reset();
  EXPECT_EQ(context.GetText(), nullptr);
  EXPECT_EQ(context.fired_rules().GetCount(), 0u);
  EXPECT_EQ(context.State(0), nullptr);  // no records until the next rule set
  tervo_test::CapturingTrace trace;
  EXPECT_EQ(context.StringVariable(sstring("CATEGORY")), nullptr);
  int32_t score = 0;
  EXPECT_EQ(context.GetIntVariable(sstring("SCORE"), &score), -1);
  ASSERT_EQ(context.UseRuleStates(initial), 0);
  EXPECT_EQ(context.State(0)->evaluated, 0);
  context.SetIntVariable(sstring("other"), 4);  // a kept slot takes a new name
  EXPECT_EQ(context.GetIntVariable(sstring("other"), &score), 0);
  EXPECT_EQ(score, 4);
  EXPECT_EQ(context.GetIntVariable(sstring("SCORE"), &score), -1);
}

}  // namespace
