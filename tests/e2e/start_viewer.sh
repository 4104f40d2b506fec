# Sourced by the end-to-end scripts: start_viewer OUTDIR VIEWER [ARG…] starts
# the viewer with its output in OUTDIR, ends it when the script exits, waits
# for the main window and sets ox and oy to its top-left corner (also written
# to OUTDIR/origin.txt). Exits the script when the window never shows.
start_viewer() {
  local out="$1"
  shift
  "$@" >"$out/stdout.txt" 2>"$out/stderr.txt" &
  pid=$!
  trap 'kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null' EXIT
  local origin=""
  for _ in $(seq 100); do
    origin=$(sed -n 's/.*main window shown at \(-\?[0-9]\+\),\(-\?[0-9]\+\).*/\1 \2/p' "$out/stderr.txt" | head -1)
    [ -n "$origin" ] && break
    sleep 0.2
  done
  [ -n "$origin" ] || { echo "the main window never showed" >&2; exit 1; }
  read -r ox oy <<<"$origin"
  echo "$ox $oy" >"$out/origin.txt"
}
