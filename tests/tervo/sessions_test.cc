// Sessions on the plug-in's filters: the age rules each filter reads into its
// session record, the session map operations the host relies on, and the
// shutdown of a module that still has sessions.
#include <gtest/gtest.h>
#include <stdint.h>

#include <optional>
#include <string>

#include "tervo/filter_common.h"
#include "tests/support/plugin_fixture.h"

namespace tervo_test {
namespace {

class SessionsTest : public PluginFixture {};

using nsImModules::AgeCategory;
using nsImModules::ImSessionData;

struct AgeCase {
  std::optional<std::string> setting;
  float factor;
  AgeCategory category;
};

TEST_F(SessionsTest, TextFiltersAgeRulesTestAdultFirst) {
  const AgeCase cases[] = {
      {"child", 1.0f, 2},
      {"teen", 0.8f, 1},
      {"adult", 0.0f, 0},
      {"young adult", 0.0f, 0},   // adult wins over everything
      {"adult child", 0.0f, 0},
      {"childteen", 1.0f, 2},     // child before teen
      {"teen or child", 1.0f, 2},
      {"a teenager", 0.8f, 1},
      {"Child", 0.0f, 0},         // the match is case-sensitive
      {"senior", 0.0f, 0},
      {"", 0.0f, 0},
      {std::nullopt, 0.0f, 0},
  };
  for (const char* name : {kWordsName, kMarkovianName}) {
    CAFilter* filter = Create(name);
    ASSERT_NE(filter, nullptr);
    uint64_t id = 0;
    for (const AgeCase& c : cases) {
      SCOPED_TRACE(std::string(name) + " age=" + c.setting.value_or("<missing>"));
      ++id;
      ASSERT_EQ(Open(filter, id, c.setting, 1), 0);
      auto* data = static_cast<ImSessionData*>(filter->GetSessionData(id));
      ASSERT_NE(data, nullptr);
      EXPECT_FLOAT_EQ(data->ageFactor, c.factor);
      EXPECT_EQ(data->ageCategory, c.category);
    }
  }
}

TEST_F(SessionsTest, TextFiltersReapplyReplacesTheWholeRecord) {
  for (const char* name : {kWordsName, kMarkovianName}) {
    SCOPED_TRACE(name);
    CAFilter* filter = Create(name);
    ASSERT_NE(filter, nullptr);
    ASSERT_EQ(Open(filter, 5, "child", 1), 0);
    ASSERT_EQ(Open(filter, 6, "teen", 1), 0);
    auto* data = static_cast<ImSessionData*>(filter->GetSessionData(5));
    ASSERT_NE(data, nullptr);

    // An unrecognised value is adult here; the earlier value is not kept.
    settings_.SetString(kUserAgeKey, "nothing here", 5);
    EXPECT_EQ(filter->ApplySessionSettings(5), 0);
    EXPECT_FLOAT_EQ(data->ageFactor, 0.0f);
    EXPECT_EQ(data->ageCategory, 0);

    settings_.SetString(kUserAgeKey, "teen", 5);
    EXPECT_EQ(filter->ApplySessionSettings(5), 0);
    EXPECT_FLOAT_EQ(data->ageFactor, 0.8f);
    EXPECT_EQ(data->ageCategory, 1);

    settings_.Remove(kUserAgeKey, 5);
    EXPECT_EQ(filter->ApplySessionSettings(5), 0);
    EXPECT_EQ(data->ageCategory, 0);

    // Only the asked session changes.
    auto* other = static_cast<ImSessionData*>(filter->GetSessionData(6));
    ASSERT_NE(other, nullptr);
    EXPECT_FLOAT_EQ(other->ageFactor, 0.8f);
    EXPECT_EQ(other->ageCategory, 1);
  }
}

TEST_F(SessionsTest, SignatureAgeRulesKeepThePreviousAgeForUnknownValues) {
  CAFilter* filter = Create(kSignName);
  ASSERT_NE(filter, nullptr);
  struct Case {
    std::optional<std::string> setting;
    AgeCategory category;
  };
  // Each value on a fresh session (whose record starts adult).
  const Case fresh[] = {
      {std::nullopt, 0}, {"adult", 0},     {"child", 2},        {"teen", 1},
      {"young adult", 0}, {"childteen", 2}, {"nothing here", 0},
  };
  uint64_t id = 0;
  for (const Case& c : fresh) {
    SCOPED_TRACE("age=" + c.setting.value_or("<missing>"));
    ++id;
    ASSERT_EQ(Open(filter, id, c.setting, 1), 0);
    auto* age = static_cast<AgeCategory*>(filter->GetSessionData(id));
    ASSERT_NE(age, nullptr);
    EXPECT_EQ(*age, c.category);
  }

  // One session through a sequence of values.
  const uint64_t session = 50;
  ASSERT_EQ(Open(filter, session, "child", 1), 0);
  auto* age = static_cast<AgeCategory*>(filter->GetSessionData(session));
  ASSERT_NE(age, nullptr);
  const Case sequence[] = {
      {"child", 2},
      {"nothing here", 2},
      {"Teen", 2},  // case-sensitive: not a known value
      {"teen", 1},
      {"nothing here", 1},
      {"adult", 0},
      {"senior", 0},
      {"child", 2},
      {std::nullopt, 0},  // missing resets to adult
  };
  for (const Case& c : sequence) {
    SCOPED_TRACE("then age=" + c.setting.value_or("<missing>"));
    if (c.setting) {
      settings_.SetString(kUserAgeKey, *c.setting, session);
    } else {
      settings_.Remove(kUserAgeKey, session);
    }
    EXPECT_EQ(filter->ApplySessionSettings(session), 0);
    EXPECT_EQ(*age, c.category);
  }
}

TEST_F(SessionsTest, ApplySessionSettingsOfUnknownSessionRecordsMinus103) {
  struct Case {
    const char* name;
    const char* message;
  };
  const Case cases[] = {
      {kBlacklistName, "[Parental BW List Advanced] invalid data struct"},
      {kWordsName, "[IM Words Filter] invalid data struct"},
      {kSignName, "[IM Sign Filter] invalid data struct"},
      {kMarkovianName, "[IM Markovian Filter] invalid data struct"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CAFilter* filter = Create(c.name);
    ASSERT_NE(filter, nullptr);
    as_set_err(0, nullptr);
    ASSERT_EQ(Open(filter, 4, "teen", 1), 0);
    EXPECT_EQ(filter->ApplySessionSettings(4), 0);

    EXPECT_EQ(filter->ApplySessionSettings(99), -103);
    EXPECT_EQ(LastCode(), -103);
    EXPECT_EQ(LastMessage(), c.message);

    // A session in the map whose data was never made is no better.
    ASSERT_EQ(filter->sessions.Insert(8, nobjSessionInfo{nullptr, true}), 0);
    as_set_err(0, nullptr);
    EXPECT_EQ(filter->ApplySessionSettings(8), -103);
    EXPECT_EQ(LastMessage(), c.message);

    // The write lock was released each time.
    EXPECT_EQ(filter->ApplySessionSettings(4), 0);
    EXPECT_EQ(filter->ProcessCommand(), 0);
  }
}

TEST_F(SessionsTest, OpeningASessionTwiceIsRefused) {
  CAFilter* filter = Create(kWordsName);
  ASSERT_NE(filter, nullptr);
  ASSERT_EQ(Open(filter, 3, "child", 1), 0);
  void* data = filter->GetSessionData(3);
  EXPECT_EQ(Open(filter, 3, "teen", 1), -451);
  EXPECT_EQ(filter->GetSessionData(3), data);
  EXPECT_EQ(static_cast<ImSessionData*>(data)->ageCategory, 2);
  EXPECT_EQ(filter->sessions.GetCount(), 1u);
}

TEST_F(SessionsTest, ReleaseSessionForgetsOnlyKnownSessions) {
  for (const char* name : {kBlacklistName, kWordsName, kSignName, kMarkovianName}) {
    SCOPED_TRACE(name);
    CAFilter* filter = Create(name);
    ASSERT_NE(filter, nullptr);
    ASSERT_EQ(Open(filter, 1, "child", 1), 0);
    ASSERT_EQ(Open(filter, 2, "teen", 1), 0);
    void* kept = filter->GetSessionData(2);

    // Unknown id: recorded, nothing changes.
    as_set_err(0, nullptr);
    filter->ReleaseSession(99);
    EXPECT_EQ(LastCode(), -104);
    EXPECT_EQ(LastMessage(), "Invalid session ID: 99");
    EXPECT_EQ(filter->sessions.GetCount(), 2u);

    // A locker marked deleted refuses the write lock: recorded, not thrown,
    // and the shutdown stops instead of retrying the session for ever.
    filter->locker.MarkDeleted();
    filter->ReleaseSession(2);
    EXPECT_EQ(LastCode(), -104);
    EXPECT_EQ(LastMessage(),
              "ASInternalException - CODE: 0 MESSAGE: Unable to lock resource read only because "
              "it is being deleted!");
    EXPECT_EQ(filter->ReleaseAllAndShutdown(), 0);
    EXPECT_EQ(filter->sessions.GetCount(), 2u);
    filter->locker.ResetDeleteFlag();

    // An entry without data is refused the same way.
    ASSERT_EQ(filter->sessions.Insert(7, nobjSessionInfo{nullptr, false}), 0);
    filter->ReleaseSession(7);
    EXPECT_EQ(LastCode(), -104);
    EXPECT_EQ(LastMessage(), "Session ID not defined! [7]. Cannot release");
    EXPECT_NE(filter->sessions.Lookup(7), nullptr);
    ASSERT_EQ(filter->sessions.Remove(7), 0);

    // An open session goes, with its data, and takes the error record along.
    as_set_err(-55, "left over from the session");
    filter->ReleaseSession(1);
    EXPECT_EQ(filter->sessions.Lookup(1), nullptr);
    EXPECT_EQ(filter->sessions.GetCount(), 1u);
    EXPECT_EQ(filter->GetSessionData(1), nullptr);
    EXPECT_EQ(LastCode(), 0);
    EXPECT_EQ(LastMessage(), "");
    EXPECT_EQ(filter->GetSessionData(2), kept);

    // Released twice: the second time it is unknown.
    filter->ReleaseSession(1);
    EXPECT_EQ(LastCode(), -104);
    EXPECT_EQ(LastMessage(), "Invalid session ID: 1");

    // The id can be opened again.
    EXPECT_EQ(Open(filter, 1, "adult", 1), 0);
    EXPECT_NE(filter->GetSessionData(1), nullptr);
  }
}

TEST_F(SessionsTest, SessionLookupsOfUnknownOrUninitialisedSessionsAreLogged) {
  CAFilter* blacklist = Create(kBlacklistName);
  CAFilter* words = Create(kWordsName);
  ASSERT_NE(blacklist, nullptr);
  ASSERT_NE(words, nullptr);
  ASSERT_EQ(Open(blacklist, 1, std::nullopt, 1), 0);
  ASSERT_EQ(Open(blacklist, 2, std::nullopt, 0), 0);
  ASSERT_EQ(Open(words, 1, "child", 1), 0);
  // Entries whose data was never made.
  ASSERT_EQ(blacklist->sessions.Insert(8, nobjSessionInfo{nullptr, true}), 0);
  ASSERT_EQ(words->sessions.Insert(8, nobjSessionInfo{nullptr, true}), 0);
  tervo_host::Item item("hello there", nullptr, "someone");

  // The blacklist filter asks for the session's flag first, the words filter
  // only for the session's data.
  struct Case {
    CAFilter* filter;
    uint64_t id;
    int32_t status;
    int line;
    const char* text;
  } cases[] = {
      {blacklist, 99, 0, 233, "invalid session ID (99)"},
      {blacklist, 8, -104, 196, "invalid session or session not initialized for ID (8)"},
      {words, 99, -104, 196, "invalid session or session not initialized for ID (99)"},
      {words, 8, -104, 196, "invalid session or session not initialized for ID (8)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const std::string line = LogLine("notifobj.cc", c.line, c.text);
    const int before = CountLogLines(line);
    EXPECT_EQ(c.filter->ProcessEntity(c.id, item.get(), 0), c.status) << LastMessage();
    EXPECT_EQ(CountLogLines(line), before + 1);
  }
  // Open sessions, flagged or not, are found without a line.
  EXPECT_EQ(blacklist->ProcessEntity(1, item.get(), 0), 0);
  EXPECT_EQ(blacklist->ProcessEntity(2, item.get(), 0), 0);
  EXPECT_EQ(words->ProcessEntity(1, item.get(), 0), 0);
  EXPECT_FALSE(LogContains("ID (1)"));
  EXPECT_FALSE(LogContains("ID (2)"));

  // A module that is not initialised reports no flag without looking at the
  // map, so its filter skips even a flagged session's (null) item.
  blacklist->initialized = false;
  as_set_err(-9, "stale");
  EXPECT_EQ(blacklist->ProcessEntity(1, nullptr, 0), 0);
  EXPECT_EQ(LastCode(), 0);
  EXPECT_EQ(blacklist->ProcessEntity(98, item.get(), 0), 0);
  EXPECT_FALSE(LogContains("ID (98)"));
  blacklist->initialized = true;
  EXPECT_EQ(blacklist->ProcessEntity(1, nullptr, 0), -104);
}

TEST_F(SessionsTest, ReleaseAllAndShutdownEmptiesTheModule) {
  for (const char* name : {kBlacklistName, kWordsName, kSignName, kMarkovianName}) {
    SCOPED_TRACE(name);
    CAFilter* filter = Create(name);
    ASSERT_NE(filter, nullptr);
    for (uint64_t id = 1; id <= 3; ++id) ASSERT_EQ(Open(filter, id, "child", 1), 0);
    // And one entry whose data was never made.
    ASSERT_EQ(filter->sessions.Insert(4, nobjSessionInfo{nullptr, true}), 0);
    ASSERT_EQ(filter->sessions.GetCount(), 4u);
    ASSERT_NE(filter->sharedData, nullptr);

    EXPECT_EQ(filter->ReleaseAllAndShutdown(), 0);
    EXPECT_EQ(filter->sessions.GetCount(), 0u);
    for (uint64_t id = 1; id <= 4; ++id) EXPECT_EQ(filter->sessions.Lookup(id), nullptr);
    EXPECT_EQ(filter->sharedData, nullptr);
    EXPECT_FALSE(filter->locker.IsDeleted());
    EXPECT_EQ(filter->locker.GetReaderCount(), 0);

    // The locker still works: settings passes take the write lock again.
    EXPECT_EQ(filter->ApplySharedSettings(), -103);
    EXPECT_EQ(filter->ApplySessionSettings(1), -103);

    // A second shutdown (the factory's, at release) has nothing to do.
    EXPECT_EQ(filter->ReleaseAllAndShutdown(), 0);
    EXPECT_EQ(filter->sharedData, nullptr);
    EXPECT_FALSE(filter->locker.IsDeleted());
  }
  // Releasing the factory shuts the emptied modules down again and frees
  // them; ASan checks nothing is freed twice or left behind.
  EXPECT_EQ(plugin_.ReleaseFactory(), 0);
  EXPECT_FALSE(LogContains("shutdown of the shared data failed")) << Log();
}

}  // namespace
}  // namespace tervo_test
