#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Quillon need.
# Root installs with apt-get; a normal user goes through sudo when it exists;
# otherwise the one apt-get line to run is printed and the script fails.
set -euo pipefail

PACKAGES=(
  # toolchain
  cmake ninja-build g++ make clang clang-format libclang-rt-14-dev pkg-config
  # packaging: dpkg-shlibdeps and file for CPack, setcap/getcap for the package check
  dpkg-dev file libcap2-bin
  # test and benchmark libraries
  googletest libgtest-dev libgmock-dev libbenchmark-dev libc-ares-dev
  # the window
  qt6-base-dev libgl-dev xvfb xauth xdotool fonts-liberation2
  # public-suffix list for the HTTP cookie store
  libpsl-dev
  # TLS for https (net/tls) and JSON for RDAP documents (quillon-cli rdap); the
  # openssl tool makes the tests' throw-away certificate authority
  libssl-dev openssl nlohmann-json3-dev
  # real peers for the tests and the benchmarks
  iproute2 nsd nginx-light whois bind9-dnsutils iputils-ping traceroute mtr-tiny curl procps
  # internationalised names (UTS #46 to A-labels)
  libidn2-dev
  # bulk peers of the list benchmarks, and /usr/bin/time for their CPU time and memory
  adns-tools fping time
  # quillon-cli --json: the JSON Schemas checked in the tests; GNU parallel for the
  # recipe of docs/scale.md (test and benchmark)
  python3-jsonschema parallel
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
if [ "$(id -u)" -eq 0 ]; then
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
elif command -v sudo >/dev/null 2>&1; then
  sudo apt-get update -qq
  sudo DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
else
  echo "deps: missing packages; run as root:" >&2
  echo "  apt-get install -y ${missing[*]}" >&2
  exit 1
fi

# The packaged servers start themselves on install; the tests run their own
# copies on ports of their own, so the system instances are not needed.
if [ "$(id -u)" -eq 0 ]; then
  for svc in nsd nginx; do
    (command -v systemctl >/dev/null && systemctl stop "$svc") >/dev/null 2>&1 || true
    (command -v service >/dev/null && service "$svc" stop) >/dev/null 2>&1 || true
  done
fi
