#!/usr/bin/env bash
# The clip export against ffmpeg: 60 s of two 1080p channels side by side with
# the overlay band, through `korvante-cli clip`, and the equivalent ffmpeg
# command (the rear stacked to the right, a text band drawn at the bottom,
# libx264 with the same preset and bitrate, AAC, index at the front), timed in
# the same run, alternately. Prints each time and the speed ratio (ffmpeg's
# time / ours: 1.0 is as fast as ffmpeg).
#   bench/clip/clip_bench.sh BUILD_DIR [RUNS]
set -euo pipefail
BUILD="$1"
RUNS="${2:-1}"
CARD=/tmp/korvante-clip-bench-card
OUT="$(mktemp -d)"
trap 'rm -rf "$OUT"' EXIT

if [ ! -f "$CARD/NOR/N_20120305_142233_2CH_F.avi" ]; then
  echo "making the camera-like card (2 x 1080p, 60 s a recording) in $CARD ..."
  rm -rf "$CARD"
  "$BUILD/bin/korvante-mkcard" --folder "$CARD" --per-kind 1 --seconds 60 --size 1920x1080 \
    --encoding camera --audio aac --channels 2 --seed 1 >/dev/null
fi
FRONT="$CARD/NOR/N_20120305_142233_2CH_F.avi"
REAR="$(ls "$CARD"/NOR/N_20120305_1422*_2CH_R.avi | head -n 1)"
FROM="2012-03-05 14:22:33"
TO="2012-03-05 14:23:33"

now() { date +%s.%N; }
ours_best=""; ffmpeg_best=""
for run in $(seq 1 "$RUNS"); do
  rm -f "$OUT"/*
  t0=$(now)
  "$BUILD/bin/korvante-cli" clip --from "$FROM" --to "$TO" --layout side --overlay --out "$OUT/ours.mp4" \
    --drive "$CARD" >/dev/null
  t1=$(now)
  ours=$(echo "$t1 - $t0" | bc -l)
  # The same encoder settings as the clip: its evidence names them.
  bitrate=$(sed -n 's/.*"videoBitRate": \([0-9]*\).*/\1/p' "$OUT/ours.mp4.evidence.json")
  preset=$(sed -n 's/.*"encoder": "libx264 \([a-z]*\)".*/\1/p' "$OUT/ours.mp4.evidence.json")
  t0=$(now)
  ffmpeg -v error -y -i "$FRONT" -i "$REAR" -filter_complex \
    "[1:v]scale=-2:1080[r];[0:v][r]hstack=inputs=2,drawbox=y=ih-52:w=iw:h=52:color=black@0.7:t=fill,drawtext=font=monospace:fontsize=28:fontcolor=white:x=48:y=h-40:text='%{pts\\:gmtime\\:1330957353}   88 km/h   1.02 g   37.566120, 126.978000'[v]" \
    -map "[v]" -map 0:a -c:v libx264 -preset "$preset" -b:v "$bitrate" -c:a aac -b:a 64k \
    -movflags +faststart "$OUT/ffmpeg.mp4"
  t1=$(now)
  ref=$(echo "$t1 - $t0" | bc -l)
  printf 'run %d: korvante-cli clip %.1f s, ffmpeg %.1f s\n' "$run" "$ours" "$ref"
  if [ -z "$ours_best" ] || [ "$(echo "$ours < $ours_best" | bc -l)" = 1 ]; then ours_best=$ours; fi
  if [ -z "$ffmpeg_best" ] || [ "$(echo "$ref < $ffmpeg_best" | bc -l)" = 1 ]; then ffmpeg_best=$ref; fi
done
frames=$(ffprobe -v error -select_streams v:0 -count_packets -show_entries stream=nb_read_packets -of csv=p=0 "$OUT/ours.mp4")
size=$(ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=s=x:p=0 "$OUT/ours.mp4")
ffmpeg -v error -i "$OUT/ours.mp4" -f null - && echo "clip decodes cleanly: $frames pictures of $size, ${bitrate} bit/s, preset $preset"
"$BUILD/bin/korvante-cli" verify "$OUT/ours.mp4.evidence.json" | sed 's/^/verify: /'
printf 'best of %d: korvante-cli clip %.1f s (%.1f pictures/s), ffmpeg %.1f s: %.2f x ffmpeg'"'"'s speed\n' "$RUNS" \
  "$ours_best" "$(echo "$frames / $ours_best" | bc -l)" "$ffmpeg_best" "$(echo "$ffmpeg_best / $ours_best" | bc -l)"
