// tervo compile KIND SRC -o FILE: builds a data file from its readable source.
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "common/binstreamer.h"
#include "host/cli/commands.h"
#include "host/cli/data_kinds.h"

namespace tervo_cli {

namespace {

struct CompileOptions {
  std::string source;
  std::string output;
};

// Reads the whole source file; says so on stderr when it cannot, or when it
// holds a NUL byte: sources are text, and no word or name with a NUL in it
// could ever match a message.
bool ReadSource(const std::string& path, std::string* text) {
  std::error_code ignored;
  std::ifstream in;
  if (!std::filesystem::is_directory(path, ignored)) in.open(path, std::ios::binary);
  std::ostringstream all;
  if (in.is_open()) all << in.rdbuf();
  if (!in.is_open() || in.bad()) {
    fprintf(stderr, "tervo compile: cannot read %s\n", path.c_str());
    return false;
  }
  *text = all.str();
  const size_t nul = text->find('\0');
  if (nul != std::string::npos) {
    const long line = 1 + std::count(text->begin(), text->begin() + nul, '\n');
    fprintf(stderr, "tervo compile: %s:%ld: a NUL byte; sources are text\n", path.c_str(), line);
    return false;
  }
  return true;
}

// Writes a data file with `write` filling its payload, aside first and then
// renamed into place, so a failure leaves no partial file.
template <class F>
int WriteDataFile(const std::string& output, uint32_t version, F&& write) {
  const std::string partial = output + ".partial";
  try {
    ascommon::CBinaryStreamer out(partial.c_str(), ascommon::CBinaryStreamer::kModeWrite, ".",
                                  version);
    write(&out);
    out.Close();
  } catch (const std::exception& e) {
    std::error_code ignored;
    std::filesystem::remove(partial, ignored);
    fprintf(stderr, "tervo compile: %s: %s\n", output.c_str(), e.what());
    return 1;
  }
  std::error_code failed;
  const uintmax_t size = std::filesystem::file_size(partial, failed);
  if (!failed && size > ascommon::CBinaryStreamer::kMaxFileSize) {
    std::filesystem::remove(partial, failed);
    fprintf(stderr, "tervo compile: %s: the data file would be %ju bytes; readers refuse files "
            "above 50 MB\n", output.c_str(), size);
    return 1;
  }
  std::filesystem::rename(partial, output, failed);
  if (failed) {
    std::filesystem::remove(partial, failed);
    fprintf(stderr, "tervo compile: cannot write %s\n", output.c_str());
    return 1;
  }
  return 0;
}

// Reads the source, parses it as `kind`, writes the data file and prints what
// it holds. Answers the exit status.
int RunCompile(const CompileOptions& options, const DataKind& kind) {
  std::string text;
  if (!ReadSource(options.source, &text)) return 1;
  CompiledPayload payload;
  std::string error;
  if (!kind.compile(text, options.source, &payload, &error)) {
    fprintf(stderr, "tervo compile: %s\n", error.c_str());
    return 1;
  }
  const int status = WriteDataFile(options.output, kind.version, payload.write);
  if (status != 0) return status;
  fprintf(stderr, "tervo compile: %s: %s\n", options.output.c_str(), payload.summary.c_str());
  return 0;
}

}  // namespace

void AddCompileCommand(CLI::App& app, Context& context) {
  CLI::App* cmd = app.add_subcommand("compile", "Build a data file from its readable source");
  cmd->require_subcommand(1);
  auto options = std::make_shared<CompileOptions>();
  for (const DataKind& kind : DataKinds()) {
    CLI::App* sub = cmd->add_subcommand(kind.format, kind.compile_help);
    sub->add_option("source", options->source, "The readable source")->required();
    sub->add_option("-o,--output", options->output, "The data file to write")->required();
    sub->callback([options, &context, &kind] { context.status = RunCompile(*options, kind); });
  }
}

}  // namespace tervo_cli
