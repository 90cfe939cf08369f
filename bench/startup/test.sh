#!/bin/bash
# Checks of the start-up benchmark's own tools.
#   test.sh report            the summary and the document update (no X needed)
#   test.sh launcher BUILD    the launcher and run.sh on a private Xvfb
# Exit 77 when the launcher checks cannot run here (no Xvfb or no launcher).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
mode=${1:-report}
build=${2:-}
passed=0
failed=0
tmp=$(mktemp -d /tmp/startup-test.XXXXXX)
xvfb_pid=
stranger_pid=
cleanup() {
    [ -n "$stranger_pid" ] && kill "$stranger_pid" 2>/dev/null && wait "$stranger_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    rm -rf "$tmp"
}
trap cleanup EXIT

ok() { passed=$((passed + 1)); }
bad() { failed=$((failed + 1)); echo "FAIL: $1" >&2; [ $# -gt 1 ] && printf '%s\n' "$2" | sed 's/^/    /' >&2; }
expect_eq() { [ "$2" == "$3" ] && ok || bad "$1" "expected: $3"$'\n'"got:      $2"; }
expect_match() { [[ $2 =~ $3 ]] && ok || bad "$1" "expected to match: $3"$'\n'"got: $2"; }

summarize() { awk -v aim_ms=15 -v aim_mib=8 -f "$here/../stats.awk" -f "$here/summarize.awk"; }

report_checks() {
    local out rc
    # label | input rows (label:ms:kib ...) | expected row or line
    while IFS='|' read -r name rows want; do
        out=$(tr ' :' '\n\t' <<<"$rows" | summarize)
        expect_match "summary: $name" "$out" "$want"
    done <<'EOF'
odd count takes the middle value|a:30:1024 a:10:1024 a:20:1024|\| a \| 3 \| 20\.0 \| 10\.0 \| 30\.0 \| 1\.0 \| 1\.0 \| 1\.0 \|
even count averages the middle two|a:10:1024 a:40:2048 a:20:1024 a:30:2048|\| a \| 4 \| 25\.0 \| 10\.0 \| 40\.0 \| 1\.5 \| 1\.0 \| 2\.0 \|
one run|a:12.5:24576|\| a \| 1 \| 12\.5 \| 12\.5 \| 12\.5 \| 24\.0 \| 24\.0 \| 24\.0 \|
compared with the first label, not the fastest|slow:50:10240 fast:40:8192|fast vs slow: -10\.0 ms \(x0\.80\), -2\.0 MiB
aim reached exactly counts as met|b:40:10240 m:55:18432|time met, memory met
over the aim on time only|b:40:10240 m:55.5:18432|time \*\*not met\*\*, memory met
over the aim on memory only|b:40:10240 m:41:18433|time met, memory \*\*not met\*\*
labels with spaces and a number|bare_Qt:40:10240 variant_2:41:10240|variant_2 vs bare_Qt
EOF

    # A yardstick named by the caller; the second reference gets no verdict.
    out=$(printf 'bare\t20\t1024\nplain\t30\t2048\nours\t36\t3072\n' \
        | awk -v aim_ms=5 -v aim_mib=4 -v base=plain -v also=bare -f "$here/../stats.awk" -f "$here/summarize.awk")
    expect_match "summary: held to the named yardstick" "$out" \
        $'\n- ours vs plain: \\+6\\.0 ms \\(x1\\.20\\), \\+1\\.0 MiB \\(x1\\.50\\); aim \\(within 5 ms and 4 MiB\\): time \\*\\*not met\\*\\*, memory met\n'
    expect_match "summary: also compared with the second reference, without an aim" "$out" \
        $'\n- ours vs bare: \\+16\\.0 ms \\(x1\\.80\\), \\+2\\.0 MiB \\(x3\\.00\\)$'
    expect_match "summary: the second reference against the yardstick, without an aim" "$out" \
        $'\n- bare vs plain: -10\\.0 ms \\(x0\\.67\\), -1\\.0 MiB \\(x0\\.50\\)\n'

    # Malformed input is refused, never summarised as if it were data.
    for input in $'a\t12ms\t100' $'a\t12\t100\textra' $'a\t12' ''; do
        out=$(printf '%s\n' "$input" | grep -v '^$' | summarize 2>&1)
        rc=$?
        [ $rc -eq 2 ] && [[ $out == summarize:* ]] && ok \
            || bad "summary refuses '$input'" "rc=$rc out=$out"
    done

    local body=$tmp/body
    printf '## Start-up\n\nNew figures.\n' >"$body"
    section() { awk -v heading='## Start-up' -v body="$body" -f "$here/section.awk"; }

    out=$(printf '# Performance\n\n## Engines\nE1\n\n## Start-up\nold\n### Old detail\nold\n\n## Sending\nS1\n' | section)
    expect_eq "document: our section replaced in place, the others kept" "$out" \
        $'# Performance\n\n## Engines\nE1\n\n## Start-up\n\nNew figures.\n\n## Sending\nS1'

    out=$(printf '# Performance\n\n## Engines\nE1\n' | section)
    expect_eq "document: section appended when missing" "$out" \
        $'# Performance\n\n## Engines\nE1\n\n## Start-up\n\nNew figures.'

    out=$(printf '# Performance\n\n## Start-up\nold\n' | section)
    expect_eq "document: last section replaced" "$out" $'# Performance\n\n## Start-up\n\nNew figures.'

    out=$(printf '# Performance\n\n## Engines\n```\n## Start-up\n```\n\n## Start-up times of engines\nkeep\n' | section)
    expect_eq "document: fenced text and longer headings are not our section" "$out" \
        $'# Performance\n\n## Engines\n```\n## Start-up\n```\n\n## Start-up times of engines\nkeep\n\n## Start-up\n\nNew figures.'

    out=$(printf '## Start-up  \nold\n## Start-up\nolder\n## Next\nN\n' | section)
    expect_eq "document: a repeated section is folded into one" "$out" \
        $'## Start-up\n\nNew figures.\n\n## Next\nN'

    : >"$body"
    out=$(printf '# Performance\n\n## Start-up\nold\n' | section 2>&1)
    rc=$?
    [ $rc -eq 2 ] && ok || bad "document: empty new section refused" "rc=$rc out=$out"
}

start_xvfb() {
    local n
    for n in $(seq 140 239); do
        [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
        Xvfb ":$n" -screen 0 1024x768x24 -dpi 96 -nolisten tcp >"$tmp/xvfb.log" 2>&1 &
        xvfb_pid=$!
        for _ in $(seq 100); do
            [ -S "/tmp/.X11-unix/X$n" ] && break
            kill -0 "$xvfb_pid" 2>/dev/null || break
            sleep 0.05
        done
        if [ -S "/tmp/.X11-unix/X$n" ] && kill -0 "$xvfb_pid" 2>/dev/null; then
            export DISPLAY=:$n
            return 0
        fi
        kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null
        xvfb_pid=
    done
    return 1
}

launcher_checks() {
    local sm=$build/bench/startup/startmap bare=$build/bench/startup/barewindow out rc t0
    mkdir -m 700 "$tmp/runtime"
    export XDG_RUNTIME_DIR=$tmp/runtime
    unset DBUS_SESSION_BUS_ADDRESS

    # A program that ends or never shows a window is reported as such, with a
    # failing status, within the time allowed.
    while IFS='|' read -r name want cmd; do
        t0=$SECONDS
        out=$(eval "\"$sm\" --timeout 1500 $cmd" 2>&1)
        rc=$?
        [ $rc -eq 1 ] && [[ $out =~ $want ]] && [ $((SECONDS - t0)) -lt 10 ] && ok \
            || bad "launcher: $name" "rc=$rc out=$out"
    done <<'EOF'
exits before mapping|exited with status 3 before mapping|sh -c 'exit 3'
dies before mapping|died of signal 9 before mapping|sh -c 'kill -KILL $$'
never maps|mapped no window within 1500 ms|sleep 30
cannot be run|cannot run /nonexistent/program|/nonexistent/program
EOF

    # The child starts in a fresh empty folder, removed afterwards, with the
    # settings it is given.
    out=$("$sm" --env ORV_PROBE=42 sh -c 'pwd; ls -A | wc -l; echo "$QT_QPA_PLATFORM $ORV_PROBE ${STARTMAP_T0_NS:+t0}"; : >left-behind; exit 5' 2>/dev/null)
    local lines=()
    mapfile -t lines <<<"$out"
    expect_eq "launcher: empty working folder" "${lines[1]:-}" 0
    expect_eq "launcher: child settings" "${lines[2]:-}" "xcb 42 t0"
    [ -n "${lines[0]:-}" ] && [ ! -e "${lines[0]}" ] && ok || bad "launcher: working folder removed" "${lines[0]:-}"

    for args in "--linger" "--timeout abc" "--env NOEQUALS true" "--env =x true" ""; do
        # shellcheck disable=SC2086
        "$sm" $args >/dev/null 2>&1
        expect_eq "launcher: usage error for '$args'" $? 2
    done

    # A relative program path still works from the child's own folder, and the
    # window measured is the child's.
    out=$(cd "$(dirname "$bare")" && "$sm" --linger 0 "./$(basename "$bare")" 2>/dev/null)
    expect_match "launcher: relative path, the child's window" "$out" \
        '^map_ms=[0-9]+\.[0-9]{3} maxrss_kib=[0-9]+ width=418 height=405$'

    # Someone else's window mapping meanwhile is not taken for the child's.
    (sleep 0.2; exec env QT_QPA_PLATFORM=xcb "$bare") 2>/dev/null &
    stranger_pid=$!
    out=$("$sm" --linger 0 sh -c "sleep 1.5; exec '$bare'" 2>/dev/null)
    kill "$stranger_pid" 2>/dev/null; wait "$stranger_pid" 2>/dev/null; stranger_pid=
    expect_match "launcher: a stranger's window is ignored" "$out" '^map_ms=(1[5-9]|[2-9][0-9])[0-9]{2}\.'

    # A program that ignores SIGTERM is still ended, and the series goes on.
    t0=$SECONDS
    out=$("$sm" --linger 0 sh -c "trap '' TERM; exec '$bare'" 2>/dev/null)
    rc=$?
    [ $rc -eq 0 ] && [[ $out == map_ms=* ]] && [ $((SECONDS - t0)) -lt 10 ] && ok \
        || bad "launcher: SIGTERM ignored" "rc=$rc out=$out"

    # What the program started in the background ends with it.
    out=$("$sm" --linger 0 sh -c "sleep 60 >/dev/null 2>&1 & echo \$! >'$tmp/grandchild'; exec '$bare'" 2>/dev/null)
    local gc gone=
    gc=$(cat "$tmp/grandchild" 2>/dev/null)
    for _ in $(seq 50); do
        [ -n "$gc" ] && { [ ! -e "/proc/$gc" ] || grep -q '^[0-9]* ([^)]*) Z' "/proc/$gc/stat" 2>/dev/null; } && { gone=1; break; }
        sleep 0.1
    done
    [[ $out == map_ms=* ]] && [ -n "$gone" ] && ok || bad "launcher: the program's own children end too" "out=$out gc=$gc"
    [ -z "$gone" ] && [ -n "$gc" ] && kill "$gc" 2>/dev/null

    # run.sh end to end on a copy of the layout, so that the real document is
    # left alone: its figures land in our section and nowhere else.
    mkdir -p "$tmp/repo/bench/startup" "$tmp/repo/docs"
    cp "$here/run.sh" "$here/summarize.awk" "$here/section.awk" "$tmp/repo/bench/startup/"
    cp "$here/../stats.awk" "$tmp/repo/bench/"
    printf '# Performance\n\n## Engines\nE1\n\n## Start-up\nOLD-FIGURES\n\n## Sending\nS1\n' >"$tmp/repo/docs/PERFORMANCE.md"
    out=$("$tmp/repo/bench/startup/run.sh" --write --no-session-bus --runs 1 --warmup 0 "$build" 2>&1)
    rc=$?
    local doc
    doc=$(cat "$tmp/repo/docs/PERFORMANCE.md")
    [ $rc -eq 0 ] && ok || bad "run.sh: --write succeeds" "$out"
    expect_match "run.sh: table of the three programs" "$out" \
        '\| bare Qt window \| 1 \|.*\| plain Qt window, same widgets \| 1 \|.*\| orvmail \| 1 \|'
    expect_match "run.sh: other sections kept" "$doc" $'^# Performance\n\n## Engines\nE1\n\n## Start-up\n.*\n\n## Sending\nS1$'
    expect_match "run.sh: the command is recorded" "$doc" 'Command: `bench/startup/run.sh --write --no-session-bus --runs 1 --warmup 0 '
    [[ $doc != *OLD-FIGURES* ]] && ok || bad "run.sh: old figures replaced" "$doc"

    out=$("$tmp/repo/bench/startup/run.sh" --runs 1 --warmup 0 --extra "broken=/bin/false" "$build" 2>&1)
    rc=$?
    [ $rc -ne 0 ] && [[ $out == *"measuring 'broken' failed"* ]] && ok \
        || bad "run.sh: a failing program fails the run" "rc=$rc out=$out"
}

case "$mode" in
    report) report_checks ;;
    launcher)
        [ -n "$build" ] || { echo "usage: $0 launcher BUILD_DIR" >&2; exit 2; }
        # The checks change folders: hold the build by its full path.
        build=$(cd "$build" && pwd) || exit 2
        if [ ! -x "$build/bench/startup/startmap" ] || ! command -v Xvfb >/dev/null; then
            echo "skipped: needs Xvfb and the launcher (libx11-dev)"; exit 77
        fi
        start_xvfb || { echo "skipped: could not start Xvfb"; exit 77; }
        launcher_checks ;;
    *) echo "usage: $0 report | launcher BUILD_DIR" >&2; exit 2 ;;
esac
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
