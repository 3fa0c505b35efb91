// The blacklist filter with real digest files: loading imblacklist.dat through
// the settings, the size stamp, and marking listed correspondents.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/binstreamer.h"
#include "src/engines/urldb2/urldb2.h"
#include "src/engines/urldb2/urldb2_format.h"
#include "tervo/imblacklistfilter.h"
#include "tests/tervo/plugin_fixture.h"

namespace tervo_test {
namespace {

void WriteBlacklist(const std::string& path, const std::vector<std::string>& users,
                    uint32_t width = nsUrlDb2::kDigestWidth) {
  ascommon::CBinaryStreamer out(path.c_str(), ascommon::CBinaryStreamer::kModeWrite, ".", 1);
  nsUrlDb2::UrlDbFileWriter writer(&out);
  writer.WriteHeader(width, static_cast<uint32_t>(users.size()), 0, 0);
  for (const std::string& user : users) {
    writer.WriteKey(nsUrlDb2::DigestKey(user.data(), user.size()));
  }
}

class BlacklistFilterTest : public PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    settings_.SetString("/im/general/ImSharedDataPath", data_.path() + "/");
    settings_.SetString("/im/general/GlobalTempPath", data_.path());
    filter_ = Create(kBlacklistName);
    ASSERT_NE(nullptr, filter_);
    ASSERT_EQ(0, Open(filter_, 1, "child", 1));
  }

  nsImModules::BlacklistSharedData* Shared() {
    return static_cast<nsImModules::BlacklistSharedData*>(filter_->sharedData);
  }

  // Whether the filter marks a message from `user` in session `id`.
  bool Marks(const char* user, uint64_t id = 1, uint32_t command = 0) {
    tervo_host::Item item("hello", nullptr, user);
    EXPECT_EQ(0, filter_->ProcessEntity(id, item.get(), command)) << LastMessage();
    return item.Flag(ascommon::IM_BLACKLIST_FLAG_KEY);
  }

  // The data file's path as the filter builds it: the folder's own slash is
  // not taken as its end, so a backslash follows it.
  std::string DataPath() const { return data_.path() + "/\\imblacklist.dat"; }

  TempDir data_;
  CAFilter* filter_ = nullptr;
};

TEST_F(BlacklistFilterTest, ListedUsersAreMarkedExactly) {
  WriteBlacklist(data_.File("imblacklist.dat"), {"stranger_danger88", ""});
  ASSERT_EQ(0, filter_->ApplySharedSettings()) << LastMessage();
  EXPECT_TRUE(Marks("stranger_danger88"));
  EXPECT_FALSE(Marks("Stranger_Danger88"));
  EXPECT_FALSE(Marks("stranger_danger88 "));
  EXPECT_FALSE(Marks("best_friend_ella"));
  // The empty text was listed too.
  EXPECT_TRUE(Marks(""));
  EXPECT_GE(FindLogLine(LogLine("imblacklistfilter.cc", 251,
                                "[Im BlackList] stranger_danger88 user")),
            0);
}

TEST_F(BlacklistFilterTest, UnflaggedSessionAndOtherCommandsAreNotLookedUp) {
  WriteBlacklist(data_.File("imblacklist.dat"), {"stranger_danger88"});
  ASSERT_EQ(0, filter_->ApplySharedSettings());
  ASSERT_EQ(0, Open(filter_, 2, "child", 0));
  EXPECT_FALSE(Marks("stranger_danger88", 2));
  EXPECT_FALSE(Marks("stranger_danger88", 1, 1));
  EXPECT_GE(FindLogLine(LogLine("imblacklistfilter.cc", 259,
                                "[Parental BW List Advanced] this command is not supported")),
            0);
}

TEST_F(BlacklistFilterTest, MissingFileIsCreatedEmptyAndNothingIsLoaded) {
  EXPECT_EQ(0, filter_->ApplySharedSettings());
  EXPECT_TRUE(std::filesystem::exists(data_.File("imblacklist.dat")));
  EXPECT_EQ(nullptr, Shared()->engine);
  EXPECT_GE(FindLogLine(LogLine("imblacklistfilter.cc", 141, "FilePath " + data_.path() + "/\\")),
            0);
  EXPECT_GE(FindLogLine(LogLine("imblacklistfilter.cc", 149, "file does not exist " + DataPath())),
            0);
  EXPECT_GE(FindLogLine(LogLine("imblacklistfilter.cc", 156,
                                "file size of " + DataPath() + " is 0 (original is 0)")),
            0);
  EXPECT_FALSE(Marks("anyone"));
}

TEST_F(BlacklistFilterTest, ReloadsOnlyWhenTheSizeChangesAndClearsFirst) {
  WriteBlacklist(data_.File("imblacklist.dat"), {"first_user"});
  ASSERT_EQ(0, filter_->ApplySharedSettings());
  CUrlDb2Engine* engine = Shared()->engine;
  ASSERT_NE(nullptr, engine);
  EXPECT_EQ(1, CountLogLines(LogLine("imblacklistfilter.cc", 163, "engine null, create new")));

  // Unchanged: the size line again, nothing loaded.
  ASSERT_EQ(0, filter_->ApplySharedSettings());
  EXPECT_EQ(1, CountLogLines(LogLine("imblacklistfilter.cc", 177,
                                     "[IM BW List Advanced] will load the Im Black list "
                                     "blacklist.")));

  // Another size: the old tables are cleared before the new file loads.
  WriteBlacklist(data_.File("imblacklist.dat"), {"second_user", "third_user"});
  ASSERT_EQ(0, filter_->ApplySharedSettings());
  EXPECT_EQ(engine, Shared()->engine);
  EXPECT_EQ(1, CountLogLines(LogLine("imblacklistfilter.cc", 168,
                                     "engine not null, cleanDatabase")));
  EXPECT_FALSE(Marks("first_user"));
  EXPECT_TRUE(Marks("third_user"));
}

TEST_F(BlacklistFilterTest, FailedLoadDropsTheListButSucceeds) {
  WriteBlacklist(data_.File("imblacklist.dat"), {"first_user"});
  ASSERT_EQ(0, filter_->ApplySharedSettings());
  WriteBlacklist(data_.File("imblacklist.dat"), {"a", "b", "c"}, 3);
  EXPECT_EQ(0, filter_->ApplySharedSettings());
  EXPECT_EQ(nullptr, Shared()->engine);
  EXPECT_GE(FindLogLine(LogLine("imblacklistfilter.cc", 181,
                                "[IM BW List Advanced] Problems loading the Im Black list URLs, "
                                "no blacklist?")),
            0);
  EXPECT_FALSE(Marks("first_user"));
}

TEST_F(BlacklistFilterTest, DataFolderGetsABackslashUnlessItEndsInOne) {
  settings_.SetString("/im/general/ImSharedDataPath", "D:/lists/");
  EXPECT_EQ(0, filter_->ApplySharedSettings());
  EXPECT_GE(FindLogLine(LogLine("imblacklistfilter.cc", 149,
                                "file does not exist D:/lists/\\imblacklist.dat")),
            0);
  settings_.SetString("/im/general/ImSharedDataPath", "D:\\lists\\");
  EXPECT_EQ(0, filter_->ApplySharedSettings());
  EXPECT_GE(FindLogLine(LogLine("imblacklistfilter.cc", 141, "FilePath D:\\lists\\")), 0);
}

TEST_F(BlacklistFilterTest, EmptyDataFolderMeansTheWorkingFolder) {
  // Each test runs in a process of its own, so moving its working folder is safe.
  const std::filesystem::path saved = std::filesystem::current_path();
  std::filesystem::current_path(data_.path());
  settings_.SetString("/im/general/ImSharedDataPath", "");
  EXPECT_EQ(0, filter_->ApplySharedSettings());
  std::filesystem::current_path(saved);
  EXPECT_GE(FindLogLine(LogLine("imblacklistfilter.cc", 149,
                                "file does not exist .\\imblacklist.dat")),
            0);
  EXPECT_TRUE(std::filesystem::exists(data_.File("imblacklist.dat")));
}

TEST_F(BlacklistFilterTest, MissingUserInformationFailsTheItem) {
  tervo_host::Item item("hello", nullptr, nullptr);
  EXPECT_EQ(-104, filter_->ProcessEntity(1, item.get(), 0));
  EXPECT_NE(std::string::npos, LastMessage().find("invalid pointer to the user info"));
}

}  // namespace
}  // namespace tervo_test
