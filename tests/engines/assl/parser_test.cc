#include "src/engines/assl/parser/parser_state.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "src/engines/assl/parser/rule_printer.h"
#include "src/exceptions/asexception.h"
#include "tests/support/test_support.h"

namespace {

using nsAssl::ParserState;
using nsAssl::RecordedRule;

// Keeps each finished rule as its Dump() line and the names seen.
class DumpSink : public nsAssl::RuleSink {
 public:
  uint64_t RuleCount() const override { return dumps.size(); }
  bool AddRule(ascommon::UniquePtr<RecordedRule> rule) override {
    dumps.push_back(rule->Dump());
    printed += nsAssl::PrintRule(*rule);
    return true;
  }
  bool AddName(const ascommon::String& name, uint64_t) override {
    return names.insert(name.c_str()).second;
  }
  std::vector<std::string> dumps;
  std::string printed;
  std::set<std::string> names;
};

struct Parsed {
  int result;
  std::vector<std::string> dumps;
  std::string printed;
  std::vector<std::string> log;  // without the state's own created/destructed lines
};

Parsed Parse(const std::string& text) {
  tervo_test::CapturingTrace trace;
  DumpSink sink;
  int result;
  {
    ParserState state(&sink);
    state.SetInputString(text.data(), text.size(), "t.slf");
    result = state.Parse();
  }
  std::vector<std::string> log = trace.texts();
  EXPECT_EQ(log.front(), "the parser state info is about to be created");
  log.erase(log.begin());
  auto destructed = std::find(log.begin(), log.end(), "the parser state info is about to be destructed");
  EXPECT_NE(destructed, log.end());
  if (destructed != log.end()) log.erase(destructed);
  return {result, sink.dumps, sink.printed, log};
}

std::string Rule(const std::string& condition, const std::string& actions = "none;",
                 const std::string& metadata = "none;") {
  return "rule r { condition: " + condition + " actions: " + actions + " metadata: " + metadata +
         " }";
}

TEST(AsslParser, RecordsTheItemsOfEachConstruct) {
  const struct {
    std::string text;
    std::string dump;
  } cases[] = {
      {"rule r1 { condition: none; actions: none; metadata: none; }", "rule r1 20/100{100:1}"},
      {"metarule m { condition: none; actions: metadata: }", "metarule m 20/100{100:1}"},
      {Rule("match(\"x\", IM::Text, REGEX_INSENSITIVE);"), "rule r 20/102{120:\"x\" 121:310 122:234}"},
      {Rule("match(\"x\", IM::Text, REGEX, RAW);"), "rule r 20/102{120:\"x\" 121:310 122:233 123:240}"},
      {Rule("match(\"x\", Parts::Multi, IP_MASK, DECODED);"),
       "rule r 20/102{120:\"x\" 121:214 122:237 123:241}"},
      {Rule("match(\"a\\\"b\\n\", Headers::\"From\", EXACT);"),
       "rule r 20/102{120:\"a\\\"b\\n\" 121:201 202:\"From\" 122:230}"},
      {Rule("match(\"\", PartHeaders::\"X-A\", REGEX_SUMMARY);"),
       "rule r 20/102{120:\"\" 121:261 262:\"X-A\" 122:238}"},
      {Rule("match(\"x\", HTML::Script, OBFUSCATED);"), "rule r 20/102{120:\"x\" 121:288 122:232}"},
      {Rule("match(\"x\", Url::Params, IP_CLASS);"), "rule r 20/102{120:\"x\" 121:302 122:236}"},
      {Rule("exists(Headers::Collection, \"Received\");"), "rule r 20/103{130:203 131:\"Received\"}"},
      {Rule("exists(Headers::\"From\");"), "rule r 20/103{130:201 202:\"From\"}"},
      {Rule("is_empty(Parts::TextHTML);"), "rule r 20/104{140:213}"},
      {Rule("exec(has_code);"), "rule r 20/105{150:\"has_code\"}"},
      {Rule("is_knn_categ(\"adult\");"), "rule r 20/106{160:\"adult\" 161:100}"},
      {Rule("is_knn_categ(\"adult\", 42);"), "rule r 20/106{160:\"adult\" 161:42}"},
      {Rule("score_greater_than(total, 5);"), "rule r 20/107{170:\"total\" 172:5}"},
      {Rule("score_greater_than(total, limit);"), "rule r 20/107{170:\"total\" 171:\"limit\"}"},
      {Rule("size_greater_than(Message::AnyAttachmentSize, 99999999999);"),
       "rule r 20/108{180:271 181:2147483647}"},
      {Rule("none;",
            "set_category(\"adult\"); set_category(cat); increase_score(total, 5); "
            "increase_score(total, step); mark(\"adult\", 70); mark(cat, s); exec(f); "
            "add_header(\"X-A\", \"v\"); add_to_header(h, \"w\");"),
       "rule r 20/100{100:1} 21/1000{1021:\"adult\"} 21/1000{1020:\"cat\"} "
       "21/1001{1030:\"total\" 1032:5} 21/1001{1030:\"total\" 1031:\"step\"} "
       "21/1002{1041:\"adult\" 1043:70} 21/1002{1040:\"cat\" 1042:\"s\"} 21/1003{1050:\"f\"} "
       "21/1004{1060:\"X-A\" 1062:\"v\"} 21/1005{1061:\"h\" 1062:\"w\"}"},
      {Rule("none;", "none;", "enabled = false; relevance = 2; comment = \"c d\"; priority = -5;"),
       "rule r 20/100{100:1} 22/2000{2020:0} 22/2001{2030:2} 22/2002{2040:\"c d\"} "
       "22/2003{2050:5}"},
      // Binding from loosest to tightest, left to right within a level.
      {"metarule m { condition: a || b && !c == d ||| (true) &&& x != false; actions: none; "
       "metadata: none; }",
       "metarule m 20/101{250:(||| (|| a (&& b (== (! c) d))) (&&& true (!= x false)))}"},
      // Keywords are whole words; names take `.`, `-` and `$`; stray bytes vanish.
      {"rule rule_1 { condition: none; actions: mark(Text_, ruleX); metadata: none; }",
       "rule rule_1 20/100{100:1} 21/1002{1040:\"Text_\" 1042:\"ruleX\"}"},
      {"#'?\x01\xff metarule $m { condition: a.b || a-b || $x; actions: none; metadata: none; }",
       "metarule $m 20/101{250:(|| (|| a.b a-b) $x)}"},
  };
  for (const auto& c : cases) {
    Parsed parsed = Parse(c.text);
    EXPECT_EQ(parsed.result, 0) << c.text;
    EXPECT_EQ(parsed.dumps, std::vector<std::string>{c.dump}) << c.text;
    EXPECT_EQ(parsed.log, std::vector<std::string>{}) << c.text;
    // Printed and parsed again, the rule records the same items.
    Parsed again = Parse(parsed.printed);
    EXPECT_EQ(again.dumps, parsed.dumps) << parsed.printed;
    EXPECT_EQ(Parse(again.printed).printed, again.printed);
  }
}

TEST(AsslParser, PrintsRulesInOneLayout) {
  EXPECT_EQ(Parse("metarule m{condition:!(a||b)&&(c||d)==e;actions:mark(\"x\",1);metadata:}")
                .printed,
            "metarule m {\n  condition: !(a || b) && (c || d) == e;\n  actions: mark(\"x\", 1);\n"
            "  metadata: none;\n}\n");
  EXPECT_EQ(Parse("metarule m { condition: a || (b || c) && !(!d) || (e ||| f); actions: none; metadata: none; }")
                .printed,
            "metarule m {\n  condition: a || (b || c) && !(!d) || (e ||| f);\n  actions: none;\n  metadata: none;\n}\n");
}

TEST(AsslParser, ReportsErrorsAndRecovers) {
  const std::string good = "rule ok { condition: none; actions: none; metadata: none; }";
  const std::string ok = "rule ok 20/100{100:1}";
  const std::string meta = "metarule m { condition: ";
  // In `log`, "@N " stands for the parser's syntax error prefix of line N; `discarded` is the
  // rule the parser discards last, if any.
  const struct {
    std::string text;
    int result;
    std::vector<std::string> dumps;
    std::vector<std::string> log;
    std::string discarded;
  } cases[] = {
      {"", 0, {}, {}, ""},
      {" /* a\n comment */ \t\r\n", 0, {}, {}, ""},
      {Rule("none;", "increase_score(5);") + "\n" + good, 0, {ok},
       {"@1 unexpected CONSTANT, expecting NAME", "[parser] syntax error: invalid increase_score action"},
       "simple rule r"},
      // After the error, completed items are skipped, not recorded.
      {meta + "a &&; actions: mark(\"x\", 1); metadata: none; }", 0, {},
       {"@1 unexpected ';'", "[parser] invalid condition expression - check your syntax!",
        "[parser] - error recovery: skipping until error flag is reset"},
       "meta-rule m"},
      {"\n\n" + Rule("none;", "none;", "enabled = True;"), 0, {},
       {"@3 unexpected NAME, expecting AS_TRUE or AS_FALSE", "[parser] invalid metainfo item"},
       "simple rule r"},
      {Rule("none;", "none;", "priority = 1.5;"), 0, {},
       {"@1 unexpected CONSTANT, expecting ';'", "[parser] invalid metainfo item"}, "simple rule r"},
      {Rule("exists(Headers::ALL);"), 0, {},
       {"@1 unexpected ALL, expecting COLLECTION or STRING_LITERAL",
        "[parser] syntax error: invalid exists condition"},
       "simple rule r"},
      {meta + "any; actions: none; metadata: none; }", 0, {},
       {"@1 unexpected ANY", "[parser] invalid condition expression - check your syntax!"}, "meta-rule m"},
      {"rule r { metadata: none; }", 0, {},
       {"@1 unexpected METADATA, expecting CONDITION", "[parser] invalid body structure - check sections!"},
       "simple rule r"},
      {"text outside " + good, 0, {ok},
       {"@1 unexpected NAME, expecting end of file or RULE or METARULE",
        "[parser] input error: text outside rules?"},
       ""},
      {good + " " + good, 0, {ok, ok}, {"[parser] ok - warning: a rule with the same name already exists"}, ""},
      // An unclosed comment ends the input; the rule before it stands.
      {good + "\n/* open", 0, {ok}, {"[lexer] C-style comment not closed before end of file"}, ""},
      {"rule r { condition: none;", 1, {},
       {"@1 unexpected end of file, expecting ACTIONS", "releasing current rule"}, ""},
      {"rule", 1, {}, {"@1 unexpected end of file, expecting NAME"}, ""},
      {meta + std::string(20000, '(') + "a", 2, {},
       {"[parser] - t.slf:1: syntax error: memory exhausted", "releasing current rule"}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 80));
    std::vector<std::string> log;
    for (const std::string& line : c.log) {
      log.push_back(line[0] != '@' ? line
                                   : "[parser] - t.slf:" + line.substr(1, 1) + ": syntax error: syntax error, " +
                                         line.substr(3));
    }
    if (!c.discarded.empty()) log.push_back("[parser] discarding " + c.discarded + " because it contains errors");
    Parsed parsed = Parse(c.text);
    EXPECT_EQ(parsed.result, c.result);
    EXPECT_EQ(parsed.dumps, c.dumps);
    EXPECT_EQ(parsed.log, log);
  }
}

TEST(AsslParser, ReadsFilesAndRefusesMissingOnes) {
  tervo_test::TempDir dir;
  const std::string path = dir.File("im1.slf");
  {
    std::ofstream out(path, std::ios::binary);
    out << "/* one\n two */\nrule r { condition: size_greater_than(Message::Total, 1);"
           " actions: none; metadata: none; }";
  }
  tervo_test::CapturingTrace trace;
  DumpSink sink;
  ParserState state(&sink);
  EXPECT_FALSE(state.SetInputFile(dir.File("none.slf").c_str()));
  ASSERT_TRUE(state.SetInputFile(path.c_str()));
  EXPECT_EQ(state.Parse(), 0);
  EXPECT_EQ(trace.texts()[1], "[parser] - " + path +
                                  ":3: syntax error: syntax error, unexpected NAME, expecting "
                                  "TOTAL_SIZE or ANY_ATTACHMENT_SIZE");
}

TEST(AsslParser, BuildingBetweenRulesRaises) {
  tervo_test::CapturingTrace trace;
  DumpSink sink;
  ParserState state(&sink);
  EXPECT_THROW(state.AddItem(nsAssl::kGroupAction, nsAssl::kActExec, {}), ASException);
  EXPECT_THROW(state.EndRule(), ASException);
  EXPECT_THROW(state.DiscardRule(), ASException);
  EXPECT_THROW(state.NewBoolLeaf(true), ASException);
}

}  // namespace
