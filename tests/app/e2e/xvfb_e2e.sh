#!/usr/bin/env bash
# End to end on a real X server: `calorim --simulate` under Xvfb for about
# ten seconds, screenshots of what the X server shows, then the quit button's
# shortcut (Ctrl+Q) typed through the XTEST extension; the program must end
# by itself with exit status 0.
#
# A second launch must end with 0 and leave the one running; the window's
# class must be the desktop entry's StartupWMClass.
#
# A bare Xvfb has no system tray, so the panel first opens by itself as an
# ordinary window titled "Calorim": no option or hook is needed to open it.
# Where `trayer` is installed the run goes on with a tray: the window must
# close once the tray appears, a click on the tray icon must open the panel
# as a popup, and Ctrl+Q is typed into that popup.
#
#   xvfb_e2e.sh CALORIM SCREENSHOT_DIR [SECONDS]
#
# Exit status 77 (skipped) when Xvfb, xdotool or ImageMagick's import is
# missing.
set -uo pipefail

calorim=$1
shots=$2
seconds=${3:-10}

# shellcheck source=x_session.sh
source "$(dirname "$0")/x_session.sh"
require_tools Xvfb xdotool import

work=$(mktemp -d)
xvfb_pid=
app_pid=
tray_pid=
cleanup() {
  [[ -n $app_pid ]] && kill "$app_pid" 2>/dev/null
  [[ -n $tray_pid ]] && kill "$tray_pid" 2>/dev/null
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

start_xvfb

# Fresh preferences and autostart folder; the X platform, not offscreen.
export XDG_CONFIG_HOME=$work/config
export XDG_RUNTIME_DIR=$work/runtime
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
export QT_QPA_PLATFORM=xcb
"$calorim" --simulate >"$work/calorim.log" 2>&1 &
app_pid=$!

window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Calorim$' 2>/dev/null | head -n1)
[[ -n $window ]] || fail "no window titled Calorim appeared"

# Docks match windows to the desktop entry by the window class it names.
entry="$(dirname "$0")/../../../packaging/linux/org.calorim.Calorim.desktop"
wm_class=$(sed -n 's/^StartupWMClass=//p' "$entry")
[[ -n $wm_class ]] || fail "the desktop entry names no StartupWMClass"
if command -v xprop >/dev/null; then
  classes=$(xprop -id "$window" WM_CLASS) || fail "no WM_CLASS on the window"
  [[ $classes == *"\"$wm_class\""* ]] || fail "the window's class ($classes) is not the entry's $wm_class"
fi

# Started again, it hands over to the running one and ends with 0 at once.
timeout 10 "$calorim" --simulate >"$work/second.log" 2>&1
status=$?
[[ $status -eq 0 ]] || fail "a second launch ended with $status: $(cat "$work/second.log")"
kill -0 "$app_pid" 2>/dev/null || fail "the first calorim ended when the second started"
[[ $(xdotool search --onlyvisible --name '^Calorim$' 2>/dev/null | wc -l) -eq 1 ]] ||
  fail "a second launch left a second panel window"

# Let it sample for a while; it must keep running on its own.
for _ in $(seq "$seconds"); do
  sleep 1
  kill -0 "$app_pid" 2>/dev/null || fail "calorim ended early"
done

mkdir -p "$shots"
import -window "$window" "$shots/e2e_panel_window.png" || fail "no screenshot of the window"
import -window root "$shots/e2e_screen.png" || fail "no screenshot of the screen"

if command -v trayer >/dev/null; then
  trayer --edge top --align right --widthtype request --height 24 --SetDockType false >"$work/trayer.log" 2>&1 &
  tray_pid=$!
  # The window standing in for the tray goes once the tray is seen.
  gone=
  for _ in $(seq 100); do
    if [[ -z $(xdotool search --onlyvisible --name '^Calorim$' 2>/dev/null) ]]; then
      gone=yes
      break
    fi
    sleep 0.1
  done
  [[ -n $gone ]] || fail "the panel's window stayed open after a tray appeared"
  tray=$(xdotool search --onlyvisible --class trayer 2>/dev/null | head -n1)
  [[ -n $tray ]] || fail "trayer shows no window"
  eval "$(xdotool getwindowgeometry --shell "$tray")"
  sleep 1
  import -window root "$shots/e2e_tray.png" || fail "no screenshot of the tray"
  # Our icon is the tray's only one.
  xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click 1
  popup=$(timeout 10 xdotool search --sync --onlyvisible --class calorim 2>/dev/null | head -n1)
  [[ -n $popup ]] || fail "a click on the tray icon opened no panel"
  sleep 0.5
  import -window root "$shots/e2e_tray_popup.png" || fail "no screenshot of the popup"
  # The popup holds the keyboard while it is open.
  xdotool key --clearmodifiers ctrl+q
else
  echo "trayer is not installed: the run with a tray is left out"
  # No window manager gives the focus here: set it, then type the shortcut.
  xdotool windowfocus --sync "$window" || fail "cannot focus the window"
  xdotool key --clearmodifiers ctrl+q
fi

status=
for _ in $(seq 100); do
  if ! kill -0 "$app_pid" 2>/dev/null; then
    wait "$app_pid"
    status=$?
    app_pid=
    break
  fi
  sleep 0.1
done
[[ -n $status ]] || fail "calorim did not quit within 10 s of Ctrl+Q"
[[ $status -eq 0 ]] || fail "calorim ended with status $status"
echo "calorim ran ${seconds} s under Xvfb and quit with status 0; screenshots in $shots"
