#!/usr/bin/env bash
# Runs the command line against a local marketplace simulator with its demo keyword and shop.
set -euo pipefail
bin=${1:-build/bin}

log=$(mktemp)
"$bin/zerano-marketplace" --port 0 >"$log" &
market=$!
trap 'kill "$market" 2>/dev/null; wait "$market" 2>/dev/null; rm -f "$log"' EXIT

for _ in $(seq 100); do
    host=$(sed -n 's/^listening on //p' "$log")
    [ -n "$host" ] && break
    sleep 0.05
done
[ -n "$host" ] || { echo "demo: the marketplace simulator did not start" >&2; exit 1; }

echo "\$ zerano-cli --keyword 手机 --qq 987654321 --interval 100 --host $host"
"$bin/zerano-cli" --keyword 手机 --qq 987654321 --interval 100 --host "$host"
