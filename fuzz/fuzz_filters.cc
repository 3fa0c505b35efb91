// Fuzzes ProcessEntity of the four filters of tervo.mdl, loaded and set up
// once the way a host does it (host/plugin_host.h), with the sample data the
// build compiles and the sample rules (<build>/sample-data, or
// $TERVO_FUZZ_SAMPLE_DATA) copied into a scratch data folder, and
// libfernwick.so from the program's folder. Sessions 1, 2 and 3 are child,
// teen and adult.
//
// Input: the message text up to the first zero byte; the bytes after it (up to
// the next zero byte) are the other party, which the blacklist filter checks;
// without a zero byte the text is the other party too. The bytes after a
// second zero byte are the second text; without one the second text is the
// text lower-cased, as `tervo classify` gives it. Every filter must answer 0
// on every session, and write what its verdict keys promise.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "common/blackbox.h"
#include "common/sstring.h"
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
  std::set<int32_t> rule_scores;  // every score a mark() of the sample rules gives
};

Setup* g_setup = nullptr;

std::string SampleDataFolder() {
  const char* folder = getenv("TERVO_FUZZ_SAMPLE_DATA");
  if (folder != nullptr && *folder != '\0') return folder;
  return tervo_test::ProgramFolder() + "/../sample-data";
}

void CopyFile(const std::string& from, const std::string& to) {
  std::error_code error;
  std::filesystem::copy_file(from, to, error);
  FUZZ_CHECK(!error, "cannot copy " + from + ": " + error.message() +
                         " (build the sample data, or set TERVO_FUZZ_SAMPLE_DATA)");
}

bool IsRuleFile(const std::string& name) {
  return name.size() > 6 && name.compare(0, 2, "im") == 0 &&
         name.compare(name.size() - 4, 4, ".slf") == 0;
}

// The scores of the mark() actions of a rule file.
void CollectScores(const std::string& path, std::set<int32_t>* scores) {
  std::ifstream in(path, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  static const std::regex kMark(R"(mark\(\s*"[^"]*"\s*,\s*(-?[0-9]+)\s*\))");
  for (std::sregex_iterator at(text.begin(), text.end(), kMark), end; at != end; ++at) {
    scores->insert(std::stoi((*at)[1].str()));
  }
}

// Copies the data files and every im*.slf rule file, and collects the rules'
// scores.
void CopySampleData(const std::string& to, std::set<int32_t>* scores) {
  const std::string from = SampleDataFolder();
  for (const char* name : kDataFiles) CopyFile(from + "/" + name, to + "/" + name);
  int rule_files = 0;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(from, error)) {
    const std::string name = entry.path().filename().string();
    if (!IsRuleFile(name)) continue;
    CopyFile(entry.path().string(), to + "/" + name);
    CollectScores(entry.path().string(), scores);
    ++rule_files;
  }
  FUZZ_CHECK(!error && rule_files > 0 && !scores->empty(), "no sample rules with scores in " + from);
}

void SetUp(Setup* s) {
  FUZZ_CHECK(!s->data.path().empty() && !s->temp.path().empty() && !s->log.path().empty(),
             "cannot make the scratch folders");
  // The plug-in opens its log when it is loaded; nothing is written to it.
  setenv("AS_TRACER_PATH", s->log.path().c_str(), 1);
  setenv("TERVO_TRACE_LEVEL", "-1", 1);
  CopySampleData(s->data.path(), &s->rule_scores);

  const std::string plugin_path = tervo_test::ProgramFolder() + "/tervo.mdl";
  std::string error;
  FUZZ_CHECK(s->plugin.Load(plugin_path, &error), "cannot load " + plugin_path + ": " + error);
  s->settings.SetString(nsImModules::kSharedDataPathKey, s->data.path() + "/");
  s->settings.SetString(nsImModules::kGlobalTempPathKey, s->temp.path() + "/");
  s->settings.SetString(nsImModules::kSharedLibsPathKey, tervo_test::ProgramFolder());
  for (const Session& session : kSessions) {
    s->settings.SetString(nsImModules::kUserAgeKey, session.age, session.id);
    s->settings.SetInt(nsImModules::kEnabledKey, 1, session.id);
  }
  for (const char* name :
       {kBlacklistFilterName, kWordsFilterName, kSignFilterName, kMarkovianFilterName}) {
    CAFilter* module = s->plugin.CreateFilter(name, &s->settings);
    FUZZ_CHECK(module != nullptr, std::string("cannot create ") + name);
    const int32_t applied = module->ApplySharedSettings();
    FUZZ_CHECK(applied == 0, std::string(name) + " ApplySharedSettings answered " +
                                 std::to_string(applied) + ": " + as_last_err_message());
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
    const bool flagged = item->Flag(ascommon::IM_SIGN_FLAG_KEY);
    const int32_t score = item->Number(ascommon::IM_SIGN_SCORE_KEY, INT32_MIN);
    FUZZ_CHECK(flagged == (score != INT32_MIN), where + "the flag and the score disagree");
    FUZZ_CHECK(!flagged || score == 0 || g_setup->rule_scores.count(score) != 0,
               where + "a score no rule gives: " + std::to_string(score));
  }
}

std::string LowerCased(const std::string& text) {
  ascommon::sstring lowered;
  if (lowered.assign(text.data(), text.size()) != 0 || lowered.UTF8_tolower(false) != 0) {
    return text;
  }
  return std::string(lowered.c_str(), lowered.length());
}

// The fields of an input, split at its zero bytes: at most `count`, the last
// up to the next zero byte or the end.
std::vector<std::string> Fields(const char* bytes, size_t size, size_t count) {
  std::vector<std::string> fields;
  for (size_t at = 0;; ++at) {  // ++at steps over a zero byte
    const size_t length = strnlen(bytes + at, size - at);
    fields.emplace_back(bytes + at, length);
    at += length;
    if (at == size || fields.size() == count) return fields;
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
  const std::vector<std::string> fields = Fields(reinterpret_cast<const char*>(data), size, 3);
  const std::string& text = fields[0];
  const std::string& user = fields.size() > 1 ? fields[1] : text;
  const std::string second = fields.size() > 2 ? fields[2] : LowerCased(text);
  for (const Filter& filter : g_setup->filters) {
    for (const Session& session : kSessions) {
      tervo_host::Item item(text.c_str(), second.c_str(), user.c_str());
      const int32_t rc = filter.module->ProcessEntity(session.id, item.get(), 0);
      FUZZ_CHECK(rc == 0, std::string(filter.name) + " ProcessEntity answered " +
                              std::to_string(rc) + ": " + as_last_err_message());
      CheckVerdicts(filter, session, &item);
    }
  }
  return 0;
}
