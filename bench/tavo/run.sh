#!/bin/sh
# Reads every file of a 1 GiB card image through the card library and compares the rate with
# `cat` of the same image to /dev/null, in the same run. Both are measured with a warm page
# cache (the image is read once first); dropping caches needs the host.
#   bench/tavo/run.sh [build folder]      (default: build)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../../build}
bench=$build/bin/tavo_bench
[ -x "$bench" ] || { echo "missing $bench: build the tavo_bench target first" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/tavo-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
image=$work/card.img
"$bench" make "$image" 1024
image_bytes=$(stat -c %s "$image")
file_bytes=$("$bench" read "$image" | sed -n 's/^[0-9]* files, \([0-9]*\) bytes.*/\1/p')
cat "$image" > /dev/null   # warm the cache

if command -v hyperfine >/dev/null 2>&1; then
    hyperfine --warmup 1 --runs 5 --export-json "$work/times.json" \
        -n cat "cat '$image' > /dev/null" \
        -n tavo "'$bench' read '$image' > /dev/null"
    cat_s=$(python3 -c "import json;d=json.load(open('$work/times.json'));print(d['results'][0]['median'])")
    tavo_s=$(python3 -c "import json;d=json.load(open('$work/times.json'));print(d['results'][1]['median'])")
else
    t() { s=$(date +%s%N); sh -c "$1"; e=$(date +%s%N); echo "($e - $s) / 1000000000" | bc -l; }
    cat_s=$(t "cat '$image' > /dev/null")
    tavo_s=$(t "'$bench' read '$image' > /dev/null")
fi
python3 - "$image_bytes" "$cat_s" "$file_bytes" "$tavo_s" <<'PY'
import sys
image_bytes, cat_s, file_bytes, tavo_s = int(sys.argv[1]), float(sys.argv[2]), int(sys.argv[3]), float(sys.argv[4])
cat_rate = image_bytes / cat_s / 1e6
tavo_rate = file_bytes / tavo_s / 1e6
print(f"cat : {image_bytes} bytes in {cat_s:.3f} s = {cat_rate:.1f} MB/s")
print(f"tavo: {file_bytes} bytes in {tavo_s:.3f} s = {tavo_rate:.1f} MB/s")
print(f"ratio tavo/cat: {tavo_rate / cat_rate:.2f} (target >= 0.80, warm cache)")
PY
