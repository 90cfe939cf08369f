#!/bin/bash
# Every benchmark in one go, each comparing us with its peers in the same run,
# and docs/PERFORMANCE.md rewritten from the results:
#   start-up time and memory (bench/startup), sending a 100 MiB file document
#   and retrieving a 20 MiB message beside curl, msmtp and mpop (bench/engines),
#   showing large messages, stepping through 1000 messages and the longest
#   stall of the UI thread (bench/window), sending a 20 MiB file through the
#   window beside curl (bench/window/send.sh), and what TLS costs on connect and
#   on a 20 MiB base64 attachment message beside curl (bench/tls), and the
#   test command on a clean clone (bench/testcommand).
#
#   bench/run.sh [BUILD_DIR]        (as root: the test mail servers need it)
#
# Installs what is missing (scripts/deps.sh bench) and builds first. Takes
# about ten minutes on two cores.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$repo/build}

"$repo/scripts/deps.sh" bench
BUILD_DIR=$build "$repo/scripts/build.sh"
"$repo/bench/startup/run.sh" --write "$build"
"$repo/bench/engines/run.sh" "$build"
"$repo/bench/window/run.sh" "$build" --write
"$repo/bench/window/send.sh" "$build" --write
"$repo/bench/tls/run.sh" "$build"
# The test command on a clean clone of the last commit takes a quarter of an
# hour; ORV_BENCH_TESTCOMMAND=0 leaves it out.
if [ "${ORV_BENCH_TESTCOMMAND:-1}" != 0 ]; then
    "$repo/bench/testcommand/run.sh" --write
fi
echo "docs/PERFORMANCE.md rewritten"
