#!/usr/bin/env bash
# Checks Quillon's .deb without installing it on the machine: reads its
# control data and file list, checks that Depends names the package of every
# shared library the programs load (linked, or loaded at first use, which
# they must not link), unpacks it into a scratch root, runs its
# postinst there (DPKG_ROOT) without setcap, with a failing setcap and as
# dpkg runs it, then runs quillon-cli --version and quillon-cli ping 127.0.0.1
# as user nobody.
# Usage: scripts/check-package.sh [FILE.deb]   (default: build-pkg/quillon_*.deb)
# Needs root (setcap, and switching to nobody); leaves nothing behind.
set -euo pipefail

cd "$(dirname "$0")/.."
deb="${1:-}"
if [ -z "$deb" ]; then
  deb="$(ls -t build-pkg/quillon_*.deb 2>/dev/null | head -n 1 || true)"
fi
if [ -z "$deb" ] || [ ! -f "$deb" ]; then
  echo "check-package: no .deb found (run make package first)" >&2
  exit 1
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "check-package: must run as root (setcap, running as nobody)" >&2
  exit 1
fi
for tool in dpkg-deb setcap getcap setpriv readelf strings ldconfig; do
  command -v "$tool" >/dev/null || { echo "check-package: $tool is missing" >&2; exit 1; }
done

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok:   $*"; }

scratch="$(mktemp -d "${TMPDIR:-/tmp}/quillon-deb.XXXXXX")"
trap 'rm -rf "$scratch"' EXIT
root="$scratch/root"
control="$scratch/control"
mkdir -p "$root" "$control" "$scratch/no-tools"
# nobody must be able to reach the programs.
chmod 755 "$scratch"

echo "== $deb"
dpkg-deb --info "$deb" | sed -n '/Package:/,$p'
echo "== contents"
dpkg-deb --contents "$deb" | awk '{print $1, $6}'

# The files the package must hold.
listing="$(dpkg-deb --contents "$deb" | awk '{print $6}')"
for path in ./usr/bin/quillon ./usr/bin/quillon-cli \
    ./usr/share/applications/quillon.desktop \
    ./usr/share/icons/hicolor/scalable/apps/quillon.svg \
    ./usr/share/man/man1/quillon-cli.1.gz \
    ./usr/share/bash-completion/completions/quillon-cli; do
  if grep -qxF "$path" <<<"$listing"; then pass "holds $path"; else fail "missing $path"; fi
done

dpkg-deb --control "$deb" "$control"
if [ -x "$control/postinst" ]; then pass "postinst is executable"; else fail "no executable postinst"; fi

# Every shared library the programs need must come from a package that
# Depends names (dpkg-shlibdeps should have put them there).
dpkg-deb -x "$deb" "$root"
depends="$(dpkg-deb --field "$deb" Depends)"
dep_names=" $(tr ',|' '\n\n' <<<"$depends" | sed 's/(.*//; s/ //g' | tr '\n' ' ') "

# The package that owns a library file (by its real path, else the path as
# given), or nothing.
owner_of() {
  local owner
  owner="$(dpkg -S "$(readlink -f "$1")" 2>/dev/null | head -n 1 | cut -d: -f1 || true)"
  [ -n "$owner" ] || owner="$(dpkg -S "$1" 2>/dev/null | head -n 1 | cut -d: -f1 || true)"
  echo "$owner"
}

# Passes when the package that owns library $2 (at $3) is in Depends;
# $1 says who needs it and how, for the message.
check_owner() {
  local who=$1 lib=$2 path=$3 owner
  owner="$(owner_of "$path")"
  if [ -z "$owner" ]; then
    fail "$who: no package owns $lib ($path)"
  elif [[ "$dep_names" == *" $owner "* ]]; then
    pass "$who: $lib from $owner, in Depends"
  else
    fail "$who: $lib comes from $owner, which Depends does not name"
  fi
}
for program in quillon quillon-cli; do
  binary="$root/usr/bin/$program"
  [ -f "$binary" ] || continue
  if ldd "$binary" | grep "not found" >/dev/null; then
    fail "$program: libraries not found: $(ldd "$binary" | grep 'not found' | tr -s ' \t' ' ')"
    continue
  fi
  for lib in $(readelf -d "$binary" | sed -n 's/.*Shared library: \[\(.*\)\]/\1/p'); do
    # ldd names most libraries "soname => path", but the loader by its path
    # alone ("/lib64/ld-linux-x86-64.so.2 (0x...)"): match either form.
    # awk reads to the end: leaving early would kill the writer with
    # SIGPIPE, and pipefail would end the whole check.
    path="$(ldd "$binary" | awk -v l="$lib" '
      { base = $1; sub(".*/", "", base) }
      !found && ($1 == l || base == l) { print ($2 == "=>" ? $3 : $1); found = 1 }')"
    if [ -z "$path" ]; then
      fail "$program: ldd does not list $lib"
      continue
    fi
    check_owner "$program" "$lib" "$path"
  done
done

# The libraries the programs load at their first use (by soname, which the
# programs hold as strings) are not linked, so dpkg-shlibdeps cannot see
# them: Depends must name their packages itself. And the programs must not
# link them after all: start-up would then pay for them whatever the command.
first_use="libssl.so.3 libcrypto.so.3 libpsl.so.5 libidn2.so.0 libunistring.so.2"
for program in quillon quillon-cli; do
  binary="$root/usr/bin/$program"
  [ -f "$binary" ] || continue
  needed="$(readelf -d "$binary" | sed -n 's/.*Shared library: \[\(.*\)\]/\1/p')"
  for lib in $first_use; do
    if grep -qxF "$lib" <<<"$needed"; then fail "$program links $lib, which it loads at first use"; fi
  done
  loaded="$(strings -a "$binary" | grep -xE 'lib[A-Za-z0-9_+-]+\.so\.[0-9]+' | sort -u)"
  for lib in $loaded; do
    grep -qxF "$lib" <<<"$needed" && continue  # linked: checked above
    path="$(ldconfig -p | awk -v l="$lib" '!found && $1 == l { print $NF; found = 1 }')"
    if [ -z "$path" ]; then
      fail "$program loads $lib at first use, which is not installed here"
      continue
    fi
    check_owner "$program (loaded at first use)" "$lib" "$path"
  done
done

# Runs a command as nobody, with no supplementary groups, a bare environment
# and a time limit.
as_nobody() {
  timeout 60 setpriv --reuid=65534 --regid=65534 --clear-groups \
    env -i PATH=/usr/bin:/bin LANG=C.UTF-8 HOME=/ "$@"
}
cli="$root/usr/bin/quillon-cli"

# Without the capability: ping works only when net.ipv4.ping_group_range
# covers nobody's group (65534); otherwise it must fail cleanly with its line.
read -r low high < /proc/sys/net/ipv4/ping_group_range
set +e
out="$(as_nobody "$cli" ping 127.0.0.1 2>&1)"
status=$?
set -e
if [ "$low" -le 65534 ] && [ "$high" -ge 65534 ]; then
  if [ $status -eq 0 ]; then pass "no capability: ping over datagram sockets (range $low $high)"
  else fail "no capability, range $low $high covers nobody, but ping exited $status: $out"; fi
else
  if [ $status -eq 1 ] && grep -qx "Error: not allowed to send ICMP echo requests" <<<"$out"; then
    pass "no capability, range $low $high: ping refused with its error line, status 1"
  else
    fail "no capability, range $low $high: expected status 1 and the ICMP error line, got $status: $out"
  fi
fi

# The postinst with setcap out of reach must still succeed and say why.
set +e
out="$(env -i PATH="$scratch/no-tools" DPKG_ROOT="$root" /bin/sh "$control/postinst" configure 2>&1)"
status=$?
set -e
if [ $status -eq 0 ] && grep -q "setcap not found" <<<"$out" && [ -z "$(getcap "$cli")" ]; then
  pass "postinst without setcap: exit 0, notice printed, no capability set"
else
  fail "postinst without setcap: status $status, output: $out"
fi

# And with a setcap that fails, as on a filesystem without extended attributes.
mkdir -p "$scratch/failing-setcap"
printf '#!/bin/sh\necho "setcap: Operation not supported" >&2\nexit 1\n' > "$scratch/failing-setcap/setcap"
chmod 755 "$scratch/failing-setcap/setcap"
set +e
out="$(env -i PATH="$scratch/failing-setcap" DPKG_ROOT="$root" /bin/sh "$control/postinst" configure 2>&1)"
status=$?
set -e
if [ $status -eq 0 ] && grep -q "setcap failed on" <<<"$out" && [ -z "$(getcap "$cli")" ]; then
  pass "postinst with a failing setcap: exit 0, notice printed, no capability set"
else
  fail "postinst with a failing setcap: status $status, output: $out"
fi

# The postinst as dpkg runs it.
echo "== postinst configure (DPKG_ROOT=$root)"
if DPKG_ROOT="$root" /bin/sh "$control/postinst" configure; then
  pass "postinst configure exit 0"
else
  fail "postinst configure failed"
fi
for program in quillon quillon-cli; do
  caps="$(getcap "$root/usr/bin/$program")"
  echo "   $caps"
  if grep -q "cap_net_raw[=+]ep" <<<"$caps"; then pass "$program has cap_net_raw+ep"
  else fail "$program has no cap_net_raw+ep"; fi
done

echo "== as nobody: quillon-cli --version"
set +e
out="$(as_nobody "$cli" --version 2>&1)"
status=$?
set -e
echo "$out"
if [ $status -eq 0 ] && grep -q "^quillon-cli [0-9]" <<<"$out"; then pass "--version"
else fail "--version exited $status"; fi

echo "== as nobody: quillon-cli ping 127.0.0.1"
set +e
out="$(as_nobody "$cli" ping 127.0.0.1 2>&1)"
status=$?
set -e
echo "$out"
if [ $status -eq 0 ] && grep -q "^Packages : sent = 4, receipt = 4, lost = 0$" <<<"$out" &&
   [ "$(grep -c '^response from host 127.0.0.1 ' <<<"$out")" -eq 4 ]; then
  pass "ping 127.0.0.1 as nobody: 4 replies"
else
  fail "ping 127.0.0.1 as nobody: status $status"
fi

if [ $failures -ne 0 ]; then
  echo "check-package: $failures check(s) failed"
  exit 1
fi
echo "check-package: all checks passed"
