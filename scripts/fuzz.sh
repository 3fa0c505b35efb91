#!/usr/bin/env bash
# Builds the fuzz targets (clang, ASan+UBSan, libFuzzer) into build-fuzz/ and
# runs each for a while on a scratch copy of its seed corpus (fuzz/corpus).
#   bash scripts/fuzz.sh                          every target, 30 s each
#   bash scripts/fuzz.sh --seconds 600 fuzz_text  one target, 10 minutes
# Options:
#   --seconds N   how long each target runs (default 30)
#   --jobs N      targets run at once, 1 or 2 (default 1)
#   --merge       afterwards, add to fuzz/corpus/<target> the inputs that
#                 reach code its seeds do not (libFuzzer -merge=1, counting
#                 edges only, which keeps the corpus small); otherwise the
#                 committed corpus is left as it is
#   --out DIR     the run's folder (default build-fuzz/fuzz-runs/<time>):
#                 findings/ (crash-, leak-, timeout-, oom- files), logs/,
#                 corpus/ (the grown scratch corpora)
#   --no-build    use build-fuzz as it is
# Prints per target the executions per second and the corpus size at the end.
# Exits 1 when any target found something (its log and the input are kept in
# the run's folder), 2 on a usage error.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"

all_targets=(fuzz_streamer fuzz_imwords fuzz_imblacklist fuzz_markovian fuzz_text fuzz_filters
  fuzz_fernwick fuzz_cost_file fuzz_rules fuzz_incslf fuzz_prefilter)

# The longest input each target is given: room for the sample data files and
# texts a few times longer than a chat message.
max_len() {
  case "$1" in
    fuzz_text | fuzz_filters) echo 2048 ;;
    *) echo 4096 ;;
  esac
}

# Seconds one input may take before libFuzzer reports a timeout. The regex
# library bounds every search (about a millisecond), so its target gets a
# tight limit that a runaway match would break.
input_timeout() {
  case "$1" in
    fuzz_fernwick) echo 2 ;;
    *) echo 25 ;;
  esac
}

usage() {
  sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//' >&2
  exit 2
}

seconds=30
jobs=1
merge=0
build=1
out=""
targets=()
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds="${2:-}"; shift 2 || usage ;;
    --jobs) jobs="${2:-}"; shift 2 || usage ;;
    --merge) merge=1; shift ;;
    --out) out="${2:-}"; shift 2 || usage ;;
    --no-build) build=0; shift ;;
    -h | --help) usage ;;
    fuzz_*) targets+=("$1"); shift ;;
    *) echo "fuzz: unknown argument $1" >&2; usage ;;
  esac
done
[[ "$seconds" =~ ^[1-9][0-9]*$ ]] || { echo "fuzz: --seconds wants a positive number" >&2; exit 2; }
[[ "$jobs" =~ ^[12]$ ]] || { echo "fuzz: --jobs is 1 or 2 (the machine is shared)" >&2; exit 2; }
[ ${#targets[@]} -gt 0 ] || targets=("${all_targets[@]}")
for t in "${targets[@]}"; do
  [ -d "fuzz/corpus/$t" ] || { echo "fuzz: no target $t (${all_targets[*]})" >&2; exit 2; }
done

if [ "$build" = 1 ]; then
  bash scripts/setup-debian.sh
  echo "== fuzz build (clang, ASan+UBSan, libFuzzer) in build-fuzz"
  cmake -S . -B build-fuzz -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DTERVO_SANITIZE=address,undefined -DTERVO_FUZZ=ON -DTERVO_BUILD_TESTS=OFF \
    -DTERVO_BUILD_BENCH=OFF >/dev/null
  cmake --build build-fuzz -j2
fi

[ -n "$out" ] || out="build-fuzz/fuzz-runs/$(date +%Y%m%d-%H%M%S)"
mkdir -p "$out"/{findings,logs,corpus,work}
out="$(cd "$out" && pwd)"
# The targets' data files go to memory when it can hold them: file traffic
# is most of what the loaders' targets cost.
shm=/dev/shm
[ -d "$shm" ] && [ -w "$shm" ] || shm="$out"
scratch="$(mktemp -d "$shm/tervo-fuzz-XXXXXX")"
trap 'rm -rf "$scratch"' EXIT

# intercept_tls_get_addr=0: see scripts/check.sh (a leak-checker crash at exit).
export ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1:intercept_tls_get_addr=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

# run_target NAME: fuzzes NAME and writes its result line to results/NAME.
run_target() {
  local t="$1" status=0
  local corpus="$out/corpus/$t" log="$out/logs/$t.log"
  rm -rf "$corpus"
  cp -r "fuzz/corpus/$t" "$corpus"
  mkdir -p "$scratch/$t" "$out/work/$t"
  # A target's dictionary (fuzz/<target>.dict) gives libFuzzer its keywords.
  local dict=()
  [ -f "$root/fuzz/$t.dict" ] && dict=(-dict="$root/fuzz/$t.dict")
  (cd "$out/work/$t" && TMPDIR="$scratch/$t" "$root/build-fuzz/bin/$t" "$corpus" \
    -max_total_time="$seconds" -max_len="$(max_len "$t")" -timeout="$(input_timeout "$t")" \
    -artifact_prefix="$out/findings/$t-" -print_final_stats=1 "${dict[@]}" >"$log" 2>&1) || status=$?

  local rate runs files bytes verdict
  rate="$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")"
  runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")"
  files="$(find "$corpus" -type f | wc -l)"
  bytes="$(find "$corpus" -type f -printf '%s\n' | awk '{s += $1} END {print s + 0}')"
  if [ "$status" = 0 ] && ! ls "$out/findings/$t-"* >/dev/null 2>&1; then
    verdict="no findings"
  else
    verdict="FINDING (exit $status): $(grep -m1 -E 'ERROR: |check failed|SUMMARY: ' "$log" || true)"
  fi
  printf '%-17s %6s s  %7s exec/s  %9s runs  corpus %5s files %8s bytes  %s\n' "$t" \
    "$seconds" "${rate:-?}" "${runs:-?}" "$files" "$bytes" "$verdict" >"$out/results/$t"
}

mkdir -p "$out/results"
echo "== fuzzing ${targets[*]}: $seconds s each, $jobs at a time; run folder $out"
running=0
for t in "${targets[@]}"; do
  if [ "$running" -ge "$jobs" ]; then
    wait -n || true
    running=$((running - 1))
  fi
  run_target "$t" &
  running=$((running + 1))
done
wait

failed=0
for t in "${targets[@]}"; do
  cat "$out/results/$t"
  grep -q 'no findings$' "$out/results/$t" || failed=1
done

if [ "$merge" = 1 ]; then
  for t in "${targets[@]}"; do
    before="$(find "fuzz/corpus/$t" -type f | wc -l)"
    (cd "$out/work/$t" && TMPDIR="$scratch/$t" "$root/build-fuzz/bin/$t" -merge=1 -use_counters=0 \
      -max_len="$(max_len "$t")" "$root/fuzz/corpus/$t" "$out/corpus/$t" >>"$out/logs/$t.log" 2>&1)
    echo "merged $t: $before -> $(find "fuzz/corpus/$t" -type f | wc -l) seeds"
  done
fi

if [ "$failed" = 1 ]; then
  echo "fuzz: findings in $out/findings (logs in $out/logs); reproduce one with"
  echo "  build-fuzz/bin/<target> $out/findings/<file>"
  exit 1
fi
echo "fuzz: no findings"
