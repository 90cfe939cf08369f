#!/usr/bin/env bash
# Checks testservers.sh against the real servers it starts: routing into
# Maildirs, POP logins, size limit, seeding, emptying, re-runs, two instances
# side by side, and stopping. Needs root; leaves nothing running.
#
#   scripts/testservers/check.sh
set -uo pipefail

TS=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/testservers.sh
WORK=$(mktemp -d /tmp/orvts-check.XXXXXX)
chmod 755 "$WORK"
STARTED=()
passed=0 failed=0

check() { # DESCRIPTION COMMAND...
    local what=$1
    shift
    if "$@"; then
        ((passed++))
    else
        ((failed++))
        printf 'FAIL: %s\n' "$what"
    fi
}

cleanup() {
    local d state
    for d in "${STARTED[@]}"; do
        "$TS" stop "$d" >/dev/null 2>&1
        state=$(sed -n 's/^STATE_DIR=//p' "$d/instance.env" 2>/dev/null)
        [[ $state == /tmp/orvts.* ]] && rm -rf -- "$state"
    done
    rm -rf -- "$WORK"
}
trap cleanup EXIT

# Minimal SMTP and POP3 clients, so the check needs nothing beyond perl-base.
read -r -d '' CLIENT <<'PERL'
use strict; use IO::Socket::INET;
my ($mode, $port, @a) = @ARGV;
my $s = IO::Socket::INET->new(PeerAddr => "127.0.0.1:$port", Timeout => 10) or die "connect: $!\n";
binmode $s;
sub reply { my $r = ""; while (my $l = <$s>) { $r .= $l; last if $l !~ /^\d{3}-/ } return $r }
sub line { my $l = <$s>; return defined $l ? $l : "" }
if ($mode eq "smtp") {            # smtp PORT FROM SIZE FILE RCPT... -> codes
    my ($from, $size, $file, @rcpt) = @a;
    my @codes; reply();
    print $s "EHLO check.test\r\n"; reply();
    print $s "MAIL FROM:<$from>" . ($size ? " SIZE=$size" : "") . "\r\n";
    my $r = reply(); push @codes, substr($r, 0, 3);
    my $ok = 0;
    if ($r =~ /^2/) { for (@rcpt) { print $s "RCPT TO:<$_>\r\n"; $r = reply();
        push @codes, substr($r, 0, 3); $ok++ if $r =~ /^2/ } }
    if ($ok) {
        print $s "DATA\r\n"; $r = reply(); push @codes, substr($r, 0, 3);
        open my $f, "<:raw", $file or die "$file: $!\n";
        while (my $l = <$f>) { $l =~ s/\r?\n\z//; $l = ".$l" if $l =~ /^\./; print $s "$l\r\n" }
        print $s ".\r\n"; push @codes, substr(reply(), 0, 3);
    }
    print $s "QUIT\r\n"; print join(" ", @codes), "\n";
} else {                          # pop PORT USER PASS [CMD [OUTFILE]]
    my ($user, $pass, $cmd, $out) = @a;
    line(); print $s "USER $user\r\n"; line();
    print $s "PASS $pass\r\n"; my $r = line();
    if ($r =~ /^\+OK/ && $cmd) {
        print $s "$cmd\r\n"; $r = line();
        if ($out && $r =~ /^\+OK/) {
            open my $f, ">:raw", $out or die "$out: $!\n";
            while (my $l = <$s>) { last if $l eq ".\r\n"; $l =~ s/^\.//; print $f $l }
        }
    }
    print $s "QUIT\r\n"; line(); $r =~ s/\r?\n\z//; print "$r\n";
}
PERL

smtp() { perl -e "$CLIENT" smtp "$@"; }
pop() { perl -e "$CLIENT" pop "$@"; }
env_of() { sed -n "s/^$2=//p" "$1/servers.env"; }
count() { find "$1" -maxdepth 1 -type f | wc -l; }
messages() { echo $(($(count "$1/new") + $(count "$1/cur"))); }

retr_all() { # PORT USER PASS PREFIX: fetches every message to PREFIX.N
    local n i
    n=$(pop "$1" "$2" "$3" STAT | cut -d' ' -f2)
    for ((i = 1; i <= n; i++)); do
        pop "$1" "$2" "$3" "RETR $i" "$4.$i" >/dev/null
    done
}

any_same() { # EXPECTED PREFIX [FILTER]: one fetched message equals EXPECTED
    local f
    for f in "$2".*; do
        cmp -s "$1" <(${3:-cat} "$f") && return 0
    done
    return 1
}
body() { sed '1,/^\r$/d' "$1"; }
crlf() { sed 's/\r$//; s/$/\r/' "$1"; }

wait_for_file() { # DIR PATTERN: delivery follows the 250 by ~100 ms
    local i
    for ((i = 0; i < 100; i++)); do
        grep -qlF -- "$2" "$1"/* 2>/dev/null && return 0
        sleep 0.1
    done
    return 1
}

is_closed() { ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

# ---- start, from a relative path
cd "$WORK" || exit 1
check "start with a relative DIR" "$TS" start one >/dev/null
A=$WORK/one
STARTED+=("$A")
for key in SMTP_HOST SMTP_PORT POP_HOST POP_PORT DOMAIN MAILDIR_BASE MAILDIR_OWNER \
    USER1 PASS1 USER4 PASS4; do
    check "servers.env has $key" test -n "$(env_of "$A" "$key")"
done
SP=$(env_of "$A" SMTP_PORT) PP=$(env_of "$A" POP_PORT) MB=$(env_of "$A" MAILDIR_BASE)
OWNER=$(env_of "$A" MAILDIR_OWNER)
check "ports differ" test "$SP" != "$PP"
check "MAILDIR_BASE is absolute" test "${MB:0:1}" = /
for u in alice bob carol catchall; do
    check "maildir of $u exists and belongs to the owner" \
        test -d "$MB/$u/tmp" -a "$(stat -c %u "$MB/$u/new")" = "$OWNER"
done

# ---- routing: address -> mailbox
while read -r rcpt box; do
    printf 'From: a@orvanta.test\nTo: %s\nSubject: route %s\n\nbody\n' "$rcpt" "$rcpt" >"$WORK/r.eml"
    check "$rcpt accepted" test "$(smtp "$SP" a@orvanta.test 0 "$WORK/r.eml" "$rcpt")" = "250 250 354 250"
    check "$rcpt lands in $box" wait_for_file "$MB/$box/new" "Subject: route $rcpt"
done <<'EOF'
alice@orvanta.test alice
BOB@Orvanta.TEST bob
someone.else@orvanta.test catchall
EOF
f=$(grep -lF "route alice@" "$MB/alice/new"/* | head -n1)
check "delivered file belongs to the owner" test "$(stat -c %u "$f")" = "$OWNER"
check "outside recipient refused, nothing relayed" \
    test "$(smtp "$SP" a@orvanta.test 0 "$WORK/r.eml" x@example.com)" = "250 550"
check "announced size over the limit refused" \
    test "$(smtp "$SP" a@orvanta.test 300000000 "$WORK/r.eml" alice@orvanta.test)" = "552"

# ---- a 60 MB document arrives whole
{
    printf 'From: a@orvanta.test\nTo: bob@orvanta.test\nSubject: large\n\n'
    head -c 45000000 /dev/urandom | base64 -w 76
} >"$WORK/big.eml"
check "60 MB message accepted" \
    test "$(smtp "$SP" a@orvanta.test "$(stat -c %s "$WORK/big.eml")" "$WORK/big.eml" bob@orvanta.test)" = "250 250 354 250"
check "60 MB message delivered" wait_for_file "$MB/bob/new" "Subject: large"
retr_all "$PP" bob bob-pw "$WORK/bob"
crlf "$WORK/big.eml" | body /dev/stdin >"$WORK/big.body"
check "60 MB body read back intact over POP" any_same "$WORK/big.body" "$WORK/bob" body
rm -f "$WORK/big.eml" "$WORK/big.body" "$WORK"/bob.*

# ---- POP logins
while read -r user pass want; do
    check "POP login $user/$pass -> $want" eval '[[ $(pop "$PP" "$user" "$pass") == "$want"* ]]'
done <<'EOF'
alice alice-pw +OK
alice@orvanta.test alice-pw +OK
ALICE alice-pw +OK
alice bob-pw -ERR
dave dave-pw -ERR
EOF

# ---- sign-in services: HOST PORT (servers.env keys) MODE MECH USER PASS -> result
host_of() { [[ $1 =~ ^[A-Z_]+$ ]] && env_of "$A" "$1" || printf '%s' "$1"; }
ALL=mechs=PLAIN,LOGIN,SCRAM-SHA-1,SCRAM-SHA-256 SENT="mail=250 rcpt=250 data=250"
REFUSED="mail=530 5.7.0 <a@orvanta.test>: Sender address rejected: Authentication required"
if command -v python3 >/dev/null; then
    while read -r host port mode mech user pass want; do
        got=$(python3 "${TS%/*}/testservers/signin-client.py" "$(host_of "$host")" "$(env_of "$A" "$port")" \
            "$mode" "$(env_of "$A" TLS_CA_FILE)" "$mech" "$user" "$pass" a@orvanta.test bob@orvanta.test 2>&1)
        want=${want//'$ALL'/$ALL} want=${want//'$SENT'/$SENT} want=${want//'$REFUSED'/$REFUSED}
        check "$port $mode $mech $user/$pass -> $want (got $got)" test "$got" = "$want"
    done <<'EOF'
SUBMIT_HOST SUBMIT_PORT clear - alice alice-pw mechs= mail=530 5.7.0 Must issue a STARTTLS command first
SUBMIT_HOST SUBMIT_PORT starttls - alice alice-pw $ALL $REFUSED
SUBMIT_HOST SUBMIT_PORT starttls SCRAM-SHA-256 alice@orvanta.test alice-pw $ALL auth=235 $SENT
SUBMIT_HOST SUBMIT_PORT starttls PLAIN alice bob-pw $ALL auth=535 $REFUSED
SUBMIT_HOST SUBMIT_SCRAM_SHA_256_PORT starttls SCRAM-SHA-256 alice alice-pw mechs=SCRAM-SHA-256 auth=235 $SENT
SUBMIT_HOST SUBMIT_SCRAM_SHA_256_PORT starttls PLAIN alice alice-pw mechs=SCRAM-SHA-256 auth=535 $REFUSED
SUBMIT_HOST SUBMIT_SCRAM_SHA_1_PORT starttls SCRAM-SHA-1 bob bob-pw mechs=SCRAM-SHA-1 auth=235 $SENT
SUBMIT_HOST SUBMIT_SCRAM_SHA_1_PORT starttls SCRAM-SHA-256 bob bob-pw mechs=SCRAM-SHA-1 auth=535 $REFUSED
SUBMIT_HOST SUBMIT_PLAIN_PORT starttls PLAIN carol carol-pw mechs=PLAIN auth=235 $SENT
SUBMIT_HOST SUBMIT_PLAIN_PORT starttls LOGIN carol carol-pw mechs=PLAIN auth=535 $REFUSED
SUBMIT_HOST SUBMIT_LOGIN_PORT starttls LOGIN catchall catchall-pw mechs=LOGIN auth=235 $SENT
SUBMIT_HOST SUBMIT_LOGIN_PORT starttls SCRAM-SHA-1 catchall catchall-pw mechs=LOGIN auth=535 $REFUSED
SUBMITS_HOST SUBMITS_PORT implicit - demo demo-pw $ALL $REFUSED
SUBMITS_HOST SUBMITS_PORT implicit PLAIN demo demo-pw $ALL auth=235 $SENT
127.0.0.1 SUBMIT_CLEAR_PORT clear - demo demo-pw $ALL $REFUSED
127.0.0.1 SUBMIT_CLEAR_PORT clear LOGIN DEMO@orvanta.test demo-pw $ALL auth=235 $SENT
127.0.0.1 SMTP_PORT clear - demo demo-pw mechs= $SENT
EOF
    check "mail sent after sign-in is delivered" wait_for_file "$MB/bob/new" "Subject: signed in with SCRAM-SHA-1"
else
    printf 'SKIP: the sign-in checks need python3\n'
fi

# ---- the self-signed pair fails a client that trusts only the test authority
for proto in smtp:SELFSIGNED_SMTP_PORT pop3:SELFSIGNED_POP_PORT; do
    check "${proto%%:*} on SELFSIGNED_HOST is self-signed" eval '[[ $(openssl s_client -starttls "${proto%%:*}" \
        -connect "$(env_of "$A" SELFSIGNED_HOST):$(env_of "$A" "${proto#*:}")" \
        -CAfile "$(env_of "$A" TLS_CA_FILE)" </dev/null 2>/dev/null) == *"Verify return code: 18 "* ]]'
done

# ---- the idle-closing SMTP hangs up after 2 s of silence
idle_close() {
    local fd line start=${EPOCHREALTIME/[.,]/}
    exec {fd}<>"/dev/tcp/127.0.0.1/$(env_of "$A" IDLE_SMTP_PORT)" || return 1
    read -r -t 5 line <&"$fd" && read -r -t 5 line <&"$fd"
    exec {fd}>&-
    local ms=$(((${EPOCHREALTIME/[.,]/} - start) / 1000))
    [[ $line == "421 4.4.2 "*"timeout exceeded"* ]] && ((ms > 1500 && ms < 4000))
}
check "idle SMTP says 421 after 2 s of silence" idle_close

# ---- seed and empty
printf 'Subject: lf\n\nline\n.dot line\n' >"$WORK/lf.eml"
printf 'Subject: crlf\r\n\r\nline\r\n' >"$WORK/crlf.eml"
check "seed two files" "$TS" seed "$A" carol "$WORK/lf.eml" "$WORK/crlf.eml"
check "seed the same file again" "$TS" seed "$A" carol@orvanta.test "$WORK/lf.eml"
check "three seeded messages with distinct names" test "$(count "$MB/carol/new")" = 3
check "seeded files belong to the owner" \
    test -z "$(find "$MB/carol/new" -type f ! -uid "$OWNER")"
check "POP sees the seeded messages" eval '[[ $(pop "$PP" carol carol-pw STAT) == "+OK 3 "* ]]'
retr_all "$PP" carol carol-pw "$WORK/carol"
for name in lf crlf; do
    crlf "$WORK/$name.eml" >"$WORK/$name.want"
    check "seeded $name message read back as sent" any_same "$WORK/$name.want" "$WORK/carol"
done
while read -r user file; do
    check "seed refused for $user $file" eval '! "$TS" seed "$A" "$user" "$WORK/lf.eml" $file 2>/dev/null'
done <<'EOF'
../alice
dave
alice /nonexistent/file
alice /tmp
EOF
check "refused seeds added nothing" test "$(messages "$MB/alice")" = 1
check "empty carol" "$TS" empty "$A" carol
check "read messages (cur) and new ones both gone" \
    test "$(count "$MB/carol/new")$(count "$MB/carol/cur")" = 00
check "POP sees an empty box" eval '[[ $(pop "$PP" carol carol-pw STAT) == "+OK 0 0"* ]]'

# ---- a second instance beside the first, in a folder the servers cannot
# use directly (space in the name)
B="$WORK/two words"
check "second instance starts" "$TS" start "$B" >/dev/null
STARTED+=("$B")
SP2=$(env_of "$B" SMTP_PORT) PP2=$(env_of "$B" POP_PORT) MB2=$(env_of "$B" MAILDIR_BASE)
check "second instance has its own ports" test "$SP2 $PP2" != "$SP $PP" -a "$SP2" != "$SP" -a "$PP2" != "$PP"
printf 'Subject: second\n\nx\n' >"$WORK/s.eml"
smtp "$SP2" a@orvanta.test 0 "$WORK/s.eml" alice@orvanta.test >/dev/null
check "second instance delivers into its own maildirs" wait_for_file "$MB2/alice/new" "Subject: second"
check "DIR/maildirs of the second instance leads there" test -d "$B/maildirs/alice/new"
check "stop the second instance" "$TS" stop "$B"
check "its ports are closed" eval 'is_closed "$SP2" && is_closed "$PP2"'
check "the first still answers" eval '[[ $(pop "$PP" alice alice-pw) == +OK* ]]'

# ---- re-run on a running instance
old_pid=$(sed -n 's/^POSTFIX_PID=//p' "$A/instance.env")
check "start again on a running instance" "$TS" start "$A" >/dev/null
check "the old servers are gone" test ! -e "/proc/$old_pid/status" -o "$(cut -d' ' -f3 "/proc/$old_pid/stat" 2>/dev/null)" = Z
SP=$(env_of "$A" SMTP_PORT) PP=$(env_of "$A" POP_PORT) MB=$(env_of "$A" MAILDIR_BASE)
check "fresh instance starts with empty boxes" test "$(messages "$MB/alice")" = 0
check "fresh instance answers" eval '[[ $(pop "$PP" alice alice-pw STAT) == "+OK 0 0"* ]]'

# ---- stop
check "stop" "$TS" stop "$A"
check "ports closed after stop" eval 'is_closed "$SP" && is_closed "$PP"'
check "stop again is harmless" "$TS" stop "$A"
check "DIR and logs stay for inspection" test -s "$A/log/postfix.log"
check "stop on a folder never started" "$TS" stop "$WORK/never"

# ---- a folder that holds other things is left alone
mkdir -p "$WORK/foreign" && echo keep >"$WORK/foreign/file"
check "start refuses a foreign non-empty folder" eval '! "$TS" start "$WORK/foreign" 2>/dev/null'
check "foreign folder untouched" test "$(ls -A "$WORK/foreign")" = file

printf "%d passed, %d failed\n" "$passed" "$failed"
((failed == 0))
