// SMTP replies: each parsed reply keeps the parser's limits, and a reply
// split across reads parses exactly as when it arrives whole.
#include "fuzzcuts.h"
#include "fuzzentries.h"
#include "smtp/smtpreply.h"

using namespace smtp;

namespace {
struct Parsed {
    QList<Reply> replies;
    QList<qsizetype> ends;
    ParseResult last = ParseResult::NeedMore;
};

void CheckReply(const Reply &reply)
{
    const int code = reply.code;
    FUZZ_CHECK(code / 100 >= 2 && code / 100 <= 5 && code / 10 % 10 <= 5);
    FUZZ_CHECK(!reply.lines.isEmpty() && reply.lines.size() <= kMaxReplyLines);
    FUZZ_CHECK(reply.multiline == (reply.lines.size() > 1));
    for (const QByteArray &line : reply.lines) {
        FUZZ_CHECK(line.size() <= kMaxReplyLine);
        FUZZ_CHECK(!line.contains('\n'));
    }
    FUZZ_CHECK(reply.RawLines().size() == reply.lines.size());
    (void)reply.Text();
}

// Reply after reply, as the session consumes its buffer.
Parsed ParseAll(QByteArrayView data)
{
    Parsed parsed;
    qsizetype pos = 0;
    for (;;) {
        Reply reply;
        qsizetype used = -1;
        QString error;
        parsed.last = ParseReply(data.sliced(pos), &reply, &used, &error);
        if (parsed.last == ParseResult::Invalid)
            FUZZ_CHECK(!error.isEmpty());
        if (parsed.last != ParseResult::Complete)
            return parsed;
        FUZZ_CHECK(used > 0 && used <= data.size() - pos);
        FUZZ_CHECK(data[pos + used - 1] == '\n');
        CheckReply(reply);
        pos += used;
        parsed.replies << reply;
        parsed.ends << pos;
    }
}
} // namespace

int FuzzSmtpReply(const uint8_t *bytes, size_t size)
{
    const QByteArrayView data(reinterpret_cast<const char *>(bytes), qsizetype(size));
    const Parsed whole = ParseAll(data);
    for (qsizetype cut : FuzzCuts(data, 3)) {
        const Parsed part = ParseAll(data.first(cut));
        FUZZ_CHECK(part.replies.size() <= whole.replies.size());
        for (qsizetype i = 0; i < part.replies.size(); ++i) {
            FUZZ_CHECK(part.ends[i] == whole.ends[i]);
            FUZZ_CHECK(part.replies[i].code == whole.replies[i].code);
            FUZZ_CHECK(part.replies[i].lines == whole.replies[i].lines);
        }
        // What the first read already refused, the whole refuses too.
        if (part.last == ParseResult::Invalid)
            FUZZ_CHECK(whole.last == ParseResult::Invalid && whole.replies.size() == part.replies.size());
    }
    return 0;
}
