#!/usr/bin/env bash
# Runs every benchmark: the C++ ones (Google Benchmark) and the Vyr scripts in bench/.
set -uo pipefail
build=${1:-build/release}
status=0
if [ -x "$build/vyr_bench" ]; then
    "$build/vyr_bench" || status=1
fi
for script in bench/*.vyr; do
    [ -e "$script" ] || continue
    echo "== $script"
    /usr/bin/time -f "   %es  %MKB" "$build/vyr" "$script" || status=1
done
# Parse against Python's str.split and re (bench/parse/run.sh).
if [ -x bench/parse/run.sh ]; then
    bench/parse/run.sh "$build" || status=1
fi
exit $status
