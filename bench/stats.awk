# Shared by the benchmarks' summaries (awk -f bench/stats.awk -f SUMMARY.awk).

# The median of list[1..n]; sets lo and hi to the smallest and the largest.
function median(list, n,    v, i, j, t) {
    # Insertion sort: a few dozen values at most.
    for (i = 1; i <= n; i++) v[i] = list[i] + 0
    for (i = 2; i <= n; i++) {
        t = v[i]
        for (j = i - 1; j >= 1 && v[j] > t; j--) v[j + 1] = v[j]
        v[j + 1] = t
    }
    lo = v[1]; hi = v[n]
    return (n % 2) ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
}

function number(x) { return x ~ /^[0-9]+(\.[0-9]+)?$/ }
