#!/bin/bash
# Runs the fault matrix and rewrites its section ("## Fault matrix") of
# docs/RELIABILITY.md from what the controls did.
#   scripts/faulttable.sh [BUILD_DIR]      (default build/)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-${BUILD_DIR:-$here/build}}
[ -f "$build/CMakeCache.txt" ] || cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target tst_faults >/dev/null
cd "$build/tests/faults"
QT_QPA_PLATFORM=offscreen ORV_WRITE_FAULT_TABLE=1 ./tst_faults
echo "docs/RELIABILITY.md: section \"Fault matrix\" rewritten"
