// The Markovian engine: classifying chat messages of about 90 bytes, and
// texts of about 2 KB, through ClassifyText against a model of ten thousand
// word sequences (one, two and three words) in five classes, every class
// scored, factor 1.0. The messages are drawn from the model's vocabulary
// mixed with other words, so windows both match and miss. The engine runs
// with the dummy trace. items_per_second is messages per second.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "common/binstreamer.h"
#include "src/engines/markovian/markovian.h"
#include "src/engines/markovian/markovian_format.h"

namespace {

using ascommon::CBinaryStreamer;
using ascommon::sstring;
using nsMarkovian::CIMMarkovianEngine;
using nsMarkovian::MarkovianParams;
using nsMarkovian::MarkovianResults;
using tervo_bench::Dir;

constexpr int kClasses = 5;
constexpr int kGramsPerClass = 2000;  // 10000 in all
constexpr int kVocabulary = 3000;
constexpr int kMessages = 1024;

using tervo_bench::Lcg;

std::string MakeWord(Lcg* rng) { return tervo_bench::MakeWord(rng, 3); }

const std::vector<std::string>& Vocabulary() {
  static const std::vector<std::string> words = [] {
    Lcg rng(4242);
    std::vector<std::string> out;
    for (int i = 0; i < kVocabulary; ++i) out.push_back(MakeWord(&rng));
    return out;
  }();
  return words;
}

// Writes the model once and answers its path.
const std::string& ModelPath() {
  static const std::string path = [] {
    const std::string file = Dir().File(nsImModules::kMarkovianDataFile);
    const auto& vocabulary = Vocabulary();
    Lcg rng(777);
    std::vector<nsMarkovian::MarkovianClass> classes(kClasses);
    for (int c = 0; c < kClasses; ++c) {
      classes[c].name = "class" + std::to_string(c);
      classes[c].threshold = 40;
      for (int order = 1; order <= 3; ++order) {
        const int grams = order == 3 ? kGramsPerClass - 2 * (kGramsPerClass / 3)
                                     : kGramsPerClass / 3;
        for (int g = 0; g < grams; ++g) {
          nsMarkovian::MarkovianSequence s;
          s.value = 1 + static_cast<int32_t>(rng.Next(9));
          for (int w = 0; w < order; ++w) s.words.push_back(vocabulary[rng.Next(kVocabulary)]);
          classes[c].sequences.push_back(std::move(s));
        }
      }
    }
    tervo_test::WriteMarkovianFile(file, classes);
    return file;
  }();
  return path;
}

// Messages of about `bytes` bytes: half the words from the model's
// vocabulary, the rest random, with some punctuation and capitals.
std::vector<std::string> MakeMessages(size_t bytes, uint32_t seed) {
  Lcg rng(seed);
  const auto& vocabulary = Vocabulary();
  std::vector<std::string> out;
  for (int m = 0; m < kMessages; ++m) {
    std::string text;
    while (text.size() < bytes) {
      std::string word = rng.Next(2) == 0 ? vocabulary[rng.Next(kVocabulary)] : MakeWord(&rng);
      if (rng.Next(8) == 0) word[0] = static_cast<char>(word[0] - 'a' + 'A');
      text += word;
      text += rng.Next(6) == 0 ? ", " : " ";
    }
    out.push_back(text);
  }
  return out;
}

void ClassifyMessages(benchmark::State& state, size_t bytes) {
  CIMMarkovianEngine engine;
  if (engine.LoadModel(ModelPath().c_str()) != 0) {
    state.SkipWithError("the model did not load");
    return;
  }
  const std::vector<std::string> messages = MakeMessages(bytes, 99);
  MarkovianResults results;
  size_t i = 0;
  uint64_t fired = 0;
  for (auto _ : state) {
    MarkovianParams params;
    params.factor = 1.0f;
    params.allClasses = 1;
    const int32_t rc = engine.ClassifyText(messages[i].c_str(), &results, &params);
    benchmark::DoNotOptimize(rc);
    fired += results.scores.size();
    i = (i + 1) % messages.size();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
  state.counters["fired_per_msg"] =
      benchmark::Counter(static_cast<double>(fired) / static_cast<double>(state.iterations()));
}

void BM_ClassifyText90(benchmark::State& state) { ClassifyMessages(state, 90); }
BENCHMARK(BM_ClassifyText90);

void BM_ClassifyText2K(benchmark::State& state) { ClassifyMessages(state, 2048); }
BENCHMARK(BM_ClassifyText2K);

// The model's load: ten thousand sequences, five classes.
void BM_LoadModel(benchmark::State& state) {
  const std::string& path = ModelPath();
  for (auto _ : state) {
    CIMMarkovianEngine engine;
    benchmark::DoNotOptimize(engine.LoadModel(path.c_str()));
  }
}
BENCHMARK(BM_LoadModel)->Unit(benchmark::kMillisecond);

// The Markovian filter's ProcessEntity in tervo.mdl over the same model, one
// child session (factor 1.0, as ClassifyText above), items built once.
void FilterMessages(benchmark::State& state, size_t bytes) {
  static tervo_bench::PluginWithFilter loaded = [] {
    ModelPath();
    return tervo_bench::PluginWithFilter(nsImModules::kMarkovianFilterName, "child");
  }();
  tervo_bench::RunProcessEntity(state, loaded.filter, MakeMessages(bytes, 99));
}

void BM_MarkovianFilter90(benchmark::State& state) { FilterMessages(state, 90); }
BENCHMARK(BM_MarkovianFilter90);

void BM_MarkovianFilter2K(benchmark::State& state) { FilterMessages(state, 2048); }
BENCHMARK(BM_MarkovianFilter2K);

}  // namespace
