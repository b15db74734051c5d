#!/usr/bin/env bash
# Checks the macOS build (Apple Silicon, macOS 13.3 or later) on Linux, against
# a macOS SDK: the core with its darwin backend and calorim-probe are compiled
# and linked into build/macos-arm64/, and every source of the application is
# compiled syntax-only (Qt ones against the host's Qt 6 headers, Objective-C++
# ones against AppKit), since no Qt for macOS is at hand to link against.
#
# The SDK: CALORIM_MACOS_SDK, an unpacked SDK folder or its .tar.xz; by default
# ../shared/macos-sdk/MacOSX14.2-subset.sdk.tar.xz beside the repository when it
# exists. An archive is unpacked once into the build folder. Without an SDK the
# check says so and succeeds.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/macos-arm64"
jobs=${JOBS:-2}

if [[ "$(uname -s)" == "Darwin" ]]; then
  echo "check-macos: SKIPPED: this is a Mac, where the native build is the check"
  exit 0
fi

sdk=${CALORIM_MACOS_SDK:-}
default_sdk="$root/../shared/macos-sdk/MacOSX14.2-subset.sdk.tar.xz"
if [[ -z "$sdk" && -e "$default_sdk" ]]; then
  sdk=$(cd "$(dirname "$default_sdk")" && pwd)/$(basename "$default_sdk")
fi
if [[ -z "$sdk" ]]; then
  echo "check-macos: SKIPPED: no macOS SDK (set CALORIM_MACOS_SDK to an SDK folder or .tar.xz)"
  exit 0
fi
if [[ ! -e "$sdk" ]]; then
  echo "check-macos: CALORIM_MACOS_SDK names nothing: $sdk" >&2
  exit 1
fi

mkdir -p "$build"
if [[ -d "$sdk" ]]; then
  sysroot=$(cd "$sdk" && pwd)
else
  # Unpacked again only when the archive changes.
  sysroot="$build/sdk"
  stamp="$sdk $(stat -c '%s %Y' "$sdk")"
  if [[ ! -f "$build/sdk.stamp" || "$(cat "$build/sdk.stamp")" != "$stamp" ]]; then
    echo "check-macos: unpacking $sdk"
    rm -rf "$sysroot" "$build/sdk.stamp"
    mkdir -p "$sysroot"
    tar -xJf "$sdk" -C "$sysroot"
    echo "$stamp" >"$build/sdk.stamp"
  fi
fi

# The JSON library is header-only: its headers and package file are reached
# through a prefix of their own, so that no other host header joins the build.
deps="$build/deps"
mkdir -p "$deps/include" "$deps/share/cmake"
ln -sfn /usr/include/nlohmann "$deps/include/nlohmann"
ln -sfn /usr/share/cmake/nlohmann_json "$deps/share/cmake/nlohmann_json"

cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/macos-arm64-cross.cmake" \
  -DCALORIM_MACOS_SDK_ROOT="$sysroot" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCALORIM_BUILD_TESTS=OFF -DCALORIM_BUILD_BENCH=OFF -DCALORIM_BUILD_APP=OFF \
  -Dnlohmann_json_DIR="$deps/share/cmake/nlohmann_json" >/dev/null
cmake --build "$build" -j "$jobs" --target calorim-probe calorim-probe-sim

probe="$build/probe/calorim-probe"
header=$(llvm-objdump-14 --macho --private-header "$probe")
if ! grep -q 'ARM64' <<<"$header" || ! grep -q 'EXECUTE' <<<"$header"; then
  echo "check-macos: $probe is not a Mach-O arm64 executable:" >&2
  echo "$header" >&2
  exit 1
fi

# The system interfaces the darwin backend calls, left for the loader to bind.
undefined=$(llvm-nm-14 --undefined-only "$probe" | awk '{print $NF}')
expected=(
  _IOReportCopyChannelsInGroup _IOReportMergeChannels _IOReportCreateSubscription _IOReportCreateSamples
  _IOReportCreateSamplesDelta _IOReportChannelGetGroup _IOReportChannelGetSubGroup _IOReportChannelGetChannelName
  _IOReportChannelGetUnitLabel _IOReportSimpleGetIntegerValue _IOReportStateGetCount _IOReportStateGetNameForIndex
  _IOReportStateGetResidency
  _IOServiceMatching _IOServiceGetMatchingService _IOServiceGetMatchingServices _IOIteratorNext _IOObjectRelease
  _IORegistryEntryCreateCFProperties _IORegistryEntryCreateCFProperty _IOServiceOpen _IOServiceClose
  _IOConnectCallStructMethod
  _IOHIDEventSystemClientCreate _IOHIDEventSystemClientSetMatching _IOHIDEventSystemClientCopyServices
  _IOHIDServiceClientCopyProperty _IOHIDServiceClientCopyEvent _IOHIDEventGetFloatValue
  _host_processor_info _vm_deallocate _host_statistics64 _sysctlbyname _posix_spawn _waitpid
  _proc_listallpids _proc_pid_rusage _proc_name _proc_pidinfo _mach_timebase_info
)
missing=()
for symbol in "${expected[@]}"; do
  grep -qx -- "$symbol" <<<"$undefined" || missing+=("$symbol")
done
if ((${#missing[@]})); then
  echo "check-macos: calorim-probe does not call: ${missing[*]}" >&2
  exit 1
fi
echo "check-macos: $probe: Mach-O arm64 executable; binds ${#expected[@]} system functions of the darwin backend"

# The application's sources, syntax-only, through a small ninja file so that
# only what changed is compiled again.
qt=/usr/include/x86_64-linux-gnu/qt6
flags=(-target arm64-apple-macos13.3 -isysroot "$sysroot" -stdlib=libc++ -std=c++20 -fPIC
  -Wall -Wextra -Wpedantic -I"$root" -isystem "$deps/include" -isystem "$qt")
for module in QtCore QtGui QtWidgets QtNetwork; do flags+=(-isystem "$qt/$module"); done
flags+=(-DCALORIM_UPDATE_URL='"https://calorim.invalid/version.json"' -DCALORIM_APP_VERSION='"0"'
  -DCALORIM_DATA_DIR='"/usr/local/share/calorim"'
  -DCALORIM_DATA_FROM_BIN='"../share/calorim"')
check="$build/app-syntax"
mkdir -p "$check"
{
  echo "rule syntax"
  echo "  command = clang++-14 \$extra ${flags[*]@Q} -fsyntax-only -MD -MT \$out -MF \$out.d \$in && touch \$out"
  echo "  depfile = \$out.d"
  echo "  deps = gcc"
  echo "  description = syntax \$in"
  while IFS= read -r source; do
    extra=""
    [[ "$source" == *.mm ]] && extra="-x objective-c++ -fobjc-arc -Werror"
    echo "build ${source//\//_}.ok: syntax $root/$source"
    echo "  extra = $extra"
  done < <(cd "$root" && find app -path app/shell/linux -prune -o \( -name '*.cpp' -o -name '*.mm' \) -print | sort)
} >"$check/build.ninja"
ninja -C "$check" -j "$jobs" --quiet
echo "check-macos: $(grep -c '^build ' "$check/build.ninja") application sources compile for macOS"
