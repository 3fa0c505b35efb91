// The payload of imwords.dat, the word categories of the words engine, and a
// reader and a writer for it over any IStreamer (the file itself is a
// CBinaryStreamer container).
//
// Payload, in this order (u32/i32 little-endian, "string" a streamer string:
// a u32 length, then that many bytes, never empty):
//   u32     category count
//   per category:
//     string  name
//     i32     child threshold   (age category 2)
//     i32     teen threshold    (age category 1)
//     i32     adult threshold   (every other age)
//     i32     spare value       (kept, not used in scoring)
//     i32     word count        (0 or less: no words follow)
//     per word:
//       string  word            (matched byte for byte against lower-cased tokens)
//       i32     weight
// Nothing follows the last category; readers do not look past it. The
// container's version word is not checked when reading.
//
// Every call passes on what the streamer raises (ASException and its
// subclasses) for a short read, a damaged string or a failed write.
#ifndef TERVO_SRC_ENGINES_WORDSHEUR_IMWORDS_FORMAT_H_
#define TERVO_SRC_ENGINES_WORDSHEUR_IMWORDS_FORMAT_H_

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

#include "common/binstreamer.h"
#include "common/sstring.h"

namespace nsWordsHeur {

// The container version written into new files.
inline constexpr uint32_t kWordsFileVersion = 1;

// Reads the payload field by field; the caller walks the structure: the
// count, then per category its header and word-count words.
class WordsFileReader {
 public:
  // `stream` must stay open while the reader is used; it is not owned.
  explicit WordsFileReader(ascommon::IStreamer* stream) : stream_(stream) {}

  uint32_t ReadCategoryCount();
  // Reads one category header. `word_count` is as stored: a value of 0 or
  // less means no ReadWord calls follow for this category.
  void ReadCategoryHeader(ascommon::sstring* name, int32_t* child, int32_t* teen, int32_t* adult,
                          int32_t* spare, int32_t* word_count);
  void ReadWord(ascommon::sstring* word, int32_t* weight);

 private:
  ascommon::IStreamer* stream_;
};

// Writes the payload in the order WordsFileReader reads it. The caller keeps
// the counts consistent with what follows them.
class WordsFileWriter {
 public:
  explicit WordsFileWriter(ascommon::IStreamer* stream) : stream_(stream) {}

  void WriteCategoryCount(uint32_t count);
  // `name` must be non-empty (the streamer refuses empty strings).
  void WriteCategoryHeader(const ascommon::sstring& name, int32_t child, int32_t teen,
                           int32_t adult, int32_t spare, int32_t word_count);
  // `word` must be non-empty.
  void WriteWord(const ascommon::sstring& word, int32_t weight);

 private:
  ascommon::IStreamer* stream_;
};

// A whole payload in memory, for the tools that build data files (the tervo
// command, the tests, benchmarks and fuzz targets), not for the engine.
struct WordsCategory {
  std::string name;
  int32_t child = 0;
  int32_t teen = 0;
  int32_t adult = 0;
  int32_t spare = 0;
  std::vector<std::pair<std::string, int32_t>> words;
};

// Writes `categories` as a payload, in their order.
void WriteWordsPayload(ascommon::IStreamer* out, const std::vector<WordsCategory>& categories);

}  // namespace nsWordsHeur

#endif  // TERVO_SRC_ENGINES_WORDSHEUR_IMWORDS_FORMAT_H_
