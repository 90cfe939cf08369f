#!/bin/sh
# Runs a test with a per-user configuration folder of its own, empty at the
# start and removed at the end: what one test trusts or remembers about a
# server never reaches another test, nor the user who runs the suite.
dir=$(mktemp -d "${TMPDIR:-/tmp}/orvcfg.XXXXXX") || exit 1
trap 'rm -rf "$dir"' INT TERM
XDG_CONFIG_HOME=$dir "$@"
status=$?
rm -rf "$dir"
exit $status
