// Sessions on the plug-in's filters: the age rules each filter reads into its
// session record and the session map operations the host relies on (the
// shutdown of a module with sessions is in plugin_test.cc).
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

TEST_F(SessionsTest, AgeRulesTestAdultThenChildThenTeen) {
  // One session through a sequence of values, re-applied each time; session
  // 2 (teen) must not change, not even when it is opened again. The text
  // filters take anything unknown as adult, the signature filter keeps the
  // previous age then (a missing value is adult for all).
  const struct {
    std::optional<std::string> setting;
    float factor;
    AgeCategory text, sign;
  } steps[] = {
      {"child", 1.0f, 2, 2}, {"nothing here", 0.0f, 0, 2}, {"Teen", 0.0f, 0, 2},  // case matters
      {"teen", 0.8f, 1, 1}, {"", 0.0f, 0, 1}, {"adult", 0.0f, 0, 0},
      {"childteen", 1.0f, 2, 2},  // child before teen; adult wins over everything:
      {"young adult", 0.0f, 0, 0}, {"teen or child", 1.0f, 2, 2}, {"adult child", 0.0f, 0, 0},
      {"a teenager", 0.8f, 1, 1}, {"Child", 0.0f, 0, 1}, {std::nullopt, 0.0f, 0, 0},
  };
  for (const char* name : {kWordsName, kMarkovianName, kSignName}) {
    CAFilter* filter = Create(name);
    ASSERT_EQ(Open(filter, 2, "teen", 1), 0);
    // Opening it again is refused and leaves it as it was (checked below).
    EXPECT_EQ(Open(filter, 2, "child", 1), -451);
    // A fresh session with an unknown value is adult for every filter.
    ASSERT_EQ(Open(filter, 1, "senior", 1), 0);
    void* data = filter->GetSessionData(1);
    ASSERT_NE(data, nullptr);
    const bool sign = name == kSignName;
    auto category = [&](void* d) {
      return sign ? *static_cast<AgeCategory*>(d) : static_cast<ImSessionData*>(d)->ageCategory;
    };
    EXPECT_EQ(category(data), 0);
    for (const auto& c : steps) {
      SCOPED_TRACE(std::string(name) + " age=" + c.setting.value_or("<missing>"));
      SetAge(1, c.setting);
      EXPECT_EQ(filter->ApplySessionSettings(1), 0);
      EXPECT_EQ(category(data), sign ? c.sign : c.text);
      if (!sign) {
        EXPECT_FLOAT_EQ(static_cast<ImSessionData*>(data)->ageFactor, c.factor);
      }
    }
    EXPECT_EQ(category(filter->GetSessionData(2)), 1);
    if (!sign) {
      EXPECT_FLOAT_EQ(static_cast<ImSessionData*>(filter->GetSessionData(2))->ageFactor, 0.8f);
    }
  }
}

TEST_F(SessionsTest, ReleaseSessionForgetsOnlyKnownSessions) {
  for (const char* name : kAllFilters) {
    SCOPED_TRACE(name);
    CAFilter* filter = Create(name);
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

    // An open session goes, with its data, and takes the error record along.
    as_set_err(-55, "left over from the session");
    filter->ReleaseSession(1);
    EXPECT_EQ(filter->sessions.Lookup(1), nullptr);
    EXPECT_EQ(LastCode(), 0);
    EXPECT_EQ(LastMessage(), "");
    EXPECT_EQ(filter->GetSessionData(2), kept);
    // The id can be opened again.
    EXPECT_EQ(Open(filter, 1, "adult", 1), 0);
  }
}

}  // namespace
}  // namespace tervo_test
