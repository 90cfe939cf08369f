# Replaces one "## " section of a Markdown file with the contents of another
# file, leaving every other section as it was; appends the section when the
# file has none yet.
# Variables: heading (e.g. "## Start-up"), body (path of the new section,
# heading line included).
BEGIN {
    while ((getline line < body) > 0) new = new line "\n"
    close(body)
    if (new == "") {
        print "section: empty new section" > "/dev/stderr"
        failed = 1
        exit 2
    }
}

# A "## " inside a code block is text, not a heading.
/^(```|~~~)/ { fenced = !fenced }

!fenced && /^## / {
    title = $0
    sub(/[ \t]+$/, "", title)
    if (title == heading) {
        if (!done) printf "%s", new
        done = 1
        skipping = 1
        next
    }
    if (skipping) {
        skipping = 0
        # Keep one blank line between our section and the next.
        print ""
    }
}

!skipping { print; last = $0 }

END {
    if (failed) exit 2
    if (!done) {
        if (NR > 0 && last != "") print ""
        printf "%s", new
    }
}
