#!/usr/bin/env bash
# Parsing about 10 MB of CSV-like text into lines of fields: Vyr's parse
# against Python 3's str.split and re. Each program first builds the text;
# the programs that only build it give the baseline, which is taken off
# every time. Times are the best processor time (user + system) of three
# runs, which a busy machine disturbs less than wall time.
set -uo pipefail
build=${1:-build/release}
here=$(cd "$(dirname "$0")" && pwd)
vyr="$build/vyr"
python=$(command -v python3 || true)
runs=3
tmp=$(mktemp)
trap 'rm -f "$tmp"' EXIT

best() {
    local best_time= t
    for _ in $(seq $runs); do
        /usr/bin/time -o "$tmp" -f '%U %S' "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; return 1; }
        t=$(tail -1 "$tmp" | awk '{ printf "%.3f", $1 + $2 }')
        if [ -z "$best_time" ] || awk -v a="$t" -v b="$best_time" 'BEGIN { exit !(a < b) }'; then best_time=$t; fi
    done
    echo "$best_time"
}
minus() { awk -v a="$1" -v b="$2" 'BEGIN { d = a - b; if (d < 0.001) d = 0.001; printf "%.3f", d }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

out_vyr=$("$vyr" "$here/csv.vyr" | tail -1)
v=$(minus "$(best "$vyr" "$here/csv.vyr")" "$(best "$vyr" "$here/text.vyr")")
echo "parse of 10 MB of CSV-like text into lines of fields (seconds, text building taken off)"
printf '  %-22s %7s\n' "vyr parse" "$v"
[ -n "$python" ] || { echo "  (python3 not found)"; exit 0; }
status=0
base=$(cd "$here" && best "$python" text.py)
for prog in csv_split csv_re; do
    out=$(cd "$here" && "$python" "$prog.py" | tail -1)
    if [ "$out" != "$out_vyr" ]; then
        echo "!! $prog answers '$out', Vyr '$out_vyr'" >&2
        status=1
    fi
    p=$(minus "$(cd "$here" && best "$python" "$prog.py")" "$base")
    printf '  %-22s %7s   vyr/python %s\n' "python $prog" "$p" "$(ratio "$v" "$p")"
done
exit $status
