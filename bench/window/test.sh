#!/bin/bash
# Checks the window benchmark's report: the table from known measurements,
# bad input refused, and the generated messages having the shapes measured.
set -u
here=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d /tmp/window-bench-test.XXXXXX)
trap 'rm -rf "$tmp"' EXIT
failures=0
check() { # description command...
    local what=$1
    shift
    if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}

# Three runs of a case: medians, min/max, the ratio to curl's median, the
# stall verdict from the worst run.
printf '%s\n' \
    $'big\twindow\t300\t40\t102400\t-' \
    $'big\twindow\t100\t60\t104448\t-' \
    $'big\twindow\t200\t20\t103424\t-' \
    $'big\tcurl\t50\t-\t10240\t-' \
    $'big\tcurl\t150\t-\t10240\t-' \
    $'box\twindow\t2000\t10\t30720\t1.5' \
    $'box\tcurl\t500\t-\t10240\t-' >"$tmp/in"
awk -v aim_stall=50 -f "$here/../stats.awk" -f "$here/summarize.awk" "$tmp/in" >"$tmp/out"
check "window row: medians, range, ratio, stalls, memory" \
    grep -qxF '| big | window | 3 | 200.0 | 100.0 | 300.0 | 2.00 | 40.0 | 60.0 | - | 101.0 |' "$tmp/out"
check "curl row: even count takes the middle two" \
    grep -qxF '| big | curl | 2 | 100.0 | 50.0 | 150.0 | - | - | - | - | 10.0 |' "$tmp/out"
check "per-message median shown for the stepped mailbox" \
    grep -qxF '| box | window | 1 | 2000.0 | 2000.0 | 2000.0 | 4.00 | 10.0 | 10.0 | 1.50 | 30.0 |' "$tmp/out"
check "the worst stall decides the aim" \
    grep -qF -- '- big: longest stall of the window 60.0 ms in 3 runs; aim (under 50 ms) **not met**' "$tmp/out"
check "a case within the aim says so" grep -qF -- '- box: longest stall of the window 10.0 ms in 1 runs; aim (under 50 ms) met' "$tmp/out"

printf 'big\twindow\tslow\t1\t1\t-\n' >"$tmp/bad"
check "a malformed line is refused" \
    bash -c '! awk -f "$1" -f "$2" "$3" >/dev/null 2>&1' _ "$here/../stats.awk" "$here/summarize.awk" "$tmp/bad"
check "no measurements is an error" \
    bash -c '! awk -f "$1" -f "$2" /dev/null >/dev/null 2>&1' _ "$here/../stats.awk" "$here/summarize.awk"

# The messages: about the size asked for, lines of at most 70 characters or a
# body of one line, and the same bytes for the same seed.
awk -v shape=text -v bytes=200000 -v seed=7 -f "$here/makemail.awk" >"$tmp/text.eml"
awk -v shape=text -v bytes=200000 -v seed=7 -f "$here/makemail.awk" >"$tmp/again.eml"
awk -v shape=oneline -v bytes=200000 -v seed=7 -f "$here/makemail.awk" >"$tmp/one.eml"
size_near() { local n; n=$(wc -c <"$1"); [ "$n" -ge 200000 ] && [ "$n" -le 210000 ]; }
check "text message has the size asked for" size_near "$tmp/text.eml"
check "one-line message has the size asked for" size_near "$tmp/one.eml"
check "text lines are at most 70 characters" \
    bash -c 'awk "length(\$0) > 70 { bad = 1 } END { exit bad }" "$1"' _ "$tmp/text.eml"
check "one-line body is one line after the header" \
    bash -c '[ "$(awk "/^\$/ { body = 1; next } body" "$1" | wc -l)" -eq 1 ]' _ "$tmp/one.eml"
check "same seed, same message" cmp -s "$tmp/text.eml" "$tmp/again.eml"
check "a bad shape is refused" \
    bash -c '! awk -v shape=html -v bytes=10 -f "$1" >/dev/null 2>&1' _ "$here/makemail.awk"

echo "$failures failed"
[ "$failures" -eq 0 ]
