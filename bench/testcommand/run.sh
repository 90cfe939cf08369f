#!/bin/bash
# The README's test command as CI meets it: a clean clone of the committed
# tree, no compiler cache, both rounds. Writes the "## The test command"
# section of docs/PERFORMANCE.md with the time of each step.
#
#   bench/testcommand/run.sh [--write]
#
# Packages already installed here are not installed again; the section says
# what the installs took on this machine when it was new (apt's own log).
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
write=
[ "${1:-}" = --write ] && write=1

work=$(mktemp -d /tmp/orvtestcmd.XXXXXX)
trap 'rm -rf "$work"' EXIT
git clone -q "$repo" "$work/clone"
commit=$(git -C "$work/clone" rev-parse --short HEAD)
load=$(cut -d' ' -f1 /proc/loadavg)
log=$work/test.log
start=$SECONDS
status=0
(cd "$work/clone" && CCACHE_DISABLE=1 scripts/test.sh) >"$log" 2>&1 || status=$?
total=$(( SECONDS - start ))
grep '^== took:' "$log" || true
passed=$(grep -c 'tests passed, 0 tests failed' "$log" || true)
counts=$(grep -o '[0-9]* tests failed out of [0-9]*' "$log" | sed 's/.* out of //' | paste -sd/ -)
if [ "$status" != 0 ]; then
    tail -40 "$log" >&2
    cp "$log" /tmp/orv-testcommand-failed.log
    echo "run.sh: the test command failed (exit $status); nothing written; its output is in /tmp/orv-testcommand-failed.log" >&2
    exit 1
fi

# What apt logged when this machine first installed the test packages.
installs=$(awk '
    /^Start-Date:/ { start = $2 " " $3 }
    /^Commandline:/ { ours = ($0 ~ /qt6-base-dev/ && $0 ~ /postfix/) }
    /^End-Date:/ && ours { print start "|" $2 " " $3; exit }' /var/log/apt/history.log 2>/dev/null || true)
install_note="This machine's apt log holds no install of the test packages."
if [ -n "$installs" ]; then
    from=$(date -d "${installs%%|*}" +%s) to=$(date -d "${installs##*|}" +%s)
    install_note="When this machine was new, apt installed the test packages in $(( to - from )) s (its own log, unpacking and setting up; the download before it is not logged)."
fi

steps=$(grep '^== took:' "$log" | sed 's/^== took: \(.*\) \([0-9]*\) s$/| \1 | \2 |/')
section=$(cat <<MD
## The test command

\`scripts/test.sh\` (what README.md gives and \`.ci/run\` calls) on a clean clone of commit
$commit, with no compiler cache, on $(nproc) cores, load average $load at the start;
$(date -u +%Y-%m-%d). Both rounds passed ($passed of 2; tests per round: $counts).
Command: \`bench/testcommand/run.sh --write\`

| step | seconds |
| --- | ---: |
$steps

Whole command as timed from outside: $total s. $install_note

What makes it: the tests run side by side (two more at a time than there are processors;
the tests that use the shared mailboxes take turns), the longest tests start first, the
sanitized build compiles at the lowest priority while the first round runs, the Qt headers
are parsed once per library (precompiled), moc output is compiled with its class (the file
automoc adds to each target is empty and loads no precompiled header), test code and the
sanitized build are compiled with -O1 and line tables only, the benchmark programs are left
out of the sanitized build, Ninja drives the build and gold links it.
MD
)
echo "$section"
[ -n "$write" ] || exit 0
python3 "$repo/bench/writesection.py" "$repo/docs/PERFORMANCE.md" "## The test command" "$section"
