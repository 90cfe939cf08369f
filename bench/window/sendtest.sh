#!/bin/bash
# Checks the sending benchmark's report: ratios taken round by round, the
# worst round deciding the aim, bad input refused.
set -u
here=$(cd "$(dirname "$0")" && pwd)
failures=0
check() { # description expected-line input...
    local what=$1 want=$2 out
    shift 2
    out=$(printf '%s\n' "$@" | awk -v aim_ratio=1.1 -f "$here/../stats.awk" -f "$here/sendsummary.awk" 2>&1)
    if grep -qxF -- "$want" <<<"$out"; then echo "ok: $what"; else
        echo "FAILED: $what"; printf '%s\n' "$out"; failures=$((failures + 1)); fi
}

# Round 1: 330/300; round 2: 200/400. Ratios of medians would read 0.76.
rounds=($'1\twindow\t330\t12\t61440' $'1\tcurl\t300\t-\t-' $'2\tcurl\t400\t-\t-' $'2\twindow\t200\t8\t63488')
check "window row: medians, ratio median and worst round" \
    '| window | 2 | 265.0 | 200.0 | 330.0 | 0.80 | 1.10 | 10.0 | 12.0 | 61.0 |' "${rounds[@]}"
check "curl row has no ratio" '| curl | 2 | 350.0 | 300.0 | 400.0 | - | - | - | - | - |' "${rounds[@]}"
check "the worst round meets the aim exactly" \
    '- window: at most 1.10 x curl in 2 rounds; aim (at most 1.1 x in every round) met' "${rounds[@]}"
check "one slow round misses it" \
    '- window: at most 1.20 x curl in 2 rounds; aim (at most 1.1 x in every round) **not met**' \
    $'1\twindow\t360\t12\t61440' $'1\tcurl\t300\t-\t-' $'2\tcurl\t400\t-\t-' $'2\twindow\t200\t8\t63488'
check "a malformed line is refused" 'sendsummary: bad input line 1: x	window	1	1	1' $'x\twindow\t1\t1\t1'

[ "$failures" -eq 0 ]
