#!/usr/bin/env bash
# Runs the benchmarks: first the programs of bench/programs/ side by side in
# Vyr, Lua 5.4 and Python 3 (one table from one run, each program's three
# outputs checked to be the same), then the C++ ones (Google Benchmark).
# BENCH_CPP=0 skips the C++ benchmarks.
set -uo pipefail
build=${1:-build/release}
status=0
vyr="$build/vyr"
lua=$(command -v lua5.4 || true)
python=/usr/bin/python3
[ -x "$python" ] || python=$(command -v python3 || true)

# Runs one program, its output into $2; answers the wall time in seconds.
timed() {
    local out=$2
    shift 2
    local start end
    start=$(date +%s.%N)
    "$@" >"$out" 2>&1 || echo "exit status $?" >>"$out"
    end=$(date +%s.%N)
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }'
}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
printf '%-8s %9s %9s %9s %9s %9s\n' program vyr lua python vyr/lua vyr/python
ratios_lua=() ratios_py=()
for script in bench/programs/*.vyr; do
    name=$(basename "$script" .vyr)
    dir=$(dirname "$script")
    tv=$(timed "$name" "$tmp/$name.vyr.out" "$vyr" "$script")
    tl=- tp=-
    [ -n "$lua" ] && [ -e "$dir/$name.lua" ] && tl=$(timed "$name" "$tmp/$name.lua.out" "$lua" "$dir/$name.lua")
    [ -n "$python" ] && [ -e "$dir/$name.py" ] && tp=$(timed "$name" "$tmp/$name.py.out" "$python" "$dir/$name.py")
    for other in lua py; do
        [ -e "$tmp/$name.$other.out" ] || continue
        if ! cmp -s "$tmp/$name.vyr.out" "$tmp/$name.$other.out"; then
            echo "!! $name: the $other output differs from Vyr's:" >&2
            diff "$tmp/$name.vyr.out" "$tmp/$name.$other.out" | head -5 >&2
            status=1
        fi
    done
    rl=$(awk -v a="$tv" -v b="$tl" 'BEGIN { if (b + 0 > 0) printf "%.2f", a / b; else printf "-" }')
    rp=$(awk -v a="$tv" -v b="$tp" 'BEGIN { if (b + 0 > 0) printf "%.2f", a / b; else printf "-" }')
    [ "$rl" != - ] && ratios_lua+=("$rl")
    [ "$rp" != - ] && ratios_py+=("$rp")
    printf '%-8s %9s %9s %9s %9s %9s\n' "$name" "$tv" "$tl" "$tp" "$rl" "$rp"
done
geomean() { printf '%s\n' "$@" | awk '{ s += log($1); n++ } END { if (n) printf "%.2f", exp(s / n); else printf "-" }'; }
printf '%-8s %9s %9s %9s %9s %9s\n' geomean "" "" "" "$(geomean "${ratios_lua[@]}")" "$(geomean "${ratios_py[@]}")"
[ -n "$lua" ] || echo "(lua5.4 not found: no Lua column)"

if [ "${BENCH_CPP:-1}" != 0 ] && [ -x "$build/vyr_bench" ]; then
    echo
    "$build/vyr_bench" || status=1
fi
for script in bench/*.vyr; do
    [ -e "$script" ] || continue
    echo "== $script"
    /usr/bin/time -f "   %es  %MKB" "$build/vyr" "$script" || status=1
done
# Start-up on an empty script (bench/startup.sh).
bench/startup.sh "$build" || status=1
# Parse against Python's str.split and re (bench/parse/run.sh).
if [ -x bench/parse/run.sh ]; then
    bench/parse/run.sh "$build" || status=1
fi
# JSON and CSV against Python's json and csv modules (bench/codecs/run.sh).
if [ -x bench/codecs/run.sh ]; then
    bench/codecs/run.sh "$build" || status=1
fi
exit $status
