#!/usr/bin/env bash
# What a user waits for in the real viewer, on a camera's footage: the viewer
# runs under Xvfb as a user who is not root (uid 65534) under a decimal-comma
# locale, playing a two-channel recording of 60 s (front 1920x1080 at about
# 12 Mbit/s with B-frames, rear 1280x720), and korvante-seek-probe reads the
# frame numbers off the screen after Space, clicks on the seek slider and
# Right. The reference, in the same run: ffmpeg seeking the same two files to
# an exact frame (`ffmpeg -ss T -i FILE -frames:v 1 -f null -`, front and rear
# at once), the work a seek has to do.
#
# usage: seek_bench.sh [--viewer PATH] [--card DIR]
#   --card DIR  a card written earlier with
#               korvante-mkcard --folder DIR --per-kind 1 --seconds 60 --size 1920x1080
#                 --rear-size 1280x720 --encoding camera
#               (default: made once in /tmp/korvante-seek-card)
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
. "$here/../viewer_windows.sh"
build="$here/../../build"
viewer="$build/bin/korvante"
card=/tmp/korvante-seek-card
while [ $# -gt 0 ]; do
  case "$1" in
    --viewer) viewer="$2"; shift 2 ;;
    --card) card="$2"; shift 2 ;;
    *) echo "usage: seek_bench.sh [--viewer PATH] [--card DIR]" >&2; exit 2 ;;
  esac
done
bin="$(dirname "$viewer")"
for tool in Xvfb xdotool ffmpeg setpriv; do
  command -v "$tool" >/dev/null || { echo "seek_bench: $tool is missing" >&2; exit 1; }
done

front=$(ls "$card"/NOR/*_F.avi 2>/dev/null | head -1 || true)
if [ -z "$front" ]; then
  echo "making the card (8 camera-like recordings of 60 s, a few minutes) in $card"
  rm -rf "$card"
  "$bin/korvante-mkcard" --folder "$card" --per-kind 1 --seconds 60 --size 1920x1080 --rear-size 1280x720 \
    --encoding camera --audio aac --channels 2 --seed 3 >/dev/null
  front=$(ls "$card"/NOR/*_F.avi | head -1)
fi
rear=$(ls "$card"/NOR/*_R.avi | head -1)
chmod -R a+rX "$card"

# --- reference: ffmpeg's exact seek of both files --------------------------
ref=$(python3 - "$front" "$rear" <<'EOF'
import random, subprocess, sys, time
front, rear = sys.argv[1:3]
random.seed(5)
times = []
for _ in range(10):
    t = random.uniform(3, 57)
    t0 = time.monotonic()
    procs = [subprocess.Popen(["ffmpeg", "-v", "error", "-ss", "%.3f" % t, "-i", f, "-frames:v", "1", "-f", "null", "-"])
             for f in (front, rear)]
    for p in procs:
        p.wait()
    times.append((time.monotonic() - t0) * 1000)
times.sort()
print("%.0f" % ((times[4] + times[5]) / 2))
EOF
)

# --- the viewer ---------------------------------------------------------------
display=:93
Xvfb $display -screen 0 1920x1200x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
home=$(mktemp -d)
chown 65534:65534 "$home"
cleanup() {
  [ -n "${pid:-}" ] && kill "$pid" 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
  rm -rf "$home"
}
trap cleanup EXIT
sleep 1
run=(env -i DISPLAY=$display HOME="$home" LANG=de_DE.UTF-8 LC_ALL=de_DE.UTF-8 PATH=/usr/bin:/bin
     KORVANTE_MAP_PROBE=off KORVANTE_MAP_TILES=http://127.0.0.1:9/)
if [ "$(id -u)" -eq 0 ]; then
  run=(setpriv --reuid 65534 --regid 65534 --clear-groups "${run[@]}")
fi
"${run[@]}" "$viewer" "$front" >"$home/viewer.log" 2>&1 &
pid=$!
export DISPLAY=$display
# The screens and the player panel, found by their sizes.
for _ in $(seq 1 300); do
  f=$(viewer_window 745x419); r=$(viewer_window 390x219); p=$(viewer_window 730x50)
  [ -n "$f" ] && [ -n "$r" ] && [ -n "$p" ] && break
  sleep 0.1
done
[ -n "$f" ] || { echo "seek_bench: the viewer's screens did not appear:" >&2; cat "$home/viewer.log" >&2; exit 1; }
sleep 3
xdotool key space # pause
sleep 1
read -r fx fy <<<"$f"; read -r rx ry <<<"$r"; read -r px py <<<"$p"
"$bin/korvante-seek-probe" "$fx" "$fy" 745 419 "$rx" "$ry" 390 219 $((px + 40)) $((px + 559)) $((py + 6))
echo "reference: ffmpeg seeking front and rear to an exact frame at once: median $ref ms over 10"
