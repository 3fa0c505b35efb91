// The readable source of imwords.dat, as `tervo compile words` reads it and
// `tervo dump` prints it:
//
//   # a comment (a '#' starting a word ends the line's content)
//   category NAME CHILD TEEN ADULT SPARE
//   WORD WEIGHT
//   ...
//
// NAME is one word; the four numbers are the thresholds for child, teen and
// adult sessions and the spare value. Each following line is a lower-case word
// of at least three bytes, without the delimiters that split messages, and its
// weight. The binary layout itself lives in src/engines/wordsheur/imwords_format.h.
#ifndef TERVO_HOST_CLI_WORDS_SOURCE_H_
#define TERVO_HOST_CLI_WORDS_SOURCE_H_

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

#include "common/binstreamer.h"
#include "src/engines/wordsheur/imwords_format.h"

namespace tervo_cli {

using nsWordsHeur::WordsCategory;
using nsWordsHeur::WriteWordsPayload;

// Parses `text` (from `file_name`, used in messages). False with
// "FILE:LINE: problem" in `error` at the first bad line.
bool ParseWordsSource(const std::string& text, const std::string& file_name,
                      std::vector<WordsCategory>* categories, std::string* error);

// Reads an imwords.dat payload back into source text (raises what the
// streamer raises on a damaged payload).
std::string ReadWordsPayloadAsSource(ascommon::IStreamer* in);

}  // namespace tervo_cli

#endif  // TERVO_HOST_CLI_WORDS_SOURCE_H_
