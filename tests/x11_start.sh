#!/bin/sh
# Started under a real X server with a picture, as from a desktop: the
# picture reaches the screen, and, where dbus-launch is not installed, the
# start does not look for it (with no bus named, Qt's accessibility bridge
# would have libdbus search PATH for it).
# Usage: x11_start.sh VIEWER
set -u
viewer=$1
command -v Xvfb >/dev/null && command -v import >/dev/null || { echo "Xvfb or ImageMagick missing"; exit 77; }

work=$(mktemp -d)
xvfb=
app=
end() {
    [ -n "$app" ] && kill "$app" 2>/dev/null
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap end EXIT

# A stand-in for dbus-launch that only says it was run.
mkdir "$work/bin"
printf '#!/bin/sh\ntouch "%s/launched"\nexit 1\n' "$work" >"$work/bin/dbus-launch"
chmod +x "$work/bin/dbus-launch"
mkdir "$work/pictures"
convert -size 800x600 xc:'#c03090' -quality 95 "$work/pictures/magenta.jpg" || exit 1

# -noreset: the server resets when its last client leaves (each screen grab
# below is a client), and a viewer connecting meanwhile is turned away; in
# five runs of a hundred, before it had connected.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$work/display" 2>/dev/null &
xvfb=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "Xvfb did not start"; exit 1; }
display=:$(cat "$work/display")

env -u DBUS_SESSION_BUS_ADDRESS -u XDG_RUNTIME_DIR -u QT_QPA_PLATFORM -u WAYLAND_DISPLAY \
    DISPLAY="$display" PATH="$work/bin:$PATH" "$viewer" "$work/pictures/magenta.jpg" 2>"$work/stderr" &
app=$!

# The picture window covers the middle of the frame.
shown=
for _ in $(seq 200); do
    pixel=$(import -display "$display" -window root -crop 1x1+640+512 -depth 8 txt:- 2>/dev/null | tail -n 1 |
        sed -n 's/^[^(]*(\([0-9]*\),\([0-9]*\),\([0-9]*\).*/\1 \2 \3/p')
    set -- $pixel
    if [ $# -eq 3 ] && [ "$1" -gt 170 ] && [ "$2" -lt 70 ] && [ "$3" -gt 120 ] && [ "$3" -lt 170 ]; then
        shown=yes
        break
    fi
    kill -0 "$app" 2>/dev/null || break
    sleep 0.1
done
if [ -z "$shown" ]; then
    echo "the picture did not reach the screen; at the middle: $pixel"
    kill -0 "$app" 2>/dev/null && echo "the viewer is still running" || echo "the viewer has ended"
    tail -n 20 "$work/stderr"
    exit 1
fi
if [ -e /usr/bin/dbus-launch ]; then
    echo "picture shown; dbus-launch is installed, so the viewer may use it"
    exit 0
fi
[ ! -e "$work/launched" ] || { echo "dbus-launch was looked for"; exit 1; }
echo "picture shown; dbus-launch not looked for"
