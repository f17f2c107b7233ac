#!/usr/bin/env bash
# Times a large list split into shards against one run of the whole list, in
# the end-to-end world (scripts/e2e-world.sh): 100,000 MX names as JSON Lines
# through `quillon-cli -j 64 mx --json -` once, and through 4 workers
# `quillon-cli -j 16 --shard K/4 mx --json -` started at once, each reading
# the whole list (the same 64 names in flight). Reports the total wall time,
# the CPU time and the peak resident memory of each worker, and the cost per
# name at 10,000 and 100,000 names (it must stay flat). Checks that the
# shards' merged lines are exactly the single run's. Runs in alternation
# RUNS times after one untimed warm-up; medians. Prints BENCH lines and the
# commands as CMD lines, and writes docs/benchmarks-shards.md.
#
#   bench-shard.sh [BUILD] [--runs N] [--doc FILE]
#     BUILD    the build folder (default build-release)
#     --runs   timed runs of each (default 3, at least 3)
#     --doc    where to write the report (default docs/benchmarks-shards.md)
#
# Needs root (network namespaces); without it, prints a skip line and ends.
set -uo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
ROOT=$(cd "$HERE/.." && pwd)

BENCH_NAME=bench-shard
# shellcheck source-path=SCRIPTDIR source=bench-world.sh
source "$HERE/bench-world.sh"
bench_args 3 3 "$ROOT/docs/benchmarks-shards.md" "$@"
bench_tools /usr/bin/time:time
bench_programs
bench_world_up qe2s
names=$(sed -n 's/^LIST_NAMES=//p' "$work/facts")
[ "${names:-0}" -ge 10000 ] || { echo "bench-shard: the world has too few list names" >&2; exit 1; }

# h0.l0.test ... h9.l9999.test: 100,000 distinct names, each asking for
# lN.test (one MX, two, an alias, no MX, NXDOMAIN in turn); the first 10,000
# for the cost per name of a shorter list.
awk 'BEGIN { for (i = 0; i < 100000; i++) printf "h%d.l%d.test\n", int(i / 10000), i % 10000 }' \
  >"$work/names100000"
head -10000 "$work/names100000" >"$work/names10000"

# Inside the client namespace. One measured run of a kind: its wall time
# (start to the last worker's exit) and, per worker, user and system CPU and
# peak resident memory (KiB).
cat >"$work/inner.sh" <<'INNER'
set -u
work=$1 cli=$2 runs=$3
one() {  # kind run
  local kind=$1 run=$2 t0 t1 k
  t0=$EPOCHREALTIME
  case $kind in
    single10000 | single100000)
      /usr/bin/time -f '%U %S %M' -o "$work/$kind.$run.w0" \
        "$cli" -j 64 mx --json - <"$work/names${kind#single}" >"$work/$kind.$run.out" 2>/dev/null ;;
    shards100000)
      for k in 0 1 2 3; do
        /usr/bin/time -f '%U %S %M' -o "$work/$kind.$run.w$k" \
          "$cli" -j 16 --shard $k/4 mx --json - <"$work/names100000" >"$work/$kind.$run.out$k" \
          2>/dev/null &
      done
      wait ;;
  esac
  t1=$EPOCHREALTIME
  echo "$kind $run $(( ${t1/./} - ${t0/./} ))" >>"$work/times"
}
kinds="single100000 shards100000 single10000"
for k in $kinds; do one "$k" 0; done
for ((r = 1; r <= runs; r++)); do
  if ((r % 2)); then order=$kinds; else order=$(echo "$kinds" | tr ' ' '\n' | tac | tr '\n' ' '); fi
  for k in $order; do one "$k" "$r"; done
done
INNER
echo "bench-shard: $runs runs of each in world $world ..." >&2
started=$(date -u '+%Y-%m-%d %H:%M UTC')
if ! ip netns exec "$world" bash "$work/inner.sh" "$work" "$cli" "$runs"; then
  echo "bench-shard: the timed runs failed" >&2
  exit 1
fi

# The work was done: the single run has every name, in input order; the
# shards' lines, merged, are exactly the single run's lines.
problems=""
cut -d'"' -f8 "$work/single100000.0.out" | cmp -s - "$work/names100000" ||
  problems+="the single run's names are not the list, in order"$'\n'
cat "$work"/shards100000.0.out[0-3] | sort >"$work/merged"
sort "$work/single100000.0.out" | cmp -s - "$work/merged" ||
  problems+="the 4 shards' lines differ from the single run's"$'\n'
for k in 0 1 2 3; do
  n=$(wc -l <"$work/shards100000.0.out$k")
  [ "$n" -gt 20000 ] && [ "$n" -lt 30000 ] || problems+="shard $k has $n names"$'\n'
done
errors=$(grep -c '"error"' "$work/single100000.0.out")
[ "$errors" -eq 25000 ] || problems+="$errors failed names, expected 25000 (the NXDOMAIN ones)"$'\n'

median() {  # stdin numbers → median
  sort -g | awk '{v[NR] = $1} END {
    if (NR == 0) { print "nan"; exit }
    print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
wall() { awk -v k="$1" '$1 == k && $2 > 0 {print $3 / 1000}' "$work/times" | median; }  # ms
# Per worker over the timed runs: field 1 user s, 2 system s, 3 peak KiB.
worker() {  # kind worker field
  for r in $(seq 1 "$runs"); do awk -v f="$3" '{print $f}' "$work/$1.$r.w$2"; done | median
}
fmt() { awk -v v="$1" -v m="${2:-1}" -v d="${3:-1}" 'BEGIN {printf "%.1f", v * m / d}'; }  # value [times] [over]
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.3f", a / b}'; }

w_single=$(wall single100000)
w_shards=$(wall shards100000)
w_small=$(wall single10000)
rss_single=$(fmt "$(worker single100000 0 3)" 1 1024)
cpu_single=$(fmt "$(awk -v u="$(worker single100000 0 1)" -v s="$(worker single100000 0 2)" 'BEGIN {print u + s}')" 1000)
rss_shard=() cpu_shard=()
for k in 0 1 2 3; do
  rss_shard+=("$(fmt "$(worker shards100000 $k 3)" 1 1024)")
  cpu_shard+=("$(fmt "$(awk -v u="$(worker shards100000 $k 1)" -v s="$(worker shards100000 $k 2)" 'BEGIN {print u + s}')" 1000)")
done
rss_shard_max=$(printf '%s\n' "${rss_shard[@]}" | sort -g | tail -1)
cpu_shards=$(printf '%s\n' "${cpu_shard[@]}" | awk '{t += $1} END {printf "%.1f", t}')
per10k=$(fmt "$w_small" 1000 10000)
per100k=$(fmt "$w_single" 1000 100000)
per_shards=$(fmt "$w_shards" 1000 100000)

bench_lines=(
  "BENCH shard_mx100000_single_wall $(fmt "$w_single" 1) ms"
  "BENCH shard_mx100000_4shards_wall $(fmt "$w_shards" 1) ms"
  "BENCH shard_mx100000_4shards_over_single $(ratio "$w_shards" "$w_single") ratio"
  "BENCH shard_mx100000_single_peak_rss $rss_single MiB"
  "BENCH shard_mx100000_shard_peak_rss_max $rss_shard_max MiB"
  "BENCH shard_mx100000_single_cpu $cpu_single ms"
  "BENCH shard_mx100000_4shards_cpu_total $cpu_shards ms"
  "BENCH shard_mx10000_single_per_name $per10k us"
  "BENCH shard_mx100000_single_per_name $per100k us"
  "BENCH shard_mx_per_name_100000_over_10000 $(ratio "$per100k" "$per10k") ratio"
  "BENCH shard_mx100000_4shards_per_name $per_shards us"
)
printf '%s\n' "${bench_lines[@]}"
echo "CMD shard_single ${cli#"$ROOT/"} -j 64 mx --json - < names100000"
echo "CMD shard_4shards ${cli#"$ROOT/"} -j 16 --shard K/4 mx --json - < names100000, for K = 0 to 3 at once"
status=0
if [ -n "$problems" ]; then
  echo "bench-shard: the runs did not do their work:" >&2
  printf '%s' "$problems" >&2
  status=1
fi

cpu_model=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)
{
  echo "# Benchmark of a list in shards"
  echo
  echo "Written by \`make bench\` (scripts/bench-shard.sh); do not edit by hand."
  echo
  echo "- Date: $started"
  echo "- Machine: $(nproc) CPUs, ${cpu_model:-unknown CPU}; Linux $(uname -r)"
  echo "- Build: Release, \`${cli#"$ROOT/"}\`"
  echo
  echo "100,000 MX names (h0.l0.test ... h9.l9999.test, asking nsd of the"
  echo "end-to-end world for l0.test ... l9999.test: one MX, two, an alias, no MX,"
  echo "NXDOMAIN in turn) as JSON Lines, in the world's client namespace. One run"
  echo "of the whole list at -j 64, against 4 workers started at once, each given"
  echo "the whole list with \`--shard K/4\` at -j 16 (the same 64 names in flight;"
  echo "on one machine, as a stand-in for 4 machines). One untimed warm-up, then"
  echo "$runs timed runs in alternation; medians. Wall time from the start to the"
  echo "last worker's exit; CPU is user + system."
  echo
  echo "| Run | Wall | CPU | Peak memory per worker |"
  echo "|---|---:|---:|---:|"
  echo "| 1 worker, -j 64, 100,000 names | $(fmt "$w_single" 1) ms | $cpu_single ms | $rss_single MiB |"
  echo "| 4 shards at once, -j 16 each | $(fmt "$w_shards" 1) ms | $cpu_shards ms (total) | ${rss_shard[0]} / ${rss_shard[1]} / ${rss_shard[2]} / ${rss_shard[3]} MiB |"
  echo
  echo "4 shards / 1 worker: $(ratio "$w_shards" "$w_single") of the wall time (the machine"
  echo "has $(nproc) CPUs, so the shards share them; on 4 machines each would take about a"
  echo "quarter of the names' time). Each shard reads and hashes the whole list and"
  echo "skips three names in four: CPU ${cpu_shard[0]} / ${cpu_shard[1]} / ${cpu_shard[2]} / ${cpu_shard[3]} ms per worker."
  echo
  echo "Cost per name of the single run: $per10k µs at 10,000 names, $per100k µs at"
  echo "100,000 (ratio $(ratio "$per100k" "$per10k")); through 4 shards: $per_shards µs."
  echo "Memory does not grow with the list: the names are streamed, at most 4 × -j"
  echo "of them held."
  if [ -n "$problems" ]; then
    echo
    echo "**The runs did not do their work; the figures above are not valid:**"
    echo
    echo '```'
    printf '%s' "$problems"
    echo '```'
  fi
  echo
  echo '```'
  printf '%s\n' "${bench_lines[@]}"
  echo '```'
} >"$doc.tmp" && mv "$doc.tmp" "$doc"
echo "bench-shard: wrote ${doc#"$ROOT/"}" >&2
exit $status
