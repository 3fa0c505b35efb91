// The regular-expression library and the phrase tokenizer. A search through a
// fernwick fast regex object, loaded at run time as the plug-in loads it,
// against a bare pcre2_jit_match on the same pattern and subjects: chat
// messages of about 90 bytes, one in eight of them matching. Then the
// tokenizer on texts of about 90 bytes and 2 KB. items_per_second is
// messages per second.
#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "common/dynlib.h"
#include "platform/fernwick/fernwick.h"
#include "src/engines/phrasematch/tokenizer.h"

namespace {

using tervo_bench::Lcg;

// A chat-filter rule of the usual shape: look-alike letters, stretched words.
constexpr char kPattern[] = "\\b(?:f+r+e+e+|w+[i1]+n+)\\s*(?:m+o+n+e+y+|p+r+[i1]+z+e+)\\b";
constexpr int kMessages = 1024;

// Messages of about `bytes` bytes of made-up words; one in eight holds
// "win prize".
const std::vector<std::string>& Messages(size_t bytes) {
  static std::vector<std::string> sets[2];
  std::vector<std::string>& set = sets[bytes > 100];
  if (set.empty()) {
    Lcg rng(77);
    for (int i = 0; i < kMessages; ++i) {
      std::string text;
      while (text.size() < bytes) text += tervo_bench::MakeWord(&rng, 2) + ' ';
      if (i % 8 == 0) text.replace(text.size() / 2, 9, "win prize");
      set.push_back(text);
    }
  }
  return set;
}

void BM_FernwickSearch(benchmark::State& state) {
  void* lib = ascommon::LoadDynLib("fernwick.dll");
  auto make = reinterpret_cast<FernwickNewRegExFn>(ascommon::GetDynLibSymbol(lib, "NewFastRegEx"));
  auto destroy = reinterpret_cast<FernwickDeleteRegExFn>(ascommon::GetDynLibSymbol(lib, "DeleteRegEx"));
  if (make == nullptr || destroy == nullptr) return state.SkipWithError("no libfernwick");
  FernwickRegEx* regex = make();
  if (regex->Compile(kPattern, sizeof kPattern - 1, 0) != 0) return state.SkipWithError("compile");
  const auto& messages = Messages(90);
  size_t i = 0, matches = 0;
  for (auto _ : state) {
    const std::string& m = messages[i++ % kMessages];
    matches += regex->Search(m.data(), m.size(), 0);
  }
  benchmark::DoNotOptimize(matches);
  state.SetItemsProcessed(state.iterations());
  destroy(regex);
  ascommon::FreeDynLib(lib);
}
BENCHMARK(BM_FernwickSearch);

void BM_BarePcre2JitMatch(benchmark::State& state) {
  int error = 0;
  PCRE2_SIZE offset = 0;
  pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(kPattern), sizeof kPattern - 1,
                                   PCRE2_UTF | PCRE2_MATCH_INVALID_UTF, &error, &offset, nullptr);
  if (code == nullptr || pcre2_jit_compile(code, PCRE2_JIT_COMPLETE) != 0) {
    return state.SkipWithError("compile");
  }
  pcre2_match_data* data = pcre2_match_data_create(1, nullptr);
  const auto& messages = Messages(90);
  size_t i = 0, matches = 0;
  for (auto _ : state) {
    const std::string& m = messages[i++ % kMessages];
    matches += pcre2_jit_match(code, reinterpret_cast<PCRE2_SPTR>(m.data()), m.size(), 0, 0, data,
                               nullptr) >= 0;
  }
  benchmark::DoNotOptimize(matches);
  state.SetItemsProcessed(state.iterations());
  pcre2_match_data_free(data);
  pcre2_code_free(code);
}
BENCHMARK(BM_BarePcre2JitMatch);

void BM_Tokenize(benchmark::State& state) {
  const auto& messages = Messages(static_cast<size_t>(state.range(0)));
  nsPhraseMatch::CTokenizedText text;
  size_t i = 0, words = 0;
  for (auto _ : state) {
    const std::string& m = messages[i++ % kMessages];
    text.Tokenize(m.data(), static_cast<uint32_t>(m.size()));
    words += text.Count();
  }
  benchmark::DoNotOptimize(words);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Tokenize)->Arg(90)->Arg(2048);

}  // namespace
