#!/usr/bin/env bash
# Generation of 100 000 minima under address-space limits from where even
# the tables do not fit to where the whole member fits: each run of the C
# interface ends with status 0 or 8 (no memory), at least one with 8, and
# the tool ends with a message, never an abort.
set -u
probe=$1 tool=${2:-}
saw_no_memory=0
for limit in 8000 12000 16000 20000 24000 40000; do
    (ulimit -v $limit; exec "$probe" 100000)
    status=$?
    case $status in
    0) ;;
    8) saw_no_memory=1 ;;
    *) echo "under $limit KB TRAVO_arg_generate gave $status, expected 0 or 8"; exit 1 ;;
    esac
    if [ -n "$tool" ]; then
        message=$( (ulimit -v $((limit + 30000)); exec "$tool" info --minima 100000 --format csv) 2>&1 >/dev/null)
        status=$?
        if [ $status -gt 2 ] || [[ $message == *terminate* ]]; then
            echo "under $((limit + 30000)) KB travo info gave $status: $message"
            exit 1
        fi
    fi
done
if [ $saw_no_memory -eq 0 ]; then
    echo "no limit gave status 8"
    exit 1
fi
