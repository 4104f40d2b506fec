#!/usr/bin/env bash
# Runs inside xvfb-run: starts the viewer on a card folder with the map
# service unreachable, answers the "Please check your Internet connection."
# box with its OK key, double-clicks the first recording, then takes two
# screenshots five seconds apart while it plays.
# Usage: map_view.sh VIEWER OUTDIR CARD
# Writes OUTDIR/origin.txt ("x y" of the main window), box.txt (the message
# box's size, when one showed), box.png, shot1.png, shot2.png.
set -u
viewer="$1"
out="$2"
card="$3"
. "$(dirname "$0")/start_viewer.sh"
start_viewer "$out" "$viewer" "$card"

# The message box: a small top-level window with the program's title.
box=""
for _ in $(seq 50); do
  for w in $(xdotool search --onlyvisible --name "KORVANTE VIEWER" 2>/dev/null); do
    geometry=$(xdotool getwindowgeometry "$w" 2>/dev/null)
    read -r bx by < <(sed -n 's/.*Position: \(-\?[0-9]\+\),\(-\?[0-9]\+\).*/\1 \2/p' <<<"$geometry")
    read -r bw bh < <(sed -n 's/.*Geometry: \([0-9]\+\)x\([0-9]\+\).*/\1 \2/p' <<<"$geometry")
    if [ -n "${bw:-}" ] && [ "$bw" -lt 500 ] && [ "$bh" -lt 300 ] && [ "$bw" -gt 50 ]; then
      box="$w"; echo "$bw $bh" >"$out/box.txt"
    fi
  done
  [ -n "$box" ] && break
  sleep 0.2
done
if [ -n "$box" ]; then
  # Without a window manager nothing keeps the box above the main window.
  sleep 0.3
  xdotool windowraise "$box"; sleep 0.3
  import -window root "$out/box.png"
  # OK is the box's only button, in its bottom-right corner.
  xdotool mousemove $((bx + bw - 50)) $((by + bh - 24)); sleep 0.2
  xdotool click 1; sleep 0.5
fi

# Double-click the first row of the file list.
xdotool mousemove $((ox + 770 + 4 + 60)) $((oy + 310 + 32 + 20 + 6)); sleep 0.2
xdotool click --repeat 2 --delay 60 1
sleep 3
import -window root "$out/shot1.png"
sleep 5
import -window root "$out/shot2.png"
exit 0
