#!/usr/bin/env bash
# Ctrl-C during a long call of travo_member in Octave: the call ends soon
# after the interrupt instead of when its work would have ended.
#   interrupt_test.sh <octave> <folder of the modules>
# Two calls, each in its own Octave: a generation (10 dimensions, 300 000
# minima, well over 20 s) and a batch of regions (10^6 points of a member of
# 3000 minima, also well over 20 s). Octave must be back within LIMIT
# seconds of the SIGINT, which is sent 2 s after the call started.
set -u
octave="$1"
mex="$2"
limit=10
out="$(mktemp)"
trap 'rm -f "$out"' EXIT

# interrupt <what> <Octave code that prepares the call> <the call>
interrupt() {
  "$octave" --no-gui --no-window-system --norc --quiet --eval \
    "addpath('$mex'); $2; disp('calling'); fflush(stdout); $3; disp('finished')" > "$out" 2>&1 &
  local pid=$!
  for _ in $(seq 600); do
    grep -q calling "$out" && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  grep -q calling "$out" || { echo "Octave did not reach the $1"; cat "$out"; exit 1; }
  sleep 2
  kill -INT "$pid" 2>/dev/null || { echo "Octave ended before the interrupt, in the $1"; cat "$out"; exit 1; }
  local sent=$SECONDS
  for _ in $(seq $((limit * 10))); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$pid" 2>/dev/null; then
    kill -KILL "$pid"
    echo "the $1 went on more than ${limit} s after the interrupt"
    exit 1
  fi
  if grep -q finished "$out"; then
    echo "the $1 ended before the interrupt; nothing was shown"
    exit 1
  fi
  echo "the $1 was interrupted within $((SECONDS - sent + 1)) s"
}

interrupt generation "" "travo_member(struct('dim', 10, 'minima', 3e5), 'delta')"
interrupt batch "P = struct('dim', 10, 'minima', 3000); travo_member(P, 'delta'); rand('seed', 1); X = 2 * rand(1e6, 10) - 1" \
  "travo_member(P, 'region', X)"
