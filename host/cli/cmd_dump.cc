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
#include <string>
#include <vector>

#include "common/binstreamer.h"
#include "host/cli/commands.h"
#include "host/cli/data_kinds.h"

namespace tervo_cli {

namespace {

struct DumpOptions {
  std::string file;
  std::string work_folder;
  std::string format;  // a kind's format, "raw", or empty: by the file's name
};

// The payload's kind: as asked, or by the file's name; null for the header
// only.
const DataKind* KindOf(const DumpOptions& options) {
  if (!options.format.empty()) return DataKindByFormat(options.format);
  return DataKindByFileName(std::filesystem::path(options.file).filename().string());
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
    const DataKind* kind = KindOf(options);
    const std::string text = kind != nullptr ? kind->read_as_source(&reader) : "";
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
  std::vector<std::string> formats;
  std::string names;
  for (const DataKind& kind : DataKinds()) {
    formats.push_back(kind.format);
    names += std::string(names.empty() ? "" : ", ") + kind.file_name;
  }
  std::string help = "Payload format: ";
  for (const std::string& format : formats) help += format + ", ";
  help += "or raw for the header only (default: by file name: " + names + ")";
  formats.push_back("raw");
  cmd->add_option("--as", options->format, help)->check(CLI::IsMember(formats));
  cmd->add_option("--work-dir", options->work_folder,
                  "Folder for the temporary unscrambled copy (default: $TMPDIR or /tmp)");
  cmd->callback([options, &context] { context.status = RunDump(*options); });
}

}  // namespace tervo_cli
