#!/usr/bin/env bash
# The whole test suite: the sources' layout, a normal build, the Python
# package installed and tested with pytest, a build under AddressSanitizer
# and UndefinedBehaviorSanitizer (any report fails), the volume library's
# concurrent calls under ThreadSanitizer, and the exactness check that two
# very different builds of the volume library agree bit for bit.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

jobs=$(nproc)

echo "== layout (clang-format) =="
bash scripts/format.sh --check

echo "== normal build (g++ -O2) =="
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ >/dev/null
cmake --build build/release -j "$jobs"
ctest --test-dir build/release --output-on-failure -j "$jobs"

echo "== Python package (installed into build/venv, tested with pytest) =="
bash scripts/install-python.sh build/venv
# From inside the tests' folder, so that only the installed package is importable.
(cd python/tests && VOLACCESS_PROGRAM="$PWD/../../build/release/tools/volaccess" \
  ../../build/venv/bin/python -m pytest -q -p no:cacheprovider .)

echo "== sanitizer build (clang++, ASan + UBSan) =="
cmake -S . -B build/sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DSUITE_SANITIZE=ON \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build/sanitize -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:abort_on_error=1 \
UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ctest --test-dir build/sanitize --output-on-failure -j "$jobs"

echo "== thread sanitizer build (clang++, TSan): concurrent calls into the volume library =="
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSUITE_TSAN=ON \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build/tsan -j "$jobs" --target kernels_concurrency_test kernels_load_state_test
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --test-dir build/tsan --output-on-failure -R '^volaccess\.(ConcurrentCalls\.|kernels\.load_state$)'

if [ -f tests/exactness/CMakeLists.txt ]; then
  echo "== exactness: g++ -O2 against clang++ -O3 -march=native =="
  cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_COMPILER=clang \
    -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_FLAGS="-march=native" -DCMAKE_CXX_FLAGS="-march=native" >/dev/null
  cmake --build build/native -j "$jobs" --target exactness_battery
  build/release/tests/exactness/exactness_battery build/release/battery.bin
  build/native/tests/exactness/exactness_battery build/native/battery.bin
  if cmp build/release/battery.bin build/native/battery.bin; then
    echo "exactness: $(stat -c %s build/release/battery.bin) bytes identical"
  else
    echo "exactness: the two builds differ" >&2
    exit 1
  fi
fi
