// Fuzzes ProcessEntity of the four filters of tervo.mdl, loaded and set up
// once the way a host does it (host/plugin_host.h), with the sample data the
// build compiles (<build>/sample-data, or $TERVO_FUZZ_SAMPLE_DATA) copied into
// a scratch data folder. Sessions 1, 2 and 3 are child, teen and adult.
//
// Input: the message text up to the first zero byte; the bytes after it (up to
// the next zero byte) are the other party, which the blacklist filter checks;
// without a zero byte the text is the other party too. Every filter must
// answer 0 on every session, and write what its verdict keys promise.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/blackbox.h"
#include "fuzz/fuzz_support.h"
#include "host/plugin_host.h"
#include "host/settings.h"
#include "platform/morvel/morvel.h"
#include "tervo/tervo_names.h"

namespace {

using nsImModules::kBlacklistFilterName;
using nsImModules::kMarkovianFilterName;
using nsImModules::kSignFilterName;
using nsImModules::kWordsFilterName;
constexpr const char* kDataFiles[] = {nsImModules::kWordsDataFile, nsImModules::kBlacklistDataFile,
                                      nsImModules::kMarkovianDataFile};

struct Session {
  uint64_t id;
  const char* age;
};
constexpr Session kSessions[] = {{1, "child"}, {2, "teen"}, {3, "adult"}};

struct Filter {
  const char* name;
  CAFilter* module;
};

// The plug-in with its filters and sessions, for the whole run. Members go
// away in reverse order: the plug-in is unloaded before its folders are
// removed.
struct Setup {
  tervo_test::TempDir data{"tervo-fuzz-filters-data"};
  tervo_test::TempDir temp{"tervo-fuzz-filters-temp"};
  tervo_test::TempDir log{"tervo-fuzz-filters-log"};
  tervo_host::Settings settings;
  tervo_host::Plugin plugin;
  std::vector<Filter> filters;
};

Setup* g_setup = nullptr;

std::string SampleDataFolder() {
  const char* folder = getenv("TERVO_FUZZ_SAMPLE_DATA");
  if (folder != nullptr && *folder != '\0') return folder;
  return tervo_test::ProgramFolder() + "/../sample-data";
}

void CopySampleData(const std::string& to) {
  const std::string from = SampleDataFolder();
  for (const char* name : kDataFiles) {
    std::error_code error;
    std::filesystem::copy_file(from + "/" + name, to + "/" + name, error);
    FUZZ_CHECK(!error, "cannot copy " + from + "/" + name + ": " + error.message() +
                           " (build the sample data, or set TERVO_FUZZ_SAMPLE_DATA)");
  }
}

void SetUp(Setup* s) {
  FUZZ_CHECK(!s->data.path().empty() && !s->temp.path().empty() && !s->log.path().empty(),
             "cannot make the scratch folders");
  // The plug-in opens its log when it is loaded; nothing is written to it.
  setenv("AS_TRACER_PATH", s->log.path().c_str(), 1);
  setenv("TERVO_TRACE_LEVEL", "-1", 1);
  CopySampleData(s->data.path());

  const std::string plugin_path = tervo_test::ProgramFolder() + "/tervo.mdl";
  std::string error;
  FUZZ_CHECK(s->plugin.Load(plugin_path, &error), "cannot load " + plugin_path + ": " + error);
  s->settings.SetString(nsImModules::kSharedDataPathKey, s->data.path() + "/");
  s->settings.SetString(nsImModules::kGlobalTempPathKey, s->temp.path() + "/");
  for (const Session& session : kSessions) {
    s->settings.SetString(nsImModules::kUserAgeKey, session.age, session.id);
    s->settings.SetInt(nsImModules::kEnabledKey, 1, session.id);
  }
  for (const char* name :
       {kBlacklistFilterName, kWordsFilterName, kSignFilterName, kMarkovianFilterName}) {
    CAFilter* module = s->plugin.CreateFilter(name, &s->settings);
    FUZZ_CHECK(module != nullptr, std::string("cannot create ") + name);
    const int32_t applied = module->ApplySharedSettings();
    // The signature filter has no rule engine to load yet and says so.
    FUZZ_CHECK(applied == (strcmp(name, kSignFilterName) == 0 ? -201 : 0),
               std::string(name) + " ApplySharedSettings answered " + std::to_string(applied));
    for (const Session& session : kSessions) {
      const int32_t opened = tervo_host::OpenSession(module, session.id);
      FUZZ_CHECK(opened == 0, std::string(name) + " cannot open a session: " +
                                  std::to_string(opened));
    }
    s->filters.push_back(Filter{name, module});
  }
}

void CheckVerdicts(const Filter& filter, const Session& session, tervo_host::Item* item) {
  const std::string where = std::string(filter.name) + ", " + session.age + " session: ";
  if (strcmp(filter.name, kWordsFilterName) == 0) {
    const int32_t score = item->Number(ascommon::IM_WORDS_VERDICT_KEY, INT32_MIN);
    FUZZ_CHECK(score != INT32_MIN, where + "no verdict written");
    // The sample thresholds are all positive.
    FUZZ_CHECK(score == -1 || score > 0, where + "a category fired at " + std::to_string(score));
  } else if (strcmp(filter.name, kMarkovianFilterName) == 0) {
    const bool fired = item->Flag(ascommon::IM_MARKOVIAN_FLAG_KEY);
    const std::string classes = item->Text(ascommon::IM_MARKOVIAN_TEXT_KEY);
    FUZZ_CHECK(fired == (classes.size() > 2 && classes.front() == '<' && classes.back() == '>'),
               where + "the flag and the class list disagree: " + classes);
    // Every class of the sample model has a positive threshold, and an adult
    // session's factor is 0: every class fires on any text.
    FUZZ_CHECK(fired || session.id != 3, where + "an adult session did not fire");
  } else if (strcmp(filter.name, kSignFilterName) == 0) {
    FUZZ_CHECK(!item->Flag(ascommon::IM_SIGN_FLAG_KEY), where + "fired without signatures");
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_setup = new Setup;
  SetUp(g_setup);
  // Unloads the plug-in at exit, before the folders go.
  atexit([] { delete g_setup; });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* bytes = reinterpret_cast<const char*>(data);
  const size_t text_length = strnlen(bytes, size);
  const std::string text(bytes, text_length);
  std::string user = text;
  if (text_length < size) {
    const char* rest = bytes + text_length + 1;
    user.assign(rest, strnlen(rest, size - text_length - 1));
  }
  for (const Filter& filter : g_setup->filters) {
    for (const Session& session : kSessions) {
      tervo_host::Item item(text.c_str(), nullptr, user.c_str());
      const int32_t rc = filter.module->ProcessEntity(session.id, item.get(), 0);
      FUZZ_CHECK(rc == 0, std::string(filter.name) + " ProcessEntity answered " +
                              std::to_string(rc) + ": " + as_last_err_message());
      CheckVerdicts(filter, session, &item);
    }
  }
  return 0;
}
