#!/usr/bin/env bash
# The root half of the demo (scripts/demo.sh): starts the private servers in
# DIR, puts the demo messages into the demo mailbox, tells READY_FILE, and
# keeps the servers until the demo says "stop", its pipe closes or its
# process PARENT (PID and start time) is gone. Then stops them and removes
# DIR, so nothing owned by root stays behind in the build folder.
#
#   servers.sh DIR READY_FILE PARENT_PID PARENT_START < pipe-from-demo
set -uo pipefail

(($# == 4)) || { echo "usage: $0 DIR READY_FILE PARENT_PID PARENT_START" >&2; exit 2; }
readonly DIR=$1 READY=$2 PARENT=$3 PARENT_START=$4
readonly HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
readonly TS=$HERE/../testservers.sh
readonly USER_NAME=demo

started_at() { # PID: its start time, empty when it is gone
    local stat
    stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 0
    local -a f
    read -r -a f <<<"${stat##*) }"
    [[ ${f[0]} == Z ]] || printf '%s' "${f[19]}"
}

# The demo made this file; anything else there is not written through.
tell() { [[ -f $READY && ! -L $READY ]] && printf '%s\n' "$1" >"$READY"; }

stopped=""
finish() {
    [[ -n $stopped ]] && return
    stopped=1
    trap '' INT TERM HUP
    "$TS" stop "$DIR" >/dev/null 2>&1
    if [[ -f $DIR/.orvanta-testservers ]]; then
        # A state folder under /tmp is used when DIR is out of the servers'
        # reach; it goes too.
        local state
        state=$(sed -n 's/^STATE_DIR=//p' "$DIR/instance.env" 2>/dev/null)
        [[ $state == /tmp/orvts.* && $state != *..* ]] && rm -rf -- "$state"
        rm -rf -- "$DIR"
    fi
    printf 'demo: mail servers stopped\n' >&2
}
trap finish EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

if ! "$TS" start "$DIR" >/dev/null; then
    tell failed
    exit 1
fi
if ! "$TS" seed "$DIR" "$USER_NAME" "$HERE"/*.eml; then
    tell failed
    exit 1
fi
tell ready

# One-second steps so that a demo killed outright (its pipe may live on in
# a child) still ends the servers soon.
while :; do
    line=""
    if read -r -t 1 line; then
        [[ ${line%$'\r'} == stop ]] && break
    elif (($? <= 128)); then
        break # the pipe closed
    fi
    [[ $(started_at "$PARENT") == "$PARENT_START" ]] || break
done
exit 0
