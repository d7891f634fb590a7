#!/usr/bin/env bash
# Fails when a source under src/ includes a header of a layer above its own, or when sockets and
# tokendb include each other. The layers, lowest first:
#   core <- {sockets, tokendb} <- net <- engine <- model <- frontend
# Usage: scripts/check-layers.sh [src folder]
set -euo pipefail
src=${1:-"$(dirname "$0")/../src"}

declare -A rank=([core]=0 [sockets]=1 [tokendb]=1 [net]=2 [engine]=3 [model]=4 [frontend]=5)

status=0
while IFS=: read -r file line text; do
  own=${file#"$src"/}
  own=${own%%/*}
  used=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^/"]+)\/.*/\1/' <<<"$text")
  if [ -z "${rank[$own]:-}" ]; then
    echo "$file: $own is no layer"
    status=1
    continue
  fi
  [ -n "${rank[$used]:-}" ] || continue
  if [ "$used" != "$own" ] && [ "${rank[$used]}" -ge "${rank[$own]}" ]; then
    echo "$file:$line: $own must not include $used: $text"
    status=1
  fi
done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^/"]+/' "$src" --include='*.h' --include='*.cpp')
exit $status
