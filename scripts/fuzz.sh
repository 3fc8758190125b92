#!/usr/bin/env bash
# Runs every libFuzzer target for a bounded time on top of its seed corpus.
#   scripts/fuzz.sh [SECONDS_PER_TARGET]   (default 300; CI uses 60)
# Seeds and regression inputs live in fuzz/corpus/<target>/; new inputs go
# to build/fuzz/work/<target>. A crash, leak, hang or memory blow-up fails
# the script and leaves its input in build/fuzz/artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
seconds=${1:-300}
bash scripts/setup.sh

cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSUITE_FUZZ=ON -DSUITE_SANITIZE=ON \
  -DSUITE_TESTS=OFF -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build/fuzz -j "$(nproc)"

# Requests above 512 MiB fail as they would in a host with a memory limit,
# so that the code's own out-of-memory paths run instead of the fuzzer's
# limit firing on a description that merely asks for much.
export ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1:max_allocation_size_mb=512
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

mkdir -p build/fuzz/artifacts
status=0
for fuzzer in $(find build/fuzz/fuzz -type f -name '*_fuzzer' -perm -u+x | sort); do
  name=$(basename "$fuzzer")
  # Absolute paths: some targets run in a scratch working directory.
  corpus=$root/fuzz/corpus/$name
  work=$root/build/fuzz/work/$name
  log=$root/build/fuzz/$name.log
  mkdir -p "$corpus" "$work"
  echo "== $name: ${seconds}s on $(ls "$corpus" | wc -l) seeds =="
  if ! "$root/$fuzzer" "$work" "$corpus" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 \
      -artifact_prefix="$root/build/fuzz/artifacts/$name-" -print_final_stats=1 2>"$log"; then
    echo "$name: FAILED, see build/fuzz/$name.log and build/fuzz/artifacts/" >&2
    tail -n 40 "$log" >&2
    status=1
  fi
  grep -E '^(stat::number_of_executed_units|stat::average_exec_per_sec|stat::peak_rss_mb)' "$log" || true
done
exit $status
