#!/usr/bin/env bash
# make bench: runs every benchmark program built under bench/ (bench_*).
# Extra arguments go to each program (for example a record count).
set -euo pipefail
build=${1:-build}
shift || true
found=0
for b in "$build"/bin/bench_*; do
  [ -x "$b" ] || continue
  found=1
  echo "== $(basename "$b")"
  "$b" "$@"
done
[ "$found" = 1 ] || echo "No hay benchmarks construidos."
