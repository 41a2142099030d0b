#!/usr/bin/env bash
# Remakes docs/screenshot.png: the app on a virtual display with the sample
# archive open, a dictionary entry current and one of its textures shown.
# Needs a built app (make build) and Xvfb, xdotool and ImageMagick's import
# (scripts/install-deps.sh installs them).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD:-build}
out=${1:-docs/screenshot.png}
"$build/quarnix-tool" sample "$build/sample" >/dev/null
mkdir -p "$(dirname "$out")"
export QX_SHOT_OUT=$PWD/$out QX_SHOT_APP=$PWD/$build/quarnix QX_SHOT_DIR=$PWD/$build/sample
xvfb-run -a -s "-screen 0 1024x700x24" bash -c '
  set -e
  "$QX_SHOT_APP" "$QX_SHOT_DIR/sample.dir" &
  app=$!
  trap "kill $app 2>/dev/null" EXIT
  for _ in $(seq 1 50); do
    win=$(xdotool search --name "Quarnix Pre-Alpha2" 2>/dev/null | head -1) && [ -n "$win" ] && break
    sleep 0.2
  done
  [ -n "$win" ] || { echo "the app did not show its window" >&2; exit 1; }
  sleep 1
  eval "$(xdotool getwindowgeometry --shell "$win")"
  # The window opens centred at 715 x 468: click the fourth entry
  # (Landscape.TXD), then the first texture of its list.
  xdotool mousemove $((X + 100)) $((Y + 100)) click 1
  sleep 0.5
  xdotool mousemove $((X + 330)) $((Y + 52)) click 1
  sleep 0.5
  xdotool mousemove $((X + 700)) $((Y + 20))
  sleep 0.5
  import -window "$win" "$QX_SHOT_OUT"
'
echo "$out"
