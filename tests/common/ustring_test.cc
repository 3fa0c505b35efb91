#include "common/ustring.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace {

using ascommon::usstring;

std::u16string Text(const usstring& s) { return std::u16string(s.data(), s.length()); }

TEST(USString, EveryBufferIsAnExactHeapBlock) {
  for (const char16_t* text : {u"", u"short", u"a text well past any inline limit"}) {
    usstring s(text);
    ASSERT_FALSE(s.is_null());
    const char* begin = reinterpret_cast<const char*>(&s);
    const char* data = reinterpret_cast<const char*>(s.data());
    EXPECT_FALSE(data >= begin && data < begin + sizeof(usstring)) << s.length();
    EXPECT_EQ(std::u16string(text), s.data());
    EXPECT_EQ(s.length() + 1, s.size());
  }
  EXPECT_EQ(std::u16string(u"ab\0c", 4), Text(usstring(u"ab\0c", 4)));
}

TEST(USString, CopyCarriesKindAssignmentDoesNot) {
  usstring s(u"text");
  s.set_kind(7);
  usstring copy(s);
  EXPECT_EQ(7u, copy.kind());
  EXPECT_NE(s.data(), copy.data());
  usstring moved(std::move(copy));
  EXPECT_EQ(7u, moved.kind());
  EXPECT_TRUE(copy.is_null());
  usstring assigned;
  assigned = s;
  EXPECT_EQ(0u, assigned.kind());
  // The copy takes the other's whole buffer, not only its text.
  usstring reserved;
  reserved.fill(10, 0);
  EXPECT_EQ(11u, usstring(reserved).size());
}

TEST(USString, AssignFillAppendAndLength) {
  usstring s(u"value");
  s.set_kind(3);
  EXPECT_EQ(0, s.assign(nullptr));
  EXPECT_TRUE(s.is_null());
  EXPECT_EQ(0u, s.size());
  EXPECT_EQ(3u, s.kind());
  // Own data pointer: nothing happens; a tail of it: copied before freeing.
  s = u"again";
  const char16_t* before = s.data();
  EXPECT_EQ(0, s.assign(s.data()));
  EXPECT_EQ(before, s.data());
  s.assign(s.data() + 2);
  EXPECT_EQ(u"ain", Text(s));

  EXPECT_EQ(0, s.fill(3, u'\u00E9'));
  EXPECT_EQ(u"\u00E9\u00E9\u00E9", Text(s));
  EXPECT_EQ(0, s.fill(5, 0));
  s.buffer()[0] = u'x';
  EXPECT_EQ(0, s.set_length(1));
  EXPECT_EQ(u"x", Text(s));
  EXPECT_EQ(-250, s.set_length(6));

  usstring a(u"ab");
  EXPECT_EQ(0, a.append(u"cd", 2));
  a += a;
  EXPECT_EQ(u"abcdabcd", Text(a));
  EXPECT_EQ(0, a.append(nullptr, 2));
  EXPECT_EQ(-2, a.append(u"x", UINT64_MAX - 1));  // a size that cannot be had
  EXPECT_EQ(u"abcdabcd", Text(a));

  EXPECT_EQ(u'\0', a.at(8));
  EXPECT_EQ(0, a.error());
  EXPECT_EQ(char16_t{89}, a.at(9));
  EXPECT_EQ(-250, a.error());
  EXPECT_EQ(char16_t{89}, usstring().at(0));
}

TEST(USString, CompareAndOrder) {
  usstring null;
  usstring abc(u"abc");
  EXPECT_EQ(-3, null.compare(abc));
  EXPECT_EQ(-2, abc.compare(null));
  EXPECT_EQ(-2, abc.compare(static_cast<const char16_t*>(nullptr)));
  struct Case {
    const char16_t* a;
    const char16_t* b;
    bool ignore_case;
    int32_t expected;
  } cases[] = {
      {u"abc", u"abc", false, 0},  {u"ab", u"abc", false, -1},
      {u"\uFFFF", u"a", false, 1}, {u"ABC", u"abc", false, -1},
      {u"\u00C4BC", u"\u00E4bc", true, 0}, {u"b", u"A", true, 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected, usstring(c.a).compare(usstring(c.b), c.ignore_case));
    EXPECT_EQ(c.expected, usstring(c.a).compare(c.b, c.ignore_case));
  }
  usstring null2;
  EXPECT_FALSE(null == null2);
  EXPECT_FALSE(null < null2);
  EXPECT_TRUE(abc != null);
  EXPECT_TRUE(abc < null);
  EXPECT_TRUE(null < abc);
  EXPECT_TRUE(abc < usstring(u"abd"));
  EXPECT_FALSE(usstring(u"abd") < abc);
}

TEST(USString, Find) {
  usstring s(u"Stra\u00DFe STRA\u00DFE");
  uint64_t pos = 0;
  EXPECT_TRUE(s.find(u"\u00DFe", &pos));
  EXPECT_EQ(4u, pos);
  EXPECT_TRUE(s.find_nocase(u"a\u00DFE s", &pos));
  EXPECT_EQ(3u, pos);
  EXPECT_TRUE(s.rfind(u'\u00DF', &pos));
  EXPECT_EQ(11u, pos);
  EXPECT_FALSE(s.rfind(u'x', &pos));
  EXPECT_FALSE(usstring().find(u"a", &pos));
}

}  // namespace
