// The fixture every plug-in test shares: a private log folder, tervo.mdl loaded
// from the program's folder, the host's settings provider, and helpers to
// create filters, open sessions and read the plug-in's log.
#ifndef TERVO_TESTS_SUPPORT_PLUGIN_FIXTURE_H_
#define TERVO_TESTS_SUPPORT_PLUGIN_FIXTURE_H_

#include <gtest/gtest.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <memory>
#include <thread>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/plugin_host.h"
#include "host/settings.h"
#include "platform/morvel/morvel.h"
#include "tests/support/test_support.h"
#include "tervo/tervo_names.h"

namespace tervo_test {

// The four module types the factory registers, in its order, and the
// settings and data files the filters read: the plug-in's own names.
inline constexpr const char* kBlacklistName = nsImModules::kBlacklistFilterName;
inline constexpr const char* kWordsName = nsImModules::kWordsFilterName;
inline constexpr const char* kSignName = nsImModules::kSignFilterName;
inline constexpr const char* kMarkovianName = nsImModules::kMarkovianFilterName;
inline constexpr const char* kAllFilters[] = {kBlacklistName, kWordsName, kSignName,
                                              kMarkovianName};
using nsImModules::kBlacklistDataFile;
using nsImModules::kEnabledKey;
using nsImModules::kGlobalTempPathKey;
using nsImModules::kMarkovianDataFile;
using nsImModules::kSharedDataPathKey;
using nsImModules::kUserAgeKey;
using nsImModules::kWordsDataFile;

// One line of the plug-in's log as the trace library writes it (without the
// line break).
inline std::string LogLine(const char* file, int line, const std::string& text) {
  char prefix[128];
  snprintf(prefix, sizeof prefix, "[ANTISPAM          ] [%20s:%-4d] - ", file, line);
  return prefix + text;
}

// The error record of a bad-pointer raise, and of a raise in ProcessEntity.
inline std::string Bad(const std::string& text) { return "ASBadPtrException - MESSAGE: " + text; }
inline std::string EntityFailure(const std::string& module, const std::string& text) {
  return "Module " + module + " failed to process entity with message: " + text;
}

// Aborts the program when it is not destroyed within `limit`: a deadlock
// would otherwise only show as a CTest timeout.
class Watchdog {
 public:
  explicit Watchdog(const char* what, std::chrono::seconds limit = std::chrono::seconds(60))
      : thread_([this, what, limit] {
          if (finished_.wait_for(limit) == std::future_status::timeout) {
            fprintf(stderr, "%s did not finish in time (deadlock?)\n", what);
            abort();
          }
        }) {}
  ~Watchdog() {
    done_.set_value();
    thread_.join();
  }

 private:
  std::promise<void> done_;
  std::future<void> finished_ = done_.get_future();
  std::thread thread_;
};

class PluginFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(log_dir_.path().empty());
    // The plug-in opens its log when it is loaded, so the folder must be in
    // place first; every level is written.
    tracer_path_ = std::make_unique<ScopedEnv>("AS_TRACER_PATH", log_dir_.path().c_str());
    trace_level_ = std::make_unique<ScopedEnv>("TERVO_TRACE_LEVEL", nullptr);
    std::string error;
    ASSERT_TRUE(plugin_.Load(PluginPath(), &error)) << error;
    ASSERT_NE(plugin_.Factory(), nullptr);
  }

  static std::string PluginPath() { return ProgramFolder() + "/tervo.mdl"; }

  // A filter of `type` with the fixture's settings. When it cannot be made the
  // test stops: GoogleTest reports the exception as a failure.
  CAFilter* Create(const char* type) {
    CAFilter* filter = plugin_.CreateFilter(type, &settings_);
    if (filter == nullptr) throw std::runtime_error(std::string("cannot create ") + type);
    return filter;
  }

  // Sets the age of session `id` (nullopt: the key is left out).
  void SetAge(uint64_t id, const std::optional<std::string>& age) {
    age ? settings_.SetString(kUserAgeKey, *age, id) : settings_.Remove(kUserAgeKey, id);
  }

  // Gives session `id` its age and enabled values (nullopt: key left out) and
  // opens it the way the host does; answers the host's status.
  int32_t Open(CAFilter* filter, uint64_t id, std::optional<std::string> age,
               std::optional<int32_t> enabled) {
    SetAge(id, age);
    enabled ? settings_.SetInt(kEnabledKey, *enabled, id) : settings_.Remove(kEnabledKey, id);
    return tervo_host::OpenSession(filter, id);
  }

  // Points the shared data and temporary folders at `folder`.
  void UseDataFolder(const std::string& folder) {
    settings_.SetString(kSharedDataPathKey, folder);
    settings_.SetString(kGlobalTempPathKey, folder);
  }

  std::string Log() const { return ReadFile(log_dir_.File("as2_debug.log")); }
  std::vector<std::string> LogLines() const { return SplitLines(Log()); }

  // Index of the first log line equal to `line`, or -1.
  int FindLogLine(const std::string& line) const {
    const std::vector<std::string> lines = LogLines();
    const auto at = std::find(lines.begin(), lines.end(), line);
    return at == lines.end() ? -1 : static_cast<int>(at - lines.begin());
  }
  bool LogContains(const std::string& text) const { return Log().find(text) != std::string::npos; }
  int CountLogLines(const std::string& line) const {
    const std::vector<std::string> lines = LogLines();
    return static_cast<int>(std::count(lines.begin(), lines.end(), line));
  }

  static int32_t LastCode() { return as_last_err_code(); }
  static std::string LastMessage() { return as_last_err_message(); }

  TempDir log_dir_;
  std::unique_ptr<ScopedEnv> tracer_path_;
  std::unique_ptr<ScopedEnv> trace_level_;
  tervo_host::Settings settings_;
  tervo_host::Plugin plugin_;
};

}  // namespace tervo_test

#endif  // TERVO_TESTS_SUPPORT_PLUGIN_FIXTURE_H_
