// What the benchmark programs share: a scratch folder for their data files, and
// the plug-in loaded the way a host loads it, with one filter and one session.
#ifndef TERVO_BENCH_BENCH_SUPPORT_H_
#define TERVO_BENCH_BENCH_SUPPORT_H_

#include <stdlib.h>

#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "host/plugin_host.h"
#include "host/settings.h"
#include "tests/support/data_files.h"
#include "tests/support/test_support.h"
#include "tervo/tervo_names.h"

namespace tervo_bench {

// A folder for the files of this run, removed at exit.
inline const tervo_test::TempDir& Dir() {
  static const tervo_test::TempDir dir("tervo-bench");
  return dir;
}

// tervo.mdl from the program's folder with one filter of `type` reading its
// data from Dir(), and session 1 of `age` (enabled). The plug-in's log lines
// are all filtered out, as a host tuned for throughput runs it. `filter` is
// null when anything failed.
struct PluginWithFilter {
  explicit PluginWithFilter(const char* type, const char* age = "adult",
                            const std::string& data = Dir().path()) {
    setenv("AS_TRACER_PATH", Dir().path().c_str(), 1);
    setenv("TERVO_TRACE_LEVEL", "-1", 1);
    const std::string folder = tervo_test::ProgramFolder();
    std::string error;
    if (!plugin.Load(folder + "/tervo.mdl", &error)) return;
    settings.SetString(nsImModules::kSharedDataPathKey, data);
    settings.SetString(nsImModules::kSharedLibsPathKey, folder);
    settings.SetString(nsImModules::kGlobalTempPathKey, Dir().path());
    settings.SetString(nsImModules::kUserAgeKey, age, 1);
    settings.SetInt(nsImModules::kEnabledKey, 1, 1);
    filter = plugin.CreateFilter(type, &settings);
    if (filter == nullptr || filter->ApplySharedSettings() != 0 ||
        tervo_host::OpenSession(filter, 1) != 0) {
      filter = nullptr;
    }
  }
  tervo_host::Plugin plugin;
  tervo_host::Settings settings;
  CAFilter* filter = nullptr;
};

// A fixed linear congruential sequence, so every run sees the same data.
class Lcg {
 public:
  explicit Lcg(uint32_t seed) : state_(seed) {}
  uint32_t Next(uint32_t bound) {
    state_ = state_ * 1664525u + 1013904223u;
    return (state_ >> 8) % bound;
  }

 private:
  uint32_t state_;
};

// A word of `min_length` to `min_length` + 5 random small letters.
inline std::string MakeWord(Lcg* rng, uint32_t min_length) {
  std::string word;
  const uint32_t length = min_length + rng->Next(6);
  for (uint32_t i = 0; i < length; ++i) word += static_cast<char>('a' + rng->Next(26));
  return word;
}

// Times `filter`'s ProcessEntity in session 1 over items holding `texts`
// and, when `users` is not empty, users[i] as the other party of message i,
// when `seconds` is not empty, seconds[i] as its second text.
// At most kItemPool items are built, as a host keeps the item of the current
// message in its caches; when there are more messages, each pass over the
// pool (timing paused) moves the items on to the next messages.
constexpr size_t kItemPool = 1024;

inline void RunProcessEntity(benchmark::State& state, CAFilter* filter,
                             const std::vector<std::string>& texts,
                             const std::vector<std::string>& users = {},
                             const std::vector<std::string>& seconds = {}) {
  if (filter == nullptr) {
    state.SkipWithError("the plug-in or its data did not load");
    return;
  }
  const size_t messages = texts.size();
  const size_t pool = messages < kItemPool ? messages : kItemPool;
  std::vector<std::unique_ptr<tervo_host::Item>> items;
  size_t message = static_cast<size_t>(state.thread_index()) * 97;
  for (size_t i = 0; i < pool; ++i) {
    const size_t m = (message + i) % messages;
    const char* user = m < users.size() ? users[m].c_str() : nullptr;
    const char* second = m < seconds.size() ? seconds[m].c_str() : nullptr;
    items.push_back(std::make_unique<tervo_host::Item>(texts[m].c_str(), second, user));
  }
  size_t slot = 0;
  for (auto _ : state) {
    if (filter->ProcessEntity(1, items[slot]->get(), 0) != 0) {
      state.SkipWithError("ProcessEntity failed");
      return;
    }
    if (++slot < pool) continue;
    slot = 0;
    if (pool == messages) continue;
    state.PauseTiming();
    message += pool;
    for (size_t i = 0; i < pool; ++i) {
      const size_t m = (message + i) % messages;
      items[i]->get()->input.SetText(ascommon::IM_TEXT_KEY, texts[m].c_str());
      if (m < users.size()) items[i]->io()->SetText(ascommon::IM_USER_INFO_KEY, users[m].c_str());
      if (m < seconds.size()) items[i]->get()->input.SetText(ascommon::IM_AUX_TEXT_KEY, seconds[m].c_str());
    }
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations());
}

}  // namespace tervo_bench

#endif  // TERVO_BENCH_BENCH_SUPPORT_H_
