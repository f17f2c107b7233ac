#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build for a bounded time, starting
# from its saved inputs in fuzz/corpus/<name>/. New inputs go to the build
# folder (<build>/corpus/<name>/); copy the interesting ones into fuzz/corpus
# by hand. Any crash or sanitizer report fails the run. As many targets run
# at once as the machine has cores (FUZZ_JOBS), each for the whole time.
set -euo pipefail
build=${1:-build-fuzz}
seconds=${2:-30}
jobs=${FUZZ_JOBS:-$(nproc)}
root=$(cd "$(dirname "$0")/.." && pwd)
shopt -s nullglob
targets=("$build"/fuzz/*/fuzz_* "$build"/fuzz/fuzz_*)
if [ ${#targets[@]} -eq 0 ]; then
  echo "fuzz: no fuzz targets built" >&2
  exit 1
fi
# One target for its time; its log shows only when it fails.
run_one() {
  local t=$1 name saved work
  name=$(basename "$t"); name=${name#fuzz_}
  saved="$root/fuzz/corpus/$name"
  work="$build/corpus/$name"
  mkdir -p "$saved" "$work"
  if ! "$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$build/" "$work" "$saved" >"$build/fuzz-$name.log" 2>&1; then
    tail -n 40 "$build/fuzz-$name.log"
    echo "fuzz: $name failed" >&2
    return 1
  fi
  echo "== fuzz $name for ${seconds}s: $(grep -E '^stat::number_of_executed_units' "$build/fuzz-$name.log" || echo done)"
}

failed=0
running=0
for t in "${targets[@]}"; do
  [ -x "$t" ] || continue
  if [ "$running" -ge "$jobs" ]; then
    wait -n || failed=1
    running=$((running - 1))
  fi
  run_one "$t" &
  running=$((running + 1))
done
while [ "$running" -gt 0 ]; do
  wait -n || failed=1
  running=$((running - 1))
done
exit $failed
