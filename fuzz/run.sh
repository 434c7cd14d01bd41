#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs each for a bounded time.
#
#   fuzz/run.sh [SECONDS] [TARGET...]
#
# SECONDS per target (default 30, or FUZZ_SECONDS); targets: receive,
# config_document, sim_codec (default all). The build and the corpus each run
# grows go to FUZZ_BUILD (default build-fuzz/); the committed seeds in
# fuzz/corpus/<target>/ are read, never written. A crash, leak, sanitizer
# report or hang stops the run with the input saved under
# FUZZ_BUILD/artifacts/<target>/ and a non-zero exit.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-${FUZZ_SECONDS:-30}}
[ $# -gt 0 ] && shift
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(receive config_document sim_codec)
build=${FUZZ_BUILD:-$root/build-fuzz}
cxx=${FUZZ_CXX:-clang++}

cmake -S "$root/fuzz" -B "$build" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "${FUZZ_JOBS:-2}" >/dev/null

status=0
for t in "${targets[@]}"; do
  exe="$build/fuzz_$t"
  [ -x "$exe" ] || { echo "fuzz: no target $t" >&2; exit 2; }
  mkdir -p "$build/corpus/$t" "$build/artifacts/$t"
  log="$build/fuzz_$t.log"
  if (cd "$build" && "$exe" "$build/corpus/$t" "$root/fuzz/corpus/$t" \
        -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -artifact_prefix="$build/artifacts/$t/" -print_final_stats=1) >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    added=$(sed -n 's/^stat::new_units_added: *//p' "$log")
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1)
    echo "fuzz $t: $runs runs in ${seconds} s, $cov, $added new inputs, no finding"
  else
    status=1
    echo "fuzz $t: FINDING (log $log, input in $build/artifacts/$t/)"
    grep -m1 -B2 -A25 -E '^==[0-9]+==|runtime error|ERROR: libFuzzer' "$log" || tail -40 "$log"
  fi
done
exit $status
