#!/usr/bin/env bash
# Runs each fuzz target for the given number of seconds (default 600).
set -uo pipefail
build=${1:-build/fuzz}
seconds=${2:-600}
for target in "$build"/fuzz_*; do
    [ -x "$target" ] || continue
    name=$(basename "$target")
    mkdir -p "$build/corpus/$name"
    echo "== $name for ${seconds}s"
    "$target" -max_total_time="$seconds" "$build/corpus/$name" || exit 1
done
