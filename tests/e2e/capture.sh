#!/usr/bin/env bash
# Runs inside xvfb-run: starts the viewer with the environment it was given,
# takes two screenshots of the whole X screen one second apart, then lets the
# viewer close itself. Usage: capture.sh VIEWER OUTDIR [FIRST_DELAY_S]
set -u
viewer="$1"
out="$2"
delay="${3:-3}"
"$viewer" >"$out/stdout.txt" 2>"$out/stderr.txt" &
pid=$!
sleep "$delay"
import -window root "$out/shot1.png"
sleep 1
import -window root "$out/shot2.png"
kill "$pid" 2>/dev/null
wait "$pid" 2>/dev/null
exit 0
