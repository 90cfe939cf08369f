# Turns the sending benchmark's measurements into a Markdown table.
# Input lines: ROUND<TAB>ROAD<TAB>TIME_MS<TAB>STALL_MS<TAB>PEAK_KIB
# STALL_MS and PEAK_KIB may be "-". Roads keep the order they first appear
# in; the road named "curl" is the yardstick, compared round by round.
# Variables: aim_ratio (the window's time over curl's allowed in every round).
# median() and number() come from bench/stats.awk.
BEGIN { FS = "\t" }

NF != 5 || $1 !~ /^[0-9]+$/ || !number($3) || !($4 == "-" || number($4)) || !($5 == "-" || number($5)) {
    printf "sendsummary: bad input line %d: %s\n", NR, $0 > "/dev/stderr"
    bad = 1
    exit 2
}

{
    if (!($2 in count)) roads[++nroads] = $2
    k = ++count[$2]
    round[$2, k] = $1; ms[$2, k] = $3; stall[$2, k] = $4; kib[$2, k] = $5
    if ($2 == "curl") curl[$1] = $3
}

END {
    if (bad) exit 2
    if (nroads == 0) {
        print "sendsummary: no measurements" > "/dev/stderr"
        exit 2
    }
    print "| road | runs | time ms median | min | max | x curl median | x curl worst | longest stall ms median | max | peak MiB median |"
    print "| --- | --- | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: |"
    for (r = 1; r <= nroads; r++) {
        rd = roads[r]; n = count[rd]
        for (i = 1; i <= n; i++) a[i] = ms[rd, i]
        m = median(a, n); mlo = lo; mhi = hi
        xm = "-"; xw = "-"; pairs = 0
        if (rd != "curl") {
            for (i = 1; i <= n; i++)
                if ((round[rd, i] in curl) && curl[round[rd, i]] > 0)
                    x[++pairs] = ms[rd, i] / curl[round[rd, i]]
            if (pairs > 0) {
                xm = sprintf("%.2f", median(x, pairs)); xw = sprintf("%.2f", hi)
                worst[rd] = hi; paired[rd] = pairs
            }
            delete x
        }
        st = "-"; stmax = "-"
        if (stall[rd, 1] != "-") {
            for (i = 1; i <= n; i++) a[i] = stall[rd, i]
            st = sprintf("%.1f", median(a, n)); stmax = sprintf("%.1f", hi)
        }
        mib = "-"
        if (kib[rd, 1] != "-") {
            for (i = 1; i <= n; i++) a[i] = kib[rd, i] / 1024
            mib = sprintf("%.1f", median(a, n))
        }
        printf "| %s | %d | %.1f | %.1f | %.1f | %s | %s | %s | %s | %s |\n", \
            rd, n, m, mlo, mhi, xm, xw, st, stmax, mib
        delete a
    }
    if (aim_ratio == "" || !("window" in worst)) exit 0
    print ""
    printf "- window: at most %.2f x curl in %d rounds; aim (at most %s x in every round) %s\n", \
        worst["window"], paired["window"], aim_ratio, \
        (worst["window"] <= aim_ratio + 0 ? "met" : "**not met**")
}
