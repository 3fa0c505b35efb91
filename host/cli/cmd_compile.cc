// tervo compile words SRC -o FILE: builds imwords.dat from its readable source.
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "common/binstreamer.h"
#include "host/cli/commands.h"
#include "host/cli/blacklist_source.h"
#include "host/cli/markovian_source.h"
#include "host/cli/words_source.h"
#include "src/engines/markovian/markovian_format.h"
#include "src/engines/urldb2/urldb2_format.h"
#include "src/engines/wordsheur/imwords_format.h"

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

int RunCompileWords(const CompileOptions& options) {
  std::string text;
  if (!ReadSource(options.source, &text)) return 1;
  std::vector<WordsCategory> categories;
  std::string error;
  if (!ParseWordsSource(text, options.source, &categories, &error)) {
    fprintf(stderr, "tervo compile: %s\n", error.c_str());
    return 1;
  }
  int status = WriteDataFile(options.output, nsWordsHeur::kWordsFileVersion,
                             [&](ascommon::IStreamer* out) { WriteWordsPayload(out, categories); });
  if (status != 0) return status;
  size_t words = 0;
  for (const WordsCategory& c : categories) words += c.words.size();
  fprintf(stderr, "tervo compile: %s: %zu categories, %zu words\n", options.output.c_str(),
          categories.size(), words);
  return 0;
}

int RunCompileBlacklist(const CompileOptions& options) {
  std::string text;
  if (!ReadSource(options.source, &text)) return 1;
  BlacklistKeys keys;
  std::string error;
  if (!ParseBlacklistSource(text, options.source, &keys, &error)) {
    fprintf(stderr, "tervo compile: %s\n", error.c_str());
    return 1;
  }
  int status = WriteDataFile(options.output, nsUrlDb2::kUrlDbFileVersion,
                             [&](ascommon::IStreamer* out) { WriteBlacklistPayload(out, keys); });
  if (status != 0) return status;
  fprintf(stderr, "tervo compile: %s: %zu urls, %zu subdomains, %zu domains (%zu repeats left out)\n",
          options.output.c_str(), keys.urls.size(), keys.subdomains.size(), keys.domains.size(),
          keys.repeats);
  return 0;
}

int RunCompileMarkovian(const CompileOptions& options) {
  std::string text;
  if (!ReadSource(options.source, &text)) return 1;
  std::vector<MarkovianClass> classes;
  std::string error;
  if (!ParseMarkovianSource(text, options.source, &classes, &error)) {
    fprintf(stderr, "tervo compile: %s\n", error.c_str());
    return 1;
  }
  int status =
      WriteDataFile(options.output, nsMarkovian::kMarkovianFileVersion,
                    [&](ascommon::IStreamer* out) { WriteMarkovianPayload(out, classes); });
  if (status != 0) return status;
  size_t sequences = 0;
  for (const MarkovianClass& c : classes) sequences += c.sequences.size();
  fprintf(stderr, "tervo compile: %s: %zu classes, %zu sequences\n", options.output.c_str(),
          classes.size(), sequences);
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
  CLI::App* blacklist = cmd->add_subcommand(
      "blacklist", "Build imblacklist.dat (blocked correspondents, stored as digests)");
  blacklist->add_option("source", options->source, "The readable source")->required();
  blacklist->add_option("-o,--output", options->output, "The data file to write")->required();
  blacklist->callback([options, &context] { context.status = RunCompileBlacklist(*options); });
  CLI::App* markovian = cmd->add_subcommand(
      "markovian", "Build im_markovian.dat (word sequences per class)");
  markovian->add_option("source", options->source, "The readable source")->required();
  markovian->add_option("-o,--output", options->output, "The data file to write")->required();
  markovian->callback([options, &context] { context.status = RunCompileMarkovian(*options); });
}

}  // namespace tervo_cli
