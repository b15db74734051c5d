#!/usr/bin/env bash
# The program's command line without any display: --help and --version
# answer, mistakes are refused with status 2, and a program without its
# string bundle stops with the message that lists where it looked.
#
#   command_line.sh CALORIM
set -uo pipefail

calorim=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unset DISPLAY WAYLAND_DISPLAY
export XDG_RUNTIME_DIR=$work

fail() {
  echo "FAIL: $*"
  exit 1
}

out=$("$calorim" --version 2>&1) || fail "--version failed: $out"
[[ $out =~ ^calorim\ [0-9]+\.[0-9]+ ]] || fail "--version printed: $out"
out=$("$calorim" --help 2>&1) || fail "--help failed: $out"
[[ $out == *--simulate* && $out == *PROFILE* ]] || fail "--help printed: $out"

# Mistakes: status 2 and one line naming the mistake, pointing to --help.
for args in "some-profile.json|unexpected argument 'some-profile.json'" "--bogus|unknown option '--bogus'" \
  "--simulate a.json b.json|unexpected argument 'b.json'"; do
  read -ra argv <<<"${args%%|*}"
  out=$("$calorim" "${argv[@]}" 2>&1 >/dev/null)
  status=$?
  [[ $status -eq 2 ]] || fail "calorim ${args%%|*} ended with $status, not 2"
  [[ $out == "calorim: ${args#*|} (see calorim --help)" ]] || fail "calorim ${args%%|*} printed: $out"
done

# The same program, alone in a folder: no bundle beside it.
cp "$calorim" "$work/calorim"
out=$(QT_QPA_PLATFORM=offscreen "$work/calorim" --simulate 2>&1)
status=$?
[[ $status -eq 1 ]] || fail "without a bundle it ended with $status, not 1: $out"
expected="could not load resource bundle: from $work/CalorimGUI_Calorim.bundle, "
[[ $out == *"$expected"* ]] || fail "without a bundle it printed: $out"
echo "command line behaves"
