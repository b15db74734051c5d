#!/usr/bin/env bash
# Builds the Debian packages with CPack (calorim-tools without Qt, calorim
# with the tray application on top of it) and checks them as the distribution
# would: their control fields, their dependencies computed from the programs,
# the files in their FHS places and in one package only, and lintian without
# errors (its warnings are printed for the record).
#
#   debian_package.sh BUILD_DIR VERSION HAS_EXPORTER
set -uo pipefail

build=$1
version=$2
has_exporter=$3
for tool in cpack dpkg-deb dpkg-shlibdeps fakeroot lintian; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is missing (scripts/setup.sh installs it)"
    exit 77
  fi
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

if ! (cd "$build" && cpack -G DEB -B "$work" >"$work/cpack.log" 2>&1); then
  cat "$work/cpack.log"
  echo "FAIL: cpack -G DEB"
  exit 1
fi
# One package file by name: calorim-tools or calorim.
package_file() {
  local files=("$work/$1_${version}"_*.deb)
  [[ -f ${files[0]} ]] || {
    ls "$work"
    echo "FAIL: no $1_${version}_*.deb"
    exit 1
  }
  echo "${files[0]}"
}
tools=$(package_file calorim-tools)
app=$(package_file calorim)

# Whether a Depends line names `library` as a package.
depends_on() {
  local spaced=" ${1//,/ ,} ,"
  [[ $spaced == *" $2 "* ]]
}

# calorim-tools: the programs without Qt, for headless machines.
field() { dpkg-deb -f "$tools" "$1"; }
[[ $(field Package) == calorim-tools ]] || fail "Package: $(field Package)"
[[ $(field Version) == "$version" ]] || fail "calorim-tools Version: $(field Version)"
[[ -n $(field Maintainer) ]] || fail "calorim-tools has no Maintainer"
[[ $(field Description) == *calorim-probe* ]] || fail "calorim-tools Description: $(field Description)"
depends=$(field Depends)
for library in libc6 libstdc++6; do
  depends_on "$depends" "$library" || fail "calorim-tools Depends lacks $library: $depends"
done
[[ $depends != *qt* ]] || fail "calorim-tools depends on Qt: $depends"

dpkg-deb -c "$tools" | awk '{print $6}' >"$work/tools.contents"
expected=(./usr/bin/calorim-probe ./usr/bin/calorim-probe-sim ./usr/bin/calorim-run ./usr/bin/calorim-top
  ./usr/share/man/man1/calorim-probe.1.gz ./usr/share/man/man1/calorim-probe-sim.1.gz
  ./usr/share/man/man1/calorim-run.1.gz ./usr/share/man/man1/calorim-top.1.gz
  ./usr/lib/udev/rules.d/70-calorim-energy.rules ./usr/lib/sysusers.d/calorim.conf
  ./usr/share/doc/calorim-tools/copyright ./usr/share/doc/calorim-tools/changelog.gz
  ./usr/share/doc/calorim-tools/README.md)
if ((has_exporter)); then
  expected+=(./usr/bin/calorim-exporter ./usr/lib/systemd/system/calorim-exporter.service
    ./usr/share/man/man1/calorim-exporter.1.gz)
fi
for path in "${expected[@]}"; do
  grep -qx -- "$path" "$work/tools.contents" || fail "calorim-tools lacks $path"
done
grep -q '^./usr/bin/calorim$' "$work/tools.contents" && fail "calorim-tools holds the tray application"
dpkg-deb --ctrl-tarfile "$tools" | tar -xO ./postinst >"$work/postinst"
grep -q calorim.conf "$work/postinst" || fail "postinst does not create the calorim group"

# The service's ExecStart names the program where the package puts it, and
# the manual page names the unit there.
if ((has_exporter)); then
  mkdir "$work/tree"
  dpkg-deb -x "$tools" "$work/tree"
  grep -qx 'ExecStart=/usr/bin/calorim-exporter .*' "$work/tree/usr/lib/systemd/system/calorim-exporter.service" ||
    fail "the packaged unit starts: $(grep ExecStart "$work/tree/usr/lib/systemd/system/calorim-exporter.service")"
  zcat "$work/tree/usr/share/man/man1/calorim-exporter.1.gz" | grep -q '^\.I /usr/lib/systemd/system/calorim\\-exporter\.service$' ||
    fail "calorim-exporter(1) does not name the packaged unit: $(zcat "$work/tree/usr/share/man/man1/calorim-exporter.1.gz" | grep -A1 '^\.SH FILES')"
fi

# calorim: the tray application, on top of calorim-tools.
field() { dpkg-deb -f "$app" "$1"; }
[[ $(field Package) == calorim ]] || fail "Package: $(field Package)"
[[ $(field Version) == "$version" ]] || fail "calorim Version: $(field Version)"
[[ $(field Description) == *calorim-tools* ]] || fail "calorim Description: $(field Description)"
depends=$(field Depends)
[[ $depends == *"calorim-tools (= $version)"* ]] || fail "calorim does not depend on calorim-tools $version: $depends"
for library in libc6 libstdc++6 libqt6widgets6 libqt6network6; do
  depends_on "$depends" "$library" || fail "calorim Depends lacks $library: $depends"
done
dpkg-deb -c "$app" | awk '{print $6}' >"$work/app.contents"
expected=(./usr/bin/calorim
  ./usr/share/calorim/CalorimGUI_Calorim.bundle/Localizable.strings
  ./usr/share/applications/org.calorim.Calorim.desktop ./usr/share/metainfo/org.calorim.Calorim.metainfo.xml
  ./usr/share/icons/hicolor/scalable/apps/calorim.svg ./usr/share/man/man1/calorim.1.gz
  ./usr/share/doc/calorim/copyright ./usr/share/doc/calorim/changelog.gz ./usr/share/doc/calorim/README.md)
for path in "${expected[@]}"; do
  grep -qx -- "$path" "$work/app.contents" || fail "calorim lacks $path"
done
# No file in both packages: dpkg would refuse to install the second.
shared=$(comm -12 <(grep -v '/$' "$work/tools.contents" | sort) <(grep -v '/$' "$work/app.contents" | sort))
[[ -z $shared ]] || fail "files in both packages: $shared"

status=0
for deb in "$tools" "$app"; do
  lintian --fail-on error --tag-display-limit 0 "$deb" >"$work/lintian.log" 2>&1 || status=1
  echo "lintian says of $(basename "$deb"):"
  cat "$work/lintian.log"
done
[[ $status -eq 0 ]] || fail "lintian found errors"

((failures == 0)) || exit 1
echo "Debian packages complete, lintian without errors"
