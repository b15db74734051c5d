#!/usr/bin/env bash
# Mutation check of the test suite. Applies each patch of scripts/mutants/ in
# turn (one small fault planted in the product code), rebuilds incrementally,
# runs the whole suite, records whether a test failed (caught) or every test
# passed (missed), and takes the patch back out. Not part of `make test`: it
# rebuilds once per mutant and takes a while.
#
#   scripts/mutants.sh [PATCH...]      default: every scripts/mutants/*.patch
#
# Builds in build/mutants (the default preset without the benchmarks, which no
# test runs, linked with lld, which relinks the many test programs faster),
# configured on first use. Product sources must have no
# uncommitted changes on the patched lines. One line per mutant on standard
# output ("name caught <first failing test> <seconds>", "name missed ...",
# "name unbuildable ..." or "name does-not-apply"), the same table in
# build/mutants/mutants.txt; the build and test output of the latest mutant in
# build/mutants/mutant.log. MUTANT_JOBS sets the parallel jobs of build and
# tests (default 2).
set -u
cd "$(dirname "$0")/.."

build=build/mutants
jobs=${MUTANT_JOBS:-2}
if [ $# -gt 0 ]; then patches=("$@"); else patches=(scripts/mutants/*.patch); fi

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake --preset default -B "$build" -DCALORIM_BUILD_BENCH=OFF \
    -DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=lld -DCMAKE_SHARED_LINKER_FLAGS=-fuse-ld=lld >/dev/null || exit 1
fi
table=$build/mutants.txt
log=$build/mutant.log
cmake --build "$build" -j"$jobs" >"$log" 2>&1 || { echo "the unchanged tree does not build; see $log"; exit 1; }

applied=""
restore() {
  if [ -n "$applied" ]; then git apply -R "$applied"; fi
}
trap restore EXIT
trap 'exit 130' INT TERM

: >"$table"
for patch in "${patches[@]}"; do
  name=$(basename "$patch" .patch)
  if ! git apply "$patch" 2>/dev/null; then
    echo "$name does-not-apply" | tee -a "$table"
    continue
  fi
  applied=$patch
  start=$(date +%s)
  # Without recorded costs ctest runs the tests in the order they are defined,
  # the quick unit tests first, so a caught mutant stops early.
  rm -f "$build/Testing/Temporary/CTestCostData.txt"
  if ! cmake --build "$build" -j"$jobs" >"$log" 2>&1; then
    result=unbuildable
  elif ctest --test-dir "$build" -j"$jobs" --stop-on-failure --timeout 300 >>"$log" 2>&1; then
    result=missed
  else
    first=$(grep -E '\*\*\*(Failed|Exception|Timeout)|\(Failed\)|\(Timeout\)' "$log" | head -1 |
      sed -E 's/.*Test +#[0-9]+: ([^ ]+) .*/\1/')
    result="caught ${first:-?}"
  fi
  git apply -R "$patch"
  applied=""
  echo "$name $result $(($(date +%s) - start))s" | tee -a "$table"
done
# Leave the binaries built from the unchanged sources.
cmake --build "$build" -j"$jobs" >"$log" 2>&1
