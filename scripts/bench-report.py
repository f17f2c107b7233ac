#!/usr/bin/env python3
"""Writes docs/benchmarks.md from one run of scripts/bench.sh.

Reads what the run collected: the BENCH lines of every part, the CMD lines
that name the commands of a pair, and bench.sh's own RUN, LOAD and STATUS
lines. Writes one table with every pair of every issue (the figures of both
sides, the ratio, the goal and whether this run met it), the machine, the
date, the load average as each part started, each pair's commands and every
BENCH line of the run. A figure the run did not give (a part skipped or
failed) shows as "not run" and its goal as not met.

    bench-report.py RESULTS [--doc FILE]   (default docs/benchmarks.md)
"""

import argparse
import os
import platform
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# A cost that "stays flat" as the input grows tenfold: at most this ratio of
# the cost per item at the longer input to the cost at the shorter one.
FLAT = 1.25


class Row:
    """One pair (or one figure with a goal of its own).

    ours, peer: BENCH names of the two sides (peer may be None); ratio: the
    BENCH name of the ratio, or None to compute ours / peer when there is a
    peer; goal: (operator, bound...) on the ratio, or on ours when there is
    no ratio, or None; cmd: (ours, peer) texts (commands in backquotes), or
    "CMD:name" for a command that the run printed.
    """

    def __init__(self, issue, what, ours, peer=None, ratio=None, goal=None, cmd=(None, None),
                 part=None):
        self.issue, self.what, self.ours, self.peer = issue, what, ours, peer
        self.ratio, self.goal, self.cmd, self.part = ratio, goal, cmd, part


def compare(issue, pair, what):
    return Row(issue, what, f"compare_{pair}_quillon", f"compare_{pair}_peer",
               f"compare_{pair}_ratio", ("<=", 1.0),
               (f"CMD:compare_{pair}_quillon", f"CMD:compare_{pair}_peer"), "bench-compare")


CLI = "quillon-cli"
ROWS = [
    # Issue 3: the buffered TCP connection.
    Row("3", "ReceiveAll of 256 MiB over loopback, against recv into a warm buffer",
        "tcp_receive_all_256MiB", "tcp_plain_recv_256MiB", "tcp_receive_all_vs_plain",
        (">=", 80), ("ReceiveAll", "a plain recv loop into a preallocated, touched buffer"),
        "bench_tcp"),
    Row("3", "the same against recv into fresh memory", "tcp_receive_all_256MiB",
        "tcp_plain_recv_fresh_256MiB", "tcp_receive_all_vs_plain_fresh", None,
        ("ReceiveAll", "a plain recv loop into freshly allocated memory"), "bench_tcp"),
] + [
    Row("3", f"ReceiveLine over {n:,} lines of 40 bytes, against a memchr splitter",
        f"tcp_receive_line_{n}", f"tcp_plain_memchr_lines_{n}", f"tcp_receive_line_vs_plain_{n}",
        ("<=", 2.0), ("ReceiveLine", "a plain memchr line splitter over recv"), "bench_tcp")
    for n in (10000, 100000, 1000000)
] + [
    Row("3", "ReceiveLine cost per line, 1,000,000 lines over 10,000 (flat)",
        "tcp_receive_line_1000000", "tcp_receive_line_10000", None, ("<=", FLAT),
        ("ReceiveLine at both lengths", None), "bench_tcp"),
    # Issue 4: DNS replies.
    Row("4", "decoding a reply of 20 compressed MX records, against c-ares", "dns_decode_20mx",
        "dns_decode_20mx_cares", "dns_decode_20mx_ratio", ("<=", 1.0),
        ("the resolver's reply reading", "ares_parse_mx_reply on the same bytes"), "bench_dns"),
    # Issues 5, 13 and 20: one echo on loopback.
    Row("5", "one echo to 127.0.0.1 (1000 in a row), against ping's flood mode",
        "icmp_echo_loopback_per_echo", "ping_flood_loopback_per_echo", "icmp_echo_vs_ping_ratio",
        ("<=", 1.0), ("the echo client, 1000 echoes", "`ping -f -q -c 1000 127.0.0.1`"), "bench_icmp"),
    Row("13, 20", "one echo to ::1 (1000 in a row), against ping -6's flood mode",
        "icmp6_echo_loopback_per_echo", "ping6_flood_loopback_per_echo",
        "icmp6_echo_vs_ping6_ratio", ("<=", 1.0),
        ("the echo client, 1000 echoes", "`ping -6 -f -q -c 1000 ::1`"), "bench_icmp"),
    # Issue 6: HTTP bodies.
    Row("6", "GetBody of 256 MiB with Content-Length, against curl (throughput)",
        "http_getbody_content_length", "http_curl_content_length",
        "http_getbody_vs_curl_content_length", (">=", 0.8),
        ("TIdHTTP::GetBody", "`curl -s -o /dev/null URL`"), "bench_http"),
    Row("6", "GetBody of 256 MiB chunked, against curl (throughput)", "http_getbody_chunked",
        "http_curl_chunked", "http_getbody_vs_curl_chunked", (">=", 0.8),
        ("TIdHTTP::GetBody", "`curl -s -o /dev/null URL`"), "bench_http"),
] + [
    # Issue 8: the window's event loop and start-up.
    Row("8", f"longest event-loop stall of the window, {op.replace('_', ' ')}", f"app_stall_{op}",
        goal=("<", 50), cmd=("the real window offscreen, in the world", None),
        part="bench_app_stall")
    for op in ("info", "whois", "whois_long_answer", "mx", "ping", "trace")
] + [
    Row("8", "start-up to the first shown window (median of 20)",
        "app_startup_first_window_median", cmd=("quillon, offscreen, in the world", None),
        part="bench_app_startup"),
    # Issues 9, 13, 14, 20 and 21: quillon-cli against the usual tools.
    compare("9, 20", "whois", "whois NAME, against whois -h SERVER NAME"),
    compare("14, 20", "whoisfollow", "whois --follow over a two-step chain, against whois -I"),
    compare("9", "mx", "mx NAME, against dig +short MX"),
    compare("9", "ping", "ping HOST, against ping -c 4 -i 0.01"),
    compare("9, 20", "trace_traceroute", "trace HOST, against traceroute -I -q 1"),
    compare("9", "trace_mtr", "trace HOST, against mtr -r -c 1"),
    compare("13", "ping6", "ping -6 HOST, against ping -6 -c 4 -i 0.01"),
    compare("13, 20", "trace6_traceroute", "trace -6 HOST, against traceroute -6 -I -q 1"),
    compare("21", "info_dig", "info, against dig +short myip.opendns.com @resolver1.opendns.com"),
    compare("21", "info_curl", "info, against curl -s http://api.ipify.org/"),
    Row("21", "info, against the faster of the two", "info_faster_quillon", "info_faster_peer",
        None, ("<=", 1.0), ("the info pair whose peer was faster", None), "bench-compare"),
    compare("20", "startup", "start-up: --version, against whois --version"),
    # Issue 15: TLS and RDAP.
    Row("15", "GetBody of 256 MiB over https, against curl (throughput)", "tls_getbody",
        "tls_curl", "tls_getbody_vs_curl", (">=", 0.8),
        ("TIdHTTP::GetBody over the TLS transport", "`curl -s --cacert CA -o /dev/null URL`"),
        "bench_tls"),
    Row("15", "rdap with a warm bootstrap cache, against curl of the same document",
        "rdap_warm_quillon", "rdap_warm_curl", "rdap_warm_vs_curl", ("<=", 1.0),
        (f"`{CLI} rdap bench.example`",
         "`curl -s --cacert CA -H 'Accept: application/rdap+json' -o /dev/null URL`"), "bench_tls"),
    # Issue 16: lists.
    Row("16", "10,000 MX names at -j 64, against adnshost -a -f", "list_mx10000_quillon",
        "list_mx10000_adnshost", "list_mx10000_ratio_adnshost", ("<=", 1.0),
        ("CMD:list_mx10000_quillon", "CMD:list_mx10000_adnshost"), "bench-list"),
    Row("16", "10,000 MX names at -j 64, against dig -f", "list_mx10000_quillon",
        "list_mx10000_dig", "list_mx10000_ratio_dig", None,
        ("CMD:list_mx10000_quillon", "CMD:list_mx10000_dig"), "bench-list"),
    Row("16", "MX cost per name, 10,000 names over 1,000 (flat)", "list_mx10000_quillon_per_name",
        "list_mx1000_quillon_per_name", "list_mx_per_name_10000_over_1000", ("<=", FLAT),
        ("CMD:list_mx10000_quillon", "CMD:list_mx1000_quillon"), "bench-list"),
    Row("16", "peak resident memory, 10,000 MX names", "list_mx10000_quillon_peak_rss",
        goal=("<", 64), cmd=("CMD:list_mx10000_quillon", None), part="bench-list"),
    Row("16", "peak resident memory, 1,000 MX names", "list_mx1000_quillon_peak_rss",
        goal=("<", 64), cmd=("CMD:list_mx1000_quillon", None), part="bench-list"),
    Row("16", "1,000 ping targets x 4 echoes at -j 64, against fping", "list_ping1000_quillon",
        "list_ping1000_fping", "list_ping1000_ratio_fping", ("<=", 1.0),
        ("CMD:list_ping1000_quillon", "CMD:list_ping1000_fping"), "bench-list"),
] + [
    Row("16", f"ping list at -j {j}: raw sockets against datagram sockets (wall)",
        f"list_ping1000_j{j}_raw", f"list_ping1000_j{j}_datagram",
        f"list_ping1000_j{j}_raw_over_datagram", None,
        (f"CMD:list_ping1000_j{j}_raw", f"CMD:list_ping1000_j{j}_datagram"), "bench-list")
    for j in (64, 256)
] + [
    # Issue 22: quillon-cli dns.
    Row("22", "dns NAME TXT, against dig +noall +answer", "dns_txt_quillon", "dns_txt_dig", None,
        None, ("CMD:dns_txt_quillon", "CMD:dns_txt_dig"), "bench-dns"),
    Row("22", "dns NAME TXT, against kdig +noall +answer", "dns_txt_quillon", "dns_txt_kdig", None,
        None, ("CMD:dns_txt_quillon", "CMD:dns_txt_kdig"), "bench-dns"),
    Row("22", "dns NAME TXT, against the faster of dig and kdig", "dns_txt_quillon",
        "dns_txt_faster", "dns_txt_ratio_faster", ("<=", 0.5),
        ("CMD:dns_txt_quillon", "the faster of the two above"), "bench-dns"),
    Row("22", "a 5 KB TXT set, UDP then TCP, against dig", "dns_tcp_fallback_quillon",
        "dns_tcp_fallback_dig", "dns_tcp_fallback_ratio_dig", None,
        ("CMD:dns_big_quillon", "CMD:dns_big_dig"), "bench-dns"),
    Row("22", "10,000 names of mixed types at -j 64, against dig -f", "dns_list10000_quillon",
        "dns_list10000_dig", "dns_list10000_ratio_dig", ("<=", 0.5),
        ("CMD:dns_list_quillon", "CMD:dns_list_dig"), "bench-dns"),
    Row("22", "the list's records equal dig -f's, line for line", "dns_list10000_same_records",
        goal=("==", 1), cmd=("CMD:dns_list_quillon", "CMD:dns_list_dig"), part="bench-dns"),
    # Issue 23: trace --report.
    Row("23", "trace --report, 10 cycles, against mtr -r (wall)", "trace_report_wall",
        "trace_report_mtr_wall", "trace_report_vs_mtr", ("<=", 1.0),
        (f"`{CLI} trace --report -n -c 10 -i 0.1 198.18.3.2`", "`mtr -r -n -c 10 -i 0.1 198.18.3.2`"),
        "bench_trace_report"),
    Row("23", "trace --report lists mtr's hops, in order", "trace_report_same_hops",
        goal=("==", 1), cmd=(f"`{CLI} trace --report -n -c 10 -i 0.1 198.18.3.2`", None),
        part="bench_trace_report"),
    Row("23", "trace --report: Sent 10 on every line", "trace_report_sent_all", goal=("==", 1),
        cmd=(f"`{CLI} trace --report -n -c 10 -i 0.1 198.18.3.2`", None),
        part="bench_trace_report"),
    Row("23", "loss reported at the destination over 30 % loss, 200 cycles (mtr beside it)",
        "trace_report_loss_30", "trace_report_mtr_loss_30", "-", ("between", 20, 40),
        (f"`{CLI} trace --report -n -c 200 -i 0.01 -W 0.5 198.18.3.2`",
         "`mtr -r -n -c 200 -i 0.01 198.18.3.2`"), "bench_trace_report"),
    # Issue 25: shards.
    Row("25", "100,000 MX names: 4 shards at once against one run (wall)",
        "shard_mx100000_4shards_wall", "shard_mx100000_single_wall",
        "shard_mx100000_4shards_over_single", None,
        ("CMD:shard_4shards", "CMD:shard_single"), "bench-shard"),
    Row("25", "100,000 MX names: CPU time, 4 shards in all against one run",
        "shard_mx100000_4shards_cpu_total", "shard_mx100000_single_cpu", None, None,
        ("CMD:shard_4shards", "CMD:shard_single"), "bench-shard"),
    Row("25", "100,000 MX names: peak memory, largest shard against one run",
        "shard_mx100000_shard_peak_rss_max", "shard_mx100000_single_peak_rss", None, None,
        ("CMD:shard_4shards", "CMD:shard_single"), "bench-shard"),
    Row("25", "MX cost per name, 100,000 names over 10,000, one run (flat)",
        "shard_mx100000_single_per_name", "shard_mx10000_single_per_name",
        "shard_mx_per_name_100000_over_10000", ("<=", FLAT),
        ("CMD:shard_single", None), "bench-shard"),
]

DETAILED = [
    ("docs/benchmarks-pairs.md", "quillon-cli against the usual tools: spread, commands",
     "scripts/bench-compare.sh"),
    ("docs/benchmarks-lists.md", "lists against the bulk tools, ICMP sockets for lists",
     "scripts/bench-list.sh"),
    ("docs/benchmarks-dns.md", "quillon-cli dns against dig and kdig", "scripts/bench-dns.sh"),
    ("docs/benchmarks-shards.md", "a list in 4 shards against one run", "scripts/bench-shard.sh"),
]


def read(path):
    bench, units, cmds, loads, statuses, run, skips = {}, {}, {}, [], {}, {}, []
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            line = line.rstrip("\n")
            words = line.split()
            if len(words) >= 3 and words[0] == "BENCH":
                bench[words[1]] = words[2]
                units[words[1]] = " ".join(words[3:])
            elif len(words) >= 3 and words[0] == "CMD":
                cmds[words[1]] = line.split(None, 2)[2]
            elif len(words) >= 5 and words[0] == "LOAD":
                loads.append((words[1], words[2], words[3], words[4]))
            elif len(words) == 3 and words[0] == "STATUS":
                statuses[words[1]] = words[2]
            elif len(words) >= 3 and words[0] == "RUN":
                run[words[1]] = line.split(None, 2)[2]
            elif re.match(r"^\S+: skipped: ", line):
                skips.append(line)
    return bench, units, cmds, loads, statuses, run, skips


def number(text):
    try:
        value = float(text)
    except (TypeError, ValueError):
        return None
    return value if value == value else None  # NaN: none


def derive(bench, units):
    """Figures made from others: the info pair whose peer was faster, and
    dns's faster peer."""
    dig, curl = number(bench.get("compare_info_dig_peer")), number(bench.get("compare_info_curl_peer"))
    if dig is not None and curl is not None:
        pair = "info_dig" if dig <= curl else "info_curl"
        bench["info_faster_quillon"] = bench[f"compare_{pair}_quillon"]
        bench["info_faster_peer"] = bench[f"compare_{pair}_peer"]
        units["info_faster_quillon"] = units["info_faster_peer"] = "ms"
    kdig, dig = number(bench.get("dns_txt_kdig")), number(bench.get("dns_txt_dig"))
    if kdig is not None and dig is not None:
        bench["dns_txt_faster"] = bench["dns_txt_dig" if dig <= kdig else "dns_txt_kdig"]
        units["dns_txt_faster"] = units.get("dns_txt_dig", "ms")


def met(goal, value):
    if goal is None:
        return None
    if value is None:
        return False
    op = goal[0]
    if op == "<=":
        return value <= goal[1]
    if op == ">=":
        return value >= goal[1]
    if op == "<":
        return value < goal[1]
    if op == "==":
        return value == goal[1]
    if op == "between":
        return goal[1] <= value <= goal[2]
    raise ValueError(op)


def goal_text(goal, unit):
    if goal is None:
        return "—"
    op = goal[0]
    suffix = f" {unit}" if unit else ""
    if op == "between":
        return f"{goal[1]} to {goal[2]}{suffix}"
    word = {"<=": "≤", ">=": "≥", "<": "<", "==": "="}[op]
    if op == "==" and unit == "bool":
        return "yes"
    return f"{word} {goal[1]}{suffix}"


def shown(bench, units, key):
    if key is None:
        return ""
    if key not in bench:
        return "not run"
    unit = units.get(key, "")
    if unit == "bool":
        return "yes" if bench[key] == "1" else "no"
    return f"{bench[key]} {unit}".strip()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("results")
    parser.add_argument("--doc", default=os.path.join(ROOT, "docs", "benchmarks.md"))
    args = parser.parse_args()
    bench, units, cmds, loads, statuses, run, skips = read(args.results)
    derive(bench, units)

    lines = []
    out = lines.append
    results = []
    for index, row in enumerate(ROWS, 1):
        ours, peer = number(bench.get(row.ours)), number(bench.get(row.peer))
        ratio_text, ratio_unit, subject = "", "", ours
        if row.ratio == "-":
            pass  # two figures side by side, the goal on ours
        elif row.ratio is not None:
            subject = number(bench.get(row.ratio))
            ratio_unit = units.get(row.ratio, "")
            ratio_text = "not run" if subject is None else bench[row.ratio]
            if ratio_unit == "%":
                ratio_text += " %"
        elif row.peer is not None:
            subject = ours / peer if ours is not None and peer else None
            ratio_text = "not run" if subject is None else f"{subject:.3f}"
        goal_unit = "%" if ratio_unit == "%" else ("" if row.peer else units.get(row.ours, ""))
        if row.ratio == "-":
            goal_unit = units.get(row.ours, "")
        verdict = met(row.goal, subject)
        results.append((index, row, verdict))
        out_row = [str(index), row.issue, row.what, shown(bench, units, row.ours),
                   shown(bench, units, row.peer) if row.peer else "", ratio_text,
                   goal_text(row.goal, goal_unit),
                   "—" if verdict is None else ("**met**" if verdict else "**not met**")]
        lines.append("| " + " | ".join(out_row) + " |")
    table = lines[:]
    lines.clear()

    goals = [r for r in results if r[2] is not None]
    missed = [r for r in goals if not r[2]]
    cpu = ""
    try:
        with open("/proc/cpuinfo", encoding="utf-8") as f:
            cpu = next((l.split(":", 1)[1].strip() for l in f if l.startswith("model name")), "")
    except OSError:
        pass

    out("# Benchmarks")
    out("")
    out("Written by `make bench` from one run of every benchmark (scripts/bench.sh,")
    out("then scripts/bench-report.py); do not edit by hand. The detailed pages")
    out("below were rewritten by the same run.")
    out("")
    out(f"- Date: {run.get('started', 'unknown')} to {run.get('ended', 'unknown')}")
    out(f"- Machine: {os.cpu_count()} CPUs, {cpu or 'unknown CPU'}; Linux {platform.release()}; "
        "shared with other work while it ran (load averages below)")
    out(f"- Build: Release, `{run.get('build', 'build-release')}/app/quillon-cli` and "
        f"`{run.get('build', 'build-release')}/bench/*/bench_*`")
    out("")
    out(f"Goals met in this run: {len(goals) - len(missed)} of {len(goals)}.")
    if missed:
        out("Not met: " + "; ".join(f"#{i} {r.what} (issue {r.issue})" for i, r, _ in missed) + ".")
    out("")
    out("## Every pair")
    out("")
    out("quillon-cli (or our library) is always the first side. Ratios are ours / the peer's")
    out("for times (below 1: we are faster) and for throughputs (above 1: we are faster), as")
    out("each benchmark prints them; a percentage is ours as a share of the peer's. Times")
    out("of fresh processes are medians of runs in alternation; see each part's page for")
    out(f"the number of runs and the spread. A cost that stays flat is taken as at most {FLAT:g}")
    out("times the cost per item of the shorter input.")
    out("")
    out("| # | Issue | What | quillon | Peer | Ratio | Goal | This run |")
    out("|---:|---|---|---:|---:|---:|---|---|")
    lines.extend(table)
    out("")
    out("## Load average of the machine as each part started")
    out("")
    out("| Part | 1 min | 5 min | 15 min | Exit status |")
    out("|---|---:|---:|---:|---|")
    for part, l1, l5, l15 in loads:
        out(f"| {part} | {l1} | {l5} | {l15} | {statuses.get(part, '')} |")
    if skips:
        out("")
        out("Parts that did not run:")
        out("")
        for s in skips:
            out(f"- {s}")
    out("")
    out("## Commands")
    out("")
    out("As run, by row; `quillon-cli` is the Release build above, run inside the end-to-end")
    out("world's client namespace (docs/test-world.md) for every pair that talks to servers.")
    out("")
    for index, row, _ in results:
        texts = []
        for side, text in zip(("ours", "peer"), row.cmd):
            if text is None:
                continue
            if text.startswith("CMD:"):
                text = f"`{cmds[text[4:]]}`" if text[4:] in cmds else "not run"
            texts.append(f"{side}: {text}")
        if texts:
            out(f"- #{index} ({row.part}): " + "; ".join(texts))
    out("")
    out("## Detailed pages of the same run")
    out("")
    for page, what, script in DETAILED:
        out(f"- [{page}]({os.path.basename(page)}): {what} ({script})")
    out("")
    out("## Every BENCH line of the run")
    out("")
    out("```")
    with open(args.results, encoding="utf-8", errors="replace") as f:
        for line in f:
            if line.startswith("LOAD ") and line.split()[1] != "end":
                out("== " + line.split()[1])
            elif line.startswith("BENCH "):
                out(line.rstrip("\n"))
    out("```")

    with open(args.doc + ".tmp", "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")
    os.replace(args.doc + ".tmp", args.doc)
    return 0


if __name__ == "__main__":
    sys.exit(main())
