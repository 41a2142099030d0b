#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Remakes docs/screenshot.png: the app on a virtual display with the sample
# archive open, a dictionary entry current and one of its textures shown;
# and docs/screenshot-layouts.png: the sample's sectioned dictionary
# (Layouts.txd) with its last texture, a DXT5 one whose sky fades out, shown
# at 200% over the checkerboard of its alpha. The display is 1600 x 1000, so the
# window opens at two thirds of its height (1019 x 667) with its status bar.
# Needs a built app (make build) and Xvfb, xdotool and ImageMagick's import
# (scripts/install-deps.sh installs them).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD:-build}
"$build/quarnix-tool" sample "$build/sample" >/dev/null
mkdir -p docs
# shot OUT ENTRY_Y TEXTURE_Y [KEYS]: clicks the entry row at ENTRY_Y and, when
# TEXTURE_Y is not 0, the texture row at TEXTURE_Y (window coordinates), then
# presses KEYS (xdotool key names).
shot() {
export QX_SHOT_OUT=$PWD/$1 QX_SHOT_ENTRY_Y=$2 QX_SHOT_TEXTURE_Y=$3 QX_SHOT_KEYS=${4:-}
export QX_SHOT_APP=$PWD/$build/quarnix QX_SHOT_DIR=$PWD/$build/sample
xvfb-run -a -s "-screen 0 1600x1000x24" bash -c '
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
  # Entry rows are 16 pixels apart; the lists start below the toolbar.
  # "Alpha" (off at start) turned on: the toolbar button at x = 390.
  xdotool mousemove $((X + 390)) $((Y + 13)) click 1
  sleep 0.3
  xdotool mousemove $((X + 100)) $((Y + QX_SHOT_ENTRY_Y)) click 1
  sleep 0.5
  if [ "$QX_SHOT_TEXTURE_Y" != 0 ]; then
    xdotool mousemove $((X + 330)) $((Y + QX_SHOT_TEXTURE_Y)) click 1
    sleep 0.5
  fi
  if [ -n "$QX_SHOT_KEYS" ]; then
    xdotool key --window "$win" $QX_SHOT_KEYS
    sleep 0.5
  fi
  xdotool mousemove $((X + WIDTH - 10)) $((Y + HEIGHT - 5))
  sleep 0.5
  import -window "$win" "$QX_SHOT_OUT"
'
echo "$1"
}
# The fourth entry (Landscape.TXD) and the first texture of its list; the
# seventh entry (Layouts.txd) with its last texture current, zoomed in once.
shot docs/screenshot.png 100 52
shot docs/screenshot-layouts.png 148 0 ctrl+plus
