#!/usr/bin/env bash
# Builds travo with clang in build-clang, every warning an error: the
# library, the tool, the Octave and Python modules, tests and benchmarks.
# Runs the C++ tests there (library, interfaces, host entry, tool, fuzz
# corpora); the Octave, Python, install and documentation tests would only
# repeat the checks of the GCC build on the same sources.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build-clang}
jobs=${JOBS:-$(nproc)}
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_COMPILE_WARNING_AS_ERROR=ON
cmake --build "$build" -j "$jobs"
ctest --test-dir "$build" --output-on-failure -j "$jobs" -LE "octave|python|package|soak|docs" -E "^install_tree$"
