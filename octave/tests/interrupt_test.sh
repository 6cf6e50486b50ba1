#!/usr/bin/env bash
# Ctrl-C during a long generation in Octave: the call ends soon after the
# interrupt instead of when the generation would have ended.
#   interrupt_test.sh <octave> <folder of the modules>
# The member (10 dimensions, 300 000 minima) takes well over 20 s to
# generate; Octave must be back within LIMIT seconds of the SIGINT, which
# is sent 2 s after the call started.
set -u
octave="$1"
mex="$2"
limit=10
out="$(mktemp)"
trap 'rm -f "$out"' EXIT
"$octave" --no-gui --no-window-system --norc --quiet --eval \
  "addpath('$mex'); disp('calling'); fflush(stdout); travo_member(struct('dim', 10, 'minima', 3e5), 'delta'); disp('generated')" \
  > "$out" 2>&1 &
pid=$!
for _ in $(seq 600); do
  grep -q calling "$out" && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
grep -q calling "$out" || { echo "Octave did not reach the call"; cat "$out"; exit 1; }
sleep 2
kill -INT "$pid"
for _ in $(seq $((limit * 10))); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$pid" 2>/dev/null; then
  kill -KILL "$pid"
  echo "the generation went on more than ${limit} s after the interrupt"
  exit 1
fi
if grep -q generated "$out"; then
  echo "the generation ended before the interrupt; nothing was shown"
  exit 1
fi
echo "interrupted within ${limit} s"
