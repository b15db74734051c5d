#!/usr/bin/env bash
# The main job: one MCP session with calorim-probe on this machine, showing
# the answers to initialize, tools/list, power_system_info and power_snapshot.
# Where the machine has no readable energy counters the same session runs on
# the simulated laptop instead, and says so.
set -euo pipefail
bin=${1:-build/default/probe}

session() {
  printf '%s\n' \
    '{"jsonrpc":"2.0","id":1,"method":"initialize","params":{"protocolVersion":"2024-11-05","capabilities":{},"clientInfo":{"name":"demo","version":"1"}}}' \
    '{"jsonrpc":"2.0","method":"notifications/initialized"}' \
    '{"jsonrpc":"2.0","id":2,"method":"tools/list"}' \
    '{"jsonrpc":"2.0","id":3,"method":"tools/call","params":{"name":"power_system_info","arguments":{}}}' \
    '{"jsonrpc":"2.0","id":4,"method":"tools/call","params":{"name":"power_snapshot","arguments":{}}}'
}

show() {
  local label=$1
  shift
  echo "== $label"
  local names=(initialize tools/list power_system_info power_snapshot)
  local i=0
  while IFS= read -r line; do
    echo "-- ${names[$i]:-message}:"
    echo "$line"
    i=$((i + 1))
  done
}

errors=$(mktemp)
trap 'rm -f "$errors"' EXIT
if output=$(session | "$bin/calorim-probe" 2>"$errors"); then
  show "calorim-probe on this machine" <<<"$output"
else
  echo "This machine has no readable energy counters, so the session below runs on the simulated Apple Silicon laptop. calorim-probe said:"
  sed 's/^/  /' "$errors"
  session | "$bin/calorim-probe-sim" | show "calorim-probe-sim (SIMULATED machine, not this one)"
fi
