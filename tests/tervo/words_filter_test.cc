// The words filter with real word lists: loading imwords.dat through the
// settings, reloading, and the verdicts it writes.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "common/binstreamer.h"
#include "src/engines/wordsheur/imwords_format.h"
#include "tervo/imwordsfilter.h"
#include "tests/tervo/plugin_fixture.h"

namespace tervo_test {
namespace {

struct Category {
  const char* name;
  int32_t child, teen, adult;
  std::vector<std::pair<const char*, int32_t>> words;
};

void WriteWordsFile(const std::string& path, const std::vector<Category>& categories) {
  ascommon::CBinaryStreamer out(path.c_str(), ascommon::CBinaryStreamer::kModeWrite, ".", 1);
  nsWordsHeur::WordsFileWriter writer(&out);
  writer.WriteCategoryCount(static_cast<uint32_t>(categories.size()));
  for (const Category& c : categories) {
    writer.WriteCategoryHeader(ascommon::sstring(c.name), c.child, c.teen, c.adult, 0,
                               static_cast<int32_t>(c.words.size()));
    for (const auto& [word, weight] : c.words) writer.WriteWord(ascommon::sstring(word), weight);
  }
}

class WordsFilterTest : public PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    settings_.SetString("/im/general/ImSharedDataPath", data_.path());
    settings_.SetString("/im/general/GlobalTempPath", data_.path());
    filter_ = Create(kWordsName);
    ASSERT_NE(nullptr, filter_);
  }

  nsImModules::WordsSharedData* Shared() {
    return static_cast<nsImModules::WordsSharedData*>(filter_->sharedData);
  }

  // The verdict the filter writes for `text` in session `id`.
  int32_t Verdict(uint64_t id, const char* text) {
    tervo_host::Item item(text, nullptr, nullptr);
    EXPECT_EQ(0, filter_->ProcessEntity(id, item.get(), 0)) << LastMessage();
    return item.Number(ascommon::IM_WORDS_VERDICT_KEY, -1000);
  }

  int Loads() const { return CountOpenForRead(); }
  int CountOpenForRead() const {
    int n = 0;
    for (const std::string& line : LogLines()) {
      n += line.find("- Opening file [") != std::string::npos &&
           line.find("imwords.dat] for read") != std::string::npos;
    }
    return n;
  }

  TempDir data_;
  CAFilter* filter_ = nullptr;
};

const std::vector<Category> kLists = {
    {"profanity", 2, 5, 12, {{"damn", 2}, {"shit", 4}}},
    {"bullying", 3, 6, 15, {{"idiot", 2}, {"loser", 3}}},
};

TEST_F(WordsFilterTest, MissingFileIsCreatedThenReportedEmpty) {
  EXPECT_EQ(-204, filter_->ApplySharedSettings());
  EXPECT_EQ("[IM Words Filter] No data file. Creating 0", LastMessage());
  EXPECT_TRUE(std::filesystem::exists(data_.File("imwords.dat")));
  EXPECT_EQ(-201, filter_->ApplySharedSettings());
  EXPECT_EQ("[IM Words Filter] Problems loading the file", LastMessage());

  // Nothing loaded: items are scored against no category.
  ASSERT_EQ(0, Open(filter_, 1, "child", 1));
  EXPECT_EQ(-1, Verdict(1, "damn shit idiot"));
}

TEST_F(WordsFilterTest, VerdictIsTheLastFiredCategorysSumForTheSessionsAge) {
  WriteWordsFile(data_.File("imwords.dat"), kLists);
  ASSERT_EQ(0, filter_->ApplySharedSettings()) << LastMessage();
  ASSERT_EQ(0, Open(filter_, 1, "child", 1));
  ASSERT_EQ(0, Open(filter_, 2, "teen", 1));
  ASSERT_EQ(0, Open(filter_, 3, "adult", 1));

  EXPECT_EQ(-1, Verdict(1, "hello there"));
  EXPECT_EQ(-1, Verdict(1, "damn"));             // 2 is not above the child threshold 2
  EXPECT_EQ(4, Verdict(1, "Damn, DAMN!"));       // case folds; 4 > 2
  EXPECT_EQ(5, Verdict(1, "damn idiot loser"));  // both fire; bullying comes later
  EXPECT_EQ(-1, Verdict(2, "damn idiot loser"));
  EXPECT_EQ(6, Verdict(2, "shit damn"));
  EXPECT_EQ(-1, Verdict(3, "shit damn"));
  EXPECT_EQ(16, Verdict(3, "shit shit shit shit"));
}

TEST_F(WordsFilterTest, UnchangedFileIsLoadedOnce) {
  WriteWordsFile(data_.File("imwords.dat"), kLists);
  ASSERT_EQ(0, filter_->ApplySharedSettings());
  ASSERT_EQ(0, filter_->ApplySharedSettings());
  EXPECT_EQ(1, Loads());
  EXPECT_TRUE(Shared()->stamp.taken());
  EXPECT_EQ(std::filesystem::file_size(data_.File("imwords.dat")), Shared()->stamp.size());

  // A file of another size is loaded again, replacing the categories.
  WriteWordsFile(data_.File("imwords.dat"), {{"only", 0, 0, 0, {{"zebra", 1}}}});
  ASSERT_EQ(0, filter_->ApplySharedSettings());
  EXPECT_EQ(2, Loads());
  EXPECT_EQ(1u, Shared()->engine.GetCategoryCount());
}

TEST_F(WordsFilterTest, SameSizeFileInAnotherFolderIsNotReloaded) {
  WriteWordsFile(data_.File("imwords.dat"), kLists);
  ASSERT_EQ(0, filter_->ApplySharedSettings());
  ASSERT_EQ(0, Open(filter_, 1, "child", 1));

  // Same layout, other words of the same lengths: the same size.
  TempDir other;
  WriteWordsFile(other.File("imwords.dat"), {
                                                {"profanity", 2, 5, 12, {{"abcd", 2}, {"efgh", 4}}},
                                                {"bullying", 3, 6, 15, {{"ijklm", 2}, {"nopqr", 3}}},
                                            });
  ASSERT_EQ(std::filesystem::file_size(data_.File("imwords.dat")),
            std::filesystem::file_size(other.File("imwords.dat")));
  settings_.SetString("/im/general/ImSharedDataPath", other.path() + "\\");
  ASSERT_EQ(0, filter_->ApplySharedSettings());
  EXPECT_EQ(1, Loads());
  // The new path is kept (with two backslashes: the folder's and the joint).
  EXPECT_EQ(other.path() + "\\\\imwords.dat", std::string(Shared()->dataPath.c_str()));
  EXPECT_EQ(4, Verdict(1, "damn damn"));
  EXPECT_EQ(-1, Verdict(1, "efgh efgh"));
}

TEST_F(WordsFilterTest, FailedReloadKeepsTheStampSoTheNextCallTriesAgain) {
  WriteWordsFile(data_.File("imwords.dat"), kLists);
  ASSERT_EQ(0, filter_->ApplySharedSettings());
  const uint64_t stamp = Shared()->stamp.size();

  // A damaged file of another size.
  std::filesystem::resize_file(data_.File("imwords.dat"), stamp + 7);
  EXPECT_EQ(-104, filter_->ApplySharedSettings());
  EXPECT_EQ("[IM Words Filter] Problems reloading the dictionary", LastMessage());
  EXPECT_TRUE(Shared()->stamp.taken());
  EXPECT_EQ(stamp, Shared()->stamp.size());
  EXPECT_EQ(-104, filter_->ApplySharedSettings());
  EXPECT_EQ(3, Loads());
}

TEST_F(WordsFilterTest, TemporaryFolderAlwaysEndsInASeparator) {
  WriteWordsFile(data_.File("imwords.dat"), kLists);
  struct Case {
    std::string setting;
    std::string stored;
  } cases[] = {
      {data_.path(), data_.path() + "\\"},
      {data_.path() + "/", data_.path() + "/"},
      {data_.path() + "\\", data_.path() + "\\"},
  };
  for (const Case& c : cases) {
    settings_.SetString("/im/general/GlobalTempPath", c.setting);
    filter_->ApplySharedSettings();
    EXPECT_EQ(c.stored, std::string(Shared()->tempFolder.c_str()));
  }
  settings_.SetString("/im/general/GlobalTempPath", "");
  filter_->ApplySharedSettings();
  EXPECT_EQ("\\", std::string(Shared()->tempFolder.c_str()));

  settings_.Remove("/im/general/GlobalTempPath");
  filter_->ApplySharedSettings();
  EXPECT_EQ(".\\", std::string(Shared()->tempFolder.c_str()));
  EXPECT_TRUE(LogContains("Module Im Words Filter failed to apply shared settings with message: "
                          "invalid EmlGlobalTempPath"));
}

// Answers from the fixture's settings and notes the string keys asked for.
class RecordingSettings final : public ISettingsProvider {
 public:
  explicit RecordingSettings(ISettingsProvider* inner) : inner_(inner) {}
  int32_t SetStringSetting(const char16_t* key, const char* value, uint64_t session) override {
    return inner_->SetStringSetting(key, value, session);
  }
  int32_t SetIntSetting(const char16_t* key, int32_t value, uint64_t session) override {
    return inner_->SetIntSetting(key, value, session);
  }
  int32_t RemoveSetting(const char16_t* key, uint64_t session) override {
    return inner_->RemoveSetting(key, session);
  }
  int32_t AllowsCreate(const char16_t* key, uint64_t session) override {
    return inner_->AllowsCreate(key, session);
  }
  int32_t Reload() override { return inner_->Reload(); }
  const char* GetStringSetting(const char16_t* key, uint64_t session) override {
    asked.emplace_back(key);
    return inner_->GetStringSetting(key, session);
  }
  int32_t GetIntSetting(const char16_t* key, int32_t fallback, uint64_t session) override {
    return inner_->GetIntSetting(key, fallback, session);
  }

  std::vector<std::u16string> asked;

 private:
  ISettingsProvider* inner_;
};

TEST_F(WordsFilterTest, ReadsTheDataFolderBeforeTheTemporaryFolder) {
  WriteWordsFile(data_.File("imwords.dat"), kLists);
  RecordingSettings recording(&settings_);
  filter_->settings = &recording;
  EXPECT_EQ(0, filter_->ApplySharedSettings()) << LastMessage();
  filter_->settings = &settings_;
  EXPECT_EQ((std::vector<std::u16string>{u"/im/general/ImSharedDataPath",
                                         u"/im/general/GlobalTempPath"}),
            recording.asked);
}

}  // namespace
}  // namespace tervo_test

namespace tervo_test {
namespace {

// Scoring rules seen from the host: one child session (threshold 2) over one
// category of short and repeated words.
TEST_F(WordsFilterTest, TokensAreSplitLowerCasedAndCountedEachTime) {
  WriteWordsFile(data_.File("imwords.dat"),
                 {{"words", 2, 5, 12, {{"cdef", 3}, {"bad", 1}, {"Caps", 9}, {"ab", 9}}}});
  ASSERT_EQ(0, filter_->ApplySharedSettings());
  ASSERT_EQ(0, Open(filter_, 1, "child", 1));
  struct Case {
    const char* text;
    int32_t verdict;
  } cases[] = {
      {"ab,cdef", 3},          // "ab" is too short to be a word; "cdef" counts
      {"ab", -1},              // a text under three characters contributes nothing
      {"bad Bad BAD", 3},      // lower-cased tokens match the stored "bad" each time
      {"bad bad", -1},         // 2 is not above the threshold 2
      {"caps Caps CAPS", -1},  // a stored word with capitals never matches
      {"cdef\tbad\r\n", 4},
  };
  for (const Case& c : cases) EXPECT_EQ(c.verdict, Verdict(1, c.text)) << c.text;
}

TEST_F(WordsFilterTest, FileCutInsideTheThirdCategoryKeepsTheFirstTwo) {
  WriteWordsFile(data_.File("imwords.dat"), {{"one", 0, 0, 0, {{"alpha", 1}}},
                                             {"two", 0, 0, 0, {{"beta", 2}}},
                                             {"three", 0, 0, 0, {{"gamma", 3}, {"delta", 4}}}});
  // Cut the payload inside the last word by rewriting the file shorter: read
  // it back through a streamer and write all but its last 6 payload bytes.
  std::string payload;
  {
    ascommon::CBinaryStreamer in(data_.File("imwords.dat").c_str(),
                                 ascommon::CBinaryStreamer::kModeRead, data_.path().c_str(), 0);
    payload.resize(in.payload_size());
    in.ReadBytes(payload.data(), payload.size());
  }
  {
    ascommon::CBinaryStreamer out(data_.File("imwords.dat").c_str(),
                                  ascommon::CBinaryStreamer::kModeWrite, ".", 1);
    out.WriteBytes(payload.data(), payload.size() - 6);
  }
  EXPECT_EQ(-104, filter_->ApplySharedSettings());
  EXPECT_EQ(2u, Shared()->engine.GetCategoryCount());
  ASSERT_EQ(0, Open(filter_, 1, "child", 1));
  EXPECT_EQ(2, Verdict(1, "alpha beta gamma"));
}

}  // namespace
}  // namespace tervo_test
