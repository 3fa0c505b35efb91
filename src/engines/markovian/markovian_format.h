// The payload of im_markovian.dat, the word-sequence tables of the Markovian
// engine, a reader and a writer for it over any IStreamer (the file itself is
// a CBinaryStreamer container), and the word hash the tables are keyed by.
//
// Payload, in this order (u32/i32 little-endian, "string" a streamer string:
// a u32 length, then that many bytes, never empty):
//   u32     class count
//   per class:
//     string  name
//     i32     threshold
//     u32     table count        (entries of the class's table list, index 0 first)
//     per table index:
//       i32     order            (words per entry; 0 or less: the index stays
//                                 empty and nothing more follows for it)
//       u32     entry count
//       per entry:
//         i32     value
//         order times:
//           u32     word hash    (WordHash of the word)
//           string  word text    (used to spell matched sequences)
// Nothing follows the last class; readers do not look past it. The
// container's version word is not checked when reading.
//
// Every read and write call passes on what the streamer raises (ASException
// and its subclasses) for a short read, a damaged string or a failed write.
#ifndef TERVO_SRC_ENGINES_MARKOVIAN_MARKOVIAN_FORMAT_H_
#define TERVO_SRC_ENGINES_MARKOVIAN_MARKOVIAN_FORMAT_H_

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "common/binstreamer.h"
#include "common/sstring.h"

namespace nsMarkovian {

// The container version written into new files.
inline constexpr uint32_t kMarkovianFileVersion = 1;

// The seed of the word hash.
inline constexpr uint32_t kWordHashSeed = 5381;

// One step of the word hash: `byte` is taken as a signed 8-bit value widened
// to 32 bits and mixed in as (hash * 33) XOR byte, modulo 2^32.
constexpr uint32_t WordHashStep(uint32_t hash, uint8_t byte) {
  return (hash * 33u) ^
         static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(byte)));
}

// The hash of the `n` bytes at `word` once its ASCII capitals are lower-cased
// (the text is not changed). Null or n == 0 gives the seed.
uint32_t WordHash(const char* word, size_t n);

// Reads the payload field by field; the caller walks the structure: the
// class count, then per class its header, then per table index its order
// and, for an order above 0, its entry count and entries.
class MarkovianFileReader {
 public:
  // `stream` must stay open while the reader is used; it is not owned.
  explicit MarkovianFileReader(ascommon::IStreamer* stream) : stream_(stream) {}

  uint32_t ReadClassCount();
  void ReadClassHeader(ascommon::sstring* name, int32_t* threshold, uint32_t* table_count);
  // The order of the next table index; 0 or less: nothing more follows for
  // this index (no ReadEntryCount).
  int32_t ReadTableOrder();
  uint32_t ReadEntryCount();
  // The value of the next entry; `order` ReadWord calls follow it.
  int32_t ReadEntryValue();
  void ReadWord(uint32_t* hash, ascommon::sstring* text);

 private:
  ascommon::IStreamer* stream_;
};

// Writes the payload in the order MarkovianFileReader reads it. The caller
// keeps the counts consistent with what follows them.
class MarkovianFileWriter {
 public:
  explicit MarkovianFileWriter(ascommon::IStreamer* stream) : stream_(stream) {}

  void WriteClassCount(uint32_t count);
  // `name` must be non-empty (the streamer refuses empty strings).
  void WriteClassHeader(const ascommon::sstring& name, int32_t threshold, uint32_t table_count);
  // For an order of 0 or less write nothing more for this index.
  void WriteTableOrder(int32_t order);
  void WriteEntryCount(uint32_t count);
  void WriteEntryValue(int32_t value);
  // `text` must be non-empty.
  void WriteWord(uint32_t hash, const ascommon::sstring& text);

 private:
  ascommon::IStreamer* stream_;
};

// A whole payload in memory, for the tools that build data files (the tervo
// command, the tests, benchmarks and fuzz targets), not for the engine.
struct MarkovianSequence {
  int32_t value = 0;
  std::vector<std::string> words;
};

struct MarkovianClass {
  std::string name;
  int32_t threshold = 0;
  std::vector<MarkovianSequence> sequences;  // of any lengths, in any order
};

// Writes `classes` as a payload: each class's table list runs to its longest
// sequence, index k holding its k-word sequences in their order, the indexes
// without any (index 0 among them) empty.
void WriteMarkovianPayload(ascommon::IStreamer* out, const std::vector<MarkovianClass>& classes);

}  // namespace nsMarkovian

#endif  // TERVO_SRC_ENGINES_MARKOVIAN_MARKOVIAN_FORMAT_H_
