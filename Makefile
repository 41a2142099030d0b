# SPDX-License-Identifier: GPL-2.0-or-later
# Quarnix: the two everyday commands are `make run` and `make test`.
BUILD       ?= build
FUZZ_BUILD  ?= build-fuzz
SAN_BUILD   ?= build-asan
FUZZ_SECONDS ?= 60
JOBS        ?= $(shell nproc)

SHELL := /bin/bash

.PHONY: deps configure build run test test-sanitized package install bench fuzz clean

deps:
	@bash scripts/install-deps.sh

# The generator is chosen when a build folder is first configured (the
# install step has put ninja on the machine by then); a folder that exists
# keeps the generator it was made with, so no later command rejects it.
generator = $(if $(wildcard $(1)/CMakeCache.txt),,-G Ninja)

# WERROR=ON: a warning in our own code fails the build. `make test` and
# `make test-sanitized` turn it on; other commands keep what the build
# folder has, so that switching between them rebuilds nothing.
werror = $(if $(WERROR),-DQX_WERROR=$(WERROR))

configure: deps
	@cmake -S . -B $(BUILD) $(call generator,$(BUILD)) -DCMAKE_BUILD_TYPE=Release $(werror) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# Builds the app and the tool (nothing else), writes a sample archive into
# build/sample/ and starts the app there, so that the first "Open" shows the
# sample.
run: configure
	@cmake --build $(BUILD) -j $(JOBS) --target quarnix quarnix-tool
	@$(BUILD)/quarnix-tool sample $(BUILD)/sample
	cd $(BUILD)/sample && ../quarnix

# Builds and runs every test; the CTest summary comes last.
test: WERROR ?= ON
test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

# The Debian package: $(BUILD)/quarnix_<version>_<arch>.deb, for
# `apt-get install ./$(BUILD)/quarnix_*.deb`.
package: build
	@cmake --build $(BUILD) --target package

# Installs into PREFIX (default /usr/local) without a package.
PREFIX ?= /usr/local
install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

# Runtime settings of the sanitized programs; the quarnix-tool that tests
# start inherits them. Leaks are checked at every exit, except the one-time
# allocations of system libraries listed in tests/lsan.supp. A finding exits
# with 99, which no program of ours uses, so a test that expects the tool to
# fail with 1 still sees the finding.
SAN_ENV = ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1:exitcode=99 \
          UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:exitcode=99 \
          LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0

# Builds the test programs and the tool with clang under AddressSanitizer
# (with LeakSanitizer) and UndefinedBehaviorSanitizer in $(SAN_BUILD)/, and
# runs the whole suite there; the first finding fails its test. clang is the
# fuzz targets' compiler too, compiles this build in about half the time g++
# takes, and so the code meets a second compiler beside `make test`'s g++.
test-sanitized: deps
	@CC=clang-14 CXX=clang++-14 cmake -S . -B $(SAN_BUILD) $(call generator,$(SAN_BUILD)) -DCMAKE_BUILD_TYPE=Debug -DQX_SANITIZE=ON >/dev/null
	@$(SAN_ENV) cmake --build $(SAN_BUILD) -j $(JOBS) --target qx_tests
	cd $(SAN_BUILD) && $(SAN_ENV) QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

# Builds the benchmarks and runs every one of them (the programs, not the
# folders beside them); one that fails is named at the end and fails the run.
bench: configure
	@cmake --build $(BUILD) -j $(JOBS) --target qx_benches
	@failed=""; for b in $(BUILD)/bench_*; do \
	  [ -f "$$b" ] && [ -x "$$b" ] || continue; \
	  echo "== $$b"; $$b --benchmark_repetitions=5 --benchmark_report_aggregates_only=true || failed="$$failed $$b"; \
	done; \
	[ -z "$$failed" ] || { echo "failed:$$failed"; exit 1; }

fuzz: deps
	@CC=clang-14 CXX=clang++-14 cmake -S . -B $(FUZZ_BUILD) $(call generator,$(FUZZ_BUILD)) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQX_FUZZ=ON >/dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS)
	@set -e; for f in $(FUZZ_BUILD)/fuzz_*; do \
	  n=$$(basename $$f); mkdir -p $(FUZZ_BUILD)/corpus/$$n; \
	  echo "== $$n for $(FUZZ_SECONDS)s"; \
	  seeds=""; [ -d fuzz/seeds/$$n ] && seeds=fuzz/seeds/$$n; \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp \
	  $$f -max_total_time=$(FUZZ_SECONDS) -rss_limit_mb=4096 -print_final_stats=1 $(FUZZ_BUILD)/corpus/$$n $$seeds 2>&1 | tail -n 15; \
	  [ $${PIPESTATUS[0]} -eq 0 ] || { echo "$$n: finding above"; exit 1; }; \
	done

clean:
	rm -rf $(BUILD) $(FUZZ_BUILD) $(SAN_BUILD)
