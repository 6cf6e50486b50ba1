#!/usr/bin/env bash
# Soak of the Octave module: calls travo CALLS times (default 100 000) in one
# Octave process with good and bad inputs of every action, checks every
# answer, and prints the resident memory of Octave after the first tenth of
# the calls (at most 10 000) and at the end; fails if any answer was wrong
# or if it grew by more than 20 bytes per call (at least 512 KiB).
#   scripts/soak.sh [calls]
set -euo pipefail
cd "$(dirname "$0")/.."
calls=${1:-100000}
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j 2 --target travo_mex >/dev/null
octave=$(command -v octave-cli || command -v octave)
"$octave" --no-gui --no-window-system --norc --quiet \
  --eval "addpath('$build/mex'); addpath('octave/soak'); travo_soak($calls);"
