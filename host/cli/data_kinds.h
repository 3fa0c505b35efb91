// The data files the tervo command knows, one row per kind: `compile` builds
// them from their readable source, `dump` prints them back, and `classify`
// finds each filter's file and tells whether a present one would load. The
// payload layouts themselves live in the engines' *_format.h.
#ifndef TERVO_HOST_CLI_DATA_KINDS_H_
#define TERVO_HOST_CLI_DATA_KINDS_H_

#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include "common/binstreamer.h"

namespace tervo_cli {

// A parsed source, ready to be written as a payload.
struct CompiledPayload {
  std::function<void(ascommon::IStreamer*)> write;  // raises what the streamer raises
  std::string summary;                               // what the payload holds, for the user
};

struct DataKind {
  const char* format;     // compile's subcommand and dump's --as name
  const char* file_name;  // the file's name in the data folder
  const char* filter;     // the module type name of the filter that loads it
  // The keys the filter writes. The first tells whether it flagged the
  // message: a flag, or with `scored` a score other than -1.
  std::vector<uint32_t> verdict_keys;
  bool scored;
  uint32_t version;          // the container version of new files
  const char* compile_help;  // compile's help line
  // Parses the source `text` (`source_name` names it in messages). False with
  // "FILE:LINE: problem" in `error` at the first bad line.
  bool (*compile)(const std::string& text, const std::string& source_name, CompiledPayload* out,
                  std::string* error);
  // The payload as readable source; raises what the streamer raises on a
  // damaged payload.
  std::string (*read_as_source)(ascommon::IStreamer* in);
  // For a filter that runs on without its data when the file does not load
  // (and so cannot say so): reads the payload through with the format's
  // reader and answers why the engine would refuse it, or empty; raises what
  // the streamer raises. Null for filters whose loading answers the failure.
  std::string (*check_payload)(ascommon::IStreamer* in);
};

// Every kind, in the order compile lists them.
const std::vector<DataKind>& DataKinds();

// The kind named `format`, stored as `file_name`, or loaded by `filter`; null
// when there is none.
const DataKind* DataKindByFormat(const std::string& format);
const DataKind* DataKindByFileName(const std::string& file_name);
const DataKind* DataKindOfFilter(const std::string& filter);

}  // namespace tervo_cli

#endif  // TERVO_HOST_CLI_DATA_KINDS_H_
