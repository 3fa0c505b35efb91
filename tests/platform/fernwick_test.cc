#include "platform/fernwick/fernwick.h"

#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <thread>
#include <vector>

namespace {

// Objects of both kinds (0 interpreted, 1 JIT), freed with the fixture.
class FernwickTest : public ::testing::Test {
 protected:
  ~FernwickTest() override {
    for (FernwickRegEx* regex : objects_) DeleteRegEx(regex);
  }

  // A compiled object, or null when `pattern` is refused; *code gets the compile result.
  FernwickRegEx* Compiled(int fast, const std::string& pattern, uint32_t options = 0,
                          int32_t* code = nullptr) {
    objects_.push_back(fast ? NewFastRegEx() : NewRegEx());
    int32_t result = objects_.back()->Compile(pattern.data(), pattern.size(), options);
    if (code != nullptr) *code = result;
    return result == FERNWICK_OK ? objects_.back() : nullptr;
  }

  // Scans `subject` with `set`: the bit of every pattern of `taken` that Search finds must be set.
  void ExpectSetCovers(FernwickRegExSet* set, const std::vector<std::string>& taken,
                       const std::string& subject) {
    uint64_t bits[1] = {0};
    ASSERT_EQ(set->Scan(subject.data(), subject.size(), bits), 1) << subject;
    for (size_t i = 0; i < taken.size(); ++i) {
      EXPECT_GE((bits[0] >> i) & 1, Compiled(1, taken[i])->Search(subject.data(), subject.size(), 0))
          << "[" << taken[i] << "] on [" << subject << "]";
    }
  }

  std::vector<FernwickRegEx*> objects_;
};

TEST_F(FernwickTest, SearchAnswersAsPcreOnAnyBytes) {
  struct Case {
    const char* pattern;
    uint32_t options;
    std::string subject;
    size_t start;
    uint8_t match;
  } cases[] = {
      {"ab+c", 0, "xxabbbc", 0, 1},
      {"ab+c", 0, "xxac", 0, 0},
      {"ab+c", 0, "abc", 1, 0},  // the start offset is honoured
      {"ab+c", 0, "abc", 4, 0},  // a start past the end matches nothing
      {"HELLO", 0, "hello", 0, 0},
      {"HELLO", FERNWICK_CASELESS, "hello", 0, 1},
      {"^b$", 0, "a\nb", 0, 0},
      {"^b$", FERNWICK_MULTILINE, "a\nb", 0, 1},
      {"^.$", 0, "\xc3\xa9", 0, 1},  // one UTF-8 character
      {"hello", 0, "\xff\xfe hello \xc3", 0, 1},  // invalid UTF-8 around a match
      {"^.", 0, "\xff", 0, 0},  // an invalid byte is no character
      {"a\\0b", 0, std::string("a\0b", 3), 0, 1},
      {"\\w", 0, "\xc3\xa9", 0, 0},
      {"\\w", FERNWICK_UCP, "\xc3\xa9", 0, 1},
      {"\\W", 0, "\xc3\xa9", 0, 1},  // without UCP, no word character
      {"a\\D\\S$", 0, "a\xc3\xa9\xe2\x80\x94", 0, 1},
      {"\\W", 0, "\xc3\xa9" "abcdefgh", 0, 1},  // the character among eight bytes read at once
      {"\\W", FERNWICK_UCP, "\xc3\xa9", 0, 0},
      {"", 0, "", 0, 1},
  };
  for (int fast = 0; fast < 2; ++fast) {
    for (const Case& c : cases) {
      FernwickRegEx* regex = Compiled(fast, c.pattern, c.options);
      ASSERT_NE(regex, nullptr) << c.pattern;
      EXPECT_EQ(regex->Search(c.subject.data(), c.subject.size(), c.start), c.match)
          << fast << " " << c.pattern << " on " << c.subject;
    }
  }
}

TEST_F(FernwickTest, RefusedPatternsMatchNothing) {
  const struct {
    std::string pattern;
    uint32_t options;
  } cases[] = {{"[", 0}, {"(a", 0}, {"\xff", 0}, {"a\\Cb", 0}, {"a", 0x100}};
  for (int fast = 0; fast < 2; ++fast) {
    for (const auto& c : cases) {
      int32_t code = 0;
      EXPECT_EQ(Compiled(fast, c.pattern, c.options, &code), nullptr) << c.pattern;
      EXPECT_NE(code, FERNWICK_OK);
      EXPECT_STRNE(objects_.back()->ErrorText(), "") << c.pattern;
      EXPECT_EQ(objects_.back()->Search("[(a", 3, 0), 0) << c.pattern;
    }
  }
  // A later good pattern replaces the refused one and clears the error.
  ASSERT_EQ(objects_.back()->Compile("b", 1, 0), FERNWICK_OK);
  EXPECT_STREQ(objects_.back()->ErrorText(), "");
  EXPECT_EQ(objects_.back()->Search("abc", 3, 0), 1);
}

TEST_F(FernwickTest, FindGivesTheSpanAndARunawaySearchIsCutOff) {
  for (int fast = 0; fast < 2; ++fast) {
    FernwickRegEx* word = Compiled(fast, "b+");
    size_t begin = 0, end = 0;
    EXPECT_EQ(word->Find("aabbbc", 6, 0, &begin, &end), FERNWICK_MATCH);
    EXPECT_EQ(begin, 2u);
    EXPECT_EQ(end, 5u);

    FernwickRegEx* runaway = Compiled(fast, "(a+)+$");
    const std::string subject = std::string(30, 'a') + "b";
    EXPECT_EQ(runaway->Find(subject.data(), subject.size(), 0, &begin, &end), FERNWICK_E_LIMIT);
    EXPECT_EQ(runaway->Search(subject.data(), subject.size(), 0), 0);
    EXPECT_EQ(runaway->LimitHits(), 2u);
    EXPECT_EQ(word->LimitHits(), 0u);
  }
}

TEST_F(FernwickTest, ThreadsSearchOneObjectAtOnce) {
  FernwickRegEx* regex = Compiled(1, "\\b(?:free|win)\\w* (?:money|prize)");
  const std::vector<std::string> subjects = {"win prize now", "free moneys", "winning money",
                                             "no prize", std::string(300, 'w') + " prize",
                                             "freeze prize \xff"};
  const std::vector<uint8_t> expected = {1, 1, 1, 0, 0, 1};

  std::vector<int> mismatches(4, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 2000; ++i) {
        size_t k = (i + t) % subjects.size();
        mismatches[t] += regex->Search(subjects[k].data(), subjects[k].size(), 0) != expected[k];
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

TEST_F(FernwickTest, BuffMapCopiesTheTextAndTellsLines) {
  std::string text = "one\ntwo\n\nfour";
  FernwickBuffMap* map = MakeBuffMap(text.data(), text.size());
  ASSERT_NE(map, nullptr);
  text[0] = 'X';  // the map holds its own copy
  EXPECT_EQ(std::string(map->Data(), map->Size()), "one\ntwo\n\nfour");
  EXPECT_EQ(map->Data()[map->Size()], '\0');
  EXPECT_EQ(map->LineCount(), 4u);
  const size_t offsets[] = {0, 3, 4, 8, 9, 99}, lines[] = {0, 0, 1, 2, 3, 3};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(map->LineOf(offsets[i]), lines[i]) << offsets[i];
  DeleteBuffMap(map);
  EXPECT_EQ(MakeBuffMap(nullptr, 1), nullptr);
}

// A pattern set numbers the patterns it takes (a lookaround left out),
// refuses those whose meaning may differ from PCRE2's, declines subjects it
// cannot decide, and on the others sets the bit of every pattern Search
// finds: a clear bit is a sure "no match". (A set bit only says "may match":
// the set holds a(?=b) as a, which "ac" matches.)
TEST_F(FernwickTest, PatternSetAgreesWithSearch) {
  const char* const refused[] = {"(a)\\1", "a\\vb", "\\p{L}", "a(?i)cat", "\\Qa.b\\E", "a{,3}", "(?<n>a)",
                                 "a++", "\\Z", "(a", "a(?=b", "(?=(?i)a)b", "(*UCP)a", "(?#c)a"};
  const std::vector<std::string> taken = {"ab+c", "\\bcat\\b", "^dog$", "x\\sy", "[[:alpha:]]+7",
                                          "\\d{2,3}", "(?:a|b)c", "\xc3\xa9.", "", "\\W", "\\0", "a$",
                                          "a(?=b)", "(?<![\\w.])@[a-z]+", "x(?!y(?:z))", "[(?=]q(?<=q)"};
  FernwickRegExSet* set = NewRegExSet();
  ASSERT_NE(set, nullptr);
  uint64_t bits[1] = {0};
  for (size_t i = 0; i < taken.size(); ++i) {
    EXPECT_EQ(set->Add(taken[i].data(), taken[i].size()), static_cast<int32_t>(i)) << taken[i];
    EXPECT_STREQ(set->ErrorText(), "");
  }
  for (const char* pattern : refused) {
    EXPECT_EQ(set->Add(pattern, strlen(pattern)), -1) << pattern;
    EXPECT_STRNE(set->ErrorText(), "") << pattern;
  }
  EXPECT_EQ(set->Scan("abc", 3, bits), 0);  // not compiled yet
  ASSERT_EQ(set->Compile(), FERNWICK_OK);
  EXPECT_EQ(set->Count(), taken.size());
  EXPECT_EQ(set->Add("z", 1), -1);  // compiled: no more patterns

  const std::string declined[] = {"ab\xff", "x\vy", "dog\n", "\xed\xa0\x80", "\xc0\xaf", "\xf4\x90\x80\x80",
                                  "\xe2\x82", std::string(FERNWICK_SET_MAX_SUBJECT + 1, 'a')};
  for (const std::string& subject : declined) {
    EXPECT_EQ(set->Scan(subject.data(), subject.size(), bits), 0) << subject.substr(0, 8);
  }
  const std::string decided[] = {"xxabbbc", "a cat!", "dog", "dog\nx", "x\ty", "ab7 12", "bc", "\xc3\xa9z",
                                 "", "a\rb", std::string("a\0b", 3), "xa", "@ab", "x.@ab", "xyz", "=q"};
  for (const std::string& subject : decided) ExpectSetCovers(set, taken, subject);
  // Without their lookarounds the last four still rule a subject out.
  ASSERT_EQ(set->Scan("bc", 2, bits), 1);
  EXPECT_EQ(bits[0] >> 12, 0u);
  DeleteRegExSet(set);

  // A caseless pattern may hold nothing past ASCII; a set holding one
  // declines subjects past ASCII.
  set = NewRegExSet();
  const std::vector<std::string> caseless = {"(?i)cat\\b", "(?i)[a-c]\\w+", "(?i)x\\W", "(?i)[^k]s"};
  for (const std::string& pattern : caseless) EXPECT_GE(set->Add(pattern.data(), pattern.size()), 0) << pattern;
  for (const char* pattern : {"(?i)\xc3\xa9", "(?i)\\x41", "(?i)\\N{U+41}"}) {
    EXPECT_EQ(set->Add(pattern, strlen(pattern)), -1) << pattern;
  }
  ASSERT_EQ(set->Compile(), FERNWICK_OK);
  EXPECT_EQ(set->Scan("\xc3\xa9 cat", 7, bits), 0);
  for (const std::string subject : {"CAT", "a Cat.", "Bz", "X!", "dog", "KS", "aS"}) {
    ExpectSetCovers(set, caseless, subject);
  }
  ASSERT_EQ(set->Scan("dog", 3, bits), 1);
  EXPECT_EQ(bits[0], 0u);
  DeleteRegExSet(set);

  // An empty set decides every subject it can: nothing may match.
  set = NewRegExSet();
  ASSERT_EQ(set->Compile(), FERNWICK_OK);
  EXPECT_EQ(set->Scan("abc", 3, bits), 1);
  DeleteRegExSet(set);
}

}  // namespace
