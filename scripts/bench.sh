#!/usr/bin/env bash
# Runs every benchmark program of a build folder; each prints BENCH lines.
set -uo pipefail
build=${1:-build-release}
status=0
shopt -s nullglob
for b in "$build"/bench/*/bench_*; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  "$b" || { echo "bench: $(basename "$b") failed" >&2; status=1; }
done
exit $status
