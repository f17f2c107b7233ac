#!/usr/bin/env bash
# Times quillon-cli's list mode (`quillon-cli -j N OP -`) against the bulk
# tools, in the end-to-end world (scripts/e2e-world.sh): 10,000 MX names
# against nsd with adnshost (adns-tools, asynchronous pipe mode) and dig -f;
# the cost per name at 1,000 and 10,000 names; 1,000 ping targets (4 echoes
# each, every one answering) against fping; our ping list on ICMP datagram
# sockets against raw sockets at -j 64 and -j 256; and the peak resident
# memory of the MX runs. Each pair runs in alternation RUNS times after one
# untimed warm-up. Prints BENCH lines and the commands as CMD lines, and
# writes docs/benchmarks-lists.md.
#
#   bench-list.sh [BUILD] [--runs N] [--doc FILE]
#     BUILD    the build folder (default build-release)
#     --runs   timed runs per command (default 5, at least 3)
#     --doc    where to write the report (default docs/benchmarks-lists.md)
#
# Needs root (network namespaces); without it, prints a skip line and ends.
set -uo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
ROOT=$(cd "$HERE/.." && pwd)

BENCH_NAME=bench-list
# shellcheck source-path=SCRIPTDIR source=bench-world.sh
source "$HERE/bench-world.sh"
bench_args 5 3 "$ROOT/docs/benchmarks-lists.md" "$@"
bench_tools adnshost:adns-tools fping:fping dig:bind9-dnsutils /usr/bin/time:time
bench_programs
bench_world_up qe2b
names=$(fact LIST_NAMES)
[ "${names:-0}" -ge 10000 ] || { echo "bench-list: the world has too few list names" >&2; exit 1; }

# The inputs: the world's list names (one MX answer, two, an alias, no MX
# and NXDOMAIN in turn) and 1,000 addresses of the destination host.
for n in 1000 10000; do
  seq 0 $((n - 1)) | sed 's/^/l/; s/$/.test/' >"$work/names$n"
  sed 's/$/ MX/' "$work/names$n" >"$work/dig$n"
done
[ "$(fact PING_TARGETS)" = 198.18.32.0/22 ] || { echo "bench-list: unexpected ping targets" >&2; exit 1; }
for i in $(seq 1 1000); do echo "198.18.$((32 + i / 256)).$((i % 256))"; done >"$work/targets1000"

# label | command | input file. Pairs are timed in alternation.
cat >"$work/commands" <<EOF
mx1000_quillon|$cli -j 64 mx -|$work/names1000
mx10000_quillon|$cli -j 64 mx -|$work/names10000
mx10000_adnshost|adnshost -a -f -tmx|$work/names10000
mx10000_dig|dig +noall +answer +time=5 +tries=1 -f $work/dig10000|/dev/null
ping1000_quillon|$cli -j 64 ping -|$work/targets1000
ping1000_fping|fping -c 4 -q -i 1 -p 20|$work/targets1000
ping1000_j64_datagram|$cli -j 64 ping -|$work/targets1000
ping1000_j64_raw|$cli -j 64 ping -|$work/targets1000
ping1000_j256_datagram|$cli -j 256 ping -|$work/targets1000
ping1000_j256_raw|$cli -j 256 ping -|$work/targets1000
EOF
# The groups whose members run in alternation.
groups=("mx1000_quillon" "mx10000_quillon mx10000_adnshost mx10000_dig"
  "ping1000_quillon ping1000_fping"
  "ping1000_j64_datagram ping1000_j64_raw ping1000_j256_datagram ping1000_j256_raw")

# Inside the client namespace: each command once untimed (its output kept
# for the checks), then RUNS timed runs. The raw runs close the ICMP datagram
# socket to the client (net.ipv4.ping_group_range) so that the preference
# falls back to raw sockets; every other run has it open, as the world does.
cat >"$work/inner.sh" <<'EOF'
set -u
work=$1 runs=$2
shift 2
declare -A cmd input
while IFS='|' read -r label c i; do cmd[$label]=$c; input[$label]=$i; done <"$work/commands"
one() {  # label run
  local label=$1 run=$2 t0 t1 rc out
  out="$work/$label.$run.out"
  local groups="0 2147483647"
  [[ $label == *_raw ]] && groups="1 0"
  sysctl -qw net.ipv4.ping_group_range="$groups"
  read -ra c <<<"${cmd[$label]}"
  t0=$EPOCHREALTIME
  /usr/bin/time -f '%U %S %M' -o "$work/rusage" "${c[@]}" <"${input[$label]}" >"$out" 2>"$out.err"
  rc=$?
  t1=$EPOCHREALTIME
  sysctl -qw net.ipv4.ping_group_range="0 2147483647"
  echo "$label $run $(( ${t1/./} - ${t0/./} )) $(tail -1 "$work/rusage") $rc" >>"$work/times"
}
for group in "$@"; do
  read -ra members <<<"$group"
  for m in "${members[@]}"; do one "$m" 0; done
  for ((r = 1; r <= runs; r++)); do
    if ((r % 2)); then
      for ((k = 0; k < ${#members[@]}; k++)); do one "${members[$k]}" $r; done
    else
      for ((k = ${#members[@]} - 1; k >= 0; k--)); do one "${members[$k]}" $r; done
    fi
  done
done
EOF
echo "bench-list: $runs runs of each command in world $world ..." >&2
started=$(date -u '+%Y-%m-%d %H:%M UTC')
if ! ip netns exec "$world" bash "$work/inner.sh" "$work" "$runs" "${groups[@]}"; then
  echo "bench-list: the timed runs failed" >&2
  exit 1
fi

# Each command did its work (checked on the warm-up's output).
check() {  # label file pattern count
  local n
  n=$(grep -cE "$3" "$work/$1.0.$2")
  [ "$n" -ge "$4" ] || echo "$1: $2 has $n lines like '$3', expected at least $4"
}
problems=$(
  check mx1000_quillon out '^== l[0-9]+\.test$' 1000
  check mx10000_quillon out '^== l[0-9]+\.test$' 10000
  check mx10000_quillon out '^Found #1: mx1\.quillon\.test$' 3750
  check mx10000_quillon out '^Error: No MX Found for domain ' 2500
  check mx10000_adnshost out '^[0-9]+ [0-9]+ (ok|permfail) ' 10000
  check mx10000_dig out 'MX[[:space:]]+10 mx1\.quillon\.test\.$' 5000
  for l in ping1000_quillon ping1000_j64_datagram ping1000_j64_raw ping1000_j256_datagram ping1000_j256_raw; do
    check $l out '^Packages : sent = 4, receipt = 4, lost = 0$' 1000
  done
  check ping1000_fping out.err 'xmt/rcv/%loss = 4/4/0%' 1000
)
# Exit statuses: ours 1 for the MX lists (NXDOMAIN names fail), else 0.
failed_runs=$(awk '$1 !~ /^mx.*_quillon$/ && $1 != "mx10000_adnshost" && $7 != 0 {print $1 " run " $2 " exit " $7}
  $1 ~ /^mx.*_quillon$/ && $7 != 1 {print $1 " run " $2 " exit " $7}' "$work/times")

median() {  # label column → median of the timed runs
  awk -v l="$1" -v c="$2" '$1 == l && $2 > 0 {print $c}' "$work/times" | sort -g |
    awk '{v[NR] = $1} END {
      if (NR == 0) { print "nan"; exit }
      print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
wall() { awk -v u="$(median "$1" 3)" 'BEGIN {printf "%.1f", u / 1000}'; }  # ms
cpu() {  # user + system, ms
  awk -v l="$1" '$1 == l && $2 > 0 {print ($4 + $5) * 1000}' "$work/times" | sort -g |
    awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'
}
rss() { awk -v k="$(median "$1" 6)" 'BEGIN {printf "%.1f", k / 1024}'; }  # MiB
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.3f", a / b}'; }

declare -A W
for label in $(cut -d'|' -f1 "$work/commands"); do W[$label]=$(wall "$label"); done
per1k=$(awk -v t="${W[mx1000_quillon]}" 'BEGIN {printf "%.1f", t * 1000 / 1000}')
per10k=$(awk -v t="${W[mx10000_quillon]}" 'BEGIN {printf "%.1f", t * 1000 / 10000}')
# What each name past the first 1,000 costs: the fixed start-up cancels out.
marginal=$(awk -v a="${W[mx10000_quillon]}" -v b="${W[mx1000_quillon]}" 'BEGIN {printf "%.1f", (a - b) * 1000 / 9000}')
bench_lines=(
  "BENCH list_mx10000_quillon ${W[mx10000_quillon]} ms"
  "BENCH list_mx10000_adnshost ${W[mx10000_adnshost]} ms"
  "BENCH list_mx10000_ratio_adnshost $(ratio "${W[mx10000_quillon]}" "${W[mx10000_adnshost]}") ratio"
  "BENCH list_mx10000_dig ${W[mx10000_dig]} ms"
  "BENCH list_mx10000_ratio_dig $(ratio "${W[mx10000_quillon]}" "${W[mx10000_dig]}") ratio"
  "BENCH list_mx1000_quillon_per_name $per1k us"
  "BENCH list_mx10000_quillon_per_name $per10k us"
  "BENCH list_mx_per_name_10000_over_1000 $(ratio "$per10k" "$per1k") ratio"
  "BENCH list_mx_marginal_per_name $marginal us"
  "BENCH list_mx1000_quillon_peak_rss $(rss mx1000_quillon) MiB"
  "BENCH list_mx10000_quillon_peak_rss $(rss mx10000_quillon) MiB"
  "BENCH list_ping1000_quillon ${W[ping1000_quillon]} ms"
  "BENCH list_ping1000_fping ${W[ping1000_fping]} ms"
  "BENCH list_ping1000_ratio_fping $(ratio "${W[ping1000_quillon]}" "${W[ping1000_fping]}") ratio"
)
for j in 64 256; do
  d=ping1000_j${j}_datagram r=ping1000_j${j}_raw
  bench_lines+=("BENCH list_ping1000_j${j}_datagram ${W[$d]} ms"
    "BENCH list_ping1000_j${j}_raw ${W[$r]} ms"
    "BENCH list_ping1000_j${j}_raw_over_datagram $(ratio "${W[$r]}" "${W[$d]}") ratio"
    "BENCH list_ping1000_j${j}_datagram_cpu $(cpu "$d") ms"
    "BENCH list_ping1000_j${j}_raw_cpu $(cpu "$r") ms"
    "BENCH list_ping1000_j${j}_raw_over_datagram_cpu $(ratio "$(cpu "$r")" "$(cpu "$d")") ratio")
done
# Echo requests that timed out in the timed runs of our ping lists (every
# target answers: a time-out is a reply lost on the way or in a full queue).
lost() { cat "$work/$1".[1-9]*.out 2>/dev/null | grep -c '^Timed out\.$'; }
for l in ping1000_quillon ping1000_j64_datagram ping1000_j64_raw ping1000_j256_datagram ping1000_j256_raw; do
  bench_lines+=("BENCH list_${l}_timed_out $(lost $l) echoes")
done
printf '%s\n' "${bench_lines[@]}"
while IFS='|' read -r label c i; do
  c=${c//$ROOT\//}
  c=${c//$work\//}
  [ "$i" = /dev/null ] || c+=" < $(basename "$i")"
  echo "CMD list_$label $c"
done <"$work/commands"
status=0
if [ -n "$problems" ] || [ -n "$failed_runs" ]; then
  echo "bench-list: some runs did not do their work:" >&2
  [ -n "$problems" ] && echo "$problems" >&2
  [ -n "$failed_runs" ] && echo "$failed_runs" | head -20 >&2
  status=1
fi

cpu_model=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)
{
  echo "# Benchmarks of lists"
  echo
  echo "Written by \`make bench\` (scripts/bench-list.sh); do not edit by hand."
  echo
  echo "- Date: $started"
  echo "- Machine: $(nproc) CPUs, ${cpu_model:-unknown CPU}; Linux $(uname -r)"
  echo "- Build: Release, \`${cli#"$ROOT/"}\`"
  echo
  echo "Every command runs in the client namespace of the end-to-end test world"
  echo "(docs/test-world.md) against the same servers: nsd for the names"
  echo "l0.test ... l9999.test (by i mod 8: one MX, one MX, one MX, two MX, an"
  echo "alias, no MX, NXDOMAIN, NXDOMAIN), and for ping 1,000 addresses of the"
  echo "destination host behind two routers. One untimed warm-up, then $runs timed"
  echo "runs in alternation; the figures are medians of the wall-clock time from"
  echo "start to exit (CPU time: user + system of the process). Ratios are ours /"
  echo "theirs (below 1: we are faster)."
  echo
  echo "| What | quillon-cli | Peer | Ratio |"
  echo "|---|---:|---:|---:|"
  echo "| 10,000 MX names, -j 64, vs adnshost -a -f | ${W[mx10000_quillon]} ms | ${W[mx10000_adnshost]} ms | $(ratio "${W[mx10000_quillon]}" "${W[mx10000_adnshost]}") |"
  echo "| 10,000 MX names, -j 64, vs dig -f | ${W[mx10000_quillon]} ms | ${W[mx10000_dig]} ms | $(ratio "${W[mx10000_quillon]}" "${W[mx10000_dig]}") |"
  echo "| 1,000 ping targets x 4 echoes, -j 64, vs fping | ${W[ping1000_quillon]} ms | ${W[ping1000_fping]} ms | $(ratio "${W[ping1000_quillon]}" "${W[ping1000_fping]}") |"
  echo
  echo "Cost per MX name: $per1k µs at 1,000 names, $per10k µs at 10,000 (ratio $(ratio "$per10k" "$per1k"));"
  echo "each name past the first 1,000 costs $marginal µs (the start-up cancels out)."
  echo "Peak resident memory: $(rss mx1000_quillon) MiB for 1,000 names, $(rss mx10000_quillon) MiB for 10,000."
  echo
  echo "ICMP sockets for a ping list of 1,000 targets: every raw socket receives a copy"
  echo "of every ICMP message, a datagram socket only its own replies (the raw"
  echo "sockets here have the 4 MiB receive queue that quillon-cli asks for them)."
  echo
  echo "| Jobs | datagram wall | raw wall | datagram CPU | raw CPU | echoes timed out, datagram / raw ($runs runs) |"
  echo "|---:|---:|---:|---:|---:|---:|"
  for j in 64 256; do
    echo "| $j | ${W[ping1000_j${j}_datagram]} ms | ${W[ping1000_j${j}_raw]} ms | $(cpu ping1000_j${j}_datagram) ms | $(cpu ping1000_j${j}_raw) ms | $(lost ping1000_j${j}_datagram) / $(lost ping1000_j${j}_raw) |"
  done
  echo
  echo "Commands (standard input from the list; \`ping_group_range\` closed for the raw runs):"
  echo
  echo '```'
  while IFS='|' read -r label c i; do printf '%-24s %s < %s\n' "$label" "${c//$ROOT\//}" "$(basename "$i")"; done <"$work/commands"
  echo '```'
  if [ $status != 0 ]; then
    echo
    echo "**Some runs did not do their work; the figures above are not valid:**"
    echo
    echo '```'
    [ -n "$problems" ] && echo "$problems"
    [ -n "$failed_runs" ] && echo "$failed_runs" | head -20
    echo '```'
  fi
  echo
  echo '```'
  printf '%s\n' "${bench_lines[@]}"
  echo '```'
} >"$doc.tmp" && mv "$doc.tmp" "$doc"
echo "bench-list: wrote ${doc#"$ROOT/"}" >&2
exit $status
