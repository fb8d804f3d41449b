# Thin wrapper over CMake presets. See README.md.
JOBS ?= $(shell nproc)

.PHONY: deps build test test-dev test-asan test-tsan test-fuzz fuzz demo bench format release package clean

deps:
	@bash scripts/install-deps

build: deps
	@cmake --preset dev >/dev/null
	@cmake --build --preset dev -j $(JOBS)

test: build
	@ctest --preset dev -j $(JOBS)
	@$(MAKE) --no-print-directory test-asan
	@$(MAKE) --no-print-directory test-tsan
	@$(MAKE) --no-print-directory test-fuzz

test-asan: deps
	@cmake --preset asan >/dev/null
	@cmake --build --preset asan -j $(JOBS)
	@ctest --preset asan -j $(JOBS)

test-tsan: deps
	@cmake --preset tsan >/dev/null
	@cmake --build --preset tsan -j $(JOBS)
	@ctest --preset tsan -j $(JOBS)

# Every fuzz target for 20 s from its seeds (clang build): fails on any finding.
test-fuzz: deps
	@FUZZ_SECONDS=20 bash scripts/fuzz

# Every fuzz target for FUZZ_SECONDS (default 300); scripts/fuzz TARGET... runs some.
fuzz: deps
	@bash scripts/fuzz

demo: build
	@bash scripts/demo

bench: deps
	@cmake --preset release >/dev/null
	@cmake --build --preset release -j $(JOBS)
	@bash scripts/bench

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

release: deps
	@cmake --preset release >/dev/null
	@cmake --build --preset release -j $(JOBS)

# The Debian packages lapora and lapora-tools, from the release build, in build-release/.
package: deps
	@cmake --preset release >/dev/null
	@cmake --build --preset release -j $(JOBS) --target lapora boxsim resultsim detserver manual man_page
	@cd build-release && cpack -G DEB

clean:
	rm -rf build build-asan build-tsan build-release build-fuzz
