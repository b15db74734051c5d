#!/usr/bin/env bash
# Installs the build under a fresh prefix and checks what a user of that tree
# meets: every file in its place, the installed programs running from there
# (the application finding its string bundle relative to itself), and each
# file accepted by the validator of its kind.
#
#   installed_tree.sh BUILD_DIR SOURCE_DIR VERSION HAS_EXPORTER
set -uo pipefail

build=$1
source=$2
version=$3
has_exporter=$4
work=$(mktemp -d)
app_pid=
cleanup() {
  [[ -n $app_pid ]] && kill -KILL "$app_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
stage=$work/prefix
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

if ! cmake --install "$build" --prefix "$stage" >"$work/install.log" 2>&1; then
  cat "$work/install.log"
  echo "FAIL: cmake --install"
  exit 1
fi

icon_sizes=(16 22 24 32 48 64 128 256)
expected=(
  bin/calorim bin/calorim-probe bin/calorim-probe-sim bin/calorim-run bin/calorim-top share/man/man1/calorim-run.1.gz
  share/calorim/CalorimGUI_Calorim.bundle/Localizable.strings
  share/applications/org.calorim.Calorim.desktop
  share/metainfo/org.calorim.Calorim.metainfo.xml
  share/icons/hicolor/scalable/apps/calorim.svg
  share/man/man1/calorim.1.gz share/man/man1/calorim-probe.1.gz share/man/man1/calorim-probe-sim.1.gz
  share/man/man1/calorim-top.1.gz
  lib/udev/rules.d/70-calorim-energy.rules lib/sysusers.d/calorim.conf
  share/doc/calorim/copyright share/doc/calorim/changelog.gz share/doc/calorim/README.md
  share/doc/calorim-tools/copyright share/doc/calorim-tools/changelog.gz share/doc/calorim-tools/README.md
)
for size in "${icon_sizes[@]}"; do
  expected+=("share/icons/hicolor/${size}x${size}/apps/calorim.png")
done
programs=(calorim calorim-probe calorim-probe-sim calorim-run calorim-top)
if ((has_exporter)); then
  expected+=(bin/calorim-exporter share/man/man1/calorim-exporter.1.gz lib/systemd/system/calorim-exporter.service)
  programs+=(calorim-exporter)
else
  echo "note: this build has no calorim-exporter; its program, manual page and unit are not checked"
fi
for file in "${expected[@]}"; do
  [[ -f $stage/$file ]] || fail "$file is not installed"
done
for program in "${programs[@]}"; do
  [[ -x $stage/bin/$program ]] || fail "bin/$program is not executable"
done

# Each PNG holds the size its folder names (width and height in the header).
for size in "${icon_sizes[@]}"; do
  png=$stage/share/icons/hicolor/${size}x${size}/apps/calorim.png
  [[ -f $png ]] || continue
  read -r width height < <(od -An -tu4 --endian=big -j16 -N8 "$png")
  [[ $width == "$size" && $height == "$size" ]] || fail "the ${size}x${size} icon is ${width}x${height}"
done

# The desktop entry names the installed program and icon; the metainfo names
# the desktop entry and this release.
desktop=$stage/share/applications/org.calorim.Calorim.desktop
metainfo=$stage/share/metainfo/org.calorim.Calorim.metainfo.xml
grep -qx 'Exec=calorim' "$desktop" || fail "the desktop entry does not start calorim"
grep -qx 'Icon=calorim' "$desktop" || fail "the desktop entry does not name the installed icon"
grep -q '<launchable type="desktop-id">org.calorim.Calorim.desktop</launchable>' "$metainfo" ||
  fail "the metainfo does not launch the desktop entry"
grep -q "<release version=\"$version\"" "$metainfo" || fail "the metainfo does not list release $version"

# The installed programs, run from the prefix, away from the build tree.
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_RUNTIME_DIR=$work/runtime
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
unset DISPLAY WAYLAND_DISPLAY

out=$("$stage/bin/calorim" --version 2>&1) || fail "installed calorim --version failed: $out"
[[ $out == "calorim $version" ]] || fail "installed calorim --version printed: $out"

if ((has_exporter)); then
  out=$("$stage/bin/calorim-exporter" --version 2>&1) || fail "installed calorim-exporter --version failed: $out"
  [[ $out == "calorim-exporter $version" ]] || fail "installed calorim-exporter --version printed: $out"
fi

QT_QPA_PLATFORM=offscreen "$stage/bin/calorim" --simulate >"$work/app.log" 2>&1 &
app_pid=$!
sleep 4
if kill -0 "$app_pid" 2>/dev/null; then
  kill -TERM "$app_pid"
  wait "$app_pid"
  status=$?
  [[ $status -eq 0 ]] || fail "installed calorim --simulate ended with $status after SIGTERM: $(cat "$work/app.log")"
else
  wait "$app_pid"
  fail "installed calorim --simulate ended within 4 s: $(cat "$work/app.log")"
fi
app_pid=

request='{"jsonrpc":"2.0","id":1,"method":"initialize","params":{"protocolVersion":"2024-11-05","capabilities":{},"clientInfo":{"name":"t","version":"1"}}}
{"jsonrpc":"2.0","id":2,"method":"tools/list"}'
out=$(timeout 20 "$stage/bin/calorim-probe-sim" <<<"$request" 2>&1)
[[ $out == *'"power_snapshot"'* ]] || fail "installed calorim-probe-sim did not list its tools: $out"

# The validators of each kind of file.
out=$(desktop-file-validate "$desktop" 2>&1)
[[ $? -eq 0 && -z $out ]] || fail "desktop-file-validate: $out"
out=$(appstreamcli validate --no-net "$metainfo" 2>&1) || fail "appstreamcli validate: $out"

export MANPATH=$stage/share/man
pages=(calorim calorim-probe calorim-probe-sim calorim-run calorim-top)
((has_exporter)) && pages+=(calorim-exporter)
for page in "${pages[@]}"; do
  out=$(LC_ALL=C.UTF-8 man --warnings -E UTF-8 "$page" 2>&1 >"$work/page.txt")
  [[ $? -eq 0 && -z $out ]] || fail "man --warnings $page: $out"
  grep -q "$page" "$work/page.txt" || fail "man $page rendered no page"
done

if ((has_exporter)); then
  unit=$stage/lib/systemd/system/calorim-exporter.service
  grep -qx "ExecStart=$stage/bin/calorim-exporter .*" "$unit" || fail "the unit does not start the installed exporter"
  zcat "$stage/share/man/man1/calorim-exporter.1.gz" | grep -qxF ".I ${unit%/*}/calorim\-exporter.service" ||
    fail "calorim-exporter(1) does not name the installed unit $unit"
  if ! systemd-analyze --version >/dev/null 2>&1; then
    echo "note: systemd-analyze cannot run here; the unit is not verified"
  else
    out=$(systemd-analyze verify "$unit" 2>&1) || fail "systemd-analyze verify: $out"
    [[ -z $out ]] || fail "systemd-analyze verify: $out"
  fi
fi

out=$(systemd-sysusers --dry-run --root="$work/sysroot" "$stage/lib/sysusers.d/calorim.conf" 2>&1)
[[ $out == *"Creating group 'calorim'"* ]] || fail "systemd-sysusers would not create the calorim group: $out"

# The launch agent the Mac installs: a property list that runs the exporter
# with the options it has.
out=$(python3 - "$source/packaging/macos/org.calorim.exporter.plist.in" <<'EOF'
import plistlib, sys
with open(sys.argv[1], "rb") as f:
    job = plistlib.load(f)
args = job["ProgramArguments"]
assert job["Label"] == "org.calorim.exporter", job["Label"]
assert args[0].endswith("/calorim-exporter"), args
assert args[1:] == ["--listen", "127.0.0.1:9847", "--interval", "5"], args
assert job["RunAtLoad"] is True
EOF
) || fail "the launchd property list: $out"

((failures == 0)) || exit 1
echo "installed tree complete and valid"
