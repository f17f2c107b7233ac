#!/usr/bin/env bash
# Runs every benchmark of a build folder in one run, then writes
# docs/benchmarks.md from that run alone (scripts/bench-report.py): every
# pair of every issue with its medians, ratio, goal and whether the goal was
# met, the machine, the date and the load average of each part.
#
# The parts, in order: each benchmark program (BUILD/bench/*/bench_*, BENCH
# lines); quillon-cli's lists against the bulk tools (scripts/bench-list.sh,
# docs/benchmarks-lists.md); quillon-cli dns against dig and kdig
# (scripts/bench-dns.sh, docs/benchmarks-dns.md); a list in 4 shards against
# one run (scripts/bench-shard.sh, docs/benchmarks-shards.md); quillon-cli
# against the usual tools, start-up included (scripts/bench-compare.sh,
# docs/benchmarks-pairs.md). Each detailed page is rewritten by the same run.
#
#   bench.sh [BUILD] [--doc FILE]   (default build-release, docs/benchmarks.md)
set -uo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
ROOT=$(cd "$HERE/.." && pwd)
build=build-release
doc="$ROOT/docs/benchmarks.md"
while [ $# -gt 0 ]; do
  case $1 in
    --doc) doc=$2; shift 2 ;;
    -*) echo "bench: unknown option $1" >&2; exit 2 ;;
    *) build=$1; shift ;;
  esac
done

status=0
results=$(mktemp /tmp/quillon-bench-results.XXXXXX)
trap 'rm -f "$results"' EXIT
# What the report is made of: BENCH and CMD lines as the parts print them,
# and lines of this script's own: RUN (start and end), LOAD (the load
# average as each part starts: the machine is shared), STATUS (each part's
# exit status).
note() { echo "$*" >>"$results"; }
load() { note "LOAD $1 $(cut -d' ' -f1-3 /proc/loadavg)"; }
part() {  # name command...
  local name=$1 rc
  shift
  echo "== $name"
  load "$name"
  "$@" | tee -a "$results"
  rc=${PIPESTATUS[0]}
  note "STATUS $name $rc"
  [ "$rc" = 0 ] || { echo "bench: $name failed" >&2; status=1; }
}

note "RUN started $(date -u '+%Y-%m-%d %H:%M UTC')"
note "RUN build ${build#"$ROOT/"}"
shopt -s nullglob
for b in "$build"/bench/*/bench_*; do
  [ -x "$b" ] || continue
  part "$(basename "$b")" "$b"
done
part bench-list bash "$HERE/bench-list.sh" "$build"
part bench-dns bash "$HERE/bench-dns.sh" "$build"
part bench-shard bash "$HERE/bench-shard.sh" "$build"
part bench-compare bash "$HERE/bench-compare.sh" "$build"
load end
note "RUN ended $(date -u '+%Y-%m-%d %H:%M UTC')"

if python3 "$HERE/bench-report.py" "$results" --doc "$doc"; then
  echo "bench: wrote ${doc#"$ROOT/"}"
else
  echo "bench: the report could not be written" >&2
  status=1
fi
exit $status
