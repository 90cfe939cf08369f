#!/bin/bash
# Fuzzes the reply parsers and MIME decoding with libFuzzer for a bounded time.
#   scripts/fuzz.sh [SECONDS] [TARGET...]   (default 60 s each, all targets)
# Configures build-fuzz/ (or $FUZZ_BUILD_DIR) with clang and ORV_FUZZ=ON,
# starts each target from its seed corpus in tests/fuzz/corpus/<target>
# (what it learns stays in the build folder) and prints a summary. A crash
# leaves its input in build-fuzz/crashes/: fix the parser, then copy the
# input into tests/fuzz/regressions/<target>/ so that tst_fuzzreplay keeps it.
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD_DIR:-$here/build-fuzz}
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(smtp_reply pop_status pop_retr mime_body)

command -v clang++ >/dev/null || { echo "fuzz.sh: clang++ is needed (apt-get install clang libclang-rt-dev)" >&2; exit 2; }
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$here" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DORV_FUZZ=ON "${launcher[@]}" >/dev/null || exit 1
cmake --build "$build" -j"$(nproc)" --target "${targets[@]/#/fuzz_}" >/dev/null || exit 1

mkdir -p "$build/crashes"
summary=()
failed=0
for t in "${targets[@]}"; do
    dict=$here/tests/fuzz/pop.dict
    [ "$t" = smtp_reply ] && dict=$here/tests/fuzz/smtp_reply.dict
    # mime_body also reads each input stretched to a megabyte, well under a
    # second of linear work even instrumented: an input that takes longer
    # shows work growing faster than the input, and fails as a timeout.
    timeout=10
    [ "$t" = mime_body ] && { dict=$here/tests/fuzz/mime.dict; timeout=5; }
    mkdir -p "$build/corpus/$t"
    log=$build/fuzz_$t.log
    echo "fuzzing $t for $seconds s"
    "$build/tests/fuzz/fuzz_$t" "$build/corpus/$t" "$here/tests/fuzz/corpus/$t" \
        -dict="$dict" -max_total_time="$seconds" -max_len=8192 -timeout="$timeout" -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$build/crashes/$t-" >"$log" 2>&1
    rc=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    last=$(grep -E '^#[0-9]+' "$log" | tail -1)
    cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
    ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
    corpus=$(ls "$build/corpus/$t" | wc -l)
    crashes=$(ls "$build/crashes" | grep -c "^$t-" || true)
    [ $rc -ne 0 ] && failed=1
    summary+=("$(printf '%-11s runs %-10s cov %-5s ft %-6s corpus %-6s crashes %s%s' "$t" "${runs:-?}" "${cov:-?}" \
                 "${ft:-?}" "$corpus" "$crashes" "$([ $rc -ne 0 ] && echo "  (exit $rc, see $log)")")")
done
echo
printf '%s\n' "${summary[@]}"
exit $failed
