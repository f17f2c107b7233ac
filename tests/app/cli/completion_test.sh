#!/usr/bin/env bash
# The bash completion of quillon-cli (packaging/quillon-cli.bash-completion):
# for each command line typed so far, the words offered.
set -u
source "$1/packaging/quillon-cli.bash-completion" || exit 1

failures=0
# offered "LINE" "EXPECTED WORDS": LINE is what was typed (a trailing blank
# starts a new, empty word); EXPECTED the words offered, sorted.
offered() {
  local line=$1 expected=$2
  read -ra COMP_WORDS <<<"$line"
  [[ $line == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _quillon_cli
  local got
  got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ' | sed 's/ $//')
  if [ "$got" != "$expected" ]; then
    echo "FAIL: '$line' offered '$got', expected '$expected'"
    failures=$((failures + 1))
  fi
}

offered "quillon-cli " "--help --shard --version -j dns info mx ping rdap trace whois"
offered "quillon-cli t" "trace"
offered "quillon-cli -j " "1 128 16 256 32 4 64 8"
offered "quillon-cli --shard " ""
offered "quillon-cli -j 8 --shard 0/4 m" "mx"
offered "quillon-cli -j8 --shard=1/4 whois -" "- --follow --json"
offered "quillon-cli whois --follow -" "- --json"
offered "quillon-cli whois --follow --json example.org " ""
offered "quillon-cli mx -" "- --json"
offered "quillon-cli ping -" "- --json -4 -6"
offered "quillon-cli ping -6 --json -" "-"
offered "quillon-cli trace -" "- --asn --json --report -4 -6 -W -c -i -m -n"
offered "quillon-cli trace --report -c " ""
offered "quillon-cli trace --report -c 5 -i 0.1 --a" "--asn"
offered "quillon-cli info " ""
offered "quillon-cli info -" "--json"
offered "quillon-cli info --json " ""
offered "quillon-cli dns -" "- --json --rate --short --tcp -p -t -x"
offered "quillon-cli dns --rate " ""
offered "quillon-cli dns -t " "A AAAA CAA CNAME DNSKEY DS HTTPS MX NAPTR NS PTR SOA SRV SSHFP SVCB TLSA TXT"
offered "quillon-cli dns -t s" "soa srv sshfp svcb"
offered "quillon-cli dns @198.18.4.53 -p 53 --tcp example.org T" "TLSA TXT"
offered "quillon-cli dns example.org MX " ""
offered "quillon-cli dns -x " ""
offered "quillon-cli dns -x 192.0.2.1 " ""
offered "quillon-cli dns --short -t MX -" "- --rate --tcp -p -x"
offered "quillon-cli rdap -" "- --json --no-follow"
offered "quillon-cli nosuch -" ""

if [ $failures -ne 0 ]; then
  echo "$failures completion case(s) failed"
  exit 1
fi
echo "completion: every case offered what it should"
