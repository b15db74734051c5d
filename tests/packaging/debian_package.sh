#!/usr/bin/env bash
# Builds the Debian package with CPack and checks it as the distribution
# would: its control fields, its dependencies computed from the programs, the
# files in their FHS places, and lintian without errors (its warnings are
# printed for the record).
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
deb=("$work"/calorim_"$version"_*.deb)
[[ -f ${deb[0]} ]] || {
  ls "$work"
  echo "FAIL: no calorim_${version}_*.deb"
  exit 1
}
deb=${deb[0]}

field() { dpkg-deb -f "$deb" "$1"; }
[[ $(field Package) == calorim ]] || fail "Package: $(field Package)"
[[ $(field Version) == "$version" ]] || fail "Version: $(field Version)"
[[ -n $(field Maintainer) ]] || fail "no Maintainer"
[[ $(field Description) == *calorim-exporter* ]] || fail "Description: $(field Description)"
depends=$(field Depends)
for library in libc6 libstdc++6 libqt6widgets6 libqt6network6; do
  [[ $depends == *"$library "* || $depends == *"$library," || $depends == *"$library" ]] ||
    fail "Depends lacks $library: $depends"
done

dpkg-deb -c "$deb" | awk '{print $6}' >"$work/contents"
expected=(./usr/bin/calorim ./usr/bin/calorim-probe ./usr/bin/calorim-probe-sim
  ./usr/share/calorim/CalorimGUI_Calorim.bundle/Localizable.strings
  ./usr/share/applications/org.calorim.Calorim.desktop ./usr/share/metainfo/org.calorim.Calorim.metainfo.xml
  ./usr/share/icons/hicolor/scalable/apps/calorim.svg ./usr/share/man/man1/calorim.1.gz
  ./usr/lib/udev/rules.d/70-calorim-energy.rules ./usr/lib/sysusers.d/calorim.conf
  ./usr/share/doc/calorim/copyright ./usr/share/doc/calorim/changelog.gz)
if ((has_exporter)); then
  expected+=(./usr/bin/calorim-exporter ./usr/lib/systemd/system/calorim-exporter.service)
fi
for path in "${expected[@]}"; do
  grep -qx -- "$path" "$work/contents" || fail "the package lacks $path"
done
dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./postinst >"$work/postinst"
grep -q calorim.conf "$work/postinst" || fail "postinst does not create the calorim group"

# The service's ExecStart names the program where the package puts it.
if ((has_exporter)); then
  mkdir "$work/tree"
  dpkg-deb -x "$deb" "$work/tree"
  grep -qx 'ExecStart=/usr/bin/calorim-exporter .*' "$work/tree/usr/lib/systemd/system/calorim-exporter.service" ||
    fail "the packaged unit starts: $(grep ExecStart "$work/tree/usr/lib/systemd/system/calorim-exporter.service")"
fi

lintian --fail-on error --tag-display-limit 0 "$deb" >"$work/lintian.log" 2>&1
status=$?
echo "lintian says:"
cat "$work/lintian.log"
[[ $status -eq 0 ]] || fail "lintian found errors"

((failures == 0)) || exit 1
echo "Debian package complete, lintian without errors"
