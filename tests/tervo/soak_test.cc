// The data filters under load: worker threads pass items through the words,
// blacklist and Markovian filters in sessions of each age while a loader
// thread renames one of two versions of every data file into place and
// re-applies the shared settings, and a session thread opens and releases
// sessions. Every item must carry the whole verdict of one version, and items
// must meet both. Bounded in cycles and time; run under ThreadSanitizer too.
#include <gtest/gtest.h>
#include <stdio.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/item.h"
#include "tests/support/data_files.h"
#include "tests/support/plugin_fixture.h"

namespace tervo_test {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWorkers = 3;
constexpr int kCycles = 60;
constexpr auto kBudget = std::chrono::seconds(15);
constexpr uint64_t kItemsPerCycle = 200;
constexpr int kFilters = 3;
const char* const kNames[kFilters] = {kWordsName, kBlacklistName, kMarkovianName};
const char* const kFiles[kFilters] = {kWordsDataFile, kBlacklistDataFile, kMarkovianDataFile};
const char* const kAges[] = {"child", "teen", "adult"};
constexpr uint64_t kSessions = 3;  // ids 1..3, one per age
constexpr uint64_t kChurnFirst = 1000, kChurnIds = 5000;

// The two versions differ in size and verdicts; the model's classes keep their
// names, so a reload (which merges by name) leaves exactly the new version.
void WriteVersion(const std::string& folder, int v) {
  WriteWordsFile(folder + "/" + kFiles[0],
                 {{"rude", 0, 1, 2, 0, {{"damn", 2 + v}, {"shit", 4}}},
                  {"mean", 0, 1, 2, 0, {{"idiot", 3 + v}, {v ? "dork" : "loser", 5}}}});
  WriteBlacklistFile(folder + "/" + kFiles[1],
                     v ? std::vector<std::string>{"shared_creep", "creep2", "creep3"}
                       : std::vector<std::string>{"stranger_danger88"});
  WriteMarkovianFile(folder + "/" + kFiles[2],
                     {{"risk", 10, {{9 + 3 * v, {"meet", "me"}}, {4, {"come", "alone"}}}},
                      {"secret", 6, {{6 - v, {"our", "secret"}}, {2, {v ? "right" : "x", "now"}}}}});
}

class SoakTest : public PluginFixture {};

TEST_F(SoakTest, VerdictsStayWholeWhileDataFilesAndSessionsChange) {
  Watchdog watchdog("soak", std::chrono::seconds(50));
  // A log line per item would swamp the soak: the plug-in is loaded again
  // with the log off (the level is read when it loads).
  plugin_.Unload();
  trace_level_ = std::make_unique<ScopedEnv>("TERVO_TRACE_LEVEL", "-1");
  std::string error;
  ASSERT_TRUE(plugin_.Load(PluginPath(), &error)) << error;
  TempDir data, versions[2];
  UseDataFolder(data.path());
  // Every session's settings are in place before any thread starts.
  for (uint64_t id = 1; id < kChurnFirst + kChurnIds; ++id) {
    settings_.SetString(kUserAgeKey, kAges[id % 3], id);
    settings_.SetInt(kEnabledKey, 1, id);
  }
  CAFilter* filters[kFilters];
  for (int f = 0; f < kFilters; ++f) {
    filters[f] = Create(kNames[f]);
    for (uint64_t id = 1; id <= kSessions; ++id) {
      ASSERT_EQ(tervo_host::OpenSession(filters[f], id), 0);
    }
  }
  for (int v = 0; v < 2; ++v) WriteVersion(versions[v].path(), v);

  // Renames version `v` of every file into place and applies the settings.
  auto install = [&](int v) {
    bool ok = true;
    for (const char* file : kFiles) {
      const std::string next = data.File(file) + ".next";
      std::error_code failed;
      ok = ok &&
           std::filesystem::copy_file(versions[v].File(file), next,
                                      std::filesystem::copy_options::overwrite_existing, failed) &&
           rename(next.c_str(), data.File(file).c_str()) == 0;
    }
    for (CAFilter* filter : filters) ok = ok && filter->ApplySharedSettings() == 0;
    return ok;
  };
  // The status and every verdict key of one probe item, as one string.
  auto pass = [&](int f, uint64_t session) {
    tervo_host::Item item("meet me, damn idiot: come alone, our secret", nullptr,
                          "stranger_danger88");
    const int32_t status = filters[f]->ProcessEntity(session, item.get(), 0);
    return std::to_string(status) + "/" + std::to_string(LastCode()) + "/" +
           std::to_string(item.Number(ascommon::IM_WORDS_VERDICT_KEY, -1)) + "/" +
           std::to_string(item.Flag(ascommon::IM_BLACKLIST_FLAG_KEY)) + "/" +
           item.Text(ascommon::IM_MARKOVIAN_TEXT_KEY) + "/" +
           std::to_string(item.Number(ascommon::IM_MARKOVIAN_VALUE_KEY, -1));
  };

  // Each version's answers, from one thread; they must tell the versions apart.
  std::string expected[2][kFilters][kSessions + 1];
  for (int v = 0; v < 2; ++v) {
    ASSERT_TRUE(install(v));
    for (int f = 0; f < kFilters; ++f) {
      for (uint64_t s = 1; s <= kSessions; ++s) expected[v][f][s] = pass(f, s);
    }
  }
  for (int f = 0; f < kFilters; ++f) {
    SCOPED_TRACE(kNames[f]);
    ASSERT_NE(std::filesystem::file_size(versions[0].File(kFiles[f])),
              std::filesystem::file_size(versions[1].File(kFiles[f])));
    ASSERT_NE(expected[0][f][1], expected[1][f][1]);
    EXPECT_EQ(expected[0][f][1].substr(0, 4), "0/0/");
  }

  std::atomic<bool> done{false};
  std::atomic<uint64_t> processed{0};
  std::mutex mutex;
  std::vector<std::string> problems;
  std::atomic<uint64_t> seen[2][kFilters] = {};
  auto problem = [&](const std::string& what) {
    std::lock_guard<std::mutex> lock(mutex);
    if (problems.size() < 10) problems.push_back(what);
  };
  std::vector<std::thread> threads;
  for (int w = 0; w < kWorkers; ++w) {
    threads.emplace_back([&, w] {
      while (!done.load()) {
        for (int i = 0; i < kFilters; ++i) {
          const int f = (i + w) % kFilters;
          for (uint64_t s = 1; s <= kSessions; ++s) {
            const std::string got = pass(f, s);
            const int v = got == expected[0][f][s] ? 0 : got == expected[1][f][s] ? 1 : -1;
            if (v >= 0) {
              seen[v][f].fetch_add(1);
            } else {
              problem(std::string(kNames[f]) + " session " + std::to_string(s) + ": " + got);
            }
            processed.fetch_add(1);
          }
        }
      }
    });
  }
  uint64_t opened = 0;
  threads.emplace_back([&] {
    for (uint64_t id = kChurnFirst; !done.load() && id < kChurnFirst + kChurnIds; ++id, ++opened) {
      for (CAFilter* filter : filters) {
        if (tervo_host::OpenSession(filter, id) != 0) problem("open " + std::to_string(id));
        filter->ReleaseSession(id);
      }
    }
  });
  int cycles = 0;
  const Clock::time_point start = Clock::now();
  for (; cycles < kCycles && Clock::now() - start < kBudget; ++cycles) {
    if (!install(cycles % 2)) problem("cycle " + std::to_string(cycles) + " did not load");
    const uint64_t mark = processed.load() + kItemsPerCycle;
    while (processed.load() < mark && Clock::now() - start < kBudget) std::this_thread::yield();
  }
  done.store(true);
  for (std::thread& t : threads) t.join();

  for (const std::string& p : problems) ADD_FAILURE() << p;
  EXPECT_GE(cycles, 4);
  EXPECT_GT(opened, 0u);
  for (int f = 0; f < kFilters; ++f) {
    SCOPED_TRACE(kNames[f]);
    EXPECT_GT(seen[0][f].load(), 0u);
    EXPECT_GT(seen[1][f].load(), 0u);
    EXPECT_EQ(filters[f]->sessions.GetCount(), kSessions);
    EXPECT_EQ(filters[f]->locker.GetReaderCount(), 0);
  }
}

}  // namespace
}  // namespace tervo_test
