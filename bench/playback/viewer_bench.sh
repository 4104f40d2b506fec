#!/usr/bin/env bash
# The real viewer playing a two-channel 1920 x 1080, 30 fps, ~12 Mbit/s, 60 s
# recording on an X server (Xvfb), against ffmpeg decoding the same two files
# (`ffmpeg -threads 2 -i F -map 0:v -f null -`), both measured in this run.
# CPU comes from /proc/<pid>/stat (user + system, children included for
# ffmpeg), as cores: CPU seconds per second of wall time.
#
#   viewer_bench.sh [--viewer PATH] [--work DIR] [--display :N] [--as-user]
#
#   --viewer   the viewer executable (default: build/bin/korvante beside this tree)
#   --work     folder for the recordings and logs (default /tmp/korvante-viewer-bench);
#              recordings made earlier there are used again
#   --as-user  run the viewer as nobody (setpriv, when started as root), with its own
#              config and runtime folders
#
# Prints: ffmpeg's CPU for both files, the viewer's CPU while playing (the
# same 60 s of video at rate 1.0), its ratio, the viewer's CPU while paused,
# and the frames shown, skipped as late and replaced before a paint.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
viewer="$root/build/bin/korvante"
work=/tmp/korvante-viewer-bench
display=:57
as_user=0
while [ $# -gt 0 ]; do
  case "$1" in
    --viewer) viewer=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    --display) display=$2; shift 2 ;;
    --as-user) as_user=1; shift ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done
[ -x "$viewer" ] || { echo "no viewer at $viewer" >&2; exit 2; }
# Only root can switch users; anyone else runs the viewer as themselves already.
[ "$as_user" = 1 ] && [ "$(id -u)" != 0 ] && as_user=0
for tool in ffmpeg Xvfb xdotool python3; do
  command -v "$tool" >/dev/null || { echo "$tool is needed" >&2; exit 2; }
done
hz=$(getconf CLK_TCK)

# --- recordings: noise on a test pattern gives a real camera's bitrate -------
card="$work/card"
front="$card/NOR/N_20260101_100000_2CH_F.avi"
rear="$card/NOR/N_20260101_100001_2CH_R.avi"
mkdir -p "$card/NOR"
make_one() { # role pattern out
  local raw="$work/$1.h264"
  [ -s "$3" ] && return
  echo "making $3 ..." >&2
  ffmpeg -v error -y -f lavfi -i "$2=size=1920x1080:rate=30" -t 60 -vf "noise=alls=12:allf=t" \
    -c:v libx264 -preset superfast -b:v 12M -maxrate 12M -bufsize 12M -pix_fmt yuv420p \
    -x264-params "aud=1:keyint=30:min-keyint=30:scenecut=0:bframes=0" -f h264 "$raw"
  python3 "$here/hd_recording.py" "$1" "$raw" "$3"
  rm -f "$raw"
}
make_one front testsrc2 "$front"
make_one rear testsrc "$rear"
chmod -R a+rX "$work"

ticks_of() { # pid [children]: utime + stime (+ cutime + cstime)
  awk -v kids="${2:-0}" '{ sub(/^.*\) /, ""); t = $12 + $13; if (kids) t += $14 + $15; print t }' "/proc/$1/stat"
}
now() { date +%s.%N; }
cores() { # ticks seconds
  awk -v t="$1" -v s="$2" -v hz="$hz" 'BEGIN { printf "%.3f", t / hz / s }'
}

# --- reference: ffmpeg decoding both files, one after the other ---------------
read -r ref_cpu ref_wall < <(python3 - "$front" "$rear" <<'PY'
import resource, subprocess, sys, time
t = time.monotonic()
for f in sys.argv[1:]:
    subprocess.run(["ffmpeg", "-v", "error", "-threads", "2", "-i", f, "-map", "0:v", "-f", "null", "-"], check=True)
u = resource.getrusage(resource.RUSAGE_CHILDREN)
print(f"{u.ru_utime + u.ru_stime:.2f} {time.monotonic() - t:.2f}")
PY
)
# Decoding 60 s of two channels costs ref_cpu CPU seconds: per second of video,
ref_rate=$(awk -v c="$ref_cpu" 'BEGIN { printf "%.3f", c / 60 }')

# --- the viewer under Xvfb --------------------------------------------------
# Xvfb, the map's loopback listener, the viewer's folders and their cleanup.
source "$here/../viewer_session.sh"
run_env=(env DISPLAY="$display" XDG_CONFIG_HOME="$logs/config" XDG_RUNTIME_DIR="$logs/runtime" KORVANTE_DEBUG=1
         KORVANTE_MAP_PROBE="127.0.0.1:$port" KORVANTE_MAP_TILES="http://127.0.0.1:$port/{z}/{x}/{y}.png")
if [ "$as_user" = 1 ]; then
  chown -R 65534:65534 "$logs"
  setpriv --reuid 65534 --regid 65534 --clear-groups "${run_env[@]}" "$viewer" "$card" \
    >"$logs/stdout.txt" 2>"$logs/stderr.txt" &
else
  "${run_env[@]}" "$viewer" "$card" >"$logs/stdout.txt" 2>"$logs/stderr.txt" &
fi
viewer_pid=$!
wait_for_main_window 100
sleep 2
idle0=$(ticks_of $viewer_pid); ti0=$(now)
sleep 5
idle1=$(ticks_of $viewer_pid); ti1=$(now)

# Double-click the first row of the file list; the recording plays.
xdotool mousemove $((ox + 770 + 4 + 60)) $((oy + 310 + 32 + 20 + 6)); sleep 0.2
xdotool click --repeat 2 --delay 60 1
sleep 3
p0=$(ticks_of $viewer_pid); tp0=$(now)
sleep 30
p1=$(ticks_of $viewer_pid); tp1=$(now)
import -window root "$logs/playing.png" 2>/dev/null || true

# Pause with the Play button (the player panel at (24, 453), Play at (120, 23)).
xdotool mousemove $((ox + 24 + 130)) $((oy + 453 + 33)); sleep 0.5
xdotool click 1
sleep 3
import -window root "$logs/paused.png" 2>/dev/null || true
q0=$(ticks_of $viewer_pid); tq0=$(now)
sleep 10
q1=$(ticks_of $viewer_pid); tq1=$(now)
xdotool click 1 # play on to the end; the last row stops there and logs its frame counts
for _ in $(seq 90); do
  grep -q "frames shown" "$logs/stderr.txt" && break
  sleep 1
done
kill -TERM "$viewer_pid" 2>/dev/null || true
wait "$viewer_pid" 2>/dev/null || true
viewer_pid=""

span() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }
play_cores=$(cores $((p1 - p0)) "$(span "$tp0" "$tp1")")
pause_cores=$(cores $((q1 - q0)) "$(span "$tq0" "$tq1")")
idle_cores=$(cores $((idle1 - idle0)) "$(span "$ti0" "$ti1")")
ratio=$(awk -v v="$play_cores" -v r="$ref_rate" 'BEGIN { printf "%.2f", v / r }')

echo "recordings: 2 x 1920x1080 30 fps, $(du -m "$front" | cut -f1) MB + $(du -m "$rear" | cut -f1) MB, 60 s"
echo "ffmpeg -threads 2 (both files): $ref_cpu CPU s in $ref_wall s wall = $ref_rate cores per second of video"
echo "viewer playing (30 s at rate 1.0): $play_cores cores  -> ${ratio} x ffmpeg (target <= 1.5)"
echo "viewer paused (10 s): $pause_cores cores (target < 0.02)"
echo "viewer idle before playing (5 s): $idle_cores cores"
grep -h "frames shown" "$logs/stderr.txt" | sed 's/^/viewer: /' || echo "viewer: no frame counts logged"
[ "$as_user" = 1 ] && echo "(the viewer ran as uid 65534)"
echo "screenshots: $logs/playing.png, $logs/paused.png"
