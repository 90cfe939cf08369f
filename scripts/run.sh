#!/bin/bash
# Installs what is missing, builds, and starts the program.
#   scripts/run.sh              the demo: private mail servers on this
#                               machine, a demo mailbox, the program set up
#                               for them (scripts/demo.sh)
#   scripts/run.sh ARGS...      the program with these arguments, in the
#                               current folder (e.g. "someone@example.org,/tmp/note.txt")
#   scripts/run.sh --no-demo    the program without arguments, in the current folder
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
if (($# == 0)); then
    "$here/scripts/deps.sh" demo
    "$here/scripts/build.sh"
    exec "$here/scripts/demo.sh"
fi
[[ $1 != --no-demo ]] || shift
"$here/scripts/deps.sh" build
"$here/scripts/build.sh"
exec "${BUILD_DIR:-$here/build}/src/main/orvmail" "$@"
