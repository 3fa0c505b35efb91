#include "src/engines/wordsheur/wordsheur.h"

#include <gtest/gtest.h>
#include <limits.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "common/binstreamer.h"
#include "src/engines/wordsheur/imwords_format.h"
#include "tests/support/test_support.h"

namespace {

using ascommon::CArray;
using ascommon::CBinaryStreamer;
using ascommon::IStreamer;
using ascommon::sstring;
using nsWordsHeur::CWordsHeurEngine;
using nsWordsHeur::WordsFileReader;
using nsWordsHeur::WordsFileWriter;

struct Word {
  std::string text;
  int32_t weight;
};

struct Category {
  std::string name;
  int32_t child = 0;
  int32_t teen = 0;
  int32_t adult = 0;
  int32_t spare = 0;
  std::vector<Word> words;
};

// Writes a words file whose payload is whatever `fill` writes.
void WritePayload(const std::string& path, const std::string& work,
                  const std::function<void(IStreamer*)>& fill) {
  CBinaryStreamer out(path.c_str(), CBinaryStreamer::kModeWrite, work.c_str(),
                      nsWordsHeur::kWordsFileVersion);
  fill(&out);
}

void WriteCategories(WordsFileWriter* writer, const std::vector<Category>& categories) {
  for (const Category& c : categories) {
    writer->WriteCategoryHeader(sstring(c.name.c_str()), c.child, c.teen, c.adult, c.spare,
                                static_cast<int32_t>(c.words.size()));
    for (const Word& w : c.words) writer->WriteWord(sstring(w.text.c_str()), w.weight);
  }
}

void WriteWordsFile(const std::string& path, const std::string& work,
                    const std::vector<Category>& categories) {
  WritePayload(path, work, [&](IStreamer* out) {
    WordsFileWriter writer(out);
    writer.WriteCategoryCount(static_cast<uint32_t>(categories.size()));
    WriteCategories(&writer, categories);
  });
}

// How many of the captured lines contain `text`.
int CountLines(const tervo_test::CapturingTrace& trace, const std::string& text) {
  int n = 0;
  for (const std::string& line : trace.lines()) n += line.find(text) != std::string::npos ? 1 : 0;
  return n;
}

struct Outcome {
  int32_t rc = 99;
  int32_t score = 99;
  std::string names;
  bool names_null = true;
  std::string details;
  uint8_t fired = 99;
};

class WordsEngineTest : public ::testing::Test {
 protected:
  int32_t Load(const std::vector<Category>& categories) {
    const std::string path = dir_.File("imwords" + std::to_string(files_++) + ".dat");
    WriteWordsFile(path, dir_.path(), categories);
    return engine_.LoadIMCategories(path.c_str(), sstring(dir_.path().c_str()));
  }

  Outcome Score(const std::vector<const char*>& texts, int32_t age = nsWordsHeur::kAgeAdult,
                int32_t threshold_override = -1, const char* old_outputs = "old text") {
    CArray<const char*, 64> list;
    for (const char* t : texts) list.Add(t);
    Outcome out;
    sstring names(old_outputs);
    sstring details(old_outputs);
    out.rc = engine_.ScoreIMTexts(list, age, &out.score, &names, &details, &out.fired,
                                  threshold_override);
    out.names_null = names.is_null();
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
  CWordsHeurEngine engine_;
  int files_ = 0;
};

// --- the file format -------------------------------------------------------

TEST(WordsFormat, ReaderReadsWhatWriterWrote) {
  tervo_test::TempDir dir;
  const std::string path = dir.File("w.dat");
  const std::string long_word(40, 'q');
  WritePayload(path, dir.path(), [&](IStreamer* out) {
    WordsFileWriter writer(out);
    writer.WriteCategoryCount(2);
    writer.WriteCategoryHeader(sstring("first"), -1, 2, INT32_MAX, INT32_MIN, 2);
    writer.WriteWord(sstring("\xc3\xa9t\xc3\xa9"), -7);
    writer.WriteWord(sstring(long_word.c_str()), 9);
    writer.WriteCategoryHeader(sstring("second"), 4, 5, 6, 7, -3);
  });

  CBinaryStreamer in(path.c_str(), CBinaryStreamer::kModeRead, dir.path().c_str(), 0);
  EXPECT_EQ(nsWordsHeur::kWordsFileVersion, in.version());
  WordsFileReader reader(&in);
  EXPECT_EQ(2u, reader.ReadCategoryCount());
  sstring name;
  int32_t child, teen, adult, spare, count, weight;
  reader.ReadCategoryHeader(&name, &child, &teen, &adult, &spare, &count);
  EXPECT_STREQ("first", name.c_str());
  EXPECT_EQ((std::vector<int32_t>{-1, 2, INT32_MAX, INT32_MIN, 2}),
            (std::vector<int32_t>{child, teen, adult, spare, count}));
  sstring word;
  reader.ReadWord(&word, &weight);
  EXPECT_STREQ("\xc3\xa9t\xc3\xa9", word.c_str());
  EXPECT_EQ(-7, weight);
  reader.ReadWord(&word, &weight);
  EXPECT_EQ(long_word, word.c_str());
  EXPECT_EQ(9, weight);
  reader.ReadCategoryHeader(&name, &child, &teen, &adult, &spare, &count);
  EXPECT_STREQ("second", name.c_str());
  EXPECT_EQ((std::vector<int32_t>{4, 5, 6, 7, -3}),
            (std::vector<int32_t>{child, teen, adult, spare, count}));
  // Nothing follows the last category.
  EXPECT_THROW(reader.ReadCategoryCount(), ASException);
}

TEST(WordsFormat, PayloadIsCountThenHeaderFieldsThenWordPairs) {
  tervo_test::TempDir dir;
  const std::string path = dir.File("w.dat");
  WriteWordsFile(path, dir.path(), {{"cat", 11, 12, 13, 14, {{"abc", 15}}}});

  CBinaryStreamer in(path.c_str(), CBinaryStreamer::kModeRead, dir.path().c_str(), 0);
  // u32 count; string "cat"; five i32; string "abc"; i32.
  EXPECT_EQ(4u + (4 + 3) + 5 * 4 + (4 + 3) + 4, in.payload_size());
  EXPECT_EQ(1u, in.ReadU32());
  sstring text;
  in.ReadSString(&text);
  EXPECT_STREQ("cat", text.c_str());
  for (int32_t expected : {11, 12, 13, 14, 1}) EXPECT_EQ(expected, in.ReadI32());
  in.ReadSString(&text);
  EXPECT_STREQ("abc", text.c_str());
  EXPECT_EQ(15, in.ReadI32());
}

// --- loading ---------------------------------------------------------------

TEST_F(WordsEngineTest, LoadKeepsFileOrderThresholdsAndWords) {
  ASSERT_EQ(0, Load({{"violence", 1, 2, 3, 4, {{"kill", 10}, {"gun", 20}}},
                     {"drugs", -5, -6, -7, 99, {{"weed", 30}}}}));
  ASSERT_EQ(2u, engine_.GetCategoryCount());
  const auto* first = engine_.GetCategory(0);
  const auto* second = engine_.GetCategory(1);
  EXPECT_STREQ("violence", first->name.c_str());
  EXPECT_EQ((std::vector<int32_t>{1, 2, 3, 4}),
            (std::vector<int32_t>{first->childThreshold, first->teenThreshold,
                                  first->adultThreshold, first->spareValue}));
  EXPECT_EQ(2u, first->words.GetCount());
  ASSERT_NE(nullptr, first->words.Lookup(sstring("gun")));
  EXPECT_EQ(20, *first->words.Lookup(sstring("gun")));
  EXPECT_STREQ("drugs", second->name.c_str());
  EXPECT_EQ(-7, second->adultThreshold);
  EXPECT_EQ(99, second->spareValue);
  EXPECT_EQ(30, *second->words.Lookup(sstring("weed")));
  EXPECT_EQ(nullptr, second->words.Lookup(sstring("kill")));
}

TEST_F(WordsEngineTest, NonPositiveWordCountLoadsCategoryWithoutWords) {
  for (int32_t count : {0, -3}) {
    SCOPED_TRACE(count);
    ASSERT_EQ(0, engine_.ClearCategories());
    const std::string path = dir_.File("count.dat");
    WritePayload(path, dir_.path(), [&](IStreamer* out) {
      WordsFileWriter writer(out);
      writer.WriteCategoryCount(2);
      writer.WriteCategoryHeader(sstring("empty"), 0, 0, 0, 0, count);
      // The next category follows at once: no words were read for this one.
      WriteCategories(&writer, {{"next", 0, 0, 0, 0, {{"abc", 1}}}});
    });
    ASSERT_EQ(0, engine_.LoadIMCategories(path.c_str(), sstring(dir_.path().c_str())));
    ASSERT_EQ(2u, engine_.GetCategoryCount());
    EXPECT_EQ(0u, engine_.GetCategory(0)->words.GetCount());
    EXPECT_STREQ("next", engine_.GetCategory(1)->name.c_str());
    EXPECT_EQ(1u, engine_.GetCategory(1)->words.GetCount());
  }
}

TEST_F(WordsEngineTest, DuplicateWordKeepsFirstWeight) {
  ASSERT_EQ(0, Load({{"c", 0, 0, 0, 0, {{"bad", 3}, {"bad", 50}, {"worse", 4}}}}));
  const auto& words = engine_.GetCategory(0)->words;
  EXPECT_EQ(2u, words.GetCount());
  EXPECT_EQ(3, *words.Lookup(sstring("bad")));
  EXPECT_EQ("(c) <<3>> -> (1 / 1) ", Score({"bad"}).details);
}

TEST_F(WordsEngineTest, LoadAppendsAndClearEmptiesTheList) {
  ASSERT_EQ(0, Load({{"a", 0, 0, 0, 0, {{"abc", 1}}}}));
  ASSERT_EQ(0, Load({{"b", 0, 0, 0, 0, {{"abc", 2}}}, {"c", 0, 0, 0, 0, {}}}));
  ASSERT_EQ(3u, engine_.GetCategoryCount());
  EXPECT_STREQ("a", engine_.GetCategory(0)->name.c_str());
  EXPECT_STREQ("b", engine_.GetCategory(1)->name.c_str());
  EXPECT_STREQ("c", engine_.GetCategory(2)->name.c_str());
  EXPECT_EQ(0, engine_.ClearCategories());
  EXPECT_EQ(0u, engine_.GetCategoryCount());
  EXPECT_EQ(-1, Score({"abc abc"}).score);
  ASSERT_EQ(0, Load({{"d", 0, 0, 0, 0, {}}}));
  EXPECT_EQ(1u, engine_.GetCategoryCount());
}

TEST_F(WordsEngineTest, ManyWordsLoadAndMatch) {
  Category big{"big", 0, 0, 0, 0, {}};
  for (int i = 0; i < 3000; ++i) big.words.push_back({"word" + std::to_string(i), i});
  ASSERT_EQ(0, Load({big}));
  EXPECT_EQ(3000u, engine_.GetCategory(0)->words.GetCount());
  EXPECT_EQ("(big) <<3999>> -> (3 / 5) ",
            Score({"word1 word999 word3000 word3000x", "word2999"}).details);
}

TEST_F(WordsEngineTest, UnopenableFileAnswersMinus13) {
  tervo_test::CapturingTrace trace;
  const std::string damaged = dir_.File("damaged.dat");
  WriteWordsFile(damaged, dir_.path(), {{"a", 0, 0, 0, 0, {{"abc", 1}}}});
  std::string bytes = tervo_test::ReadFile(damaged);
  bytes.back() ^= 0x01;  // the digest no longer matches
  {
    std::ofstream out(damaged, std::ios::binary | std::ios::trunc);
    out << bytes;
  }
  const sstring work(dir_.path().c_str());
  const std::string not_found = "] - [Fuzzy Engine] Signature file not found\n";
  int expected_lines = 0;
  const std::string missing = dir_.File("missing.dat");
  for (const char* path : {missing.c_str(), damaged.c_str(), static_cast<const char*>(nullptr)}) {
    SCOPED_TRACE(path == nullptr ? "null" : path);
    EXPECT_EQ(-13, engine_.LoadIMCategories(path, work));
    EXPECT_EQ(++expected_lines, CountLines(trace, not_found));
  }
  EXPECT_EQ(0u, engine_.GetCategoryCount());
}

TEST_F(WordsEngineTest, FileEndingInsideThirdCategoryKeepsTwo) {
  const std::string path = dir_.File("short.dat");
  WritePayload(path, dir_.path(), [&](IStreamer* out) {
    WordsFileWriter writer(out);
    writer.WriteCategoryCount(3);
    WriteCategories(&writer, {{"one", 0, 0, 0, 0, {{"abc", 1}}}, {"two", 0, 0, 0, 0, {}}});
    out->WriteSString(sstring("three"));
    out->WriteI32(5);  // the rest of the header is missing
  });
  tervo_test::CapturingTrace trace;
  EXPECT_EQ(-14, engine_.LoadIMCategories(path.c_str(), sstring(dir_.path().c_str())));
  ASSERT_EQ(2u, engine_.GetCategoryCount());
  EXPECT_STREQ("one", engine_.GetCategory(0)->name.c_str());
  EXPECT_STREQ("two", engine_.GetCategory(1)->name.c_str());
  EXPECT_EQ(1, CountLines(trace,
                          "] - [Fuzzy Engine] Signature File Corrupt: ASException - MESSAGE: "
                          "cannot read from file\n"));
  EXPECT_EQ(0, CountLines(trace, "not found"));
  // The working copy of the file is gone.
  for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
    EXPECT_NE(0u, entry.path().filename().string().rfind("qxas", 0));
  }
}

TEST_F(WordsEngineTest, CategoryCutInsideItsWordsIsNotAppended) {
  const std::string path = dir_.File("short.dat");
  WritePayload(path, dir_.path(), [&](IStreamer* out) {
    WordsFileWriter writer(out);
    writer.WriteCategoryCount(1);
    writer.WriteCategoryHeader(sstring("cut"), 0, 0, 0, 0, 3);
    writer.WriteWord(sstring("abc"), 1);
  });
  EXPECT_EQ(-14, engine_.LoadIMCategories(path.c_str(), sstring(dir_.path().c_str())));
  EXPECT_EQ(0u, engine_.GetCategoryCount());
}

TEST_F(WordsEngineTest, MissingCategoryCountIsCorruptAndZeroCountLoadsNothing) {
  const std::string empty = dir_.File("empty.dat");
  WritePayload(empty, dir_.path(), [](IStreamer*) {});
  tervo_test::CapturingTrace trace;
  EXPECT_EQ(-14, engine_.LoadIMCategories(empty.c_str(), sstring(dir_.path().c_str())));
  EXPECT_EQ(1, CountLines(trace, "] - [Words Heur] File Corrupt!\n"));

  EXPECT_EQ(0, Load({}));
  EXPECT_EQ(0u, engine_.GetCategoryCount());
}

// --- scoring ---------------------------------------------------------------

// One category "c" that always fires (threshold below any sum reached here),
// so the details show its sum, hits and examined words.
class WordsScoreTest : public WordsEngineTest {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, Load({{"c", -1000, -1000, -1000, 0, {{"bad", 5}, {"cdef", 1}, {"Upper", 7}}}}));
  }
};

TEST_F(WordsScoreTest, TokensAreSplitLowerCasedAndCounted) {
  struct Case {
    const char* text;
    int sum, hits, examined;
  } cases[] = {
      {"ab,cdef", 1, 1, 1},  // "ab" is too short to count
      {"ab", 0, 0, 0},       // texts under 3 bytes contribute nothing
      {"a", 0, 0, 0},
      {"", 0, 0, 0},
      {"ab cd ef", 0, 0, 0},    // every token too short
      {",,,,bad;;;", 5, 1, 1},  // runs of delimiters give no empty tokens
      {"Bad", 5, 1, 1},         // ASCII capitals are lowered
      {"BAD bAd bad", 15, 3, 3},
      {"bad bad bad", 15, 3, 3},       // each occurrence adds its weight
      {"badly bads abad", 0, 0, 3},    // only whole tokens match
      {"Upper UPPER upper", 0, 0, 3},  // a stored word with capitals never matches
      {"xy\tbad\r\nbad", 10, 2, 2},
      {"cdeg CDEG cdef", 1, 1, 3},  // same length and first bytes as a stored word
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const Outcome out = Score({c.text});
    EXPECT_EQ(0, out.rc);
    EXPECT_EQ(Detail(c.sum, c.hits, c.examined), out.details);
    EXPECT_EQ(c.sum, out.score);
  }
}

TEST_F(WordsScoreTest, NullAndShortEntriesAreSkipped) {
  EXPECT_EQ(Detail(10, 2, 3), Score({nullptr, "ab", "bad", nullptr, "Bad cdx", "x"}).details);
}

TEST_F(WordsScoreTest, EveryDelimiterSplits) {
  EXPECT_EQ(35u, nsWordsHeur::kWordDelimiterCount);
  EXPECT_STREQ(" ,'.()[]{}/\\?!#`~$%^&*-+=:;|\"<>_\t\r\n", nsWordsHeur::kWordDelimiters);
  for (const char* d = nsWordsHeur::kWordDelimiters; *d != '\0'; ++d) {
    SCOPED_TRACE(static_cast<int>(*d));
    const std::string text = std::string("bad") + *d + "bad" + *d + *d;
    EXPECT_EQ(Detail(10, 2, 2), Score({text.c_str()}).details);
  }
}

TEST_F(WordsScoreTest, OtherBytesStayInsideTokens) {
  ASSERT_EQ(0, engine_.ClearCategories());
  const std::vector<char> others = {'@', '0', '9', 'a', '\x01', '\x7f', '\x80', '\xc3', '\xff'};
  Category c{"c", -1000, -1000, -1000, 0, {{"bad", 5}}};
  for (char o : others) c.words.push_back({std::string("ab") + o + "cd", 1});
  ASSERT_EQ(0, Load({c}));
  for (char o : others) {
    SCOPED_TRACE(static_cast<int>(static_cast<uint8_t>(o)));
    const std::string joined = std::string("bad") + o + "bad";
    EXPECT_EQ(Detail(0, 0, 1), Score({joined.c_str()}).details);
    const std::string stored = std::string("zz AB") + o + "cD zz";
    EXPECT_EQ(Detail(1, 1, 1), Score({stored.c_str()}).details);
  }
}

TEST_F(WordsScoreTest, BytesAboveAsciiAreNotLowered) {
  ASSERT_EQ(0, engine_.ClearCategories());
  ASSERT_EQ(0, Load({{"c", -1000, -1000, -1000, 0, {{"\xc3\xa9t\xc3\xa9", 4}}}}));
  EXPECT_EQ(Detail(4, 1, 1), Score({"\xc3\xa9T\xc3\xa9"}).details);  // "éTé"
  EXPECT_EQ(Detail(0, 0, 1), Score({"\xc3\x89T\xc3\x89"}).details);  // "ÉTÉ"
}

TEST_F(WordsScoreTest, LongTokensMatch) {
  ASSERT_EQ(0, engine_.ClearCategories());
  const std::string w30(30, 'k');
  const std::string w70 = std::string(69, 'm') + "n";
  const std::string w300 = std::string(299, 'p') + "q";
  ASSERT_EQ(0, Load({{"c", -1000, -1000, -1000, 0, {{w30, 2}, {w70, 3}, {w300, 4}, {"abc", 1}}}}));
  const std::string text =
      std::string(25, 'x') + " " + w70 + " ABC " + w30 + " " + std::string(200, 'y');
  // The key grows from its inline buffer twice; tokens of 255 bytes and more
  // share the first bytes and differ only in length past that.
  const std::string longer = w300 + " " + std::string(299, 'p') + "r " + std::string(300, 'p');
  EXPECT_EQ(Detail(12, 5, 9), Score({text.c_str(), w30.c_str(), longer.c_str()}).details);
}

TEST_F(WordsScoreTest, CallerTextIsNotChanged) {
  char text[] = "BAD, Words! Cdef";
  Score({text});
  EXPECT_STREQ("BAD, Words! Cdef", text);
}

TEST_F(WordsScoreTest, LogsEachHitAndEveryCategory) {
  ASSERT_EQ(0, Load({{"quiet", 500, 500, 500, 0, {{"bad", 1}}}}));
  tervo_test::CapturingTrace trace;
  Score({"Bad, cdef bad"});
  const auto lines = trace.lines();
  const auto levels = trace.levels();
  std::vector<std::string> found;
  std::vector<std::string> totals;
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(3, levels[i]) << lines[i];
    const size_t at = lines[i].find("] - ");
    ASSERT_NE(std::string::npos, at);
    const std::string text = lines[i].substr(at + 4);
    (text.rfind("parental", 0) == 0 ? found : totals).push_back(text);
  }
  EXPECT_EQ((std::vector<std::string>{"parental wordsheur found bad\n",    // c
                                      "parental wordsheur found bad\n",    // quiet
                                      "parental wordsheur found cdef\n",   // c
                                      "parental wordsheur found bad\n",    // c
                                      "parental wordsheur found bad\n"}),  // quiet
            found);
  // Each total line is its "...\n\n" text and then the line break of every line.
  EXPECT_EQ((std::vector<std::string>{"\t\t(c) <<11>> -> (3 / 3)\n\n\n",
                                      "\t\t(quiet) <<2>> -> (2 / 3)\n\n\n"}),
            totals);
}

TEST_F(WordsScoreTest, NullOutputsAreAllowed) {
  CArray<const char*, 64> texts;
  texts.Add("bad");
  EXPECT_EQ(0, engine_.ScoreIMTexts(texts, 0, nullptr, nullptr, nullptr, nullptr, -1));
  int32_t score = 0;
  EXPECT_EQ(0, engine_.ScoreIMTexts(texts, 0, &score, nullptr, nullptr, nullptr, -1));
  EXPECT_EQ(5, score);
}

TEST_F(WordsEngineTest, ThresholdIsStrictlyGreaterOnTheSignedSum) {
  ASSERT_EQ(0,
            Load({{"c", 0, 0, 10, 0, {{"one", 1}, {"five", 5}, {"big", INT32_MAX}, {"neg", -5}}}}));
  struct Case {
    const char* text;
    int32_t override_value;
    bool fires;
    int32_t sum;
  } cases[] = {
      {"five one one one one", -1, false, 9},
      {"five five", -1, false, 10},  // equal to the threshold
      {"five five one", -1, true, 11},
      {"neg", -10, true, -5},
      {"neg neg", -10, false, -10},
      {"big big", 0, false, -2},                 // wraps round as a signed sum
      {"big one", INT32_MIN, false, INT32_MIN},  // likewise
      {"big", INT32_MAX - 1, true, INT32_MAX},
      {"big", INT32_MAX, false, INT32_MAX},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const Outcome out = Score({c.text}, nsWordsHeur::kAgeAdult, c.override_value);
    EXPECT_EQ(c.fires ? c.sum : -1, out.score);
    EXPECT_EQ(c.fires ? 1 : 0, out.fired);
  }
}

TEST_F(WordsEngineTest, AgeSelectsThresholdAndOverrideAppliesToAdultsOnly) {
  // Sum 15 against child 20, teen 10, adult 30.
  ASSERT_EQ(0, Load({{"c", 20, 10, 30, 0, {{"word", 15}}}}));
  struct Case {
    int32_t age;
    int32_t override_value;
    bool fires;
  } cases[] = {
      {0, -1, false}, {0, 5, true},   {0, 14, true},   {0, 15, false},
      {1, -1, true},  {1, 100, true}, {2, -1, false},  {2, 5, false},
      {7, -1, false}, {7, 5, true},   {-1, -1, false}, {-1, 5, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "age " << c.age << " override " << c.override_value);
    const Outcome out = Score({"word"}, c.age, c.override_value);
    EXPECT_EQ(c.fires ? 15 : -1, out.score);
    EXPECT_EQ(c.fires ? 1 : 0, out.fired);
    EXPECT_EQ(c.fires ? "c " : "", out.names);
  }
}

TEST_F(WordsEngineTest, TwoFiringCategoriesReportBothAndScoreTheLater) {
  ASSERT_EQ(0, Load({{"alpha", 0, 0, 5, 0, {{"foo", 7}, {"zip", 1}}},
                     {"mid", 0, 0, 50, 0, {{"foo", 1}}},
                     {"beta", 0, 0, 5, 0, {{"bar", 6}, {"baz", 6}}}}));
  const Outcome out = Score({"foo bar", "BAZ!"});
  EXPECT_EQ(0, out.rc);
  EXPECT_EQ(12, out.score);
  EXPECT_EQ(1, out.fired);
  EXPECT_EQ("alpha beta ", out.names);
  EXPECT_EQ("(alpha) <<7>> -> (1 / 3) (beta) <<12>> -> (2 / 3) ", out.details);

  // The order of the list, not the size of the sums, decides the score.
  ASSERT_EQ(0, engine_.ClearCategories());
  ASSERT_EQ(0, Load({{"beta", 0, 0, 5, 0, {{"bar", 6}, {"baz", 6}}},
                     {"alpha", 0, 0, 5, 0, {{"foo", 7}}}}));
  EXPECT_EQ(7, Score({"foo bar baz"}).score);
}

TEST_F(WordsEngineTest, NothingFiringEmptiesTheTextOutputs) {
  for (bool with_categories : {false, true}) {
    SCOPED_TRACE(with_categories);
    if (with_categories) {
      ASSERT_EQ(0, Load({{"c", 0, 0, 100, 0, {{"bad", 5}}}}));
    }
    const Outcome out = Score({"bad bad"});
    EXPECT_EQ(0, out.rc);
    EXPECT_EQ(-1, out.score);
    EXPECT_EQ(0, out.fired);
    EXPECT_FALSE(out.names_null);
    EXPECT_EQ("", out.names);
    EXPECT_EQ("", out.details);
  }
}

TEST_F(WordsEngineTest, DetailsStayBelowTheirLimit) {
  std::vector<Category> categories;
  std::string full;
  std::string names;
  for (int i = 0; i < 20; ++i) {
    const std::string name = std::string(75, static_cast<char>('a' + i)) + std::to_string(i);
    categories.push_back({name, 0, 0, 0, 0, {{"hit", 1}}});
    full += "(" + name + ") <<1>> -> (1 / 1) ";
    names += name + " ";
  }
  ASSERT_EQ(0, Load(categories));
  const Outcome out = Score({"hit"});
  ASSERT_GT(full.size(), 999u);
  EXPECT_EQ(999u, out.details.size());
  EXPECT_EQ(full.substr(0, 999), out.details);
  EXPECT_EQ(names, out.names);  // the names are not limited
}

TEST_F(WordsEngineTest, WordInSeveralCategoriesCountsInEach) {
  std::vector<Category> categories;
  std::string expected;
  // More categories than the counters keep on the stack.
  for (int i = 0; i < 70; ++i) {
    categories.push_back(
        {std::string("k").append(std::to_string(i)), 0, 0, 0, 0, {{"shared", i + 1}}});
    if (i % 10 == 0) categories.back().words.push_back({"tenth", 100});
  }
  ASSERT_EQ(0, Load(categories));
  const Outcome out = Score({"shared tenth", "shared"});
  EXPECT_EQ(140, out.score);  // the last category's sum
  for (int i = 0; i < 70; ++i) {
    const bool tenth = i % 10 == 0;
    expected += "(k" + std::to_string(i) + ") <<" +
                std::to_string(2 * (i + 1) + (tenth ? 100 : 0)) + ">> -> (" + (tenth ? "3" : "2") +
                " / 3) ";
  }
  EXPECT_EQ(expected.substr(0, 999), out.details);
}

TEST_F(WordsEngineTest, ConcurrentScoringGivesIdenticalResults) {
  std::vector<Category> categories;
  for (int c = 0; c < 3; ++c) {
    Category cat{"cat" + std::to_string(c), 20, 10, 30, 0, {}};
    for (int w = 0; w < 100; ++w)
      cat.words.push_back({std::string("w").append(std::to_string(c * 37 + w)), w % 9 + 1});
    categories.push_back(cat);
  }
  ASSERT_EQ(0, Load(categories));
  std::vector<std::string> messages;
  for (int m = 0; m < 64; ++m) {
    std::string text;
    for (int t = 0; t < 12; ++t) {
      text += 'W';
      text += std::to_string((m * 13 + t * 7) % 160) + (t % 3 ? " " : ", ");
    }
    messages.push_back(text);
  }
  std::vector<Outcome> expected;
  for (const std::string& m : messages) expected.push_back(Score({m.c_str()}, m.size() % 3));

  constexpr int kThreads = 4;
  std::vector<int> mismatches(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 50; ++round) {
        for (size_t i = 0; i < messages.size(); ++i) {
          const size_t m = (i + static_cast<size_t>(t) * 11) % messages.size();
          CArray<const char*, 64> texts;
          texts.Add(messages[m].c_str());
          int32_t score = 0;
          uint8_t fired = 0;
          sstring names;
          sstring details;
          const int32_t rc =
              engine_.ScoreIMTexts(texts, static_cast<int32_t>(messages[m].size() % 3), &score,
                                   &names, &details, &fired, -1);
          const Outcome& want = expected[m];
          if (rc != 0 || score != want.score || fired != want.fired ||
              want.names != names.c_str() || want.details != details.c_str()) {
            ++mismatches[t];
          }
        }
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(std::vector<int>(kThreads, 0), mismatches);
  int fired = 0;
  for (const Outcome& o : expected) fired += o.fired;
  EXPECT_GT(fired, 0);  // the data makes some categories fire
  EXPECT_LT(fired, static_cast<int>(expected.size()));
}

}  // namespace
