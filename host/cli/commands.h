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
  int status = 0;           // exit status of the command that ran
};

// The plug-in next to the running program.
std::string DefaultPluginPath();

void AddDumpCommand(CLI::App& app, Context& context);
void AddClassifyCommand(CLI::App& app, Context& context);
void AddCompileCommand(CLI::App& app, Context& context);

}  // namespace tervo_cli

#endif  // TERVO_HOST_CLI_COMMANDS_H_
