#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build for a bounded time, growing its
# saved inputs in fuzz/corpus/<name>/.
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
  corpus="$root/fuzz/corpus/$name"
  mkdir -p "$corpus"
  echo "== fuzz $name for ${seconds}s"
  "$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 "$corpus" 2>&1 | tail -n 12
done
