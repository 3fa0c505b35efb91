// tervo: classifies instant messages through the tervo plug-in, builds, dumps
// and checks its data files, and checks its rule files.
#include <stdio.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "host/cli/commands.h"
#include "host/plugin_host.h"

namespace tervo_cli {

std::string DefaultPluginPath() {
  std::error_code ignored;
  std::filesystem::path self = std::filesystem::canonical("/proc/self/exe", ignored);
  return (self.parent_path() / "tervo.mdl").string();
}

void PrepareTrace(const Context& context) {
  if (!context.trace_dir.empty()) {
    setenv("AS_TRACER_PATH", context.trace_dir.c_str(), 1);
  } else if (getenv("AS_TRACER_PATH") == nullptr) {
    // The plug-in logs into AS_TRACER_PATH/as2_debug.log, or ./as2_debug.log
    // when it is unset. A folder that cannot hold a file leaves the trace
    // library without a log, and the plug-in then logs nowhere.
    setenv("AS_TRACER_PATH", "/dev/null", 1);
  }
}

namespace {

// Prints the plug-in's version as GetASVersion reports it.
int PrintVersion(const Context& context) {
  PrepareTrace(context);
  const std::string& plugin_path = context.plugin_path;
  tervo_host::Plugin plugin;
  std::string error;
  if (!plugin.Load(plugin_path, &error)) {
    fprintf(stderr, "tervo: %s\n", error.c_str());
    return 1;
  }
  uint32_t v[4] = {};
  plugin.Version(v);
  printf("tervo %u.%u.%u.%u\n", v[0], v[1], v[2], v[3]);
  return 0;
}

}  // namespace
}  // namespace tervo_cli

int main(int argc, char** argv) {
  tervo_cli::Context context;
  context.plugin_path = tervo_cli::DefaultPluginPath();

  CLI::App app{"tervo: classify instant messages with the tervo plug-in, build, dump and "
               "check its data files, and check its rule files."};
  app.add_option("--plugin", context.plugin_path, "The plug-in to load (default: tervo.mdl "
                 "next to this program)")
      ->envname("TERVO_PLUGIN");
  app.add_option("--trace", context.trace_dir,
                 "Write the plug-in's log (as2_debug.log, a line per message) into DIR; without "
                 "it, only where AS_TRACER_PATH names a folder")
      ->option_text("DIR")
      ->check(CLI::ExistingDirectory);
  // Options of the command itself are taken after a subcommand too.
  app.fallthrough();
  bool version = false;
  app.add_flag("--version", version, "Print the plug-in's version and exit");
  tervo_cli::AddClassifyCommand(app, context);
  tervo_cli::AddExplainCommand(app, context);
  tervo_cli::AddCompileCommand(app, context);
  tervo_cli::AddDumpCommand(app, context);
  tervo_cli::AddLintCommand(app, context);

  CLI11_PARSE(app, argc, argv);
  if (version) return tervo_cli::PrintVersion(context);
  if (app.get_subcommands().empty()) {
    printf("%s", app.help().c_str());
    return 0;
  }
  return context.status;
}
