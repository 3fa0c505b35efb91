// The readable source of imblacklist.dat, as `tervo compile blacklist` reads
// it: one entry per line, the bytes as written (only the line ending is
// removed). Lines "[urls]", "[subdomains]" and "[domains]" start the sections
// (entries before any section are urls); lines starting with '#' and empty
// lines are skipped. Only digests are stored, so `tervo dump` can show the
// keys but never the texts. The binary layout lives in
// src/engines/urldb2/urldb2_format.h.
#ifndef TERVO_HOST_CLI_BLACKLIST_SOURCE_H_
#define TERVO_HOST_CLI_BLACKLIST_SOURCE_H_

#include <stdint.h>

#include <string>
#include <vector>

#include "common/binstreamer.h"
#include "src/engines/urldb2/urldb2_format.h"

namespace tervo_cli {

using nsUrlDb2::BlacklistKeys;
using nsUrlDb2::WriteBlacklistPayload;

// Parses `text`. Answers false with "FILE:LINE: problem" in `error` at the
// first bad line (an unknown section).
bool ParseBlacklistSource(const std::string& text, const std::string& file_name,
                          BlacklistKeys* keys, std::string* error);

// The payload's counts and keys (hexadecimal), as text; raises what the
// streamer raises on a damaged payload.
std::string ReadBlacklistPayloadAsText(ascommon::IStreamer* in);

// Reads the payload through as the blacklist engine loads it: empty when it
// would load, else why not (a digest width other than 2); raises what the
// streamer raises when the payload ends early.
std::string CheckBlacklistPayload(ascommon::IStreamer* in);

}  // namespace tervo_cli

#endif  // TERVO_HOST_CLI_BLACKLIST_SOURCE_H_
