#include "src/engines/markovian/markovian_format.h"

#include <algorithm>

#include "common/sstring.h"

namespace nsMarkovian {

using ascommon::sstring;

uint32_t WordHash(const char* word, size_t n) {
  uint32_t hash = kWordHashSeed;
  if (word == nullptr) return hash;
  for (size_t i = 0; i < n; ++i) {
    hash = WordHashStep(hash, static_cast<uint8_t>(ascommon::AsciiLower(word[i])));
  }
  return hash;
}

uint32_t MarkovianFileReader::ReadClassCount() { return stream_->ReadU32(); }

void MarkovianFileReader::ReadClassHeader(sstring* name, int32_t* threshold,
                                          uint32_t* table_count) {
  stream_->ReadSString(name);
  *threshold = stream_->ReadI32();
  *table_count = stream_->ReadU32();
}

int32_t MarkovianFileReader::ReadTableOrder() { return stream_->ReadI32(); }

uint32_t MarkovianFileReader::ReadEntryCount() { return stream_->ReadU32(); }

int32_t MarkovianFileReader::ReadEntryValue() { return stream_->ReadI32(); }

void MarkovianFileReader::ReadWord(uint32_t* hash, sstring* text) {
  *hash = stream_->ReadU32();
  stream_->ReadSString(text);
}

void MarkovianFileWriter::WriteClassCount(uint32_t count) { stream_->WriteU32(count); }

void MarkovianFileWriter::WriteClassHeader(const sstring& name, int32_t threshold,
                                           uint32_t table_count) {
  stream_->WriteSString(name);
  stream_->WriteI32(threshold);
  stream_->WriteU32(table_count);
}

void MarkovianFileWriter::WriteTableOrder(int32_t order) { stream_->WriteI32(order); }

void MarkovianFileWriter::WriteEntryCount(uint32_t count) { stream_->WriteU32(count); }

void MarkovianFileWriter::WriteEntryValue(int32_t value) { stream_->WriteI32(value); }

void MarkovianFileWriter::WriteWord(uint32_t hash, const sstring& text) {
  stream_->WriteU32(hash);
  stream_->WriteSString(text);
}

void WriteMarkovianPayload(ascommon::IStreamer* out, const std::vector<MarkovianClass>& classes) {
  MarkovianFileWriter writer(out);
  writer.WriteClassCount(static_cast<uint32_t>(classes.size()));
  for (const MarkovianClass& c : classes) {
    size_t longest = 0;
    for (const MarkovianSequence& s : c.sequences) longest = std::max(longest, s.words.size());
    // Index 0 of the table list is never used; index k holds the k-word sequences.
    writer.WriteClassHeader(ascommon::sstring(c.name.c_str()), c.threshold,
                            static_cast<uint32_t>(longest + 1));
    for (size_t k = 0; k <= longest; ++k) {
      uint32_t count = 0;
      for (const MarkovianSequence& s : c.sequences) count += s.words.size() == k ? 1 : 0;
      if (k == 0 || count == 0) {
        writer.WriteTableOrder(0);
        continue;
      }
      writer.WriteTableOrder(static_cast<int32_t>(k));
      writer.WriteEntryCount(count);
      for (const MarkovianSequence& s : c.sequences) {
        if (s.words.size() != k) continue;
        writer.WriteEntryValue(s.value);
        for (const std::string& word : s.words) {
          writer.WriteWord(WordHash(word.data(), word.size()),
                           ascommon::sstring(word.c_str()));
        }
      }
    }
  }
}

}  // namespace nsMarkovian
