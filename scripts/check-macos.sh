#!/usr/bin/env bash
# Checks the macOS build (Apple Silicon, macOS 13.3 or later) on Linux, against
# a macOS SDK: the core with its darwin backend and every Qt-free program are
# compiled and linked into build/macos-arm64/, and every source of the
# application is compiled syntax-only (Qt ones against the host's Qt 6
# headers, Objective-C++ ones against AppKit), since no Qt for macOS is at hand
# to link against.
#
# The programs are linked with the two-level namespace against the SDK's link
# stubs and the project's stub of the counter-reporting library; the check
# then reads each program's bind tables and fails when an IOKit, Core
# Foundation or IOReport symbol is not bound to its own library (a misspelt
# function, a framework left off the link). It first shows that it can fail:
# a small program with a misspelt IOKit function, and one linked without
# IOKit, must both be refused.
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

# The Qt-free programs: build target and where it lands in the build folder.
programs=(probe/calorim-probe probe/calorim-probe-sim exporter/calorim-exporter run/calorim-run top/calorim-top)

# The JSON library is header-only: its headers and package file are reached
# through a prefix of their own, so that no other host header joins the build.
# The HTTP library's declarations come from the host's header the same way
# (on a Mac the library is header-only); its compiled part is not at hand
# here, so its symbols are left for the loader like libc++'s.
deps="$build/deps"
mkdir -p "$deps/include" "$deps/share/cmake/httplib"
ln -sfn /usr/include/nlohmann "$deps/include/nlohmann"
ln -sfn /usr/share/cmake/nlohmann_json "$deps/share/cmake/nlohmann_json"
ln -sfn /usr/include/httplib.h "$deps/include/httplib.h"
cat >"$deps/share/cmake/httplib/httplibConfig.cmake" <<'CONFIG'
add_library(httplib::httplib INTERFACE IMPORTED)
set_target_properties(httplib::httplib PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES "${CMAKE_CURRENT_LIST_DIR}/../../../include")
CONFIG

# Configured afresh each time: a cache from an older tree keeps options and
# link flags the toolchain file no longer gives (the objects stay, so the
# build after it is still incremental).
rm -f "$build/CMakeCache.txt"
cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/macos-arm64-cross.cmake" \
  -DCALORIM_MACOS_SDK_ROOT="$sysroot" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCALORIM_BUILD_TESTS=OFF -DCALORIM_BUILD_BENCH=OFF -DCALORIM_BUILD_APP=OFF \
  -Dnlohmann_json_DIR="$deps/share/cmake/nlohmann_json" \
  -Dhttplib_DIR="$deps/share/cmake/httplib" >/dev/null

# The library a symbol of the system's interfaces must be bound to, by its
# name; nothing for the standard libraries' symbols.
owner_of() {
  case "$1" in
    _IOReport*) echo libIOReport ;;
    _IO* | _kIO*) echo IOKit ;;
    _CF* | _kCF* | ___CF*) echo CoreFoundation ;;
  esac
}

# Fails, naming them, when a symbol of IOKit, Core Foundation or IOReport in
# the bind tables of `binary` is bound elsewhere than to its own library
# (flat-namespace: looked up wherever it may be found, or nowhere).
check_bindings() {
  local binary=$1 dylib symbol owner bound=0
  local wrong=()
  while read -r dylib symbol; do
    owner=$(owner_of "$symbol")
    [[ -z "$owner" ]] && continue
    if [[ "$dylib" == "$owner" ]]; then
      bound=$((bound + 1))
    else
      wrong+=("$symbol ($dylib, not $owner)")
    fi
  done < <(llvm-objdump-14 --macho --bind --lazy-bind "$binary" |
    awk '$1 ~ /^__/ && NF >= 5 { print $(NF-1), $NF }')
  if ((${#wrong[@]})); then
    echo "check-macos: $binary binds system symbols to no library of theirs:" >&2
    printf '  %s\n' "${wrong[@]}" >&2
    return 1
  fi
  echo "check-macos: $binary: $bound IOKit, Core Foundation and IOReport symbols bound to their own libraries"
}

check_executable() {
  local binary=$1 header
  header=$(llvm-objdump-14 --macho --private-header "$binary")
  if ! grep -q 'ARM64' <<<"$header" || ! grep -q 'EXECUTE' <<<"$header"; then
    echo "check-macos: $binary is not a Mach-O arm64 executable:" >&2
    echo "$header" >&2
    return 1
  fi
}

# The check must be able to fail: a misspelt IOKit function, and IOKit left
# off the link, are both refused, while the same program spelt and linked
# right passes.
link_flags=(-target arm64-apple-macos13.3 -isysroot "$sysroot" -fuse-ld=/usr/bin/ld64.lld-14 -nostdlib
  -Wl,-platform_version,macos,13.3,14.2 -Wl,-undefined,dynamic_lookup -L"$root/cmake/macos-stubs"
  -F"$sysroot/System/Library/Frameworks")
sample_dir="$build/bind-check"
mkdir -p "$sample_dir"
cat >"$sample_dir/sample.cpp" <<'SOURCE'
#include <IOKit/IOKitLib.h>
extern "C" CFMutableDictionaryRef IOServiceMatchingTypo(const char* name);
int main() {
#ifdef MISSPELT
  CFMutableDictionaryRef matching = IOServiceMatchingTypo("AppleSMC");
#else
  CFMutableDictionaryRef matching = IOServiceMatching("AppleSMC");
#endif
  return static_cast<int>(IOServiceGetMatchingService(kIOMainPortDefault, matching));
}
SOURCE
sample_link() {  # name, extra flags...
  local name=$1
  shift
  clang++-14 -target arm64-apple-macos13.3 -isysroot "$sysroot" -stdlib=libc++ -std=c++20 "$@" \
    -c "$sample_dir/sample.cpp" -o "$sample_dir/$name.o"
}
sample_link right
sample_link misspelt -DMISSPELT
clang++-14 "${link_flags[@]}" -framework IOKit -framework CoreFoundation "$sample_dir/right.o" -o "$sample_dir/right"
clang++-14 "${link_flags[@]}" -framework IOKit -framework CoreFoundation "$sample_dir/misspelt.o" \
  -o "$sample_dir/misspelt"
clang++-14 "${link_flags[@]}" -framework CoreFoundation "$sample_dir/right.o" -o "$sample_dir/no-iokit"
check_bindings "$sample_dir/right" >/dev/null
for refused in misspelt no-iokit; do
  if check_bindings "$sample_dir/$refused" >/dev/null 2>&1; then
    echo "check-macos: the bind check passed $sample_dir/$refused, which it must refuse" >&2
    exit 1
  fi
done
echo "check-macos: the bind check refuses a misspelt IOKit function and a link without IOKit"

targets=()
for program in "${programs[@]}"; do targets+=("$(basename "$program")"); done
cmake --build "$build" -j "$jobs" --target "${targets[@]}"
for program in "${programs[@]}"; do
  check_executable "$build/$program"
  check_bindings "$build/$program"
done

# The system interfaces the darwin backend calls, left for the loader to bind.
probe="$build/probe/calorim-probe"
undefined=$(llvm-nm-14 --undefined-only "$probe" | awk '{print $NF}')
expected=(
  _IOReportCopyChannelsInGroup _IOReportMergeChannels _IOReportCreateSubscription _IOReportCreateSamples
  _IOReportCreateSamplesDelta _IOReportChannelGetGroup _IOReportChannelGetSubGroup _IOReportChannelGetChannelName
  _IOReportChannelGetUnitLabel _IOReportChannelGetFormat _IOReportSimpleGetIntegerValue _IOReportStateGetCount
  _IOReportStateGetNameForIndex _IOReportStateGetResidency
  _IOServiceMatching _IOServiceGetMatchingService _IOServiceGetMatchingServices _IOIteratorNext _IOObjectRelease
  _IORegistryEntryCreateCFProperties _IORegistryEntryCreateCFProperty _IOServiceOpen _IOServiceClose
  _IOConnectCallStructMethod
  _IOHIDEventSystemClientCreate _IOHIDEventSystemClientSetMatching _IOHIDEventSystemClientCopyServices
  _IOHIDServiceClientCopyProperty _IOHIDServiceClientCopyEvent _IOHIDEventGetFloatValue
  _mach_host_self _mach_port_deallocate _host_processor_info _vm_deallocate _host_statistics64 _sysctlbyname
  _posix_spawn _waitpid _proc_listallpids _proc_pid_rusage _proc_name _proc_pidinfo _mach_timebase_info
)
missing=()
for symbol in "${expected[@]}"; do
  grep -qx -- "$symbol" <<<"$undefined" || missing+=("$symbol")
done
if ((${#missing[@]})); then
  echo "check-macos: calorim-probe does not call: ${missing[*]}" >&2
  exit 1
fi
echo "check-macos: $probe: Mach-O arm64 executable; calls ${#expected[@]} system functions of the darwin backend"
echo "check-macos: ${#programs[@]} Qt-free programs are Mach-O arm64 executables: ${targets[*]}"

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
