# Turns the window benchmark's measurements into a Markdown table.
# Input lines: CASE<TAB>ROAD<TAB>TIME_MS<TAB>STALL_MS<TAB>PEAK_KIB<TAB>PER_MESSAGE_MS
# STALL_MS and PER_MESSAGE_MS may be "-". Cases and roads keep the order they
# first appear in; the road named "curl" is the yardstick of each case.
# Variables: aim_stall (ms; the longest stall allowed to the window).
# median() and number() come from bench/stats.awk.
BEGIN { FS = "\t" }

NF != 6 || !number($3) || !($4 == "-" || number($4)) || !number($5) || !($6 == "-" || number($6)) {
    printf "summarize: bad input line %d: %s\n", NR, $0 > "/dev/stderr"
    bad = 1
    exit 2
}

{
    if (!($1 in seenCase)) { seenCase[$1] = 1; cases[++ncases] = $1 }
    key = $1 SUBSEP $2
    if (!(key in count)) roads[$1, ++nroads[$1]] = $2
    k = ++count[key]
    ms[key, k] = $3; stall[key, k] = $4; kib[key, k] = $5; per[key, k] = $6
}

END {
    if (bad) exit 2
    if (ncases == 0) {
        print "summarize: no measurements" > "/dev/stderr"
        exit 2
    }
    print "| message | road | runs | time ms median | min | max | x curl | longest stall ms median | max | per message ms median | peak MiB median |"
    print "| --- | --- | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: |"
    for (c = 1; c <= ncases; c++) {
        cs = cases[c]
        base = ((cs, "curl") in count) ? median_of(cs, "curl") : ""
        for (r = 1; r <= nroads[cs]; r++) {
            rd = roads[cs, r]; key = cs SUBSEP rd; n = count[key]
            for (i = 1; i <= n; i++) a[i] = ms[key, i]
            m = median(a, n); mlo = lo; mhi = hi
            ratio = (base != "" && rd != "curl" && base > 0) ? sprintf("%.2f", m / base) : "-"
            st = "-"; stmax = "-"
            if (stall[key, 1] != "-") {
                for (i = 1; i <= n; i++) a[i] = stall[key, i]
                st = sprintf("%.1f", median(a, n)); stmax = sprintf("%.1f", hi)
                worst[key] = hi
            }
            pm = "-"
            if (per[key, 1] != "-") {
                for (i = 1; i <= n; i++) a[i] = per[key, i]
                pm = sprintf("%.2f", median(a, n))
            }
            for (i = 1; i <= n; i++) a[i] = kib[key, i] / 1024
            mib = median(a, n)
            printf "| %s | %s | %d | %.1f | %.1f | %.1f | %s | %s | %s | %s | %.1f |\n", \
                cs, rd, n, m, mlo, mhi, ratio, st, stmax, pm, mib
            delete a
        }
    }
    if (aim_stall == "") exit 0
    print ""
    for (c = 1; c <= ncases; c++) {
        cs = cases[c]; key = cs SUBSEP "window"
        if (!(key in worst)) continue
        printf "- %s: longest stall of the window %.1f ms in %d runs; aim (under %s ms) %s\n", \
            cs, worst[key], count[key], aim_stall, (worst[key] < aim_stall ? "met" : "**not met**")
    }
}

function median_of(cs, rd,    key, n, i, b) {
    key = cs SUBSEP rd; n = count[key]
    for (i = 1; i <= n; i++) b[i] = ms[key, i]
    return median(b, n)
}
