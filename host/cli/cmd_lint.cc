// tervo lint FILE|DIR...: parses rule files as the signature engine does and
// prints every error, discarded rule and warning as FILE:LINE: message, then
// a summary; --json prints the same as one JSON object, --print the rules
// in one layout (the messages then go to standard error). Exit status 1 on
// any error.
#include <stdio.h>

#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "host/cli/commands.h"
#include "host/cli/rule_lint.h"

namespace tervo_cli {

namespace {

struct LintCommand {
  LintOptions options;
  bool json = false;
  bool print = false;
};

int RunLint(const LintCommand& command) {
  const LintResult result = LintRules(command.options);
  FILE* report = command.print ? stderr : stdout;
  if (command.print) fwrite(result.printed.data(), 1, result.printed.size(), stdout);
  if (command.json) {
    nlohmann::json messages = nlohmann::json::array();
    for (const LintMessage& m : result.messages) {
      messages.push_back({{"file", m.file}, {"line", m.line},
                          {"severity", m.error ? "error" : "warning"}, {"message", m.text}});
    }
    nlohmann::json out = {{"files", result.files}, {"rules", result.rules},
                          {"signatures", result.signatures}, {"apm_rules", result.apm_rules},
                          {"discarded", result.discarded}, {"errors", result.errors},
                          {"warnings", result.warnings}, {"messages", messages}};
    if (!result.note.empty()) out["note"] = result.note;
    fprintf(report, "%s\n", out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
  } else {
    for (const LintMessage& m : result.messages) {
      const std::string where = m.line > 0 ? m.file + ":" + std::to_string(m.line) : m.file;
      fprintf(report, "%s: %s: %s\n", where.c_str(), m.error ? "error" : "warning", m.text.c_str());
    }
    if (!result.note.empty()) fprintf(report, "note: %s\n", result.note.c_str());
    fprintf(report, "%s\n", LintSummary(result).c_str());
  }
  return result.errors > 0 ? 1 : 0;
}

}  // namespace

void AddLintCommand(CLI::App& app, Context& context) {
  auto command = std::make_shared<LintCommand>();
  CLI::App* cmd = app.add_subcommand(
      "lint", "Check rule files as the signature engine parses them: errors, discarded rules, "
              "warnings");
  cmd->add_option("paths", command->options.paths,
                  "Rule files, or folders whose <prefix>*.slf files are read in the engine's order")
      ->required();
  cmd->add_option("--prefix", command->options.prefix,
                  "The rule set a folder holds: im (default), as, ph, pc, cf, fr, tr or op");
  cmd->add_flag("--json", command->json, "Print the messages and the summary as JSON");
  cmd->add_flag("--print", command->print,
                "Print the rules in one layout on standard output (messages go to standard error)");
  cmd->callback([command, &context] {
    // Patterns are compiled with the regular-expression library that the
    // plug-in next to them loads.
    command->options.regex_folder =
        std::filesystem::path(context.plugin_path).parent_path().string();
    context.status = RunLint(*command);
  });
}

}  // namespace tervo_cli
