#include "src/engines/markovian/markovian.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "common/binstreamer.h"
#include "src/engines/markovian/markovian_format.h"
#include "tests/support/test_support.h"

namespace {

using ascommon::CBinaryStreamer;
using ascommon::IStreamer;
using ascommon::sstring;
using nsMarkovian::CGenericMarkovianEngine;
using nsMarkovian::CIMMarkovianEngine;
using nsMarkovian::HashSequence;
using nsMarkovian::MarkovianFileWriter;
using nsMarkovian::MarkovianParams;
using nsMarkovian::MarkovianResults;
using nsMarkovian::NGramEntry;
using nsMarkovian::NGramTable;
using nsMarkovian::WordHash;

uint32_t H(const std::string& word) { return WordHash(word.data(), word.size()); }

struct Gram {
  std::vector<std::string> words;
  int32_t value;
};

// A class as written to a file: the grams land in the table of their length;
// indexes without grams are written empty (order 0).
struct Class {
  std::string name;
  int32_t threshold;
  std::vector<Gram> grams;
};

size_t TableCount(const Class& c) {
  size_t longest = 0;
  for (const Gram& g : c.grams) longest = std::max(longest, g.words.size());
  return longest + 1;
}

void WriteClass(MarkovianFileWriter* writer, const Class& c) {
  const size_t tables = TableCount(c);
  writer->WriteClassHeader(sstring(c.name.c_str()), c.threshold, static_cast<uint32_t>(tables));
  for (size_t k = 0; k < tables; ++k) {
    std::vector<const Gram*> of_length;
    for (const Gram& g : c.grams) {
      if (g.words.size() == k) of_length.push_back(&g);
    }
    if (of_length.empty()) {
      writer->WriteTableOrder(0);
      continue;
    }
    writer->WriteTableOrder(static_cast<int32_t>(k));
    writer->WriteEntryCount(static_cast<uint32_t>(of_length.size()));
    for (const Gram* g : of_length) {
      writer->WriteEntryValue(g->value);
      for (const std::string& w : g->words) writer->WriteWord(H(w), sstring(w.c_str()));
    }
  }
}

void WritePayload(const std::string& path, const std::string& work,
                  const std::function<void(IStreamer*)>& fill) {
  CBinaryStreamer out(path.c_str(), CBinaryStreamer::kModeWrite, work.c_str(),
                      nsMarkovian::kMarkovianFileVersion);
  fill(&out);
}

void WriteModel(const std::string& path, const std::string& work,
                const std::vector<Class>& classes) {
  WritePayload(path, work, [&](IStreamer* out) {
    MarkovianFileWriter writer(out);
    writer.WriteClassCount(static_cast<uint32_t>(classes.size()));
    for (const Class& c : classes) WriteClass(&writer, c);
  });
}

MarkovianParams All(float factor = 1.0f) {
  MarkovianParams p;
  p.factor = factor;
  p.allClasses = 1;
  return p;
}

std::vector<std::string> Texts(const nsMarkovian::Vector<sstring>& list) {
  std::vector<std::string> out;
  for (const sstring& s : list) out.emplace_back(s.c_str());
  return out;
}

HashSequence Cut(const char* text) {
  HashSequence seq;
  nsMarkovian::CutText(text, &seq);
  return seq;
}

class MarkovianTest : public ::testing::Test {
 protected:
  // Writes `classes` to a fresh file and loads it into engine_.
  int32_t Load(const std::vector<Class>& classes, const std::string& name = "m.dat") {
    const std::string path = dir_.File(name);
    WriteModel(path, dir_.path(), classes);
    return engine_.LoadModel(path.c_str());
  }
  float Score(const MarkovianResults& r, const char* name) {
    const auto it = r.scores.find(sstring(name));
    return it == r.scores.end() ? -1000.0f : it->second;
  }
  bool Has(const MarkovianResults& r, const char* name) {
    return r.scores.count(sstring(name)) != 0;
  }

  tervo_test::TempDir dir_;
  CIMMarkovianEngine engine_;
};

// ------------------------------------------------------------ word hash, cut

TEST(MarkovianWordHash, KnownWordsLowerCasedSignedBytes) {
  // "a":  (5381*33) ^ 97 = 177573 ^ 97 = 177604
  EXPECT_EQ(WordHash("a", 1), 177604u);
  // "ab": ((5381*33)^97)*33 ^ 98 = 5860932 ^ 98 = 5860902
  EXPECT_EQ(WordHash("ab", 2), 5860902u);
  // "cd": ((177573^99)*33) ^ 100 = (177606*33) ^ 100 = 5860998 ^ 100 = 5861090
  EXPECT_EQ(WordHash("cd", 2), 5861090u);
  // 0xE9 'x': 0xE9 is -23 as a signed byte, widened to 0xFFFFFFE9:
  // (177573 ^ 0xFFFFFFE9) = 4294789708; *33 mod 2^32 = 4289106780; ^ 120 = 4289106868
  EXPECT_EQ(WordHash("\xe9x", 2), 4289106868u);
  // Capitals hash as their lower-case letters; other bytes are kept.
  EXPECT_EQ(WordHash("AB", 2), 5860902u);
  EXPECT_NE(WordHash("a#", 2), WordHash("a", 1));
  EXPECT_EQ(WordHash(nullptr, 3), nsMarkovian::kWordHashSeed);
}

TEST(MarkovianCutText, SeparatorsAndOneByteWords) {
  EXPECT_EQ(Cut("a b cd ef"), Cut("cd ef"));
  EXPECT_EQ(Cut("cd ef"), (HashSequence{H("cd"), H("ef")}));
  EXPECT_EQ(Cut("CD Ef"), Cut("cd ef"));
  // Each of the 23 separators besides the terminator splits "cd" from "ef".
  const char separators[] = "\t\n\r !\"'(),-./:;?[\\]^`{}";
  for (const char* s = separators; *s != '\0'; ++s) {
    const std::string text = std::string("cd") + *s + "ef";
    EXPECT_EQ(Cut(text.c_str()), Cut("cd ef")) << "separator " << static_cast<int>(*s);
  }
  // Bytes that are not separators belong to the word.
  for (const char* text : {"cd#ef", "cd_ef", "cd@ef", "cd~ef", "cd\x01" "ef", "cd|ef", "cd+ef"}) {
    EXPECT_EQ(Cut(text), (HashSequence{WordHash(text, 5)})) << text;
  }
  EXPECT_EQ(Cut("\xc3\xa9t\xc3\xa9"), (HashSequence{WordHash("\xc3\xa9t\xc3\xa9", 5)}));
  EXPECT_TRUE(Cut("").empty());
  EXPECT_TRUE(Cut(nullptr).empty());
  EXPECT_TRUE(Cut(" ,.;!? a  b  c ").empty());
  EXPECT_EQ(Cut("  x yz  w"), (HashSequence{H("yz")}));
}

// ------------------------------------------------------------------ loading

TEST_F(MarkovianTest, LoadBuildsTablesThresholdsAndDictionary) {
  ASSERT_EQ(Load({{"spam", 7, {{{"buy", "now"}, 3}, {{"cheap"}, 2}}},
                  {"abuse", 4, {{{"you", "are", "dumb"}, 5}}}}),
            0);
  const auto& classes = engine_.classes();
  ASSERT_EQ(classes.size(), 2u);
  // Name order.
  EXPECT_STREQ(classes.begin()->first.c_str(), "abuse");
  const auto& spam = classes.at(sstring("spam"));
  ASSERT_EQ(spam.size(), 3u);
  EXPECT_EQ(spam[0], nullptr);
  ASSERT_NE(spam[1], nullptr);
  ASSERT_NE(spam[2], nullptr);
  EXPECT_EQ(spam[2]->order, 2);
  ASSERT_EQ(spam[2]->entries.size(), 1u);
  EXPECT_EQ(spam[2]->entries.begin()->first, H("buy"));
  EXPECT_EQ(spam[2]->entries.begin()->second.value, 3);
  const auto& abuse = classes.at(sstring("abuse"));
  ASSERT_EQ(abuse.size(), 4u);
  EXPECT_EQ(abuse[1], nullptr);
  EXPECT_EQ(abuse[2], nullptr);
  EXPECT_EQ(engine_.thresholds().at(sstring("spam")), 7);
  EXPECT_EQ(engine_.thresholds().at(sstring("abuse")), 4);
  EXPECT_STREQ(engine_.dictionary().at(H("dumb")).c_str(), "dumb");
  EXPECT_EQ(engine_.dictionary().size(), 6u);
}

TEST_F(MarkovianTest, MissingFileIsNotFoundAndLogged) {
  tervo_test::CapturingTrace trace;
  EXPECT_EQ(engine_.LoadModel(dir_.File("absent.dat").c_str()), -13);
  bool logged = false;
  for (const std::string& line : trace.lines()) {
    logged = logged || line.find("[Markovian] Signature file not found") != std::string::npos;
  }
  EXPECT_TRUE(logged);
  EXPECT_TRUE(engine_.classes().empty());
}

TEST_F(MarkovianTest, TruncatedFileIsCorruptAndKeepsCompletedClasses) {
  const std::string path = dir_.File("cut.dat");
  WritePayload(path, dir_.path(), [&](IStreamer* out) {
    MarkovianFileWriter writer(out);
    writer.WriteClassCount(3);
    WriteClass(&writer, {"first", 1, {{{"good"}, 2}}});
    // The second class stops inside its first entry.
    writer.WriteClassHeader(sstring("second"), 1, 2);
    writer.WriteTableOrder(0);
    writer.WriteTableOrder(1);
    writer.WriteEntryCount(2);
    writer.WriteEntryValue(5);
    writer.WriteWord(H("half"), sstring("half"));
  });
  tervo_test::CapturingTrace trace;
  EXPECT_EQ(engine_.LoadModel(path.c_str()), -14);
  ASSERT_EQ(engine_.classes().size(), 1u);
  EXPECT_EQ(engine_.classes().count(sstring("first")), 1u);
  EXPECT_EQ(engine_.thresholds().count(sstring("second")), 0u);
  bool logged = false;
  for (const std::string& line : trace.lines()) {
    logged = logged || line.find("[Markovian] Corrupt File!") != std::string::npos;
  }
  EXPECT_TRUE(logged);
  // A pair read before the damage still went into the dictionary.
  EXPECT_EQ(engine_.dictionary().count(H("half")), 1u);

  MarkovianResults r;
  MarkovianParams p = All();
  ASSERT_EQ(engine_.ClassifyText("good half", &r, &p), 0);
  EXPECT_FLOAT_EQ(Score(r, "first"), 2.0f);
  EXPECT_FALSE(Has(r, "second"));
}

TEST_F(MarkovianTest, SecondModelMergesAndReplacesSameNameClasses) {
  ASSERT_EQ(Load({{"keep", 1, {{{"alpha"}, 3}}}, {"swap", 1, {{{"beta"}, 4}}}}, "one.dat"), 0);
  ASSERT_EQ(Load({{"swap", 9, {{{"gamma"}, 6}}}, {"fresh", 2, {{{"delta"}, 1}}}}, "two.dat"), 0);
  EXPECT_EQ(engine_.classes().size(), 3u);
  EXPECT_EQ(engine_.thresholds().at(sstring("swap")), 9);
  MarkovianParams p = All();
  p.reportOnlyFired = 0;
  MarkovianResults r;
  ASSERT_EQ(engine_.Classify(Cut("alpha beta gamma delta"), &r, p), 0);
  EXPECT_FLOAT_EQ(Score(r, "keep"), 3.0f);
  EXPECT_FLOAT_EQ(Score(r, "swap"), 6.0f);  // beta's table went with the old class
  EXPECT_FLOAT_EQ(Score(r, "fresh"), 1.0f);
  // A later text for the same hash replaces the earlier one.
  const std::string path = dir_.File("respell.dat");
  WritePayload(path, dir_.path(), [&](IStreamer* out) {
    MarkovianFileWriter writer(out);
    writer.WriteClassCount(1);
    writer.WriteClassHeader(sstring("keep"), 1, 2);
    writer.WriteTableOrder(0);
    writer.WriteTableOrder(1);
    writer.WriteEntryCount(1);
    writer.WriteEntryValue(3);
    writer.WriteWord(H("alpha"), sstring("ALPHA"));
  });
  ASSERT_EQ(engine_.LoadModel(path.c_str()), 0);
  EXPECT_STREQ(engine_.dictionary().at(H("alpha")).c_str(), "ALPHA");
}

// ------------------------------------------------------------ table entries

TEST(MarkovianTable, RefusesEntriesOfTheWrongLengthAndKeepsLoadOrder) {
  NGramTable table(2);
  EXPECT_EQ(table.Add({{1}, 5}), -550);
  EXPECT_EQ(table.Add({{1, 2, 3}, 5}), -550);
  EXPECT_TRUE(table.entries.empty());
  EXPECT_EQ(table.Add({{7, 8}, 1}), 0);
  EXPECT_EQ(table.Add({{7, 9}, 2}), 0);
  EXPECT_EQ(table.Add({{7, 8}, 3}), 0);  // shadowed by the first {7, 8}
  EXPECT_EQ(table.Add({{4, 8}, 4}), 0);
  NGramTable zero(0);
  EXPECT_EQ(zero.Add({{}, 1}), -550);

  // Entries sharing a first hash keep their load order.
  std::vector<int32_t> sevens;
  const auto range = table.entries.equal_range(7);
  for (auto it = range.first; it != range.second; ++it) sevens.push_back(it->second.value);
  EXPECT_EQ(sevens, (std::vector<int32_t>{1, 2, 3}));
}

// ------------------------------------------------------------- classifying

TEST_F(MarkovianTest, EmptySequenceScoresNothing) {
  ASSERT_EQ(Load({{"spam", 1, {{{"buy"}, 3}}}}), 0);
  MarkovianParams p = All();
  p.reportOnlyFired = 0;
  MarkovianResults r;
  r.scores[sstring("stale")] = 1.0f;
  ASSERT_EQ(engine_.Classify(Cut(" ,. ; a "), &r, p), 0);
  EXPECT_FALSE(Has(r, "stale"));
  EXPECT_FLOAT_EQ(Score(r, "spam"), 0.0f);
  ASSERT_EQ(engine_.ClassifyText(" ,. ; a ", &r, &p), 0);
  EXPECT_TRUE(r.scores.empty());
}

TEST_F(MarkovianTest, ThresholdTimesFactorDecidesFiring) {
  ASSERT_EQ(Load({{"eight", 10, {{{"ww"}, 8}}},
                  {"ten", 10, {{{"ww"}, 10}}},
                  {"zero", 0, {{{"ww"}, 50}}},
                  {"none", 3, {{{"other"}, 1}}}}),
            0);
  MarkovianResults r;
  MarkovianParams p = All(1.0f);
  ASSERT_EQ(engine_.ClassifyText("ww", &r, &p), 0);
  EXPECT_FALSE(Has(r, "eight"));
  EXPECT_FLOAT_EQ(Score(r, "ten"), 10.0f);
  EXPECT_FALSE(Has(r, "zero"));  // threshold 0 never fires
  EXPECT_FALSE(Has(r, "none"));

  p = All(0.8f);
  ASSERT_EQ(engine_.ClassifyText("ww", &r, &p), 0);
  EXPECT_FLOAT_EQ(Score(r, "eight"), 8.0f);
  EXPECT_FLOAT_EQ(Score(r, "ten"), 10.0f);
  EXPECT_FALSE(Has(r, "none"));

  // Factor 0 fires every class with a positive threshold, even at score 0.
  p = All(0.0f);
  ASSERT_EQ(engine_.ClassifyText("nothing matches here", &r, &p), 0);
  EXPECT_FLOAT_EQ(Score(r, "eight"), 0.0f);
  EXPECT_FLOAT_EQ(Score(r, "ten"), 0.0f);
  EXPECT_FLOAT_EQ(Score(r, "none"), 0.0f);
  EXPECT_FALSE(Has(r, "zero"));
  EXPECT_EQ(r.scores.size(), 3u);

  // Classify itself reports the classes that do not fire unless told not to.
  p = All(1.0f);
  ASSERT_EQ(engine_.Classify(Cut("ww"), &r, p), 0);
  EXPECT_EQ(r.scores.size(), 4u);
  EXPECT_FLOAT_EQ(Score(r, "zero"), 50.0f);
  EXPECT_FLOAT_EQ(Score(r, "eight"), 8.0f);
  p.reportOnlyFired = 1;
  ASSERT_EQ(engine_.Classify(Cut("ww"), &r, p), 0);
  EXPECT_EQ(r.scores.size(), 1u);
  EXPECT_TRUE(Has(r, "ten"));
}

TEST_F(MarkovianTest, ClassifyTextSetsReportOnlyFiredInTheCallersRecord) {
  ASSERT_EQ(Load({{"low", 100, {{{"ww"}, 1}}}}), 0);
  MarkovianParams p = All();
  EXPECT_EQ(p.reportOnlyFired, 0);
  MarkovianResults r;
  ASSERT_EQ(engine_.ClassifyText("ww", &r, &p), 0);
  EXPECT_EQ(p.reportOnlyFired, 1);
  EXPECT_TRUE(r.scores.empty());
  EXPECT_EQ(engine_.ClassifyText("ww", nullptr, &p), -10);
}

TEST_F(MarkovianTest, LongerWindowsShadowShorterOnesFromCoveredStarts) {
  ASSERT_EQ(Load({{"c", 1,
                   {{{"aa", "bb", "cc"}, 100},
                    {{"aa", "bb"}, 10},
                    {{"bb", "cc"}, 20},
                    {{"zz", "aa"}, 1000},
                    {{"aa"}, 3},
                    {{"bb"}, 5},
                    {{"cc"}, 7}}}}),
            0);
  MarkovianParams p = All();
  p.collectMatches = 1;
  MarkovianResults r;
  // The three-word match covers aa bb cc: no two- or one-word window starts
  // inside it.
  ASSERT_EQ(engine_.ClassifyText("aa bb cc", &r, &p), 0);
  EXPECT_FLOAT_EQ(Score(r, "c"), 100.0f);
  // "zz aa" starts before the covered stretch and runs into it.
  ASSERT_EQ(engine_.ClassifyText("zz aa bb cc", &r, &p), 0);
  EXPECT_FLOAT_EQ(Score(r, "c"), 1100.0f);
  EXPECT_EQ(Texts(r.matches.at(sstring("c"))),
            (std::vector<std::string>{"aa bb cc ;", "zz aa ;"}));
  // Without the long match, the two-word windows take turns from the left.
  ASSERT_EQ(engine_.ClassifyText("aa bb xx cc", &r, &p), 0);
  EXPECT_FLOAT_EQ(Score(r, "c"), 10.0f + 7.0f);
  ASSERT_EQ(engine_.ClassifyText("bb cc aa", &r, &p), 0);
  EXPECT_FLOAT_EQ(Score(r, "c"), 20.0f + 3.0f);
}

TEST_F(MarkovianTest, WindowsNeverRunPastTheEnd) {
  // Index 3 holds a table of order 2: its entries match two hashes, but a
  // window is three positions long and must fit the sequence.
  const std::string path = dir_.File("odd.dat");
  WritePayload(path, dir_.path(), [&](IStreamer* out) {
    MarkovianFileWriter writer(out);
    writer.WriteClassCount(1);
    writer.WriteClassHeader(sstring("odd"), 1, 4);
    writer.WriteTableOrder(0);
    writer.WriteTableOrder(0);
    writer.WriteTableOrder(0);
    writer.WriteTableOrder(2);
    writer.WriteEntryCount(1);
    writer.WriteEntryValue(4);
    writer.WriteWord(H("pp"), sstring("pp"));
    writer.WriteWord(H("qq"), sstring("qq"));
  });
  ASSERT_EQ(engine_.LoadModel(path.c_str()), 0);
  MarkovianParams p = All();
  p.reportOnlyFired = 0;
  p.collectMatches = 1;
  MarkovianResults r;
  // The spelled text covers the window's three positions.
  ASSERT_EQ(engine_.Classify(Cut("pp qq pp"), &r, p), 0);
  EXPECT_FLOAT_EQ(Score(r, "odd"), 4.0f);
  EXPECT_EQ(Texts(r.matches.at(sstring("odd"))), (std::vector<std::string>{"pp qq pp ;"}));
  ASSERT_EQ(engine_.Classify(Cut("pp qq"), &r, p), 0);
  EXPECT_FLOAT_EQ(Score(r, "odd"), 0.0f);
  // The match at the end stops the walk for that length; earlier starts
  // have already been tried.
  ASSERT_EQ(engine_.Classify(Cut("pp qq xx pp qq"), &r, p), 0);
  EXPECT_FLOAT_EQ(Score(r, "odd"), 4.0f);
}

TEST_F(MarkovianTest, MaxRepeatsCapsEachText) {
  ASSERT_EQ(Load({{"c", 1, {{{"hey", "you"}, 5}, {{"hey"}, 1}}}}), 0);
  const char* text = "hey you hey you hey you hey";
  MarkovianParams p = All();
  MarkovianResults r;
  ASSERT_EQ(engine_.ClassifyText(text, &r, &p), 0);
  EXPECT_FLOAT_EQ(Score(r, "c"), 16.0f);
  p.maxRepeats = 2;
  ASSERT_EQ(engine_.ClassifyText(text, &r, &p), 0);
  // Two "hey you" count; the third is skipped and its "hey" stays uncovered
  // for the one-word table, with the last "hey".
  EXPECT_FLOAT_EQ(Score(r, "c"), 10.0f + 2.0f);
  p.maxRepeats = 1;
  ASSERT_EQ(engine_.ClassifyText(text, &r, &p), 0);
  EXPECT_FLOAT_EQ(Score(r, "c"), 5.0f + 1.0f);
  p.maxRepeats = 0;  // 0 or less: no cap
  ASSERT_EQ(engine_.ClassifyText(text, &r, &p), 0);
  EXPECT_FLOAT_EQ(Score(r, "c"), 16.0f);
}

TEST_F(MarkovianTest, SkipNonPositiveLetsShorterWindowsMatch) {
  ASSERT_EQ(Load({{"c", 1, {{{"hey", "you"}, -4}, {{"big", "deal"}, 0}, {{"you"}, 3}}}}), 0);
  MarkovianParams p = All();
  p.reportOnlyFired = 0;
  MarkovianResults r;
  ASSERT_EQ(engine_.Classify(Cut("hey you big deal"), &r, p), 0);
  EXPECT_FLOAT_EQ(Score(r, "c"), -4.0f);
  p.skipNonPositive = 1;
  ASSERT_EQ(engine_.Classify(Cut("hey you big deal"), &r, p), 0);
  EXPECT_FLOAT_EQ(Score(r, "c"), 3.0f);
}

TEST_F(MarkovianTest, CollectMatchesSpellsNewTextsFromTheDictionary) {
  ASSERT_EQ(Load({{"a", 1, {{{"hello", "there"}, 2}, {{"bye"}, 1}}},
                  {"b", 1, {{{"bye"}, 4}}}}),
            0);
  MarkovianParams p = All();
  p.collectMatches = 1;
  MarkovianResults r;
  ASSERT_EQ(engine_.ClassifyText("Hello THERE, bye! hello there. Bye", &r, &p), 0);
  EXPECT_FLOAT_EQ(Score(r, "a"), 6.0f);
  EXPECT_FLOAT_EQ(Score(r, "b"), 8.0f);
  EXPECT_EQ(Texts(r.matches.at(sstring("a"))),
            (std::vector<std::string>{"hello there ;", "bye ;"}));
  EXPECT_EQ(Texts(r.matches.at(sstring("b"))), (std::vector<std::string>{"bye ;"}));
  // Without the flag nothing is collected, and the maps are emptied first.
  p.collectMatches = 0;
  ASSERT_EQ(engine_.ClassifyText("hello there", &r, &p), 0);
  EXPECT_TRUE(r.matches.empty());
  EXPECT_FALSE(Has(r, "b"));
}

TEST_F(MarkovianTest, ClassListSelectsClassesUnlessAllClasses) {
  ASSERT_EQ(Load({{"one", 1, {{{"ww"}, 1}}}, {"two", 1, {{{"ww"}, 2}}},
                  {"three", 1, {{{"ww"}, 3}}}}),
            0);
  MarkovianParams p;
  p.classList = sstring("three;one;");
  MarkovianResults r;
  ASSERT_EQ(engine_.ClassifyText("ww", &r, &p), 0);
  EXPECT_EQ(r.scores.size(), 2u);
  EXPECT_TRUE(Has(r, "one"));
  EXPECT_TRUE(Has(r, "three"));
  // A name must be followed by ";".
  p.classList = sstring("two");
  ASSERT_EQ(engine_.ClassifyText("ww", &r, &p), 0);
  EXPECT_TRUE(r.scores.empty());
  p.classList = sstring();
  ASSERT_EQ(engine_.ClassifyText("ww", &r, &p), 0);
  EXPECT_TRUE(r.scores.empty());
  p.allClasses = 1;
  ASSERT_EQ(engine_.ClassifyText("ww", &r, &p), 0);
  EXPECT_EQ(r.scores.size(), 3u);
}

TEST_F(MarkovianTest, LongSequencesAndThreadsAgree) {
  ASSERT_EQ(Load({{"c", 1, {{{"aa", "bb"}, 2}, {{"cc"}, 1}}}}), 0);
  std::string text;
  for (int i = 0; i < 400; ++i) text += "aa bb cc ";  // 1200 words: flags on the heap
  MarkovianParams p = All();
  MarkovianResults r;
  ASSERT_EQ(engine_.ClassifyText(text.c_str(), &r, &p), 0);
  EXPECT_FLOAT_EQ(Score(r, "c"), 1200.0f);
  std::vector<std::thread> threads;
  std::vector<float> scores(4, 0.0f);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 20; ++i) {
        MarkovianParams mine = All();
        MarkovianResults out;
        if (engine_.ClassifyText(text.c_str(), &out, &mine) == 0) {
          scores[t] = out.scores.begin()->second;
        }
      }
    });
  }
  for (std::thread& t : threads) t.join();
  for (float s : scores) EXPECT_FLOAT_EQ(s, 1200.0f);
}

// Scores `seq` the slow, obvious way: every class, every length, every start,
// looked up through each table's multimap alone. Classify must agree with it
// whatever shortcut it takes.
std::map<std::string, float> ReferenceScores(const CGenericMarkovianEngine& engine,
                                             const HashSequence& seq,
                                             const MarkovianParams& params) {
  std::map<std::string, float> out;
  const int64_t n = static_cast<int64_t>(seq.size());
  for (const auto& [name, tables] : engine.classes()) {
    if (tables.empty()) continue;
    std::vector<bool> covered(static_cast<size_t>(n) + 1, false);
    std::map<std::string, int> repeats;
    float score = 0.0f;
    for (int64_t k = static_cast<int64_t>(tables.size()) - 1; k >= 1; --k) {
      const NGramTable* table = tables[static_cast<size_t>(k)];
      if (table == nullptr) continue;
      for (int64_t p = 0; p <= n - k + 1; ++p) {
        if (covered[static_cast<size_t>(p)] || p >= n || n - p < table->order) continue;
        const NGramEntry* match = nullptr;
        const auto range = table->entries.equal_range(seq[static_cast<size_t>(p)]);
        for (auto it = range.first; it != range.second && match == nullptr; ++it) {
          if (std::equal(it->second.hashes.begin(), it->second.hashes.end(), seq.begin() + p)) {
            match = &it->second;
          }
        }
        if (match == nullptr) continue;
        if (params.skipNonPositive != 0 && match->value < 1) continue;
        if (p + k - 1 >= n) break;
        std::string text;
        for (int64_t w = p; w < p + k; ++w) {
          const auto word = engine.dictionary().find(seq[static_cast<size_t>(w)]);
          if (word != engine.dictionary().end()) text += std::string(word->second.c_str()) + " ";
        }
        if (++repeats[text] > params.maxRepeats && params.maxRepeats >= 1) continue;
        score += static_cast<float>(match->value);
        for (int64_t w = p; w < p + k; ++w) covered[static_cast<size_t>(w)] = true;
      }
    }
    const int32_t threshold = engine.thresholds().at(name);
    const bool fires = score >= static_cast<float>(threshold) * params.factor && threshold > 0;
    if ((fires || params.reportOnlyFired == 0) && name.length() > 0) out[name.c_str()] = score;
  }
  return out;
}

std::map<std::string, float> Scores(const MarkovianResults& r) {
  std::map<std::string, float> out;
  for (const auto& [name, score] : r.scores) out[name.c_str()] = score;
  return out;
}

// Random models of 30 classes (more tables than one bank of the start index),
// some tables holding sequences of another length than their index, a small
// vocabulary so that first words repeat, texts up to 1500 words.
TEST_F(MarkovianTest, ClassifyAgreesWithTheObviousWalk) {
  std::mt19937 rng(20261205);
  std::vector<std::string> vocabulary;
  for (int i = 0; i < 40; ++i) vocabulary.push_back(std::string("w").append(std::to_string(i)));
  const auto word = [&] { return vocabulary[rng() % vocabulary.size()]; };
  const std::string path = dir_.File("random.dat");
  WritePayload(path, dir_.path(), [&](IStreamer* out) {
    MarkovianFileWriter writer(out);
    writer.WriteClassCount(30);
    for (int c = 0; c < 30; ++c) {
      const std::string name = "class" + std::to_string(c);
      writer.WriteClassHeader(sstring(name.c_str()), static_cast<int32_t>(rng() % 20) - 2, 4);
      for (int k = 0; k < 4; ++k) {
        const int32_t order = k == 0 || rng() % 6 == 0 ? 0 : rng() % 5 == 0 ? 1 + rng() % 3 : k;
        writer.WriteTableOrder(order);
        if (order <= 0) continue;
        const uint32_t count = 1 + rng() % 25;
        writer.WriteEntryCount(count);
        for (uint32_t e = 0; e < count; ++e) {
          writer.WriteEntryValue(static_cast<int32_t>(rng() % 9) - 2);
          for (int32_t w = 0; w < order; ++w) {
            const std::string text = word();
            writer.WriteWord(H(text), sstring(text.c_str()));
          }
        }
      }
    }
  });
  ASSERT_EQ(engine_.LoadModel(path.c_str()), 0);

  const auto check_texts = [&](const char* stage) {
    for (int round = 0; round < 60; ++round) {
      const size_t words = round % 10 == 0 ? 600 + rng() % 900 : rng() % 40;
      std::string text;
      for (size_t i = 0; i < words; ++i) text += word() + (rng() % 7 == 0 ? ", " : " ");
      MarkovianParams p = All(static_cast<float>(rng() % 3) * 0.5f);
      p.skipNonPositive = static_cast<uint8_t>(rng() % 2);
      p.maxRepeats = static_cast<int32_t>(rng() % 4) - 1;
      p.reportOnlyFired = static_cast<uint8_t>(rng() % 2);
      MarkovianResults r;
      const HashSequence seq = Cut(text.c_str());
      ASSERT_EQ(engine_.Classify(seq, &r, p), 0);
      ASSERT_EQ(Scores(r), ReferenceScores(engine_, seq, p)) << stage << ": " << text;
    }
  };
  check_texts("as loaded");
}

}  // namespace
