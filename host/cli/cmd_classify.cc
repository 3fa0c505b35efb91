// tervo classify: passes messages through the plug-in's filters and prints
// one JSON line per message and age with the verdicts the filters wrote.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "common/binstreamer.h"
#include "common/sstring.h"
#include "host/cli/commands.h"
#include "host/cli/data_kinds.h"
#include "host/cli/explain.h"
#include "host/plugin_host.h"
#include "host/settings.h"
#include "platform/morvel/morvel.h"
#include "tervo/tervo_names.h"

namespace tervo_cli {

namespace {

using json = nlohmann::ordered_json;

struct ClassifyOptions {
  std::string input = "-";
  bool jsonl = false;
  std::vector<std::string> ages;
  int threads = 1;
  std::string data_dir;
  std::string temp_dir;
  std::string lib_dir;
  std::string settings_file;
  std::string user;  // the other party of plain-text messages
  bool explain = false;  // tervo explain: each verdict with its reasons
  bool json = false;     // explain: JSON lines instead of text
};

// The filters, in the order their results are reported.
const char* const kFilterNames[] = {nsImModules::kWordsFilterName,
                                    nsImModules::kBlacklistFilterName,
                                    nsImModules::kSignFilterName,
                                    nsImModules::kMarkovianFilterName};

// The blacklist filter's code.
constexpr uint8_t kBlacklistFilterCode = 200;

// Each age has its own session.
const char* const kAges[] = {"child", "teen", "adult"};
uint64_t SessionOf(const std::string& age) {
  for (uint64_t i = 0; i < 3; ++i) {
    if (age == kAges[i]) return i + 1;
  }
  return 0;
}

// The command's name in its messages.
const char* Command(const ClassifyOptions& options) {
  return options.explain ? "tervo explain" : "tervo classify";
}

// The second text of a message that gives none: the text lower-cased as the
// case-insensitive rules expect it (unchanged when it is not UTF-8).
std::string LowerCased(const std::string& text) {
  ascommon::sstring lowered;
  if (lowered.assign(text.data(), text.size()) != 0 || lowered.UTF8_tolower(false) != 0) return text;
  return std::string(lowered.c_str(), lowered.length());
}

// Whether `filter` flagged the message: its first verdict key says so (the
// signature filter, which has no data kind of its own, writes a flag).
bool Flagged(const std::string& filter, tervo_host::Item& item) {
  const DataKind* kind = DataKindOfFilter(filter);
  if (kind == nullptr) return item.Flag(ascommon::IM_SIGN_FLAG_KEY);
  const uint32_t key = kind->verdict_keys.front();
  return kind->scored ? item.Number(key, -1) != -1 : item.Flag(key);
}

struct Message {
  size_t line = 0;
  std::string text;
  std::string aux_text;
  bool has_aux = false;
  std::string user;
  bool has_user = false;
  std::string age;  // empty: every age asked for
  std::string error;  // a line that could not be read
};

struct Result {
  std::vector<std::string> lines;              // output lines
  std::map<std::string, int> flagged;          // per filter
};

std::string ExeFolder() {
  std::error_code ignored;
  return std::filesystem::canonical("/proc/self/exe", ignored).parent_path().string();
}

// One output line; bytes that are not UTF-8 (messages may hold any) come
// out as U+FFFD rather than failing the line.
std::string JsonLine(const json& out) {
  return out.dump(-1, ' ', false, json::error_handler_t::replace);
}

// Reads every message of the input: plain lines, or JSON objects per line.
bool ReadMessages(const ClassifyOptions& options, std::vector<Message>* messages) {
  std::ifstream file;
  std::istream* in = &std::cin;
  if (options.input != "-") {
    std::error_code ignored;
    if (!std::filesystem::is_directory(options.input, ignored)) file.open(options.input);
    if (!file.is_open()) {
      fprintf(stderr, "%s: cannot open %s\n", Command(options), options.input.c_str());
      return false;
    }
    in = &file;
  }
  size_t number = 0;
  for (std::string line; std::getline(*in, line);) {
    Message m;
    m.line = ++number;
    if (!options.jsonl) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      m.text = line;
      m.user = options.user;
      m.has_user = !options.user.empty();
      messages->push_back(std::move(m));
      continue;
    }
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    try {
      json j = json::parse(line);
      m.text = j.at("text").get<std::string>();
      if (j.contains("aux_text")) {
        m.aux_text = j["aux_text"].get<std::string>();
        m.has_aux = true;
      }
      if (j.contains("user")) {
        m.user = j["user"].get<std::string>();
        m.has_user = true;
      }
      if (j.contains("age")) {
        m.age = j["age"].get<std::string>();
        if (SessionOf(m.age) == 0) m.error = "unknown age \"" + m.age + "\"";
      }
    } catch (const std::exception& e) {
      m.error = e.what();
    }
    messages->push_back(std::move(m));
  }
  if (in->bad()) {
    fprintf(stderr, "%s: cannot read %s\n", Command(options), options.input.c_str());
    return false;
  }
  return true;
}

class Classifier {
 public:
  Classifier(const ClassifyOptions& options) : options_(options) {}

  // Loads the plug-in, creates the filters, applies the settings and opens
  // the sessions. Filters whose shared settings fail are reported and left
  // out. False when the plug-in itself cannot be used.
  bool SetUp(const Context& context) {
    PrepareTrace(context);
    const std::string& plugin_path = context.plugin_path;
    std::string error;
    if (!plugin_.Load(plugin_path, &error)) {
      fprintf(stderr, "%s: %s\n", Command(options_), error.c_str());
      return false;
    }
    settings_.SetString(nsImModules::kSharedDataPathKey, options_.data_dir);
    settings_.SetString(nsImModules::kGlobalTempPathKey, options_.temp_dir);
    settings_.SetString(nsImModules::kSharedLibsPathKey, options_.lib_dir);
    for (const std::string& age : options_.ages) {
      settings_.SetString(nsImModules::kUserAgeKey, age, SessionOf(age));
      settings_.SetInt(nsImModules::kEnabledKey, 1, SessionOf(age));
    }
    if (!options_.settings_file.empty() && !settings_.LoadFile(options_.settings_file, &error)) {
      fprintf(stderr, "%s: %s\n", Command(options_), error.c_str());
      return false;
    }
    for (const char* name : kFilterNames) {
      CAFilter* filter = plugin_.CreateFilter(name, &settings_);
      if (filter == nullptr) {
        fprintf(stderr, "%s: %s: cannot create the module\n", Command(options_), name);
        continue;
      }
      // A data file that is there but cannot be loaded ends the run: going on
      // without its filter would pass messages it should have flagged.
      const DataKind* kind = DataKindOfFilter(name);
      const std::string data_file = kind != nullptr ? DataFilePath(kind->file_name) : "";
      const bool present = !data_file.empty() && IsThere(data_file);
      int32_t status = filter->ApplySharedSettings();
      std::string problem;
      if (status != 0 && present) {
        problem = LoadProblem(data_file, as_last_err_message());
      } else if (present && kind->check_payload != nullptr) {
        // This filter answers 0 with data it could not load and then runs
        // without it: the payload is read through once more to tell.
        problem = CheckProblem(data_file, *kind);
      }
      if (!problem.empty()) {
        fprintf(stderr, "%s: %s: cannot be loaded: %s\n", Command(options_), data_file.c_str(),
                problem.c_str());
        return false;
      }
      if (status != 0) {
        fprintf(stderr, "%s: %s: not used: %s (%d)\n", Command(options_), name, as_last_err_message(),
                status);
        continue;
      }
      for (uint64_t session = 1; session <= 3; ++session) {
        status = tervo_host::OpenSession(filter, session);
        if (status != 0) {
          fprintf(stderr, "%s: %s: session %s: %s (%d)\n", Command(options_), name,
                  kAges[session - 1], as_last_err_message(), status);
        }
      }
      filters_.push_back(filter);
    }
    if (filters_.empty()) fprintf(stderr, "%s: no filter could be used\n", Command(options_));
    if (options_.explain) SetUpExplainers();
    return true;
  }

  // Classifies one message under each of its ages.
  Result Classify(const Message& m) {
    Result result;
    if (!m.error.empty()) {
      result.lines.push_back(JsonLine({{"line", m.line}, {"error", m.error}}));
      return result;
    }
    std::vector<std::string> ages;
    if (m.age.empty()) {
      ages = options_.ages;
    } else {
      ages.push_back(m.age);
    }
    const std::string second = m.has_aux ? m.aux_text : LowerCased(m.text);
    for (const std::string& age : ages) {
      tervo_host::Item item(m.text.c_str(), second.c_str(), m.has_user ? m.user.c_str() : nullptr);
      json status = json::object();
      json errors = json::object();
      json flagged = json::array();
      for (CAFilter* filter : filters_) {
        const char* name = filter->DisplayName();
        // The blacklist filter looks at the other party only: without one it
        // has nothing to check.
        if (!m.has_user && filter->GetFilterCode() == kBlacklistFilterCode) continue;
        int32_t code = filter->ProcessEntity(SessionOf(age), item.get(), 0);
        status[name] = code;
        if (code != 0) errors[name] = as_last_err_message();
        if (code == 0 && Flagged(name, item)) {
          flagged.push_back(name);
          ++result.flagged[name];
        }
      }
      json out = {{"line", m.line}, {"age", age}, {"keys", Keys(item)}, {"status", status},
                  {"flagged", flagged}};
      if (!errors.empty()) out["errors"] = errors;
      if (options_.explain) {
        const ExplainInput input{m.text.c_str(), second.c_str(), m.has_user ? m.user.c_str() : nullptr,
                                 static_cast<int32_t>(3 - SessionOf(age))};
        json why = json::object();
        for (auto& explainer : explainers_) why[explainer->FilterName()] = explainer->Explain(input);
        out["explain"] = why;
        if (!options_.json) {
          result.lines.push_back(Readable(m, out));
          continue;
        }
      }
      result.lines.push_back(JsonLine(out));
    }
    return result;
  }

  const std::vector<CAFilter*>& filters() const { return filters_; }

 private:
  // One explainer for each filter in use that has one.
  void SetUpExplainers() {
    const ExplainSetup setup{options_.data_dir, options_.lib_dir, options_.temp_dir};
    std::unique_ptr<FilterExplainer> all[] = {NewWordsExplainer(), NewBlacklistExplainer(),
                                              NewSignatureExplainer(), NewMarkovianExplainer()};
    for (auto& explainer : all) {
      const bool used = std::any_of(filters_.begin(), filters_.end(), [&](CAFilter* f) {
        return strcmp(f->DisplayName(), explainer->FilterName()) == 0;
      });
      std::string error;
      if (!used) continue;
      if (!explainer->SetUp(setup, &error)) {
        fprintf(stderr, "%s: %s: not explained: %s\n", Command(options_), explainer->FilterName(), error.c_str());
        continue;
      }
      explainers_.push_back(std::move(explainer));
    }
  }

  // The explanation of one message and age as text.
  std::string Readable(const Message& m, const json& out) const {
    std::string text = "line " + std::to_string(m.line) + " (" + out["age"].get<std::string>() +
                       "): " + m.text + "\n";
    for (CAFilter* filter : filters_) {
      const std::string name = filter->DisplayName();
      if (!out["status"].contains(name)) continue;
      const bool flagged = std::find(out["flagged"].begin(), out["flagged"].end(), name) != out["flagged"].end();
      text += "  " + name + ": " + (out["status"][name] != 0 ? "failed: " + out["errors"][name].get<std::string>()
                                    : flagged                 ? "flagged"
                                                              : "not flagged") + "\n";
      for (auto& explainer : explainers_) {
        if (name == explainer->FilterName()) explainer->Print(out["explain"][name], &text);
      }
    }
    text.pop_back();  // the caller ends the line
    return text;
  }

  // The data file `file` in the data folder the settings name.
  std::string DataFilePath(const char* file) {
    const char* folder = settings_.GetStringSetting(nsImModules::kSharedDataPathKey, 0);
    return std::string(folder != nullptr && *folder != '\0' ? folder : ".") + "/" + file;
  }

  // Whether `path` is something to load: an empty file is what the filters
  // leave for an absent one, and counts as absent.
  static bool IsThere(const std::string& path) {
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    if (error || !std::filesystem::exists(status)) return false;
    return !std::filesystem::is_regular_file(status) || std::filesystem::file_size(path, error) > 0;
  }

  // Why `path` cannot be loaded: the container's own complaint when opening
  // it fails, otherwise the filter's (the payload inside is damaged).
  std::string LoadProblem(const std::string& path, const std::string& filter_message) {
    try {
      ascommon::CBinaryStreamer reader(path.c_str(), ascommon::CBinaryStreamer::kModeRead,
                                       options_.temp_dir.c_str(), 0);
    } catch (const std::exception& e) {
      return e.what();
    }
    return filter_message + " (the data inside the file is damaged)";
  }

  // Why the present file `path` of `kind` would not load: the container's
  // complaint, or the payload's; empty when it would.
  std::string CheckProblem(const std::string& path, const DataKind& kind) {
    std::string why;
    try {
      ascommon::CBinaryStreamer reader(path.c_str(), ascommon::CBinaryStreamer::kModeRead,
                                       options_.temp_dir.c_str(), 0);
      try {
        why = kind.check_payload(&reader);
      } catch (const std::exception& e) {
        why = e.what();
      }
    } catch (const std::exception& e) {
      return e.what();
    }
    return why.empty() ? why : why + " (the data inside the file is damaged)";
  }

  // Every key a filter wrote into the item's input/output box, by number.
  static json Keys(tervo_host::Item& item) {
    json keys = json::object();
    if (item.io() == nullptr) return keys;
    std::map<uint32_t, uint32_t> types;
    for (auto& entry : *item.io()) types[entry.key] = entry.value->type;
    for (const auto& [key, type] : types) {
      if (key == ascommon::IM_USER_INFO_KEY) continue;  // the host's own input
      switch (type) {
        case ascommon::CBlackBox::kBool:
          keys[std::to_string(key)] = item.Flag(key) ? 1 : 0;
          break;
        case ascommon::CBlackBox::kInt32:
          keys[std::to_string(key)] = item.Number(key, 0);
          break;
        case ascommon::CBlackBox::kText:
          keys[std::to_string(key)] = item.Text(key);
          break;
        default:
          break;
      }
    }
    return keys;
  }

  const ClassifyOptions& options_;
  tervo_host::Plugin plugin_;
  tervo_host::Settings settings_;
  std::vector<CAFilter*> filters_;
  std::vector<std::unique_ptr<FilterExplainer>> explainers_;
};

int RunClassify(ClassifyOptions options, const Context& context) {
  if (options.ages.empty()) options.ages.push_back("child");
  for (const std::string& age : options.ages) {
    if (SessionOf(age) == 0) {
      fprintf(stderr, "%s: unknown age \"%s\" (child, teen or adult)\n", Command(options), age.c_str());
      return 2;
    }
  }
  if (options.threads < 1) options.threads = 1;

  std::vector<Message> messages;
  if (!ReadMessages(options, &messages)) return 1;
  Classifier classifier(options);
  if (!classifier.SetUp(context)) return 1;

  const auto start = std::chrono::steady_clock::now();
  // Workers take messages in turn; results are printed in input order.
  std::vector<Result> results(messages.size());
  std::atomic<size_t> next{0};
  auto work = [&] {
    for (size_t i = next++; i < messages.size(); i = next++) {
      results[i] = classifier.Classify(messages[i]);
    }
  };
  std::vector<std::thread> workers;
  for (int t = 1; t < options.threads; ++t) workers.emplace_back(work);
  work();
  for (std::thread& worker : workers) worker.join();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  std::map<std::string, int> flagged;
  size_t classified = 0;
  for (const Result& result : results) {
    for (const std::string& line : result.lines) {
      fwrite(line.data(), 1, line.size(), stdout);
      fputc('\n', stdout);
      ++classified;
    }
    for (const auto& [name, count] : result.flagged) flagged[name] += count;
  }
  fflush(stdout);
  fprintf(stderr, "%s: %zu messages, %zu classifications", Command(options), messages.size(),
          classified);
  for (CAFilter* filter : classifier.filters()) {
    fprintf(stderr, ", %s flagged %d", filter->DisplayName(), flagged[filter->DisplayName()]);
  }
  fprintf(stderr, "; %.0f messages/s on %d thread%s\n",
          seconds > 0 ? messages.size() / seconds : 0.0, options.threads,
          options.threads == 1 ? "" : "s");
  return 0;
}

}  // namespace

namespace {

// classify and explain take the same inputs and options.
std::shared_ptr<ClassifyOptions> AddMessageOptions(CLI::App* cmd) {
  auto options = std::make_shared<ClassifyOptions>();
  const std::string exe = ExeFolder();
  const char* tmp = getenv("TMPDIR");
  options->data_dir = exe + "/../sample-data";
  options->temp_dir = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
  options->lib_dir = exe;
  cmd->add_option("input", options->input, "Messages, one per line ('-' or none: stdin)");
  cmd->add_flag("--jsonl", options->jsonl,
                "Input lines are JSON objects: text, optional aux_text, user, age");
  // One value per --age, so that a file named after it stays the input.
  cmd->add_option("--age", options->ages, "child, teen or adult; repeat for several (default: "
                  "child)")
      ->allow_extra_args(false);
  cmd->add_option("--user", options->user,
                  "The other party of every plain-text message (JSON lines give their own)");
  cmd->add_option("--data-dir", options->data_dir,
                  "Folder of the data files (default: the sample data built with tervo)");
  cmd->add_option("--temp-dir", options->temp_dir, "Folder for temporary files");
  cmd->add_option("--lib-dir", options->lib_dir,
                  "Folder of the run-time libraries (default: the program's folder)");
  cmd->add_option("--settings", options->settings_file,
                  "A key=value settings file applied after the options");
  return options;
}

}  // namespace

void AddClassifyCommand(CLI::App& app, Context& context) {
  CLI::App* cmd = app.add_subcommand(
      "classify", "Classify messages: one JSON line per message and age with the verdicts");
  auto options = AddMessageOptions(cmd);
  cmd->add_option("--threads", options->threads, "Worker threads (default 1)");
  cmd->callback([options, &context] { context.status = RunClassify(*options, context); });
}

void AddExplainCommand(CLI::App& app, Context& context) {
  CLI::App* cmd = app.add_subcommand(
      "explain", "Explain the verdicts: for each message and age, why each filter decided as it did");
  auto options = AddMessageOptions(cmd);
  options->explain = true;
  cmd->add_flag("--json", options->json, "One JSON line per message and age, as classify's with \"explain\"");
  cmd->callback([options, &context] { context.status = RunClassify(*options, context); });
}

}  // namespace tervo_cli
