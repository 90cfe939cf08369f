#!/bin/bash
# Installs what is missing, builds, and runs every test (headless; the
# tests start their own private mail servers on loopback), then builds the
# same suite with AddressSanitizer and UndefinedBehaviorSanitizer into
# build-sanitize/ and runs it again. Arguments go to ctest (e.g. -R tst_window);
# ORV_SANITIZE=0 leaves the second round out.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$here/build}
"$here/scripts/deps.sh" test
export QT_QPA_PLATFORM=offscreen

BUILD_DIR=$build "$here/scripts/build.sh" -DORV_SANITIZE=OFF
(cd "$build" && ctest --output-on-failure --timeout 900 "$@")

if [ "${ORV_SANITIZE:-1}" != 0 ]; then
    echo "== the same tests under AddressSanitizer and UndefinedBehaviorSanitizer"
    BUILD_DIR=$build-sanitize "$here/scripts/build.sh" -DORV_SANITIZE=ON
    export ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1
    export LSAN_OPTIONS=suppressions=$here/tests/lsan.supp:print_suppressions=0
    (cd "$build-sanitize" && ctest --output-on-failure --timeout 1800 "$@")
fi
