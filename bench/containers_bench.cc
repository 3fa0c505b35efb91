// The containers on the item path: the black box the filters read and write
// for every message, and the maps behind it.
#include <benchmark/benchmark.h>

#include <string>

#include "common/blackbox.h"
#include "common/item.h"
#include "host/plugin_host.h"
#include "src/common/array.h"

namespace {

using ascommon::CArray;
using ascommon::CBlackBox;
using ascommon::CMap;

void BM_ArrayAdd(benchmark::State& state) {
  for (auto _ : state) {
    CArray<uint64_t, 64> array;
    for (int64_t i = 0; i < state.range(0); ++i) array.Add(static_cast<uint64_t>(i));
    benchmark::DoNotOptimize(array.GetData());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ArrayAdd)->Arg(64)->Arg(4096);

void BM_MapLookup64(benchmark::State& state) {
  CMap<uint64_t, int> map;
  map.ReHash(64);
  const uint64_t n = static_cast<uint64_t>(state.range(0));
  for (uint64_t i = 0; i < n; ++i) map.Insert(i * 2654435761u, static_cast<int>(i));
  uint64_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(map.Lookup((i++ % n) * 2654435761u));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MapLookup64)->Arg(16)->Arg(1024);

void BM_MapLookupString(benchmark::State& state) {
  CMap<ascommon::sstring, int> map;
  std::vector<ascommon::sstring> keys;
  for (int i = 0; i < 256; ++i) {
    keys.emplace_back(("category-" + std::to_string(i)).c_str());
    map.Insert(keys.back(), i);
  }
  size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(map.Lookup(keys[i++ % keys.size()]));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MapLookupString);

// One message's round trip: the host fills the boxes, a filter reads the text
// and writes its verdicts, the host reads them back.
void BM_BlackBoxItemRoundTrip(benchmark::State& state) {
  const std::string text(static_cast<size_t>(state.range(0)), 'w');
  for (auto _ : state) {
    CBlackBox* input = CBlackBox::Create();
    CBlackBox* io = CBlackBox::Create();
    input->SetText(ascommon::IM_TEXT_KEY, text.c_str());
    io->SetText(ascommon::IM_USER_INFO_KEY, "peer@example.org");
    benchmark::DoNotOptimize(CBlackBox::Get(input, ascommon::IM_TEXT_KEY, CBlackBox::kText, 0,
                                            nullptr));
    CBlackBox::Set(io, ascommon::IM_WORDS_VERDICT_KEY, CBlackBox::kInt32, 0, 12);
    CBlackBox::Set(io, ascommon::IM_BLACKLIST_FLAG_KEY, CBlackBox::kBool, 0, 1);
    int32_t verdict = 0;
    CBlackBox::Get(io, ascommon::IM_WORDS_VERDICT_KEY, CBlackBox::kInt32, 0, &verdict, -1);
    benchmark::DoNotOptimize(verdict);
    CBlackBox::Destroy(io);
    CBlackBox::Destroy(input);
  }
}
BENCHMARK(BM_BlackBoxItemRoundTrip)->Arg(16)->Arg(1024);

// The host's fixed cost per message: building its item around a 90-byte text
// and the other party, reading both as the filters do and the verdict keys as
// the host does (none written here), and freeing it.
void BM_HostItem90(benchmark::State& state) {
  const std::string text(90, 'w');
  for (auto _ : state) {
    tervo_host::Item item(text.c_str(), nullptr, "peer0000001@example.org");
    benchmark::DoNotOptimize(item.get()->input.GetText(ascommon::IM_TEXT_KEY));
    benchmark::DoNotOptimize(item.io()->GetText(ascommon::IM_USER_INFO_KEY));
    benchmark::DoNotOptimize(item.Number(ascommon::IM_WORDS_VERDICT_KEY, -1));
    benchmark::DoNotOptimize(item.Flag(ascommon::IM_BLACKLIST_FLAG_KEY));
    benchmark::DoNotOptimize(item.Flag(ascommon::IM_MARKOVIAN_FLAG_KEY));
    benchmark::DoNotOptimize(item.Text(ascommon::IM_MARKOVIAN_TEXT_KEY));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_HostItem90);

}  // namespace
