# Writes one test message of about `bytes` octets (LF line ends) to stdout.
# Variables: shape = text (lines of about 70 characters, like prose) or
#            oneline (the whole body one line of words), bytes, seed, subject.
# Words from a fixed list with a seeded generator: the same input every run.
BEGIN {
    if (shape != "text" && shape != "oneline") {
        print "makemail: shape must be text or oneline" > "/dev/stderr"
        exit 2
    }
    if (bytes !~ /^[0-9]+$/ || bytes < 1) {
        print "makemail: bytes must be a positive whole number" > "/dev/stderr"
        exit 2
    }
    srand(seed == "" ? 1 : seed)
    n = split("the of and to in is that for it as was with be by on not he this are or " \
              "his from at which but have an they you were her she there been one all we " \
              "their has would when if so no will more other what about up out them some " \
              "could into than then its time only new these two may first any like now " \
              "message mailbox server window retrieval answer question letter paragraph " \
              "Tuesday December quarterly invoice meeting schedule attached regards " \
              "naïve café résumé Zürich", word, " ")
    head = "From: Alice Example <alice@orvanta.test>\n" \
           "To: Alice Example <alice@orvanta.test>\n" \
           "Subject: " (subject == "" ? "Benchmark " shape : subject) "\n" \
           "Date: Tue, 08 Dec 2026 12:00:00 +0000\n" \
           "Message-ID: <bench-" shape "-" seed "@orvanta.test>\n" \
           "MIME-Version: 1.0\n" \
           "Content-Type: text/plain; charset=utf-8\n" \
           "\n"
    printf "%s", head
    left = bytes - length(head)
    # A paragraph of words, a line break when the line would pass 70
    # characters (text), or never (oneline). Sizes are counted in characters,
    # which is within a few per cent of octets for this word list.
    line = ""
    while (left > 0) {
        w = word[int(rand() * n) + 1]
        if (line == "") {
            line = w
        } else if (shape == "text" && length(line) + 1 + length(w) > 70) {
            print line
            left -= length(line) + 1
            line = w
            # A blank line now and then, as between paragraphs.
            if (rand() < 0.08) { print ""; left -= 1 }
        } else {
            line = line " " w
            if (shape == "oneline" && length(line) >= 4096) {
                printf "%s ", line
                left -= length(line) + 1
                line = ""
            }
        }
    }
    if (line != "") print line
    else if (shape == "oneline") print ""
}
