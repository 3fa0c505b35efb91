// The Markovian filter with real models: the age factor against the class
// thresholds, the verdict keys, and merging reloads.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/binstreamer.h"
#include "src/engines/markovian/markovian_format.h"
#include "tests/tervo/plugin_fixture.h"

namespace tervo_test {
namespace {

struct Sequence {
  int32_t value;
  std::vector<std::string> words;
};
struct ModelClass {
  std::string name;
  int32_t threshold;
  std::vector<Sequence> sequences;  // all of one length
};

// Writes a model whose classes each hold one table of `words.size()`-word
// sequences.
void WriteModel(const std::string& path, const std::vector<ModelClass>& classes) {
  ascommon::CBinaryStreamer out(path.c_str(), ascommon::CBinaryStreamer::kModeWrite, ".", 1);
  nsMarkovian::MarkovianFileWriter writer(&out);
  writer.WriteClassCount(static_cast<uint32_t>(classes.size()));
  for (const ModelClass& c : classes) {
    const int32_t order = static_cast<int32_t>(c.sequences[0].words.size());
    writer.WriteClassHeader(ascommon::sstring(c.name.c_str()), c.threshold,
                            static_cast<uint32_t>(order + 1));
    for (int32_t k = 0; k < order; ++k) writer.WriteTableOrder(0);
    writer.WriteTableOrder(order);
    writer.WriteEntryCount(static_cast<uint32_t>(c.sequences.size()));
    for (const Sequence& s : c.sequences) {
      writer.WriteEntryValue(s.value);
      for (const std::string& w : s.words) {
        writer.WriteWord(nsMarkovian::WordHash(w.data(), w.size()), ascommon::sstring(w.c_str()));
      }
    }
  }
}

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
