# Quarnix: the two everyday commands are `make run` and `make test`.
BUILD       ?= build
FUZZ_BUILD  ?= build-fuzz
FUZZ_SECONDS ?= 60
JOBS        ?= $(shell nproc)

SHELL := /bin/bash

.PHONY: deps configure build run test bench fuzz clean

deps:
	@bash scripts/install-deps.sh

# The generator is chosen when a build folder is first configured (the
# install step has put ninja on the machine by then); a folder that exists
# keeps the generator it was made with, so no later command rejects it.
generator = $(if $(wildcard $(1)/CMakeCache.txt),,-G Ninja)

configure: deps
	@cmake -S . -B $(BUILD) $(call generator,$(BUILD)) -DCMAKE_BUILD_TYPE=Release >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# Builds the app, writes a sample archive into build/sample/ and starts the
# app there, so that the first "Open" shows the sample.
run: build
	@$(BUILD)/quarnix-tool sample $(BUILD)/sample
	cd $(BUILD)/sample && ../quarnix

# Builds and runs every test; the CTest summary comes last.
test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

bench: build
	@for b in $(BUILD)/bench_*; do echo "== $$b"; $$b --benchmark_repetitions=5 --benchmark_report_aggregates_only=true || exit 1; done

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
	rm -rf $(BUILD) $(FUZZ_BUILD)
