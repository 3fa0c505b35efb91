// Filters driven from several threads at once: items go through ProcessEntity
// under the read lock while the host re-applies session settings under the
// write lock. Meant to run under ThreadSanitizer as well.
#include <gtest/gtest.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <latch>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/item.h"
#include "tervo/filter_common.h"
#include "tests/support/plugin_fixture.h"

namespace tervo_test {
namespace {

class PluginThreadsTest : public PluginFixture {};

constexpr int kThreads = 4;
constexpr int kItemsPerThread = 500;
constexpr int kSettingsPasses = 8;

// What one worker saw: the status of every call, and the error record of its
// own thread after the first failure.
struct WorkerResult {
  int calls = 0;
  int failures = 0;
  int marked = 0;
  int32_t first_code = 0;
  std::string first_message;
};

TEST_F(PluginThreadsTest, BlacklistProcessesConcurrentlyWithSettingsPasses) {
  Watchdog watchdog("BlacklistProcessesConcurrentlyWithSettingsPasses");
  CAFilter* filter = Create(kBlacklistName);
  ASSERT_NE(filter, nullptr);
  ASSERT_EQ(Open(filter, 1, "child", 1), 0);
  ASSERT_TRUE(filter->IsSessionFlagSet(1));

  std::vector<WorkerResult> results(kThreads);
  std::latch start(kThreads + 1);
  std::atomic<int> finished{0};
  std::vector<std::thread> workers;
  for (int t = 0; t < kThreads; ++t) {
    workers.emplace_back([&, t] {
      WorkerResult& r = results[t];
      start.arrive_and_wait();
      for (int i = 0; i < kItemsPerThread; ++i) {
        const std::string user = "user" + std::to_string(t) + "-" + std::to_string(i);
        tervo_host::Item item("hello there", nullptr, user.c_str());
        const int32_t status = filter->ProcessEntity(1, item.get(), 0);
        ++r.calls;
        if (status != 0) {
          if (r.failures++ == 0) {
            r.first_code = as_last_err_code();
            r.first_message = as_last_err_message();
          }
        } else if (as_last_err_code() != 0) {
          // Success is recorded on the worker's own thread.
          if (r.failures++ == 0) {
            r.first_code = as_last_err_code();
            r.first_message = "success left a code behind";
          }
        }
        if (item.Flag(ascommon::IM_BLACKLIST_FLAG_KEY)) ++r.marked;
      }
      finished.fetch_add(1);
    });
  }

  start.arrive_and_wait();
  int passes = 0;
  // Settings passes for as long as the workers run (at least a few, should
  // they be quick), so that the writer keeps meeting readers.
  while (passes < kSettingsPasses || finished.load() < kThreads) {
    EXPECT_EQ(filter->ApplySessionSettings(1), 0);
    ++passes;
    std::this_thread::yield();
  }
  for (std::thread& w : workers) w.join();

  for (int t = 0; t < kThreads; ++t) {
    SCOPED_TRACE("worker " + std::to_string(t));
    EXPECT_EQ(results[t].calls, kItemsPerThread);
    EXPECT_EQ(results[t].failures, 0)
        << results[t].first_code << " " << results[t].first_message;
    EXPECT_EQ(results[t].marked, 0);
  }
  EXPECT_GE(passes, kSettingsPasses);
  EXPECT_EQ(filter->locker.GetReaderCount(), 0);
  EXPECT_FALSE(filter->locker.IsDeleted());
  // The main thread's record is its own: the workers' successes did not
  // overwrite a value set here.
  as_set_err(-77, "main thread");
  EXPECT_EQ(filter->ApplySessionSettings(1), 0);
  EXPECT_EQ(as_last_err_code(), -77);

  EXPECT_EQ(plugin_.ReleaseFactory(), 0);
  EXPECT_FALSE(LogContains("without releasing all the Read Only Locks")) << Log();
}

TEST_F(PluginThreadsTest, TextFilterReadsTheAgeUnderTheReadLockWhileItChanges) {
  Watchdog watchdog("TextFilterReadsTheAgeUnderTheReadLockWhileItChanges");
  CAFilter* filter = Create(kMarkovianName);
  ASSERT_NE(filter, nullptr);
  ASSERT_EQ(Open(filter, 1, "child", 1), 0);

  std::vector<WorkerResult> results(kThreads);
  std::latch start(kThreads + 1);
  std::atomic<int> finished{0};
  std::vector<std::thread> workers;
  for (int t = 0; t < kThreads; ++t) {
    workers.emplace_back([&, t] {
      WorkerResult& r = results[t];
      start.arrive_and_wait();
      for (int i = 0; i < kItemsPerThread / 5; ++i) {
        tervo_host::Item item("some words", nullptr, nullptr);
        // Every item passes the checks and is classified against the empty
        // model: success, and no verdict.
        const int32_t status = filter->ProcessEntity(1, item.get(), 0);
        ++r.calls;
        if (status != 0 || as_last_err_code() != 0 ||
            item.io()->Find(ascommon::IM_MARKOVIAN_FLAG_KEY) != nullptr) {
          if (r.failures++ == 0) {
            r.first_code = status;
            r.first_message = as_last_err_message();
          }
        }
      }
      finished.fetch_add(1);
    });
  }

  start.arrive_and_wait();
  int passes = 0;
  while (finished.load() < kThreads) {
    settings_.SetString(kUserAgeKey, passes % 2 == 0 ? "teen" : "child", 1);
    EXPECT_EQ(filter->ApplySessionSettings(1), 0);
    ++passes;
    std::this_thread::yield();
  }
  for (std::thread& w : workers) w.join();

  for (int t = 0; t < kThreads; ++t) {
    SCOPED_TRACE("worker " + std::to_string(t));
    EXPECT_EQ(results[t].calls, kItemsPerThread / 5);
    EXPECT_EQ(results[t].failures, 0)
        << results[t].first_code << " " << results[t].first_message;
  }
  EXPECT_EQ(filter->locker.GetReaderCount(), 0);
  // Every item saw one of the two ages the writer set, never anything else.
  int seen = 0;
  for (const std::string& line : LogLines()) {
    const size_t at = line.find("[IM Markovian Filter] Processing current text - age category: ");
    if (at == std::string::npos) continue;
    ++seen;
    const std::string value = line.substr(line.rfind(' ') + 1);
    EXPECT_TRUE(value == "1" || value == "2") << line;
  }
  EXPECT_EQ(seen, kThreads * (kItemsPerThread / 5));
}

// Runs `call` on another thread while this one holds a read lock of
// `filter`, as an item passing through would; answers whether `call` was
// still waiting 100 ms later (`while_held` runs then, still under the lock),
// and then lets it finish.
bool WaitsForItemsInFlight(CAFilter* filter, const std::function<void()>& call,
                           const std::function<void()>& while_held) {
  filter->locker.LockReadOnly();
  std::atomic<bool> returned{false};
  std::thread other([&] {
    call();
    returned.store(true);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const bool waited = !returned.load();
  while_held();
  filter->locker.UnlockReadOnly();
  other.join();
  return waited;
}

TEST_F(PluginThreadsTest, SessionsEnterAndLeaveTheMapOnlyBetweenItems) {
  Watchdog watchdog("SessionsEnterAndLeaveTheMapOnlyBetweenItems");
  for (const char* name : {kBlacklistName, kWordsName, kSignName, kMarkovianName}) {
    SCOPED_TRACE(name);
    CAFilter* filter = Create(name);
    ASSERT_NE(filter, nullptr);
    settings_.SetString(kUserAgeKey, "teen", 7);
    settings_.SetInt(kEnabledKey, 1, 7);

    int32_t status = -1;
    EXPECT_TRUE(WaitsForItemsInFlight(
        filter, [&] { status = tervo_host::OpenSession(filter, 7); },
        [&] { EXPECT_EQ(filter->sessions.Lookup(7), nullptr); }));
    EXPECT_EQ(status, 0);
    ASSERT_NE(filter->GetSessionData(7), nullptr);

    EXPECT_TRUE(WaitsForItemsInFlight(
        filter, [&] { filter->ReleaseSession(7); },
        [&] { EXPECT_NE(filter->GetSessionData(7), nullptr); }));
    EXPECT_EQ(filter->sessions.Lookup(7), nullptr);
    EXPECT_EQ(filter->locker.GetReaderCount(), 0);
  }
}

TEST_F(PluginThreadsTest, FlaggedFiltersLookTheSessionUpUnderTheReadLock) {
  Watchdog watchdog("FlaggedFiltersLookTheSessionUpUnderTheReadLock");
  for (const char* name : {kBlacklistName, kSignName}) {
    SCOPED_TRACE(name);
    CAFilter* filter = Create(name);
    ASSERT_NE(filter, nullptr);
    // The host enters session 5 under the write lock while an item of it
    // (a null one, which only a known flagged session refuses) is passed.
    filter->locker.LockWrite();
    std::atomic<bool> returned{false};
    int32_t status = 0;
    std::string message;
    std::thread item([&] {
      status = filter->ProcessEntity(5, nullptr, 0);
      message = as_last_err_message();
      returned.store(true);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(returned.load());
    void* data = filter->CreateSessionData();
    ASSERT_NE(data, nullptr);
    ASSERT_EQ(filter->sessions.Insert(5, nobjSessionInfo{data, true}), 0);
    filter->locker.UnlockWrite();
    item.join();
    // The item saw the session entered.
    EXPECT_EQ(status, -104);
    EXPECT_NE(message.find("invalid item received for processing"), std::string::npos) << message;
    EXPECT_EQ(filter->locker.GetReaderCount(), 0);
  }
}

}  // namespace
}  // namespace tervo_test
