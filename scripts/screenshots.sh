#!/bin/bash
# Starts the real program under a virtual X display and saves a PNG of each
# page: Send Mail, Get Mail, Connect To.
#   scripts/screenshots.sh [BUILD_DIR] [OUT_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:-$here/build}")
out=${2:-$here/build/screenshots}
mkdir -p "$out"
out=$(realpath "$out")

for tool in Xvfb xdotool import; do
    command -v "$tool" >/dev/null || { echo "missing $tool: run scripts/deps.sh" >&2; exit 1; }
done

display=:$((90 + RANDOM % 50))
Xvfb "$display" -screen 0 1024x768x24 -dpi 96 -nolisten tcp &
xvfb=$!
workdir=$(mktemp -d)
cleanup() {
    [ -n "${app:-}" ] && kill "$app" 2>/dev/null || true
    kill "$xvfb" 2>/dev/null || true
    rm -rf "$workdir"
}
trap cleanup EXIT
export DISPLAY=$display
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

# Run in an empty folder so no settings file of the user's is read.
(cd "$workdir" && exec "$build/src/main/orvmail") &
app=$!
win=
for _ in $(seq 100); do
    win=$(xdotool search --onlyvisible --name '^Orvanta Mail$' 2>/dev/null | head -1) && [ -n "$win" ] && break
    sleep 0.1
done
[ -n "$win" ] || { echo "window did not appear" >&2; exit 1; }
xdotool windowfocus --sync "$win" 2>/dev/null || xdotool windowfocus "$win"
sleep 0.5

i=1
for page in send-mail get-mail connect-to; do
    import -window "$win" "$out/$i-$page.png"
    echo "$out/$i-$page.png"
    xdotool key --window "$win" ctrl+Tab
    sleep 0.4
    i=$((i + 1))
done
