# Sourced by the benchmarks that read the real viewer's screens (DISPLAY set).
# viewer_window WxH: prints "X Y", where the viewer's visible window of that
# size lies on the root window (its panels have sizes of their own: the front
# screen 745x419, the rear 390x219, the player 730x50, the file list 315x470);
# nothing when there is none yet.
viewer_window() {
  local w g
  for w in $(xdotool search --onlyvisible --name '' 2>/dev/null); do
    g=$(xdotool getwindowgeometry "$w" 2>/dev/null) || continue
    if grep -q "Geometry: $1" <<<"$g"; then
      sed -n 's/.*Position: \([0-9]*\),\([0-9]*\).*/\1 \2/p' <<<"$g"
      return
    fi
  done
}
