#include "common/sstring.h"

#include <gtest/gtest.h>
#include <locale.h>

#include <string>
#include <utility>

#include "common/ustring.h"
#include "tests/support/test_support.h"

namespace {

using ascommon::sstring;
using ascommon::usstring;

// Whether `p` points into the object itself (the inline buffer).
bool InsideObject(const sstring& s, const void* p) {
  const char* begin = reinterpret_cast<const char*>(&s);
  const char* q = static_cast<const char*>(p);
  return q >= begin && q < begin + sizeof(sstring);
}

std::string Text(const sstring& s) { return std::string(s.data(), s.length()); }

sstring Counted(const char* p, uint64_t n) {
  sstring s;
  s.assign(p, n);
  return s;
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

TEST(SString, InlineBelow24BytesWithTheTerminator) {
  for (size_t chars : {0, 22, 23, 100}) {
    std::string text(chars, 'k');
    sstring s;
    ASSERT_EQ(0, s.assign(text.c_str()));
    EXPECT_EQ(chars < 23, InsideObject(s, s.data())) << chars;
    EXPECT_EQ(chars + 1, s.size()) << chars;
    EXPECT_EQ(text, s.c_str());
  }
  // Construction from pointer and count stops the length at a zero; assign keeps the count.
  sstring z("ab\0cd", 5);
  EXPECT_EQ(2u, z.length());
  EXPECT_EQ('c', z.at(3));
  EXPECT_EQ(std::string("ab\0cd", 5), Text(Counted("ab\0cd", 5)));
  EXPECT_TRUE(sstring(nullptr, 3).is_null());
}

TEST(SString, AssignHandlesNullSelfAndOverlappingSources) {
  sstring s("hello");
  const char* before = s.data();
  EXPECT_EQ(0, s.assign(s.data()));
  EXPECT_EQ(before, s.data());
  s.assign(s.data() + 2);
  EXPECT_STREQ("llo", s.c_str());
  sstring h("0123456789012345678901234567890123456789");
  h.assign(h.data() + 5, 30);
  EXPECT_EQ("567890123456789012345678901234", Text(h));
  h.assign(h.data() + 20);
  EXPECT_STREQ("5678901234", h.c_str());
  EXPECT_TRUE(h.is_inline());
  h.assign(nullptr, 4);
  EXPECT_TRUE(h.is_null());
}

TEST(SString, CopyMoveAndConcatenation) {
  sstring reserved;
  reserved.fill(40, 0);
  sstring copy(reserved);
  EXPECT_EQ(40u, copy.size());
  EXPECT_NE(reserved.data(), copy.data());
  sstring null;
  copy = null;
  EXPECT_TRUE(copy.is_null());

  sstring big(std::string(40, 'b').c_str());
  const char* block = big.data();
  sstring moved(std::move(big));
  EXPECT_EQ(block, moved.data());
  EXPECT_TRUE(big.is_null());
  sstring small("abc");
  sstring moved_small(std::move(small));
  EXPECT_STREQ("abc", moved_small.c_str());
  EXPECT_TRUE(small.is_null());

  sstring a("left-");
  EXPECT_STREQ("left-right and a long tail", sstring(a, sstring("right and a long tail")).c_str());
  EXPECT_STREQ("left-", sstring(a, null).c_str());
  EXPECT_TRUE(sstring(null, null).is_null());
}

TEST(SString, FillWithCharacterOrZeroes) {
  sstring s;
  EXPECT_EQ(0, s.fill(3, 'x'));
  EXPECT_STREQ("xxx", s.c_str());
  // The character 0: a zeroed buffer of exactly count bytes, inline below 24.
  for (uint64_t count : {0u, 23u, 24u}) {
    EXPECT_EQ(0, s.fill(count, 0)) << count;
    EXPECT_EQ(count, s.size()) << count;
    EXPECT_EQ(count < 24, s.is_inline()) << count;
  }
  EXPECT_EQ(0, s.fill(30, 0));
  EXPECT_EQ(std::string(30, '\0'), std::string(s.data(), 30));
  memcpy(s.buffer(), "written", 7);
  EXPECT_EQ(0, s.set_length(7));
  EXPECT_STREQ("written", s.c_str());
  EXPECT_EQ(-250, s.set_length(30));
}

TEST(SString, AppendAcrossThe24ByteBoundary) {
  sstring s("0123456789");
  ASSERT_EQ(0, s.append("abcdefghijkl", 12));  // 22 chars + terminator
  EXPECT_TRUE(InsideObject(s, s.data()));
  ASSERT_EQ(0, s.append("x", 1));
  EXPECT_FALSE(InsideObject(s, s.data()));
  // Appending the string to itself reads from the block being replaced.
  s.append(s);
  EXPECT_EQ("0123456789abcdefghijklx0123456789abcdefghijklx", Text(s));
  EXPECT_EQ(0, s.append(nullptr, 5));
  EXPECT_EQ(0, s.append("zz", 0));
  EXPECT_EQ(47u, s.size());

  sstring null;
  EXPECT_EQ(0, null.append("hi", 2));
  EXPECT_STREQ("hi", null.c_str());

  // Old text in a heap block, short result: back into the inline buffer.
  sstring reserved;
  reserved.fill(40, 0);
  EXPECT_EQ(0, reserved.append("a\0b", 3));
  EXPECT_TRUE(InsideObject(reserved, reserved.data()));
  EXPECT_EQ(std::string("a\0b", 3), Text(reserved));
}

TEST(SString, FailedAllocationKeepsTheOldValue) {
  sstring s("keep me");
  EXPECT_EQ(-2, s.append("x", UINT64_MAX - 2));  // a size that cannot be expressed
  EXPECT_EQ(-2, s.error());
  EXPECT_EQ(-2, s.fill(UINT64_MAX, 'x'));
  EXPECT_STREQ("keep me", s.c_str());
  if (kAddressSanitizer) GTEST_SKIP() << "the address sanitizer aborts on impossible allocations";
  const uint64_t huge = uint64_t{1} << 62;
  EXPECT_EQ(-2, s.append("x", huge));
  EXPECT_EQ(-2, s.assign("x", huge));
  EXPECT_STREQ("keep me", s.c_str());
}

TEST(SString, CheckedIndexAnswersSpareOutOfRange) {
  sstring s("abc");
  EXPECT_EQ('\0', s.at(3));  // the terminator is within the size
  EXPECT_EQ(0, s.error());
  EXPECT_EQ('Y', s.at(4));
  EXPECT_EQ(-250, s.error());
  s.set_spare('?');
  EXPECT_EQ('?', s.at(100));
}

TEST(SString, CompareEqualityAndOrder) {
  sstring null;
  sstring abc("abc");
  EXPECT_EQ(-3, null.compare(abc));
  EXPECT_EQ(-3, null.error());
  EXPECT_EQ(-2, abc.compare(null));
  EXPECT_EQ(-2, abc.compare(static_cast<const char*>(nullptr)));
  struct Case {
    const char* a;
    const char* b;
    bool ignore_case;
    int32_t expected;
  } cases[] = {
      {"abc", "abc", false, 0}, {"abc", "abd", false, -1}, {"ab", "abc", false, -1},
      {"abc", "ab", false, 1},  {"\xFF", "a", false, 1},   {"ABC", "abc", false, -1},
      {"ABC", "abc", true, 0},  {"abcD", "ABCe", true, -1}, {"zz", "ZY", true, 1},
  };
  for (const Case& c : cases) {
    sstring a(c.a);
    EXPECT_EQ(c.expected, a.compare(sstring(c.b), c.ignore_case)) << c.a << " vs " << c.b;
    EXPECT_EQ(c.expected, a.compare(c.b, c.ignore_case)) << c.a << " vs " << c.b;
    EXPECT_EQ(0, a.error());
  }

  // Two nulls are neither equal nor ordered; exactly one null: unequal, and "less" both ways.
  sstring null2;
  EXPECT_FALSE(null == null2);
  EXPECT_FALSE(null != null2);
  EXPECT_FALSE(null < null2);
  EXPECT_TRUE(abc != null);
  EXPECT_TRUE(abc < null);
  EXPECT_TRUE(null < abc);
  EXPECT_FALSE(abc < abc);
  // Equality looks at the whole length, past embedded zeroes.
  EXPECT_FALSE(Counted("a\0b", 3) == Counted("a\0c", 3));
  EXPECT_TRUE(Counted("a\0b", 3) < Counted("a\0c", 3));
}

TEST(SString, FindSubstringsAndCharacters) {
  sstring s("Hello, World. Hello!");
  uint64_t pos = 99;
  EXPECT_TRUE(s.find(sstring("Hello!"), &pos));
  EXPECT_EQ(14u, pos);
  EXPECT_FALSE(s.find("world", &pos));
  EXPECT_TRUE(s.find_nocase("wORLD", &pos));
  EXPECT_EQ(7u, pos);
  EXPECT_TRUE(s.find_nocase("hELLO!", &pos));  // a match that ends the string
  EXPECT_EQ(14u, pos);
  EXPECT_TRUE(s.rfind('l', &pos));
  EXPECT_EQ(17u, pos);
  EXPECT_FALSE(s.rfind('z', &pos));

  sstring null;
  pos = 42;
  EXPECT_FALSE(null.find("a", &pos));
  EXPECT_FALSE(null.rfind('a', &pos));
  EXPECT_EQ(42u, pos);
  EXPECT_TRUE(Counted("ab\0cd", 5).find('d', &pos));  // past embedded zeroes
  EXPECT_EQ(4u, pos);
}

TEST(SString, HashIsDjb2XorOverSignedBytes) {
  EXPECT_EQ(0u, sstring().hash());
  const uint32_t a = (5381u * 33u) ^ 97u;
  EXPECT_EQ((a * 33u) ^ 98u, sstring("ab").hash());
  EXPECT_EQ((5381u * 33u) ^ 0xFFFFFF80u, sstring("\x80").hash());  // 0x80 mixes in as -128
}

TEST(SString, Utf8ToLowerGrowsTheBufferOrRejectsInvalidInput) {
  // U+023A lower-cases to U+2C65, one byte longer: the first attempts run out of room.
  std::string upper, lower;
  for (int i = 0; i < 40; ++i) {
    upper += "\xC8\xBA";
    lower += "\xE2\xB1\xA5";
  }
  sstring grow(upper.c_str());
  ASSERT_EQ(0, grow.UTF8_tolower(true));
  EXPECT_EQ(lower, Text(grow));

  tervo_test::CapturingTrace trace;
  sstring s("\x80");
  const char* before = s.data();
  EXPECT_EQ(-50, s.UTF8_tolower(true));
  EXPECT_EQ(-50, s.error());
  EXPECT_EQ(before, s.data());
  EXPECT_EQ(-50, s.UTF8_tolower(false));
  EXPECT_EQ(-50, s.UTF8_regex_tolower(true));
  EXPECT_EQ(-50, s.UTF8_regex_tolower(false));
  EXPECT_STREQ("\x80", s.c_str());
  ASSERT_EQ(4u, trace.lines().size());
  EXPECT_NE(std::string::npos, trace.lines()[0].find("[sstring::UTF8_tolower] invalid UTF-8 buffer"));
  EXPECT_EQ(-1, sstring().UTF8_tolower(false));
}

TEST(SString, ToUsstringFollowsTheLocaleEncoding) {
  locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  if (utf8 == static_cast<locale_t>(0)) GTEST_SKIP() << "no C.UTF-8 locale";
  locale_t previous = uselocale(utf8);
  usstring u;
  EXPECT_EQ(0, sstring("a\xE2\x82\xAC\xF0\x9F\x98\x80").to_usstring(&u));
  EXPECT_EQ(std::u16string(u"a\u20AC\U0001F600"), std::u16string(u.data(), u.length()));
  usstring kept(u"kept");
  EXPECT_EQ(-50, sstring("ok\xC3").to_usstring(&kept));
  EXPECT_EQ(std::u16string(u"kept"), kept.data());
  uselocale(previous);
  freelocale(utf8);
}

}  // namespace
