#include "src/engines/wordsheur/imwords_format.h"

namespace nsWordsHeur {

using ascommon::sstring;

uint32_t WordsFileReader::ReadCategoryCount() { return stream_->ReadU32(); }

void WordsFileReader::ReadCategoryHeader(sstring* name, int32_t* child, int32_t* teen,
                                         int32_t* adult, int32_t* spare, int32_t* word_count) {
  stream_->ReadSString(name);
  *child = stream_->ReadI32();
  *teen = stream_->ReadI32();
  *adult = stream_->ReadI32();
  *spare = stream_->ReadI32();
  *word_count = stream_->ReadI32();
}

void WordsFileReader::ReadWord(sstring* word, int32_t* weight) {
  stream_->ReadSString(word);
  *weight = stream_->ReadI32();
}

void WordsFileWriter::WriteCategoryCount(uint32_t count) { stream_->WriteU32(count); }

void WordsFileWriter::WriteCategoryHeader(const sstring& name, int32_t child, int32_t teen,
                                          int32_t adult, int32_t spare, int32_t word_count) {
  stream_->WriteSString(name);
  stream_->WriteI32(child);
  stream_->WriteI32(teen);
  stream_->WriteI32(adult);
  stream_->WriteI32(spare);
  stream_->WriteI32(word_count);
}

void WordsFileWriter::WriteWord(const sstring& word, int32_t weight) {
  stream_->WriteSString(word);
  stream_->WriteI32(weight);
}

void WriteWordsPayload(ascommon::IStreamer* out, const std::vector<WordsCategory>& categories) {
  WordsFileWriter writer(out);
  writer.WriteCategoryCount(static_cast<uint32_t>(categories.size()));
  for (const WordsCategory& c : categories) {
    writer.WriteCategoryHeader(ascommon::sstring(c.name.c_str()), c.child, c.teen, c.adult,
                               c.spare, static_cast<int32_t>(c.words.size()));
    for (const auto& [word, weight] : c.words) {
      writer.WriteWord(ascommon::sstring(word.c_str()), weight);
    }
  }
}

}  // namespace nsWordsHeur
