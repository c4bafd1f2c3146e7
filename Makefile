# The two commands of the README, plus the packages and the benchmarks.
SHELL := /bin/bash
JOBS ?= $(shell nproc)

.PHONY: run test package bench fuzz deps clean

deps:
	@scripts/install-deps.sh test

# Build kova-gen and write the default test file into the current directory.
# Only kova-gen's own needs are installed, and only it is built.
run:
	@scripts/install-deps.sh run
	@cmake --preset cli >/dev/null
	@cmake --build --preset cli -j$(JOBS)
	@./build/cli/bin/kova-gen -f

# Build every preset and the packages, run every test suite and check; the
# summary at the end says what ran and fails the run if anything failed.
test: deps
	@scripts/test-all.sh

# The Debian package and the Windows ZIP, into build/packages/.
package:
	@scripts/install-deps.sh package
	@scripts/package.sh

bench: deps
	@cmake --preset linux >/dev/null
	@cmake --build --preset linux -j$(JOBS)
	@./build/linux/bin/kova_bench
	@scripts/bench-generate.sh
	@scripts/bench-check.sh
	@scripts/bench-live.sh
	@cmake --preset win64 >/dev/null
	@cmake --build build/win64 -j$(JOBS) --target kova-check
	@scripts/bench-windows.sh

# Each fuzz target for FUZZ_SECONDS, its new inputs kept for the next run;
# a finding fails it, its input kept under build/fuzz-findings/.
FUZZ_SECONDS ?= 300
fuzz: deps
	@scripts/fuzz.sh $(FUZZ_SECONDS) keep

clean:
	rm -rf build
