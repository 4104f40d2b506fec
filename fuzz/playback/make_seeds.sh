#!/usr/bin/env bash
# Writes the seeds of stream_fuzz and export_fuzz with the project's own tools:
# recordings from korvante-mkcard (0.4 s, 160 x 120, 5 fps), finished and cut
# off by a power loss, with AAC and PCM sound, as plain files and as card files
# read out of a card image by export_fuzz_seeds; each shrunk to a few KB by
# shrink_recording.py (every chunk cut to its first bytes).
#   make_seeds.sh <korvante-mkcard> <export_fuzz_seeds> <stream output> <export output>
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
mkcard=$1
extract=$2
stream=$3
export_out=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$stream" "$export_out" "$work/export"
common=(--per-kind 1 --seconds 0.4 --size 160x120 --fps 5)
"$mkcard" --folder "$work/aac" "${common[@]}" --audio aac --channels 2 --seed 1 >/dev/null
"$mkcard" --folder "$work/cut" "${common[@]}" --audio aac --channels 2 --unfinished 1 --seed 2 >/dev/null
"$mkcard" --folder "$work/pcm" "${common[@]}" --audio pcm --channels 1 --seed 3 >/dev/null
"$mkcard" --image "$work/card.img" "${common[@]}" --audio pcm --channels 2 --seed 4 >/dev/null
"$mkcard" --image "$work/cut.img" "${common[@]}" --audio aac --channels 2 --unfinished 1 --seed 5 >/dev/null
for f in "$work"/aac/NOR/*.avi "$work"/cut/EVT/*.avi "$work"/pcm/MAN/*.avi; do
  card=$(basename "$(dirname "$(dirname "$f")")")
  python3 "$here/shrink_recording.py" "$f" "$stream/$card-$(basename "$f")"
done
"$extract" "$work/card.img" "$work/export"
mv "$work/export/NOR.rec" "$work/export/finished.rec"
"$extract" "$work/cut.img" "$work/export"
mv "$work/export/NOR.rec" "$work/export/unfinished.rec"
for f in "$work/export/finished.rec" "$work/export/unfinished.rec"; do
  python3 "$here/shrink_recording.py" --skip 1 "$f" "$export_out/$(basename "$f")"
  # The filter opens card recordings alike: the same bytes without the block-size byte.
  tail -c +2 "$export_out/$(basename "$f")" >"$stream/card-$(basename "$f")"
done
ls -l "$stream" "$export_out"
