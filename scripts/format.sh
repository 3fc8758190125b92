#!/usr/bin/env bash
# Lays out the C and C++ sources with clang-format, as .clang-format says.
#   scripts/format.sh           formats every file in place
#   scripts/format.sh --check   changes nothing; names each file that is
#                               not formatted and fails when there is one
set -euo pipefail
cd "$(dirname "$0")/.."

check=false
case "${1:-}" in
  --check) check=true ;;
  "") ;;
  *) echo "usage: scripts/format.sh [--check]" >&2; exit 2 ;;
esac

if ! command -v clang-format >/dev/null; then
  echo "format: clang-format is not installed (scripts/setup.sh installs it)" >&2
  exit 1
fi

mapfile -t files < <(git ls-files '*.c' '*.cpp' '*.h' '*.inc')

if ! $check; then
  clang-format -i "${files[@]}"
  exit 0
fi

unformatted=0
for f in "${files[@]}"; do
  if ! clang-format "$f" | cmp -s - "$f"; then
    echo "not formatted: $f"
    unformatted=$((unformatted + 1))
  fi
done
if [ "$unformatted" -gt 0 ]; then
  echo "format: $unformatted of ${#files[@]} files are not formatted (scripts/format.sh formats them)" >&2
  exit 1
fi
echo "format: all ${#files[@]} files are formatted"
