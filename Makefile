# Quillon — the two set-up commands of the README, and the developer targets.
#   make run            install missing packages, build, start the window
#   make test           install missing packages, build, run every test
#   make test-sanitize  the whole suite under ASan+UBSan
#   make test-tsan      the threaded suites under ThreadSanitizer
#   make bench          build in Release and run every benchmark
#   make fuzz           run every fuzz target for FUZZ_SECONDS (default 30)
JOBS ?= $(shell nproc)
CTEST_JOBS ?= 4
FUZZ_SECONDS ?= 30

.PHONY: deps build run test test-sanitize test-tsan bench fuzz format clean

deps:
	@bash scripts/deps.sh

build: deps
	@cmake --preset default >/dev/null
	@cmake --build build -j $(JOBS)

run: build
	@bash scripts/run.sh build

test: build
	@cd build && ctest -j $(CTEST_JOBS) --output-on-failure --timeout 600

test-sanitize: deps
	@cmake --preset asan >/dev/null
	@cmake --build build-asan -j $(JOBS)
	@cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest -j $(CTEST_JOBS) --output-on-failure --timeout 900

test-tsan: deps
	@cmake --preset tsan >/dev/null
	@cmake --build build-tsan -j $(JOBS)
	@cd build-tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
	  ctest -j $(CTEST_JOBS) --output-on-failure --timeout 900 -L 'thread|socket|app|tcp'

bench: deps
	@cmake --preset release >/dev/null
	@cmake --build build-release -j $(JOBS)
	@bash scripts/bench.sh build-release

fuzz: deps
	@cmake --preset fuzz >/dev/null
	@cmake --build build-fuzz -j $(JOBS)
	@bash scripts/fuzz.sh build-fuzz $(FUZZ_SECONDS)

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	@rm -rf build build-asan build-tsan build-release build-fuzz
