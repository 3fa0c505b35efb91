// tervo compile words SRC -o FILE: builds imwords.dat from its readable source.
#include <stdio.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "common/binstreamer.h"
#include "host/cli/commands.h"
#include "host/cli/words_source.h"
#include "src/engines/wordsheur/imwords_format.h"

namespace tervo_cli {

namespace {

struct CompileOptions {
  std::string source;
  std::string output;
};

bool ReadText(const std::string& path, std::string* text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream all;
  all << in.rdbuf();
  *text = all.str();
  return true;
}

int RunCompileWords(const CompileOptions& options) {
  std::string text;
  if (!ReadText(options.source, &text)) {
    fprintf(stderr, "tervo compile: cannot read %s\n", options.source.c_str());
    return 1;
  }
  std::vector<WordsCategory> categories;
  std::string error;
  if (!ParseWordsSource(text, options.source, &categories, &error)) {
    fprintf(stderr, "tervo compile: %s\n", error.c_str());
    return 1;
  }
  // Written aside and renamed into place, so a failure leaves no partial file.
  const std::string partial = options.output + ".partial";
  try {
    ascommon::CBinaryStreamer out(partial.c_str(), ascommon::CBinaryStreamer::kModeWrite, ".",
                                  nsWordsHeur::kWordsFileVersion);
    WriteWordsPayload(&out, categories);
    out.Close();
  } catch (const std::exception& e) {
    std::error_code ignored;
    std::filesystem::remove(partial, ignored);
    fprintf(stderr, "tervo compile: %s: %s\n", options.output.c_str(), e.what());
    return 1;
  }
  std::error_code failed;
  std::filesystem::rename(partial, options.output, failed);
  if (failed) {
    std::filesystem::remove(partial, failed);
    fprintf(stderr, "tervo compile: cannot write %s\n", options.output.c_str());
    return 1;
  }
  size_t words = 0;
  for (const WordsCategory& c : categories) words += c.words.size();
  fprintf(stderr, "tervo compile: %s: %zu categories, %zu words\n", options.output.c_str(),
          categories.size(), words);
  return 0;
}

}  // namespace

void AddCompileCommand(CLI::App& app, Context& context) {
  CLI::App* cmd = app.add_subcommand("compile", "Build a data file from its readable source");
  cmd->require_subcommand(1);
  auto options = std::make_shared<CompileOptions>();
  CLI::App* words = cmd->add_subcommand("words", "Build imwords.dat (word lists per category)");
  words->add_option("source", options->source, "The readable source")->required();
  words->add_option("-o,--output", options->output, "The data file to write")->required();
  words->callback([options, &context] { context.status = RunCompileWords(*options); });
}

}  // namespace tervo_cli
