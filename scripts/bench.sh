#!/usr/bin/env bash
# The comparison with peers: installs the benchmark packages (ITK among
# them), builds the benchmarks in Release and prints our time, the peers'
# times from the same run and their ratio for every row.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh --bench

cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DSUITE_BENCH=ON -DSUITE_TESTS=OFF \
  -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ >/dev/null
cmake --build build/bench -j 2 --target peer_compare kernel_bench
/usr/bin/python3 bench/compare.py build/bench/bench/peer_compare

# The Python package against scipy.ndimage and nibabel.processing.
bash scripts/install-python.sh build/venv
build/venv/bin/python bench/python_compare.py
