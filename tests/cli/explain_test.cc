// tervo explain, run as a parent or an operator runs it.
#include <gtest/gtest.h>

#include <stdio.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "src/engines/urldb2/urldb2_format.h"
#include "tests/support/data_files.h"
#include "tests/support/test_support.h"

namespace {

using tervo_test::RunTervo;

TEST(TervoExplain, ShowsTheSignaturesThatFiredAndWhatTheyMatched) {
  tervo_test::TempDir dir;
  std::ofstream(dir.File("im_sign.slf"))
      << "rule alone { condition: match(\"\\bare you alone\\b\", IM::Text, REGEX_INSENSITIVE);"
         " actions: none; metadata: priority = 10; }\n"
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
            "    alone (priority 10): fired\n"
            "      alone: REGEX_INSENSITIVE \"\\bare you alone\\b\" on the second text: \"are you alone\" "
            "at [0, 13)\n"
            "    isolates (priority 9): fired, CATEGORY \"grooming: child\", SCORE 80: marks this age\n"
            "      alone: REGEX_INSENSITIVE \"\\bare you alone\\b\" on the second text: \"are you alone\" "
            "at [0, 13)\n"
            "      camera: EXACT \"webcam\" on the first text: \"webcam\" at [27, 33)\n"
            "    1 other signature gave 0\n"
            "line 2 (child): STOP IT\n"
            "  Im Signature Filter: not flagged\n"
            "    none of the 3 signatures fired\n");

  run = RunTervo("explain chat.txt --json --age teen --data-dir . --temp-dir .", dir.path(), true);
  const auto first = nlohmann::json::parse(tervo_test::SplitLines(run.out).at(0));
  const auto& walk = first["explain"]["Im Signature Filter"]["signatures"];
  ASSERT_EQ(walk.size(), 3u);
  EXPECT_EQ(walk[1]["signature"], "isolates");
  EXPECT_EQ(walk[1]["marks"], false);  // a teen session
  EXPECT_EQ(walk[1]["matches"].size(), 2u);  // alone ran first, as its own signature
  EXPECT_EQ(walk[2]["matches"][0]["span"], nullptr);
  EXPECT_EQ(first["flagged"], nlohmann::json::array());
}

TEST(TervoExplain, ShowsTheWordsSequencesAndKeyBehindEachVerdict) {
  tervo_test::TempDir dir;
  tervo_test::WriteWordsFile(dir.File("imwords.dat"), {{"bullying", 3, 5, 8, 0, {{"stupid", 3}, {"idiot", 2}}},
                                                       {"grooming", 4, 6, 9, 0, {{"pics", 3}}}});
  tervo_test::WriteMarkovianFile(dir.File("im_markovian.dat"),
                                 {{"grooming", 10, {{6, {"send", "me", "pics"}}, {5, {"send", "me"}}}}});
  tervo_test::WriteBlacklistFile(dir.File("imblacklist.dat"), std::vector<std::string>{"mallory"});
  std::ofstream(dir.File("chat.jsonl")) << "{\"text\": \"you stupid idiot, send me pics\", \"user\": \"mallory\"}\n"
                                           "{\"text\": \"see you at practice\"}\n";
  char key[24];
  snprintf(key, sizeof key, "%016llx", static_cast<unsigned long long>(nsUrlDb2::DigestKey("mallory", 7)));
  auto run = RunTervo("explain chat.jsonl --jsonl --data-dir . --temp-dir .", dir.path(), true);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out,
            "line 1 (child): you stupid idiot, send me pics\n"
            "  Im Words Filter: flagged\n"
            "    bullying: stupid 3 + idiot 2 = 5 > 3 (child): fired\n"
            "    grooming: pics 3 = 3 <= 4 (child): not fired\n"
            "    41010 = 5: the sum of bullying, the last category that fired\n"
            "  Im Blacklist Filter: flagged\n"
            "    other party \"mallory\", key " + std::string(key) + ": listed\n"
            "  Im Markovian Filter: not flagged\n"
            "    grooming: \"send me pics\" 6 = 6 < 10 (threshold 10 x 1, child): not fired\n"
            "line 2 (child): see you at practice\n"
            "  Im Words Filter: not flagged\n"
            "    no listed words; 41010 = -1: no category fired\n"
            "  Im Markovian Filter: not flagged\n"
            "    no listed sequences\n");

  run = RunTervo("explain chat.jsonl --jsonl --json --age teen --data-dir . --temp-dir .", dir.path(), true);
  const auto lines = tervo_test::SplitLines(run.out);
  ASSERT_EQ(lines.size(), 2u);
  const auto first = nlohmann::json::parse(lines[0])["explain"];
  EXPECT_EQ(first["Im Words Filter"]["categories"][0]["threshold"], 5);  // the teen threshold
  EXPECT_EQ(first["Im Words Filter"]["verdict"]["value"], -1);
  EXPECT_EQ(first["Im Markovian Filter"]["classes"][0]["needed"], 8.0);
  EXPECT_EQ(nlohmann::json::parse(lines[1])["explain"]["Im Blacklist Filter"]["user"], nullptr);
}

}  // namespace
