#!/bin/bash
# Installs what is missing, builds, and runs every test (headless; the
# tests start their own private mail servers on loopback).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/deps.sh" test
"$here/scripts/build.sh"
export QT_QPA_PLATFORM=offscreen
cd "${BUILD_DIR:-$here/build}"
ctest --output-on-failure --timeout 900 "$@"
