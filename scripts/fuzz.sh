#!/usr/bin/env bash
# Runs every libFuzzer target for a bounded time on top of its seed corpus.
#   scripts/fuzz.sh [SECONDS_PER_TARGET]   (default 300; CI uses 60)
# New inputs go to build/fuzz/work/<target>; a crash stops the run, leaves
# its input in build/fuzz/artifacts/ and fails the script.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-300}
bash scripts/setup.sh

cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSUITE_FUZZ=ON -DSUITE_SANITIZE=ON \
  -DSUITE_TESTS=OFF -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build/fuzz -j "$(nproc)"

mkdir -p build/fuzz/artifacts
status=0
for fuzzer in $(find build/fuzz -type f -name '*_fuzzer' -perm -u+x | sort); do
  name=$(basename "$fuzzer")
  corpus=fuzz/corpus/$name
  work=build/fuzz/work/$name
  mkdir -p "$corpus" "$work"
  echo "== $name: ${seconds}s on $(ls "$corpus" | wc -l) seeds =="
  if ! ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
      "$fuzzer" "$work" "$corpus" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 \
      -artifact_prefix=build/fuzz/artifacts/"$name"- -print_final_stats=1 2>build/fuzz/"$name".log; then
    echo "$name: FAILED, see build/fuzz/$name.log and build/fuzz/artifacts/" >&2
    tail -n 40 build/fuzz/"$name".log >&2
    status=1
  fi
  grep -E '^(stat::number_of_executed_units|stat::average_exec_per_sec|stat::peak_rss_mb)' build/fuzz/"$name".log || true
done
exit $status
