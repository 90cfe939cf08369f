#!/usr/bin/env bash
# Stands in for the program in the demo and checks, from where the program
# would run, what it would rely on: the argument, Orvmail.cfg, live servers,
# the printed password, the seeded mailbox, that the SMTP server requires
# sign-in and takes the demo user with that password, and that mail to the
# demo address lands in the mailbox it reads. Writes "KEY=VALUE" facts and
# "FAIL: ..." lines to $STANDIN_REPORT.
#
# STANDIN_MODE   check (default) | fail (exit 3) | wait (until a signal)
#                | crash (kill the demo outright) | crash-all (the demo and
#                its server side)
# STANDIN_OUTPUT what the demo printed so far
# STANDIN_SOURCE the source tree (for the seeded messages)
set -uo pipefail

report=${STANDIN_REPORT:?}
mode=${STANDIN_MODE:-check}
failures=0
fail() { printf 'FAIL: %s\n' "$*" >>"$report"; ((failures++)); }
fact() { printf '%s=%s\n' "$1" "$2" >>"$report"; }

readonly ADDRESS=demo@orvanta.test

# ---------------------------------------------------------------- argument
(($# == 1)) || fail "expected one argument, got $#: $*"
arg=${1:-}
[[ $arg == "$ADDRESS,"* ]] || fail "argument does not start with $ADDRESS,: $arg"
file=${arg#*,}
[[ -f $file && -s $file ]] || fail "message file $file is missing or empty"

# ---------------------------------------------------------------- settings
smtp_port="" pop_port=""
if [[ -f Orvmail.cfg ]]; then
    mapfile -t cfg <Orvmail.cfg
    if ((${#cfg[@]} != 2)); then
        fail "Orvmail.cfg has ${#cfg[@]} lines"
    elif [[ ${cfg[0]} =~ ^127\.0\.0\.1:([0-9]+),demo@orvanta\.test$'\r'$ ]]; then
        smtp_port=${BASH_REMATCH[1]}
        if [[ ${cfg[1]} =~ ^127\.0\.0\.1:([0-9]+),demo$'\r'$ ]]; then
            pop_port=${BASH_REMATCH[1]}
        else
            fail "second line of Orvmail.cfg: ${cfg[1]@Q}"
        fi
    else
        fail "first line of Orvmail.cfg: ${cfg[0]@Q}"
    fi
else
    fail "no Orvmail.cfg in $PWD"
fi
fact SMTP_PORT "$smtp_port"
fact POP_PORT "$pop_port"
fact WORKDIR "$PWD"

# The server processes, for the check that they are gone afterwards.
env_file=${ORV_DEMO_DIR:?}/servers/instance.env
for key in POSTFIX_PID POSTFIX_PID_START DOVECOT_PID DOVECOT_PID_START; do
    fact "$key" "$(sed -n "s/^$key=//p" "$env_file" 2>/dev/null)"
done

password=$(sed -n 's/.*password: \([^ ]*\).*/\1/p' "${STANDIN_OUTPUT:?}" | head -n 1)
[[ -n $password ]] || fail "no password printed"

# ---------------------------------------------------------------- sockets
line=""
recv() { # FD: one line, CR removed
    IFS= read -r -t 10 line <&"$1" || return 1
    line=${line%$'\r'}
}
smtp() { # FD COMMAND: sends it and leaves the reply's code in $code
    printf '%s\r\n' "$2" >&"$1"
    code=""
    while recv "$1"; do
        [[ $line =~ ^[0-9]{3}- ]] || break
    done
    code=${line:0:3}
}
pop() { # FD COMMAND
    printf '%s\r\n' "$2" >&"$1"
    recv "$1"
}
pop_body() { # FD: a multi-line answer into $body
    body=""
    while recv "$1"; do
        [[ $line == . ]] && return 0
        [[ $line == ..* ]] && line=${line:1}
        body+=$line$'\n'
    done
    return 1
}

# Subjects in the mailbox, in POP order, one per line.
subjects() { # FD COUNT
    local i
    for ((i = 1; i <= $2; i++)); do
        pop "$1" "TOP $i 0"
        [[ $line == +OK* ]] && pop_body "$1" || return 1
        sed -n 's/^Subject: //p' <<<"$body" | head -n 1
    done
}

pop_login() { # sets $pfd and $count
    exec {pfd}<>"/dev/tcp/127.0.0.1/$pop_port" || return 1
    recv "$pfd" && [[ $line == +OK* ]] || { fail "POP3 greeting: $line"; return 1; }
    pop "$pfd" "USER demo"
    pop "$pfd" "PASS $password"
    [[ $line == +OK* ]] || { fail "the printed password does not log in: $line"; return 1; }
    pop "$pfd" STAT
    [[ $line =~ ^\+OK\ ([0-9]+) ]] || { fail "STAT: $line"; return 1; }
    count=${BASH_REMATCH[1]}
}
pop_logout() { pop "$pfd" QUIT; exec {pfd}>&-; }

if [[ -n $smtp_port && -n $pop_port && -n $password ]]; then
    mapfile -t want < <(sed -n 's/^Subject: //p' "${STANDIN_SOURCE:?}"/scripts/demo/*.eml)
    if pop_login; then
        ((count == ${#want[@]})) || fail "mailbox holds $count messages, not the ${#want[@]} seeded"
        got=$(subjects "$pfd" "$count")
        [[ $got == "$(printf '%s\n' "${want[@]}")" ]] || fail "seeded subjects in POP order: ${got@Q}"
        pop_logout
    fi

    subject="Stand-in $$ $RANDOM"
    if exec {sfd}<>"/dev/tcp/127.0.0.1/$smtp_port"; then
        recv "$sfd"
        [[ $line == 220* ]] || fail "SMTP greeting: $line"
        smtp "$sfd" "EHLO standin.test"
        smtp "$sfd" "MAIL FROM:<$ADDRESS>"
        [[ $line == "530 5.7.0 "*"Authentication required"* ]] || fail "MAIL before sign-in: $line"
        smtp "$sfd" "AUTH PLAIN $(printf '\0demo\0%s' "$password" | base64 -w 0)"
        [[ $code == 235 ]] || fail "sign-in as demo with the printed password: $line"
        smtp "$sfd" "MAIL FROM:<$ADDRESS>"
        [[ $code == 250 ]] || fail "MAIL FROM: $line"
        smtp "$sfd" "RCPT TO:<$ADDRESS>"
        [[ $code == 250 ]] || fail "RCPT TO: $line"
        smtp "$sfd" DATA
        printf 'From: %s\r\nTo: %s\r\nSubject: %s\r\n\r\n' "$ADDRESS" "$ADDRESS" "$subject" >&"$sfd"
        { sed 's/^\./../; s/$/\r/' "$file"; printf '.\r\n'; } >&"$sfd"
        code=""
        recv "$sfd" && code=${line:0:3}
        [[ $code == 250 ]] || fail "end of data: $line"
        smtp "$sfd" QUIT
        exec {sfd}>&-
    else
        fail "no SMTP server on 127.0.0.1:$smtp_port"
    fi

    # Delivery follows the 250 by a moment; the sent message comes last.
    arrived=""
    for ((try = 0; try < 50 && ! ${#arrived}; try++)); do
        pop_login || break
        if ((count == ${#want[@]} + 1)); then
            last=$(subjects "$pfd" "$count" | tail -n 1)
            [[ $last == "$subject" ]] && arrived=1
        fi
        pop_logout
        [[ -n $arrived ]] || sleep 0.2
    done
    [[ -n $arrived ]] || fail "the message sent to $ADDRESS did not arrive last in its mailbox"
fi

((failures)) || printf 'ok\n' >>"$report"

case $mode in
check) exit $((failures ? 1 : 0)) ;;
fail) exit 3 ;;
wait)
    printf 'waiting\n' >>"$report"
    exec sleep 120
    ;;
crash-all)
    # The demo's server side is its child running scripts/demo/servers.sh.
    for p in /proc/[0-9]*; do
        [[ $(awk '{print $4}' "$p/stat" 2>/dev/null) == "$PPID" ]] || continue
        tr '\0' ' ' <"$p/cmdline" 2>/dev/null | grep -q 'scripts/demo/servers.sh' \
            && kill -KILL "${p#/proc/}"
    done
    kill -KILL "$PPID"
    exit 0
    ;;
crash)
    kill -KILL "$PPID"
    exit 0
    ;;
esac
