#include "src/engines/markovian/markovian_format.h"

namespace nsMarkovian {

using ascommon::sstring;

uint32_t WordHash(const char* word, size_t n) {
  uint32_t hash = kWordHashSeed;
  if (word == nullptr) return hash;
  for (size_t i = 0; i < n; ++i) {
    uint8_t byte = static_cast<uint8_t>(word[i]);
    if (byte >= 'A' && byte <= 'Z') byte = static_cast<uint8_t>(byte + ('a' - 'A'));
    hash = WordHashStep(hash, byte);
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

}  // namespace nsMarkovian
