#!/usr/bin/env bash
# Start-up time: vyr on a script that is only its header, run RUNS times
# (default 50); prints the median and the fastest wall time in milliseconds.
set -uo pipefail
build=${1:-build/release}
runs=${RUNS:-50}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
printf 'Vyr []\n' >"$tmp/empty.vyr"
times=()
for _ in $(seq "$runs"); do
    start=$(date +%s%N)
    "$build/vyr" "$tmp/empty.vyr" >/dev/null 2>&1 || { echo "startup: vyr failed" >&2; exit 1; }
    end=$(date +%s%N)
    times+=($(( (end - start) / 1000 )))
done
printf '%s\n' "${times[@]}" | sort -n | awk -v n="$runs" '
    { t[NR] = $1 }
    END { printf "start-up (empty script, %d runs): median %.1f ms, fastest %.1f ms\n", n, t[int((n + 1) / 2)] / 1000, t[1] / 1000 }'
