#!/usr/bin/env bash
# Builds travo for benchmarking, runs the Google Benchmark programs, writes
# their JSON and renders docs/performance.md (with a plot when gnuplot is
# installed).
#
#   scripts/bench.sh                 everything (about a quarter of an hour here)
#   QUICK=1 scripts/bench.sh         one repetition, short minimum times
#   GEN_FILTER=regex EVAL_FILTER=regex BATCH_FILTER=regex scripts/bench.sh
#
# Timings on a shared machine are noisy: each benchmark is repeated
# (REPETITIONS, default 3) and the tables report the minimum. When Octave
# and its development files are installed, the Octave module is built too
# and bench/octave_host.m times the host call from Octave (the shortest of
# OCTAVE_REPETITIONS calls, default 7), and bench/octave_cache.m times a
# repeated single-point call on a kept member against trivial modules.
# When the Python package is built,
# bench/python_bench.py times it against the C++ interface, and
# bench/campaign_bench.py times campaigns (CAMPAIGN_BASELINE=DIR/python
# measures another build's package alongside).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build-bench}
out=${OUT_DIR:-bench/results}
reps=${REPETITIONS:-3}
min_time=${MIN_TIME:-0.3}
if [ -n "${QUICK:-}" ]; then
  reps=1
  min_time=0.05
fi
mkdir -p "$out"

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DTRAVO_BUILD_BENCHMARKS=ON \
      -DTRAVO_BUILD_TESTS=OFF -DTRAVO_BUILD_EXAMPLES=OFF >/dev/null
cmake --build "$build" -j 2 --target travo_generation_bench travo_evaluation_bench travo_batch_bench >/dev/null
octave_reps=${OCTAVE_REPETITIONS:-7}
mex=""
if command -v octave >/dev/null && cmake --build "$build" -j 2 --target travo_mex >/dev/null 2>&1; then
  mex="$build/mex"
fi

common=(--benchmark_repetitions="$reps" --benchmark_report_aggregates_only=true
        --benchmark_min_time="$min_time" --benchmark_out_format=json)
"$build/bench/travo_generation_bench" "${common[@]}" --benchmark_out="$out/generation.json" \
  ${GEN_FILTER:+--benchmark_filter="$GEN_FILTER"}
"$build/bench/travo_evaluation_bench" "${common[@]}" --benchmark_out="$out/evaluation.json" \
  ${EVAL_FILTER:+--benchmark_filter="$EVAL_FILTER"}
"$build/bench/travo_batch_bench" "${common[@]}" --benchmark_out="$out/batch.json" \
  ${BATCH_FILTER:+--benchmark_filter="$BATCH_FILTER"}
rm -f "$out/octave.txt" "$out/octave_cache.txt"
if [ -n "$mex" ]; then
  octave --no-gui --no-window-system --norc --quiet \
    --eval "addpath('$mex'); addpath('bench'); octave_host('$out/octave.txt', $octave_reps)"
  octave --no-gui --no-window-system --norc --quiet \
    --eval "addpath('$mex'); addpath('bench'); octave_cache('$out/octave_cache.txt', $((octave_reps * 2)))"
fi

# The Python package against the C++ interface, with the interpreter CMake chose.
rm -f "$out/python.json"
python=$(sed -n 's/^Python3_EXECUTABLE:[A-Z]*=//p' "$build/CMakeCache.txt")
if [ -n "$python" ] && cmake --build "$build" -j 2 --target travo_python travo_python_reference >/dev/null 2>&1; then
  REPETITIONS="$reps" "$python" bench/python_bench.py "$build" "$out"
fi

# Campaigns: where a run's time goes, runs per second, a database of 10^6 runs (CAMPAIGN_BASELINE: the python
# folder of another build, measured alongside in the same session).
rm -f "$out/campaign.json"
if [ -n "$python" ] && [ -d "$build/python/travo" ]; then
  REPETITIONS="$reps" "$python" bench/campaign_bench.py "$build/python" --out "$out" \
    ${CAMPAIGN_BASELINE:+--baseline "$CAMPAIGN_BASELINE"} ${QUICK:+--quick}
fi

{
  lscpu | sed -n 's/^Model name:[[:space:]]*//p' | head -n 1
  nproc
  "${CXX:-c++}" --version | head -n 1
  uptime | sed 's/.*load average: //'
} > "$out/machine.txt"

python3 scripts/render_performance.py "$out" docs
