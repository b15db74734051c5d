#!/usr/bin/env bash
# What a screen reader reads: `calorim --simulate` under Xvfb with a session
# bus of its own and the accessibility bus it starts, read through AT-SPI by
# atspi_read.py (the panel's figures by name, then the detail window's, opened
# through the panel button's accessible action).
#
#   atspi_e2e.sh CALORIM
#
# Exit status 77 (skipped) when Xvfb, dbus-daemon, the AT-SPI bus launcher or
# Python's pyatspi is missing.
set -uo pipefail

calorim=$1
here=$(cd "$(dirname "$0")" && pwd)
python=/usr/bin/python3
launcher=
for candidate in /usr/libexec/at-spi-bus-launcher /usr/lib/at-spi2-core/at-spi-bus-launcher; do
  [[ -x $candidate ]] && launcher=$candidate
done
# shellcheck source=x_session.sh
source "$here/x_session.sh"
require_tools Xvfb dbus-daemon "$python"
[[ -n $launcher ]] || { echo "skipped: at-spi2-core is not installed"; exit 77; }
"$python" -c 'import pyatspi' 2>/dev/null || { echo "skipped: python3-pyatspi is not installed"; exit 77; }

work=$(mktemp -d)
pids=()
xvfb_pid=
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null; done
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

start_xvfb

# A session bus of the test's own; it starts the accessibility bus on demand.
dbus-daemon --session --nofork --print-address=4 4>"$work/bus" 2>"$work/dbus.log" &
pids+=($!)
wait_for_file "$work/bus" || fail "dbus-daemon did not start: $(cat "$work/dbus.log")"
export DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$work/bus")
"$launcher" --launch-immediately >"$work/atspi.log" 2>&1 &
pids+=($!)

export XDG_CONFIG_HOME=$work/config
export XDG_RUNTIME_DIR=$work/runtime
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
export QT_QPA_PLATFORM=xcb
# Qt speaks to AT-SPI only when asked to, as desktops with a screen reader do.
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
"$calorim" --simulate >"$work/calorim.log" 2>&1 &
pids+=($!)

timeout 60 "$python" "$here/atspi_read.py" 40 || fail "a screen reader could not read the figures"
# The title the X server shows is the window's own, the name not repeated.
if command -v xdotool >/dev/null; then
  [[ -n $(xdotool search --name '^Calorim — Simulated$' 2>/dev/null) ]] ||
    fail "no detail window titled 'Calorim — Simulated' on the X server"
fi
echo "a screen reader reads the panel's and the detail window's figures"
