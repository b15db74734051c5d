# The two entry points of the README. Each one does all the set-up it needs.
.PHONY: setup build run test test-default test-asan test-macos bench clean

JOBS ?= $(shell nproc 2>/dev/null || echo 2)

setup:
	@scripts/setup.sh

build: setup
	cmake --preset default >/dev/null
	cmake --build --preset default -j $(JOBS)

# Builds only the two programs the demonstration runs.
run: setup
	cmake --preset default >/dev/null
	cmake --build --preset default -j $(JOBS) --target calorim-probe calorim-probe-sim
	@scripts/demo.sh build/default/probe

test: setup test-default test-asan test-macos

test-default:
	cmake --preset default >/dev/null
	cmake --build --preset default -j $(JOBS)
	ctest --preset default -j $(JOBS)

test-asan:
	cmake --preset asan >/dev/null
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

# The macOS build, checked against a macOS SDK; skipped (and said so) without one.
test-macos:
	JOBS=$(JOBS) scripts/check-macos.sh

bench: build
	build/default/bench/calorim_bench
	build/default/bench/calorim_exporter_bench

clean:
	rm -rf build
