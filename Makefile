# The two commands of the README, plus the benchmarks.
SHELL := /bin/bash
JOBS ?= $(shell nproc)

.PHONY: run test bench deps clean

deps:
	@scripts/install-deps.sh

# Build kova-gen and write the default test file into the current directory.
run: deps
	@cmake --preset linux >/dev/null
	@cmake --build --preset linux -j$(JOBS) --target kova-gen
	@./build/linux/bin/kova-gen -f

# Build every preset and run every test suite; stops at the first failure.
test: deps
	@scripts/test-all.sh

bench: deps
	@cmake --preset linux >/dev/null
	@cmake --build --preset linux -j$(JOBS)
	@./build/linux/bin/kova_bench
	@scripts/bench-generate.sh
	@scripts/bench-check.sh

clean:
	rm -rf build
