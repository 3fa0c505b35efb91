// The four filters through the host's calls: their constants, self test,
// enabled flag, settings passes, and how ProcessEntity and ProcessCommand
// treat good and bad input while no engine is loaded.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "common/item.h"
#include "tests/support/plugin_fixture.h"

namespace tervo_test {
namespace {

class FiltersTest : public PluginFixture {};

using tervo_host::Item;

std::string EntityFailure(const std::string& module, const std::string& text) {
  return "Module " + module + " failed to process entity with message: " + text;
}

TEST_F(FiltersTest, FiltersAnswerTheirConstantsAndHaveNoSelfTest) {
  struct Case {
    const char* name;
    uint8_t code;
  };
  const Case cases[] = {
      {kBlacklistName, 200}, {kWordsName, 203}, {kSignName, 203}, {kMarkovianName, 203}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CAFilter* filter = Create(c.name);
    ASSERT_NE(filter, nullptr);
    EXPECT_EQ(filter->GetFilterCode(), c.code);
    EXPECT_EQ(filter->ReservedQuery1(), 0);
    EXPECT_EQ(filter->ReservedQuery2(), 0);
    EXPECT_EQ(filter->UnitTest(), 1);
    const std::string line = LogLine(
        "amodule.cc", 121, std::string("module [") + c.name + "] does not implement unit testing");
    EXPECT_EQ(CountLogLines(line), 1) << Log();
  }
}

TEST_F(FiltersTest, IsEnabledOnlyForOneAndFallbackDependsOnFilter) {
  // The absent case shows what each filter passes as the provider's
  // fallback: the host answers it back when the key has no value.
  struct Case {
    const char* name;
    bool when_absent;
  };
  const Case filters[] = {{kBlacklistName, true},
                          {kWordsName, false},
                          {kSignName, true},
                          {kMarkovianName, false}};
  struct Value {
    std::optional<int32_t> enabled;
    bool blacklist_sign;  // expected for the filters passing 1
    bool words_markovian; // expected for the filters passing 0
  };
  const Value values[] = {{1, true, true},     {0, false, false},   {2, false, false},
                          {-1, false, false},  {std::nullopt, true, false}};
  for (const Case& f : filters) {
    CAFilter* filter = Create(f.name);
    ASSERT_NE(filter, nullptr);
    uint64_t id = 100;
    for (const Value& v : values) {
      SCOPED_TRACE(std::string(f.name) + " enabled=" +
                   (v.enabled ? std::to_string(*v.enabled) : "absent"));
      ++id;
      ASSERT_EQ(Open(filter, id, "adult", v.enabled), 0);
      const bool expected = f.when_absent ? v.blacklist_sign : v.words_markovian;
      EXPECT_EQ(filter->IsEnabled(id), expected);
      // The host stores that answer as the session's flag.
      EXPECT_EQ(filter->IsSessionFlagSet(id), expected);
    }
  }
}

TEST_F(FiltersTest, ApplySharedSettingsFailsWhileNoEngineIsBuilt) {
  // Data and temporary folders of this test only, so that nothing a settings
  // pass may write lands in the working folder.
  TempDir data;
  settings_.SetString(kSharedDataPathKey, data.path());
  settings_.SetString(kGlobalTempPathKey, data.path());
  settings_.SetString(kSharedLibsPathKey, ProgramFolder());
  // The other filters have their engines; their settings passes are tested
  // with their data files.
  for (const char* name : {kSignName}) {
    SCOPED_TRACE(name);
    CAFilter* filter = Create(name);
    ASSERT_NE(filter, nullptr);
    as_set_err(0, nullptr);
    const int32_t status = filter->ApplySharedSettings();
    EXPECT_EQ(status, -201);  // no signature engine in this build
    EXPECT_EQ(LastCode(), status);
    EXPECT_FALSE(LastMessage().empty());
    // The lock is released again: a second pass answers instead of blocking.
    const int32_t again = filter->ApplySharedSettings();
    EXPECT_LT(again, 0);
    EXPECT_EQ(LastCode(), again);
    EXPECT_EQ(filter->locker.GetReaderCount(), 0);
    EXPECT_FALSE(filter->locker.IsDeleted());
  }
}

TEST_F(FiltersTest, ApplySharedSettingsWithoutSharedDataRecordsMinus103) {
  struct Case {
    const char* name;
    const char* message;
  };
  const Case cases[] = {
      {kBlacklistName, "[Parental BW List Advanced] invalid pointer to shared data struct"},
      {kWordsName, "[IM Words Filter] Invalid shared data retreived"},
      {kSignName, "[IM Sign] invalid shared data struct"},
      {kMarkovianName, "[IM Markovian Filter] Invalid shared data retreived"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CAFilter* filter = Create(c.name);
    ASSERT_NE(filter, nullptr);
    void* shared = filter->sharedData;
    filter->sharedData = nullptr;
    EXPECT_EQ(filter->ApplySharedSettings(), -103);
    EXPECT_EQ(LastCode(), -103);
    EXPECT_EQ(LastMessage(), c.message);
    filter->sharedData = shared;
  }
}

class TextFilterCase {
 public:
  const char* name;
  const char* prefix;
};

const TextFilterCase kTextFilters[] = {{kWordsName, "[IM Words Filter]"},
                                       {kMarkovianName, "[IM Markovian Filter]"}};

TEST_F(FiltersTest, TextFiltersCheckTheItemBeforeScoring) {
  for (const TextFilterCase& f : kTextFilters) {
    SCOPED_TRACE(f.name);
    CAFilter* filter = Create(f.name);
    ASSERT_NE(filter, nullptr);
    // Not enabled: these filters do not look at the session flag.
    ASSERT_EQ(Open(filter, 1, "child", 0), 0);
    const std::string prefix = f.prefix;

    struct Check {
      const char* what;
      uint64_t session;
      bool null_item;
      bool with_text;
      bool with_io;
      uint32_t command;
      std::string text;
    };
    const Check checks[] = {
        {"null item", 1, true, true, true, 0,
         "ASBadPtrException - MESSAGE: " + prefix + " Invalid item to process"},
        {"null item, unknown session", 42, true, true, true, 0,
         "ASBadPtrException - MESSAGE: " + prefix + " Invalid item to process"},
        {"unknown session", 42, false, true, true, 0,
         "ASBadPtrException - MESSAGE: " + prefix + " invalid data struct"},
        {"no IO box", 1, false, true, false, 0,
         "ASBadPtrException - MESSAGE: " + prefix + " invalid IO blackbox"},
        {"no IO box, no text", 1, false, false, false, 3,
         "ASBadPtrException - MESSAGE: " + prefix + " invalid IO blackbox"},
        {"no text", 1, false, false, true, 0,
         "ASBadPtrException - MESSAGE: " + prefix + " null parsed text buffers"},
        {"no text, command 1", 1, false, false, true, 1,
         "ASBadPtrException - MESSAGE: " + prefix + " null parsed text buffers"},
        {"text, command 1", 1, false, true, true, 1,
         "ASException - MESSAGE: " + prefix + " Unknown command"},
        {"text, command 7", 1, false, true, true, 7,
         "ASException - MESSAGE: " + prefix + " Unknown command"},
    };
    for (const Check& c : checks) {
      SCOPED_TRACE(c.what);
      Item item(c.with_text ? "some words here" : nullptr, "aux form", "buddy");
      if (!c.with_io) item.DropIoBox();
      as_set_err(0, nullptr);
      EXPECT_EQ(filter->ProcessEntity(c.session, c.null_item ? nullptr : item.get(), c.command),
                -104);
      EXPECT_EQ(LastCode(), -104);
      EXPECT_EQ(LastMessage(), EntityFailure(f.name, c.text));
      // The raise is logged as well.
      EXPECT_TRUE(LogContains("[ANTISPAM EXCEPTION]")) << Log();
      EXPECT_TRUE(LogContains("] - " + c.text + "\n")) << Log();
      // The read lock taken for the checks was released.
      EXPECT_EQ(filter->locker.GetReaderCount(), 0);
    }

    // A good item passes every check and reaches the scoring with the
    // session's age; what the scoring answers is the engine's.
    Item item("some words here", nullptr, nullptr);
    as_set_err(-9, "stale");
    const int32_t status = filter->ProcessEntity(1, item.get(), 0);
    EXPECT_EQ(LastCode(), status);
    EXPECT_TRUE(LogContains(prefix + " Processing current text - age category: 2\n")) << Log();
    EXPECT_EQ(filter->locker.GetReaderCount(), 0);
  }
}

TEST_F(FiltersTest, TextFiltersNeedSharedData) {
  for (const TextFilterCase& f : kTextFilters) {
    SCOPED_TRACE(f.name);
    CAFilter* filter = Create(f.name);
    ASSERT_NE(filter, nullptr);
    ASSERT_EQ(Open(filter, 1, "teen", 1), 0);

    as_set_err(-9, "stale");
    EXPECT_EQ(filter->ProcessCommand(), 0);
    EXPECT_EQ(LastCode(), 0);

    void* shared = filter->sharedData;
    filter->sharedData = nullptr;
    Item item("text", nullptr, nullptr);
    EXPECT_EQ(filter->ProcessEntity(1, item.get(), 0), -104);
    EXPECT_EQ(LastMessage(),
              EntityFailure(f.name, std::string("ASBadPtrException - MESSAGE: ") + f.prefix +
                                        " invalid shared data struct"));
    EXPECT_EQ(filter->ProcessCommand(), -104);
    EXPECT_EQ(LastCode(), -104);
    EXPECT_EQ(LastMessage(), std::string("Module ") + f.name +
                                 " failed to process command with message: "
                                 "ASBadPtrException - MESSAGE: " +
                                 f.prefix + " invalid shared data struct");
    filter->sharedData = shared;
    // The write lock of the failed command was released.
    EXPECT_EQ(filter->ProcessCommand(), 0);
  }
}

TEST_F(FiltersTest, BlacklistProcessesOnlyFlaggedSessions) {
  CAFilter* filter = Create(kBlacklistName);
  ASSERT_NE(filter, nullptr);
  ASSERT_EQ(Open(filter, 1, std::nullopt, 0), 0);  // flag not set
  ASSERT_EQ(Open(filter, 2, std::nullopt, 1), 0);  // flag set
  ASSERT_FALSE(filter->IsSessionFlagSet(1));
  ASSERT_TRUE(filter->IsSessionFlagSet(2));

  // Without the flag nothing is examined, not even the item.
  as_set_err(-9, "stale");
  EXPECT_EQ(filter->ProcessEntity(1, nullptr, 0), 0);
  EXPECT_EQ(LastCode(), 0);
  {
    Item item("hi", nullptr, nullptr);
    EXPECT_EQ(filter->ProcessEntity(1, item.get(), 0), 0);
    EXPECT_EQ(filter->ProcessEntity(77, item.get(), 0), 0);  // unknown: no flag
    EXPECT_EQ(item.io()->Find(ascommon::IM_BLACKLIST_FLAG_KEY), nullptr);
  }

  // A flagged session without an item.
  EXPECT_EQ(filter->ProcessEntity(2, nullptr, 0), -104);
  EXPECT_EQ(LastCode(), -104);
  EXPECT_EQ(LastMessage(),
            EntityFailure(kBlacklistName,
                          "ASBadPtrException - MESSAGE: [Parental BW List Advanced] invalid item "
                          "received for processing"));

  // Another command is logged and skipped before the user info is read.
  const std::string unsupported =
      LogLine("imblacklistfilter.cc", 259, "[Parental BW List Advanced] this command is not supported");
  {
    Item item("hi", nullptr, nullptr);
    as_set_err(-9, "stale");
    EXPECT_EQ(filter->ProcessEntity(2, item.get(), 1), 0);
    EXPECT_EQ(LastCode(), 0);
    EXPECT_EQ(CountLogLines(unsupported), 1) << Log();
    item.DropIoBox();
    EXPECT_EQ(filter->ProcessEntity(2, item.get(), 5), 0);
    EXPECT_EQ(CountLogLines(unsupported), 2);
  }

  // Classifying needs the other party.
  struct Missing {
    const char* what;
    bool with_io;
  };
  for (const Missing& m : {Missing{"no user info", true}, Missing{"no IO box", false}}) {
    SCOPED_TRACE(m.what);
    Item item("hi", nullptr, nullptr);
    if (!m.with_io) item.DropIoBox();
    EXPECT_EQ(filter->ProcessEntity(2, item.get(), 0), -104);
    EXPECT_EQ(LastCode(), -104);
    EXPECT_EQ(LastMessage(),
              EntityFailure(kBlacklistName,
                            "ASBadPtrException - MESSAGE: invalid pointer to the user info"));
  }

  // With no list loaded nobody is listed.
  Item item("hi", nullptr, "someone@example.org");
  as_set_err(-9, "stale");
  EXPECT_EQ(filter->ProcessEntity(2, item.get(), 0), 0);
  EXPECT_EQ(LastCode(), 0);
  EXPECT_EQ(item.io()->Find(ascommon::IM_BLACKLIST_FLAG_KEY), nullptr);
  EXPECT_FALSE(item.Flag(ascommon::IM_BLACKLIST_FLAG_KEY));
  EXPECT_EQ(item.Text(ascommon::IM_USER_INFO_KEY), "someone@example.org");
  EXPECT_EQ(filter->locker.GetReaderCount(), 0);

  EXPECT_EQ(filter->ProcessCommand(), 0);
  EXPECT_EQ(LastCode(), 0);
}

TEST_F(FiltersTest, SignatureFilterWithoutEnginesMarksNothing) {
  CAFilter* filter = Create(kSignName);
  ASSERT_NE(filter, nullptr);
  ASSERT_EQ(Open(filter, 1, "child", 0), 0);  // flag not set
  ASSERT_EQ(Open(filter, 2, "child", 1), 0);  // flag set

  const std::string no_signatures =
      LogLine("imsignfilter.cc", 75, "pExecUnit->GetSignatures() returned NULL");
  const std::string unsupported =
      LogLine("imsignfilter.cc", 153, "[IM Sign] this command is not supported");

  // Without the flag: nothing is examined or logged.
  as_set_err(-9, "stale");
  EXPECT_EQ(filter->ProcessEntity(1, nullptr, 0), 0);
  EXPECT_EQ(LastCode(), 0);
  {
    Item item("hi", nullptr, "buddy");
    EXPECT_EQ(filter->ProcessEntity(1, item.get(), 0), 0);
    EXPECT_EQ(filter->ProcessEntity(1, item.get(), 2), 0);
  }
  EXPECT_EQ(CountLogLines(no_signatures), 0) << Log();
  EXPECT_EQ(CountLogLines(unsupported), 0);

  // Flag set, null item.
  EXPECT_EQ(filter->ProcessEntity(2, nullptr, 0), -104);
  EXPECT_EQ(LastMessage(),
            EntityFailure(kSignName,
                          "ASBadPtrException - MESSAGE: [IM Sign] invalid item received for "
                          "processing"));

  // Another command.
  {
    Item item("hi", nullptr, "buddy");
    as_set_err(-9, "stale");
    EXPECT_EQ(filter->ProcessEntity(2, item.get(), 2), 0);
    EXPECT_EQ(LastCode(), 0);
    EXPECT_EQ(CountLogLines(unsupported), 1) << Log();
    EXPECT_EQ(CountLogLines(no_signatures), 0);
  }

  // Classifying with no signatures loaded.
  Item item("hi", nullptr, "buddy");
  as_set_err(-9, "stale");
  EXPECT_EQ(filter->ProcessEntity(2, item.get(), 0), 0);
  EXPECT_EQ(LastCode(), 0);
  EXPECT_EQ(CountLogLines(no_signatures), 1) << Log();
  EXPECT_EQ(CountLogLines(unsupported), 1);
  EXPECT_EQ(item.io()->Find(ascommon::IM_SIGN_FLAG_KEY), nullptr);
  EXPECT_EQ(item.io()->Find(ascommon::IM_SIGN_SCORE_KEY), nullptr);
  EXPECT_FALSE(item.Flag(ascommon::IM_SIGN_FLAG_KEY));
  EXPECT_EQ(filter->locker.GetReaderCount(), 0);

  EXPECT_EQ(filter->ProcessCommand(), 0);
  EXPECT_EQ(LastCode(), 0);
}

TEST_F(FiltersTest, FlaggedFiltersFailWithoutSharedOrSessionData) {
  struct Case {
    const char* name;
    const char* message;
    const char* session_message;
  };
  const Case cases[] = {
      {kBlacklistName, "[IM Black List Advanced] invalid shared data struct",
       "[IM Black List Advanced] invalid data struct"},
      {kSignName, "[IM Sign] invalid shared data struct", "[IM Sign] invalid data struct"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CAFilter* filter = Create(c.name);
    ASSERT_NE(filter, nullptr);
    ASSERT_EQ(Open(filter, 3, "adult", 1), 0);
    void* shared = filter->sharedData;
    filter->sharedData = nullptr;
    Item item("hi", nullptr, "buddy");
    EXPECT_EQ(filter->ProcessEntity(3, item.get(), 0), -104);
    EXPECT_EQ(LastMessage(),
              EntityFailure(c.name, std::string("ASBadPtrException - MESSAGE: ") + c.message));
    filter->sharedData = shared;
    EXPECT_EQ(filter->ProcessEntity(3, item.get(), 0), 0);

    // A flagged session whose data was never made (the factory's release
    // copes with it too).
    ASSERT_EQ(filter->sessions.Insert(9, nobjSessionInfo{nullptr, true}), 0);
    EXPECT_EQ(filter->ProcessEntity(9, item.get(), 0), -104);
    EXPECT_EQ(LastMessage(), EntityFailure(c.name, std::string("ASBadPtrException - MESSAGE: ") +
                                                       c.session_message));
    EXPECT_EQ(filter->locker.GetReaderCount(), 0);
  }
}

}  // namespace
}  // namespace tervo_test
