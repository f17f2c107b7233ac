#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build for a bounded time, starting
# from its saved inputs in fuzz/corpus/<name>/. New inputs go to the build
# folder (<build>/corpus/<name>/); copy the interesting ones into fuzz/corpus
# by hand. Any crash or sanitizer report fails the run.
set -euo pipefail
build=${1:-build-fuzz}
seconds=${2:-30}
root=$(cd "$(dirname "$0")/.." && pwd)
shopt -s nullglob
targets=("$build"/fuzz/*/fuzz_* "$build"/fuzz/fuzz_*)
if [ ${#targets[@]} -eq 0 ]; then
  echo "fuzz: no fuzz targets built" >&2
  exit 1
fi
for t in "${targets[@]}"; do
  [ -x "$t" ] || continue
  name=$(basename "$t"); name=${name#fuzz_}
  saved="$root/fuzz/corpus/$name"
  work="$build/corpus/$name"
  mkdir -p "$saved" "$work"
  echo "== fuzz $name for ${seconds}s"
  if ! "$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$build/" "$work" "$saved" >"$build/fuzz-$name.log" 2>&1; then
    tail -n 40 "$build/fuzz-$name.log"
    echo "fuzz: $name failed" >&2
    exit 1
  fi
  grep -E '^(Done|stat::number_of_executed_units)' "$build/fuzz-$name.log" || true
done
