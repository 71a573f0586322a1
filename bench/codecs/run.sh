#!/usr/bin/env bash
# load-json and to-json of a JSON document of about 10 MB, and load-csv of
# about 10 MB of CSV text, against Python 3's json and csv modules. Each side
# times the operation alone (the text is read before the clock starts), best
# of three; the ratio is Vyr's time over Python's.
set -uo pipefail
build=${1:-build/release}
here=$(cd "$(dirname "$0")" && pwd)
vyr="$build/vyr"
python=/usr/bin/python3
[ -x "$python" ] || python=$(command -v python3 || true)
[ -n "$python" ] || { echo "codecs: python3 not found"; exit 0; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$python" "$here/gen.py" "$tmp" || exit 1
"$vyr" "$here/bench.vyr" "$tmp" >"$tmp/vyr.out" 2>&1 || { cat "$tmp/vyr.out"; exit 1; }
"$python" "$here/bench.py" "$tmp" >"$tmp/py.out" 2>&1 || { cat "$tmp/py.out"; exit 1; }
echo "JSON and CSV of about 10 MB (seconds, best of three)"
printf '  %-10s %9s %9s %11s\n' "" vyr python vyr/python
status=0
while read -r name tv nv; do
    read -r _ tp np < <(grep "^$name " "$tmp/py.out")
    if [ "$nv" != "$np" ]; then
        echo "!! $name: Vyr answers '$nv', Python '$np'" >&2
        status=1
    fi
    printf '  %-10s %9.3f %9.3f %11s\n' "$name" "$tv" "$tp" "$(awk -v a="$tv" -v b="$tp" 'BEGIN { printf "%.2f", a / b }')"
done <"$tmp/vyr.out"
exit $status
