# Sourced by the benchmarks that run the real viewer (with $work and $display
# set): folders for the viewer's configuration and runtime under $work/logs,
# an Xvfb on $display, a loopback listener for the map's connectivity check
# and tiles on $port, and a cleanup on exit that stops them and the viewer
# whose process id the benchmark keeps in $viewer_pid; wait_for_main_window
# reads where the started viewer put its main window.
logs="$work/logs"
rm -rf "$logs"
mkdir -p "$logs/config" "$logs/runtime"
chmod 700 "$logs/runtime"
Xvfb "$display" -screen 0 1600x1000x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
viewer_pid=""
cleanup() {
  [ -n "$viewer_pid" ] && kill "$viewer_pid" 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
  [ -n "${tiles:-}" ] && kill "$tiles" 2>/dev/null || true
  wait 2>/dev/null || true
}
trap cleanup EXIT
port=$((20000 + RANDOM % 20000))
python3 -m http.server --bind 127.0.0.1 "$port" >/dev/null 2>&1 &
tiles=$!
sleep 1
export DISPLAY=$display

# wait_for_main_window TRIES: waits (0.2 s a try) for the viewer's "main
# window shown at X,Y" line in $logs/stderr.txt and sets ox and oy from it;
# ends the benchmark when it never comes.
wait_for_main_window() {
  local origin=""
  for _ in $(seq "$1"); do
    origin=$(sed -n 's/.*main window shown at \(-\?[0-9]\+\),\(-\?[0-9]\+\).*/\1 \2/p' "$logs/stderr.txt" | head -1)
    [ -n "$origin" ] && break
    sleep 0.2
  done
  [ -n "$origin" ] || { echo "the main window never showed" >&2; cat "$logs/stderr.txt" >&2; exit 1; }
  read -r ox oy <<<"$origin"
}
