#include "src/engines/phrasematch/tokenizer.h"

#include <string.h>

#include <array>

#include "common/asalloc.h"
#include "src/trace/trace.h"

namespace nsPhraseMatch {

namespace {

// The class table, built by the compiler.
constexpr std::array<uint8_t, 256> BuildClasses() {
  std::array<uint8_t, 256> classes{};
  for (const char* p = "\t\n\r !\"'(),./:;?[\\]^`{}"; *p != 0; ++p) {
    classes[static_cast<unsigned char>(*p)] |= kSeparator;
  }
  classes[0] |= kSeparator;
  for (const char* p = "\"$*+.?^|"; *p != 0; ++p) classes[static_cast<unsigned char>(*p)] |= kSpecial;
  return classes;
}
constexpr std::array<uint8_t, 256> kClasses = BuildClasses();

// The running hash of one word.
struct Hasher {
  uint32_t h = 0;
  uint32_t a = 63689;
  void Add(char c) {
    if (c == '\\') return;
    h = h * a + static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(c)));
    a *= 378551;
  }
  uint32_t Value() const { return h & 0x3FFFFFFFu; }
};

}  // namespace

uint8_t CharClass(unsigned char c) { return kClasses[c]; }

uint32_t WordHash(const char* word, uint32_t length) {
  Hasher hasher;
  for (uint32_t i = 0; i < length; ++i) hasher.Add(word[i]);
  return hasher.Value();
}

CTokenizedText::~CTokenizedText() { Free(); }

void CTokenizedText::Free() {
  as_delete_nt_2_9(tokens_, &ascommon::kNoThrow);
  tokens_ = nullptr;
  count_ = 0;
  capacity_ = 0;
}

bool CTokenizedText::Resize(uint32_t capacity) {
  auto* grown = static_cast<uint32_t*>(
      as_new_nt_2_9(static_cast<size_t>(capacity) * sizeof(uint32_t), &ascommon::kNoThrow));
  if (grown == nullptr) return false;
  if (count_ != 0) memcpy(grown, tokens_, count_ * sizeof(uint32_t));
  as_delete_nt_2_9(tokens_, &ascommon::kNoThrow);
  tokens_ = grown;
  capacity_ = capacity;
  return true;
}

bool CTokenizedText::Append(uint32_t hash) {
  if (count_ == capacity_ && !Resize(capacity_ + 10)) return false;
  tokens_[count_++] = hash;
  return true;
}

int32_t CTokenizedText::Tokenize(const char* buffer, uint32_t length) {
  Free();
  if (buffer == nullptr || length == 0) {
    AS_LOG(0, __LINE__, "invalid input");
    return kTokenizeInvalidInput;
  }
  if (!Resize(length / 5 + 1)) return kTokenizeNoMemory;

  bool in_word = false;
  bool escaped = false;
  Hasher word;
  for (uint32_t i = 0; i < length; ++i) {
    const char c = buffer[i];
    const bool after_backslash = escaped;
    escaped = false;
    if (c == '\\' && !after_backslash) {
      // Escapes the next byte; inside a word it stays in the word's span.
      escaped = true;
      continue;
    }
    const bool separates = (kClasses[static_cast<unsigned char>(c)] & kSeparator) != 0 ||
                           (after_backslash && (c == 'n' || c == 't' || c == 'r'));
    if (!separates) {
      word.Add(c);
      in_word = true;
      continue;
    }
    if (in_word && !Append(word.Value())) {
      Free();
      return kTokenizeNoMemory;
    }
    in_word = false;
    word = Hasher();
  }
  if (in_word && !Append(word.Value())) {
    Free();
    return kTokenizeNoMemory;
  }
  if (count_ == 0) {
    Free();
    AS_LOG(0, __LINE__, "invalid input: buffer has only separators");
    return kTokenizeInvalidInput;
  }
  if (count_ != capacity_ && !Resize(count_)) {
    Free();
    return kTokenizeNoMemory;
  }
  return kTokenizeOk;
}

}  // namespace nsPhraseMatch
