// The four filters through the host's calls: their constants, self test,
// enabled flag, settings passes, and how ProcessEntity and ProcessCommand
// treat good and bad input while no engine is loaded.
#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <string>

#include "common/item.h"
#include "tests/support/plugin_fixture.h"

namespace tervo_test {
namespace {

class FiltersTest : public PluginFixture {};

using tervo_host::Item;

TEST_F(FiltersTest, FiltersAnswerTheirConstantsAndIsEnabledOnlyForOne) {
  // Absent: the provider's fallback each filter passes, which the host answers back.
  const uint8_t codes[] = {200, 203, 203, 203};
  const bool when_absent[] = {true, false, true, false};
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(kAllFilters[i]);
    CAFilter* filter = Create(kAllFilters[i]);
    EXPECT_EQ(filter->GetFilterCode(), codes[i]);
    EXPECT_EQ(filter->ReservedQuery1() | filter->ReservedQuery2(), 0);
    EXPECT_EQ(filter->UnitTest(), 1);
    EXPECT_EQ(CountLogLines(LogLine("amodule.cc", 121, std::string("module [") + kAllFilters[i] +
                                                           "] does not implement unit testing")),
              1)
        << Log();
    uint64_t id = 100;
    for (const std::optional<int32_t> enabled : {std::optional<int32_t>(1), {0}, {2}, {-1}, {}}) {
      SCOPED_TRACE(enabled ? std::to_string(*enabled) : "absent");
      ASSERT_EQ(Open(filter, ++id, "adult", enabled), 0);
      const bool expected = enabled ? *enabled == 1 : when_absent[i];
      EXPECT_EQ(filter->IsEnabled(id), expected);
      EXPECT_EQ(filter->IsSessionFlagSet(id), expected);  // the host stores the answer
    }
  }
}

TEST_F(FiltersTest, FiltersFailWithoutSharedOrSessionData) {
  const struct {
    const char* name;
    const char* settings_message;  // of the shared settings pass
    const char* session_prefix;    // of the session settings pass
    const char* prefix;            // of the item's failure
  } cases[] = {
      {kBlacklistName, "[Parental BW List Advanced] invalid pointer to shared data struct",
       "[Parental BW List Advanced]", "[IM Black List Advanced]"},
      {kWordsName, "[IM Words Filter] Invalid shared data retreived", "[IM Words Filter]",
       "[IM Words Filter]"},
      {kSignName, "[IM Sign] invalid shared data struct", "[IM Sign Filter]", "[IM Sign]"},
      {kMarkovianName, "[IM Markovian Filter] Invalid shared data retreived",
       "[IM Markovian Filter]", "[IM Markovian Filter]"},
  };
  TempDir data;  // the signature filter looks for its rules before its shared data
  std::ofstream(data.File(nsImModules::kSignDataFile)).flush();
  UseDataFolder(data.path());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CAFilter* filter = Create(c.name);
    ASSERT_EQ(Open(filter, 3, "adult", 1), 0);
    const bool text_filter = c.name == kWordsName || c.name == kMarkovianName;
    void* shared = filter->sharedData;
    filter->sharedData = nullptr;
    EXPECT_EQ(filter->ApplySharedSettings(), -103);
    EXPECT_EQ(LastCode(), -103);
    EXPECT_EQ(LastMessage(), c.settings_message);
    Item item("hi", nullptr, "buddy");
    const std::string no_shared = Bad(std::string(c.prefix) + " invalid shared data struct");
    EXPECT_EQ(filter->ProcessEntity(3, item.get(), 0), -104);
    EXPECT_EQ(LastMessage(), EntityFailure(c.name, no_shared));
    if (text_filter) {  // their command reads the shared data too
      EXPECT_EQ(filter->ProcessCommand(), -104);
      EXPECT_EQ(LastMessage(), std::string("Module ") + c.name +
                                   " failed to process command with message: " + no_shared);
    }
    filter->sharedData = shared;
    // The locks of the failed calls were released.
    as_set_err(-9, "stale");
    EXPECT_EQ(filter->ProcessCommand(), 0);
    EXPECT_EQ(LastCode(), 0);

    // An unknown session, and a flagged one whose data was never made.
    ASSERT_EQ(filter->sessions.Insert(9, nobjSessionInfo{nullptr, true}), 0);
    for (uint64_t id : {99, 9}) {
      as_set_err(0, nullptr);
      EXPECT_EQ(filter->ApplySessionSettings(id), -103);
      EXPECT_EQ(LastCode(), -103);
      EXPECT_EQ(LastMessage(), std::string(c.session_prefix) + " invalid data struct");
    }
    EXPECT_EQ(filter->ProcessEntity(9, item.get(), 0), -104);
    if (!text_filter) {
      EXPECT_EQ(LastMessage(),
                EntityFailure(c.name, Bad(std::string(c.prefix) + " invalid data struct")));
    }
    EXPECT_EQ(filter->locker.GetReaderCount(), 0);
    EXPECT_EQ(filter->ApplySessionSettings(3), 0);  // the write lock was released each time
  }
}

TEST_F(FiltersTest, TextFiltersCheckTheItemBeforeScoring) {
  for (const char* name : {kWordsName, kMarkovianName}) {
    SCOPED_TRACE(name);
    CAFilter* filter = Create(name);
    ASSERT_EQ(Open(filter, 1, "child", 0), 0);  // these filters ignore the session flag
    const std::string prefix = name == kWordsName ? "[IM Words Filter]" : "[IM Markovian Filter]";
    // The failure names the first check failed: item, session, IO box, text, command.
    const struct {
      uint64_t session;
      bool null_item, with_text, with_io;
      uint32_t command;
      const char* text;
    } checks[] = {
        {1, true, true, true, 0, "ASBadPtrException - MESSAGE: %s Invalid item to process"},
        {42, true, true, true, 0, "ASBadPtrException - MESSAGE: %s Invalid item to process"},
        {42, false, true, true, 0, "ASBadPtrException - MESSAGE: %s invalid data struct"},
        {1, false, false, false, 3, "ASBadPtrException - MESSAGE: %s invalid IO blackbox"},
        {1, false, false, true, 1, "ASBadPtrException - MESSAGE: %s null parsed text buffers"},
        {1, false, true, true, 1, "ASException - MESSAGE: %s Unknown command"},
    };
    for (const auto& c : checks) {
      std::string text = c.text;
      text.replace(text.find("%s"), 2, prefix);
      SCOPED_TRACE(text);
      Item item(c.with_text ? "some words here" : nullptr, "aux form", "buddy");
      if (!c.with_io) item.DropIoBox();
      as_set_err(0, nullptr);
      EXPECT_EQ(filter->ProcessEntity(c.session, c.null_item ? nullptr : item.get(), c.command),
                -104);
      EXPECT_EQ(LastMessage(), EntityFailure(name, text));
      EXPECT_EQ(filter->locker.GetReaderCount(), 0);
    }
    // A good item reaches the scoring (of an empty engine) with the session's age.
    Item item("some words here", nullptr, nullptr);
    EXPECT_EQ(filter->ProcessEntity(1, item.get(), 0), 0) << LastMessage();
    EXPECT_TRUE(LogContains(prefix + " Processing current text - age category: 2\n")) << Log();
  }
}

TEST_F(FiltersTest, FlaggedFiltersLookOnlyAtFlaggedSessionsAndMarkNothingWithoutData) {
  const struct {
    const char* name;
    const char* prefix;
  } cases[] = {{kBlacklistName, "[Parental BW List Advanced]"}, {kSignName, "[IM Sign]"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CAFilter* filter = Create(c.name);
    ASSERT_EQ(Open(filter, 1, "child", 0), 0);  // flag not set
    ASSERT_EQ(Open(filter, 2, "child", 1), 0);  // flag set

    // Without the flag nothing is examined, not even the item, nor logged.
    const std::string log = Log();
    Item item("hi", nullptr, "someone@example.org");
    as_set_err(-9, "stale");
    EXPECT_EQ(filter->ProcessEntity(1, nullptr, 0), 0);
    EXPECT_EQ(LastCode(), 0);
    EXPECT_EQ(filter->ProcessEntity(1, item.get(), 2), 0);
    EXPECT_EQ(Log(), log);

    EXPECT_EQ(filter->ProcessEntity(2, nullptr, 0), -104);
    EXPECT_EQ(LastMessage(), EntityFailure(c.name, Bad(std::string(c.prefix) +
                                                       " invalid item received for processing")));
    // With nothing loaded nothing is marked.
    as_set_err(-9, "stale");
    EXPECT_EQ(filter->ProcessEntity(2, item.get(), 0), 0);
    EXPECT_EQ(LastCode(), 0);
    for (uint32_t key : {ascommon::IM_BLACKLIST_FLAG_KEY, ascommon::IM_SIGN_FLAG_KEY,
                         ascommon::IM_SIGN_SCORE_KEY}) {
      EXPECT_EQ(item.io()->Find(key), nullptr) << key;
    }
    EXPECT_EQ(filter->locker.GetReaderCount(), 0);
    if (c.name != kBlacklistName) continue;
    // The blacklist filter classifies by the other party.
    for (bool with_io : {true, false}) {
      Item anonymous("hi", nullptr, nullptr);
      if (!with_io) anonymous.DropIoBox();
      EXPECT_EQ(filter->ProcessEntity(2, anonymous.get(), 0), -104);
      EXPECT_EQ(LastMessage(), EntityFailure(kBlacklistName, Bad("invalid pointer to the user info")));
    }
  }
}

TEST_F(FiltersTest, ProcessEntityLogsWhatItSkipsWithItsPlace) {
  CAFilter* blacklist = Create(kBlacklistName);
  CAFilter* sign = Create(kSignName);
  CAFilter* words = Create(kWordsName);
  for (CAFilter* filter : {blacklist, sign, words}) ASSERT_EQ(Open(filter, 1, "child", 1), 0);
  // An unknown session is no error for a flagged filter, but is for the words filter.
  const struct {
    CAFilter* filter;
    uint64_t id;
    uint32_t command;
    int32_t status;
    const char* file;
    int line;
    const char* text;
  } cases[] = {
      {blacklist, 1, 1, 0, "imblacklistfilter.cc", 259,
       "[Parental BW List Advanced] this command is not supported"},
      {sign, 1, 2, 0, "imsignfilter.cc", 153, "[IM Sign] this command is not supported"},
      {sign, 1, 0, 0, "imsignfilter.cc", 75, "pExecUnit->GetSignatures() returned NULL"},
      {blacklist, 99, 0, 0, "notifobj.cc", 233, "invalid session ID (99)"},
      {words, 99, 0, -104, "notifobj.cc", 196,
       "invalid session or session not initialized for ID (99)"},
  };
  Item item("hello there", nullptr, "someone");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const std::string line = LogLine(c.file, c.line, c.text);
    const int before = CountLogLines(line);
    as_set_err(-9, "stale");
    EXPECT_EQ(c.filter->ProcessEntity(c.id, item.get(), c.command), c.status) << LastMessage();
    EXPECT_EQ(LastCode(), c.status);
    EXPECT_EQ(CountLogLines(line), before + 1) << Log();
  }
  // Open sessions are found without a line.
  EXPECT_EQ(blacklist->ProcessEntity(1, item.get(), 0), 0);
  EXPECT_EQ(words->ProcessEntity(1, item.get(), 0), 0);
  EXPECT_FALSE(LogContains("ID (1)"));

  // A module that is not initialised reports no flag without looking at the
  // map, so its filter skips even a flagged session's (null) item.
  blacklist->initialized = false;
  EXPECT_EQ(blacklist->ProcessEntity(1, nullptr, 0), 0);
  EXPECT_EQ(blacklist->ProcessEntity(98, item.get(), 0), 0);
  EXPECT_FALSE(LogContains("ID (98)"));
  blacklist->initialized = true;
  EXPECT_EQ(blacklist->ProcessEntity(1, nullptr, 0), -104);
}

}  // namespace
}  // namespace tervo_test
