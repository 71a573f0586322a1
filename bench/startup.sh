#!/usr/bin/env bash
# Start-up time: vyr on a script that is only its header, run RUNS times
# (default 50), beside `lua5.4 -e ''` and `python3 -c pass` where they are
# installed; prints the median and the fastest wall time in milliseconds.
set -uo pipefail
build=${1:-build/release}
runs=${RUNS:-50}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
printf 'Vyr []\n' >"$tmp/empty.vyr"

# Runs the command RUNS times; prints its median and fastest time.
measure() {
    local label=$1
    shift
    local times=() start end
    for _ in $(seq "$runs"); do
        start=$(date +%s%N)
        "$@" >/dev/null 2>&1 || { echo "startup: $label failed" >&2; return 1; }
        end=$(date +%s%N)
        times+=($(( (end - start) / 1000 )))
    done
    printf '%s\n' "${times[@]}" | sort -n | awk -v n="$runs" -v label="$label" '
        { t[NR] = $1 }
        END { printf "start-up %-26s %d runs: median %.1f ms, fastest %.1f ms\n", label, n, t[int((n + 1) / 2)] / 1000, t[1] / 1000 }'
}

measure "(vyr, empty script)" "$build/vyr" "$tmp/empty.vyr" || exit 1
if command -v lua5.4 >/dev/null; then measure "(lua5.4 -e '')" lua5.4 -e ''; fi
if command -v python3 >/dev/null; then measure "(python3 -c pass)" python3 -c pass; fi
exit 0
