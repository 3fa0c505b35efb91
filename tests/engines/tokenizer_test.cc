#include "src/engines/phrasematch/tokenizer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace {

using nsPhraseMatch::CTokenizedText;

uint32_t Hash(const std::string& word) {
  return nsPhraseMatch::WordHash(word.data(), static_cast<uint32_t>(word.size()));
}

TEST(Tokenizer, SplitsTextsIntoHashedWords) {
  // Worked out by hand from h = h * a + (signed) byte, a *= 378551.
  EXPECT_EQ(Hash("hello"), 0x3ad49e92u);
  EXPECT_EQ(Hash("caf\xc3\xa9"), 0x329575c0u);  // bytes of 128 and above count negative
  EXPECT_EQ(Hash("ca\\f\xc3\xa9"), Hash("caf\xc3\xa9"));
  const struct {
    std::string text;
    std::vector<std::string> words;
  } cases[] = {
      {"hello, world!", {"hello", "world"}},
      {"\t(hello)\r\n[world]?", {"hello", "world"}},
      {"foo\\nbar\\tbaz\\rqux", {"foo", "bar", "baz", "qux"}},
      {"ab\\cd \\xy", {"abcd", "xy"}},  // a backslash stays in its word, out of the hash
      {"a\\\\b", {"a", "b"}},           // an escaped backslash is a separator again
      {"x-y_z$w caf\xc3\xa9", {"x-y_z$w", "caf\xc3\xa9"}},
      {std::string("one\0two", 7), {"one", "two"}},
      // 23 bytes: room for 5 words at first, 12 in the end.
      {"a b c d e f g h i j k l", {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l"}},
  };
  for (const auto& c : cases) {
    CTokenizedText text;
    ASSERT_EQ(text.Tokenize(c.text.data(), static_cast<uint32_t>(c.text.size())), 0) << c.text;
    std::vector<uint32_t> expected;
    for (const std::string& word : c.words) expected.push_back(Hash(word));
    EXPECT_EQ(std::vector<uint32_t>(text.Tokens(), text.Tokens() + text.Count()), expected) << c.text;
    EXPECT_EQ(text.Capacity(), text.Count()) << c.text;  // no spare room kept
  }
}

TEST(Tokenizer, RefusesEmptyInput) {
  CTokenizedText text;
  ASSERT_EQ(text.Tokenize("a b", 3), 0);
  const struct {
    const char* buffer;
    uint32_t length;
    const char* log;
  } cases[] = {
      {nullptr, 5, "invalid input"},
      {"abc", 0, "invalid input"},
      {" .,;:\\n", 7, "invalid input: buffer has only separators"},
  };
  for (const auto& c : cases) {
    tervo_test::CapturingTrace trace;
    EXPECT_EQ(text.Tokenize(c.buffer, c.length), -50);
    EXPECT_EQ(text.Count(), 0u);
    EXPECT_EQ(text.Tokens(), nullptr);
    EXPECT_EQ(trace.texts(), std::vector<std::string>{c.log});
  }
}

TEST(Tokenizer, CharacterClasses) {
  using nsPhraseMatch::kSeparator;
  using nsPhraseMatch::kSpecial;
  const struct {
    unsigned char c;
    uint8_t flags;
  } cases[] = {{'a', 0},          {'-', 0},        {0x80, 0},       {0, kSeparator},
               {'\\', kSeparator}, {'`', kSeparator}, {'$', kSpecial}, {'|', kSpecial},
               {'*', kSpecial},   {'"', kSeparator | kSpecial}, {'.', kSeparator | kSpecial}};
  for (const auto& c : cases) EXPECT_EQ(nsPhraseMatch::CharClass(c.c), c.flags) << static_cast<int>(c.c);
}

}  // namespace
