#!/usr/bin/env bash
# A long session in the real viewer under Xvfb: the first recording of a card
# of 220 is double-clicked, then the player panel's Next File opens, plays
# briefly and closes one recording after another, 200 times. The viewer's
# resident memory, threads and open descriptors (from /proc/<pid>) are taken
# after the first 10, every 50 and after all 200; the figures are printed, not
# judged. MALLOC_ARENA_MAX and the like pass through to the viewer.
#
#   session_bench.sh [--viewer PATH] [--mkcard PATH] [--work DIR] [--display :N] [--steps N]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
viewer="$root/build/bin/korvante"
mkcard="$root/build/bin/korvante-mkcard"
work=/tmp/korvante-session-bench
display=:58
steps=200
while [ $# -gt 0 ]; do
  case "$1" in
    --viewer) viewer=$2; shift 2 ;;
    --mkcard) mkcard=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    --display) display=$2; shift 2 ;;
    --steps) steps=$2; shift 2 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done
for tool in Xvfb xdotool python3; do
  command -v "$tool" >/dev/null || { echo "$tool is needed" >&2; exit 2; }
done
[ -x "$viewer" ] && [ -x "$mkcard" ] || { echo "no viewer or mkcard at $viewer, $mkcard" >&2; exit 2; }

# 4 kinds x 55 two-channel recordings of 2 s with sound: more rows than steps.
card="$work/card"
if [ ! -d "$card/NOR" ]; then
  echo "making the card ..." >&2
  "$mkcard" --folder "$card" --per-kind 55 --seconds 2 --size 320x240 --fps 15 --audio aac \
    --channels 2 --seed 17 >/dev/null
fi

# Xvfb, the map's loopback listener, the viewer's folders and their cleanup.
source "$here/../viewer_session.sh"
env XDG_CONFIG_HOME="$logs/config" XDG_RUNTIME_DIR="$logs/runtime" KORVANTE_DEBUG=1 \
  KORVANTE_MAP_PROBE="127.0.0.1:$port" KORVANTE_MAP_TILES="http://127.0.0.1:$port/{z}/{x}/{y}.png" \
  "$viewer" "$card" >"$logs/stdout.txt" 2>"$logs/stderr.txt" &
viewer_pid=$!
wait_for_main_window 150
sleep 3

figures() { # label: resident KiB, threads, descriptors
  local rss threads fds
  rss=$(awk '/^VmRSS:/ { print $2 }' "/proc/$viewer_pid/status")
  threads=$(ls "/proc/$viewer_pid/task" | wc -l)
  fds=$(ls "/proc/$viewer_pid/fd" | wc -l)
  printf '%-28s rss %7d KiB  threads %3d  descriptors %3d\n' "$1" "$rss" "$threads" "$fds"
  echo "$rss $threads $fds" >"$logs/figures-$2.txt"
}
figures "before the first recording" idle

# Double-click the first row of the file list; it plays.
xdotool mousemove $((ox + 770 + 4 + 60)) $((oy + 310 + 32 + 20 + 6)); sleep 0.2
xdotool click --repeat 2 --delay 60 1
sleep 1.5
for step in $(seq "$steps"); do
  # Next File on the player panel (at (24, 453); the button at (240, 23)).
  xdotool mousemove $((ox + 24 + 240 + 10)) $((oy + 453 + 23 + 10)) click 1
  sleep 0.7
  kill -0 "$viewer_pid" 2>/dev/null || { echo "the viewer ended at step $step" >&2; exit 1; }
  case "$step" in
    10) sleep 1; figures "after 10 recordings" 10 ;;
    50 | 100 | 150) sleep 1; figures "after $step recordings" "$step" ;;
  esac
done
sleep 1
figures "after $steps recordings" end
# Stop, so that the decode threads of the last recording are gone too.
xdotool mousemove $((ox + 24 + 160 + 10)) $((oy + 453 + 23 + 10)) click 1
sleep 1.5
figures "stopped" stopped
import -window root "$logs/last.png" 2>/dev/null || true
read -r r10 t10 f10 <"$logs/figures-10.txt"
read -r re te fe <"$logs/figures-end.txt"
echo "resident memory after $steps minus after 10: $(( (re - r10) / 1024 )) MiB ($((re - r10)) KiB)"
echo "threads: $t10 -> $te, descriptors: $f10 -> $fe"
echo "screenshot: $logs/last.png, log: $logs/stderr.txt"
