#!/usr/bin/env bash
# Continuous playback through a trip of camera-like recordings (1920x1080 at
# 30 fps front and rear, about 12 Mbit/s, B-frames, frame codes), played by
# the real engine as a user who is not root (uid 65534 when run as root).
#   bench/trip/trip_bench.sh BUILD [--card DIR] [--count N]
# The card is written once with korvante-mkcard into /tmp/korvante-trip-card
# (two recordings per kind, one drive: KORVANTE_TRIP_SECONDS each, default 20;
# 60 s recordings take the sample tool about three times as long to write).
set -euo pipefail
BUILD="$1"; shift
CARD=/tmp/korvante-trip-card
COUNT=5
while [ $# -gt 0 ]; do
  case "$1" in
    --card) CARD="$2"; shift 2 ;;
    --count) COUNT="$2"; shift 2 ;;
    *) echo "trip_bench.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done
SECONDS_EACH="${KORVANTE_TRIP_SECONDS:-20}"
if [ ! -d "$CARD/NOR" ]; then
  echo "writing $CARD: 8 recordings of ${SECONDS_EACH} s, 1080p front and rear (this takes a while)"
  "$BUILD/bin/korvante-mkcard" --folder "$CARD" --per-kind 2 --seconds "$SECONDS_EACH" --size 1920x1080 \
    --rear-size 1920x1080 --fps 30 --encoding camera --audio aac --channels 2 --seed 9 >/dev/null
fi
chmod -R a+rX "$CARD"
du -sh "$CARD" | sed 's/^/card size: /'
if [ "$(id -u)" = 0 ]; then
  home="$(mktemp -d /tmp/korvante-trip-bench.XXXXXX)"
  chown 65534:65534 "$home"
  trap 'rm -rf "$home"' EXIT
  setpriv --reuid 65534 --regid 65534 --clear-groups env HOME="$home" QT_QPA_PLATFORM=offscreen \
    "$BUILD/bin/korvante-bench-trip" --card "$CARD" --count "$COUNT"
else
  QT_QPA_PLATFORM=offscreen "$BUILD/bin/korvante-bench-trip" --card "$CARD" --count "$COUNT"
fi
