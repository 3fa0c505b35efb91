// tervo lint, run as a rule author runs it.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "tests/support/test_support.h"

namespace {

using tervo_test::RunTervo;

TEST(TervoLint, SampleRulesAreCleanAndPrintStably) {
  const std::string sample = std::string(TERVO_SOURCE_DIR) + "/data/sample";
  tervo_test::TempDir dir;
  auto run = RunTervo("lint " + sample, dir.path());
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(run.out, "61 rules, 43 signatures, 0 APM rules, 0 discarded, 0 errors, 0 warnings\n");

  auto printed = RunTervo("lint --print " + sample, dir.path(), true);
  ASSERT_EQ(printed.status, 0);
  std::ofstream(dir.File("im_all.slf")) << printed.out;
  auto again = RunTervo("lint --print im_all.slf", dir.path(), true);
  EXPECT_EQ(again.out, printed.out);
}

TEST(TervoLint, ReportsEachMistakeAtItsLine) {
  tervo_test::TempDir dir;
  std::ofstream(dir.File("imbad.slf"))
      << "rule dup { condition: none; actions: mark(\"a\", 1); metadata: priority = 1; }\n"
         "rule dup { condition: none; actions: none; metadata: priority = 2; }\n"
         "rule bad { condition: none; actions: increase_score(5); metadata: none; }\n"
         "rule four { condition: none; actions: mark(a, 1); mark(b, 2); mark(c, 3); mark(d, 4);\n"
         "  metadata: priority = 3; }\n"
         "rule lonely { condition: none; actions: set_category(\"x\"); metadata: none; }\n"
         "metarule m1 { condition: m2 && ghost; actions: none; metadata: priority = 1; }\n"
         "metarule m2 { condition: m1; actions: none; metadata: none; }\n"
         "rule rx { condition: match(\"(a\", IM::Text, REGEX); actions: none; metadata: relevance = 1; }\n"
         "rule sum { condition: match(\"a\", IM::Text, REGEX_SUMMARY); actions: none; metadata: none; }"
         " rule ph { condition: match(\"(phrase matching)?, | !\", Parts::Text, EXACT); actions: none;"
         " metadata: priority = 1; }\n"
         "garbage\n"
         "rule after { condition: exists(Headers::\"\xc3\xa9\"); actions: none; metadata: none; }\n"
         "/* open\n";
  auto run = RunTervo("lint imbad.slf", dir.path());
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out,
            "imbad.slf:2: warning: a rule named dup already exists: both are kept, the name stands "
            "for the first\n"
            "imbad.slf:3: error: syntax error, unexpected CONSTANT, expecting NAME\n"
            "imbad.slf:3: error: syntax error: invalid increase_score action\n"
            "imbad.slf:3: error: discarding simple rule bad because it contains errors\n"
            "imbad.slf:4: warning: rule four has more than 3 actions: only the first 3 are kept\n"
            "imbad.slf:6: warning: set_category does nothing on IM items (rule lonely); mark sets "
            "the verdict\n"
            "imbad.slf:9: error: regular expression refused (missing closing parenthesis at offset "
            "2): (a\n"
            "imbad.slf:10: error: summary queries can only be performed on text parts or all "
            "headers\n"
            "imbad.slf:10: error: the match string does not contain any phrase\n"
            "imbad.slf:11: error: syntax error, unexpected NAME, expecting end of file or RULE or "
            "METARULE\n"
            "imbad.slf:12: error: specific header name not ASCII\n"
            "imbad.slf:12: error: could not create condition\n"
            "imbad.slf:12: error: no rule created of after\n"
            "imbad.slf:11: error: input error: text outside rules?\n"
            "imbad.slf:14: error: comment not closed before the end of the file\n"
            "imbad.slf:6: warning: rule lonely is never run: it is neither a signature nor an APM "
            "rule, and no expression uses it\n"
            "imbad.slf:7: warning: rule m1 uses ghost, which no rule defines\n"
            "imbad.slf:10: warning: rule sum is never run: it is neither a signature nor an APM "
            "rule, and no expression uses it\n"
            "imbad.slf:7: warning: rules refer to each other in a cycle: m1 -> m2 -> m1\n"
            "9 rules, 5 signatures, 1 APM rules, 2 discarded, 12 errors, 7 warnings\n");

  auto json = nlohmann::json::parse(RunTervo("lint --json imbad.slf", dir.path(), true).out);
  EXPECT_EQ(json["errors"], 12);
  EXPECT_EQ(json["discarded"], 2);
  EXPECT_EQ(json["messages"][1]["line"], 3);
  EXPECT_EQ(json["messages"][1]["severity"], "error");

  // A folder is read as the engine reads it: its <prefix>*.slf files.
  EXPECT_EQ(RunTervo("lint --prefix as .", dir.path()).out,
            ".: error: holds no as*.slf files\n"
            "0 rules, 0 signatures, 0 APM rules, 0 discarded, 1 errors, 0 warnings\n");
}

TEST(TervoLint, ChecksEachChangedRuleOfAnIncrementalList) {
  tervo_test::TempDir dir;
  std::ofstream(dir.File("im_incslf.txt"))
      << "{\n* 42\n+ keeps\n  rule keeps { condition: none;\n    actions: mark(\"a\", 1);\n"
         "    metadata: priority = 1; }\n- old\n}\n"
         "{\n* 43\n+ wrong\n\n  rule other { condition: match(\"(a\", IM::Text, REGEX); actions: none;"
         " metadata: priority = 1; }\n}\n";
  std::ofstream(dir.File("bad_incslf.txt")) << "{\n* 1\n}\nstray\n";
  auto run = RunTervo("lint im_incslf.txt bad_incslf.txt", dir.path());
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out,
            "im_incslf.txt:13: error: regular expression refused (missing closing parenthesis at "
            "offset 2): (a\n"
            "im_incslf.txt:11: error: the text of wrong defines rule other\n"
            "bad_incslf.txt:4: error: parse error\n"
            "2 rules, 2 signatures, 0 APM rules, 0 discarded, 3 errors, 0 warnings\n");
}

}  // namespace
