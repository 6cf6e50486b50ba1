#!/bin/sh
# The tool under an address-space limit: every output path ends with
# "out of memory" and exit status 1, and writes no file. Usage:
# out_of_memory.sh TRAVO WORKDIR
set -u
travo=$1
dir=$2
rm -rf "$dir" && mkdir -p "$dir" && cd "$dir" || exit 1
# 40 points of dimension 1008: their Hessians and the text of them need
# more than the limit.
awk 'BEGIN { for (p = 0; p < 40; p++) { s = "0.1"; for (c = 1; c < 1008; c++) s = s ",0.1"; print s } }' > d1008.csv
fail=0
for format in json csv; do
    err=$( (ulimit -v 450000; "$travo" eval d1008.csv --dim 1008 --hessian --format $format -j 1 -o out) 2>&1)
    status=$?
    if [ $status -ne 1 ] || [ "$err" != "travo: error: out of memory" ] || [ -e out ]; then
        echo "eval --format $format: status $status, message: $err"
        fail=1
    fi
done
err=$( (ulimit -v 300000; "$travo" plot -o out.png --resolution 3000 -j 1) 2>&1)
status=$?
if [ $status -ne 1 ] || [ "$err" != "travo: error: out of memory" ] || [ -e out.png ]; then
    echo "plot: status $status, message: $err"
    fail=1
fi
exit $fail
