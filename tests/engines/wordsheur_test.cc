#include "src/engines/wordsheur/wordsheur.h"

#include <gtest/gtest.h>
#include <limits.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "common/binstreamer.h"
#include "src/engines/wordsheur/imwords_format.h"
#include "tests/support/data_files.h"
#include "tests/support/test_support.h"

namespace {

using ascommon::CArray;
using ascommon::CBinaryStreamer;
using ascommon::IStreamer;
using ascommon::sstring;
using nsWordsHeur::WordsCategory;
using nsWordsHeur::WordsFileWriter;

struct Outcome {
  int32_t rc = 99;
  int32_t score = 99;
  std::string names;
  std::string details;
  uint8_t fired = 99;
  bool operator==(const Outcome&) const = default;
};

class WordsEngineTest : public ::testing::Test {
 protected:
  int32_t Load(const std::vector<WordsCategory>& categories) {
    const std::string path = NextPath();
    tervo_test::WriteWordsFile(path, categories);
    return LoadPath(path);
  }
  int32_t LoadPath(const std::string& path) {
    return engine_.LoadIMCategories(path.c_str(), sstring(dir_.path().c_str()));
  }
  std::string NextPath() { return dir_.File("imwords" + std::to_string(files_++) + ".dat"); }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (uint32_t i = 0; i < engine_.GetCategoryCount(); ++i) {
      names.push_back(engine_.GetCategory(i)->name.c_str());
    }
    return names;
  }

  Outcome Score(const std::vector<const char*>& texts, int32_t age = nsWordsHeur::kAgeAdult,
                int32_t threshold_override = -1) {
    CArray<const char*, 64> list;
    for (const char* t : texts) list.Add(t);
    Outcome out;
    sstring names("old text");
    sstring details("old text");
    out.rc = engine_.ScoreIMTexts(list, age, &out.score, &names, &details, &out.fired,
                                  threshold_override);
    EXPECT_FALSE(names.is_null());
    out.names = names.is_null() ? "" : names.c_str();
    out.details = details.is_null() ? "" : details.c_str();
    return out;
  }

  // The details text of one always-firing category "c".
  static std::string Detail(int sum, int hits, int examined) {
    return "(c) <<" + std::to_string(sum) + ">> -> (" + std::to_string(hits) + " / " +
           std::to_string(examined) + ") ";
  }

  tervo_test::TempDir dir_;
  nsWordsHeur::CWordsHeurEngine engine_;
  int files_ = 0;
};

TEST(WordsFormat, PayloadIsCountThenHeaderFieldsThenWordPairs) {
  tervo_test::TempDir dir;
  const std::string path = dir.File("w.dat");
  tervo_test::WriteWordsFile(path, {{"cat", -1, INT32_MAX, INT32_MIN, 14, {{"abc", -7}}}});
  CBinaryStreamer in(path.c_str(), CBinaryStreamer::kModeRead, dir.path().c_str(), 0);
  EXPECT_EQ(nsWordsHeur::kWordsFileVersion, in.version());
  EXPECT_EQ(4u + (4 + 3) + 5 * 4 + (4 + 3) + 4, in.payload_size());
  EXPECT_EQ(1u, in.ReadU32());
  sstring text;
  in.ReadSString(&text);
  EXPECT_STREQ("cat", text.c_str());
  for (int32_t expected : {-1, INT32_MAX, INT32_MIN, 14, 1}) EXPECT_EQ(expected, in.ReadI32());
  in.ReadSString(&text);
  EXPECT_STREQ("abc", text.c_str());
  EXPECT_EQ(-7, in.ReadI32());
}

TEST_F(WordsEngineTest, LoadAppendsInFileOrderKeepsFirstWeightAndClearEmpties) {
  ASSERT_EQ(0, Load({{"violence", 1, 2, 3, 4, {{"kill", 10}, {"gun", 20}, {"gun", 50}}}}));
  ASSERT_EQ(0, Load({{"drugs", -5, -6, -7, 99, {{"weed", 30}}}, {"none", 0, 0, 0, 0, {}}}));
  EXPECT_EQ(Names(), (std::vector<std::string>{"violence", "drugs", "none"}));
  const auto* first = engine_.GetCategory(0);
  EXPECT_EQ((std::vector<int32_t>{1, 2, 3, 4}),
            (std::vector<int32_t>{first->childThreshold, first->teenThreshold,
                                  first->adultThreshold, first->spareValue}));
  EXPECT_EQ(2u, first->words.GetCount());
  EXPECT_EQ(20, *first->words.Lookup(sstring("gun")));  // the first of the duplicates
  EXPECT_EQ(nullptr, engine_.GetCategory(1)->words.Lookup(sstring("kill")));
  EXPECT_EQ(0, engine_.ClearCategories());
  EXPECT_EQ(0u, engine_.GetCategoryCount());
  EXPECT_EQ(-1, Score({"kill gun weed"}).score);
  EXPECT_EQ(0, Load({}));
  EXPECT_EQ(0u, engine_.GetCategoryCount());
}

// -13 when the file cannot be opened, -14 (and the categories completed
// before the damage) when its payload ends early.
TEST_F(WordsEngineTest, LoadAnswersNotFoundOrCorruptAndKeepsWhatWasWhole) {
  const auto payload = [&](const std::function<void(WordsFileWriter*)>& fill) {
    const std::string path = NextPath();
    tervo_test::WriteDataFile(path, nsWordsHeur::kWordsFileVersion, [&](IStreamer* out) {
      WordsFileWriter writer(out);
      fill(&writer);
    });
    return path;
  };
  const struct {
    std::string path;
    int32_t rc;
    std::vector<std::string> kept;
    std::string logged;
  } cases[] = {
      {dir_.File("missing.dat"), -13, {}, "] - [Fuzzy Engine] Signature file not found\n"},
      {payload([](WordsFileWriter*) {}), -14, {}, "] - [Words Heur] File Corrupt!\n"},
      // A word count of 0 or less: the next category follows at once.
      {payload([](WordsFileWriter* w) {
         w->WriteCategoryCount(4);
         w->WriteCategoryHeader(sstring("one"), 0, 0, 0, 0, 1);
         w->WriteWord(sstring("abc"), 1);
         w->WriteCategoryHeader(sstring("two"), 0, 0, 0, 0, 0);
         w->WriteCategoryHeader(sstring("cut"), 0, 0, 0, 0, 3);
         w->WriteWord(sstring("abc"), 1);  // the other two words are missing
       }),
       -14, {"one", "two"},
       "] - [Fuzzy Engine] Signature File Corrupt: ASException - MESSAGE: cannot read from file\n"},
      {payload([](WordsFileWriter* w) {
         w->WriteCategoryCount(2);
         w->WriteCategoryHeader(sstring("empty"), 0, 0, 0, 0, -3);
         w->WriteCategoryHeader(sstring("next"), 0, 0, 0, 0, 1);
         w->WriteWord(sstring("abc"), 1);
       }),
       0, {"empty", "next"}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    ASSERT_EQ(0, engine_.ClearCategories());
    tervo_test::CapturingTrace trace;
    EXPECT_EQ(c.rc, LoadPath(c.path));
    int logged = 0;
    for (const std::string& line : trace.lines()) {
      logged += line.find(c.logged.empty() ? "orrupt" : c.logged) != std::string::npos;
    }
    EXPECT_EQ(c.logged.empty() ? 0 : 1, logged);
    EXPECT_EQ(c.kept, Names());
    if (c.rc == 0) { EXPECT_EQ(0, Score({"abc"}).details.rfind("(next) <<1>>", 0)); }
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
      EXPECT_NE(0u, entry.path().filename().string().rfind("qxas", 0));  // no working copy
    }
  }
  EXPECT_EQ(-13, engine_.LoadIMCategories(nullptr, sstring(dir_.path().c_str())));
}

// One category "c" that always fires, so the details show its sum, hits and
// examined words.
class WordsScoreTest : public WordsEngineTest {
 protected:
  void SetUp() override {
    std::vector<std::pair<std::string, int32_t>> words = {
        {"bad", 5}, {"cdef", 1}, {"Upper", 7}, {"\xc3\xa9t\xc3\xa9", 4}, {std::string(30, 'k'), 2},
        {std::string(299, 'p') + "q", 3}};
    for (char o : {'@', '0', '\x01', '\x7f', '\x80', '\xff'}) {
      words.push_back({std::string("ab") + o + "cd", 100});
    }
    ASSERT_EQ(0, Load({{"c", -1000, -1000, -1000, 0, words}}));
  }
};

TEST_F(WordsScoreTest, TokensAreSplitLowerCasedAndCounted) {
  const std::string p300 = std::string(299, 'p');
  const struct {
    std::string text;
    int sum, hits, examined;
  } cases[] = {
      {"ab,cdef", 1, 1, 1},  // "ab" is too short to count
      {"ab", 0, 0, 0},
      {",,,,bad;;;", 5, 1, 1},  // runs of delimiters give no empty tokens
      {"BAD bAd bad", 15, 3, 3},
      {"badly bads abad", 0, 0, 3},    // only whole tokens match
      {"Upper UPPER upper", 0, 0, 3},  // a stored word with capitals never matches
      {"\xc3\xa9T\xc3\xa9 \xc3\x89T\xc3\x89", 4, 1, 2},  // bytes above ASCII are not lowered
      {"bad@bad bad\x80" "bad", 0, 0, 2},                   // other bytes stay inside tokens
      {"zz AB@cD AB\x7f" "cd ab\xff" "CD Ab0cd ab\x01" "cd", 500, 5, 5},
      // Long tokens; past 255 bytes they differ only in length.
      {std::string(30, 'k') + " " + std::string(31, 'k') + " " + p300 + "q " + p300 + "r " +
           std::string(300, 'p'),
       5, 2, 5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const Outcome out = Score({c.text.c_str()});
    EXPECT_EQ(0, out.rc);
    EXPECT_EQ(Detail(c.sum, c.hits, c.examined), out.details);
    EXPECT_EQ(c.sum, out.score);
  }
  EXPECT_EQ(Detail(10, 2, 3), Score({nullptr, "ab", "bad", nullptr, "Bad cdx", "x"}).details);
  for (const char* d = nsWordsHeur::kWordDelimiters; *d != '\0'; ++d) {
    SCOPED_TRACE(static_cast<int>(*d));
    const std::string text = std::string("bad") + *d + "bad" + *d + *d;
    EXPECT_EQ(Detail(10, 2, 2), Score({text.c_str()}).details);
  }
  char text[] = "BAD, Words! Cdef";
  CArray<const char*, 64> list;
  list.Add(text);
  EXPECT_EQ(0, engine_.ScoreIMTexts(list, 0, nullptr, nullptr, nullptr, nullptr, -1));
  EXPECT_STREQ("BAD, Words! Cdef", text);  // lowered in a copy
}

// The signed sum must be strictly above the threshold of the age (teen and
// child their own, adult and any other the adult one or the override).
TEST_F(WordsEngineTest, SumAboveTheAgeThresholdFires) {
  ASSERT_EQ(0, Load({{"c", 20, 10, 30, 0,
                      {{"one", 1}, {"five", 5}, {"word", 15}, {"big", INT32_MAX}, {"neg", -5}}}}));
  const struct {
    const char* text;
    int32_t age, override_value;
    bool fires;
    int32_t sum;
  } cases[] = {
      {"five five five five five five", 0, -1, false, 30},  // equal to the threshold
      {"five five five five five five one", 0, -1, true, 31},
      {"neg", 0, -10, true, -5},
      {"big big", 0, 0, false, -2},                 // wraps round as a signed sum
      {"big", 0, INT32_MAX - 1, true, INT32_MAX},
      {"word", 0, 15, false, 15},
      {"word", 1, -1, true, 15},
      {"word", 1, 100, true, 15},
      {"word", 2, -1, false, 15},
      {"word", 2, 5, false, 15},
      {"word", 7, 5, true, 15},
      {"word", -1, -1, false, 15},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.text << " age " << c.age << " / " << c.override_value);
    const Outcome out = Score({c.text}, c.age, c.override_value);
    EXPECT_EQ(c.fires ? c.sum : -1, out.score);
    EXPECT_EQ(c.fires ? 1 : 0, out.fired);
    EXPECT_EQ(c.fires ? "c " : "", out.names);
    if (!c.fires) { EXPECT_EQ("", out.details); }
  }
}

TEST_F(WordsEngineTest, FiringCategoriesAreAllReportedAndTheLastScores) {
  ASSERT_EQ(0, Load({{"alpha", 0, 0, 5, 0, {{"foo", 7}, {"zip", 1}}},
                     {"mid", 0, 0, 50, 0, {{"foo", 1}}},
                     {"beta", 0, 0, 5, 0, {{"bar", 6}, {"baz", 6}}}}));
  const Outcome out = Score({"foo bar", "BAZ!"});
  EXPECT_EQ(12, out.score);
  EXPECT_EQ(1, out.fired);
  EXPECT_EQ("alpha beta ", out.names);
  EXPECT_EQ("(alpha) <<7>> -> (1 / 3) (beta) <<12>> -> (2 / 3) ", out.details);

  // An observer sees each occurrence that counted, then every category's result.
  struct Record : nsWordsHeur::WordsObserver {
    std::vector<std::string> seen;
    void OnWord(uint64_t c, const sstring& word, int32_t weight) override {
      seen.push_back(std::to_string(c) + " " + std::string(word.data(), word.length()) + " " +
                     std::to_string(weight));
    }
    void OnCategory(uint64_t c, int32_t sum, int32_t threshold, bool fired) override {
      seen.push_back(std::to_string(c) + "=" + std::to_string(sum) + "/" + std::to_string(threshold) +
                     (fired ? " fired" : ""));
    }
  } record;
  const char* const texts[] = {"foo bar", "BAZ! foo"};
  ASSERT_EQ(0, engine_.ScoreIMTexts(texts, 2, 0, nullptr, nullptr, nullptr, nullptr, 40, &record));
  EXPECT_EQ((std::vector<std::string>{"0 foo 7", "1 foo 1", "2 bar 6", "2 baz 6", "0 foo 7", "1 foo 1",
                                      "0=14/40", "1=2/40", "2=12/40"}),
            record.seen);

  // More categories than the counters keep on the stack; the details stop at
  // 999 bytes, the names do not.
  ASSERT_EQ(0, engine_.ClearCategories());
  std::vector<WordsCategory> categories;
  std::string details, names;
  for (int i = 0; i < 70; ++i) {
    const std::string name = std::string(20, static_cast<char>('a' + i % 26)) + std::to_string(i);
    categories.push_back({name, 0, 0, 0, 0, {{"shared", i + 1}}});
    details += "(" + name + ") <<" + std::to_string(2 * (i + 1)) + ">> -> (2 / 3) ";
    names += name + " ";
  }
  ASSERT_EQ(0, Load(categories));
  const Outcome many = Score({"shared xyz", "shared"});
  EXPECT_EQ(140, many.score);
  ASSERT_GT(details.size(), 999u);
  EXPECT_EQ(details.substr(0, 999), many.details);
  EXPECT_EQ(names, many.names);
}

TEST_F(WordsEngineTest, ConcurrentScoringGivesIdenticalResults) {
  std::vector<WordsCategory> categories;
  for (int c = 0; c < 3; ++c) {
    categories.push_back({"cat" + std::to_string(c), 20, 10, 30, 0, {}});
    for (int w = 0; w < 100; ++w) categories[c].words.push_back({"w" + std::to_string(c * 37 + w), w % 9 + 1});
  }
  ASSERT_EQ(0, Load(categories));
  const auto score_all = [&] {
    std::vector<Outcome> out;
    for (int m = 0; m < 64 * 50; ++m) {
      std::string message;
      for (int t = 0; t < 4; ++t) message += "W" + std::to_string((m * 13 + t * 7) % 160) + " ";
      out.push_back(Score({message.c_str()}, m % 3));
    }
    return out;
  };
  const std::vector<Outcome> expected = score_all();
  const auto fired = std::count_if(expected.begin(), expected.end(), [](const Outcome& o) { return o.fired == 1; });
  EXPECT_TRUE(fired > 0 && fired < 64 * 50) << fired;
  std::vector<std::vector<Outcome>> got(4);
  std::vector<std::thread> threads;
  for (auto& g : got) threads.emplace_back([&, at = &g] { *at = score_all(); });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(got, std::vector<std::vector<Outcome>>(4, expected));
}

}  // namespace
