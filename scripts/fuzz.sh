#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs each for the given number of seconds
# (default 60) on a copy of its committed corpus. New inputs that raise
# coverage are kept in build-fuzz/corpus/NAME; findings land in
# build-fuzz/findings/NAME; an input that runs longer than 10 s is one.
# To fold the new inputs into the committed corpus, minimised:
#   build-fuzz/fuzz/NAME_fuzz -merge=1 NEW_DIR build-fuzz/corpus/NAME
# then replace the files of fuzz/corpus/NAME with those of NEW_DIR.
#   scripts/fuzz.sh [seconds] [target...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(library gateway)
build=build-fuzz
if ! command -v clang++ >/dev/null; then
  echo "fuzz.sh needs clang with libFuzzer (Debian: apt-get install clang)" >&2
  exit 1
fi
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTRAVO_FUZZ=ON -DTRAVO_SANITIZE=ON -DTRAVO_BUILD_OCTAVE=OFF >/dev/null
for t in "${targets[@]}"; do
  [ -d "fuzz/corpus/$t" ] || continue
  cmake --build "$build" -j 2 --target "${t}_fuzz" >/dev/null
  mkdir -p "$build/corpus/$t" "$build/findings/$t"
  cp -n fuzz/corpus/"$t"/* "$build/corpus/$t/" 2>/dev/null || true
  echo "== fuzzing $t for ${seconds}s"
  "$build/fuzz/${t}_fuzz" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$build/findings/$t/" "$build/corpus/$t" 2>&1 | tail -n 25
done
