#!/usr/bin/env bash
# Installs what building and testing Calorim needs. Idempotent: when everything is
# already there it only checks and returns within seconds.
set -euo pipefail

debian_packages=(
  make cmake ninja-build g++ clang libclang-rt-dev lld-14 llvm-14 xz-utils
  nlohmann-json3-dev libgtest-dev libgmock-dev libbenchmark-dev
  libcpp-httplib-dev prometheus
  qt6-base-dev fonts-dejavu-core fonts-noto-color-emoji
  xvfb xauth xdotool imagemagick trayer dbus-daemon
  librsvg2-bin desktop-file-utils appstream man-db groff-base systemd python3
  dpkg-dev fakeroot lintian
)

homebrew_packages=(cmake ninja nlohmann-json googletest google-benchmark qt librsvg cpp-httplib prometheus)

if [[ "$(uname -s)" == "Darwin" ]]; then
  missing=()
  for p in "${homebrew_packages[@]}"; do
    brew list --formula "$p" >/dev/null 2>&1 || missing+=("$p")
  done
  if ((${#missing[@]})); then
    echo "Missing Homebrew packages: ${missing[*]}"
    echo "Install them with: brew install ${missing[*]}"
    exit 1
  fi
  exit 0
fi

missing=()
for p in "${debian_packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
((${#missing[@]})) || exit 0

echo "Installing: ${missing[*]}"
sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
