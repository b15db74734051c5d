# Shared by the end-to-end scripts that run calorim under Xvfb; sourced after
# they set `work`, the folder their logs go to.

# Ends the script as skipped (77) when one of the commands is missing.
require_tools() {
  local tool
  for tool in "$@"; do
    if ! command -v "$tool" >/dev/null; then
      echo "skipped: $tool is not installed"
      exit 77
    fi
  done
}

fail() {
  echo "FAIL: $*"
  echo "--- calorim's output:"
  cat "$work/calorim.log" 2>/dev/null
  exit 1
}

# Waits up to ten seconds for FILE to hold something.
wait_for_file() {
  local _
  for _ in $(seq 100); do
    [[ -s $1 ]] && return 0
    sleep 0.1
  done
  return 1
}

# Starts Xvfb on a free display number (it writes the number to the given
# descriptor), sets xvfb_pid and exports DISPLAY.
start_xvfb() {
  Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
  xvfb_pid=$!
  wait_for_file "$work/display" || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
  export DISPLAY=":$(head -n1 "$work/display")"
}
