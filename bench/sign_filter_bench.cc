// The signature filter: ProcessEntity in tervo.mdl, the way a host calls it,
// with the sample rules and with 10, 100 and 1,000 generated rules, with the
// prefilter and without it (TERVO_PREFILTER=0), beside a plain PCRE2 JIT loop
// over the same patterns on the same messages (chat lines joined to about 90
// bytes), and the prefilter's scan of the sample alone. The sample cases
// run on the sample chat (argument 0) and on ordinary chat (1): the chat lines
// that no sample pattern matches, on which no rule fires; the same and 1,000
// rules from two threads through one filter (items_per_second is then the
// two threads' sum). Then building
// 1,000 rules in full (JIT and prefilter included) and an incremental update
// of 10 of them. items_per_second is messages per second.
#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <benchmark/benchmark.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "src/engines/assl/asslengine.h"
#include "src/engines/fernwick/fernwicklib.h"

namespace {

using tervo_bench::Lcg;

constexpr int kMessages = 1024;
constexpr int kGeneratedRules = 1000;

std::string ReadSource(const std::string& name) {
  std::ifstream in(std::string(TERVO_SOURCE_DIR) + "/data/sample/" + name);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string Lowered(const std::string& text) {
  ascommon::sstring lowered;
  if (lowered.assign(text.data(), text.size()) != 0 || lowered.UTF8_tolower(false) != 0) return text;
  return std::string(lowered.c_str(), lowered.length());
}

// Chat lines joined until each message holds about 90 bytes.
struct Corpus {
  std::vector<std::string> texts, seconds;
};
Corpus Joined(const std::vector<std::string>& lines) {
  Corpus corpus;
  size_t next = 0;
  for (int i = 0; i < kMessages && !lines.empty(); ++i) {
    std::string text;
    while (text.size() < 80) text += lines[next++ % lines.size()] + " ";
    corpus.texts.push_back(text);
    corpus.seconds.push_back(Lowered(text));
  }
  return corpus;
}
std::vector<std::string> ChatLines() {
  std::vector<std::string> lines;
  std::istringstream chat(ReadSource("chat.txt"));
  for (std::string line; std::getline(chat, line);) lines.push_back(line);
  return lines;
}
// The sample chat.
const Corpus& Messages() {
  static const Corpus corpus = Joined(ChatLines());
  return corpus;
}

// 1,000 signatures of the shape chat filters use: two word lists with
// optional words between, half of them case-insensitive. Words are made up,
// so that, as with real rule sets, most rules match no message.
std::string GeneratedRules(uint32_t seed, int first, int count) {
  Lcg rng(seed);
  std::string rules;
  for (int i = first; i < first + count; ++i) {
    auto words = [&rng](int n) {
      std::string list;
      for (int w = 0; w < n; ++w) list += (w ? "|" : "") + tervo_bench::MakeWord(&rng, 3);
      return list;
    };
    const bool insensitive = i % 2 == 0;
    rules += "rule g" + std::to_string(i) + " { condition: match(\"\\b(?:" + words(3) +
             ")\\s+(?:\\w+\\s+)?(?:" + words(2) + ")\\b\", IM::Text, " +
             (insensitive ? "REGEX_INSENSITIVE" : "REGEX") + "); actions: mark(\"cat: child\", " +
             std::to_string(i % 100) + "); metadata: priority = " + std::to_string(i % 50) + "; }\n";
  }
  return rules;
}

// A data folder holding `files` (name, text).
std::string Folder(const char* name, const std::vector<std::pair<std::string, std::string>>& files) {
  const std::string folder = tervo_bench::Dir().File(name);
  std::filesystem::create_directories(folder);
  for (const auto& [file, text] : files) std::ofstream(folder + "/" + file) << text;
  return folder;
}

const std::string& SampleFolder() {
  static const std::string folder = Folder(
      "sample", {{"im_sign.slf", ReadSource("im_sign.slf")}, {"im_meta.slf", ReadSource("im_meta.slf")}});
  return folder;
}

// A folder of `count` generated rules (the first `count` of the 1,000).
std::string GeneratedFolder(int count = kGeneratedRules) {
  const std::string name = "generated" + std::to_string(count);
  if (!std::filesystem::exists(tervo_bench::Dir().File(name))) {
    Folder(name.c_str(), {{"im_sign.slf", GeneratedRules(7, 0, count)}});
  }
  return tervo_bench::Dir().File(name);
}

// The patterns of a folder's match rules as the engine compiles them, each
// with whether it reads the lower-cased second text.
struct Pattern {
  std::string text;
  bool second;
};
std::vector<Pattern> PatternsOf(const std::string& folder) {
  nsAssl::Engines engines;
  std::vector<Pattern> patterns;
  const std::string program = tervo_test::ProgramFolder();
  if (engines.LoadRegexLibrary(program.c_str()) != 0 || engines.Init(folder.c_str(), 4, 1) != 0) {
    return patterns;
  }
  const nsAssl::RuleTable& rules = engines.AsslEngine()->rules();
  for (uint64_t i = 0; i < rules.RuleCount(); ++i) {
    const auto* match = rules.Rule(i) == nullptr
                            ? nullptr
                            : dynamic_cast<const nsAssl::MatchCondition*>(rules.Rule(i)->condition());
    ascommon::sstring pattern;
    if (match == nullptr || !match->IsRegex() || match->Pattern(&pattern) != 0) continue;
    patterns.push_back({pattern.c_str(), match->how == nsAssl::kRegexInsensitive});
  }
  return patterns;
}

// The patterns of `folder` compiled by PCRE2 (JIT).
class Pcre2Patterns {
 public:
  explicit Pcre2Patterns(const std::string& folder) : data_(pcre2_match_data_create(1, nullptr)) {
    for (const Pattern& p : PatternsOf(folder)) {
      int error = 0;
      PCRE2_SIZE offset = 0;
      pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(p.text.data()), p.text.size(),
                                       PCRE2_UTF | PCRE2_MATCH_INVALID_UTF, &error, &offset, nullptr);
      if (code == nullptr || pcre2_jit_compile(code, PCRE2_JIT_COMPLETE) != 0) continue;
      codes_.push_back(code);
      second_.push_back(p.second);
    }
  }
  ~Pcre2Patterns() {
    pcre2_match_data_free(data_);
    for (pcre2_code* code : codes_) pcre2_code_free(code);
  }
  size_t size() const { return codes_.size(); }
  // How many patterns match message `m`, one after another.
  size_t Matches(const Corpus& corpus, size_t m) {
    size_t matches = 0;
    for (size_t c = 0; c < codes_.size(); ++c) {
      const std::string& subject = second_[c] ? corpus.seconds[m] : corpus.texts[m];
      matches += pcre2_jit_match(codes_[c], reinterpret_cast<PCRE2_SPTR>(subject.data()), subject.size(), 0, 0,
                                 data_, nullptr) > 0;
    }
    return matches;
  }

 private:
  std::vector<pcre2_code*> codes_;
  std::vector<bool> second_;
  pcre2_match_data* data_;
};

// Every pattern, one after another, on each message: what the rules' regular
// expressions cost on their own.
void RunPcre2Loop(benchmark::State& state, const std::string& folder) {
  Pcre2Patterns patterns(folder);
  if (patterns.size() == 0) return state.SkipWithError("no patterns");
  const Corpus& corpus = Messages();
  size_t i = 0, matches = 0;
  for (auto _ : state) matches += patterns.Matches(corpus, i++ % kMessages);
  benchmark::DoNotOptimize(matches);
  state.SetItemsProcessed(state.iterations());
  state.counters["patterns"] = static_cast<double>(patterns.size());
}

void BM_Pcre2LoopSample(benchmark::State& state) { RunPcre2Loop(state, SampleFolder()); }

// libfernwick's pattern set over the sample rules' patterns as the prefilter
// scans an ASCII message whose second text is the text lowered: the REGEX
// patterns as they stand and the lowered REGEX_INSENSITIVE ones caseless, all
// over the text.
class SampleSet {
 public:
  SampleSet() : lib_(nsFernwick::Load(tervo_test::ProgramFolder().c_str())), set_(nsFernwick::CreateRegExSet(lib_)) {
    if (set_ == nullptr) return;
    for (const Pattern& p : PatternsOf(SampleFolder())) {
      const std::string pattern = (p.second ? "(?i)" : "") + p.text;
      set_->Add(pattern.data(), pattern.size());
    }
    set_->Compile();
    bits_.resize(set_->Count() / 64 + 1);
  }
  ~SampleSet() {
    nsFernwick::DeleteRegExSet(lib_, set_);
    nsFernwick::Release(lib_);
  }
  bool ok() const { return set_ != nullptr; }
  size_t Count() const { return set_->Count(); }
  // Whether the scan of `text` was decided.
  bool Scan(const std::string& text) { return set_->Scan(text.data(), text.size(), bits_.data()) == 1; }

 private:
  nsFernwick::RegExLib* lib_;
  FernwickRegExSet* set_;
  std::vector<uint64_t> bits_;
};

// Ordinary chat: the sample chat's lines that no sample pattern matches,
// joined the same way, so that the sample rules fire on nothing.
const Corpus& QuietMessages() {
  static const Corpus corpus = [] {
    std::vector<std::string> quiet;
    Pcre2Patterns patterns(SampleFolder());
    for (const std::string& line : ChatLines()) {
      if (patterns.Matches(Corpus{{line}, {Lowered(line)}}, 0) == 0) quiet.push_back(line);
    }
    return Joined(quiet);
  }();
  return corpus;
}

// Argument 0: the sample chat; 1: ordinary chat.
const Corpus& SampleCorpus(const benchmark::State& state) {
  return state.range(0) == 0 ? Messages() : QuietMessages();
}

// The filter over `folder`, its rules built with the prefilter or without.
void RunFilter(benchmark::State& state, const std::string& folder, bool prefilter,
               const Corpus& corpus = Messages()) {
  if (!prefilter) setenv("TERVO_PREFILTER", "0", 1);
  tervo_bench::PluginWithFilter plugin(nsImModules::kSignFilterName, "child", folder);
  unsetenv("TERVO_PREFILTER");
  tervo_bench::RunProcessEntity(state, plugin.filter, corpus.texts, {}, corpus.seconds);
}

void BM_SignFilterSample(benchmark::State& state) {
  RunFilter(state, SampleFolder(), true, SampleCorpus(state));
}
void BM_SignFilterSampleNoPrefilter(benchmark::State& state) {
  RunFilter(state, SampleFolder(), false, SampleCorpus(state));
}
void BM_SignFilter(benchmark::State& state) {
  RunFilter(state, GeneratedFolder(static_cast<int>(state.range(0))), true);
}
void BM_SignFilterNoPrefilter(benchmark::State& state) {
  RunFilter(state, GeneratedFolder(static_cast<int>(state.range(0))), false);
}

// Two threads through one filter, as a host passes items from several
// threads: the sample rules on the sample chat (0) and on ordinary chat (1),
// and 1,000 generated rules (2). One plug-in serves both threads (a host
// loads it once); it stays loaded until the program ends.
void BM_SignFilterTwoThreads(benchmark::State& state) {
  static auto* const sample = new tervo_bench::PluginWithFilter(nsImModules::kSignFilterName, "child", SampleFolder());
  static auto* const generated =
      new tervo_bench::PluginWithFilter(nsImModules::kSignFilterName, "child", GeneratedFolder());
  const bool rules = state.range(0) == 2;
  const Corpus& corpus = rules ? Messages() : SampleCorpus(state);
  tervo_bench::RunProcessEntity(state, (rules ? generated : sample)->filter, corpus.texts, {}, corpus.seconds);
}

// The prefilter's scan alone, as it scans an ASCII message: the floor under
// the filter's cost per message.
void BM_SetScanSample(benchmark::State& state) {
  SampleSet set;
  const Corpus& corpus = SampleCorpus(state);
  if (!set.ok() || corpus.texts.empty()) return state.SkipWithError("no pattern set or no messages");
  size_t i = 0, decided = 0;
  for (auto _ : state) decided += set.Scan(corpus.texts[i++ % corpus.texts.size()]);
  if (decided != static_cast<size_t>(state.iterations())) state.SkipWithError("a scan declined");
  state.SetItemsProcessed(state.iterations());
  state.counters["patterns"] = static_cast<double>(set.Count());
}
void BM_Pcre2Loop(benchmark::State& state) {
  RunPcre2Loop(state, GeneratedFolder(static_cast<int>(state.range(0))));
}

// Building the 1,000 rules from their file: parse, build, compile (JIT),
// with the prefilter (argument 1) or without it (0).
void BM_InitFull1000(benchmark::State& state) {
  nsAssl::Engines engines;
  const std::string program = tervo_test::ProgramFolder();
  if (engines.LoadRegexLibrary(program.c_str()) != 0) return state.SkipWithError("no libfernwick");
  if (state.range(0) == 0) setenv("TERVO_PREFILTER", "0", 1);
  for (auto _ : state) {
    if (engines.Init(GeneratedFolder().c_str(), 4, 1) != 0) return state.SkipWithError("init failed");
  }
  unsetenv("TERVO_PREFILTER");
}

// Ten of the 1,000 rules replaced through the incremental list.
void BM_Incremental10(benchmark::State& state) {
  const std::string folder = Folder("incremental", {{"im_sign.slf", GeneratedRules(7, 0, kGeneratedRules)}});
  const std::string list = folder + "/im_incslf.txt";
  nsAssl::Engines engines;
  const std::string program = tervo_test::ProgramFolder();
  std::ofstream(list) << "{\n* 1\n}\n";
  if (engines.LoadRegexLibrary(program.c_str()) != 0 || engines.Init(folder.c_str(), 4, 1) != 0) {
    return state.SkipWithError("init failed");
  }
  int jid = 1;
  for (auto _ : state) {
    state.PauseTiming();
    // The same ten names each time, with new patterns.
    std::istringstream changed(GeneratedRules(100 + jid, 0, 10));
    std::string text = "{\n* " + std::to_string(++jid) + "\n";
    int n = 0;
    for (std::string rule; std::getline(changed, rule); ++n) text += "+ g" + std::to_string(n) + "\n  " + rule + "\n";
    std::ofstream(list) << text << "}\n";
    state.ResumeTiming();
    if (engines.Init(folder.c_str(), 4, 1) != 0) return state.SkipWithError("update failed");
  }
  if (engines.AsslEngine()->last_jid() != jid) state.SkipWithError("the updates were not applied");
}

BENCHMARK(BM_Pcre2LoopSample);
BENCHMARK(BM_SetScanSample)->Arg(0)->Arg(1);
BENCHMARK(BM_SignFilterSampleNoPrefilter)->Arg(0)->Arg(1);
BENCHMARK(BM_SignFilterSample)->Arg(0)->Arg(1);
BENCHMARK(BM_Pcre2Loop)->Arg(10)->Arg(100)->Arg(1000);
BENCHMARK(BM_SignFilterNoPrefilter)->Arg(10)->Arg(100)->Arg(1000);
BENCHMARK(BM_SignFilter)->Arg(10)->Arg(100)->Arg(1000);
BENCHMARK(BM_SignFilterTwoThreads)->Arg(0)->Arg(1)->Arg(2)->Threads(2)->UseRealTime();
BENCHMARK(BM_InitFull1000)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Incremental10)->Unit(benchmark::kMillisecond);

}  // namespace
