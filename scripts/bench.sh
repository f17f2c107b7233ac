#!/usr/bin/env bash
# Runs every benchmark program of a build folder; each prints BENCH lines.
# Then times quillon-cli's lists against the bulk tools (scripts/bench-list.sh,
# docs/benchmarks-lists.md), a list in 4 shards against one run
# (scripts/bench-shard.sh, docs/benchmarks-shards.md) and quillon-cli against the
# usual tools (scripts/bench-compare.sh), which writes docs/benchmarks.md with these
# lines too, and quillon-cli dns against dig and kdig (scripts/bench-dns.sh,
# docs/benchmarks-dns.md).
set -uo pipefail
build=${1:-build-release}
status=0
micro=$(mktemp /tmp/quillon-bench-micro.XXXXXX)
trap 'rm -f "$micro"' EXIT
shopt -s nullglob
for b in "$build"/bench/*/bench_*; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b")" | tee -a "$micro"
  "$b" | tee -a "$micro"
  [ "${PIPESTATUS[0]}" = 0 ] || { echo "bench: $(basename "$b") failed" >&2; status=1; }
done
echo "== bench-list"
bash "$(dirname "${BASH_SOURCE[0]}")/bench-list.sh" "$build" || status=1
echo "== bench-dns"
bash "$(dirname "${BASH_SOURCE[0]}")/bench-dns.sh" "$build" || status=1
echo "== bench-shard"
bash "$(dirname "${BASH_SOURCE[0]}")/bench-shard.sh" "$build" || status=1
echo "== bench-compare"
bash "$(dirname "${BASH_SOURCE[0]}")/bench-compare.sh" "$build" --micro "$micro" || status=1
exit $status
