# Turns measurements into a Markdown report.
# Input lines: LABEL<TAB>MAP_MS<TAB>MAXRSS_KIB.
# Variables: base, the yardstick every other program is compared with (the
# first label seen when not given); also, a second program everything else is
# compared with too, without an aim; aim_ms, aim_mib (the allowed excess over
# the yardstick).
# median() and number() come from bench/stats.awk.
BEGIN { FS = "\t" }

NF != 3 || $2 !~ /^[0-9]+(\.[0-9]+)?$/ || $3 !~ /^[0-9]+$/ {
    printf "summarize: bad input line %d: %s\n", NR, $0 > "/dev/stderr"
    bad = 1
    exit 2
}

{
    if (!($1 in count)) order[++labels] = $1
    k = ++count[$1]
    ms[$1, k] = $2
    kib[$1, k] = $3
}

END {
    if (bad) exit 2
    if (labels == 0) {
        print "summarize: no measurements" > "/dev/stderr"
        exit 2
    }
    print "| program | runs | map ms median | min | max | peak MiB median | min | max |"
    print "| --- | ---: | ---: | ---: | ---: | ---: | ---: | ---: |"
    for (p = 1; p <= labels; p++) {
        l = order[p]; n = count[l]
        for (i = 1; i <= n; i++) { a[i] = ms[l, i]; b[i] = kib[l, i] / 1024 }
        mms[l] = median(a, n); mslo = lo; mshi = hi
        mmb[l] = median(b, n); mblo = lo; mbhi = hi
        printf "| %s | %d | %.1f | %.1f | %.1f | %.1f | %.1f | %.1f |\n", \
            l, n, mms[l], mslo, mshi, mmb[l], mblo, mbhi
        delete a; delete b
    }
    if (base == "") base = order[1]
    if (!(base in count)) {
        printf "summarize: no measurements of %s\n", base > "/dev/stderr"
        exit 2
    }
    if (labels > 1) print ""
    for (p = 1; p <= labels; p++) {
        l = order[p]
        if (l == base) continue
        compare(l, base)
        if (l != also && aim_ms != "" && aim_mib != "")
            printf "; aim (within %s ms and %s MiB): time %s, memory %s", aim_ms, aim_mib, \
                (mms[l] - mms[base] <= aim_ms ? "met" : "**not met**"), \
                (mmb[l] - mmb[base] <= aim_mib ? "met" : "**not met**")
        printf "\n"
        if (l != also && also != "" && (also in count)) {
            compare(l, also)
            printf "\n"
        }
    }
}

function compare(l, ref,    dms, dmb) {
    dms = mms[l] - mms[ref]; dmb = mmb[l] - mmb[ref]
    printf "- %s vs %s: %+.1f ms (x%.2f), %+.1f MiB (x%.2f)", l, ref, \
        dms, mms[l] / mms[ref], dmb, mmb[l] / mmb[ref]
}
