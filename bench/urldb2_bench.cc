// The URL blacklist engine with one million URL keys: loading such a file,
// and looking 100,000 distinct texts up in it (one in ten listed) next to the
// baseline of the same work done bare, an MD5 of the text and a probe of a
// CMap of the same size; then the blacklist filter's ProcessEntity on the
// same texts as the other party of each message. The engine runs with the
// dummy trace. items_per_second is lookups (or, for the load, keys) per second.
#include <benchmark/benchmark.h>
#include <nettle/md5.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "common/asalloc.h"
#include "common/binstreamer.h"
#include "src/common/array.h"
#include "src/engines/urldb2/urldb2.h"
#include "src/engines/urldb2/urldb2_format.h"

namespace {

using ascommon::CBinaryStreamer;
using ascommon::CMap;
using ascommon::sstring;

constexpr uint32_t kKeys = 1000000;
constexpr uint32_t kQueries = 100000;
constexpr uint32_t kListedEvery = 10;
constexpr size_t kTextBytes = 23;  // "user0000000@example.org"

using tervo_bench::Dir;

// The listed text of number `i` (.org), or its unlisted twin (.net).
void MakeText(uint32_t i, bool listed, char* out) {
  char buffer[32];
  snprintf(buffer, sizeof buffer, "user%07u@example.%s", i, listed ? "org" : "net");
  memcpy(out, buffer, kTextBytes);
}

const std::vector<uint64_t>& ListedKeys() {
  static const std::vector<uint64_t> keys = [] {
    std::vector<uint64_t> out(kKeys);
    char text[kTextBytes];
    for (uint32_t i = 0; i < kKeys; ++i) {
      MakeText(i, true, text);
      out[i] = nsUrlDb2::DigestKey(text, kTextBytes);
    }
    return out;
  }();
  return keys;
}

// The blacklist file of the one million keys, all in the URL table.
const std::string& MillionFile() {
  static const std::string path = [] {
    std::string file = Dir().File(nsImModules::kBlacklistDataFile);
    nsUrlDb2::BlacklistKeys keys;
    keys.urls = ListedKeys();
    tervo_test::WriteBlacklistFile(file, keys);
    return file;
  }();
  return path;
}

// kQueries texts of kTextBytes each, one after another, of distinct numbers
// spread over the list (q * 7919 modulo kKeys); every kListedEvery-th listed.
const std::vector<char>& Queries() {
  static const std::vector<char> texts = [] {
    std::vector<char> out(static_cast<size_t>(kQueries) * kTextBytes);
    for (uint32_t q = 0; q < kQueries; ++q) {
      const uint32_t number = static_cast<uint32_t>((uint64_t{q} * 7919u) % kKeys);
      MakeText(number, q % kListedEvery == 0, out.data() + q * kTextBytes);
    }
    return out;
  }();
  return texts;
}

CUrlDb2Engine& LoadedEngine() {
  static CUrlDb2Engine* engine = [] {
    CUrlDb2Engine* e = ascommon::New<CUrlDb2Engine>();
    if (e->Load(MillionFile().c_str(), sstring(Dir().path().c_str())) != nsUrlDb2::kUrlDbOk) abort();
    return e;
  }();
  return *engine;
}

void BM_LoadMillion(benchmark::State& state) {
  const std::string& path = MillionFile();
  const sstring folder(Dir().path().c_str());
  for (auto _ : state) {
    CUrlDb2Engine* engine = ascommon::New<CUrlDb2Engine>();
    const int32_t rc = engine->Load(path.c_str(), folder);
    state.PauseTiming();
    if (rc != nsUrlDb2::kUrlDbOk || engine->GetUrlCount() != kKeys) {
      state.SkipWithError("the file did not load");
    }
    ascommon::Delete(engine);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kKeys);
}
BENCHMARK(BM_LoadMillion)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_IsListedUrlMillion(benchmark::State& state) {
  const CUrlDb2Engine& engine = LoadedEngine();
  const char* texts = Queries().data();
  uint32_t q = 0;
  uint64_t hits = 0;
  for (auto _ : state) {
    hits += engine.IsListedUrl(texts + q * kTextBytes, kTextBytes);
    if (++q == kQueries) q = 0;
  }
  benchmark::DoNotOptimize(hits);
  state.counters["hit_ratio"] = static_cast<double>(hits) / static_cast<double>(state.iterations());
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_IsListedUrlMillion)->Unit(benchmark::kNanosecond);

// The baseline: a bare MD5 of the text and a probe of a map of the same keys
// and bucket count as the engine's URL table.
void BM_BareMd5PlusProbe(benchmark::State& state) {
  static CMap<uint64_t, uint32_t>* map = [] {
    auto* m = ascommon::New<CMap<uint64_t, uint32_t>>();
    m->ReHash(kKeys + 10);
    for (uint32_t i = 0; i < kKeys; ++i) m->Insert(ListedKeys()[i], i);
    return m;
  }();
  const char* texts = Queries().data();
  uint32_t q = 0;
  uint64_t hits = 0;
  for (auto _ : state) {
    struct md5_ctx ctx;
    md5_init(&ctx);
    md5_update(&ctx, kTextBytes, reinterpret_cast<const uint8_t*>(texts + q * kTextBytes));
    uint8_t digest[MD5_DIGEST_SIZE];
    md5_digest(&ctx, MD5_DIGEST_SIZE, digest);
    uint64_t key;
    memcpy(&key, digest, sizeof key);
    hits += map->Lookup(key) != nullptr;
    if (++q == kQueries) q = 0;
  }
  benchmark::DoNotOptimize(hits);
  state.counters["hit_ratio"] = static_cast<double>(hits) / static_cast<double>(state.iterations());
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BareMd5PlusProbe)->Unit(benchmark::kNanosecond);

// The blacklist filter's ProcessEntity over the million-entry file, the way a
// host calls it, with the texts above as the other party of each message.
void BM_BlacklistFilterProcessEntity(benchmark::State& state) {
  static tervo_bench::PluginWithFilter loaded = [] {
    MillionFile();
    return tervo_bench::PluginWithFilter(nsImModules::kBlacklistFilterName);
  }();
  static const std::vector<std::string> users = [] {
    std::vector<std::string> out;
    for (uint32_t q = 0; q < kQueries; ++q) {
      out.emplace_back(Queries().data() + q * kTextBytes, kTextBytes);
    }
    return out;
  }();
  tervo_bench::RunProcessEntity(state, loaded.filter, std::vector<std::string>(kQueries, "hello"),
                                users);
}
BENCHMARK(BM_BlacklistFilterProcessEntity)->Unit(benchmark::kNanosecond);

}  // namespace
