#!/usr/bin/env bash
# Runs inside xvfb-run: starts the viewer on a card folder, takes a
# screenshot of the idle viewer (idle.png), double-clicks the first recording
# of the list, then takes two screenshots one second apart while it plays
# (play1.png, play2.png). Usage: sensor_strip.sh VIEWER OUTDIR CARD
set -u
viewer="$1"
out="$2"
card="$3"
"$viewer" "$card" >"$out/stdout.txt" 2>"$out/stderr.txt" &
pid=$!
trap 'kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null' EXIT

origin=""
for _ in $(seq 100); do
  origin=$(sed -n 's/.*main window shown at \(-\?[0-9]\+\),\(-\?[0-9]\+\).*/\1 \2/p' "$out/stderr.txt" | head -1)
  [ -n "$origin" ] && break
  sleep 0.2
done
[ -n "$origin" ] || { echo "the main window never showed" >&2; exit 1; }
read -r ox oy <<<"$origin"
echo "$ox $oy" >"$out/origin.txt"
sleep 2
import -window root "$out/idle.png"

# Double-click the first row of the file list.
xdotool mousemove $((ox + 770 + 4 + 60)) $((oy + 310 + 32 + 20 + 6)); sleep 0.2
xdotool click --repeat 2 --delay 60 1
sleep 3
import -window root "$out/play1.png"
sleep 1
import -window root "$out/play2.png"
exit 0
