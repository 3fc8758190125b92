#!/usr/bin/env bash
# Rewrites the ITK references of the reslice comparison (tests/tools/data/itk):
# builds make_itk_references where ITK is installed (Debian
# libinsighttoolkit5-dev, which 'scripts/setup.sh --bench' installs) and runs
# it. The suite reads the committed files and needs no ITK.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build/release"
[ -f "$build/build.ninja" ] || cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
ninja -C "$build" make_itk_references
out="$root/tests/tools/data/itk"
mkdir -p "$out"
"$build/tests/tools/itk/make_itk_references" "$out"
ninja -C "$build" make_format_references
formats="$root/tests/tools/data/itk_formats"
mkdir -p "$formats"
"$build/tests/tools/itk/make_format_references" "$formats"
# ITK's NRRD writer adds two comment lines that point elsewhere for the
# format's description; the committed headers keep only their fields.
for f in "$formats"/*.nrrd "$formats"/*.nhdr; do
  python3 -c '
import sys
path = sys.argv[1]
data = open(path, "rb").read()
blank = data.find(b"\n\n")
end = blank + 2 if blank >= 0 else len(data)
head = b"".join(line for line in data[:end].splitlines(True) if not line.startswith(b"# "))
open(path, "wb").write(head + data[end:])
' "$f"
done
