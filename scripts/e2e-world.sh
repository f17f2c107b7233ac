#!/usr/bin/env bash
# The end-to-end test world: a client network namespace whose /etc/hosts and
# /etc/resolv.conf point at servers of our own (nsd with the test zone, six
# whois servers, nginx answering the public-address page, stand-ins for the
# public what-is-my-address services), two routers and a destination for
# trace route, and a blackholed network for silent drops.
# Used by the e2e tests, the screenshot and the benchmarks; needs root.
#
#   e2e-world.sh up NAME --whois-server BIN [--whoami-server BIN]
#                        [--public-host HOST] [--owner PID]
#       builds the world and prints its facts as KEY=VALUE lines; on any
#       failure it removes what it made. With --owner, a watchdog removes the
#       world once that process has ended (a killed test leaves nothing).
#       The what-is-my-address server defaults to e2e_whoami_server beside
#       the whois server; the host of the hosted /misc/ip.php page to
#       ip.quillon.test.
#   e2e-world.sh down NAME     removes the world (namespaces, their processes,
#                              /etc/netns/NAME and the state folder).
#   e2e-world.sh reap          removes worlds whose owner has ended.
#   e2e-world.sh public-host   prints the default host of the hosted page
#                              (http://HOST/misc/ip.php).
#
# Run programs in it with `ip netns exec NAME ...`: that mounts
# /etc/netns/NAME/{hosts,resolv.conf} over the files in /etc.
#
# Addresses (all in 198.18.0.0/15, inside the world's namespaces only):
#   client 198.18.1.2 -- r1 198.18.1.1 | 198.18.2.1 -- r2 198.18.2.2 | 198.18.3.1
#   -- destination 198.18.3.2;  r1 198.18.4.1 -- services 198.18.4.2:
#   whois 198.18.4.11-16, web 198.18.4.20, DNS 198.18.4.53.
#   Referral whois servers 198.18.4.140-149 (whois --follow).
#   r1 discards everything for 198.18.9.0/24 without a word (blackhole route).
# IPv6 (2001:db8::/32) beside it: see build_ipv6.
set -uo pipefail

STATE_ROOT=/run/quillon-e2e
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
SELF="$HERE/$(basename "${BASH_SOURCE[0]}")"

# The whois servers: top-level choice → host name → address.
WHOIS_HOSTS=(whois.nic.fr whois.nic.biz whois.nic.info whois.nic.name whois.internic.net whois.ripe.net)
WHOIS_ADDRS=(198.18.4.11 198.18.4.12 198.18.4.13 198.18.4.14 198.18.4.15 198.18.4.16)
WEB_ADDR=198.18.4.20
DNS_ADDR=198.18.4.53

# IPv6 beside IPv4 (2001:db8::/32, inside the world only): link N is
# 2001:db8:N::/64 as link N is 198.18.N.0/24. The DNS server listens on both
# families; whois.ripe.net has a second server reachable only over IPv6,
# named only in the IPv6 variant of the hosts file.
CLIENT6_ADDR=2001:db8:1::2
DEST6_ADDR=2001:db8:3::2
DNS6_ADDR=2001:db8:4::53
WHOIS6_ADDR=2001:db8:4::16
DROPPED6_ADDR=2001:db8:9::9
UNREACHABLE6_ADDR=2001:db8:5::9

die() { echo "e2e-world: $*" >&2; exit 1; }

# The host of the page that the hosting recipe of app/README.md serves.
DEFAULT_PUBLIC_HOST=ip.quillon.test

namespaces_of() {  # every namespace of the world, client last
  local n=$1
  echo "$n-r1 $n-r2 $n-dst $n-svc $n"
}

# Ends the processes that run inside the world's namespaces (all started by
# the world itself), by their process ids, then waits a moment for them.
stop_processes() {
  local n=$1 ns pids pid
  for ns in $(namespaces_of "$n"); do
    [ -e "/run/netns/$ns" ] || continue
    pids=$(ip netns pids "$ns" 2>/dev/null)
    for pid in $pids; do kill -TERM "$pid" 2>/dev/null; done
  done
  for _ in $(seq 1 20); do
    local alive=0
    for ns in $(namespaces_of "$n"); do
      [ -e "/run/netns/$ns" ] && [ -n "$(ip netns pids "$ns" 2>/dev/null)" ] && alive=1
    done
    [ $alive = 0 ] && return 0
    sleep 0.1
  done
  for ns in $(namespaces_of "$n"); do
    [ -e "/run/netns/$ns" ] || continue
    for pid in $(ip netns pids "$ns" 2>/dev/null); do kill -KILL "$pid" 2>/dev/null; done
  done
}

down() {
  local n=$1 ns wd
  [[ "$n" =~ ^[A-Za-z0-9_.-]+$ ]] || die "bad world name '$n'"
  local state="$STATE_ROOT/$n"
  if [ -f "$state/watchdog.pid" ]; then
    wd=$(cat "$state/watchdog.pid")
    # The watchdog itself calls down; it must not end itself half-way.
    if [ "$wd" != "$$" ] && [ "$wd" != "${WATCHDOG_PID:-}" ]; then kill -TERM "$wd" 2>/dev/null; fi
  fi
  stop_processes "$n"
  for ns in $(namespaces_of "$n"); do
    [ -e "/run/netns/$ns" ] && ip netns delete "$ns" 2>/dev/null
  done
  rm -rf "/etc/netns/$n" "$state"
  return 0
}

reap() {
  local d n owner
  [ -d "$STATE_ROOT" ] || return 0
  for d in "$STATE_ROOT"/*/; do
    [ -d "$d" ] || continue
    n=$(basename "$d")
    owner=$(cat "$d/owner" 2>/dev/null || echo "")
    if [ -n "$owner" ] && ! kill -0 "$owner" 2>/dev/null; then down "$n"; fi
  done
}

# Waits (bounded) until `cmd` succeeds inside the client namespace.
wait_for() {
  local n=$1 what=$2
  shift 2
  for _ in $(seq 1 100); do
    ip netns exec "$n" "$@" >/dev/null 2>&1 && return 0
    sleep 0.05
  done
  echo "e2e-world: $what did not come up" >&2
  return 1
}

write_zones() {
  local state=$1 public_host=$2
  cat >"$state/zones/test.zone" <<EOF
\$ORIGIN test.
\$TTL 60
@            SOA   ns.quillon.test. hostmaster.quillon.test. 1 3600 600 86400 60
@            NS    ns.quillon.test.
ns.quillon   A     $DNS_ADDR
; a domain whose name is an alias: the MX answer is the CNAME, then two MX
alias        CNAME mailhost.quillon.test.
mailhost.quillon MX 10 mx1.quillon.test.
mailhost.quillon MX 20 mx2.quillon.test.
mx1.quillon  A     198.18.4.25
mx2.quillon  A     198.18.4.26
; a domain that exists but receives no mail
nomx         A     198.18.4.30
; hosts for ping and trace route
client.quillon A   198.18.1.2
r1.quillon   A     198.18.1.1
r2.quillon   A     198.18.2.2
dest.quillon A     198.18.3.2
dropped.quillon A  198.18.9.9
EOF
  cat >"$state/zones/reverse.zone" <<EOF
\$ORIGIN 18.198.in-addr.arpa.
\$TTL 60
@        SOA   ns.quillon.test. hostmaster.quillon.test. 1 3600 600 86400 60
@        NS    ns.quillon.test.
2.1      PTR   client.quillon.test.
1.1      PTR   r1.quillon.test.
1.2      PTR   r1-east.quillon.test.
2.2      PTR   r2.quillon.test.
1.3      PTR   r2-east.quillon.test.
2.3      PTR   dest.quillon.test.
EOF
  cat >"$state/nsd.conf" <<EOF
server:
  ip-address: $DNS_ADDR
  ip-address: $DNS6_ADDR
  port: 53
  do-ip6: yes
  server-count: 1
  username: ""
  chroot: ""
  database: ""
  zonesdir: "$state/zones"
  zonelistfile: "$state/zone.list"
  xfrdfile: "$state/xfrd.state"
  xfrdir: "$state/xfr"
  pidfile: "$state/nsd.pid"
  logfile: "$state/nsd.log"
  verbosity: 0
  hide-version: yes
  # Response-rate limiting is on by default and drops repeated answers to one
  # client, which the soak test and the benchmarks are.
  rrl-ratelimit: 0
  rrl-whitelist-ratelimit: 0
remote-control:
  control-enable: no
zone:
  name: "test."
  zonefile: "test.zone"
zone:
  name: "18.198.in-addr.arpa."
  zonefile: "reverse.zone"
EOF
  cat >"$state/nginx.conf" <<EOF
worker_processes 1;
pid $state/nginx.pid;
error_log $state/nginx-error.log warn;
events { worker_connections 64; }
http {
  access_log off;
  client_body_temp_path $state/nginx-body;
  server {
    listen $WEB_ADDR:80;
    server_name $public_host;
    location = /misc/ip.php {
      default_type text/plain;
      return 200 \$remote_addr;
    }
    location / { return 404; }
  }
}
EOF
}

# --- Internationalised names: their A-labels in the test zone --------------
# bücher.test, пример.test and 例え.test receive mail, and bücher.test is the
# trace-route destination's address; the records exist only under the
# A-label, so an answer shows that the question carried it.
write_idn_zone_records() {
  cat >>"$1/zones/test.zone" <<EOF
; internationalised names, by their A-labels
xn--bcher-kva MX 10 mx1.quillon.test.
xn--bcher-kva A  198.18.3.2
xn--e1afmkfd MX 10 mx2.quillon.test.
xn--r8jz45g  MX 20 mx1.quillon.test.
EOF
}
# --- end of internationalised names -------------------------------------------

# ---- Lists of names and addresses (quillon-cli OP -) ----------------------
# Names l0.test ... l9999.test by i % 8: 0-2 one MX, 3 two MX, 4 an alias
# (CNAME, then the two MX), 5 an address and no MX, 6-7 nothing (NXDOMAIN).
# DNS queries for silent.test (and names under it) are dropped on their way
# to nsd, as by a server that never answers. 198.18.32.0/22 are addresses of
# the destination host (every one answers echo requests); r1 reports
# 198.18.10.0/24 unreachable. The client may open ICMP datagram sockets.
LIST_NAMES=10000
PING_TARGETS=198.18.32.0/22
UNREACHABLE_NET=198.18.10.0/24

list_names_zone() {
  local zone=$1
  awk -v n=$LIST_NAMES 'BEGIN {
    print "; list names"
    for (i = 0; i < n; i++) {
      k = i % 8
      if (k <= 2) printf "l%d MX 10 mx1.quillon.test.\n", i
      else if (k == 3) printf "l%d MX 10 mx1.quillon.test.\nl%d MX 20 mx2.quillon.test.\n", i, i
      else if (k == 4) printf "l%d CNAME mailhost.quillon.test.\n", i
      else if (k == 5) printf "l%d A 198.18.4.30\n", i
    }
  }' >>"$zone"
}

list_network() {
  local n=$1
  ipbatch "$n-r1" <<<"route add $PING_TARGETS via 198.18.2.2
route add unreachable $UNREACHABLE_NET" || return 1
  ipbatch "$n-r2" <<<"route add $PING_TARGETS via 198.18.3.2" || return 1
  ipbatch "$n-dst" <<<"route add local $PING_TARGETS dev lo" || return 1
  ip netns exec "$n" sysctl -qw net.ipv4.ping_group_range="0 2147483647" || return 1
  # r1's side towards the servers: a class that drops everything takes the
  # DNS queries whose first label is "silent" followed by "test" (bytes 40
  # to 47 of an IPv4 packet without options: the start of the query name).
  ip netns exec "$n-r1" sh -e -c '
    tc qdisc add dev eth2 root handle 1: htb default 1 r2q 10000
    tc class add dev eth2 parent 1: classid 1:1 htb rate 10gbit
    tc class add dev eth2 parent 1: classid 1:2 htb rate 10gbit
    tc qdisc add dev eth2 parent 1:2 handle 20: pfifo limit 0
    tc filter add dev eth2 parent 1: protocol ip prio 1 u32 match ip protocol 17 0xff \
      match ip dport 53 0xffff match u32 0x0673696c 0xffffffff at 40 \
      match u32 0x656e7404 0xffffffff at 44 flowid 1:2' || return 1
}
# ---- end of lists ----------------------------------------------------------

# ---- quillon-cli dns: records of several types -----------------------------
# Names under rr.test for `quillon-cli dns` (tests/e2e/cli_dns_e2e_test.cpp,
# scripts/bench-dns.sh): a TXT set of 24 strings of 200 bytes (about 5 KB:
# truncated over UDP, whole over TCP), a CNAME chain and a dangling CNAME.
dns_types_zone() {
  local zone=$1 i
  {
    echo "; quillon-cli dns"
    echo 'txt.rr       TXT   "v=spf1 -all" "hello \"world\""'
    echo 'caa.rr       CAA   0 issue "ca.example.net"'
    echo "srv.rr       SRV   10 60 5060 sip.rr.test."
    echo "https.rr     HTTPS 1 . alpn=h2,h3 ipv4hint=198.18.4.20"
    echo "aaaa.rr      AAAA  2001:db8:4::20"
    echo "aaaa.rr      AAAA  ::ffff:198.18.4.20"
    echo "chain.rr     CNAME chain2.rr.test."
    echo "chain2.rr    CNAME nomx.test."
    echo "dangling.rr  CNAME nowhere.rr.test."
    for i in $(seq 100 123); do
      printf 'big.rr       TXT   "%s%s"\n' "$i" "$(printf 'k%.0s' $(seq 1 197))"
    done
  } >>"$zone"
}
# ---- end of quillon-cli dns ------------------------------------------------

# IPv6 records: AAAA beside A for the hosts (dest6 has only AAAA: an
# IPv6-only name), the ip6.arpa reverse zone, and a ripe.net zone in which
# whois.ripe.net has only an IPv6 address.
write_ipv6_zones() {
  local state=$1
  cat >>"$state/zones/test.zone" <<EOF
; IPv6 beside IPv4, and a name with only an IPv6 address
client.quillon AAAA $CLIENT6_ADDR
r1.quillon   AAAA  2001:db8:1::1
r2.quillon   AAAA  2001:db8:2::2
dest.quillon AAAA  $DEST6_ADDR
dest6.quillon AAAA $DEST6_ADDR
dropped6.quillon AAAA $DROPPED6_ADDR
EOF
  cat >"$state/zones/reverse6.zone" <<EOF
\$ORIGIN 8.b.d.0.1.0.0.2.ip6.arpa.
\$TTL 60
@        SOA   ns.quillon.test. hostmaster.quillon.test. 1 3600 600 86400 60
@        NS    ns.quillon.test.
2.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.1.0.0.0 PTR client.quillon.test.
1.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.1.0.0.0 PTR r1.quillon.test.
1.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.2.0.0.0 PTR r1-east.quillon.test.
2.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.2.0.0.0 PTR r2.quillon.test.
1.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.3.0.0.0 PTR r2-east.quillon.test.
2.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.3.0.0.0 PTR dest.quillon.test.
EOF
  cat >"$state/zones/ripe.zone" <<EOF
\$ORIGIN ripe.net.
\$TTL 60
@        SOA   ns.quillon.test. hostmaster.quillon.test. 1 3600 600 86400 60
@        NS    ns.quillon.test.
whois    AAAA  $WHOIS6_ADDR
EOF
  cat >>"$state/nsd.conf" <<EOF
zone:
  name: "8.b.d.0.1.0.0.2.ip6.arpa."
  zonefile: "reverse6.zone"
zone:
  name: "ripe.net."
  zonefile: "ripe.zone"
EOF
}

# The IPv6 half of the network: addresses (without duplicate detection),
# routes, forwarding in the routers, no ICMPv6 rate limit anywhere; r1
# drops 2001:db8:9::/64 silently and has no route to 2001:db8:5::/64.
# The client lets every group use ICMP datagram sockets (ping as a normal
# user). The variant files for the IPv6 cases go to the state folder.
build_ipv6() {
  local n=$1 state=$2 ns
  printf '%s\n' "addr add $CLIENT6_ADDR/64 dev eth0 nodad" "route add default via 2001:db8:1::1" |
    ipbatch "$n" || return 1
  printf '%s\n' "addr add 2001:db8:1::1/64 dev eth0 nodad" "addr add 2001:db8:2::1/64 dev eth1 nodad" \
    "addr add 2001:db8:4::1/64 dev eth2 nodad" "route add 2001:db8:3::/64 via 2001:db8:2::2" \
    "route add blackhole 2001:db8:9::/64" "route add unreachable 2001:db8:5::/64" |
    ipbatch "$n-r1" || return 1
  printf '%s\n' "addr add 2001:db8:2::2/64 dev eth0 nodad" "addr add 2001:db8:3::1/64 dev eth1 nodad" \
    "route add default via 2001:db8:2::1" | ipbatch "$n-r2" || return 1
  printf '%s\n' "addr add $DEST6_ADDR/64 dev eth0 nodad" "route add default via 2001:db8:3::1" |
    ipbatch "$n-dst" || return 1
  printf '%s\n' "addr add 2001:db8:4::2/64 dev eth0 nodad" "addr add $DNS6_ADDR/128 dev eth0 nodad" \
    "addr add $WHOIS6_ADDR/128 dev eth0 nodad" "route add default via 2001:db8:4::1" |
    ipbatch "$n-svc" || return 1
  for ns in $(namespaces_of "$n"); do
    local forward=0
    [[ "$ns" == "$n-r1" || "$ns" == "$n-r2" ]] && forward=1
    ip netns exec "$ns" sysctl -qw net.ipv6.icmp.ratelimit=0 \
      net.ipv6.conf.all.forwarding=$forward || return 1
  done
  ip netns exec "$n" sysctl -qw net.ipv4.ping_group_range="0 2147483647" || return 1
  grep -v ' whois\.ripe\.net$' "/etc/netns/$n/hosts" >"$state/hosts6" || return 1
  echo "nameserver $DNS6_ADDR" >"$state/resolv6.conf"
}

# --- Origin AS numbers (quillon-cli trace --report --asn) ---------------------
# The Team Cymru zones, answered by the world's nsd: TXT records for the
# routers' addresses (r2's names two AS numbers, the first counts); the
# destination has none, so its lookup ends in NXDOMAIN (AS???).
write_origin_zones() {
  local state=$1
  cat >"$state/zones/origin.zone" <<EOF
\$ORIGIN origin.asn.cymru.com.
\$TTL 60
@            SOA   ns.quillon.test. hostmaster.quillon.test. 1 3600 600 86400 60
@            NS    ns.quillon.test.
1.1.18.198   TXT   "64500 | 198.18.1.0/24 | ZZ | test | 2024-01-01"
2.2.18.198   TXT   "64501 64502 | 198.18.2.0/24 | ZZ | test | 2024-01-01"
EOF
  cat >"$state/zones/origin6.zone" <<EOF
\$ORIGIN origin6.asn.cymru.com.
\$TTL 60
@        SOA   ns.quillon.test. hostmaster.quillon.test. 1 3600 600 86400 60
@        NS    ns.quillon.test.
1.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.1.0.0.0.8.b.d.0.1.0.0.2 TXT "64510 | 2001:db8:1::/48 | ZZ | test | 2024-01-01"
2.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.2.0.0.0.8.b.d.0.1.0.0.2 TXT "64511 64512 | 2001:db8:2::/48 | ZZ | test | 2024-01-01"
EOF
  cat >>"$state/nsd.conf" <<EOF
zone:
  name: "origin.asn.cymru.com."
  zonefile: "origin.zone"
zone:
  name: "origin6.asn.cymru.com."
  zonefile: "origin6.zone"
EOF
  nsd-checkzone origin.asn.cymru.com. "$state/zones/origin.zone" >/dev/null &&
    nsd-checkzone origin6.asn.cymru.com. "$state/zones/origin6.zone" >/dev/null
}
# --- end of origin AS numbers -------------------------------------------------

# Runs `ip` commands (one per line on stdin) in namespace $1, in one process.
ipbatch() { ip -n "$1" -batch -; }

build() {
  local n=$1 whois_bin=$2 public_host=$3 owner=$4
  local state="$STATE_ROOT/$n" ns i
  mkdir -p "$state/zones" "$state/xfr" "$state/nginx-body" "/etc/netns/$n" || return 1
  [ -n "$owner" ] && echo "$owner" >"$state/owner"

  # Few processes: every namespace is set up by one batch of `ip` commands.
  for ns in $(namespaces_of "$n"); do echo "netns add $ns"; done | ip -batch - || return 1
  # The veth pairs, each made in one namespace with its peer in the other.
  ipbatch "$n" <<<"link add eth0 type veth peer name eth0 netns $n-r1" || return 1
  printf '%s\n' "link add eth1 type veth peer name eth0 netns $n-r2" \
    "link add eth2 type veth peer name eth0 netns $n-svc" | ipbatch "$n-r1" || return 1
  ipbatch "$n-r2" <<<"link add eth1 type veth peer name eth0 netns $n-dst" || return 1
  printf '%s\n' "link set lo up" "addr add 198.18.1.2/24 dev eth0" "link set eth0 up" \
    "route add default via 198.18.1.1" | ipbatch "$n" || return 1
  printf '%s\n' "link set lo up" "addr add 198.18.1.1/24 dev eth0" "addr add 198.18.2.1/24 dev eth1" \
    "addr add 198.18.4.1/24 dev eth2" "link set eth0 up" "link set eth1 up" "link set eth2 up" \
    "route add 198.18.3.0/24 via 198.18.2.2" "route add blackhole 198.18.9.0/24" |
    ipbatch "$n-r1" || return 1
  printf '%s\n' "link set lo up" "addr add 198.18.2.2/24 dev eth0" "addr add 198.18.3.1/24 dev eth1" \
    "link set eth0 up" "link set eth1 up" "route add default via 198.18.2.1" |
    ipbatch "$n-r2" || return 1
  printf '%s\n' "link set lo up" "addr add 198.18.3.2/24 dev eth0" "link set eth0 up" \
    "route add default via 198.18.3.1" | ipbatch "$n-dst" || return 1
  {
    echo "link set lo up"
    echo "addr add 198.18.4.2/24 dev eth0"
    for i in "${WHOIS_ADDRS[@]}" $WEB_ADDR $DNS_ADDR; do echo "addr add $i/32 dev eth0"; done
    echo "link set eth0 up"
    echo "route add default via 198.18.4.1"
  } | ipbatch "$n-svc" || return 1
  # Every probe gets its ICMP answer (no rate limit), sent from the address
  # it reached; the routers forward.
  for ns in $(namespaces_of "$n"); do
    local forward=0
    [[ "$ns" == "$n-r1" || "$ns" == "$n-r2" ]] && forward=1
    ip netns exec "$ns" sysctl -qw net.ipv4.icmp_ratelimit=0 \
      net.ipv4.icmp_errors_use_inbound_ifaddr=1 net.ipv4.ip_forward=$forward || return 1
  done

  {
    echo "127.0.0.1 localhost"
    for i in "${!WHOIS_HOSTS[@]}"; do echo "${WHOIS_ADDRS[$i]} ${WHOIS_HOSTS[$i]}"; done
    echo "$WEB_ADDR $public_host"
  } >"/etc/netns/$n/hosts"
  echo "nameserver $DNS_ADDR" >"/etc/netns/$n/resolv.conf"

  write_zones "$state" "$public_host"
  write_idn_zone_records "$state"

  list_names_zone "$state/zones/test.zone" || return 1
  dns_types_zone "$state/zones/test.zone" || return 1
  list_network "$n" || return 1
  write_ipv6_zones "$state"
  nsd-checkzone test. "$state/zones/test.zone" >/dev/null || return 1
  nsd-checkzone 18.198.in-addr.arpa. "$state/zones/reverse.zone" >/dev/null || return 1
  nsd-checkzone 8.b.d.0.1.0.0.2.ip6.arpa. "$state/zones/reverse6.zone" >/dev/null || return 1
  nsd-checkzone ripe.net. "$state/zones/ripe.zone" >/dev/null || return 1
  write_origin_zones "$state" || return 1
  build_ipv6 "$n" "$state" || return 1

  # Servers run in the services namespace, their output in the state folder.
  ip netns exec "$n-svc" nsd -d -c "$state/nsd.conf" </dev/null >"$state/nsd.out" 2>&1 &
  ip netns exec "$n-svc" nginx -c "$state/nginx.conf" -p "$state" -g 'daemon off;' </dev/null \
    >"$state/nginx.out" 2>&1 &
  local args=()
  for i in "${!WHOIS_HOSTS[@]}"; do args+=("${WHOIS_ADDRS[$i]}=${WHOIS_HOSTS[$i]}"); done
  args+=("$WHOIS6_ADDR=whois.ripe.net")
  ip netns exec "$n-svc" "$whois_bin" --log "$state/whois.log" "${args[@]}" </dev/null \
    >"$state/whois.out" 2>&1 &

  # A query sent before nsd has bound its socket would wait dig's whole
  # second: first wait for the socket, then ask.
  wait_for "$n-svc" "nsd's socket" sh -c "ss -Hlun 'sport = :53' | grep -q ." || return 1
  wait_for "$n" "nsd" dig +time=1 +tries=1 @$DNS_ADDR alias.test MX || return 1
  wait_for "$n" "nginx" curl -sf --max-time 1 "http://$WEB_ADDR/misc/ip.php" || return 1
  wait_for "$n" "whois server" bash -c "exec 3<>/dev/tcp/${WHOIS_ADDRS[0]}/43" || return 1
  referral_whois_up "$n" "$whois_bin" || return 1
  # An IPv6 link passes packets only a moment after it came up.
  wait_for "$n" "the IPv6 route to the destination" ping -6 -c 1 -W 1 -n $DEST6_ADDR || return 1
  wait_for "$n" "nsd over IPv6" dig +time=1 +tries=1 @$DNS6_ADDR alias.test MX || return 1

  if [ -n "$owner" ]; then
    setsid bash "$SELF" watch "$n" "$owner" </dev/null >/dev/null 2>&1 &
    echo $! >"$state/watchdog.pid"
  fi
  return 0
}

# --- Whois referral chains (quillon-cli whois --follow) ---------------------
# More whois servers, served by a second e2e_whois_server process logging to
# the same whois.log: an IANA-style server, the registries and registrars it
# and the others refer to (tests/e2e/whois_referrals.h). whois.down.test has
# a name and an address but nothing listens there.
REFWHOIS_HOSTS=(whois.iana.org whois.de-registry.test whois.registrar.test whois.loop-a.test
  whois.loop-b.test whois.chain1.test whois.chain2.test whois.chain3.test whois.chain4.test)
REFWHOIS_ADDRS=(198.18.4.140 198.18.4.141 198.18.4.142 198.18.4.143 198.18.4.144 198.18.4.145
  198.18.4.146 198.18.4.147 198.18.4.148)
REFWHOIS_DOWN_HOST=whois.down.test
REFWHOIS_DOWN_ADDR=198.18.4.149

referral_whois_up() {
  local n=$1 whois_bin=$2 state="$STATE_ROOT/$1" i args=()
  for i in "${REFWHOIS_ADDRS[@]}" $REFWHOIS_DOWN_ADDR; do echo "addr add $i/32 dev eth0"; done |
    ipbatch "$n-svc" || return 1
  {
    for i in "${!REFWHOIS_HOSTS[@]}"; do echo "${REFWHOIS_ADDRS[$i]} ${REFWHOIS_HOSTS[$i]}"; done
    echo "$REFWHOIS_DOWN_ADDR $REFWHOIS_DOWN_HOST"
  } >>"/etc/netns/$n/hosts"
  for i in "${!REFWHOIS_HOSTS[@]}"; do args+=("${REFWHOIS_ADDRS[$i]}=${REFWHOIS_HOSTS[$i]}"); done
  ip netns exec "$n-svc" "$whois_bin" --log "$state/whois.log" "${args[@]}" </dev/null \
    >"$state/whois-referral.out" 2>&1 &
  wait_for "$n" "referral whois server" bash -c "exec 3<>/dev/tcp/${REFWHOIS_ADDRS[0]}/43"
}

referral_whois_facts() {
  local i
  for i in "${!REFWHOIS_HOSTS[@]}"; do echo "REFWHOIS_${i}=${REFWHOIS_HOSTS[$i]} ${REFWHOIS_ADDRS[$i]}"; done
  echo "REFWHOIS_DOWN=$REFWHOIS_DOWN_HOST $REFWHOIS_DOWN_ADDR"
}
# --- end of whois referral chains --------------------------------------------

# ---- What-is-my-address services (Local Info, quillon-cli info) -----------
# Stand-ins for the public services of the default source list, reached at
# their own names and address: resolver1.opendns.com (myip.opendns.com A),
# ns1.google.com (o-o.myaddr.l.google.com TXT), 1.1.1.1 (whoami.cloudflare
# CH TXT) and api.ipify.org (HTTP), all served by e2e_whoami_server in the
# services namespace; r1 routes 1.1.1.1/32 there, so nothing leaves the
# world. Each answers with the asker's address (the client's, 198.18.1.2)
# unless its control file says otherwise (see tests/e2e/whoami_server.cpp):
# a test writes "silent", "refuse", "lie ADDRESS" or "portal" into
# $WHOAMI_DIR/ADDRESS and waits for $WHOAMI_DIR/ADDRESS.applied to agree.
WHOAMI_OPENDNS=198.18.4.61
WHOAMI_GOOGLE=198.18.4.62
WHOAMI_CLOUDFLARE=1.1.1.1
WHOAMI_IPIFY=198.18.4.64

whoami_up() {
  local n=$1 bin=$2 state="$STATE_ROOT/$1"
  mkdir -p "$state/whoami" || return 1
  printf '%s\n' "addr add $WHOAMI_OPENDNS/32 dev eth0" "addr add $WHOAMI_GOOGLE/32 dev eth0" \
    "addr add $WHOAMI_CLOUDFLARE/32 dev eth0" "addr add $WHOAMI_IPIFY/32 dev eth0" |
    ipbatch "$n-svc" || return 1
  ipbatch "$n-r1" <<<"route add $WHOAMI_CLOUDFLARE/32 via 198.18.4.2" || return 1
  {
    echo "$WHOAMI_OPENDNS resolver1.opendns.com"
    echo "$WHOAMI_GOOGLE ns1.google.com"
    echo "$WHOAMI_IPIFY api.ipify.org"
  } >>"/etc/netns/$n/hosts"
  ip netns exec "$n-svc" "$bin" --control "$state/whoami" --dns $WHOAMI_OPENDNS \
    --dns $WHOAMI_GOOGLE --dns $WHOAMI_CLOUDFLARE --http $WHOAMI_IPIFY </dev/null \
    >"$state/whoami.out" 2>&1 &
  wait_for "$n" "the what-is-my-address services" sh -c \
    "curl -sf --max-time 1 http://api.ipify.org/ | grep -qx 198.18.1.2 &&
     dig +time=1 +tries=1 +short myip.opendns.com @resolver1.opendns.com | grep -qx 198.18.1.2 &&
     dig +time=1 +tries=1 +short CH TXT whoami.cloudflare @1.1.1.1 | grep -qx '\"198.18.1.2\"'"
}

whoami_facts() {
  echo "WHOAMI_DIR=$STATE_ROOT/$1/whoami"
  echo "WHOAMI_OPENDNS=$WHOAMI_OPENDNS"
  echo "WHOAMI_GOOGLE=$WHOAMI_GOOGLE"
  echo "WHOAMI_CLOUDFLARE=$WHOAMI_CLOUDFLARE"
  echo "WHOAMI_IPIFY=$WHOAMI_IPIFY"
}
# ---- end of what-is-my-address services -------------------------------------

# Removes the world once its owner has ended.
watch() {
  local n=$1 owner=$2
  WATCHDOG_PID=$$
  while kill -0 "$owner" 2>/dev/null && [ -d "$STATE_ROOT/$n" ]; do sleep 1; done
  [ -d "$STATE_ROOT/$n" ] && down "$n"
}

up() {
  local n=$1
  shift
  local whois_bin="" whoami_bin="" public_host="" owner=""
  while [ $# -gt 0 ]; do
    case $1 in
      --whois-server) whois_bin=$2; shift 2 ;;
      --whoami-server) whoami_bin=$2; shift 2 ;;
      --public-host) public_host=$2; shift 2 ;;
      --owner) owner=$2; shift 2 ;;
      *) die "unknown option $1" ;;
    esac
  done
  [[ "$n" =~ ^[A-Za-z0-9_.-]{1,40}$ ]] || die "bad world name '$n'"
  [ "$(id -u)" = 0 ] || die "needs root (network namespaces)"
  [ -x "$whois_bin" ] || die "whois server program missing: '$whois_bin'"
  [ -n "$public_host" ] || public_host=$DEFAULT_PUBLIC_HOST
  [ -n "$whoami_bin" ] || whoami_bin="$(dirname "$whois_bin")/e2e_whoami_server"
  [ -x "$whoami_bin" ] || die "what-is-my-address server program missing: '$whoami_bin'"
  [ -e "/run/netns/$n" ] && die "world $n exists already"
  reap
  if ! build "$n" "$whois_bin" "$public_host" "$owner" || ! whoami_up "$n" "$whoami_bin"; then
    echo "e2e-world: building $n failed; removing it" >&2
    for f in nsd.out nginx.out whois.out nginx-error.log whoami.out; do
      [ -s "$STATE_ROOT/$n/$f" ] && sed "s/^/  $f: /" "$STATE_ROOT/$n/$f" >&2
    done
    down "$n"
    return 1
  fi
  local state="$STATE_ROOT/$n"
  echo "NETNS=$n"
  echo "STATE=$state"
  echo "WHOIS_LOG=$state/whois.log"
  echo "CLIENT_ADDR=198.18.1.2"
  echo "DNS_ADDR=$DNS_ADDR"
  echo "WEB_ADDR=$WEB_ADDR"
  echo "PUBLIC_HOST=$public_host"
  echo "ROUTERS=198.18.1.1 198.18.2.2"
  echo "DEST_HOST=dest.quillon.test"
  echo "DEST_ADDR=198.18.3.2"
  echo "DROPPED_ADDR=198.18.9.9"
  for i in "${!WHOIS_HOSTS[@]}"; do echo "WHOIS_${i}=${WHOIS_HOSTS[$i]} ${WHOIS_ADDRS[$i]}"; done
  referral_whois_facts
  whoami_facts "$n"

  echo "LIST_NAMES=$LIST_NAMES"
  echo "PING_TARGETS=$PING_TARGETS"
  echo "UNREACHABLE_NET=$UNREACHABLE_NET"
  echo "CLIENT6_ADDR=$CLIENT6_ADDR"
  echo "ROUTERS6=2001:db8:1::1 2001:db8:2::2"
  echo "DEST6_ADDR=$DEST6_ADDR"
  echo "DEST6_ONLY_HOST=dest6.quillon.test"
  echo "DNS6_ADDR=$DNS6_ADDR"
  echo "DROPPED6_ADDR=$DROPPED6_ADDR"
  echo "UNREACHABLE6_ADDR=$UNREACHABLE6_ADDR"
  echo "WHOIS6_ONLY=whois.ripe.net $WHOIS6_ADDR"
  echo "HOSTS6=$state/hosts6"
  echo "RESOLV6=$state/resolv6.conf"
}

case ${1:-} in
  up) shift; [ $# -ge 1 ] || die "usage: up NAME ..."; up "$@" ;;
  down) [ $# -eq 2 ] || die "usage: down NAME"; down "$2" ;;
  reap) reap ;;
  public-host) echo "$DEFAULT_PUBLIC_HOST" ;;
  watch) watch "$2" "$3" ;;
  *) echo "usage: $0 up NAME --whois-server BIN [--whoami-server BIN] [--public-host HOST] [--owner PID] | down NAME | reap | public-host" >&2; exit 2 ;;
esac
