#!/usr/bin/env bash
# The demo that scripts/run.sh starts, with the program replaced by a
# stand-in that checks from inside (standin.sh). Real servers throughout.
# Afterwards: the servers are gone however the program ended - normally,
# with an error, by Ctrl+C, or by the demo being killed outright - and a run
# after such a crash still works.
#
#   demo_test.sh SOURCE_DIR WORK_DIR
set -uo pipefail

src=${1:?} base=${2:?}
if ((EUID != 0)); then
    echo "SKIP: the demo's servers need root"
    exit 77
fi

export ORV_DEMO_DIR=$base/demo ORV_DEMO_PROGRAM=$src/tests/demo/standin.sh
export STANDIN_SOURCE=$src STANDIN_REPORT=$base/report STANDIN_OUTPUT=$base/out
demo=$src/scripts/demo.sh
passed=0 failed=0

cleanup() {
    # Only after a failure is there anything left to stop.
    "$src/scripts/testservers.sh" stop "$ORV_DEMO_DIR/servers" >/dev/null 2>&1
}
trap cleanup EXIT
cleanup
rm -rf -- "$base"
mkdir -p -- "$base"

check() { # DESCRIPTION COMMAND...
    local what=$1
    shift
    if "$@"; then
        ((passed++))
    else
        ((failed++))
        printf 'FAIL: %s\n' "$what"
        [[ -f $STANDIN_REPORT ]] && sed 's/^/  report: /' "$STANDIN_REPORT"
        [[ -f $base/err ]] && sed 's/^/  stderr: /' "$base/err"
    fi
}

fact() { sed -n "s/^$1=//p" "$STANDIN_REPORT" | tail -n 1; }

alive() { # PID START
    local stat
    [[ -n $1 ]] || return 1
    stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
    local -a f
    read -r -a f <<<"${stat##*) }"
    [[ ${f[0]} != Z && ${f[19]} == "$2" ]]
}
listening() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

# The servers the stand-in saw, captured before they may go.
remember() {
    old=("$(fact SMTP_PORT)" "$(fact POP_PORT)" "$(fact POSTFIX_PID)" "$(fact POSTFIX_PID_START)"
         "$(fact DOVECOT_PID)" "$(fact DOVECOT_PID_START)")
}
down() { # the remembered servers are gone, at once or within SECONDS
    local i
    for ((i = 0; ; i++)); do
        if ! alive "${old[2]}" "${old[3]}" && ! alive "${old[4]}" "${old[5]}" \
            && ! listening "${old[0]}" && ! listening "${old[1]}"; then
            return 0
        fi
        ((i < $1 * 10)) || return 1
        sleep 0.1
    done
}
down_not() { alive "${old[2]}" "${old[3]}" && alive "${old[4]}" "${old[5]}" && listening "${old[0]}"; }
were_up() { [[ -n ${old[0]} && -n ${old[2]} && -n ${old[4]} ]]; }

run() { # MODE: runs the demo in the foreground, leaves its status in $rc
    : >"$STANDIN_REPORT" && : >"$base/out"
    STANDIN_MODE=$1 timeout 180 "$demo" >"$base/out" 2>"$base/err"
    rc=$?
    remember
}

# ---------------------------------------------------------------- normal
run check
check "demo ends with the program's status 0 (was $rc)" test "$rc" -eq 0
check "the stand-in's checks pass" grep -qx ok "$STANDIN_REPORT"
check "servers were up while the program ran" were_up
check "servers are stopped when the program ends" down 0
check "no server folder owned by root stays behind" test ! -e "$ORV_DEMO_DIR/servers"
out=$(<"$base/out")
check "the password is printed" grep -q 'password: demo-pw' <<<"$out"
# The password comes first: the program signs in with it at the first Send.
for step in "1. Connect To page: type the password demo-pw" "2. Send Mail page: press Send" \
    "4. Get Mail page: message 1 of 4"; do
    check "printed: $step" grep -qF "$step" <<<"$out"
done
check "the working folder keeps Orvmail.cfg and the message file" \
    test -s "$ORV_DEMO_DIR/work/Orvmail.cfg" -a -s "$ORV_DEMO_DIR/work/message.txt"
check "the program runs in the demo's working folder" \
    test "$(fact WORKDIR)" = "$ORV_DEMO_DIR/work"

# ---------------------------------------------------------------- failure
run fail
check "a failing program's status comes through (was $rc)" test "$rc" -eq 3
check "servers stop after a failing program" down 0

# ---------------------------------------------------------------- Ctrl+C
: >"$STANDIN_REPORT" && : >"$base/out"
# In a group of its own, as in a terminal; a job started with & ignores
# SIGINT until that is undone.
STANDIN_MODE=wait setsid perl -e '$SIG{INT} = "DEFAULT"; exec @ARGV or die' "$demo" \
    >"$base/out" 2>"$base/err" &
pid=$!
for ((i = 0; i < 600; i++)); do
    grep -qx waiting "$STANDIN_REPORT" 2>/dev/null && break
    sleep 0.1
done
remember
check "servers were up before Ctrl+C" were_up
STANDIN_MODE=check timeout 60 "$demo" >"$base/out2" 2>"$base/err2"
rc=$?
check "a second demo in the same folder is refused (status $rc)" test "$rc" -ne 0
check "and says why" grep -q "already running" "$base/err2"
check "and leaves the first one's servers alone" down_not
kill -INT -- "-$pid" 2>/dev/null
wait "$pid"
rc=$?
check "Ctrl+C ends the demo (status $rc)" test "$rc" -ne 0
check "servers stop after Ctrl+C" down 5

# ---------------------------------------------------------------- crashes
run crash
check "servers were up before the demo was killed" were_up
check "servers stop soon after the demo is killed outright" down 15

run crash-all
stale=("${old[@]}")
check "servers stay up when the demo and its server side are killed" \
    alive "${stale[2]}" "${stale[3]}"
run check
check "a run after that crash works (status $rc)" test "$rc" -eq 0
check "the stand-in's checks pass after the crash" grep -qx ok "$STANDIN_REPORT"
check "and uses fresh servers" test "${old[2]}" != "${stale[2]}"
check "the new servers stop" down 0
old=("${stale[@]}")
check "the crashed instance's servers are gone too" down 0

printf '%d passed, %d failed\n' "$passed" "$failed"
((failed == 0))
