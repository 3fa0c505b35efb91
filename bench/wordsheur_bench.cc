// The words engine: scoring chat messages of about 90 bytes against about 400
// words in three categories (one thread, and two threads on one engine), and
// loading such a words file; then the same messages through the words
// filter's ProcessEntity in tervo.mdl, the way a host calls it. The engine runs
// with the dummy trace; the plug-in's trace is loaded with every line filtered
// out (TERVO_TRACE_LEVEL=-1). items_per_second is messages per second.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "common/binstreamer.h"
#include "host/plugin_host.h"
#include "host/settings.h"
#include "src/engines/wordsheur/imwords_format.h"
#include "src/engines/wordsheur/wordsheur.h"

namespace {

using ascommon::CArray;
using ascommon::CBinaryStreamer;
using ascommon::sstring;
using nsWordsHeur::CWordsHeurEngine;

constexpr int kCategories = 3;
constexpr int kWordsPerCategory = 134;  // 402 words in all
constexpr int kMessages = 1024;
constexpr size_t kMessageBytes = 90;

using tervo_bench::Dir;

using tervo_bench::Lcg;

std::string MakeWord(Lcg* rng) { return tervo_bench::MakeWord(rng, 4); }

std::vector<std::string>& ListedWords() {
  static std::vector<std::string> words = [] {
    Lcg rng(12345);
    std::vector<std::string> out;
    for (int i = 0; i < kCategories * kWordsPerCategory; ++i) out.push_back(MakeWord(&rng));
    return out;
  }();
  return words;
}

// Ordinary chat words; about one token in eight is taken from the list.
const char* const kChatWords[] = {
    "hey",   "what",  "are", "you",    "doing", "tonight", "lol",   "that",  "was",
    "so",    "funny", "did", "see",    "the",   "game",    "yeah",  "maybe", "later",
    "can't", "wait",  "for", "school", "ok",    "brb",     "mom",   "says",  "dinner",
    "send",  "me",    "pic", "new",    "phone", "haha",    "where", "u",     "at",
};
const char* const kPunctuation[] = {" ", " ", " ", ", ", "! ", "? ", "... ", " :) "};

std::vector<std::string>& Messages() {
  static std::vector<std::string> messages = [] {
    Lcg rng(777);
    std::vector<std::string> out;
    const auto& listed = ListedWords();
    for (int m = 0; m < kMessages; ++m) {
      std::string text;
      while (text.size() < kMessageBytes) {
        std::string word = rng.Next(8) == 0
                               ? listed[rng.Next(static_cast<uint32_t>(listed.size()))]
                               : kChatWords[rng.Next(sizeof kChatWords / sizeof *kChatWords)];
        if (rng.Next(5) == 0) word[0] = static_cast<char>(toupper(word[0]));
        text += word;
        text += kPunctuation[rng.Next(sizeof kPunctuation / sizeof *kPunctuation)];
      }
      text.resize(kMessageBytes);
      out.push_back(text);
    }
    return out;
  }();
  return messages;
}

const std::string& WordsFile() {
  static const std::string path = [] {
    const std::string file = Dir().File(nsImModules::kWordsDataFile);
    const auto& words = ListedWords();
    std::vector<nsWordsHeur::WordsCategory> categories(kCategories);
    for (int c = 0; c < kCategories; ++c) {
      categories[c] = {"category" + std::to_string(c), 40, 30, 50, 0, {}};
      for (int w = 0; w < kWordsPerCategory; ++w) {
        categories[c].words.emplace_back(words[c * kWordsPerCategory + w], 5 + w % 20);
      }
    }
    tervo_test::WriteWordsFile(file, categories);
    return file;
  }();
  return path;
}

CWordsHeurEngine& Engine() {
  static CWordsHeurEngine engine;
  static const int32_t loaded = engine.LoadIMCategories(WordsFile().c_str(), sstring(Dir().path().c_str()));
  (void)loaded;
  return engine;
}

void BM_ScoreChatMessage(benchmark::State& state) {
  CWordsHeurEngine& engine = Engine();
  if (engine.GetCategoryCount() != kCategories) {
    state.SkipWithError("the words file did not load");
    return;
  }
  const auto& messages = Messages();
  CArray<const char*, 64> texts;
  texts.Add(nullptr);
  sstring names;
  sstring details;
  int32_t score = 0;
  uint8_t fired = 0;
  size_t next = static_cast<size_t>(state.thread_index()) * 97;
  int64_t fired_count = 0;
  for (auto _ : state) {
    texts[0] = messages[next % kMessages].c_str();
    ++next;
    engine.ScoreIMTexts(texts, nsWordsHeur::kAgeAdult, &score, &names, &details, &fired, -1);
    fired_count += fired;
    benchmark::DoNotOptimize(score);
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["fired_share"] =
      benchmark::Counter(static_cast<double>(fired_count), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_ScoreChatMessage);
BENCHMARK(BM_ScoreChatMessage)->Threads(2)->UseRealTime();

// The same messages against an empty list: the cost of splitting, lower-casing
// and hashing the tokens alone.
void BM_TokenizeChatMessage(benchmark::State& state) {
  const CWordsHeurEngine engine;
  const auto& messages = Messages();
  CArray<const char*, 64> texts;
  texts.Add(nullptr);
  sstring names;
  sstring details;
  int32_t score = 0;
  uint8_t fired = 0;
  size_t next = 0;
  for (auto _ : state) {
    texts[0] = messages[next % kMessages].c_str();
    ++next;
    engine.ScoreIMTexts(texts, nsWordsHeur::kAgeAdult, &score, &names, &details, &fired, -1);
    benchmark::DoNotOptimize(score);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TokenizeChatMessage);

void BM_LoadWordsFile(benchmark::State& state) {
  const std::string& path = WordsFile();
  const sstring work(Dir().path().c_str());
  CWordsHeurEngine engine;
  for (auto _ : state) {
    if (engine.LoadIMCategories(path.c_str(), work) != 0) {
      state.SkipWithError("the words file did not load");
      return;
    }
    engine.ClearCategories();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LoadWordsFile);

// The plug-in with a words filter on the benchmark's words file.
tervo_bench::PluginWithFilter& Plugin() {
  static tervo_bench::PluginWithFilter loaded = [] {
    WordsFile();
    return tervo_bench::PluginWithFilter(nsImModules::kWordsFilterName);
  }();
  return loaded;
}

void BM_WordsFilterProcessEntity(benchmark::State& state) {
  tervo_bench::RunProcessEntity(state, Plugin().filter, Messages());
}
BENCHMARK(BM_WordsFilterProcessEntity);
BENCHMARK(BM_WordsFilterProcessEntity)->Threads(2)->UseRealTime();

}  // namespace
