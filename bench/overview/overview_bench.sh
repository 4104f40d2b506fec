#!/usr/bin/env bash
# The card overview on a 1,000-recording card, as korvante-bench-overview
# measures it in one process, then as the command-line tool runs it: the cached
# `trips` against `list` (hyperfine, page cache warm), and the first `trips`
# through a 30 MB/s card reader (the paced-read shim) against `list` through
# the same reader.
#   overview_bench.sh BUILD_DIR
set -euo pipefail
BUILD="$1"
BIN="$BUILD/bin"
card=/tmp/korvante-overview-card
real=/tmp/korvante-open-card
if [ ! -d "$card/NOR" ]; then
  # 100 recordings written, then copied to nine more days: 1,000 recordings
  # (2,000 files) of 60 s with 600 G samples and 60 fixes each, in a tenth of
  # the time writing them all would take.
  echo "writing a 1,000-recording card (60 s each, 160x120 at 30 fps) to $card ..."
  "$BIN/korvante-mkcard" --folder "$card.tmp" --per-kind 25 --seconds 60 --size 160x120 --fps 30 --channels 2 \
    --seed 7 >/dev/null
  python3 - "$card.tmp" <<'PY'
import datetime, os, shutil, sys
root = sys.argv[1]
for folder in os.listdir(root):
    path = os.path.join(root, folder)
    if not os.path.isdir(path) or folder == "SETUP":
        continue
    for name in sorted(os.listdir(path)):
        kind, date, time, rest = name.split("_", 3)
        when = datetime.datetime.strptime(date + time, "%Y%m%d%H%M%S")
        for day in range(1, 10):
            moved = (when + datetime.timedelta(days=day)).strftime("%Y%m%d_%H%M%S")
            shutil.copyfile(os.path.join(path, name), os.path.join(path, f"{kind}_{moved}_{rest}"))
PY
  mv "$card.tmp" "$card"
fi
if [ ! -d "$real/NOR" ]; then
  echo "writing camera-like 1080p recordings to $real ..."
  "$BIN/korvante-mkcard" --folder "$real" --per-kind 2 --unfinished 1 --seconds 60 --size 1920x1080 \
    --rear-size 1280x720 --encoding camera --audio aac --channels 2 --seed 4 >/dev/null
  chmod -R a+rX "$real"
fi
fronts=($(ls "$real"/NOR/*_F.avi | sort))

"$BIN/korvante-bench-overview" "$card" "${fronts[@]}"

cache=$(mktemp -d /tmp/korvante-overview-cache-XXXXXX)
trap 'rm -rf "$cache"' EXIT
XDG_CACHE_HOME="$cache" "$BIN/korvante-cli" trips --drive "$card" >/dev/null
echo
echo "-- korvante-cli, page cache warm: cached trips against list (hyperfine, 10 runs)"
json="$cache/hyperfine.json"
hyperfine -N --warmup 2 --runs 10 --export-json "$json" \
  "$BIN/korvante-cli list --drive $card" \
  "env XDG_CACHE_HOME=$cache $BIN/korvante-cli trips --drive $card" >/dev/null
python3 - "$json" <<'PY'
import json, sys
r = json.load(open(sys.argv[1]))["results"]
print(f"list            {r[0]['mean']*1000:8.1f} ms")
print(f"trips (cached)  {r[1]['mean']*1000:8.1f} ms   {r[1]['mean']/r[0]['mean']:.2f} x list")
PY

echo
echo "-- camera-like recordings (2 x 60 s 1080p, one unfinished per kind) through a 30 MB/s card reader"
paced() { # label, command...
  local label="$1"; shift
  local log="$cache/paced.log"
  rm -f "$log"
  local t0 t1
  t0=$(date +%s%N)
  env LD_PRELOAD="$BIN/korvante-paced-reads.so" KORVANTE_PACE_DIR="$real" KORVANTE_PACE_RATE=30 \
    KORVANTE_PACE_LOG="$log" "$@" >/dev/null
  t1=$(date +%s%N)
  awk -v label="$label" -v ms="$(( (t1 - t0) / 1000000 ))" \
    '$1 != "start" { bytes += $2; reads++ } END { printf "%-26s %8d ms   %.2f MB in %d reads\n", label, ms, bytes / 1e6, reads }' "$log"
}
paced "list" "$BIN/korvante-cli" list --drive "$real"
rm -rf "$cache/korvante"
paced "trips (first, no cache)" env XDG_CACHE_HOME="$cache" "$BIN/korvante-cli" trips --drive "$real"
paced "trips (cached)" env XDG_CACHE_HOME="$cache" "$BIN/korvante-cli" trips --drive "$real"
echo "($(du -cb "$real"/*/*_F.avi | tail -1 | cut -f1 | awk '{printf "%.0f MB", $1 / 1e6}') of front files; reading them whole at 30 MB/s: $(du -cb "$real"/*/*_F.avi | tail -1 | cut -f1 | awk '{printf "%.1f s", $1 / 30e6}'))"
