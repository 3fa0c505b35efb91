// The phrase tokenizer: turns a byte buffer into the sequence of its words,
// each word a 30-bit hash, so that phrases and texts compare as integer
// arrays.
//
// Words are runs of word characters: every byte but the separators below
// (bytes of 128 and above included). A backslash escapes the byte after it:
// "\n", "\t" and "\r" written out separate words like the real characters,
// and a backslash inside a word belongs to the word but not to its hash.
//
// A CTokenizedText is used by one thread at a time; the character classes
// are a constant table.
#ifndef TERVO_SRC_ENGINES_PHRASEMATCH_TOKENIZER_H_
#define TERVO_SRC_ENGINES_PHRASEMATCH_TOKENIZER_H_

#include <stdint.h>

namespace nsPhraseMatch {

// Flags of a byte's character class.
inline constexpr uint8_t kSeparator = 0x1;  // NUL, blanks, line breaks, punctuation
inline constexpr uint8_t kSpecial = 0x2;    // " $ * + . ? ^ |, the phrase syntax

// The class flags of byte `c`.
uint8_t CharClass(unsigned char c);

// The hash of one word as the tokenizer computes it: backslashes left out,
// the top two bits cleared.
uint32_t WordHash(const char* word, uint32_t length);

// Result codes of Tokenize.
inline constexpr int32_t kTokenizeOk = 0;
inline constexpr int32_t kTokenizeInvalidInput = -50;
inline constexpr int32_t kTokenizeNoMemory = -2;

class CTokenizedText {
 public:
  CTokenizedText() = default;
  CTokenizedText(const CTokenizedText&) = delete;
  CTokenizedText& operator=(const CTokenizedText&) = delete;
  ~CTokenizedText();

  // Replaces the list with the hashes of the words of `buffer`. Answers 0;
  // -50 for a null buffer or a zero length, or a buffer without a word (the
  // list is then empty); -2 when memory runs out.
  int32_t Tokenize(const char* buffer, uint32_t length);

  const uint32_t* Tokens() const { return tokens_; }
  uint32_t Count() const { return count_; }
  // Room in the list: equal to Count() after a successful Tokenize.
  uint32_t Capacity() const { return capacity_; }

 private:
  void Free();
  // Appends one hash, growing the list by 10 when it is full; false when
  // memory runs out.
  bool Append(uint32_t hash);
  bool Resize(uint32_t capacity);

  uint32_t* tokens_ = nullptr;
  uint32_t count_ = 0;
  uint32_t capacity_ = 0;
};

}  // namespace nsPhraseMatch

#endif  // TERVO_SRC_ENGINES_PHRASEMATCH_TOKENIZER_H_
