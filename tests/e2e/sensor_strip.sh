#!/usr/bin/env bash
# Runs inside xvfb-run: starts the viewer on a card folder, takes a
# screenshot of the idle viewer (idle.png), double-clicks the first recording
# of the list, then takes two screenshots one second apart while it plays
# (play1.png, play2.png). Usage: sensor_strip.sh VIEWER OUTDIR CARD
set -u
viewer="$1"
out="$2"
card="$3"
. "$(dirname "$0")/start_viewer.sh"
start_viewer "$out" "$viewer" "$card"
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
