#!/usr/bin/env bash
# Starts the program on a working local setup: a private SMTP and POP3 server
# on loopback (scripts/testservers.sh, through sudo when not root), a demo
# mailbox with a few messages, and a working folder whose Orvmail.cfg points
# at both. Mail goes out through the SMTP service that requires sign-in, as
# real providers do; the program signs in there as the demo user. The
# program starts in that folder as the invoking user, handed the demo address
# and a message file; the servers stop when it ends.
#
#   scripts/demo.sh
#
# ORV_DEMO_DIR      demo folder (default BUILD_DIR/demo): servers/ and work/
# ORV_DEMO_PROGRAM  what to start instead of the built program
# BUILD_DIR         build folder (default build/)
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$here/build}
demo_dir=${ORV_DEMO_DIR:-$build/demo}
program=${ORV_DEMO_PROGRAM:-$build/src/main/orvmail}

readonly DOMAIN=orvanta.test USER_NAME=demo
readonly ADDRESS=$USER_NAME@$DOMAIN

die() { printf 'demo: %s\n' "$*" >&2; exit 1; }

[[ -x $program ]] || die "$program is missing: build first (scripts/build.sh)"
if [[ -z ${ORV_DEMO_PROGRAM:-} && -z ${DISPLAY:-}${WAYLAND_DISPLAY:-}${QT_QPA_PLATFORM:-} ]]; then
    die "no display to open the window on: run this in a desktop session"
fi

mkdir -p -- "$demo_dir/work"
demo_dir=$(cd -- "$demo_dir" && pwd -P)
servers=$demo_dir/servers
work=$demo_dir/work

as_root=()
if ((EUID != 0)); then
    command -v sudo >/dev/null || die "the mail servers need root: install sudo or run as root"
    if ! sudo -n true 2>/dev/null; then
        echo "demo: the private mail servers need root; sudo asks for your password"
        sudo -v || die "sudo refused"
    fi
    as_root=(sudo -n)
fi

# One demo per folder: a second would take over the first one's servers.
exec {lock}>"$demo_dir/.lock"
flock -n "$lock" || die "a demo is already running from $demo_dir"

# The servers' side reports here once they are up (or failed to come up).
rm -f -- "$demo_dir"/.ready.*
ready=$(mktemp "$demo_dir/.ready.XXXXXX")
parent_start=$(read -r -a f <<<"$(sed 's/.*) //' "/proc/$$/stat")" && echo "${f[19]}")

helper_pid=""
stop_servers() {
    trap '' INT TERM HUP PIPE
    if [[ -n ${to_servers:-} ]]; then
        printf 'stop\n' >&"$to_servers" 2>/dev/null || true
        exec {to_servers}>&-
    fi
    [[ -z $helper_pid ]] || wait "$helper_pid" 2>/dev/null || true
    rm -f -- "$ready"
}
trap stop_servers EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

# The servers live as long as this pipe is open and this script runs: a
# demo that is killed outright still takes them down. They must not hold
# the lock, or servers left by a crash would keep the next demo out.
exec {to_servers}> >(exec {lock}>&- && exec "${as_root[@]}" \
    "$here/scripts/demo/servers.sh" "$servers" "$ready" "$$" "$parent_start")
helper_pid=$!

state=""
for ((i = 0; i < 1200; i++)); do
    read -r state <"$ready" 2>/dev/null || true
    [[ -z $state ]] || break
    [[ -e /proc/$helper_pid ]] || break
    sleep 0.1
done
[[ $state == ready ]] || die "the mail servers did not start (see above)"

declare -A env=()
while IFS='=' read -r key value; do
    env[$key]=$value
done <"$servers/servers.env"
smtp_port=${env[SUBMIT_CLEAR_PORT]:-} pop_port=${env[POP_PORT]:-}
password=""
for ((i = 1; i <= 20; i++)); do
    if [[ ${env[USER$i]:-} == "$USER_NAME" ]]; then
        password=${env[PASS$i]:-}
    fi
done
[[ -n $smtp_port && -n $pop_port && -n $password ]] || die "$servers/servers.env lacks the demo user"
seeded=$(ls "$here/scripts/demo/"*.eml | wc -l)

# Written afresh each time: the ports change from run to run.
printf '127.0.0.1:%s,%s\r\n127.0.0.1:%s,%s\r\n' \
    "$smtp_port" "$ADDRESS" "$pop_port" "$USER_NAME" >"$work/Orvmail.cfg"
cat >"$work/message.txt" <<EOF
Hello from the Orvanta Mail demo.

This text comes from $work/message.txt.
It went out through the private SMTP server on 127.0.0.1:$smtp_port,
signed in as $USER_NAME, and came back in through the POP3 server on
127.0.0.1:$pop_port.
EOF

cat <<EOF

  Orvanta Mail demo
  -----------------
  Private mail servers on this machine (they stop when the window closes):
    SMTP 127.0.0.1:$smtp_port (sign-in required)    POP3 127.0.0.1:$pop_port
  Mailbox:  $ADDRESS    user name: $USER_NAME    password: $password
  Working folder: $work

  1. Connect To page: type the password $password into Password. The user
     name $USER_NAME is already there; both servers take this sign-in.
  2. Send Mail page: press Send. The program signs in to the SMTP server
     as $USER_NAME, and the message goes to $ADDRESS.
  3. Connect To page: press the Connect button of the POP server.
  4. Get Mail page: message 1 of $((seeded + 1)) is shown; step with the arrows beside
     "Message:" to the last one, the message you just sent.

EOF

cd -- "$work"
rc=0
"$program" "$ADDRESS,$work/message.txt" {to_servers}>&- {lock}>&- || rc=$?
exit "$rc"
