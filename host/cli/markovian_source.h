// The readable source of im_markovian.dat, as `tervo compile markovian` reads
// it and `tervo dump` prints it:
//
//   # a comment
//   class NAME THRESHOLD
//   VALUE WORD [WORD ...]
//
// NAME is one word; each following line is a word sequence (an n-gram) and the
// value it adds to the class's score when a message holds it. Words are lower
// case, at least two bytes, and free of the characters that split messages.
// The compiler hashes the words and groups the sequences by length into the
// class's tables (in source order within a length); `tervo dump` prints them
// back grouped the same way. The binary layout lives in
// src/engines/markovian/markovian_format.h.
#ifndef TERVO_HOST_CLI_MARKOVIAN_SOURCE_H_
#define TERVO_HOST_CLI_MARKOVIAN_SOURCE_H_

#include <stdint.h>

#include <string>
#include <vector>

#include "common/binstreamer.h"
#include "src/engines/markovian/markovian_format.h"

namespace tervo_cli {

using nsMarkovian::MarkovianSequence;
using nsMarkovian::MarkovianClass;
using nsMarkovian::WriteMarkovianPayload;

// Parses `text` (from `file_name`, used in messages). False with
// "FILE:LINE: problem" in `error` at the first bad line.
bool ParseMarkovianSource(const std::string& text, const std::string& file_name,
                          std::vector<MarkovianClass>* classes, std::string* error);

// The payload back as source text; raises what the streamer raises.
std::string ReadMarkovianPayloadAsSource(ascommon::IStreamer* in);

}  // namespace tervo_cli

#endif  // TERVO_HOST_CLI_MARKOVIAN_SOURCE_H_
