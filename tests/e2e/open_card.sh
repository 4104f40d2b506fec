#!/usr/bin/env bash
# Runs inside xvfb-run and uses the viewer as a person would, with the mouse:
# Open File, pick drive SOURCE_INDEX in the drive dialog, Check, double-click
# the first recording, then Next File. Screenshots after each step go to
# OUTDIR (list.png, play1.png, play2.png, next1.png, next2.png).
# Usage: open_card.sh VIEWER OUTDIR SOURCE_INDEX
set -u
viewer="$1"
out="$2"
index="$3"
. "$(dirname "$0")/start_viewer.sh"
start_viewer "$out" "$viewer"
sleep 1

click() { xdotool mousemove "$1" "$2"; sleep 0.2; xdotool click 1; sleep 0.4; }

# Open File: the file list panel's first title-row button, left of the kind
# filter (which is as wide as "PARKING" needs at the default font).
click $((ox + 770 + 158)) $((oy + 310 + 16))
sleep 1.5
import -window root "$out/dialog.png"
# The drive dialog is centred on the main window.
dx=$((ox + 389 - 228 + 1)); dy=$((oy + 389 - 91 + 1))
if [ "$index" -gt 0 ]; then
  click $((dx + 40 + 150)) $((dy + 56 + 8))
  for _ in $(seq "$index"); do xdotool key Down; sleep 0.2; done
  xdotool key Return; sleep 0.4
fi
click $((dx + 108 + 55)) $((dy + 118 + 14))   # Check
sleep 2
import -window root "$out/list.png"

# Double-click the first row of the list.
xdotool mousemove $((ox + 770 + 4 + 60)) $((oy + 310 + 32 + 20 + 6)); sleep 0.2
xdotool click --repeat 2 --delay 60 1
sleep 2.5
import -window root "$out/play1.png"
sleep 1
import -window root "$out/play2.png"

# Next File on the player control panel.
click $((ox + 24 + 240 + 10)) $((oy + 453 + 23 + 10))
sleep 2.5
import -window root "$out/next1.png"
sleep 1
import -window root "$out/next2.png"
exit 0
