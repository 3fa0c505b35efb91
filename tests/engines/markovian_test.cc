#include "src/engines/markovian/markovian.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "src/engines/markovian/markovian_format.h"
#include "tests/support/data_files.h"
#include "tests/support/test_support.h"

namespace {

using ascommon::IStreamer;
using ascommon::sstring;
using nsMarkovian::CGenericMarkovianEngine;
using nsMarkovian::HashSequence;
using nsMarkovian::MarkovianClass;
using nsMarkovian::MarkovianFileWriter;
using nsMarkovian::MarkovianParams;
using nsMarkovian::MarkovianResults;
using nsMarkovian::NGramEntry;
using nsMarkovian::NGramTable;
using nsMarkovian::WordHash;

uint32_t H(const std::string& word) { return WordHash(word.data(), word.size()); }

MarkovianParams All(float factor = 1.0f) {
  MarkovianParams p;
  p.factor = factor;
  p.allClasses = 1;
  return p;
}

HashSequence Cut(const char* text) {
  HashSequence seq;
  nsMarkovian::CutText(text, &seq);
  return seq;
}

std::map<std::string, float> Scores(const MarkovianResults& r) {
  std::map<std::string, float> out;
  for (const auto& [name, score] : r.scores) out[name.c_str()] = score;
  return out;
}

class MarkovianTest : public ::testing::Test {
 protected:
  int32_t Load(const std::vector<MarkovianClass>& classes, const std::string& name = "m.dat") {
    const std::string path = dir_.File(name);
    tervo_test::WriteMarkovianFile(path, classes);
    return engine_.LoadModel(path.c_str());
  }
  // Loads a payload written field by field.
  int32_t LoadRaw(const std::function<void(MarkovianFileWriter*)>& fill) {
    const std::string path = dir_.File("raw" + std::to_string(files_++) + ".dat");
    tervo_test::WriteDataFile(path, nsMarkovian::kMarkovianFileVersion, [&](IStreamer* out) {
      MarkovianFileWriter writer(out);
      fill(&writer);
    });
    return engine_.LoadModel(path.c_str());
  }
  // Classify with every class reported.
  std::map<std::string, float> Report(const char* text, MarkovianParams p = All()) {
    p.reportOnlyFired = 0;
    MarkovianResults r;
    EXPECT_EQ(engine_.Classify(Cut(text), &r, p), 0);
    return Scores(r);
  }
  // ClassifyText: the classes that fire.
  std::map<std::string, float> Fired(const char* text, MarkovianParams p = All()) {
    MarkovianResults r;
    EXPECT_EQ(engine_.ClassifyText(text, &r, &p), 0);
    return Scores(r);
  }

  tervo_test::TempDir dir_;
  nsMarkovian::CIMMarkovianEngine engine_;
  int files_ = 0;
};

TEST(MarkovianText, WordsAreHashedLowerCasedAndCutAtSeparators) {
  // 5381*33 ^ 97 = 177604; then *33 ^ 98; 0xE9 is taken as a signed byte.
  EXPECT_EQ(WordHash("a", 1), 177604u);
  EXPECT_EQ(WordHash("ab", 2), 5860902u);
  EXPECT_EQ(WordHash("AB", 2), 5860902u);
  EXPECT_EQ(WordHash("\xe9x", 2), 4289106868u);
  EXPECT_EQ(WordHash(nullptr, 3), nsMarkovian::kWordHashSeed);

  EXPECT_EQ(Cut("a b CD Ef"), (HashSequence{H("cd"), H("ef")}));  // one-byte words are dropped
  const char separators[] = "\t\n\r !\"'(),-./:;?[\\]^`{}";
  for (const char* s = separators; *s != '\0'; ++s) {
    const std::string text = std::string("cd") + *s + "ef";
    EXPECT_EQ(Cut(text.c_str()), Cut("cd ef")) << "separator " << static_cast<int>(*s);
  }
  for (const char* text : {"cd#ef", "cd_ef", "cd@ef", "cd~ef", "cd\x01" "ef", "cd|ef", "cd+ef"}) {
    EXPECT_EQ(Cut(text), (HashSequence{WordHash(text, 5)})) << text;
  }
  EXPECT_TRUE(Cut(nullptr).empty());
  EXPECT_TRUE(Cut(" ,.;!? a  b  c ").empty());
}

TEST(MarkovianTable, RefusesEntriesOfTheWrongLengthAndKeepsLoadOrder) {
  NGramTable table(2);
  EXPECT_EQ(table.Add({{7}, 5}), -550);
  EXPECT_EQ(table.Add({{7, 8, 9}, 5}), -550);
  EXPECT_EQ(NGramTable(0).Add({{}, 1}), -550);
  for (int32_t v = 1; v <= 3; ++v) EXPECT_EQ(table.Add({{7, v == 2 ? 9u : 8u}, v}), 0);
  EXPECT_EQ(table.Add({{4, 8}, 4}), 0);
  std::vector<int32_t> sevens;
  const auto range = table.entries.equal_range(7);
  for (auto it = range.first; it != range.second; ++it) sevens.push_back(it->second.value);
  EXPECT_EQ(sevens, (std::vector<int32_t>{1, 2, 3}));
}

TEST_F(MarkovianTest, LoadBuildsTablesThresholdsAndDictionary) {
  ASSERT_EQ(Load({{"spam", 7, {{3, {"buy", "now"}}, {2, {"cheap"}}}},
                  {"abuse", 4, {{5, {"you", "are", "dumb"}}}}}),
            0);
  // A table per length, the lengths between without one.
  const auto& classes = engine_.classes();
  EXPECT_TRUE(classes.at(sstring("spam")).size() == 3 && classes.at(sstring("spam"))[0] == nullptr);
  EXPECT_EQ(engine_.thresholds().at(sstring("abuse")), 4);
  EXPECT_STREQ(engine_.dictionary().at(H("dumb")).c_str(), "dumb");
  EXPECT_EQ(engine_.dictionary().size(), 6u);

  // A missing file; a file that ends inside the second class's first entry.
  tervo_test::CapturingTrace trace;
  EXPECT_EQ(engine_.LoadModel(dir_.File("absent.dat").c_str()), -13);
  EXPECT_EQ(LoadRaw([](MarkovianFileWriter* w) {
              w->WriteClassCount(3);
              for (const char* name : {"first", "second"}) {
                w->WriteClassHeader(sstring(name), 1, 2);
                w->WriteTableOrder(0);
                w->WriteTableOrder(1);
                w->WriteEntryCount(name[0] == 'f' ? 1 : 2);
                w->WriteEntryValue(2);
                w->WriteWord(H(name), sstring(name));
              }
            }),
            -14);
  const std::vector<std::string> log = trace.texts();
  for (const char* line : {"[Markovian] Signature file not found", "[Markovian] Corrupt File!"}) {
    EXPECT_NE(std::find(log.begin(), log.end(), line), log.end()) << line;
  }
  ASSERT_EQ(classes.size(), 3u);
  EXPECT_EQ(engine_.thresholds().count(sstring("second")), 0u);
  // A pair read before the damage still went into the dictionary.
  EXPECT_EQ(engine_.dictionary().count(H("second")), 1u);
  EXPECT_EQ(Fired("first second"), (std::map<std::string, float>{{"first", 2.0f}}));

  // Same-name classes are replaced with their tables and threshold.
  ASSERT_EQ(Load({{"first", 9, {{6, {"gamma"}}}}, {"fresh", 2, {{1, {"delta"}}}}}, "two.dat"), 0);
  EXPECT_EQ(engine_.thresholds().at(sstring("first")), 9);
  EXPECT_EQ(Report("first spam gamma delta buy now"),
            (std::map<std::string, float>{
                {"abuse", 0.0f}, {"spam", 3.0f}, {"first", 6.0f}, {"fresh", 1.0f}}));
  // A later text for the same hash replaces the earlier one.
  ASSERT_EQ(Load({{"x", 1, {{1, {"DUMB"}}}}}, "three.dat"), 0);
  EXPECT_STREQ(engine_.dictionary().at(H("dumb")).c_str(), "DUMB");
}

// A class fires when its score reaches threshold times factor, and never with
// a threshold of 0 or less.
TEST_F(MarkovianTest, ThresholdTimesFactorDecidesFiring) {
  ASSERT_EQ(Load({{"eight", 10, {{8, {"ww"}}}},
                  {"ten", 10, {{10, {"ww"}}}},
                  {"zero", 0, {{50, {"ww"}}}},
                  {"none", 3, {{1, {"other"}}}}}),
            0);
  using Fires = std::map<std::string, float>;
  EXPECT_EQ(Fired("ww"), (Fires{{"ten", 10.0f}}));
  EXPECT_EQ(Fired("ww", All(0.8f)), (Fires{{"eight", 8.0f}, {"ten", 10.0f}}));
  EXPECT_EQ(Fired("nothing matches", All(0.0f)),
            (Fires{{"eight", 0.0f}, {"ten", 0.0f}, {"none", 0.0f}}));
  EXPECT_EQ(Fired(" ,. ; a "), Fires{});
  EXPECT_EQ(Report("ww"), (Fires{{"eight", 8.0f}, {"ten", 10.0f}, {"zero", 50.0f}, {"none", 0.0f}}));
  MarkovianParams p = All();
  p.reportOnlyFired = 1;
  MarkovianResults r;
  r.scores[sstring("stale")] = 1.0f;
  ASSERT_EQ(engine_.Classify(Cut("ww"), &r, p), 0);
  EXPECT_EQ(Scores(r), (Fires{{"ten", 10.0f}}));
  // ClassifyText sets reportOnlyFired in the caller's record.
  p = All();
  ASSERT_EQ(engine_.ClassifyText("ww", &r, &p), 0);
  EXPECT_EQ(p.reportOnlyFired, 1);
  EXPECT_EQ(engine_.ClassifyText("ww", nullptr, &p), -10);
}

// Longer windows are matched first and cover their words against shorter ones;
// a repeated text counts up to the cap; non-positive entries may be skipped.
TEST_F(MarkovianTest, LongerWindowsCoverShorterOnesAndRepeatsAreCapped) {
  ASSERT_EQ(Load({{"c", 1,
                   {{100, {"aa", "bb", "cc"}}, {10, {"aa", "bb"}}, {20, {"bb", "cc"}},
                    {1000, {"zz", "aa"}}, {3, {"aa"}}, {5, {"bb"}}, {7, {"cc"}}}},
                  {"h", 1, {{5, {"hey", "you"}}, {1, {"hey"}}}},
                  {"n", 1, {{-4, {"hey", "you"}}, {0, {"big", "deal"}}, {3, {"you"}}}}}),
            0);
  const char* hey = "hey you hey you hey you hey big deal";
  const struct {
    const char* text;
    int32_t max_repeats;
    uint8_t skip;
    float c, h, n;
  } cases[] = {
      {"aa bb cc", 0, 0, 100.0f, 0, 0},
      {"zz aa bb cc", 0, 0, 1100.0f, 0, 0},  // "zz aa" starts before the covered stretch
      {"aa bb xx cc", 0, 0, 17.0f, 0, 0},
      {"bb cc aa", 0, 0, 23.0f, 0, 0},
      {hey, 0, 0, 0, 16.0f, -4.0f * 3},  // 0 or less: no cap
      {hey, -1, 0, 0, 16.0f, -12.0f},
      // The third "hey you" is skipped; its "hey" stays uncovered.
      {hey, 2, 0, 0, 10.0f + 2.0f, -8.0f + 3.0f},
      {hey, 1, 0, 0, 5.0f + 1.0f, -4.0f + 3.0f},
      {hey, 0, 1, 0, 16.0f, 9.0f},  // non-positive entries let shorter windows match
  };
  for (const auto& c : cases) {
    MarkovianParams p = All();
    p.maxRepeats = c.max_repeats;
    p.skipNonPositive = c.skip;
    EXPECT_EQ(Report(c.text, p), (std::map<std::string, float>{{"c", c.c}, {"h", c.h}, {"n", c.n}}))
        << c.text << " " << c.max_repeats << " " << static_cast<int>(c.skip);
  }

  // An observer sees each window that counted, then each class's result.
  struct Record : nsMarkovian::MarkovianObserver {
    const CGenericMarkovianEngine* engine = nullptr;
    std::vector<std::string> seen;
    void OnSequence(const sstring& name, const uint32_t* hashes, int64_t k, int32_t value) override {
      std::string s = std::string(name.c_str()) + ":";
      for (int64_t i = 0; i < k; ++i) s += std::string(" ") + engine->dictionary().find(hashes[i])->second.c_str();
      seen.push_back(s + " " + std::to_string(value));
    }
    void OnClass(const sstring& name, float score, int32_t threshold, float needed, bool fired) override {
      seen.push_back(std::string(name.c_str()) + " " + std::to_string(static_cast<int>(score)) + "/" +
                     std::to_string(threshold) + " needs " + std::to_string(needed) + (fired ? " fired" : ""));
    }
  } record;
  record.engine = &engine_;
  MarkovianParams p = All(0.5f);
  MarkovianResults r;
  ASSERT_EQ(engine_.ClassifyText("zz aa bb cc hey you hey", &r, &p, &record), 0);
  EXPECT_EQ(record.seen, (std::vector<std::string>{"c: aa bb cc 100", "c: zz aa 1000", "c 1100/1 needs 0.500000 fired",
                                                   "h: hey you 5", "h: hey 1", "h 6/1 needs 0.500000 fired",
                                                   "n: hey you -4", "n -4/1 needs 0.500000"}));
}

TEST_F(MarkovianTest, CollectMatchesAndClassList) {
  ASSERT_EQ(Load({{"a", 1, {{2, {"hello", "there"}}, {1, {"bye"}}}},
                  {"b", 1, {{4, {"bye"}}}},
                  {"c", 1, {{1, {"zzz"}}}}}),
            0);
  MarkovianParams p = All();
  p.collectMatches = 1;
  MarkovianResults r;
  ASSERT_EQ(engine_.ClassifyText("bye! Hello THERE, hello there. Bye", &r, &p), 0);
  EXPECT_EQ(Scores(r), (std::map<std::string, float>{{"a", 6.0f}, {"b", 8.0f}}));
  // Longer windows first, whatever their place in the text.
  const auto& matches = r.matches.at(sstring("a"));
  ASSERT_EQ(matches.size(), 2u);
  EXPECT_EQ(std::string(matches[0].c_str()) + matches[1].c_str(), "hello there ;bye ;");
  p.collectMatches = 0;
  ASSERT_EQ(engine_.ClassifyText("hello there", &r, &p), 0);
  EXPECT_TRUE(r.matches.empty());

  const struct {
    const char* list;
    std::map<std::string, float> fired;
  } cases[] = {
      {"c;b;", {{"b", 4.0f}, {"c", 1.0f}}},
      {"b", {}},  // a name must be followed by ";"
      {"", {}},
  };
  for (const auto& c : cases) {
    MarkovianParams only;
    only.classList = sstring(c.list);
    EXPECT_EQ(Fired("bye zzz hello there", only), c.fired) << c.list;
  }
}

// Many first words, however their slots in the start index collide; a text
// long enough for its flags to go on the heap; threads sharing the engine.
TEST_F(MarkovianTest, EveryFirstWordIsFoundOnEveryThread) {
  MarkovianClass many{"many", 1, {{2, {"aa", "bb"}}}};
  std::string text;
  for (int i = 0; i < 600; ++i) {
    const std::string word = "v" + std::to_string(i);
    many.sequences.push_back({1, {word}});
    text += word + " aa bb ";
  }
  ASSERT_EQ(Load({many}), 0);
  std::vector<std::map<std::string, float>> got(4);
  std::vector<std::thread> threads;
  for (auto& g : got) {
    threads.emplace_back([&, at = &g] { for (int i = 0; i < 10; ++i) *at = Fired(text.c_str()); });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(got, (std::vector<std::map<std::string, float>>(4, {{"many", 1800.0f}})));
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

// Random models of 30 classes (more tables than one bank of the start index),
// some tables holding sequences of another length than their index, a small
// vocabulary so that first words repeat, texts up to 1500 words.
TEST_F(MarkovianTest, ClassifyAgreesWithTheObviousWalk) {
  std::mt19937 rng(20261205);
  std::vector<std::string> vocabulary;
  for (int i = 0; i < 40; ++i) vocabulary.push_back("w" + std::to_string(i));
  const auto word = [&] { return vocabulary[rng() % vocabulary.size()]; };
  ASSERT_EQ(LoadRaw([&](MarkovianFileWriter* w) {
              w->WriteClassCount(30);
              for (int c = 0; c < 30; ++c) {
                const std::string name = "class" + std::to_string(c);
                w->WriteClassHeader(sstring(name.c_str()), static_cast<int32_t>(rng() % 20) - 2, 4);
                for (int k = 0; k < 4; ++k) {
                  const int32_t order =
                      k == 0 || rng() % 6 == 0 ? 0 : rng() % 5 == 0 ? 1 + rng() % 3 : k;
                  w->WriteTableOrder(order);
                  if (order <= 0) continue;
                  const uint32_t count = 1 + rng() % 25;
                  w->WriteEntryCount(count);
                  for (uint32_t e = 0; e < count; ++e) {
                    w->WriteEntryValue(static_cast<int32_t>(rng() % 9) - 2);
                    for (int32_t i = 0; i < order; ++i) {
                      const std::string text = word();
                      w->WriteWord(H(text), sstring(text.c_str()));
                    }
                  }
                }
              }
            }),
            0);
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
    ASSERT_EQ(Scores(r), ReferenceScores(engine_, seq, p)) << text;
  }
}

}  // namespace
