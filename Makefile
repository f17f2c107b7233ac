# Quillon — the two set-up commands of the README, and the developer targets.
#   make run            install missing packages, build, start the window
#   make test           install missing packages, build, run every test; under CI
#                       (CI set, as CI sets it) or with HARDEN=1 it then runs
#                       test-hardening too, and under CI as root package-check
#   make test-hardening test-sanitize, test-tsan and fuzz-ci in a row
#   make test-sanitize  the whole suite under ASan+UBSan
#   make test-tsan      the threaded suites under ThreadSanitizer
#   make fuzz-ci        every fuzz target for 60 s over its saved inputs
#   make bench          build in Release and run every benchmark
#   make fuzz           run every fuzz target for FUZZ_SECONDS (default 30)
JOBS ?= $(shell nproc)
CTEST_JOBS ?= 4
FUZZ_SECONDS ?= 30

.PHONY: deps build run test test-hardening test-sanitize test-tsan fuzz-ci bench fuzz screenshot format clean package package-check

deps:
	@bash scripts/deps.sh

build: deps
	@cmake --preset default >/dev/null
	@cmake --build build -j $(JOBS)

run: build
	@bash scripts/run.sh build

# The plain suite runs last, so that its summary closes the output. Under CI
# the Debian package is built and checked too (as root: the check switches
# to user nobody), so that a broken package cannot land.
test: build
	@bash scripts/check-includes.sh
	@if [ -n "$(CI)$(HARDEN)" ]; then $(MAKE) --no-print-directory test-hardening; fi
	@if [ -n "$(CI)" ]; then \
	  if [ "$$(id -u)" -eq 0 ]; then $(MAKE) --no-print-directory package-check; \
	  else echo "package-check skipped: it needs root"; fi; \
	fi
	@cd build && ctest -j $(CTEST_JOBS) --output-on-failure --timeout 600

test-hardening:
	@$(MAKE) --no-print-directory test-sanitize
	@$(MAKE) --no-print-directory test-tsan
	@$(MAKE) --no-print-directory fuzz-ci

test-sanitize: deps
	@cmake --preset asan >/dev/null
	@cmake --build build-asan -j $(JOBS)
	@cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest -j $(CTEST_JOBS) --output-on-failure --timeout 900

# The threaded code under ThreadSanitizer: the thread base, the socket layer
# and the clients, and the application's Qt-free worker, operations and
# quillon-cli's list runner, and rdap (a resolver thread per name, bootstrap
# fetches shared between a list's workers). Qt itself is not built with TSan,
# so the window's tests are left out.
TSAN_TESTS = tests/thread/test_thread tests/socket/test_socket tests/tcp/test_tcp \
	tests/http/test_http tests/http/test_http_exchange tests/dns/test_dns \
	tests/app/lookup/test_app_worker tests/app/lookup/test_app_operations tests/app/lookup/test_app_public_address \
	tests/app/cli/test_app_cli_list tests/app/cli/test_app_cli_json \
	tests/tls/test_tls tests/app/rdap/test_app_rdap tests/app/trace/test_app_trace
test-tsan: deps
	@cmake --preset tsan >/dev/null
	@cmake --build build-tsan -j $(JOBS) --target $(notdir $(TSAN_TESTS))
	@cd build-tsan && for t in $(TSAN_TESTS); do \
	  echo "== TSan $$t"; \
	  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 ./$$t --gtest_brief=1 || exit 1; \
	done

bench: deps
	@cmake --preset release >/dev/null
	@cmake --build build-release -j $(JOBS)
	@bash scripts/bench.sh build-release

fuzz: deps
	@cmake --preset fuzz >/dev/null
	@cmake --build build-fuzz -j $(JOBS)
	@bash scripts/fuzz.sh build-fuzz $(FUZZ_SECONDS)

fuzz-ci:
	@$(MAKE) --no-print-directory fuzz FUZZ_SECONDS=60

# The Debian package, build-pkg/quillon_<version>_amd64.deb (a Release build
# without tests or benchmarks); package-check unpacks it into a scratch root
# and runs quillon-cli there as nobody (needs root).
package: deps
	@cmake -S . -B build-pkg -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLON_TESTS=OFF -DQUILLON_BENCH=OFF >/dev/null
	@cmake --build build-pkg -j $(JOBS) --target package

package-check: package
	@bash scripts/check-package.sh

# Saves docs/quillon.png: the real window under Xvfb (in the test world when root).
screenshot: build
	@bash scripts/screenshot.sh build docs/quillon.png

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	@rm -rf build build-asan build-tsan build-release build-fuzz build-pkg
