#include "common/utf8.h"

#include <gtest/gtest.h>

#include <string>

#include "common/lower_table.h"
#include "common/ustring.h"

namespace {

using namespace ascommon;

TEST(Utf8, ValidatorChecksStructureOnly) {
  struct Case {
    std::string bytes;
    bool valid;
  } cases[] = {
      {"", true},
      {"plain ascii", true},
      {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", true},
      {"\xC0\x80", true},          // overlong zero
      {"\xED\xA0\x80", true},      // surrogate
      {"\xF7\xBF\xBF\xBF", true},  // beyond U+10FFFF, still 4-byte shaped
      {"\xF8\x88\x80\x80\x80", false},
      {"\x80", false},
      {"\xC3", false},
      {"\xC3\x41", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.valid, Utf8Validate(c.bytes.data(), c.bytes.size())) << c.bytes;
  }
  EXPECT_FALSE(Utf8Validate(nullptr, 0));
}

TEST(Utf8, DecodeTakesBitsByLeadByte) {
  struct Case {
    std::string bytes;
    size_t length;
    char32_t cp;
  } cases[] = {
      {"A", 1, 0x41},
      {"\xC3\xA9", 2, 0xE9},
      {"\xE2\x82\xAC", 3, 0x20AC},
      {"\xF0\x9F\x98\x80", 4, 0x1F600},
      {"\x80\x41", 2, 0x01},          // a stray continuation byte reads as a lead
      {"\xF8\x80\x80\x81", 4, 0x01},  // no check of 0xF8
      {"\xC3", 0, 0},
  };
  for (const Case& c : cases) {
    char32_t cp = 0;
    EXPECT_EQ(c.length, Utf8Decode(c.bytes.data(), c.bytes.size(), &cp)) << c.bytes;
    EXPECT_EQ(c.cp, cp) << c.bytes;
  }
}

TEST(Utf8, EncodeUsesThreeBytesBelow0x40000) {
  struct Case {
    char32_t cp;
    size_t length;
  } cases[] = {{0x00, 1},   {0x7F, 1},    {0x80, 2},    {0x7FF, 2},   {0x800, 3},
               {0xFFFF, 3}, {0x10000, 3}, {0x3FFFF, 3}, {0x40000, 4}, {0x10FFFF, 4}};
  for (const Case& c : cases) {
    char out[4];
    EXPECT_EQ(c.length, Utf8Encode(c.cp, out)) << std::hex << uint32_t{c.cp};
    // Decoding gives back what was encoded, except in the three-byte range above the BMP.
    char32_t back = 0;
    if (c.cp >= 0x10000 && c.length == 3) continue;
    EXPECT_EQ(c.length, Utf8Decode(out, c.length, &back));
    EXPECT_EQ(c.cp, back);
  }
}

TEST(Utf8, LowerCaseLookupCoversEveryPair) {
  ASSERT_GT(kLowerCasePairCount, 1000u);
  for (size_t i = 0; i < kLowerCasePairCount; ++i) {
    const LowerCasePair& p = kLowerCasePairs[i];
    EXPECT_EQ(p.to, UnicodeToLower(p.from)) << std::hex << uint32_t{p.from};
  }
  struct Case {
    char32_t cp;
    char32_t lower;
  } cases[] = {{'A', 'a'},         {0x130, 0x69},      {0x10400, 0x10428}, {'z', 'z'},
               {0x10428, 0x10428}, {0xD800, 0xD800}, {0x10FFFF, 0x10FFFF}};
  for (const Case& c : cases) EXPECT_EQ(c.lower, UnicodeToLower(c.cp)) << std::hex << uint32_t{c.cp};

  // A code point sharing a bucket with a mapped one but not mapped itself keeps its value.
  const char32_t mapped = 0x10400;
  int checked = 0;
  for (char32_t cp = 0x10000; cp < 0x110000 && checked < 8; ++cp) {
    if (cp == mapped || LowerCaseBucket(cp) != LowerCaseBucket(mapped)) continue;
    bool has_pair = false;
    for (size_t i = 0; i < kLowerCasePairCount; ++i) has_pair |= kLowerCasePairs[i].from == cp;
    if (has_pair) continue;
    EXPECT_EQ(cp, UnicodeToLower(cp)) << std::hex << uint32_t{cp};
    ++checked;
  }
  EXPECT_EQ(8, checked);
}

TEST(Utf8, ToLowerWritesIntoTheCallersBuffer) {
  struct Case {
    std::string in;
    size_t cap;
    int32_t result;
    std::string out;
  } cases[] = {
      {"\xC3\x80" "BC \xD0\x90\xCE\x91 1", 64, 0, "\xC3\xA0" "bc \xD0\xB0\xCE\xB1 1"},
      {"\xF0\x90\x90\x80", 16, 0, "\xF0\x90\xA8"},  // U+10400 -> U+10428, in three bytes
      // A code point is written only with the position plus 4 within capacity.
      {"ab", 5, 0, "ab"},
      {"abc", 5, -51, "ab"},
      {"", 0, 0, ""},
      {"A\xE2\x82", 64, -50, "a"},  // truncated sequences stop the conversion
      {"\x80", 64, -50, ""},
  };
  for (const Case& c : cases) {
    std::string out(c.cap, '\0');
    size_t written = 0;
    EXPECT_EQ(c.result, Utf8ToLower(c.in.data(), c.in.size(), out.data(), c.cap, &written)) << c.in;
    EXPECT_EQ(c.out, out.substr(0, written)) << c.in;
  }
  char out[8];
  EXPECT_EQ(-1, Utf8ToLower(nullptr, 0, out, sizeof out, nullptr));
  EXPECT_EQ(-1, Utf8RegexToLower(nullptr, 0, out, sizeof out, nullptr));
}

TEST(Utf8, RegexToLowerRespectsSyntax) {
  struct Case {
    std::string in;
    std::string out;
  } cases[] = {
      {"\\W[I]I", "\\W[i](i|\xCC\x87)"},
      {"\\I", "\\I"},
      {"\\\\I", "\\\\(i|\xCC\x87)"},
      {"[A\\]I]I", "[a\\]i](i|\xCC\x87)"},
      {"I]I", "(i|\xCC\x87)](i|\xCC\x87)"},
      {"\xC4\xB0", "(i|\xCC\x87)"},                   // U+0130
      {"J", "(j|\xCC\x87)"},                          // U+004A
      {"\xC3\x8C", "(i|\xCC\x87|\xCC\x80)"},          // U+00CC
      {"[\xC4\xB0\xC3\x8C]", "[i\xC3\xAC]"},          // inside brackets: simple mapping
      {"\\\xC3\x80\xC3\x80", "\\\xC3\x80\xC3\xA0"},   // escaped multibyte kept
      {"(A|B)+", "(a|b)+"},
  };
  for (const Case& c : cases) {
    std::string out(64, '\0');
    size_t written = 0;
    EXPECT_EQ(0, Utf8RegexToLower(c.in.data(), c.in.size(), out.data(), out.size(), &written)) << c.in;
    EXPECT_EQ(c.out, out.substr(0, written)) << c.in;
  }

  // Each code point of a group is checked for room: the ")" at position 5 needs a capacity of 9.
  char out[16];
  size_t written = 0;
  EXPECT_EQ(-51, Utf8RegexToLower("I", 1, out, 8, &written));
  EXPECT_EQ(5u, written);
  EXPECT_EQ(0, Utf8RegexToLower("I", 1, out, 9, &written));
  EXPECT_EQ(6u, written);
}

TEST(Utf8, ToUtf16UnitsMakesSurrogatePairs) {
  char16_t out[8];
  size_t written = 0;
  const std::string text = "a\xF0\x9F\x98\x80\xC3\xA9";  // a, U+1F600, U+00E9
  ASSERT_EQ(0, Utf8ToUtf16Units(text.data(), text.size(), out, 8, &written));
  EXPECT_EQ(std::u16string(u"a\xD83D\xDE00\u00E9"), std::u16string(out, written));

  // The pair does not fit in 2 units after "a".
  EXPECT_EQ(-51, Utf8ToUtf16Units(text.data(), text.size(), out, 2, &written));
  EXPECT_EQ(1u, written);

  for (const std::string bad : {"\xC3\x41", "\x80", "\xF8\x88\x80\x80\x80", "\xE2\x82",
                                "\xF4\x90\x80\x80"}) {
    EXPECT_EQ(-50, Utf8ToUtf16Units(bad.data(), bad.size(), out, 8, &written)) << bad;
  }
  EXPECT_EQ(-1, Utf8ToUtf16Units(nullptr, 0, out, 8, &written));
}

TEST(Utf8, ToUsstringSizesToInputPlusOne) {
  const std::string text = "a\xF0\x9F\x98\x80";
  usstring s;
  ASSERT_EQ(0, Utf8ToUsstring(text.data(), text.size(), &s));
  EXPECT_EQ(std::u16string(u"a\U0001F600"), std::u16string(s.data(), s.length()));
  EXPECT_EQ(text.size() + 1, s.size());
  // Ill-formed input: the text converted before the bad byte remains; null input leaves it alone.
  EXPECT_EQ(-50, Utf8ToUsstring("ok\xC3\x28", 4, &s));
  EXPECT_EQ(-1, Utf8ToUsstring(nullptr, 3, &s));
  EXPECT_EQ(u"ok", std::u16string(s.data(), s.length()));
  ASSERT_EQ(0, Utf8ToUsstring("", 0, &s));
  EXPECT_TRUE(s.is_empty());
}

}  // namespace
