#!/usr/bin/env bash
# Private SMTP (Postfix) and POP3 (Dovecot) servers on loopback for tests and
# for trying the client by hand. Nothing here touches the machine's own mail
# configuration or services; every instance lives in the folder it is given.
#
#   testservers.sh install
#   testservers.sh start DIR
#   testservers.sh stop DIR
#   testservers.sh seed DIR USER FILE...
#   testservers.sh empty DIR USER
#
# See docs/TESTSERVERS.md.

set -euo pipefail
umask 022

readonly HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
readonly TEMPLATES=$HERE/testservers
# shellcheck source=SCRIPTDIR/testservers/tls.sh
. "$TEMPLATES/tls.sh"
# shellcheck source=SCRIPTDIR/testservers/signin.sh
. "$TEMPLATES/signin.sh"
readonly PACKAGES=(postfix dovecot-core dovecot-pop3d openssl)
readonly DOMAIN=orvanta.test
readonly MAIL_USER=orvmailtest
# New users go at the end: tests know the first four as USER1..USER4.
readonly USERS=(alice bob carol catchall demo)
readonly CATCHALL=catchall
# Tests send 50-100 MB documents; leave room for base64 growth and headers.
readonly SIZE_LIMIT=268435456
readonly READY_TIMEOUT=30
readonly MARKER=.orvanta-testservers
readonly RUN_PREFIX=/tmp/orvts.
# What a start creates in DIR (or in its state folder).
readonly STATE_SUBDIRS=(postfix postfix-queue postfix-data dovecot maildirs log tls)
readonly LOCK_FILE=/run/lock/orvanta-testservers.lock

die() { printf 'testservers: %s\n' "$*" >&2; exit 1; }
note() { printf 'testservers: %s\n' "$*" >&2; }

password_of() { printf '%s-pw' "$1"; }

# Serialise package installs and user creation between concurrent starts.
with_lock() {
    local dir=${LOCK_FILE%/*}
    [[ -d $dir ]] || dir=/tmp
    exec {lockfd}>"$dir/${LOCK_FILE##*/}"
    flock -w 600 "$lockfd" || die "timed out waiting for $dir/${LOCK_FILE##*/}"
    "$@"
    local rc=$?
    exec {lockfd}>&-
    return $rc
}

# ---------------------------------------------------------------- install

missing_packages() {
    local p status
    for p in "${PACKAGES[@]}"; do
        status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
        [[ $status == "install ok installed" ]] || printf '%s\n' "$p"
    done
}

POLICY_CREATED="" POLICY_SAVED=""
restore_policy() {
    [[ -n $POLICY_CREATED ]] || return 0
    rm -f -- "$POLICY_CREATED"
    [[ -z $POLICY_SAVED ]] || mv -f -- "$POLICY_SAVED" "$POLICY_CREATED"
    POLICY_CREATED="" POLICY_SAVED=""
    trap - EXIT
}

do_install() {
    local -a need
    mapfile -t need < <(missing_packages)
    ((${#need[@]})) || return 0
    [[ $EUID -eq 0 ]] || die "installing ${need[*]} needs root"
    note "installing ${need[*]}"

    # Keep the packages from starting (or, for the MTA, configuring) the
    # machine's own services. An existing policy that already refuses is kept.
    local policy=/usr/sbin/policy-rc.d verdict=0
    if [[ -x $policy ]]; then
        "$policy" dovecot start >/dev/null 2>&1 || verdict=$?
    fi
    if ((verdict != 101)); then
        if [[ -e $policy ]]; then
            POLICY_SAVED=$(mktemp "$policy.orvsave.XXXXXX")
            mv -f "$policy" "$POLICY_SAVED"
        fi
        printf '#!/bin/sh\nexit 101\n' >"$policy"
        chmod 755 "$policy"
        POLICY_CREATED=$policy
        trap restore_policy EXIT
    fi

    echo "postfix postfix/main_mailer_type select No configuration" | debconf-set-selections
    local -a apt=(apt-get -q -y -o DPkg::Lock::Timeout=300
        -o Dpkg::Options::=--force-confdef -o Dpkg::Options::=--force-confold)
    local rc=0
    DEBIAN_FRONTEND=noninteractive "${apt[@]}" update >/dev/null || rc=$?
    if ((rc == 0)); then
        DEBIAN_FRONTEND=noninteractive "${apt[@]}" install --no-install-recommends "${need[@]}" \
            || rc=$?
    fi
    restore_policy
    ((rc == 0)) || die "apt-get failed (exit $rc) installing ${need[*]}"
    mapfile -t need < <(missing_packages)
    ((${#need[@]} == 0)) || die "still not installed after apt-get: ${need[*]}"
}

ensure_mail_user() {
    getent passwd "$MAIL_USER" >/dev/null && return 0
    useradd --system --user-group --no-create-home --home-dir /nonexistent \
        --shell /usr/sbin/nologin --comment "Orvanta test mailboxes" "$MAIL_USER" \
        || die "could not create system user $MAIL_USER"
}

cmd_install() {
    # Fast path without the lock: nothing to do when all is there.
    if [[ -z $(missing_packages) ]]; then
        return 0
    fi
    with_lock do_install
}

# ---------------------------------------------------------------- helpers

# Reads KEY=VALUE lines into the associative array ENV (no shell evaluation).
declare -A ENV=()
load_env() {
    local file=$1 key value
    ENV=()
    [[ -f $file ]] || return 1
    while IFS='=' read -r key value; do
        [[ $key =~ ^[A-Z0-9_]+$ ]] && ENV[$key]=$value
    done <"$file"
    return 0
}

abs_dir() {
    local d=$1
    [[ -n $d ]] || die "DIR must not be empty"
    [[ -d $d ]] || return 1
    (cd -P -- "$d" && pwd -P)
}

# "PID STARTTIME" of a live process, to tell it apart from a later process
# that reuses the number. A zombie counts as gone: whoever reaps it may be slow.
proc_id() {
    local pid=$1 stat
    [[ $pid =~ ^[0-9]+$ ]] || return 1
    stat=$(cat "/proc/$pid/stat" 2>/dev/null) || return 1
    local -a f
    read -r -a f <<<"${stat##*) }"
    # After "comm) " come state (field 3) ... starttime (field 22).
    [[ ${f[0]} != Z && ${f[0]} != X ]] || return 1
    printf '%s %s' "$pid" "${f[19]}"
}

same_proc() { # PID STARTTIME
    [[ -n $1 && -n $2 ]] || return 1
    [[ $(proc_id "$1" 2>/dev/null) == "$1 $2" ]]
}

read_pidfile() {
    local pid
    [[ -r $1 ]] || return 1
    read -r pid <"$1" || [[ -n ${pid:-} ]] || return 1
    pid=${pid//[[:space:]]/}
    [[ $pid =~ ^[0-9]+$ ]] || return 1
    printf '%s' "$pid"
}

pick_ports() { # [N]: prints N (default 2) distinct free loopback ports
    local n=${1:-2} out
    if out=$(perl -MIO::Socket::INET -e '
            my @s = map {
                IO::Socket::INET->new(LocalAddr => "127.0.0.1", LocalPort => 0,
                                      Proto => "tcp", Listen => 1)
                    or die "bind: $!\n"
            } 1 .. $ARGV[0];
            print join(" ", map { $_->sockport } @s), "\n";' "$n" 2>/dev/null) \
        && [[ $out =~ ^[0-9]+(\ [0-9]+)*$ ]] && (($(wc -w <<<"$out") == n)); then
        printf '%s\n' "$out"
        return 0
    fi
    # No usable perl: probe a random unprivileged range; a refused
    # connection means nothing listens there.
    local -a found=()
    local p tries=0
    while ((${#found[@]} < n && tries++ < 100 * n)); do
        p=$((20000 + (RANDOM * 32768 + RANDOM) % 12000))
        [[ " ${found[*]} " != *" $p "* ]] || continue
        if ! (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null; then
            found+=("$p")
        fi
    done
    ((${#found[@]} == n)) || return 1
    printf '%s\n' "${found[*]}"
}

greets() { # PORT PREFIX: connects and checks the first line of the greeting
    local line="" fd
    exec {fd}<>"/dev/tcp/127.0.0.1/$1" || return 1
    IFS= read -r -t 3 line <&"$fd" || true
    printf 'QUIT\r\n' >&"$fd" 2>/dev/null || true
    exec {fd}>&-
    [[ $line == "$2"* ]]
}

render() { # TEMPLATE KEY=VALUE...: prints it with @KEY@ placeholders filled
    local text
    text=$(<"$1")
    shift
    local pair
    for pair in "$@"; do
        text=${text//@${pair%%=*}@/${pair#*=}}
    done
    if [[ $text =~ @[A-Z_]+@ ]]; then
        die "unfilled placeholder ${BASH_REMATCH[0]} in template"
    fi
    printf '%s\n' "$text"
}

# Service users that must reach the instance files.
can_reach() { # DIR
    local u
    for u in postfix dovecot "$MAIL_USER"; do
        runuser -u "$u" -- test -x "$1" 2>/dev/null || return 1
    done
}

# ---------------------------------------------------------------- stop

wait_gone() { # PID START TENTHS
    local i
    for ((i = 0; i < $3; i++)); do
        same_proc "$1" "$2" || return 0
        sleep 0.1
    done
    ! same_proc "$1" "$2"
}

# Stops a master process we recorded: SIGTERM makes both servers end their
# children and exit. Without a recorded PID, their own stop command is used.
stop_server() { # NAME PID START STOPCMD...
    local name=$1 pid=$2 start=$3
    shift 3
    if [[ -z $pid || -z $start ]]; then
        "$@" >/dev/null 2>&1 || true
        return 0
    fi
    same_proc "$pid" "$start" || return 0
    kill -TERM "$pid" 2>/dev/null || true
    wait_gone "$pid" "$start" 100 && return 0
    note "$name (pid $pid) did not stop within 10 s; sending SIGKILL"
    kill -KILL "$pid" 2>/dev/null || true
    wait_gone "$pid" "$start" 20 || note "$name (pid $pid) is still running"
}

stop_instance() { # DIR (absolute)
    local dir=$1
    load_env "$dir/instance.env" || return 0
    local pf_conf=${ENV[POSTFIX_CONFIG]:-} dv_conf=${ENV[DOVECOT_CONFIG]:-}
    if [[ -f $pf_conf/main.cf ]]; then
        stop_server postfix "${ENV[POSTFIX_PID]:-}" "${ENV[POSTFIX_PID_START]:-}" \
            postfix -c "$pf_conf" stop
    fi
    if [[ -f $dv_conf ]]; then
        stop_server dovecot "${ENV[DOVECOT_PID]:-}" "${ENV[DOVECOT_PID_START]:-}" \
            dovecot -c "$dv_conf" stop
    fi
    # Only sockets live there; it sits outside DIR.
    local base=${ENV[DOVECOT_BASE_DIR]:-}
    if [[ $base == "$RUN_PREFIX"* && $base != *..* && -d $base ]]; then
        rm -rf -- "$base"
    fi
}

cmd_stop() {
    local dir
    dir=$(abs_dir "$1") || return 0
    stop_instance "$dir"
}

# ---------------------------------------------------------------- start

# Removes what an earlier start left in DIR (and its state folder in /tmp).
clear_instance() { # DIR
    local dir=$1 state=""
    if load_env "$dir/instance.env"; then
        state=${ENV[STATE_DIR]:-}
    fi
    local sub
    rm -f -- "$dir/servers.env" "$dir/instance.env"
    for sub in "${STATE_SUBDIRS[@]}"; do
        rm -rf -- "${dir:?}/$sub"
    done
    if [[ $state == "$RUN_PREFIX"* && $state != *..* && -d $state ]]; then
        rm -rf -- "$state"
    fi
}

print_logs() { # LOGDIR
    local f
    for f in "$1"/postfix.log "$1"/dovecot.log; do
        [[ -s $f ]] || continue
        printf -- '--- last lines of %s ---\n' "$f" >&2
        tail -n 25 "$f" >&2
    done
}

write_configs() { # uses the caller's variables
    mkdir -p "$L/postfix" "$L/dovecot/state" "$L/log" "$MAILBASE"
    chmod 755 "$L/postfix" "$L/dovecot" "$L/log"

    # Maildirs exist from the start so tests can seed or watch them at once.
    local u sub
    for u in "${USERS[@]}"; do
        for sub in cur new tmp; do
            mkdir -p "$MAILBASE/$u/$sub"
        done
    done
    chown -R "$MAIL_UID:$MAIL_GID" "$MAILBASE"
    chmod 700 "$MAILBASE"/*
    chmod 755 "$MAILBASE"

    local vars=(
        "INSTANCE=$INSTANCE" "STATE=$L" "MAILBASE=$MAILBASE" "DOMAIN=$DOMAIN"
        "SMTP_PORT=$SMTP_PORT" "POP_PORT=$POP_PORT" "MAIL_UID=$MAIL_UID"
        "MAIL_GID=$MAIL_GID" "MAIL_USER=$MAIL_USER" "SIZE_LIMIT=$SIZE_LIMIT"
        "BASE_DIR=$BASE_DIR" "CATCHALL=$CATCHALL" "IDLE_SMTP_PORT=$IDLE_SMTP_PORT"
    )
    render "$TEMPLATES/main.cf.in" "${vars[@]}" >"$L/postfix/main.cf"
    render "$TEMPLATES/master.cf.in" "${vars[@]}" >"$L/postfix/master.cf"
    render "$TEMPLATES/dovecot.conf.in" "${vars[@]}" >"$L/dovecot/dovecot.conf"
    tls_write_configs
    signin_write_configs

    {
        for u in "${USERS[@]}"; do
            printf '%s@%s %s/\n' "$u" "$DOMAIN" "$u"
        done
        printf '@%s %s/\n' "$DOMAIN" "$CATCHALL"
    } >"$L/postfix/vmailbox"

    # The auth process runs as the dovecot user and must read this.
    {
        for u in "${USERS[@]}"; do
            printf '%s:{PLAIN}%s::::::\n' "$u" "$(password_of "$u")"
        done
    } >"$L/dovecot/users"
    chown root:dovecot "$L/dovecot/users"
    chmod 640 "$L/dovecot/users"
    : >"$L/log/postfix.log"
    : >"$L/log/dovecot.log"
    # Postfix waits (in 300 ms steps) for a main.cf modified within the last
    # moments to settle; these files are complete, so date them back.
    touch -d "@$((EPOCHSECONDS - 60))" "$L/postfix/main.cf" "$L/postfix/master.cf" \
        "$L/postfix/vmailbox"
}

write_instance_env() { # DEST: what stop (and the tests) need
    local tmp=$1.tmp
    {
        printf 'SMTP_HOST=127.0.0.1\nSMTP_PORT=%s\n' "$SMTP_PORT"
        printf 'POP_HOST=127.0.0.1\nPOP_PORT=%s\n' "$POP_PORT"
        printf 'DOMAIN=%s\n' "$DOMAIN"
        printf 'MAILDIR_BASE=%s\n' "$MAILBASE"
        local i=1 u
        for u in "${USERS[@]}"; do
            printf 'USER%d=%s\nPASS%d=%s\n' "$i" "$u" "$i" "$(password_of "$u")"
            ((i++))
        done
        printf 'CATCHALL_USER=%s\n' "$CATCHALL"
        printf 'MAILDIR_OWNER=%s\nMAILDIR_GROUP=%s\n' "$MAIL_UID" "$MAIL_GID"
        printf 'MESSAGE_SIZE_LIMIT=%s\n' "$SIZE_LIMIT"
        printf 'INSTANCE=%s\nSTATE_DIR=%s\nLOG_DIR=%s\n' "$INSTANCE" "$L" "$L/log"
        printf 'POSTFIX_CONFIG=%s\nDOVECOT_CONFIG=%s\n' "$L/postfix" "$L/dovecot/dovecot.conf"
        printf 'DOVECOT_BASE_DIR=%s\n' "$BASE_DIR"
        printf 'POSTFIX_PID=%s\nPOSTFIX_PID_START=%s\n' "${PF_PID:-}" "${PF_START:-}"
        printf 'DOVECOT_PID=%s\nDOVECOT_PID_START=%s\n' "${DV_PID:-}" "${DV_START:-}"
        printf 'IDLE_SMTP_PORT=%s\n' "$IDLE_SMTP_PORT"
        tls_env
        signin_env
    } >"$tmp"
    mv -f "$tmp" "$1"
}

# The queue folders with the owners and modes the package's own file list
# gives. Done here because "postfix start" spends seconds on checks that a
# fresh private queue does not need.
make_postfix_dirs() {
    local meta=$PF_META_DIR path type owner group mode _
    [[ -r $meta/postfix-files ]] || { note "missing $meta/postfix-files"; return 1; }
    while IFS=: read -r path type owner group mode _; do
        [[ $type == d ]] || continue
        case $path in
        '$queue_directory'*) path=$L/postfix-queue${path#'$queue_directory'} ;;
        '$data_directory'*) path=$L/postfix-data${path#'$data_directory'} ;;
        *) continue ;;
        esac
        owner=${owner/'$mail_owner'/postfix}
        group=${group/'$setgid_group'/postdrop}
        [[ $group == - ]] && group=""
        mkdir -p -- "$path"
        chown "$owner${group:+:$group}" "$path"
        chmod "$mode" "$path"
    done <"$meta/postfix-files"
}

# Starts both servers and waits for their greetings. Returns 2 when a port
# was taken in the meantime (the caller then retries with new ports).
launch() {
    local id
    PF_PID="" PF_START="" DV_PID="" DV_START=""
    write_instance_env "$DIR/instance.env"

    # Output goes to a file, not a pipe: the daemons keep inherited
    # descriptors open and a pipe reader would wait for them forever.
    local out=$L/log/launch.out
    if ! make_postfix_dirs >"$out" 2>&1 \
        || ! "$PF_DAEMON_DIR/master" -c "$L/postfix" -w </dev/null >>"$out" 2>&1; then
        # The master cannot log a failure this early (its log service is not
        # up yet): tell a taken port apart, else show what the checker says.
        if (exec 3<>"/dev/tcp/127.0.0.1/$SMTP_PORT") 2>/dev/null; then
            note "port $SMTP_PORT was taken before postfix could use it"
            return 2
        fi
        postfix -c "$L/postfix" check >>"$out" 2>&1 || true
        cat "$out" >&2
        note "postfix did not start"
        return 1
    fi
    if PF_PID=$(read_pidfile "$L/postfix-queue/pid/master.pid") && id=$(proc_id "$PF_PID"); then
        PF_START=${id#* }
    fi
    write_instance_env "$DIR/instance.env"

    if ! dovecot -c "$L/dovecot/dovecot.conf" </dev/null >"$out" 2>&1; then
        cat "$out" >&2
        note "dovecot did not start"
        grep -q 'Address already in use' "$out" && return 2
        return 1
    fi

    local deadline=$((SECONDS + READY_TIMEOUT)) smtp_ok=0 pop_ok=0 tls_ok=0 more_ok=0
    while ((SECONDS < deadline)); do
        if [[ -z $DV_PID ]] && DV_PID=$(read_pidfile "$BASE_DIR/master.pid") \
            && id=$(proc_id "$DV_PID"); then
            DV_START=${id#* }
            write_instance_env "$DIR/instance.env"
        elif [[ -z $DV_START ]]; then
            DV_PID=""
        fi
        ((smtp_ok)) || { greets "$SMTP_PORT" 220 2>/dev/null && smtp_ok=1; }
        ((pop_ok)) || { greets "$POP_PORT" +OK 2>/dev/null && pop_ok=1; }
        ((tls_ok)) || { tls_ready 2>/dev/null && tls_ok=1; }
        ((more_ok)) || { signin_ready 2>/dev/null && greets "$IDLE_SMTP_PORT" 220 2>/dev/null && more_ok=1; }
        ((smtp_ok && pop_ok && tls_ok && more_ok)) && [[ -n $DV_START && -n $PF_START ]] && return 0
        sleep 0.05
    done
    ((smtp_ok)) || note "SMTP server on 127.0.0.1:$SMTP_PORT gave no 220 greeting within ${READY_TIMEOUT}s"
    ((pop_ok)) || note "POP3 server on 127.0.0.1:$POP_PORT gave no +OK greeting within ${READY_TIMEOUT}s"
    ((tls_ok)) || note "the TLS services on $TLS_NET.1-4 and .6 did not all answer within ${READY_TIMEOUT}s"
    ((more_ok)) || note "the sign-in services or the idle-closing SMTP did not all answer within ${READY_TIMEOUT}s"
    return 1
}

cmd_start() {
    [[ $EUID -eq 0 ]] || die "start needs root (private servers switch users)"
    cmd_install
    with_lock ensure_mail_user
    command -v postfix >/dev/null || PATH=$PATH:/usr/sbin:/sbin
    local dirs
    dirs=$(postconf -d -h daemon_directory meta_directory 2>/dev/null) || dirs=""
    { read -r PF_DAEMON_DIR; read -r PF_META_DIR; } <<<"$dirs"
    : "${PF_DAEMON_DIR:=/usr/lib/postfix/sbin}" "${PF_META_DIR:=/etc/postfix}"

    local given=$1
    mkdir -p -- "$given" || die "cannot create $given"
    DIR=$(abs_dir "$given") || die "cannot use $given"
    if [[ ! -e $DIR/$MARKER ]] && [[ -n $(ls -A -- "$DIR") ]]; then
        die "$DIR is not empty and was not made by this script; give a new or empty folder"
    fi
    : >"$DIR/$MARKER"

    # A re-run replaces the instance that is there.
    stop_instance "$DIR"
    clear_instance "$DIR"

    MAIL_UID=$(id -u "$MAIL_USER")
    MAIL_GID=$(id -g "$MAIL_USER")
    INSTANCE=orv$(printf '%s' "$DIR" | cksum | cut -d' ' -f1)

    # Server files go into DIR when the service users can reach it and the
    # path is plain and short (Unix socket paths are limited to ~100 bytes);
    # otherwise into a private folder under /tmp, linked from DIR.
    if [[ $DIR =~ ^[A-Za-z0-9_./+-]+$ && ${#DIR} -le 60 ]] && can_reach "$DIR"; then
        L=$DIR
    else
        L=$(mktemp -d "${RUN_PREFIX}XXXXXX")
        chmod 755 "$L"
        local sub
        for sub in "${STATE_SUBDIRS[@]}"; do
            ln -s "$L/$sub" "$DIR/$sub"
        done
    fi
    MAILBASE=$L/maildirs
    BASE_DIR=$(mktemp -d "${RUN_PREFIX}XXXXXX")
    chmod 755 "$BASE_DIR"

    local attempt rc ports
    for attempt in 1 2 3; do
        ports=$(pick_ports 4) || die "found no free loopback port"
        read -r SMTP_PORT POP_PORT SUBMIT_CLEAR_PORT IDLE_SMTP_PORT <<<"$ports"
        tls_pick
        signin_pick
        write_configs
        rc=0
        launch || rc=$?
        ((rc == 0)) && break
        if ((rc == 2 && attempt < 3)); then
            note "a chosen port was taken meanwhile; retrying with new ports"
            stop_instance "$DIR"
            BASE_DIR=$(mktemp -d "${RUN_PREFIX}XXXXXX")
            chmod 755 "$BASE_DIR"
            rm -rf -- "$L/postfix" "$L/postfix-queue" "$L/postfix-data" "$L/dovecot" "$L/log"
            continue
        fi
        print_logs "$L/log"
        stop_instance "$DIR"
        die "start failed in $DIR"
    done

    write_instance_env "$DIR/instance.env"
    cp -f "$DIR/instance.env" "$DIR/servers.env.tmp"
    mv -f "$DIR/servers.env.tmp" "$DIR/servers.env"
    printf 'SMTP 127.0.0.1:%s  POP3 127.0.0.1:%s  maildirs %s\n' "$SMTP_PORT" "$POP_PORT" "$MAILBASE"
}

# ---------------------------------------------------------------- seed/empty

# Sets BOX to the mailbox folder of USER (a name or name@domain, matched
# without regard to case as the servers do) and ENV to the instance's values.
resolve_mailbox() { # DIR USER
    local dir user=$2
    dir=$(abs_dir "$1") || die "no such folder: $1"
    load_env "$dir/servers.env" || die "no servers were started in $dir"
    local base=${ENV[MAILDIR_BASE]:-}
    [[ -n $base ]] || die "$dir/servers.env has no MAILDIR_BASE"
    user=${user%@*}
    user=${user,,}
    [[ $user =~ ^[a-z0-9][a-z0-9._-]*$ ]] || die "bad user name: $2"
    [[ -d $base/$user/new && -d $base/$user/cur ]] || die "no mailbox for user $user in $base"
    BOX=$base/$user
}

cmd_seed() {
    local dir=$1 user=$2
    shift 2
    resolve_mailbox "$dir" "$user"
    # Check every file first so a bad argument seeds nothing.
    local f
    for f in "$@"; do
        [[ -f $f && -r $f ]] || die "not a readable file: $f"
    done
    local owner=${ENV[MAILDIR_OWNER]:-} group=${ENV[MAILDIR_GROUP]:-}
    [[ -n $owner ]] || owner=$(id -u "$MAIL_USER")
    [[ -n $group ]] || group=$(id -g "$MAIL_USER")
    local host=${HOSTNAME:-localhost}
    host=${host//[\/:]/_}
    local -i n=0
    local -a now
    local tmp name
    for f in "$@"; do
        read -r -a now <<<"${EPOCHREALTIME/[.,]/ }"
        name="${now[0]}.M${now[1]}P$$Q$((++n)).$host"
        # Written in tmp/ and linked into new/ so a reader never sees half a
        # message; link() refuses to replace an existing name.
        tmp="$BOX/tmp/$name"
        cp -- "$f" "$tmp"
        chown "$owner:$group" "$tmp"
        chmod 600 "$tmp"
        if ! ln -- "$tmp" "$BOX/new/$name"; then
            rm -f -- "$tmp"
            die "could not add $f to $BOX/new"
        fi
        rm -f -- "$tmp"
    done
}

cmd_empty() {
    resolve_mailbox "$1" "$2"
    find "$BOX/cur" "$BOX/new" -mindepth 1 -maxdepth 1 -type f -delete
}

# ---------------------------------------------------------------- main

usage() {
    cat >&2 <<'EOF'
usage: testservers.sh install
       testservers.sh start DIR
       testservers.sh stop DIR
       testservers.sh seed DIR USER FILE...
       testservers.sh empty DIR USER
EOF
    exit 2
}

main() {
    (($#)) || usage
    local cmd=$1
    shift
    case $cmd in
    install) (($# == 0)) || usage; cmd_install ;;
    start) (($# == 1)) || usage; cmd_start "$1" ;;
    stop) (($# == 1)) || usage; cmd_stop "$1" ;;
    seed) (($# >= 3)) || usage; cmd_seed "$@" ;;
    empty) (($# == 2)) || usage; cmd_empty "$1" "$2" ;;
    *) usage ;;
    esac
}

main "$@"
