// The Markovian filter with real models: the age factor against the class
// thresholds, the verdict keys, and merging reloads.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/binstreamer.h"
#include "tests/tervo/model_writer.h"
#include "tests/tervo/plugin_fixture.h"

namespace tervo_test {
namespace {

class MarkovianFilterTest : public PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    settings_.SetString("/im/general/ImSharedDataPath", data_.path());
    filter_ = Create(kMarkovianName);
    ASSERT_NE(nullptr, filter_);
    ASSERT_EQ(0, Open(filter_, 1, "child", 1));
    ASSERT_EQ(0, Open(filter_, 2, "teen", 1));
    ASSERT_EQ(0, Open(filter_, 3, "adult", 1));
  }

  // The verdict text for `text` in session `id`, "" when nothing was written;
  // checks the flag and value keys agree with it.
  std::string Verdict(uint64_t id, const char* text) {
    tervo_host::Item item(text, nullptr, nullptr);
    EXPECT_EQ(0, filter_->ProcessEntity(id, item.get(), 0)) << LastMessage();
    const std::string verdict = item.Text(ascommon::IM_MARKOVIAN_TEXT_KEY);
    EXPECT_EQ(!verdict.empty(), item.Flag(ascommon::IM_MARKOVIAN_FLAG_KEY));
    EXPECT_EQ(verdict.empty() ? -1 : 0, item.Number(ascommon::IM_MARKOVIAN_VALUE_KEY, -1));
    return verdict;
  }

  TempDir data_;
  CAFilter* filter_ = nullptr;
};

TEST_F(MarkovianFilterTest, AgeFactorScalesTheThreshold) {
  WriteModel(data_.File("im_markovian.dat"),
             {{"risk", 10, {{8, {"meet", "me"}}, {1, {"come", "alone"}}, {1, {"right", "now"}}}}});
  ASSERT_EQ(0, filter_->ApplySharedSettings()) << LastMessage();
  EXPECT_EQ("", Verdict(1, "meet me, come alone"));                       // 9 < 10
  EXPECT_EQ("<risk;10>", Verdict(1, "meet me, come alone right now"));    // 10
  EXPECT_EQ("<risk;8>", Verdict(2, "meet me"));                           // 8 >= 10 x 0.8
  EXPECT_EQ("", Verdict(2, "come alone"));
  // An adult session (factor 0.0) reports every class with a positive threshold.
  EXPECT_EQ("<risk;0>", Verdict(3, "hello there"));
}

TEST_F(MarkovianFilterTest, VerdictListsFiredClassesInNameOrder) {
  WriteModel(data_.File("im_markovian.dat"),
             {{"beta", 5, {{7, {"ab", "cd"}}}},
              {"alpha", 5, {{12, {"ef", "gh"}}}},
              {"zero", 0, {{50, {"ab", "cd"}}}}});
  ASSERT_EQ(0, filter_->ApplySharedSettings());
  EXPECT_EQ("<alpha;12><beta;7>", Verdict(1, "ab cd, ef gh"));
  // A class with threshold 0 never fires, even for an adult session.
  EXPECT_EQ("<alpha;0><beta;0>", Verdict(3, "nothing"));
  // One-letter words are dropped: "a b cd ef" matches like "cd ef".
  EXPECT_EQ("<alpha;12>", Verdict(1, "e f ef x gh"));
}

TEST_F(MarkovianFilterTest, ReloadMergesOnlyWhenTheSizeChanges) {
  ASSERT_EQ(-204, filter_->ApplySharedSettings());
  EXPECT_EQ("[IM Markovian Filter] No data file. Creating 0", LastMessage());
  ASSERT_EQ(-201, filter_->ApplySharedSettings());

  WriteModel(data_.File("im_markovian.dat"), {{"first", 1, {{5, {"ab", "cd"}}}}});
  ASSERT_EQ(0, filter_->ApplySharedSettings());
  EXPECT_EQ("<first;5>", Verdict(1, "ab cd ef gh"));

  // Same size: not read, even though its class differs.
  WriteModel(data_.File("im_markovian.dat"), {{"secnd", 1, {{5, {"ef", "gh"}}}}});
  ASSERT_EQ(0, filter_->ApplySharedSettings());
  EXPECT_EQ("<first;5>", Verdict(1, "ab cd ef gh"));

  // Another size: merged, the first class stays.
  WriteModel(data_.File("im_markovian.dat"), {{"second", 1, {{6, {"ef", "gh"}}}}});
  ASSERT_EQ(0, filter_->ApplySharedSettings());
  EXPECT_EQ("<first;5><second;6>", Verdict(1, "ab cd ef gh"));
}

}  // namespace
}  // namespace tervo_test
