#!/usr/bin/env bash
# Times each quillon-cli operation against the tool a user would reach for
# instead, on the same servers: the end-to-end world (scripts/e2e-world.sh)
# is brought up, and inside its client namespace every pair runs in
# alternation (ours first on odd runs, theirs first on even runs), RUNS
# times after one untimed warm-up each. Prints the medians and the ratio
# ours/theirs as BENCH lines and each pair's commands as CMD lines, and
# writes docs/benchmarks-pairs.md with the machine, the date, the spread
# and the exact commands (scripts/bench.sh puts the figures in
# docs/benchmarks.md with every other benchmark of the run).
#
#   bench-compare.sh [BUILD] [--runs N] [--pairs A,B] [--doc FILE]
#     BUILD    the build folder (default build-release): BUILD/app/quillon-cli
#              and BUILD/tests/e2e/e2e_whois_server (e2e_whoami_server beside it)
#     --runs   timed runs per pair (default 21, at least 20)
#     --pairs  only these pairs (by name, e.g. info_dig,info_curl)
#     --doc    where to write the report (default docs/benchmarks-pairs.md)
#
# Needs root (network namespaces); without it, prints a skip line and ends.
set -uo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
ROOT=$(cd "$HERE/.." && pwd)

BENCH_NAME=bench-compare BENCH_PAIRS=1
# shellcheck source-path=SCRIPTDIR source=bench-world.sh
source "$HERE/bench-world.sh"
bench_args 21 20 "$ROOT/docs/benchmarks-pairs.md" "$@"
bench_tools whois:whois dig:bind9-dnsutils ping:iputils-ping traceroute:traceroute mtr:mtr-tiny curl:curl
bench_programs
[[ "$cli" =~ ^[A-Za-z0-9_./+-]+$ ]] || { echo "bench-compare: unusual characters in '$cli'" >&2; exit 1; }
bench_world_up qe2c
dest=$(fact DEST_HOST)

# The pairs: name | our command | their command. quillon-cli resolves names
# and looks up the reverse names of the replies; so do the tools as written.
pairs=(
  "whois|$cli whois quillon.fr|whois -h whois.nic.fr quillon.fr"
  "whoisfollow|$cli whois --follow example.de|whois -I example.de"
  "mx|$cli mx alias.test|dig +short MX alias.test"
  "ping|$cli ping $dest|ping -c 4 -i 0.01 $dest"
  "trace_traceroute|$cli trace $dest|traceroute -I -q 1 $dest"
  "trace_mtr|$cli trace $dest|mtr -r -c 1 $dest"
  # The public address: ours asks the four default sources at once (the
  # world's stand-ins for them) and answers once two agree; each peer asks
  # one of them.
  "info_dig|$cli info|dig +short myip.opendns.com @resolver1.opendns.com"
  "info_curl|$cli info|curl -s http://api.ipify.org/"
  # The same host over IPv6 (its AAAA record), forced on both sides.
  "ping6|$cli ping -6 $dest|ping -6 -c 4 -i 0.01 $dest"
  "trace6_traceroute|$cli trace -6 $dest|traceroute -6 -I -q 1 $dest"
  # Start-up alone: what every run of each program costs before its work.
  "startup|$cli --version|whois --version"
)
if [ -n "$only" ]; then
  kept=()
  for line in "${pairs[@]}"; do
    [[ ",$only," == *",${line%%|*},"* ]] && kept+=("$line")
  done
  [ ${#kept[@]} -gt 0 ] || { echo "bench-compare: no pair named in '$only'" >&2; exit 2; }
  pairs=("${kept[@]}")
fi
printf '%s\n' "${pairs[@]}" >"$work/pairs"

# Runs inside the client namespace: one warm-up of each command (its output
# kept for the checks below), then the timed runs in alternation. Each line
# of the result: pair side run microseconds exit-status.
cat >"$work/inner.sh" <<'EOF'
set -u
work=$1 runs=$2
time_one() {  # pair side run command...
  local pair=$1 side=$2 run=$3 t0 t1 rc
  shift 3
  t0=$EPOCHREALTIME
  "$@" >/dev/null 2>&1
  rc=$?
  t1=$EPOCHREALTIME
  echo "$pair $side $run $(( ${t1/./} - ${t0/./} )) $rc" >>"$work/times"
}
while IFS='|' read -r pair ours theirs; do
  read -ra o <<<"$ours"
  read -ra t <<<"$theirs"
  "${o[@]}" >"$work/$pair.ours.out" 2>&1
  "${t[@]}" >"$work/$pair.theirs.out" 2>&1
  for ((r = 1; r <= runs; r++)); do
    if ((r % 2)); then
      time_one "$pair" ours $r "${o[@]}"
      time_one "$pair" theirs $r "${t[@]}"
    else
      time_one "$pair" theirs $r "${t[@]}"
      time_one "$pair" ours $r "${o[@]}"
    fi
  done
done <"$work/pairs"
EOF
echo "bench-compare: $runs runs of each pair in world $world ..." >&2
started=$(date -u '+%Y-%m-%d %H:%M UTC')
if ! ip netns exec "$world" bash "$work/inner.sh" "$work" "$runs"; then
  echo "bench-compare: the timed runs failed" >&2
  exit 1
fi

# Checks that each command did its work (on the warm-up's output), so that
# a fast failure is never timed as a fast success.
check() {  # pair side pattern [count]
  local n
  [ -f "$work/$1.$2.out" ] || return 0  # a pair left out with --pairs
  n=$(grep -cE "$3" "$work/$1.$2.out")
  [ "$n" -ge "${4:-1}" ] || echo "$1 $2: output lacks '$3' (x${4:-1}): $(head -c 300 "$work/$1.$2.out" | tr '\n' '|')"
}
problems=$(
  check whois ours 'whois\.nic\.fr'
  check whois theirs 'whois\.nic\.fr'
  check whoisfollow ours '^% whois server: whois\.de-registry\.test$'
  check whoisfollow ours '^source: +whois\.de-registry\.test$'
  check whoisfollow theirs '^whois: +whois\.de-registry\.test$'
  check whoisfollow theirs '^source: +whois\.de-registry\.test$'
  check mx ours '^Found #[0-9]+: mx[12]\.quillon\.test' 2
  check mx theirs '^[0-9]+ mx[12]\.quillon\.test\.$' 2
  check ping ours '^response from host ' 4
  check ping theirs ' 0% packet loss'
  check trace_traceroute ours '^response from host '
  check trace_traceroute theirs "\(${dest//./\\.}|$(fact DEST_ADDR)"
  check trace_mtr theirs 'dest\.quillon\.test'
  check info_dig ours '^Online.198\.18\.1\.2$'
  check info_dig theirs '^198\.18\.1\.2$'
  check info_curl ours '^Online.198\.18\.1\.2$'
  check info_curl theirs '^198\.18\.1\.2$'
  check ping6 ours "^response from host $(fact DEST6_ADDR) " 4
  check ping6 theirs ' 0% packet loss'
  check trace6_traceroute ours "^response from host $(fact DEST6_ADDR) "
  check trace6_traceroute theirs "\(${dest//./\\.}|$(fact DEST6_ADDR)"
  check startup ours '^quillon-cli [0-9]'
  check startup theirs '^Version [0-9]'
)
failed_runs=$(awk '$5 != 0 {print $1 " " $2 " run " $3 " exit " $5}' "$work/times")

# Medians (ms, 2 decimals) and ratios.
median() {  # pair side → median in ms
  awk -v p="$1" -v s="$2" '$1 == p && $2 == s {print $4}' "$work/times" | sort -n |
    awk '{v[NR] = $1} END {
      if (NR == 0) { print "nan"; exit }
      m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
      printf "%.2f\n", m / 1000 }'
}
spread() {  # pair side → "min–max" in ms
  awk -v p="$1" -v s="$2" '$1 == p && $2 == s {print $4}' "$work/times" | sort -n |
    awk 'NR == 1 {lo = $1} {hi = $1} END {printf "%.1f–%.1f\n", lo / 1000, hi / 1000}'
}
declare -A med_ours med_theirs ratio
bench_lines=()
for line in "${pairs[@]}"; do
  pair=${line%%|*}
  med_ours[$pair]=$(median "$pair" ours)
  med_theirs[$pair]=$(median "$pair" theirs)
  ratio[$pair]=$(awk -v a="${med_ours[$pair]}" -v b="${med_theirs[$pair]}" 'BEGIN {printf "%.3f", a / b}')
  bench_lines+=("BENCH compare_${pair}_quillon ${med_ours[$pair]} ms"
    "BENCH compare_${pair}_peer ${med_theirs[$pair]} ms"
    "BENCH compare_${pair}_ratio ${ratio[$pair]} ratio")
done
printf '%s\n' "${bench_lines[@]}"
for line in "${pairs[@]}"; do
  IFS='|' read -r pair ours theirs <<<"$line"
  echo "CMD compare_${pair}_quillon ${ours/#"$ROOT/"/}"
  echo "CMD compare_${pair}_peer $theirs"
done
status=0
if [ -n "$problems" ] || [ -n "$failed_runs" ]; then
  echo "bench-compare: some runs did not do their work:" >&2
  [ -n "$problems" ] && echo "$problems" >&2
  [ -n "$failed_runs" ] && echo "$failed_runs" | head -20 >&2
  status=1
fi

# The report.
cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)
rel_cli=${cli#"$ROOT/"}
{
  echo "# Benchmarks: quillon-cli against the usual tools"
  echo
  echo "Written by \`make bench\` (scripts/bench-compare.sh); do not edit by hand."
  echo "docs/benchmarks.md holds these figures with every other benchmark of the run."
  echo
  echo "- Date: $started"
  echo "- Machine: $(nproc) CPUs, ${cpu:-unknown CPU}; Linux $(uname -r)"
  echo "- Build: Release, \`$rel_cli\`"
  echo
  echo "## quillon-cli against the usual tools"
  echo
  echo "Both programs of a pair run in the client namespace of the end-to-end"
  echo "test world (docs/test-world.md), against the same servers (nsd, the"
  echo "world's whois servers, nginx, two routers before the destination), in"
  echo "alternation: $runs timed runs each after one warm-up, every run a fresh"
  echo "process started by bash, wall-clock time from fork to exit. The"
  echo "figures are medians; the ratio is ours / theirs (below 1: we are faster)."
  echo "Names are resolved through the world's DNS server, and reverse names of"
  echo "the replies are looked up, by both sides. Our ping sends its four"
  echo "requests back to back (each once the previous one is answered); ping(8)"
  echo "sends one every 10 ms."
  echo "The whoisfollow pair walks a two-step referral chain: whois.iana.org"
  echo "names the registry of de, which is then asked for the domain; whois -I"
  echo "asks IANA first and follows its referral the same way."
  echo "The info pairs: quillon-cli info asks the four default public-address"
  echo "sources at once (the world's stand-ins for resolver1.opendns.com,"
  echo "ns1.google.com, 1.1.1.1 and api.ipify.org) and answers once two agree;"
  echo "dig asks one of the DNS services, curl the HTTP one."
  echo "The startup pair runs each program for its version alone: the cost of"
  echo "starting it, which every other pair pays once too."
  echo
  echo "| Operation | quillon-cli median (ms) | Peer median (ms) | Ratio | quillon-cli min–max | Peer min–max |"
  echo "|---|---:|---:|---:|---:|---:|"
  for line in "${pairs[@]}"; do
    IFS='|' read -r pair ours theirs <<<"$line"
    peer=${theirs%% *}
    echo "| ${pair%%_*} vs $peer | ${med_ours[$pair]} | ${med_theirs[$pair]} | ${ratio[$pair]} | $(spread "$pair" ours) | $(spread "$pair" theirs) |"
  done
  above=""
  for line in "${pairs[@]}"; do
    pair=${line%%|*}
    awk -v r="${ratio[$pair]}" 'BEGIN {exit !(r > 1.0)}' && above+="${above:+, }$pair (${ratio[$pair]})"
  done
  echo
  if [ -n "$above" ]; then
    echo "Goal: every ratio at most 1.0. Above it in this run: $above."
  else
    echo "Goal: every ratio at most 1.0. Met in this run."
  fi
  echo
  echo "Commands, as run (each as \`ip netns exec WORLD bash\` loop of fresh processes):"
  echo
  echo '```'
  for line in "${pairs[@]}"; do
    IFS='|' read -r pair ours theirs <<<"$line"
    printf '%-17s %s\n' "$pair" "${ours/#"$ROOT/"/}"
    printf '%-17s %s\n' "" "$theirs"
  done
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
echo "bench-compare: wrote ${doc#"$ROOT/"}" >&2
exit $status
