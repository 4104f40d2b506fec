#!/usr/bin/env bash
# The real viewer opening a recording from a card reader: every read of the
# card's files costs what a reader of RATE MB/s takes (the preloaded
# korvante-paced-reads module, which also logs each read). The viewer runs
# under Xvfb as a user who is not root (uid 65534) on the card's folder; a
# double click on a row opens the recording, and korvante-seek-probe reads the
# frame numbers off both screens. Prints, per row: the time from the double
# click to the first picture of both channels, the bytes read of each file in
# between, and what the listing read before the click; for a recording that
# is walked while it plays, when its whole length was known (the viewer's own
# log line, counted from the start of the open). With --again each row is
# opened a second time by a new viewer with the same home folder, so with the
# cache the first one left (a walked recording's remembered index).
#
# usage: viewer_open.sh [--viewer PATH] [--rate MB/s] [--again] CARD_FOLDER ROW...
#   CARD_FOLDER  a card written by korvante-mkcard, e.g. with
#                --per-kind 1 --unfinished 1 --seconds 60 --size 1920x1080
#                --rear-size 1280x720 --encoding camera
#   ROW          1-based rows of the file list (sorted as the viewer lists them)
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
. "$here/../viewer_windows.sh"
viewer="$here/../../build/bin/korvante"
rate=30
passes=1
while [ $# -gt 0 ]; do
  case "$1" in
    --viewer) viewer="$2"; shift 2 ;;
    --rate) rate="$2"; shift 2 ;;
    --again) passes=2; shift ;;
    *) break ;;
  esac
done
[ $# -ge 2 ] || { echo "usage: viewer_open.sh [--viewer PATH] [--rate MB/s] [--again] CARD_FOLDER ROW..." >&2; exit 2; }
card="$(cd "$1" && pwd)"; shift
bin="$(dirname "$viewer")"
shim="$bin/../lib/korvante-paced-reads.so"
[ -f "$shim" ] || shim="$bin/korvante-paced-reads.so"
[ -f "$shim" ] || { echo "viewer_open: korvante-paced-reads.so not found beside $viewer" >&2; exit 1; }

work=$(mktemp -d)
chmod 755 "$work"
display=${KORVANTE_BENCH_DISPLAY:-:94} # another free display: KORVANTE_BENCH_DISPLAY=:95
cleanup() {
  [ -n "${pid:-}" ] && kill "$pid" 2>/dev/null || true
  [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
export DISPLAY=$display
Xvfb $display -screen 0 1920x1200x24 -nolisten tcp -noreset >/dev/null 2>&1 &
xvfb=$!
sleep 1

now_ms() { python3 -c 'import time; print("%.1f" % (time.clock_gettime(time.CLOCK_MONOTONIC) * 1000))'; }

for row in "$@"; do
 for pass in $(seq 1 "$passes"); do
  # A fresh viewer per row, so that nothing of an earlier open is cached in
  # it; the second pass keeps the first one's home folder (and its cache).
  home="$work/home$row"; mkdir -p "$home"; chmod 777 "$home"
  log="$work/reads$row.log"; : >"$log"; chmod 666 "$log"
  run=(env -i DISPLAY=$display HOME="$home" LANG=de_DE.UTF-8 PATH=/usr/bin:/bin
       KORVANTE_MAP_PROBE=off KORVANTE_MAP_TILES=http://127.0.0.1:9/
       LD_PRELOAD="$shim" KORVANTE_PACE_DIR="$card" KORVANTE_PACE_RATE="$rate" KORVANTE_PACE_LOG="$log")
  [ "$(id -u)" -eq 0 ] && run=(setpriv --reuid 65534 --regid 65534 --clear-groups "${run[@]}")
  "${run[@]}" "$viewer" "$card" >"$work/viewer$row.log" 2>&1 &
  pid=$!
  f=""; r=""; l=""
  for _ in $(seq 1 300); do
    f=$(viewer_window 745x419); r=$(viewer_window 390x219); l=$(viewer_window 315x470)
    [ -n "$f" ] && [ -n "$r" ] && [ -n "$l" ] && break
    sleep 0.1
  done
  [ -n "$f" ] || { echo "viewer_open: the viewer did not appear" >&2; cat "$work/viewer$row.log" >&2; exit 1; }
  sleep 3 # the listing and any message box are done by then
  xdotool key Return 2>/dev/null || true
  sleep 1
  read -r fx fy <<<"$f"; read -r rx ry <<<"$r"; read -r lx ly <<<"$l"
  "$bin/korvante-seek-probe" --first "$fx" "$fy" 745 419 "$rx" "$ry" 390 219 >"$work/first$row" &
  probe=$!
  sleep 0.3
  click=$(now_ms)
  # The rows lie 14 px apart, the first 58 px below the list panel's top.
  xdotool mousemove $((lx + 150)) $((ly + 44 + 14 * row)) click --repeat 2 --delay 30 1
  wait "$probe" || true
  # A recording walked while it plays says so, and later when its whole
  # length is known (waited for up to 30 s).
  for _ in $(seq 1 300); do
    grep -q "plays while its chunks are walked" "$work/viewer$row.log" || break
    grep -q "whole length is known" "$work/viewer$row.log" && break
    sleep 0.1
  done
  sleep 0.5
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  pid=""
  python3 - "$click" "$work/first$row" "$log" "$row" "$pass" "$work/viewer$row.log" <<'EOF'
import re, sys
click, firstFile, log, row, npass, viewerLog = float(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4], sys.argv[5], sys.argv[6]
if npass != "1":
    row = row + " again"
first = open(firstFile).read().split()
t = float(first[1]) if len(first) > 1 and first[1] != "never" else None
before, between = 0, {}
for line in open(log):
    if line.startswith("start"):
        continue
    us, n, _, path = line.rstrip("\n").split(" ", 3)
    ms = float(us) / 1000
    if ms < click:
        before += int(n)
    elif t is None or ms <= t:
        between[path] = between.get(path, 0) + int(n)
name = min(between, key=len).split("/")[-1] if between else "?"
if t is None:
    print("row %s (%s): no picture within 60 s; read %.2f MB" % (row, name, sum(between.values()) / 1e6))
else:
    print("row %s (%s): first picture of both channels %.0f ms after the double click, %.2f MB read "
          "(listing before: %.2f MB)" % (row, name, t - click, sum(between.values()) / 1e6, before / 1e6))
for path, n in sorted(between.items()):
    print("    %8.2f MB  %s" % (n / 1e6, path.split("/")[-1]))
known = re.findall(r"whole length is known (\d+) ms", open(viewerLog, errors="replace").read())
if known:
    print("    walked while playing: whole length known %s ms after the open began" % known[-1])
EOF
 done
done
