#!/usr/bin/env bash
# The full check: install what is missing, check the include layers
# (scripts/layers.py), build, run every test; then the same
# suite built with ASan+UBSan (clang), then the concurrency tests under TSan,
# then every fuzz target for 20 seconds.
#   bash scripts/check.sh          everything
#   bash scripts/check.sh --quick  the plain build and its tests only
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup-debian.sh

echo "== include layers"
python3 scripts/layers.py

jobs=2
run_suite() {  # name, extra cmake arguments...
  local dir="build-$1"; shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j"$jobs"
}

# Runs CTest on a build folder (more arguments go to ctest) and adds the tests
# that passed to `passed` and those that skipped themselves (GTEST_SKIP: CTest
# counts them among the passed) to `skipped`; a failure ends the check.
passed=0
skipped=()
run_tests() {
  local dir="$1"; shift
  local log="$dir/ctest-summary.log"
  ctest --test-dir "$dir" --output-on-failure -j"$jobs" "$@" | tee "$log"
  local ran here=()
  ran=$(sed -n 's/.*tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -1)
  mapfile -t here < <(sed -n 's/^[[:space:]]*[0-9]* - \(.*\) (Skipped)$/\1/p' "$log")
  passed=$((passed + ran - ${#here[@]}))
  for name in "${here[@]}"; do skipped+=("$name in ${dir#build-}"); done
}

# The closing line: what passed, what was skipped (by name), nothing failed.
summary() {
  local list="" name
  for name in "${skipped[@]}"; do list+="${list:+, }$name"; done
  if [ -n "$list" ]; then list=", ${#skipped[@]} skipped ($list)"; fi
  echo "check: $passed passed$list, 0 failed"
}

echo "== plain build (g++)"
run_suite plain
run_tests build-plain

if [ "${1:-}" = "--quick" ]; then
  summary
  exit 0
fi

# intercept_tls_get_addr=0: the leak checker of this clang (14) takes a
# thread-local block that malloc happened to put 16 bytes into a page for one
# with an old glibc header, reads a bogus range from it and dies at exit
# ("Tracer caught signal 11"). The leak check itself still runs.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:allocator_may_return_null=1:intercept_tls_get_addr=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

echo "== ASan+UBSan build (clang)"
run_suite asan -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DTERVO_SANITIZE=address,undefined -DTERVO_BUILD_BENCH=OFF
run_tests build-asan

echo "== TSan build (clang), concurrency tests"
run_suite tsan -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DTERVO_SANITIZE=thread -DTERVO_BUILD_BENCH=OFF
run_tests build-tsan -L concurrency

echo "== fuzzing (clang, libFuzzer), every target 20 s"
bash scripts/fuzz.sh --seconds 20 --jobs 2
summary
