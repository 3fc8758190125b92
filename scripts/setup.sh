#!/usr/bin/env bash
# Installs the Debian packages the project needs, and only those missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libboost-dev libboost-log-dev libboost-thread-dev
  libplist-dev libnifti2-dev libpng-dev zlib1g-dev libhdf5-dev
  libtbb-dev python3 python3-numpy python3-scipy python3-nibabel pngcheck
  python3-dev python3-venv python3-pip python3-setuptools python3-wheel python3-pytest
  pybind11-dev python3-pybind11 clang-format
  python3-dask python3-distributed python3-zarr python3-numcodecs python3-psutil
)

# --bench adds the peers of the speed comparison (scripts/bench.sh).
if [ "${1:-}" = "--bench" ]; then
  packages+=(libinsighttoolkit5-dev)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
