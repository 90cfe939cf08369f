#!/bin/bash
# Installs what is missing, builds, and starts the program with any
# arguments given here (e.g. "someone@example.org,/tmp/note.txt").
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/deps.sh" build
"$here/scripts/build.sh"
exec "${BUILD_DIR:-$here/build}/src/main/orvmail" "$@"
