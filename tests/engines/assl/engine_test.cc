#include "src/engines/assl/asslengine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "src/engines/assl/execunit.h"
#include "src/engines/assl/imcontextif.h"
#include "tests/support/test_support.h"

namespace {

using namespace nsAssl;

std::string Signature(const std::string& name, int priority, const std::string& word = "x") {
  return "rule " + name + " { condition: match(\"" + word + "\", IM::Text, REGEX); actions: none; " +
         "metadata: priority = " + std::to_string(priority) + "; }\n";
}

class AsslEngineTest : public ::testing::Test {
 protected:
  AsslEngineTest() { EXPECT_EQ(engines_.LoadRegexLibrary(tervo_test::ProgramFolder().c_str()), 0); }

  void Write(const std::string& name, const std::string& text) {
    std::ofstream(dir_.File(name), std::ios::binary) << text;
  }
  // Init of the "im" set; the log lines of that call.
  int32_t Init() {
    trace_.reset();  // before the next one takes its place in the trace
    trace_ = std::make_unique<tervo_test::CapturingTrace>();
    return engine_.Init(&engines_, dir_.path().c_str(), 4, 1);
  }
  bool Logged(const std::string& line) const {
    const auto texts = trace_->texts();
    return std::find(texts.begin(), texts.end(), line) != texts.end();
  }
  // The signatures in walk order, as "name:priority".
  std::string Walk() const {
    std::string walk;
    for (const CRule::SignatureInfo* s : engine_.GetSignatures()) {
      walk += std::string(walk.empty() ? "" : " ") + engine_.GetRuleName(s->index) + ":" +
              std::to_string(s->priority);
    }
    return walk;
  }

  tervo_test::TempDir dir_;
  Engines engines_;
  CASSLEngine engine_;
  std::unique_ptr<tervo_test::CapturingTrace> trace_;
};

TEST_F(AsslEngineTest, BuildsTheSetFromTheFolder) {
  EXPECT_EQ(Init(), -1);
  EXPECT_TRUE(Logged("specified path does not contain any scripting language files"));
  EXPECT_TRUE(Logged("WARNING: could not prealloc rules from '" + dir_.path() + "\\im_update.txt' !"));

  Write("im_update.txt", "list of 2024\nSignature number: 1200\n");
  Write("ima.slf", Signature("low", 1) + "rule broken { condition: ; }\n" + Signature("tie", 5) +
                       Signature("bad", 9, "(") + Signature("high", 9));
  Write("imb.slf", Signature("tie2", 5) +
                       "metarule meta { condition: low || bad; actions: none; metadata: none; }\n");
  Write("imc.txt", Signature("ignored", 1));
  ASSERT_EQ(Init(), 0);
  EXPECT_TRUE(Logged(dir_.path() + "\\im_update.txt: read prealloc size: 1200"));
  EXPECT_TRUE(Logged("parsed 4 rules from " + dir_.path() + "\\ima.slf"));  // broken is discarded
  EXPECT_TRUE(Logged("total so far: 6"));
  EXPECT_TRUE(Logged("rule bad failed to initialize"));
  for (const char* line : {"[ASSL] 4 RULES      initialized", "[ASSL] 4 SIGNATURES initialized",
                           "[ASSL] 0 APM RULES  initialized", "[ASSL] 2 FAILED rules"}) {
    EXPECT_TRUE(Logged(line)) << line;
  }
  // Highest priority first; equal priorities: the later rule first.
  EXPECT_EQ(Walk(), "high:9 tie2:5 tie:5 low:1");
  // The failed rules leave their slot and the name index.
  EXPECT_EQ(engine_.GetStateInfo().GetCount(), 6u);
  EXPECT_EQ(engine_.GetStateInfo()[2].rule, nullptr);
  uint64_t index = 0;
  EXPECT_NE(engine_.GetRuleIndex(sstring("meta"), &index), 0);
  EXPECT_EQ(engine_.GetRuleName(2), nullptr);
  float result = 0;
  EXPECT_NE(engine_.ExecRule(9, &engines_, nullptr, &result), 0);
  EXPECT_TRUE(Logged("index 9 is out of the bounds of Rules [0 -> 6]"));
}

// Each step rewrites the incremental list and initialises the set again.
TEST_F(AsslEngineTest, AppliesOnlyNewerJobsWhileTheArrayIsDense) {
  std::string rules;
  for (int i = 0; i < 50; ++i) rules += Signature("r" + std::to_string(i), i);
  Write("im_sign.slf", rules);
  auto job = [](int jid, const std::string& body) {
    return "{\n* " + std::to_string(jid) + "\n" + body + "}\n";
  };
  std::string deletions;
  for (int i = 30; i < 50; ++i) deletions += "- r" + std::to_string(i) + "\n";
  const std::string changed_r0 = "+ r0\n  " + Signature("r0", 100);
  const struct {
    std::string list;
    int32_t rc;
    std::string line;  // logged by this Init
    int32_t last_jid;
    uint64_t slots, free_slots;
    std::string first;  // the first signature of the walk
  } steps[] = {
      {job(3, ""), 0, "last_JID=-1  --->  exit InitIncSlf", 3, 50, 0, "r49:49"},
      {job(3, ""), 0, "last_JID=3 / inc_slf_file_info.GetLastJID():3  --->  exit InitIncSlf", 3, 50,
       0, "r49:49"},
      {job(3, "") + job(4, changed_r0 + "- r1\n"), 0, "nr_items=2  Rules.size():50  FreePosInRules.size():1",
       4, 50, 1, "r0:100"},
      // A new rule takes the free slot.
      {job(5, "+ fresh\n  " + Signature("fresh", 200)), 0,
       "nr_items=1  Rules.size():50  FreePosInRules.size():0", 5, 50, 0, "fresh:200"},
      {job(6, "- r2\n" + deletions), 0, "nr_items=21  Rules.size():50  FreePosInRules.size():21", 6, 50,
       21, "fresh:200"},
      // 21 free slots of 50: rebuilt in full from the files.
      {job(7, "- r3\n"), 0, "vectorul Rules are 42.0% pozitii neocupate --> exit InitIncSlf", 7, 50, 0,
       "r49:49"},
      // A text that does not give one rule per change: rebuilt in full, and
      // the job stays unapplied.
      {job(8, "+ r5\n  rule r5 { condition: ; }\n"), 0,
       "yyparse error :   nr_changed_items=1  vs.  0 yyparse count", 7, 50, 0, "r49:49"},
      {"{\n* 9\n", 0, "fail to load/parse file '" + dir_.path() + "\\im_incslf.txt'", -1, 50, 0, "r49:49"},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.line);
    Write("im_incslf.txt", s.list);
    EXPECT_EQ(Init(), s.rc);
    EXPECT_TRUE(Logged(s.line));
    EXPECT_EQ(engine_.last_jid(), s.last_jid);
    EXPECT_EQ(engine_.rules().RuleCount(), s.slots);
    EXPECT_EQ(engine_.free_slots(), s.free_slots);
    EXPECT_EQ(Walk().substr(0, s.first.size()), s.first);
  }
}

TEST_F(AsslEngineTest, UnitsRunTheSignaturesOnTheirItem) {
  Write("im_sign.slf", Signature("quiet", 3, "zzz") + Signature("plain", 1) +
                           "rule loud { condition: match(\"x\", IM::Text, REGEX); actions: mark(\"c\", 7);"
                           " metadata: priority = 2; }\n");
  tervo_test::CapturingTrace trace;
  ExecUnit unit;
  EXPECT_EQ(unit.GetSignatures(), nullptr);
  unit.SetEngines(&engines_);
  EXPECT_EQ(unit.GetSignatures(), nullptr);
  ASSERT_EQ(engines_.Init(dir_.path().c_str(), 4, 1), 0);
  float result = 0;
  EXPECT_EQ(unit.ExecSignature(0, &result), -1);
  sstring category;
  EXPECT_EQ(unit.GetStringVariable(sstring("CATEGORY"), &category), -1);
  const auto texts = trace.texts();
  for (const char* line : {"invalid reference to engines interface", "invalid reference to ASSL engine",
                           "invalid reference to structs interface", "invalid HCONTEXT"}) {
    EXPECT_NE(std::find(texts.begin(), texts.end(), line), texts.end()) << line;
  }

  ascommon::CBlackBox io;
  ascommon::SItem item;
  item.io = &io;
  item.input.SetText(ascommon::IM_TEXT_KEY, "x");
  item.input.SetText(ascommon::IM_AUX_TEXT_KEY, "x");
  auto* context = ascommon::New<CImContextInterface>();  // the unit deletes it
  context->SetItem(&item);
  ASSERT_EQ(context->UseRuleStates(engines_.AsslEngine()->GetStateInfo()), 0);
  unit.SetContext(context);
  for (const CRule::SignatureInfo* s : *unit.GetSignatures()) EXPECT_EQ(unit.ExecSignature(s->index, &result), 0);
  int32_t score = 0;
  EXPECT_EQ(unit.GetIntVariable(sstring("SCORE"), &score), 0);
  EXPECT_EQ(score, 7);
  sstring names;
  EXPECT_EQ(engines_.AsslEngine()->GetFiredNames(&engines_, context, false, &names), 0);
  EXPECT_STREQ(names.c_str(), "loud; plain");
  EXPECT_EQ(engines_.AsslEngine()->GetFiredNames(&engines_, context, true, &names), 0);
  EXPECT_STREQ(names.c_str(), "loud");
  EXPECT_EQ(engines_.AsslEngine()->GetFiredNames(nullptr, context, true, &names), -1);
}

}  // namespace
