#!/usr/bin/env bash
# Measures the SMTP and POP engines side by side with peer clients against
# the same private Postfix and Dovecot, and writes the "## Engines" section
# of docs/PERFORMANCE.md.
#
#   bench/engines/run.sh [BUILD_DIR]      (default: build; RUNS=5 runs each)
#
# Sending: a 100 MB file document (ours) against the same body as a message
# file for msmtp and curl. Retrieving: one 20 MB message, ours against curl
# and mpop. Each figure is the median of RUNS runs, taken in turns so that a
# busy moment of the machine hits every client alike.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
BUILD=${1:-$ROOT/build}
BENCH=$BUILD/bench/engines/orv_enginebench
RUNS=${RUNS:-5}
[[ -x $BENCH ]] || { echo "build orv_enginebench first ($BENCH)" >&2; exit 1; }
for tool in msmtp mpop curl; do
    command -v "$tool" >/dev/null || { echo "missing peer tool: $tool (apt-get install $tool)" >&2; exit 1; }
done

WORK=$(mktemp -d /tmp/orvbench.XXXXXX)
SERVERS=$WORK/servers
cleanup() {
    "$ROOT/scripts/testservers.sh" stop "$SERVERS" >/dev/null 2>&1 || true
    rm -rf -- "$WORK"
}
trap cleanup EXIT
"$ROOT/scripts/testservers.sh" start "$SERVERS" >/dev/null
# shellcheck disable=SC1091
source "$SERVERS/servers.env"
SMTP=127.0.0.1:$SMTP_PORT
POP=127.0.0.1:$POP_PORT
FROM=alice@$DOMAIN
TO=bench@$DOMAIN        # lands in the catch-all mailbox
BOX=$MAILDIR_BASE/catchall

make_body() { # FILE MIB: ASCII lines of 76 octets, LF ends
    python3 - "$1" "$2" <<'PY'
import sys
line = b"The quick brown fox jumps over the lazy dog 0123456789 abcdefghijklmnopqrst\n"
with open(sys.argv[1], "wb") as f:
    f.write(line * (int(sys.argv[2]) * 1024 * 1024 // len(line)))
PY
}
make_body "$WORK/body100.txt" 100
make_body "$WORK/body10.txt" 10
make_body "$WORK/body20.txt" 20
{ printf 'From: %s\nTo: %s\nSubject: bench\n\n' "$FROM" "$TO"; cat "$WORK/body100.txt"; } >"$WORK/msg100.eml"
{ printf 'From: %s\nTo: bob@%s\nSubject: bench20\n\n' "$FROM" "$DOMAIN"; cat "$WORK/body20.txt"; } >"$WORK/msg20.eml"

# Runs a command; prints "wall_seconds maxrss_kb" (GNU time).
timed() {
    /usr/bin/time -f '%e %M' -o "$WORK/time" "$@" >"$WORK/out" 2>"$WORK/err" || {
        echo "failed: $*" >&2; cat "$WORK/err" >&2; exit 1; }
    cat "$WORK/time"
}
# Our own figure: the engine's time from Connect to the document's end (the
# harness's process start is not the engine's cost), and its peak memory.
ours() {
    timed "$BENCH" "$@" >/dev/null
    sed -E 's/seconds=([0-9.]+) bytes=[0-9]+ maxrss_kb=([0-9]+)/\1 \2/' "$WORK/out"
}
# Waits until Postfix has delivered what it queued, then empties the box, so
# that one run's delivery does not slow the next one down.
settle() {
    local deadline=$((SECONDS + 60))
    while ((SECONDS < deadline)); do
        [[ -z $(find "$SERVERS/postfix-queue" -type f -path '*active*' -o -type f -path '*incoming*' 2>/dev/null | head -1) ]] \
            && [[ -n $(find "$BOX/new" -type f | head -1) ]] && break
        sleep 0.1
    done
    "$ROOT/scripts/testservers.sh" empty "$SERVERS" catchall
}
median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }

declare -A T M
record() { # NAME "secs kb"
    T[$1]+="${2% *} "
    local kb=${2#* }
    [[ -z ${M[$1]:-} || $kb -gt ${M[$1]} ]] && M[$1]=$kb
    return 0
}

echo "sending 100 MB, $RUNS runs each..." >&2
for ((i = 0; i < RUNS; i++)); do
    record send_ours "$(ours send "$SMTP" "$FROM" "$TO" "$WORK/body100.txt")"; settle
    record send_curl "$(timed curl -sS --url "smtp://$SMTP" --mail-from "$FROM" --mail-rcpt "$TO" \
        --upload-file "$WORK/msg100.eml" --crlf)"; settle
    record send_msmtp "$(timed sh -c "msmtp --host=127.0.0.1 --port=$SMTP_PORT --auth=off --tls=off \
        --from=$FROM -- $TO < '$WORK/msg100.eml'")"; settle
done
record send10_ours "$(ours send "$SMTP" "$FROM" "$TO" "$WORK/body10.txt")"; settle

echo "retrieving 20 MB, $RUNS runs each..." >&2
"$ROOT/scripts/testservers.sh" empty "$SERVERS" bob
"$ROOT/scripts/testservers.sh" seed "$SERVERS" bob "$WORK/msg20.eml"
mkdir -p "$WORK/mpop/cur" "$WORK/mpop/new" "$WORK/mpop/tmp"
for ((i = 0; i < RUNS; i++)); do
    record retr_ours "$(ours retr "$POP" bob bob-pw 1)"
    record retr_curl "$(timed curl -sS -u bob:bob-pw "pop3://$POP/1" -o "$WORK/curl.eml")"
    rm -f "$WORK/uidls" "$WORK"/mpop/new/*
    record retr_mpop "$(timed mpop --host=127.0.0.1 --port="$POP_PORT" --auth=user --user=bob \
        --passwordeval='echo bob-pw' --tls=off --keep=on --only-new=off --received-header=off \
        --delivery="maildir,$WORK/mpop" --uidls-file="$WORK/uidls")"
done

med() { tr ' ' '\n' <<<"${T[$1]}" | grep . | median; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }
min2() { awk -v a="$1" -v b="$2" 'BEGIN {print (a < b) ? a : b}'; }

s_ours=$(med send_ours) s_curl=$(med send_curl) s_msmtp=$(med send_msmtp)
r_ours=$(med retr_ours) r_curl=$(med retr_curl) r_mpop=$(med retr_mpop)
s_best=$(min2 "$s_curl" "$s_msmtp")
r_best=$(min2 "$r_curl" "$r_mpop")
s_ratio=$(ratio "$s_ours" "$s_best")
r_ratio=$(ratio "$r_ours" "$r_best")

SECTION=$(cat <<MD
## Engines

Measured by \`bench/engines/run.sh\` on $(date -u +%Y-%m-%d) ($(nproc) cores), against one private
Postfix and Dovecot on loopback started by \`scripts/testservers.sh\`; median of $RUNS runs taken in
turns. Our figure is the engine's time from \`Connect\` to the document's end (\`OnDocInput\` 5 or
\`OnDocOutput\` 5) as measured inside \`orv_enginebench\`, with the engines' module opened before
the clock starts (the program opens it once, at its first \`Connect\`: about 5 ms); the peers'
figures are their whole process (wall clock of GNU time), which includes their start-up of a few
milliseconds.

| Road | Orvanta controls | curl | msmtp / mpop | ratio to fastest peer |
|---|---|---|---|---|
| send 100 MiB file document | ${s_ours} s | ${s_curl} s | ${s_msmtp} s (msmtp) | ${s_ratio} |
| retrieve one 20 MiB message | ${r_ours} s | ${r_curl} s | ${r_mpop} s (mpop) | ${r_ratio} |

Peak memory of the sending harness (a whole Qt widgets process): ${M[send10_ours]} KB for a 10 MiB
file, ${M[send_ours]} KB for a 100 MiB file: the file is streamed in 256 KiB chunks with at most
1 MiB waiting in the socket, so memory does not follow the file's size. Retrieval peak:
${M[retr_ours]} KB (curl ${M[retr_curl]} KB, mpop ${M[retr_mpop]} KB).

What makes the figures: the envelope goes in one write when the server offers PIPELINING (never
before the EHLO reply); the body is scanned once to choose its encoding (a word-at-a-time scan) and
then streamed with line-end normalisation and dot-stuffing in one pass; replies and RETR data are
parsed in place with a read offset, and each socket read of up to 256 KiB becomes one data event.
CHUNKING (BDAT) was tried against this Postfix with a throw-away client and gave no measurable gain
over DATA (the server's own work dominates both), so the engine keeps DATA, whose dot-stuffing costs
one pass that already does the line-end normalisation.

Where the retrieve time goes: on this machine a page fault costs more than the work on the page,
and the retrieval used to take fresh memory for every read. Counted on the 20 MiB message
(\`valgrind --tool=callgrind\` instructions of the whole harness, minor faults from GNU time
\`%R\`, a harness that retrieves a one-line message takes 1,470): the dot-unstuffing copied each
line into a new body buffer per read (150.6 M instructions, a quarter of the faults) and the
MIME decoding copied that body again although it had no transfer encoding. Now lines that come in
CR LF and open with no dot are handed on where they lie in the read buffer, in one run per read, and
an identity body goes straight to the charset decoding: the whole harness went from 337.6 M to
185.5 M instructions (the unstuffing from 150.6 M to 15.1 M) and from 5,900-9,200 to 3,300-4,200
faults. What is left: the kernel's octets are copied out of the socket's own buffer (a fresh chunk
per kernel read, 21.3 M instructions plus its faults), made text once (21.6 M: ASCII scan and
Latin-1 widening into one new string per read, handed to the window) and their CR LF folded in
place (44.6 M). No allocator setting is used: the engine keeps the buffers it owns instead.

Commands (P = the servers' ports, FILE = the same body with a three-line header):

    orv_enginebench send 127.0.0.1:P alice@orvanta.test bench@orvanta.test body100.txt
    curl -sS --url smtp://127.0.0.1:P --mail-from alice@orvanta.test --mail-rcpt bench@orvanta.test --upload-file msg100.eml --crlf
    msmtp --host=127.0.0.1 --port=P --auth=off --tls=off --from=alice@orvanta.test -- bench@orvanta.test < msg100.eml
    orv_enginebench retr 127.0.0.1:P bob bob-pw 1
    curl -sS -u bob:bob-pw pop3://127.0.0.1:P/1 -o out.eml
    mpop --host=127.0.0.1 --port=P --auth=user --user=bob --passwordeval='echo bob-pw' --tls=off --keep=on --only-new=off --received-header=off --delivery=maildir,DIR --uidls-file=/abs/uidls

Raw times (s): send ours ${T[send_ours]}; curl ${T[send_curl]}; msmtp ${T[send_msmtp]};
retrieve ours ${T[retr_ours]}; curl ${T[retr_curl]}; mpop ${T[retr_mpop]}.
MD
)

DOC=$ROOT/docs/PERFORMANCE.md
mkdir -p "$ROOT/docs"
[[ -f $DOC ]] || printf '# Performance\n\n' >"$DOC"
# Replace our section (up to the next "## " heading) or append it.
python3 "$ROOT/bench/writesection.py" "$DOC" "## Engines" "$SECTION"
echo "$SECTION"
