// The data filters under load: workers pass items through all four filters
// in sessions of each age while a loader puts one of two versions of every
// data file and rule set in place (the rules by a full reload or by a newer
// job of the incremental list, both ways) and a session thread opens and
// releases sessions. Every item must carry the whole verdict of one version
// (the signature filter may instead fail without a verdict), and items must
// meet both. Bounded in cycles and time; run under ThreadSanitizer too.
#include <gtest/gtest.h>
#include <stdio.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
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

constexpr int kWorkers = 3, kCycles = 60, kFilters = 4, kSignFilter = 3;
constexpr auto kBudget = std::chrono::seconds(15);
constexpr uint64_t kItemsPerCycle = 200;
const char* const kNames[kFilters] = {kWordsName, kBlacklistName, kMarkovianName, kSignName};
// The files of a version; the rule files stay when the rules change by the incremental list.
const struct {
  const char* name;
  bool rules;
} kFiles[] = {{kWordsDataFile, false}, {kBlacklistDataFile, false}, {kMarkovianDataFile, false},
              {nsImModules::kSignDataFile, true}, {"im_soak.slf", true}};
constexpr const char* kIncrementalList = "im_incslf.txt";
const char* const kAges[] = {"child", "teen", "adult"};
constexpr uint64_t kSessions = 3;  // ids 1..3, one per age
constexpr uint64_t kChurnFirst = 1000, kChurnIds = 5000;

// Set A marks the probe with 30 in every session; set B with 70, and its
// second rule (which never fires in A) then gives child and teen 50. The
// rules keep their names, so an incremental job replaces them in place.
const struct {
  const char* file;
  const char* name;
  const char* pattern[2];
  const char* ages;
  int score[2];
  int priority;
} kRules[] = {
    {kFiles[3].name, "mild", {"damn", "damn idiot"}, "child, teen, adult", {30, 70}, 9},
    {kFiles[4].name, "secretive", {"no such words", "our secret"}, "child, teen", {50, 50}, 8},
};

std::string RuleText(int rule, int v) {
  const auto& r = kRules[rule];
  return std::string("rule ") + r.name + " {\n  condition: match(\"" + r.pattern[v] +
         "\", IM::Text, REGEX);\n  actions: mark(\"" + r.ages + "\", " +
         std::to_string(r.score[v]) + ");\n  metadata: priority = " + std::to_string(r.priority) +
         ";\n}\n";
}

// A list of one job, `jid`, changing every rule to set `v`: its lines indented after "+".
std::string IncrementalList(int jid, int v) {
  std::string list = "{\n* " + std::to_string(jid) + "\n";
  for (int r = 0; r < static_cast<int>(std::size(kRules)); ++r) {
    list += std::string("+ ") + kRules[r].name + "\n";
    const std::string text = RuleText(r, v);
    for (size_t at = 0, end; at < text.size(); at = end + 1) {
      end = text.find('\n', at);
      list += "  " + text.substr(at, end - at) + "\n";
    }
  }
  return list + "}\n";
}

// Writes `text` at `path` by renaming a finished copy into place.
bool ReplaceFile(const std::string& path, const std::string& text) {
  const std::string next = path + ".next";
  return static_cast<bool>(std::ofstream(next) << text) && rename(next.c_str(), path.c_str()) == 0;
}

// The versions differ in size and verdicts; the model's classes keep their
// names, so a reload (which merges by name) leaves exactly the new version.
void WriteVersion(const std::string& folder, int v) {
  WriteWordsFile(folder + "/" + kFiles[0].name,
                 {{"rude", 0, 1, 2, 0, {{"damn", 2 + v}, {"shit", 4}}},
                  {"mean", 0, 1, 2, 0, {{"idiot", 3 + v}, {v ? "dork" : "loser", 5}}}});
  WriteBlacklistFile(folder + "/" + kFiles[1].name,
                     v ? std::vector<std::string>{"shared_creep", "creep2", "creep3"}
                       : std::vector<std::string>{"stranger_danger88"});
  WriteMarkovianFile(folder + "/" + kFiles[2].name,
                     {{"risk", 10, {{9 + 3 * v, {"meet", "me"}}, {4, {"come", "alone"}}}},
                      {"secret", 6, {{6 - v, {"our", "secret"}}, {2, {v ? "right" : "x", "now"}}}}});
  for (int r = 0; r < static_cast<int>(std::size(kRules)); ++r) {
    std::ofstream(folder + "/" + kRules[r].file) << RuleText(r, v);
  }
}

class SoakTest : public PluginFixture {};

TEST_F(SoakTest, VerdictsStayWholeWhileDataFilesAndSessionsChange) {
  Watchdog watchdog("soak", std::chrono::seconds(50));
  // Reloaded with the log off (read at load): a line per item would swamp the soak.
  plugin_.Unload();
  trace_level_ = std::make_unique<ScopedEnv>("TERVO_TRACE_LEVEL", "-1");
  std::string error;
  ASSERT_TRUE(plugin_.Load(PluginPath(), &error)) << error;
  TempDir data, versions[2];
  UseDataFolder(data.path());
  settings_.SetString(nsImModules::kSharedLibsPathKey, ProgramFolder());
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
  // There from the start: the engine only takes a job newer than the last JID seen.
  int jid = 0;
  ASSERT_TRUE(ReplaceFile(data.File(kIncrementalList), IncrementalList(jid, 0)));

  // Renames version `v` of every file (`incremental`: of the data files, the
  // rules by a new job of the list) into place and applies the settings.
  auto install = [&](int v, bool incremental) {
    bool ok = true;
    for (const auto& file : kFiles) {
      if (incremental && file.rules) continue;
      const std::string next = data.File(file.name) + ".next";
      std::error_code failed;
      ok = ok &&
           std::filesystem::copy_file(versions[v].File(file.name), next,
                                      std::filesystem::copy_options::overwrite_existing, failed) &&
           rename(next.c_str(), data.File(file.name).c_str()) == 0;
    }
    if (incremental) ok = ok && ReplaceFile(data.File(kIncrementalList), IncrementalList(++jid, v));
    for (CAFilter* filter : filters) ok = ok && filter->ApplySharedSettings() == 0;
    return ok;
  };
  // The status and verdict keys of the probe, as one string; `failed_cleanly`:
  // it failed without writing the signature keys.
  auto pass = [&](int f, uint64_t session, bool* failed_cleanly = nullptr) {
    const char* const text = "meet me, damn idiot: come alone, our secret";
    tervo_host::Item item(text, text, "stranger_danger88");
    const int32_t status = filters[f]->ProcessEntity(session, item.get(), 0);
    const bool sign_flag = item.Flag(ascommon::IM_SIGN_FLAG_KEY);
    const int32_t sign_score = item.Number(ascommon::IM_SIGN_SCORE_KEY, -1);
    if (failed_cleanly != nullptr) *failed_cleanly = status != 0 && !sign_flag && sign_score == -1;
    return std::to_string(status) + "/" + std::to_string(LastCode()) + "/" +
           std::to_string(item.Number(ascommon::IM_WORDS_VERDICT_KEY, -1)) + "/" +
           std::to_string(item.Flag(ascommon::IM_BLACKLIST_FLAG_KEY)) + "/" +
           item.Text(ascommon::IM_MARKOVIAN_TEXT_KEY) + "/" +
           std::to_string(item.Number(ascommon::IM_MARKOVIAN_VALUE_KEY, -1)) + "/" +
           std::to_string(sign_flag) + "/" + std::to_string(sign_score);
  };

  // Each version's answers, from one thread; they must tell the versions apart.
  std::string expected[2][kFilters][kSessions + 1];
  for (int v = 0; v < 2; ++v) {
    ASSERT_TRUE(install(v, false)) << LastMessage();
    for (int f = 0; f < kFilters; ++f) {
      for (uint64_t s = 1; s <= kSessions; ++s) expected[v][f][s] = pass(f, s);
    }
  }
  for (const auto& file : kFiles) {
    ASSERT_NE(std::filesystem::file_size(versions[0].File(file.name)),
              std::filesystem::file_size(versions[1].File(file.name)))
        << file.name;
  }
  for (int f = 0; f < kFilters; ++f) {
    SCOPED_TRACE(kNames[f]);
    ASSERT_NE(expected[0][f][1], expected[1][f][1]);
    EXPECT_EQ(expected[0][f][1].substr(0, 4), "0/0/");
  }
  std::atomic<bool> done{false};
  std::atomic<uint64_t> processed{0};
  std::mutex mutex;
  std::vector<std::string> problems;
  std::atomic<uint64_t> seen[2][kFilters] = {};
  std::atomic<uint64_t> failed{0};  // signature calls that failed cleanly
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
            bool failed_cleanly = false;
            const std::string got = pass(f, s, &failed_cleanly);
            const int v = got == expected[0][f][s] ? 0 : got == expected[1][f][s] ? 1 : -1;
            if (v >= 0) {
              seen[v][f].fetch_add(1);
            } else if (f == kSignFilter && failed_cleanly) {
              failed.fetch_add(1);
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
  // Cycles 0 and 1 switch the rules by full reloads, 2 and 3 by the list, ...:
  // five make every switch both ways. The version installed must answer.
  for (; cycles < kCycles && Clock::now() - start < kBudget; ++cycles) {
    const int v = cycles % 2;
    const std::string cycle = "cycle " + std::to_string(cycles);
    if (!install(v, cycles / 2 % 2 == 1)) problem(cycle + " did not load: " + LastMessage());
    for (int f = 0; f < kFilters; ++f) {
      if (pass(f, 1) != expected[v][f][1]) {
        problem(cycle + ": " + kNames[f] + " is not on version " + std::to_string(v));
      }
    }
    const uint64_t mark = processed.load() + kItemsPerCycle;
    while (processed.load() < mark && Clock::now() - start < kBudget) std::this_thread::yield();
  }
  done.store(true);
  for (std::thread& t : threads) t.join();

  for (const std::string& p : problems) ADD_FAILURE() << p;
  EXPECT_GE(cycles, 5);
  RecordProperty("sign_failed_cleanly", static_cast<int>(failed.load()));
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
