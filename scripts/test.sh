#!/usr/bin/env bash
# Builds the sanitizer configuration (AddressSanitizer + UndefinedBehaviorSanitizer, -O1 -g) and
# runs every test in it. Any sanitizer report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${QZ_TEST_BUILD_DIR:-build/asan}
JOBS=${QZ_JOBS:-$(nproc)}
export CCACHE_DIR=${CCACHE_DIR:-$PWD/build/.ccache}
cmake -S . -B "$BUILD_DIR" -G Ninja -DQZ_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug -DQZ_BUILD_BENCH=ON
cmake --build "$BUILD_DIR" -j "$JOBS"
export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=0:halt_on_error=1:detect_leaks=1:detect_stack_use_after_return=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
export LANG=C.UTF-8 TZ=UTC
ctest --test-dir "$BUILD_DIR" --output-on-failure -j "$JOBS"
