#!/usr/bin/env bash
# Builds travo with AddressSanitizer and UndefinedBehaviorSanitizer (GCC) in
# build-asan and runs the whole test suite there, the Octave tests included
# (the instrumented travo.mex runs in Octave with the sanitizer runtime
# preloaded). Any report of either sanitizer fails the test that caused it.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build-asan}
jobs=${JOBS:-2}
CC=${CC:-gcc} CXX=${CXX:-g++} cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTRAVO_SANITIZE=ON
cmake --build "$build" -j "$jobs"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tests/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
ctest --test-dir "$build" --output-on-failure -j "$jobs"
