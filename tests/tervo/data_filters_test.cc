// The words, blacklist and Markovian filters with real data files: what each
// filter adds to its engine (the session's age, the other party, the verdict
// keys) and how it builds its paths. Reloads are in reload_test.cc.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "common/item.h"
#include "tervo/imwordsfilter.h"
#include "tests/support/data_files.h"
#include "tests/support/plugin_fixture.h"

namespace tervo_test {
namespace {

class DataFiltersTest : public PluginFixture {
 protected:
  // A filter of `type` reading data_, with sessions 1 (child), 2 (teen) and 3 (adult).
  CAFilter* Make(const char* type) {
    UseDataFolder(data_.path());
    CAFilter* filter = Create(type);
    const char* ages[] = {"child", "teen", "adult"};
    for (uint64_t id = 1; id <= 3; ++id) EXPECT_EQ(Open(filter, id, ages[id - 1], 1), 0);
    return filter;
  }

  TempDir data_;
};

TEST_F(DataFiltersTest, WordsVerdictIsTheLastFiredCategoryAgainstTheSessionsAge) {
  WriteWordsFile(data_.File(kWordsDataFile), {{"profanity", 2, 5, 12, 0, {{"damn", 2}, {"shit", 4}}},
                                             {"bullying", 3, 6, 15, 0, {{"idiot", 2}, {"loser", 3}}}});
  CAFilter* filter = Make(kWordsName);
  ASSERT_EQ(filter->ApplySharedSettings(), 0) << LastMessage();
  struct Case {
    uint64_t session;
    const char* text;
    int32_t verdict;
  } cases[] = {
      {1, "damn idiot loser", 5}, {2, "damn idiot loser", -1},  // bullying: 5 > 3, not > 6
      {2, "shit damn", 6},        {3, "shit damn", -1},         // profanity: 6 > 5, not > 12
      {3, "shit shit shit shit", 16},
  };
  for (const Case& c : cases) {
    tervo_host::Item item(c.text, nullptr, nullptr);
    EXPECT_EQ(filter->ProcessEntity(c.session, item.get(), 0), 0) << LastMessage();
    EXPECT_EQ(item.Number(ascommon::IM_WORDS_VERDICT_KEY, -1000), c.verdict)
        << c.session << " " << c.text;
  }
}

TEST_F(DataFiltersTest, WordsTemporaryFolderAlwaysEndsInASeparator) {
  CAFilter* filter = Make(kWordsName);
  auto* shared = static_cast<nsImModules::WordsSharedData*>(filter->sharedData);
  const std::string dir = data_.path();
  const struct {
    std::optional<std::string> setting;
    std::string stored;
  } cases[] = {{dir, dir + "\\"}, {dir + "/", dir + "/"}, {dir + "\\", dir + "\\"}, {"", "\\"},
               {std::nullopt, ".\\"}};
  for (const auto& c : cases) {
    c.setting ? settings_.SetString(kGlobalTempPathKey, *c.setting) : settings_.Remove(kGlobalTempPathKey);
    filter->ApplySharedSettings();
    EXPECT_EQ(std::string(shared->tempFolder.c_str()), c.stored);
  }
  EXPECT_TRUE(LogContains("Module Im Words Filter failed to apply shared settings with message: "
                          "invalid EmlGlobalTempPath"));
}

TEST_F(DataFiltersTest, BlacklistMarksExactlyTheListedUsers) {
  WriteBlacklistFile(data_.File(kBlacklistDataFile), std::vector<std::string>{"stranger_danger88", ""});
  CAFilter* filter = Make(kBlacklistName);
  ASSERT_EQ(filter->ApplySharedSettings(), 0) << LastMessage();
  const struct {
    const char* user;
    bool listed;
  } cases[] = {{"stranger_danger88", true}, {"Stranger_Danger88", false},
               {"stranger_danger88 ", false}, {"", true}};
  for (const auto& c : cases) {
    tervo_host::Item item("hello", nullptr, c.user);
    EXPECT_EQ(filter->ProcessEntity(1, item.get(), 0), 0) << LastMessage();
    EXPECT_EQ(item.Flag(ascommon::IM_BLACKLIST_FLAG_KEY), c.listed) << c.user;
  }
  EXPECT_GE(FindLogLine(LogLine("imblacklistfilter.cc", 251,
                                "[Im BlackList] stranger_danger88 user")), 0);
}

TEST_F(DataFiltersTest, BlacklistDataFolderGetsABackslashUnlessItEndsInOne) {
  CAFilter* filter = Make(kBlacklistName);
  const struct {
    const char* setting;
    const char* path;
  } cases[] = {{"D:/lists/", "D:/lists/\\imblacklist.dat"},
               {"D:\\lists\\", "D:\\lists\\imblacklist.dat"},
               {"", ".\\imblacklist.dat"}};  // the working folder (a process per test)
  std::filesystem::current_path(data_.path());
  for (const auto& c : cases) {
    settings_.SetString(kSharedDataPathKey, c.setting);
    EXPECT_EQ(filter->ApplySharedSettings(), 0);
    EXPECT_GE(FindLogLine(LogLine("imblacklistfilter.cc", 149,
                                  std::string("file does not exist ") + c.path)), 0) << c.path;
  }
  EXPECT_TRUE(std::filesystem::exists(data_.File(kBlacklistDataFile)));
}

TEST_F(DataFiltersTest, MarkovianAgeFactorScalesTheThresholdAndClassesComeInNameOrder) {
  WriteMarkovianFile(data_.File(kMarkovianDataFile),
                     {{"risk", 10, {{8, {"meet", "me"}}, {1, {"come", "alone"}}, {1, {"right", "now"}}}},
                      {"alpha", 5, {{12, {"ef", "gh"}}}},
                      {"zero", 0, {{50, {"ef", "gh"}}}}});
  CAFilter* filter = Make(kMarkovianName);
  ASSERT_EQ(filter->ApplySharedSettings(), 0) << LastMessage();
  const struct {
    uint64_t session;
    const char* text;
    const char* verdict;
  } cases[] = {
      {1, "meet me, come alone", ""},  // 9 < 10
      {1, "meet me, come alone right now", "<risk;10>"},
      {2, "meet me", "<risk;8>"},  // 8 >= 10 x 0.8
      // Adult (factor 0) reports every class of a positive threshold; zero never fires.
      {3, "hello there", "<alpha;0><risk;0>"},
      {1, "ef gh meet me right now", "<alpha;12>"},
  };
  for (const auto& c : cases) {
    tervo_host::Item item(c.text, nullptr, nullptr);
    EXPECT_EQ(filter->ProcessEntity(c.session, item.get(), 0), 0) << LastMessage();
    const std::string verdict = item.Text(ascommon::IM_MARKOVIAN_TEXT_KEY);
    EXPECT_EQ(verdict, c.verdict) << c.text;
    // The flag and the value key are written with the text, or none of them.
    EXPECT_EQ(item.Flag(ascommon::IM_MARKOVIAN_FLAG_KEY), !verdict.empty());
    EXPECT_EQ(item.Number(ascommon::IM_MARKOVIAN_VALUE_KEY, -1), verdict.empty() ? -1 : 0);
  }
}

TEST_F(DataFiltersTest, SignatureVerdictNamesTheSessionsAgeGroup) {
  std::ofstream(data_.File(nsImModules::kSignDataFile))
      << "rule adult { condition: match(\"porn\", IM::Text, REGEX); actions: mark(\"Adult content\", 70);"
         " metadata: priority = 9; }\n"
         "rule young { condition: match(\"school\", IM::Text, REGEX); actions: mark(\"Child, Teen\", 40);"
         " metadata: priority = 8; }\n"
         "rule party { condition: match(\"party\", IM::Text, REGEX); actions: mark(\"teen\", 55);"
         " metadata: none; }\n"
         "metarule hidden { condition: party && false; actions: none; metadata: priority = 7; }\n"
         "rule nocat { condition: match(\"skip\", IM::Text, REGEX); actions: mark(c, 50);"
         " metadata: priority = 6; }\n"
         "rule noscore { condition: match(\"nudes\", IM::Text, REGEX); actions: mark(\"child\", s);"
         " metadata: priority = 5; }\n";
  settings_.SetString(nsImModules::kSharedLibsPathKey, ProgramFolder());
  CAFilter* filter = Make(kSignName);
  ASSERT_EQ(filter->ApplySharedSettings(), 0) << LastMessage();
  const struct {
    uint64_t session;  // 1 child, 2 teen, 3 adult
    const char* text;
    bool flag;
    int32_t score;
  } cases[] = {
      {3, "porn", true, 70},         {2, "porn", false, -1},
      {1, "school", true, 40},       {2, "school", true, 40},     {3, "school", false, -1},
      {2, "party", false, -1},  // party's mark ran, but hidden answered 0: not examined
      {1, "skip", false, -1},   // fired without a category
      {1, "nudes", true, 0},    // a first hit without SCORE writes 0
      {1, "nudes school", true, 40},  // the later hit keeps the score carried
  };
  for (const auto& c : cases) {
    tervo_host::Item item(c.text, c.text, nullptr);
    EXPECT_EQ(filter->ProcessEntity(c.session, item.get(), 0), 0) << LastMessage();
    EXPECT_EQ(item.Flag(ascommon::IM_SIGN_FLAG_KEY), c.flag) << c.session << " " << c.text;
    EXPECT_EQ(item.Number(ascommon::IM_SIGN_SCORE_KEY, -1), c.score) << c.session << " " << c.text;
  }
  EXPECT_TRUE(LogContains("[IM Sign] obtained 5 signatures"));
  EXPECT_TRUE(LogContains("[IM Sign] signature adult executed successfully and returned 1.000000"));
}

TEST_F(DataFiltersTest, SignatureSettingsNeedImSignAndLoadTheLibraryOnce) {
  std::ofstream(data_.File("im_other.slf"))
      << "rule r { condition: none; actions: mark(\"child\", 1); metadata: priority = 1; }\n";
  settings_.SetString(nsImModules::kSharedLibsPathKey, ProgramFolder());
  CAFilter* filter = Make(kSignName);
  EXPECT_EQ(filter->ApplySharedSettings(), -201);
  EXPECT_EQ(LastMessage(), "[IM Sign] no data file im_sign, not creating");
  EXPECT_FALSE(std::filesystem::exists(data_.File(nsImModules::kSignDataFile)));
  settings_.SetAllowsCreate("/im/general/ImSharedDataPath", 1);
  EXPECT_EQ(filter->ApplySharedSettings(), -201);
  EXPECT_EQ(LastMessage(), "[IM Sign] no data file im_sign");
  EXPECT_EQ(filter->locker.GetReaderCount(), 0);
  // The empty im_sign.slf created is enough; the rules come from every im*.slf.
  ASSERT_EQ(filter->ApplySharedSettings(), 0) << LastMessage();
  EXPECT_FALSE(LogContains("Same fernwick lib. Not reloading"));
  ASSERT_EQ(filter->ApplySharedSettings(), 0) << LastMessage();
  EXPECT_TRUE(LogContains("[IM Sign] Same fernwick lib. Not reloading"));
  tervo_host::Item item("hi", "hi", nullptr);
  EXPECT_EQ(filter->ProcessEntity(1, item.get(), 0), 0);
  EXPECT_EQ(item.Number(ascommon::IM_SIGN_SCORE_KEY, -1), 1);
}

}  // namespace
}  // namespace tervo_test
