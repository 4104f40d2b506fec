#!/usr/bin/env bash
# Start-up: the time from starting the process to its main window shown, for
# the real viewer and for a bare Qt program that shows one window of the same
# size (korvante-bench-bare-window), both under one Xvfb, taken in turns so
# that both see the same load. "Shown" is the line each prints right after
# show() ("main window shown at X,Y"; the viewer's with KORVANTE_DEBUG=1).
# The output is polled every 5 ms; each figure is the median of the runs.
#
#   startup_bench.sh [--viewer PATH] [--bare PATH] [--runs N] [--display :N]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
viewer="$root/build/bin/korvante"
bare="$root/build/bin/korvante-bench-bare-window"
runs=7
display=:59
while [ $# -gt 0 ]; do
  case "$1" in
    --viewer) viewer=$2; shift 2 ;;
    --bare) bare=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --display) display=$2; shift 2 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done
[ -x "$viewer" ] && [ -x "$bare" ] || { echo "no viewer or bare window at $viewer, $bare" >&2; exit 2; }
command -v Xvfb >/dev/null || { echo "Xvfb is needed" >&2; exit 2; }

work=$(mktemp -d /tmp/korvante-startup-XXXXXX)
Xvfb "$display" -screen 0 1600x1000x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
pid=""
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
sleep 1
export DISPLAY=$display

# one_run OUT PROGRAM…: milliseconds from the start to the line, on stdout.
one_run() {
  local out=$1
  shift
  rm -rf "$work/config" "$work/runtime"
  mkdir -p "$work/config" "$work/runtime"
  chmod 700 "$work/runtime"
  local t0 t1
  t0=$(date +%s%N)
  env XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime" KORVANTE_DEBUG=1 \
    KORVANTE_MAP_PROBE=127.0.0.1:9 "$@" >/dev/null 2>"$out" &
  pid=$!
  for _ in $(seq 6000); do
    grep -q "main window shown" "$out" && break
    sleep 0.005
  done
  t1=$(date +%s%N)
  grep -q "main window shown" "$out" || { echo "no window from $*" >&2; cat "$out" >&2; exit 1; }
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  pid=""
  sleep 0.5
  echo $(( (t1 - t0) / 1000000 ))
}
median() { sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }

one_run "$work/warm.txt" "$viewer" >/dev/null # fills the file cache for both
one_run "$work/warm.txt" "$bare" >/dev/null
: >"$work/viewer.ms"
: >"$work/bare.ms"
for _ in $(seq "$runs"); do
  one_run "$work/bare.txt" "$bare" >>"$work/bare.ms"
  one_run "$work/viewer.txt" "$viewer" >>"$work/viewer.ms"
done
b=$(median <"$work/bare.ms")
v=$(median <"$work/viewer.ms")
echo "bare Qt window: median $b ms of $runs runs ($(tr '\n' ' ' <"$work/bare.ms"))"
echo "viewer:         median $v ms of $runs runs ($(tr '\n' ' ' <"$work/viewer.ms"))"
awk -v v="$v" -v b="$b" 'BEGIN { printf "ratio: %.2f x the bare window (aim: at most 1.5)\n", v / b }'
# The viewer's main window is shown by a one-shot timer 100 ms after it has
# been made, a wait the bare window does not have; the rest is the viewer's.
awk -v v="$v" -v b="$b" 'BEGIN { printf "without the 100 ms show timer: %d ms = %.2f x the bare window\n", v - 100, (v - 100) / b }'
