// The tervo command: one subcommand per source file. Each Add*Command
// registers its subcommand on the app; its callback runs when the subcommand
// is chosen and leaves the process exit status in `context.status`.
#ifndef TERVO_HOST_CLI_COMMANDS_H_
#define TERVO_HOST_CLI_COMMANDS_H_

#include <string>

#include <CLI/CLI.hpp>

namespace tervo_cli {

struct Context {
  std::string plugin_path;  // tervo.mdl to load
  std::string trace_dir;    // --trace: the folder of the plug-in's log, or empty
  int status = 0;           // exit status of the command that ran
};

// The plug-in next to the running program.
std::string DefaultPluginPath();

// Chooses where the plug-in loaded next writes its log: into --trace's folder,
// else where AS_TRACER_PATH says, else nowhere. Call before loading it: the
// plug-in opens its log when it is loaded.
void PrepareTrace(const Context& context);

void AddDumpCommand(CLI::App& app, Context& context);
void AddClassifyCommand(CLI::App& app, Context& context);
void AddExplainCommand(CLI::App& app, Context& context);
void AddCompileCommand(CLI::App& app, Context& context);
void AddLintCommand(CLI::App& app, Context& context);

}  // namespace tervo_cli

#endif  // TERVO_HOST_CLI_COMMANDS_H_
