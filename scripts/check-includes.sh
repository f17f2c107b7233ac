#!/usr/bin/env bash
# Keeps the floors of the tree: every #include under net/ and app/ must point
# to its own folder or one below it, and the libraries that only some floors
# may use (Qt, OpenSSL) stay on those floors. Prints each offending
# FILE:LINE and fails; docs/architecture.md explains the floors.
# Usage: scripts/check-includes.sh [ROOT]   (default: this checkout)
set -euo pipefail

root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$root"

# Folder, then the project folders its files may include (its own always).
# A folder that is not listed here fails the check: say where it stands.
floors='
net/socket
net/tcp     net/socket
net/dns     net/socket
net/icmp    net/socket
net/thread  net/socket
net/tls     net/socket net/tcp
net/http    net/socket net/tcp
app/lookup  net/*
app/whois   net/* app/lookup
app/rdap    net/* app/lookup
app/dns     net/* app/lookup
app/cli     net/* app/lookup app/whois app/rdap app/dns
app/window  net/* app/lookup
'
# System headers that only some folders may include: a pattern on the header
# name, then the folders allowed to include it.
only_in='
^Q                  app/window
^openssl/           net/tls
^nlohmann/          app/rdap app/dns app/cli
^idn2\.h$           app/lookup
^libpsl\.h$         net/http
'

find net app -type f \( -name '*.h' -o -name '*.cpp' \) 2>/dev/null | sort |
  awk -v floors="$floors" -v only_in="$only_in" '
    BEGIN {
      n = split(floors, rows, "\n")
      for (i = 1; i <= n; i++) {
        k = split(rows[i], f, /[ \t]+/)
        if (k == 0 || f[1] == "") continue
        known[f[1]] = 1
        allowed[f[1]] = f[1]
        for (j = 2; j <= k; j++) allowed[f[1]] = allowed[f[1]] " " f[j]
      }
      m = split(only_in, rows, "\n")
      nrules = 0
      for (i = 1; i <= m; i++) {
        k = split(rows[i], f, /[ \t]+/)
        if (k < 2 || f[1] == "") continue
        nrules++
        pattern[nrules] = f[1]
        where[nrules] = ""
        for (j = 2; j <= k; j++) where[nrules] = where[nrules] " " f[j]
      }
      bad = 0
    }
    # Does folder `dir` appear in the list `list` (entries may end in /*)?
    function listed(dir, list,    parts, c, i, p) {
      c = split(list, parts, " ")
      for (i = 1; i <= c; i++) {
        p = parts[i]
        if (p == dir) return 1
        if (p ~ /\/\*$/ && index(dir, substr(p, 1, length(p) - 1)) == 1) return 1
      }
      return 0
    }
    function folder(path,    parts) {
      split(path, parts, "/")
      return parts[1] "/" parts[2]
    }
    {
      file = $0
      dir = folder(file)
      if (!(dir in known)) {
        printf "%s: folder %s has no floor in scripts/check-includes.sh\n", file, dir
        bad = 1
        next
      }
      lineno = 0
      while ((getline line < file) > 0) {
        lineno++
        if (line !~ /^[ \t]*#[ \t]*include[ \t]*[<"]/) continue
        header = line
        sub(/^[ \t]*#[ \t]*include[ \t]*[<"]/, "", header)
        sub(/[">].*$/, "", header)
        if (line ~ /include[ \t]*"/ && header ~ /^(net|app|tests)\//) {
          target = folder(header)
          if (!listed(target, allowed[dir])) {
            printf "%s:%d: %s may not include %s (%s is not below it)\n", file, lineno, dir, header, target
            bad = 1
          }
          continue
        }
        for (r = 1; r <= nrules; r++) {
          if (header ~ pattern[r] && !listed(dir, where[r])) {
            printf "%s:%d: %s may not include <%s> (only%s)\n", file, lineno, dir, header, where[r]
            bad = 1
          }
        }
      }
      close(file)
    }
    END { exit bad }
  '
