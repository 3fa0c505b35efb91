// The binary streamer: opening a 1 MB file for reading (unscrambling into the
// working copy and checking the digest), reading 100k u32 values, and writing
// the same (which digests and scrambles the file on close).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "common/binstreamer.h"

namespace {

using ascommon::CBinaryStreamer;

constexpr uint32_t kValues = 100000;
constexpr uint32_t kMegabyte = 1 << 20;

using tervo_bench::Dir;

std::vector<uint8_t> Payload() {
  std::vector<uint8_t> bytes(kMegabyte - CBinaryStreamer::kHeaderSize);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 31 + 7);
  return bytes;
}

void WriteMegabyte(const std::string& path, const std::vector<uint8_t>& payload) {
  CBinaryStreamer out(path.c_str(), CBinaryStreamer::kModeWrite, Dir().path().c_str(), 1);
  out.WriteBytes(payload.data(), static_cast<uint32_t>(payload.size()));
}

void WriteValues(const std::string& path) {
  CBinaryStreamer out(path.c_str(), CBinaryStreamer::kModeWrite, Dir().path().c_str(), 1);
  for (uint32_t i = 0; i < kValues; ++i) out.WriteU32(i * 2654435761u);
}

void BM_OpenForRead1MB(benchmark::State& state) {
  const std::string path = Dir().File("read1mb.bin");
  WriteMegabyte(path, Payload());
  for (auto _ : state) {
    CBinaryStreamer in(path.c_str(), CBinaryStreamer::kModeRead, Dir().path().c_str(), 0);
    benchmark::DoNotOptimize(in.payload_size());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kMegabyte);
}
BENCHMARK(BM_OpenForRead1MB)->Unit(benchmark::kMicrosecond);

void BM_Read100kU32(benchmark::State& state) {
  const std::string path = Dir().File("values.bin");
  WriteValues(path);
  for (auto _ : state) {
    state.PauseTiming();
    {
      CBinaryStreamer in(path.c_str(), CBinaryStreamer::kModeRead, Dir().path().c_str(), 0);
      state.ResumeTiming();
      uint32_t sum = 0;
      for (uint32_t i = 0; i < kValues; ++i) sum += in.ReadU32();
      benchmark::DoNotOptimize(sum);
      state.PauseTiming();
    }
    state.ResumeTiming();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kValues);
}
BENCHMARK(BM_Read100kU32)->Unit(benchmark::kMicrosecond);

// Open, write, then close: the close digests and scrambles the file.
void BM_Write1MB(benchmark::State& state) {
  const std::string path = Dir().File("write1mb.bin");
  const std::vector<uint8_t> payload = Payload();
  for (auto _ : state) WriteMegabyte(path, payload);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kMegabyte);
}
BENCHMARK(BM_Write1MB)->Unit(benchmark::kMicrosecond);

void BM_Write100kU32(benchmark::State& state) {
  const std::string path = Dir().File("writevalues.bin");
  for (auto _ : state) WriteValues(path);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kValues);
}
BENCHMARK(BM_Write100kU32)->Unit(benchmark::kMicrosecond);

}  // namespace
