#!/usr/bin/env bash
# Installs what building and testing Calorim needs. Idempotent: when everything is
# already there it only checks and returns within seconds.
set -euo pipefail

debian_packages=(
  make cmake ninja-build g++ clang libclang-rt-dev lld-14 llvm-14 xz-utils
  nlohmann-json3-dev libgtest-dev libgmock-dev libbenchmark-dev
  libcpp-httplib-dev prometheus libncurses-dev tmux htop
  qt6-base-dev fonts-dejavu-core fonts-noto-color-emoji
  xvfb xauth xdotool imagemagick trayer dbus-daemon at-spi2-core python3-pyatspi x11-utils
  librsvg2-bin desktop-file-utils appstream man-db groff-base systemd python3
  dpkg-dev fakeroot lintian
)

homebrew_packages=(cmake ninja nlohmann-json googletest google-benchmark qt librsvg cpp-httplib prometheus node)

# The official MCP client SDK that the test suite drives the probe with, at the
# versions pinned in tests/package-lock.json; installed again only when the
# lock file changed since.
install_test_client() {
  local tests
  tests="$(cd "$(dirname "${BASH_SOURCE[0]}")/../tests" && pwd)"
  if [[ ! -f "$tests/node_modules/.package-lock.json" || "$tests/package-lock.json" -nt "$tests/node_modules/.package-lock.json" ]]; then
    echo "Installing the MCP client SDK for the tests (npm ci in tests/)"
    (cd "$tests" && npm ci --no-audit --no-fund --loglevel=error)
  fi
}

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
  install_test_client
  exit 0
fi

missing=()
for p in "${debian_packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
# Node.js may come from another source than Debian's packages (whose npm
# would then conflict with it): only the commands are needed.
command -v node >/dev/null && command -v npm >/dev/null || missing+=(nodejs npm)

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo=()
  [[ $(id -u) -eq 0 ]] || sudo=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update -qq
  "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

install_test_client
