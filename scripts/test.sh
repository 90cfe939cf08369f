#!/bin/bash
# Installs what is missing, builds, and runs every test (headless; the
# tests start their own private mail servers on loopback), then runs the
# same suite again built with AddressSanitizer and UndefinedBehaviorSanitizer
# in build-sanitize/. Arguments go to ctest (e.g. -R tst_window);
# ORV_SANITIZE=0 leaves the second round out; ORV_TEST_JOBS sets how many
# tests run side by side (default: two more than the processors, as most
# tests spend their time waiting on servers and timers).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$here/build}
jobs=${ORV_TEST_JOBS:-$(( $(nproc) + 2 ))}
# Where the time goes, for whoever waits on this: one line per step.
took() { echo "== took: $1 $(( SECONDS - ${2:-$step} )) s"; step=$SECONDS; }
step=$SECONDS
"$here/scripts/deps.sh" test
took installs
export QT_QPA_PLATFORM=offscreen

BUILD_DIR=$build "$here/scripts/build.sh" -DORV_SANITIZE=OFF
took build

sanitize=${ORV_SANITIZE:-1}
sanitize_build=
sanitize_log=$build-sanitize.log
if [ "$sanitize" != 0 ]; then
    # The sanitized build compiles while the first round runs, at the lowest
    # priority, so that it takes only the processor time the tests leave.
    setsid nice -n 19 env BUILD_DIR="$build-sanitize" "$here/scripts/build.sh" -DORV_SANITIZE=ON \
        >"$sanitize_log" 2>&1 &
    sanitize_build=$!
    trap '[ -n "$sanitize_build" ] && kill -TERM -- "-$sanitize_build" 2>/dev/null; true' EXIT
fi

(cd "$build" && ctest --output-on-failure --timeout 900 -j"$jobs" "$@")
took tests

if [ "$sanitize" != 0 ]; then
    echo "== the same tests under AddressSanitizer and UndefinedBehaviorSanitizer"
    built=0
    wait "$sanitize_build" || built=$?
    sanitize_build=
    took "sanitized build (the part not hidden behind the tests)"
    if [ "$built" != 0 ]; then
        cat "$sanitize_log"
        echo "the sanitized build failed (exit $built)" >&2
        exit "$built"
    fi
    export ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1
    export LSAN_OPTIONS=suppressions=$here/tests/lsan.supp:print_suppressions=0
    (cd "$build-sanitize" && ctest --output-on-failure --timeout 1800 -j"$jobs" "$@")
    took "sanitized tests"
fi
took "all in all" 0
