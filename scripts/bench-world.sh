# shellcheck shell=bash disable=SC2034  # sets variables for the script that sources it
# Sourced by the bench-*.sh scripts that time quillon-cli in the end-to-end
# world: their common arguments, the root and package checks, the programs
# they run and the world itself. Each function prints its failures under
# the script's name (BENCH_NAME) and exits the script.

# bench_args DEFAULT_RUNS MIN_RUNS DEFAULT_DOC ARGS...
# Sets build, runs, doc and only (--pairs, taken where BENCH_PAIRS is set).
bench_args() {
  runs=$1 doc=$3 build="build-release" only=""
  local min=$2
  shift 3
  while [ $# -gt 0 ]; do
    case $1 in
      --runs) runs=$2; shift 2 ;;
      --doc) doc=$2; shift 2 ;;
      --pairs) [ -n "${BENCH_PAIRS:-}" ] || { echo "$BENCH_NAME: unknown option $1" >&2; exit 2; }
        only=$2; shift 2 ;;
      -*) echo "$BENCH_NAME: unknown option $1" >&2; exit 2 ;;
      *) build=$1; shift ;;
    esac
  done
  if ! [[ "$runs" =~ ^[0-9]+$ ]] || [ "$runs" -lt "$min" ]; then
    echo "$BENCH_NAME: --runs needs a number >= $min" >&2
    exit 2
  fi
  if [ "$(id -u)" != 0 ]; then
    echo "$BENCH_NAME: skipped: the benchmark runs in network namespaces, which needs root"
    exit 0
  fi
}

# bench_tools COMMAND:PACKAGE... — a skip line naming every missing package.
bench_tools() {
  local tool missing=()
  for tool in "$@"; do
    command -v "${tool%%:*}" >/dev/null || missing+=("${tool#*:}")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "$BENCH_NAME: skipped: missing packages: ${missing[*]} (scripts/deps.sh installs them)"
    exit 0
  fi
}

# bench_programs — makes build absolute and sets cli, whois_server and
# whoami_server, building them when the folder lacks them (a build without
# the tests leaves the world's servers out).
bench_programs() {
  build=$(cd "$build" 2>/dev/null && pwd) || { echo "$BENCH_NAME: no build folder '$build'" >&2; exit 1; }
  cli="$build/app/quillon-cli"
  whois_server="$build/tests/e2e/e2e_whois_server"
  whoami_server="$build/tests/e2e/e2e_whoami_server"
  if [ ! -x "$cli" ] || [ ! -x "$whois_server" ] || [ ! -x "$whoami_server" ]; then
    cmake --build "$build" --target quillon-cli e2e_whois_server e2e_whoami_server >/dev/null 2>&1
  fi
  local program
  for program in "$cli" "$whois_server"; do
    [ -x "$program" ] || { echo "$BENCH_NAME: $program is missing" >&2; exit 1; }
  done
}

# bench_world_up TAG — brings the world up as TAG<pid>, its facts in
# $work/facts (read with fact NAME); the world and work are removed on the
# way out (and by the world's watchdog if the script is killed).
bench_world_up() {
  world="$1$$"
  work=$(mktemp -d "/tmp/quillon-$BENCH_NAME.XXXXXX")
  trap bench_world_down EXIT
  trap 'exit 130' INT TERM
  if ! bash "$HERE/e2e-world.sh" up "$world" --whois-server "$whois_server" --owner $$ \
    >"$work/facts" 2>"$work/world.err"; then
    echo "$BENCH_NAME: the test world did not come up:" >&2
    cat "$work/world.err" >&2
    exit 1
  fi
}

# shellcheck disable=SC2317  # called by the trap
bench_world_down() {
  bash "$HERE/e2e-world.sh" down "$world" >/dev/null 2>&1
  rm -rf "$work"
}

fact() { sed -n "s/^$1=//p" "$work/facts" | head -1; }
