#!/usr/bin/env bash
# Installs the Python package volaccess into a virtual environment that
# sees Debian's numpy and nibabel: build/venv, or the folder given.
# Nothing is fetched from any package index.
set -euo pipefail
cd "$(dirname "$0")/.."
venv=${1:-build/venv}
bash scripts/setup.sh
if [ ! -x "$venv/bin/python" ]; then
  /usr/bin/python3 -m venv --system-site-packages "$venv"
fi
"$venv/bin/python" -m pip install --quiet --no-build-isolation --no-index ./python
# pip builds in the checkout; leave it as it was.
rm -rf python/build python/volaccess.egg-info
echo "volaccess installed into $venv: run $venv/bin/python"
