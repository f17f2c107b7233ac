#!/usr/bin/env bash
# The include check passes on the tree as it is, and fails, naming the file
# and line, for each kind of crossing planted in a copy of the tree.
set -euo pipefail
top=$1
check="$top/scripts/check-includes.sh"
scratch=$(mktemp -d /tmp/quillon-includes-XXXXXX)
trap 'rm -rf "$scratch"' EXIT

"$check" "$top" || { echo "FAIL: the tree itself does not pass"; exit 1; }

# file to plant | the include it holds
cases='
net/dns/planted.h|#include "app/cli/cli_args.h"
net/tcp/planted.cpp|#include "net/http/http.h"
net/socket/planted.h|#include "net/tcp/tcp_client.h"
app/lookup/planted.cpp|#include <openssl/ssl.h>
app/lookup/planted.h|#include <QString>
app/lookup/planted.h|#include "app/cli/cli_args.h"
app/window/planted.cpp|#include "app/cli/cli_view.h"
app/rdap/planted.cpp|#include "app/whois/whois_follow.h"
app/newfloor/planted.h|#include "net/socket/stack.h"
'
failed=0
while IFS='|' read -r file include; do
  [ -n "$file" ] || continue
  rm -rf "$scratch/tree"
  mkdir -p "$scratch/tree"
  cp -r "$top/net" "$top/app" "$scratch/tree/"
  mkdir -p "$(dirname "$scratch/tree/$file")"
  printf '// planted\n%s\n' "$include" > "$scratch/tree/$file"
  if out=$("$check" "$scratch/tree" 2>&1); then
    echo "FAIL: $file with '$include' passed the check"
    failed=1
  elif ! grep -q "^$file" <<<"$out"; then
    echo "FAIL: $file with '$include' failed without naming the file: $out"
    failed=1
  else
    echo "ok: $out"
  fi
done <<<"$cases"
exit $failed
