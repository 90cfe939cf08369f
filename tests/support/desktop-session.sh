#!/bin/bash
# Runs a test program on a private desktop of its own: an X server (Xvfb)
# and a session bus with the accessibility bus on it, as a user's desktop
# has them, so that window titles and what assistive technology is told can
# be read for real. Usage: desktop-session.sh PROGRAM [ARGS...]
set -euo pipefail
tmp=$(mktemp -d)
xvfb=
cleanup() {
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
    rm -rf "$tmp"
}
trap cleanup EXIT
Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x1024x24 3>"$tmp/display" 2>"$tmp/xvfb.log" &
xvfb=$!
for _ in $(seq 200); do
    [ -s "$tmp/display" ] && break
    sleep 0.05
done
[ -s "$tmp/display" ] || { echo "Xvfb did not start:" >&2; cat "$tmp/xvfb.log" >&2; exit 1; }
export DISPLAY=":$(tr -d '\n' <"$tmp/display")"
export QT_QPA_PLATFORM=xcb
# Qt's accessibility bridge starts when the accessibility bus is there; a
# desktop switches it on for a screen reader, a test asks for it always.
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
export XDG_RUNTIME_DIR=$tmp
status=0
dbus-run-session -- sh -c '
    dbus-send --session --dest=org.a11y.Bus --print-reply /org/a11y/bus org.a11y.Bus.GetAddress >/dev/null
    exec "$@"' sh "$@" || status=$?
exit $status
