// tervo explain, run as a parent or an operator runs it.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "tests/support/test_support.h"

namespace {

using tervo_test::RunTervo;

TEST(TervoExplain, ShowsTheSignaturesThatFiredAndWhatTheyMatched) {
  tervo_test::TempDir dir;
  std::ofstream(dir.File("im_sign.slf"))
      << "rule alone { condition: match(\"\\bare you alone\\b\", IM::Text, REGEX_INSENSITIVE);"
         " actions: none; metadata: none; }\n"
         "rule camera { condition: match(\"webcam\", IM::Text, EXACT); actions: none; metadata: none; }\n"
         "metarule isolates { condition: alone && camera; actions: mark(\"grooming: child\", 80);"
         " metadata: priority = 9; }\n"
         "rule shout { condition: match(\"[A-Z]{5,}\", IM::Text, REGEX); actions: mark(\"teen\", 20);"
         " metadata: priority = 5; }\n";
  std::ofstream(dir.File("chat.txt")) << "Are you alone? turn on the webcam\nSTOP IT\n";
  auto run = RunTervo("explain chat.txt --data-dir . --temp-dir .", dir.path(), true);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out,
            "line 1 (child): Are you alone? turn on the webcam\n"
            "  Im Signature Filter: flagged\n"
            "    isolates (priority 9): fired, CATEGORY \"grooming: child\", SCORE 80: marks this age\n"
            "      alone: REGEX_INSENSITIVE \"\\bare you alone\\b\" on the second text: \"are you alone\" "
            "at [0, 13)\n"
            "      camera: EXACT \"webcam\" on the first text: \"webcam\" at [27, 33)\n"
            "    1 other signature gave 0\n"
            "line 2 (child): STOP IT\n"
            "  Im Signature Filter: not flagged\n"
            "    none of the 2 signatures fired\n");

  run = RunTervo("explain chat.txt --json --age teen --data-dir . --temp-dir .", dir.path(), true);
  const auto first = nlohmann::json::parse(tervo_test::SplitLines(run.out).at(0));
  const auto& walk = first["explain"]["Im Signature Filter"]["signatures"];
  ASSERT_EQ(walk.size(), 2u);
  EXPECT_EQ(walk[0]["signature"], "isolates");
  EXPECT_EQ(walk[0]["marks"], false);  // a teen session
  EXPECT_EQ(walk[1]["matches"][0]["span"], nullptr);
  EXPECT_EQ(first["flagged"], nlohmann::json::array());
}

}  // namespace
