#!/usr/bin/env bash
# The main job on its embedded default: the volaccess program's demo.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j "$(nproc)" --target volaccess_cli
exec build/release/tools/volaccess demo "$@"
