#!/bin/bash
# What loading the network stack and GNU SASL costs a program at start, before
# any code of its own runs: four programs that do nothing, linked against Qt
# Widgets alone, with Qt Network, with GNU SASL, and with both, each started
# 100 times in a row, the four taken in turns for ROUNDS rounds (default 9).
# Prints one line per program: the median over the rounds of the time per
# start, and its difference to Qt Widgets alone.
#
#   bench/startup/libraries.sh [ROUNDS]
set -euo pipefail
rounds=${1:-9}
[[ $rounds =~ ^[1-9][0-9]*$ ]] || { echo "usage: $0 [ROUNDS]" >&2; exit 2; }
tmp=$(mktemp -d /tmp/orv-libcost.XXXXXX)
trap 'rm -rf "$tmp"' EXIT

echo 'int main() { return 0; }' >"$tmp/empty.cpp"
declare -A modules=([widgets]="Qt6Widgets" [network]="Qt6Widgets Qt6Network"
                    [sasl]="Qt6Widgets libgsasl" [both]="Qt6Widgets Qt6Network libgsasl")
names=(widgets network sasl both)
for name in "${names[@]}"; do
    # --no-as-needed: the libraries are loaded although nothing calls them,
    # as they are for a program that calls them only later.
    # shellcheck disable=SC2086
    g++ -O2 "$tmp/empty.cpp" -o "$tmp/$name" -Wl,--no-as-needed $(pkg-config --libs ${modules[$name]})
done

for ((round = 1; round <= rounds; round++)); do
    for name in "${names[@]}"; do
        start=$EPOCHREALTIME
        for ((i = 0; i < 100; i++)); do "$tmp/$name"; done
        end=$EPOCHREALTIME
        awk -v n="$name" -v a="$start" -v b="$end" 'BEGIN { printf "%s %.3f\n", n, (b - a) * 10 }'
    done
done | sort -k1,1 -k2,2n | awk -v rounds="$rounds" '
    { v[$1, ++c[$1]] = $2 }
    END {
        split("widgets network sasl both", order, " ")
        for (i = 1; i <= 4; i++) {
            n = order[i]
            m = (rounds % 2) ? v[n, (rounds + 1) / 2] : (v[n, rounds / 2] + v[n, rounds / 2 + 1]) / 2
            med[n] = m
        }
        label["widgets"] = "Qt Widgets alone"; label["network"] = "+ Qt Network"
        label["sasl"] = "+ GNU SASL"; label["both"] = "+ Qt Network + GNU SASL"
        for (i = 1; i <= 4; i++) {
            n = order[i]
            printf "%-26s %6.2f ms a start  %+5.2f ms\n", label[n], med[n], med[n] - med["widgets"]
        }
    }'
