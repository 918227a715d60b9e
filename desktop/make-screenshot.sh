#!/usr/bin/env bash
# Takes the screenshot the metainfo shows: the real main window on a
# 1200 x 800 X server (Xvfb), showing a photo zoomed in twice.
#   desktop/make-screenshot.sh [viewer]        (default: build/vellupix)
# Needs xvfb, xdotool and imagemagick; rewrites
# desktop/screenshots/main-window.png, which is kept in the repository.
set -euo pipefail
cd "$(dirname "$0")/.."
viewer=$(realpath "${1:-build/vellupix}")
# A real photo whose licence lets the screenshot be published (see
# desktop/copyright), put in a folder of its own so the status bar reads well.
photo=$(realpath ../shared/testdata/jpeg/pillow/good/flower2.jpg)
out=$PWD/desktop/screenshots/main-window.png
# A fixed folder, so that the status bar shows the same path every time.
work=/tmp/vellupix-screenshot
rm -rf "$work"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/Pictures" "$(dirname "$out")"
cp "$photo" "$work/Pictures/heather.jpg"

export VIEWER=$viewer WORK=$work
xvfb-run -a -s '-screen 0 1200x800x24' bash -c '
    set -e
    cd "$WORK/Pictures"
    QT_SCALE_FACTOR=1 "$VIEWER" heather.jpg &
    pid=$!
    window=$(xdotool search --sync --onlyvisible --name "^Vellupix" | head -n 1)
    sleep 7 # the About window greets for six seconds
    xdotool windowfocus --sync "$window" key ctrl+i ctrl+i
    sleep 1
    import -window root "$WORK/shot.png"
    kill "$pid"
'
# No time stamps or other chunks: the same pixels make the same file.
convert "$work/shot.png" -strip "$out"
echo "wrote $out"
