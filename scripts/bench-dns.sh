#!/usr/bin/env bash
# Times `quillon-cli dns` against dig and kdig in the end-to-end world
# (scripts/e2e-world.sh), against its nsd: one TXT question (dig +noall
# +answer and kdig); the 5 KB TXT set that comes truncated over UDP and is
# asked again over TCP (dig); 10,000 names of mixed types at -j 64 against
# dig -f. Pairs run in alternation RUNS times after one untimed warm-up; the
# list's records are checked name by name against dig's (not only the
# time). Prints BENCH lines and the commands as CMD lines, and writes
# docs/benchmarks-dns.md.
#
#   bench-dns.sh [BUILD] [--runs N] [--doc FILE]
#     BUILD    the build folder (default build-release)
#     --runs   timed runs per command (default 21 for single questions, the
#              list runs a fifth as often, at least 3)
#     --doc    where to write the report (default docs/benchmarks-dns.md)
#
# Needs root (network namespaces); without it, prints a skip line and ends.
set -uo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
ROOT=$(cd "$HERE/.." && pwd)

BENCH_NAME=bench-dns
# shellcheck source-path=SCRIPTDIR source=bench-world.sh
source "$HERE/bench-world.sh"
bench_args 21 3 "$ROOT/docs/benchmarks-dns.md" "$@"
bench_tools dig:bind9-dnsutils kdig:knot-dnsutils
bench_programs
bench_world_up qe2n

# 10,000 list names with a type each: the world's l0.test ... l9999.test
# (by i mod 8: one MX, one MX, one MX, two MX, an alias, an address, nothing,
# nothing), asked for MX, TXT, A, MX, A, A, AAAA and SOA in turn.
awk 'BEGIN { split("MX TXT A MX A A AAAA SOA", t, " "); for (i = 0; i < 10000; i++) printf "l%d.test %s\n", i, t[i % 8 + 1] }' \
  >"$work/names"

cat >"$work/commands" <<EOF
txt_quillon|$cli dns txt.rr.test TXT|/dev/null
txt_dig|dig +noall +answer txt.rr.test TXT|/dev/null
txt_kdig|kdig +noall +answer txt.rr.test TXT|/dev/null
big_quillon|$cli dns big.rr.test TXT|/dev/null
big_dig|dig +noall +answer big.rr.test TXT|/dev/null
list_quillon|$cli -j 64 dns -|$work/names
list_dig|dig +noall +answer +time=5 +tries=1 -f $work/names|/dev/null
EOF
list_runs=$(( runs / 5 < 3 ? 3 : runs / 5 ))

cat >"$work/inner.sh" <<'EOF'
set -u
work=$1
shift
declare -A cmd input
while IFS='|' read -r label c i; do cmd[$label]=$c; input[$label]=$i; done <"$work/commands"
one() {  # label run
  local label=$1 run=$2 t0 t1 rc
  read -ra c <<<"${cmd[$label]}"
  t0=$EPOCHREALTIME
  "${c[@]}" <"${input[$label]}" >"$work/$label.$run.out" 2>"$work/$label.$run.err"
  rc=$?
  t1=$EPOCHREALTIME
  echo "$label $run $(( ${t1/./} - ${t0/./} )) $rc" >>"$work/times"
}
while [ $# -gt 0 ]; do
  runs=$1 group=$2
  shift 2
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
echo "bench-dns: $runs runs of each question, $list_runs of each list, in world $world ..." >&2
started=$(date -u '+%Y-%m-%d %H:%M UTC')
if ! ip netns exec "$world" bash "$work/inner.sh" "$work" \
  "$runs" "txt_quillon txt_dig txt_kdig" "$runs" "big_quillon big_dig" \
  "$list_runs" "list_quillon list_dig"; then
  echo "bench-dns: the timed runs failed" >&2
  exit 1
fi

# The work was done, and done alike: single answers equal dig's; the list's
# records, headings, "No ... record" lines and empty lines taken out, equal
# dig -f's output line for line (both keep input order); every name got its
# block.
problems=$(
  for l in txt big; do
    cmp -s "$work/${l}_quillon.0.out" "$work/${l}_dig.0.out" || echo "$l: quillon-cli and dig differ"
  done
  [ "$(wc -l <"$work/big_quillon.0.out")" -eq 24 ] || echo "big: not 24 records"
  grep -q . "$work/txt_kdig.0.out" || echo "txt: kdig printed nothing"
  grep -vE '^(== |No [A-Z0-9]+ record for |$)' "$work/list_quillon.0.out" >"$work/list_records"
  cmp -s "$work/list_records" "$work/list_dig.0.out" || echo "list: records differ from dig -f's"
  [ "$(grep -c '^== ' "$work/list_quillon.0.out")" -eq 10000 ] || echo "list: not 10,000 blocks"
  [ "$(wc -l <"$work/list_records")" -ge 6000 ] || echo "list: too few records"
)
failed_runs=$(awk '$1 !~ /^list_quillon$/ && $4 != 0 {print $1 " run " $2 " exit " $4}
  $1 == "list_quillon" && $4 != 1 {print $1 " run " $2 " exit " $4}' "$work/times")

median() {  # label → median wall time of the timed runs, ms
  awk -v l="$1" '$1 == l && $2 > 0 {print $3}' "$work/times" | sort -g |
    awk '{v[NR] = $1} END {
      if (NR == 0) { print "nan"; exit }
      printf "%.1f", ((NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) / 1000 }'
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.3f", a / b}'; }
min() { awk -v a="$1" -v b="$2" 'BEGIN {print (a < b) ? a : b}'; }
declare -A W
for label in $(cut -d'|' -f1 "$work/commands"); do W[$label]=$(median "$label"); done
faster=$(min "${W[txt_dig]}" "${W[txt_kdig]}")
records=$(wc -l <"$work/list_records")
bench_lines=(
  "BENCH dns_txt_quillon ${W[txt_quillon]} ms"
  "BENCH dns_txt_dig ${W[txt_dig]} ms"
  "BENCH dns_txt_kdig ${W[txt_kdig]} ms"
  "BENCH dns_txt_ratio_faster $(ratio "${W[txt_quillon]}" "$faster") ratio"
  "BENCH dns_tcp_fallback_quillon ${W[big_quillon]} ms"
  "BENCH dns_tcp_fallback_dig ${W[big_dig]} ms"
  "BENCH dns_tcp_fallback_ratio_dig $(ratio "${W[big_quillon]}" "${W[big_dig]}") ratio"
  "BENCH dns_list10000_quillon ${W[list_quillon]} ms"
  "BENCH dns_list10000_dig ${W[list_dig]} ms"
  "BENCH dns_list10000_ratio_dig $(ratio "${W[list_quillon]}" "${W[list_dig]}") ratio"
  "BENCH dns_list10000_same_records $(cmp -s "$work/list_records" "$work/list_dig.0.out" && echo 1 || echo 0) bool"
)
printf '%s\n' "${bench_lines[@]}"
while IFS='|' read -r label c i; do
  c=${c//$ROOT\//}
  c=${c//$work\/names/NAMES}
  [ "$i" = /dev/null ] || c+=" < NAMES"
  echo "CMD dns_$label $c"
done <"$work/commands"
status=0
if [ -n "$problems" ] || [ -n "$failed_runs" ]; then
  echo "bench-dns: some runs did not do their work:" >&2
  [ -n "$problems" ] && echo "$problems" >&2
  [ -n "$failed_runs" ] && echo "$failed_runs" | head -20 >&2
  status=1
fi

cpu_model=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)
{
  echo "# Benchmarks of quillon-cli dns"
  echo
  echo "Written by \`make bench\` (scripts/bench-dns.sh); do not edit by hand."
  echo
  echo "- Date: $started"
  echo "- Machine: $(nproc) CPUs, ${cpu_model:-unknown CPU}; Linux $(uname -r)"
  echo "- Build: \`${cli#"$ROOT/"}\`; $(dig -v 2>&1 | head -1), $(kdig --version | head -1)"
  echo
  echo "Every command runs in the client namespace of the end-to-end test world"
  echo "(docs/test-world.md) against its nsd (the namespace's resolv.conf names it)."
  echo "One untimed warm-up, then $runs timed runs of each question and $list_runs of each"
  echo "list, in alternation; the figures are medians of the wall-clock time from"
  echo "start to exit. Ratios are ours / theirs (below 1: we are faster). The list's"
  echo "records ($records lines) were checked to equal dig -f's line for line."
  echo
  echo "| What | quillon-cli | Peer | Ratio | Goal |"
  echo "|---|---:|---:|---:|---:|"
  echo "| \`dns txt.rr.test TXT\` vs \`dig +noall +answer\` | ${W[txt_quillon]} ms | ${W[txt_dig]} ms | $(ratio "${W[txt_quillon]}" "${W[txt_dig]}") | |"
  echo "| \`dns txt.rr.test TXT\` vs \`kdig +noall +answer\` | ${W[txt_quillon]} ms | ${W[txt_kdig]} ms | $(ratio "${W[txt_quillon]}" "${W[txt_kdig]}") | |"
  echo "| the same vs the faster of the two | ${W[txt_quillon]} ms | $faster ms | $(ratio "${W[txt_quillon]}" "$faster") | ≤ 0.5 |"
  echo "| 5 KB TXT set, UDP then TCP, vs dig | ${W[big_quillon]} ms | ${W[big_dig]} ms | $(ratio "${W[big_quillon]}" "${W[big_dig]}") | |"
  echo "| 10,000 names of mixed types, -j 64, vs \`dig -f\` | ${W[list_quillon]} ms | ${W[list_dig]} ms | $(ratio "${W[list_quillon]}" "${W[list_dig]}") | ≤ 0.5 |"
  echo
  echo "Commands:"
  echo
  echo '```'
  sed "s|$work/names|NAMES|g; s|$ROOT/||g" "$work/commands" |
    awk -F'|' '{ printf "%-13s %s%s\n", $1 ":", $2, ($3 == "/dev/null") ? "" : " < " $3 }'
  echo '```'
  echo
  echo "NAMES: \`l0.test MX\`, \`l1.test TXT\`, ... \`l9999.test SOA\` (types MX TXT A MX A A AAAA SOA by i mod 8)."
  if [ $status != 0 ]; then
    echo
    echo "**Some runs did not do their work:**"
    echo
    echo '```'
    [ -n "$problems" ] && echo "$problems"
    [ -n "$failed_runs" ] && echo "$failed_runs" | head -20
    echo '```'
  fi
} >"$doc"
exit $status
