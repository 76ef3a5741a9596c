#!/usr/bin/env bash
# The whole test suite built with AddressSanitizer and UndefinedBehaviorSanitizer, in its own
# build folder. Leaks are reported except those listed in stress/lsan.supp (Qt and font
# libraries only, each entry explained there).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-asan}
./scripts/install-deps.sh
# -O1 and line tables only: the sanitizers' own advice, and a build a third quicker than -O2 -g.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTREL_SANITIZE=ON \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG"
cmake --build "$build"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:detect_stack_use_after_return=1:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"
# No session bus for the Qt programs: without an address D-Bus starts one (dbus-launch), forked
# from Qt's D-Bus thread, and a child forked from a threaded program under AddressSanitizer can
# hang in the allocator before it runs anything.
export DBUS_SESSION_BUS_ADDRESS="unix:path=/nonexistent/vantrel-tests-have-no-session-bus"
export LSAN_OPTIONS="suppressions=$PWD/stress/lsan.supp:print_suppressions=0:${LSAN_OPTIONS:-}"
cd "$build"
# Benchmarks measure speed, which a sanitizer build does not have. The package upgrade's work is
# dpkg's and apt's: its end-to-end run is make test's.
ctest --output-on-failure -j2 --timeout 900 -LE bench -E '^upgrade_e2e$'
