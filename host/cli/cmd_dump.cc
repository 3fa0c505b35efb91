// tervo dump FILE: opens a data-file container and prints its header (version,
// description, the digest and whether it matches the payload, the payload
// size) as comment lines, then the payload decoded into the readable source
// its compiler reads, for the formats it knows (chosen by --as, or by the
// file's name). A damaged file ends the command with the reader's message.
#include <stdio.h>
#include <stdlib.h>

#include <exception>
#include <filesystem>
#include <memory>

#include "common/binstreamer.h"
#include "host/cli/commands.h"
#include "host/cli/blacklist_source.h"
#include "host/cli/markovian_source.h"
#include "host/cli/words_source.h"

namespace tervo_cli {

namespace {

struct DumpOptions {
  std::string file;
  std::string work_folder;
  std::string format;  // "words", "raw", or empty: by the file's name
};

// The payload format of `options`: as asked, or by the file's name.
std::string FormatOf(const DumpOptions& options) {
  if (!options.format.empty()) return options.format;
  const std::string name = std::filesystem::path(options.file).filename().string();
  if (name == "imwords.dat") return "words";
  if (name == "imblacklist.dat") return "blacklist";
  if (name == "im_markovian.dat") return "markovian";
  return "raw";
}

std::string Hex(const uint8_t* bytes, size_t n) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 15];
  }
  return out;
}

int RunDump(const DumpOptions& options) {
  try {
    // Opening for reading checks the digest and raises when it does not match.
    ascommon::CBinaryStreamer reader(options.file.c_str(), ascommon::CBinaryStreamer::kModeRead,
                                     options.work_folder.c_str(), 0);
    const auto& header = reader.header();
    printf("# file: %s\n", options.file.c_str());
    printf("# version: %u\n", reader.version());
    printf("# description: %s\n", reader.description().c_str());
    printf("# header words: %u %u\n", header.word1, header.word2);
    printf("# digest: %s (matches the payload)\n",
           Hex(reader.digest(), ascommon::CBinaryStreamer::kDigestSize).c_str());
    printf("# payload: %llu bytes\n", static_cast<unsigned long long>(reader.payload_size()));
    // Decode everything before printing it, so a damaged payload prints
    // nothing of it.
    const std::string format = FormatOf(options);
    std::string text;
    if (format == "words") text = ReadWordsPayloadAsSource(&reader);
    if (format == "blacklist") text = ReadBlacklistPayloadAsText(&reader);
    if (format == "markovian") text = ReadMarkovianPayloadAsSource(&reader);
    fwrite(text.data(), 1, text.size(), stdout);
    return 0;
  } catch (const std::exception& e) {
    fprintf(stderr, "tervo dump: %s: %s\n", options.file.c_str(), e.what());
    return 1;
  }
}

}  // namespace

void AddDumpCommand(CLI::App& app, Context& context) {
  auto options = std::make_shared<DumpOptions>();
  const char* tmp = getenv("TMPDIR");
  options->work_folder = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
  CLI::App* cmd = app.add_subcommand("dump", "Print a data file's header and check its digest");
  cmd->add_option("file", options->file, "The data file")->required();
  cmd->add_option("--as", options->format,
                  "Payload format: words, blacklist, markovian, or raw for the header only "
                  "(default: by file name: imwords.dat, imblacklist.dat, im_markovian.dat)")
      ->check(CLI::IsMember({"words", "blacklist", "markovian", "raw"}));
  cmd->add_option("--work-dir", options->work_folder,
                  "Folder for the temporary unscrambled copy (default: $TMPDIR or /tmp)");
  cmd->callback([options, &context] { context.status = RunDump(*options); });
}

}  // namespace tervo_cli
