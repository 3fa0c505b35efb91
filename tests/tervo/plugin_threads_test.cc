// Filters driven from several threads at once: items go through ProcessEntity
// under the read lock while the host re-applies session settings under the
// write lock. Meant to run under ThreadSanitizer as well.
#include <gtest/gtest.h>
#include <stdint.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "common/item.h"
#include "tervo/filter_common.h"
#include "tests/support/plugin_fixture.h"

namespace tervo_test {
namespace {

class PluginThreadsTest : public PluginFixture {};

constexpr int kThreads = 4, kItemsPerThread = 250, kSettingsPasses = 8;

TEST_F(PluginThreadsTest, ItemsPassWhileTheHostReappliesSessionSettings) {
  Watchdog watchdog("ItemsPassWhileTheHostReappliesSessionSettings");
  // No list and an empty model: nothing is marked; the Markovian filter logs the age it saw.
  const struct {
    const char* name;
    uint32_t key;          // the verdict key no item may carry
    const char* age_line;  // logged with the age each item saw, or null
  } cases[] = {{kBlacklistName, ascommon::IM_BLACKLIST_FLAG_KEY, nullptr},
               {kMarkovianName, ascommon::IM_MARKOVIAN_FLAG_KEY,
                "[IM Markovian Filter] Processing current text - age category: "}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CAFilter* filter = Create(c.name);
    ASSERT_EQ(Open(filter, 1, "child", 1), 0);

    // Per worker: the first call that failed, left an error code or wrote a verdict.
    std::vector<std::string> first_problem(kThreads);
    std::latch start(kThreads + 1);
    std::atomic<int> finished{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t) {
      workers.emplace_back([&, t] {
        start.arrive_and_wait();
        for (int i = 0; i < kItemsPerThread; ++i) {
          const std::string user = "user" + std::to_string(t) + "-" + std::to_string(i);
          tervo_host::Item item("some words here", nullptr, user.c_str());
          const int32_t status = filter->ProcessEntity(1, item.get(), 0);
          if ((status != 0 || as_last_err_code() != 0 || item.io()->Find(c.key) != nullptr) &&
              first_problem[t].empty()) {
            first_problem[t] = std::to_string(status) + " " + std::to_string(as_last_err_code()) +
                               " " + as_last_err_message();
          }
        }
        finished.fetch_add(1);
      });
    }
    start.arrive_and_wait();
    int passes = 0;
    // Settings passes for as long as the workers run, so the writer keeps meeting readers.
    while (passes < kSettingsPasses || finished.load() < kThreads) {
      settings_.SetString(kUserAgeKey, passes % 2 == 0 ? "teen" : "child", 1);
      EXPECT_EQ(filter->ApplySessionSettings(1), 0);
      ++passes;
      std::this_thread::yield();
    }
    for (std::thread& w : workers) w.join();

    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(first_problem[t], "") << "worker " << t;
    EXPECT_EQ(filter->locker.GetReaderCount(), 0);
    if (c.age_line == nullptr) continue;
    // Every item saw one of the two ages the writer set, never anything else.
    int seen = 0;
    for (const std::string& line : LogLines()) {
      if (line.find(c.age_line) == std::string::npos) continue;
      ++seen;
      const std::string value = line.substr(line.rfind(' ') + 1);
      EXPECT_TRUE(value == "1" || value == "2") << line;
    }
    EXPECT_EQ(seen, kThreads * kItemsPerThread);
  }
}

// Runs `call` on another thread while this one holds a read (or write) lock
// of `filter`; answers whether `call` was still waiting 100 ms later
// (`while_held` runs then, still under the lock), and then lets it finish.
bool WaitsForTheLock(CAFilter* filter, bool write, const std::function<void()>& call,
                     const std::function<void()>& while_held) {
  write ? filter->locker.LockWrite() : filter->locker.LockReadOnly();
  std::atomic<bool> returned{false};
  std::thread other([&] {
    call();
    returned.store(true);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const bool waited = !returned.load();
  while_held();
  write ? filter->locker.UnlockWrite() : filter->locker.UnlockReadOnly();
  other.join();
  return waited;
}

TEST_F(PluginThreadsTest, SessionsEnterAndLeaveTheMapOnlyBetweenItems) {
  Watchdog watchdog("SessionsEnterAndLeaveTheMapOnlyBetweenItems");
  for (const char* name : kAllFilters) {
    SCOPED_TRACE(name);
    CAFilter* filter = Create(name);
    int32_t status = -1;
    EXPECT_TRUE(WaitsForTheLock(
        filter, false, [&] { status = tervo_host::OpenSession(filter, 7); },
        [&] { EXPECT_EQ(filter->sessions.Lookup(7), nullptr); }));
    EXPECT_EQ(status, 0);
    ASSERT_NE(filter->GetSessionData(7), nullptr);

    EXPECT_TRUE(WaitsForTheLock(
        filter, false, [&] { filter->ReleaseSession(7); },
        [&] { EXPECT_NE(filter->GetSessionData(7), nullptr); }));
    EXPECT_EQ(filter->sessions.Lookup(7), nullptr);
    EXPECT_EQ(filter->locker.GetReaderCount(), 0);
    if (name != kBlacklistName && name != kSignName) continue;

    // The flagged filters look the session up under the read lock: session 5
    // is entered under the write lock while a (null) item of it waits, and
    // only a known flagged session refuses a null item.
    std::string message;
    EXPECT_TRUE(WaitsForTheLock(
        filter, true,
        [&] {
          status = filter->ProcessEntity(5, nullptr, 0);
          message = as_last_err_message();
        },
        [&] {
          void* data = filter->CreateSessionData();
          ASSERT_NE(data, nullptr);
          ASSERT_EQ(filter->sessions.Insert(5, nobjSessionInfo{data, true}), 0);
        }));
    EXPECT_EQ(status, -104);
    EXPECT_NE(message.find("invalid item received for processing"), std::string::npos) << message;
    EXPECT_EQ(filter->locker.GetReaderCount(), 0);
  }
}

}  // namespace
}  // namespace tervo_test
