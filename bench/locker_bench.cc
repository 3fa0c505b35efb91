// The shared locker on the read path: every filter call takes a read-only
// lock on the resources it reads.
#include <benchmark/benchmark.h>

#include "src/common/shared_locker.h"

namespace {

using ascommon::auto_locker;
using ascommon::CSharedLocker;

void BM_ReadOnlyLockUnlock(benchmark::State& state) {
  CSharedLocker locker;
  for (auto _ : state) {
    locker.LockReadOnly();
    locker.UnlockReadOnly();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReadOnlyLockUnlock);

void BM_AutoLockerReadScope(benchmark::State& state) {
  CSharedLocker locker;
  for (auto _ : state) {
    auto_locker guard(&locker, auto_locker::kReadOnly, true);
    benchmark::DoNotOptimize(guard.IsLocked());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AutoLockerReadScope);

void BM_WriteLockUnlock(benchmark::State& state) {
  CSharedLocker locker;
  for (auto _ : state) {
    locker.LockWrite();
    locker.UnlockWrite();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_WriteLockUnlock);

// Readers on several threads share one locker: they pass through the same two
// sections, so this measures the cost of that contention.
CSharedLocker g_shared;

void BM_ReadOnlyLockUnlockContended(benchmark::State& state) {
  for (auto _ : state) {
    g_shared.LockReadOnly();
    g_shared.UnlockReadOnly();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReadOnlyLockUnlockContended)->Threads(2)->UseRealTime();

}  // namespace
