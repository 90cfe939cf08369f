// The streaming RETR decoder: a message split across reads anywhere decodes
// exactly as when it arrives whole, the body keeps CRLF line ends, header
// names are names, and any text stuffed by the sending side comes back
// unchanged.
#include "fuzzcuts.h"
#include "fuzzentries.h"
#include "pop/popreply.h"
#include "smtp/smtpbody.h"

using namespace pop;

namespace {
struct Decoded {
    qsizetype consumed = 0;
    bool done = false;
    bool headersDone = false;
    QList<RawHeader> headers;
    QByteArray body;
};

// Feeds data in pieces ending at the cuts, as the session would.
Decoded Decode(QByteArrayView data, const QList<qsizetype> &cuts)
{
    RetrDecoder decoder;
    Decoded result;
    qsizetype pos = 0;
    QList<qsizetype> ends = cuts;
    ends << data.size();
    for (qsizetype end : ends) {
        if (decoder.Done() || end < pos)
            break;
        const QByteArrayView piece = data.sliced(pos, end - pos);
        const qsizetype taken = decoder.Feed(piece);
        FUZZ_CHECK(taken >= 0 && taken <= piece.size());
        if (!decoder.Done())
            FUZZ_CHECK(taken == piece.size());
        result.consumed += taken;
        result.body += decoder.TakeBody();
        pos = end;
    }
    result.done = decoder.Done();
    result.headersDone = decoder.HeadersDone();
    result.headers = decoder.Headers();
    return result;
}

void CheckDecoded(QByteArrayView data, const Decoded &decoded)
{
    if (decoded.done) {
        FUZZ_CHECK(decoded.consumed >= 2 && data[decoded.consumed - 1] == '\n');
        FUZZ_CHECK(decoded.headersDone);
    } else {
        FUZZ_CHECK(decoded.consumed == data.size());
    }
    for (qsizetype i = decoded.body.indexOf('\n'); i >= 0; i = decoded.body.indexOf('\n', i + 1))
        FUZZ_CHECK(i > 0 && decoded.body[i - 1] == '\r');
    for (const RawHeader &header : decoded.headers) {
        FUZZ_CHECK(!header.first.isEmpty());
        for (char c : header.first)
            FUZZ_CHECK(static_cast<unsigned char>(c) > 32 && static_cast<unsigned char>(c) < 127 && c != ':');
        FUZZ_CHECK(!header.second.contains('\n'));
        FUZZ_CHECK(header.second == header.second.trimmed());
    }
}

bool Same(const Decoded &a, const Decoded &b)
{
    return a.consumed == b.consumed && a.done == b.done && a.headersDone == b.headersDone
           && a.headers == b.headers && a.body == b.body;
}

// CRLF, CR and LF each end a line; a last line gets its CRLF.
QByteArray Normalized(QByteArrayView text)
{
    QByteArray out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            out += "\r\n";
            if (i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else if (text[i] == '\n') {
            out += "\r\n";
        } else {
            out += text[i];
        }
    }
    if (!out.isEmpty() && !out.endsWith("\r\n"))
        out += "\r\n";
    return out;
}
} // namespace

int FuzzPopRetr(const uint8_t *bytes, size_t size)
{
    const QByteArrayView data(reinterpret_cast<const char *>(bytes), qsizetype(size));

    // Whatever the server sends: split reads change nothing.
    const Decoded whole = Decode(data, {});
    CheckDecoded(data, whole);
    FUZZ_CHECK(Same(Decode(data, FuzzCuts(data, 6)), whole));
    if (size <= 256) {
        QList<qsizetype> everyByte;
        for (qsizetype i = 1; i < data.size(); ++i)
            everyByte << i;
        FUZZ_CHECK(Same(Decode(data, everyByte), whole));
    }

    // The input as message text: stuffed as the SMTP side sends it, then
    // decoded, it comes back with its line ends made CRLF and nothing else.
    QByteArray stream = "X-Fuzz: 1\r\n\r\n";
    smtp::DotStuffer stuffer;
    qsizetype pos = 0;
    for (qsizetype cut : FuzzCuts(data, 2)) {
        stuffer.Feed(data.sliced(pos, cut - pos), stream);
        pos = cut;
    }
    stuffer.Feed(data.sliced(pos), stream);
    stuffer.Finish(stream);
    QList<qsizetype> cuts;
    for (qsizetype cut : FuzzCuts(data, 4))
        cuts << cut * stream.size() / qMax<qsizetype>(data.size(), 1);
    const Decoded back = Decode(stream, cuts);
    FUZZ_CHECK(back.done && back.consumed == stream.size());
    FUZZ_CHECK(back.headers == (QList<RawHeader>{{"X-Fuzz", "1"}}));
    FUZZ_CHECK(back.body == Normalized(data));
    return 0;
}
