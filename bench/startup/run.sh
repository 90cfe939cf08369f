#!/bin/bash
# Start-up benchmark: time from process start to the window first mapped, and
# peak memory, of the mail window beside a bare Qt window, on a private Xvfb.
#
#   bench/startup/run.sh [--write] [--runs N] [--warmup N] [--no-session-bus]
#                        [--extra 'LABEL=[NAME=VALUE...] PROGRAM [ARGS...]']... [BUILD_DIR]
#
# BUILD_DIR (default: build/) must hold src/main/orvmail and, from this
# folder's CMakeLists.txt, bench/startup/{startmap,barewindow,plainwindow};
# missing ones are built there. The mail window is compared with the plain
# Qt window holding the same widgets (the aim), and with the bare one. --extra adds programs to the same interleaved series, e.g.
# variants of the mail window that leave one start-up step out. --write puts
# the figures in the "## Start-up" section of docs/PERFORMANCE.md. A private
# session bus stands in for a desktop's, as Qt asks it about accessibility at
# start; --no-session-bus leaves it out.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
invocation="bench/startup/run.sh$(printf ' %q' "$@")"

runs=15
warmup=2
write=
session_bus=1
build=
extras=()
aim_ms=5
aim_mib=3
heading="## Start-up"

die() { echo "run.sh: $*" >&2; exit 2; }
count_arg() { [[ $2 =~ ^[0-9]+$ ]] || die "$1 needs a whole number, not '$2'"; }

while [ $# -gt 0 ]; do
    case "$1" in
        --write) write=1; shift ;;
        --no-session-bus) session_bus=; shift ;;
        --runs) [ $# -ge 2 ] || die "--runs needs a value"; count_arg "$1" "$2"; runs=$2; shift 2 ;;
        --warmup) [ $# -ge 2 ] || die "--warmup needs a value"; count_arg "$1" "$2"; warmup=$2; shift 2 ;;
        --extra) [ $# -ge 2 ] || die "--extra needs a value"; extras+=("$2"); shift 2 ;;
        -h|--help) sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        -*) die "unknown option $1" ;;
        *) [ -z "$build" ] || die "only one BUILD_DIR"; build=$1; shift ;;
    esac
done
[ "$runs" -ge 1 ] || die "--runs must be at least 1"
build=$(cd "${build:-$repo/build}" 2>/dev/null && pwd) || die "no build folder ${build:-$repo/build}"

startmap=$build/bench/startup/startmap
bare=$build/bench/startup/barewindow
plain=$build/bench/startup/plainwindow
orvmail=$build/src/main/orvmail
if [ ! -x "$startmap" ] || [ ! -x "$bare" ] || [ ! -x "$plain" ] || [ ! -x "$orvmail" ]; then
    echo "building the missing programs in $build" >&2
    # A build folder configured before this benchmark existed has no targets
    # for it yet.
    cmake "$build" >/dev/null || die "could not configure $build"
    cmake --build "$build" --target startmap barewindow plainwindow orvmail -j"$(nproc)" >&2 \
        || die "could not build them (startmap needs libx11-dev: scripts/deps.sh bench)"
fi
command -v Xvfb >/dev/null || die "Xvfb is missing (scripts/deps.sh bench)"

# Labels and commands of the programs in the series: the bare window, then
# the yardstick the others are held to, then ours.
bare_label="bare Qt window"
plain_label="plain Qt window, same widgets"
labels=("$bare_label" "$plain_label" "orvmail")
commands=("$bare" "$plain" "$orvmail")
for extra in "${extras[@]}"; do
    [[ $extra == *=* ]] || die "--extra wants LABEL=COMMAND, not '$extra'"
    label=${extra%%=*}
    [ -n "$label" ] && [[ $label != *$'\t'* ]] || die "bad label in --extra '$extra'"
    labels+=("$label")
    commands+=("${extra#*=}")
done

tmp=$(mktemp -d /tmp/startup-bench.XXXXXX)
xvfb_pid=
bus_pid=
cleanup() {
    if [ -n "$bus_pid" ]; then
        kill "$bus_pid" 2>/dev/null || true
        wait "$bus_pid" 2>/dev/null || true
    fi
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
    rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# A display nobody else uses: no lock file and no socket.
display=
for n in $(seq 90 189); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
    Xvfb ":$n" -screen 0 1024x768x24 -dpi 96 -nolisten tcp >"$tmp/xvfb.log" 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 100); do
        [ -S "/tmp/.X11-unix/X$n" ] && break
        kill -0 "$xvfb_pid" 2>/dev/null || break
        sleep 0.05
    done
    if [ -S "/tmp/.X11-unix/X$n" ] && kill -0 "$xvfb_pid" 2>/dev/null; then
        display=:$n
        break
    fi
    # Lost a race for this number, or the server failed: try the next one.
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=
done
[ -n "$display" ] || { cat "$tmp/xvfb.log" >&2; die "could not start Xvfb"; }

# The same surroundings for every program: this display only, a private
# runtime folder, our own session bus or none.
mkdir -m 700 "$tmp/runtime"
export DISPLAY=$display XDG_RUNTIME_DIR=$tmp/runtime
unset DBUS_SESSION_BUS_ADDRESS SESSION_MANAGER WAYLAND_DISPLAY
bus_note="no session bus"
if [ -n "$session_bus" ]; then
    command -v dbus-daemon >/dev/null || die "dbus-daemon is missing (or use --no-session-bus)"
    dbus-daemon --session --nofork --nopidfile --address="unix:path=$tmp/bus" >"$tmp/bus.log" 2>&1 &
    bus_pid=$!
    for _ in $(seq 100); do
        [ -S "$tmp/bus" ] && break
        kill -0 "$bus_pid" 2>/dev/null || break
        sleep 0.05
    done
    [ -S "$tmp/bus" ] || { cat "$tmp/bus.log" >&2; die "could not start a session bus"; }
    export DBUS_SESSION_BUS_ADDRESS=unix:path=$tmp/bus
    bus_note="a private session bus"
fi

measure() { # index round
    local label=${labels[$1]} words=() envs=() out
    read -r -a words <<<"${commands[$1]}"
    # Leading NAME=VALUE words are settings for the program, not the program.
    while [ ${#words[@]} -gt 1 ] && [[ ${words[0]} =~ ^[A-Za-z_][A-Za-z0-9_]*= ]]; do
        envs+=(--env "${words[0]}")
        words=("${words[@]:1}")
    done
    if ! out=$("$startmap" "${envs[@]}" -- "${words[@]}" 2>"$tmp/err"); then
        cat "$tmp/err" >&2
        die "measuring '$label' failed in round $2"
    fi
    [[ $out =~ map_ms=([0-9.]+)\ maxrss_kib=([0-9]+) ]] || die "unexpected launcher output: $out"
    if [ "$2" -gt "$warmup" ]; then
        printf '%s\t%s\t%s\t%s\n' "$1" "$label" "${BASH_REMATCH[1]}" "${BASH_REMATCH[2]}" >>"$tmp/results"
    fi
}

# Other work on the machine skews the figures: note how busy it was.
load_before=$(cut -d' ' -f1 /proc/loadavg)
echo "display $display, $bus_note; $warmup warm-up + $runs measured rounds of ${#labels[@]} programs" >&2
total=$((warmup + runs))
for ((round = 1; round <= total; round++)); do
    # Alternate the order so that neither program always follows the other.
    if ((round % 2)); then
        for ((i = 0; i < ${#labels[@]}; i++)); do measure "$i" "$round"; done
    else
        for ((i = ${#labels[@]} - 1; i >= 0; i--)); do measure "$i" "$round"; done
    fi
    printf '.' >&2
done
echo >&2

# Each program's rows together, in the order given.
sort -s -t $'\t' -k1,1n "$tmp/results" | cut -f2- >"$tmp/ordered"
awk -v aim_ms="$aim_ms" -v aim_mib="$aim_mib" -v base="$plain_label" -v also="$bare_label" \
    -f "$here/../stats.awk" -f "$here/summarize.awk" "$tmp/ordered" >"$tmp/table"
cat "$tmp/table"

[ -n "$write" ] || exit 0

cpu=$(sed -n 's/^model name[[:space:]]*:[[:space:]]*//p' /proc/cpuinfo | head -n1)
commit=$(git -C "$repo" rev-parse --short HEAD 2>/dev/null || echo unknown)
if [ -n "$(git -C "$repo" status --porcelain 2>/dev/null)" ]; then commit="$commit with uncommitted changes"; fi
{
    echo "$heading"
    echo
    echo "Time from process start to the window first mapped (the X server's MapNotify), and peak"
    echo "resident memory (max RSS, read when the program is stopped 300 ms after the map); median of"
    echo "$runs runs after $warmup warm-up runs, the programs interleaved. Xvfb 1024x768x24 at 96 dpi, no"
    echo "window manager, $bus_note, an empty working folder. Both Qt windows are built by the"
    echo "benchmark itself. The bare one is an empty 418x405 QWidget: what any Qt program of that"
    echo "size costs. The plain one is the mail window's own description with each of our widget"
    echo "classes swapped for the nearest Qt class (QPushButton, QLabel, QPlainTextEdit, QSpinBox),"
    echo "the same pictures and font, and no network, settings or controls: what Qt costs for the"
    echo "widgets we show."
    echo
    echo "Measured $(date -u +%Y-%m-%d) on $(nproc) cores, ${cpu:-unknown CPU}, load average $load_before"
    echo "at the start; commit $commit."
    echo "Command: \`$invocation\`"
    echo
    cat "$tmp/table"
    echo
    echo "Aim: the mail window maps within $aim_ms ms and $aim_mib MiB of the plain Qt window with the"
    echo "same widgets."
    echo
    echo "Reference points from a machine like ours (not measured here): a bare Qt 6 window maps in"
    echo "about 16 ms with 24 MiB; a three-page Qt window in about 28 ms with 31 MiB; the desktop mail"
    echo "clients packaged in Debian in 130-150 ms with 33-50 MiB."
} >"$tmp/section"

doc=$repo/docs/PERFORMANCE.md
mkdir -p "$repo/docs"
if [ -e "$doc" ]; then
    awk -v heading="$heading" -v body="$tmp/section" -f "$here/section.awk" "$doc" >"$doc.new.$$"
else
    printf '# Performance\n' | awk -v heading="$heading" -v body="$tmp/section" -f "$here/section.awk" >"$doc.new.$$"
fi || { rm -f "$doc.new.$$"; die "could not update $doc"; }
mv "$doc.new.$$" "$doc"
echo "updated $doc" >&2
