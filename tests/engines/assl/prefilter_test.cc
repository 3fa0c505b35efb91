// The prefilter changes no verdict: walks with it off, on with every
// signature run, and on with only the planned signatures run agree.
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "src/engines/assl/engines.h"
#include "src/engines/assl/execunit.h"
#include "tests/support/sign_walk.h"
#include "tests/support/test_support.h"

namespace {

const char* const kWords[] = {"meet", "secret", "photo", "Home", "alone", "cam", "pic", "dog", "ok", "99"};

class Generator {
 public:
  explicit Generator(uint32_t seed) : rng_(seed) {}

  size_t Pick(size_t n) { return rng_() % n; }
  bool Chance(int percent) { return static_cast<int>(Pick(100)) < percent; }
  std::string Word() { return kWords[Pick(std::size(kWords))]; }

  // A pattern the prefilter takes, or (now and then) one it refuses or
  // takes only without its lookarounds.
  std::string Pattern() {
    if (Chance(12)) return Unusual();
    std::string pattern = Chance(15) ? "^" : "";
    for (size_t n = 1 + Pick(3); n > 0; --n) {
      pattern += Atom();
      if (n > 1) pattern += Chance(50) ? " " : (Chance(50) ? ".*" : "\\s*");
    }
    if (Chance(15)) pattern += "$";
    return Chance(15) ? pattern + "|" + Atom() : pattern;
  }

  // Words with separators, now and then a digit, an accented letter or
  // upper case.
  std::string Words() {
    static const char* const kSeparators[] = {" ", "  ", "\t", ", ", "! ", "\n", "-", " 7 "};
    std::string text;
    for (size_t n = 1 + Pick(10); n > 0; --n) {
      std::string word = Word();
      if (Chance(20)) word[0] = static_cast<char>(toupper(word[0]));
      if (Chance(10)) word += "\xc3\xa9";
      text += word + (n > 1 ? kSeparators[Pick(std::size(kSeparators))] : "");
    }
    return text;
  }

  std::string Message() {
    switch (Pick(12)) {
      case 0: {
        std::string bytes;
        for (size_t n = 1 + Pick(40); n > 0; --n) bytes += static_cast<char>(1 + Pick(255));
        return bytes;
      }
      case 1: return Words() + "\xff\xc3" + Words();  // invalid UTF-8
      case 2: return Words() + "\v" + Words();
      case 3: return Words() + "\n";
      case 4: return "";
      default: return Words();
    }
  }

 private:
  std::string Atom() {
    const std::string w = Word(), v = Word();
    switch (Pick(14)) {
      case 0: return "\\b" + w + "\\b";
      case 1: return w + "\\s+" + v;
      case 2: return w + "\\w+";
      case 3: return Chance(50) ? "\\d+" : "\\d{2,3}";
      case 4: return w.substr(0, 1) + "." + w.substr(1);
      case 5: return "[" + w.substr(0, 2) + "]" + w.substr(1);
      case 6: return "[[:alpha:]]+" + w;
      case 7: return "(?:" + w + "|" + v + ")";
      case 8: return w + (Chance(50) ? "?" : (Chance(50) ? "*" : "{1,3}"));
      case 9: return "[^a-z ]" + w;
      case 10: return Chance(50) ? "\\W" + w : w + "\\S+";
      case 11: return Chance(50) ? "[[:space:]]" + w : w + "[[:punct:]]";
      case 12: return w + ".";
      default: return w;
    }
  }

  std::string Unusual() {
    const std::string w = Word(), v = Word();
    switch (Pick(8)) {
      case 0: return w + "(?=\\s" + v + ")";
      case 1: return "(" + w + ")\\s\\1";
      case 2: return w + "\\v" + v;
      case 3: return "\\p{L}+" + w;
      case 4: return "(?i)" + w;
      case 5: return "\\Q" + w + ".\\E";
      case 6: return "(?<![" + v + "])" + w + (Chance(50) ? "(?<=" + v.substr(1) + ")" : "");
      default: return w + "(?!" + v + ")";
    }
  }

  std::mt19937 rng_;
};

// A rule set of `count` rules: pattern and exact matches, metarules over
// earlier rules, signatures and weak cues, some disabled, some marking.
std::string RuleSet(Generator& g, int count) {
  static const char* const kCategories[] = {"grooming: child, teen", "Self-Harm: CHILD, Adult",
                                            "bullying: adult", "spam", "sexual: teen"};
  std::vector<std::string> names;
  std::string text;
  for (int i = 0; i < count; ++i) {
    const std::string name = "r" + std::to_string(i);
    std::string condition;
    if (names.size() >= 2 && g.Chance(15)) {
      condition = (g.Chance(20) ? "!" : "") + names[g.Pick(names.size())];
      for (size_t n = 1 + g.Pick(2); n > 0; --n) {
        condition += (g.Chance(50) ? " && " : " || ") + names[g.Pick(names.size())];
      }
    } else if (g.Chance(10)) {
      condition = "match(\"" + g.Word() + "\", IM::Text, " + (g.Chance(50) ? "EXACT" : "EXACT_INSENSITIVE") + ")";
    } else {
      condition = "match(\"" + g.Pattern() + "\", IM::Text, " + (g.Chance(50) ? "REGEX" : "REGEX_INSENSITIVE") + ")";
    }
    const bool meta = condition.rfind("match(", 0) != 0;
    const std::string actions = g.Chance(60) ? "mark(\"" + std::string(kCategories[g.Pick(std::size(kCategories))]) +
                                                   "\", " + std::to_string(g.Pick(100)) + ")"
                                             : "none";
    std::string metadata = g.Chance(70) ? "priority = " + std::to_string(g.Pick(60)) + ";" : "";
    if (g.Chance(10)) metadata += " enabled = false;";
    text += std::string(meta ? "metarule " : "rule ") + name + " { condition: " + condition + "; actions: " +
            actions + "; metadata: " + (metadata.empty() ? "none;" : metadata) + " }\n";
    names.push_back(name);
  }
  return text;
}

// The rules `rules` built with the prefilter off and on.
struct EnginePair {
  explicit EnginePair(const std::string& rules) {
    std::ofstream(dir.File("im_sign.slf"), std::ios::binary) << rules;
    ok = tervo_test::InitEngines(&off, tervo_test::ProgramFolder(), dir.path(), false) &&
         tervo_test::InitEngines(&on, tervo_test::ProgramFolder(), dir.path(), true) && off.AsslEngine() != nullptr &&
         on.AsslEngine() != nullptr;
  }

  // Walks an item on both, every signature and (with the prefilter) the
  // planned ones, and expects the same walk; counts the planned walks and
  // the signatures they passed over.
  tervo_test::SignWalk ExpectAlike(const std::string& text, const std::string& second) {
    SCOPED_TRACE("text [" + text.substr(0, 200) + "] second [" + second.substr(0, 200) + "]");
    tervo_test::SignWalk every = tervo_test::RunSignWalk(&off, text, second, true);
    EXPECT_FALSE(every.planned);
    for (const bool use_plan : {false, true}) {
      const tervo_test::SignWalk walk =
          tervo_test::RunSignWalk(&on, text, second, use_plan, use_plan ? &reused : nullptr);
      EXPECT_EQ(tervo_test::WalkDifference(every, walk), "") << (use_plan ? "planned" : "every signature");
      if (!walk.planned) continue;
      ++planned;
      skipped += walk.results.size() - walk.ran;
    }
    return every;
  }

  tervo_test::TempDir dir;
  nsAssl::Engines off, on;
  nsAssl::ExecUnit reused;  // the planned walks share it, as the filter's items do
  bool ok = false;
  size_t planned = 0, skipped = 0;
};

TEST(PrefilterDifferential, RandomRuleSetsWalkAlike) {
  for (uint32_t seed : {1u, 2u, 3u, 4u, 5u}) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    Generator g(seed);
    EnginePair engines(RuleSet(g, 100 + 50 * static_cast<int>(seed % 5)));
    ASSERT_TRUE(engines.ok);
    std::vector<std::string> messages(300);
    for (std::string& m : messages) m = g.Message();
    while (messages.back().size() < 64 * 1024) messages.back() += g.Words() + " ";
    size_t hits = 0;
    for (const std::string& text : messages) {
      const std::string second = g.Chance(20) ? g.Message() : tervo_test::LoweredText(text);
      hits += engines.ExpectAlike(text, second).hits.size();
    }
    EXPECT_GT(engines.planned, messages.size() / 2);
    EXPECT_GT(engines.skipped, 0u);
    EXPECT_GT(hits, 0u);
  }
}

// One scan of the text stands for both only where the second text is the
// text lowered; a negated class that may hold upper-case letters (here
// through a range) has both texts scanned apart.
TEST(PrefilterDifferential, OneScanForBothTextsOnlyWhereItAnswersAlike) {
  const std::string rules =
      "rule a { condition: match(\"Cat\", IM::Text, REGEX); actions: none; metadata: priority = 3; }\n"
      "rule b { condition: match(\"dog\\b\", IM::Text, REGEX_INSENSITIVE); actions: none; metadata: priority = 2; }\n";
  const std::string negated =
      "rule c { condition: match(\"[^!-_]b\", IM::Text, REGEX_INSENSITIVE); actions: none; metadata: priority = 1; }\n";
  EnginePair joint(rules), apart(rules + negated);
  ASSERT_TRUE(joint.ok && apart.ok);
  const struct {
    EnginePair* engines;
    const char* text;
    const char* second;
    size_t hits;
  } cases[] = {{&joint, "Cat DOG", "cat dog", 2}, {&joint, "cat", "dog", 1}, {&joint, "Cat", "Cat", 1},
               {&joint, "xx", "xx", 0},           {&apart, "AB", "ab", 1},   {&apart, "Cat dog", "cat dog", 2}};
  for (const auto& c : cases) EXPECT_EQ(c.engines->ExpectAlike(c.text, c.second).hits.size(), c.hits) << c.text;
}

// A match rule the scan rules out answers 0.0 without running, but not once
// the item holds a result given to it (ExecWithResult): that result stands,
// also for a metarule naming it.
TEST(PrefilterDifferential, AGivenResultStandsOverTheScan) {
  EnginePair engines(
      "rule m { condition: match(\"zebra\", IM::Text, REGEX); actions: none; metadata: none; }\n"
      "metarule top { condition: m; actions: none; metadata: priority = 1; }\n");
  ASSERT_TRUE(engines.ok);
  nsAssl::CASSLEngine* engine = engines.on.AsslEngine();
  uint64_t m = 0, top = 0;
  ASSERT_EQ(engine->GetRuleIndex(ascommon::sstring("m"), &m), 0);
  ASSERT_EQ(engine->GetRuleIndex(ascommon::sstring("top"), &top), 0);
  for (const float given : {-1.0f, 0.0f, 1.0f}) {
    ascommon::CBlackBox io;
    ascommon::SItem item;
    item.io = &io;
    item.input.SetText(ascommon::IM_TEXT_KEY, "horse");
    item.input.SetText(ascommon::IM_AUX_TEXT_KEY, "horse");
    nsAssl::CImContextInterface context;
    context.SetItem(&item);
    ASSERT_EQ(context.UseRuleStates(engine->GetStateInfo()), 0);
    float result = 2.0f;
    if (given >= 0.0f) engine->rules().Rule(m)->ExecWithResult(given, &engines.on, &context);
    ASSERT_EQ(engine->ExecRule(top, &engines.on, &context, &result), 0);
    EXPECT_EQ(result, given > 0.0f ? given : 0.0f) << given;
  }
}

}  // namespace
