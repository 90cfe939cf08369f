// Received MIME entities: header values come unfolded and trimmed, the text
// of a body does not depend on how it is cut between reads, and the work
// stays linear in the input whatever its shape. For the last the input is
// also read stretched to a megabyte (its first line, then the rest over and
// over: one header folded down many lines, or a body of many lines that
// nearly match its boundary), so that a shape whose cost grows faster than
// its size runs past the fuzzer's time limit per input.
#include "fuzzcuts.h"
#include "fuzzentries.h"
#include "mime/bodydecoder.h"
#include "mime/mimeheaders.h"
#include "pop/popreply.h"

using namespace mime;

namespace {
// Large enough that a cost growing with the square of the input (or with
// boundary length times body size) takes seconds, small enough that linear
// work stays well under a second per input, even instrumented.
constexpr qsizetype kStretched = 1024 * 1024;
constexpr qsizetype kStretchedPiece = 64 * 1024;

void CheckFields(const QList<HeaderField> &fields)
{
    for (const HeaderField &field : fields) {
        FUZZ_CHECK(!field.first.isEmpty() && !field.first.contains(':'));
        FUZZ_CHECK(!field.second.contains('\n'));
        FUZZ_CHECK(field.second == field.second.trimmed());
    }
}

// The text of the body fed in pieces ending at the cuts.
QString Decode(const QList<HeaderField> &fields, QByteArrayView body, const QList<qsizetype> &cuts)
{
    BodyDecoder decoder(fields);
    QString text;
    qsizetype pos = 0;
    for (qsizetype cut : cuts) {
        if (cut < pos)
            continue;
        text += decoder.Feed(body.sliced(pos, cut - pos));
        pos = cut;
    }
    text += decoder.Feed(body.sliced(pos));
    return text + decoder.Finish();
}

QByteArray Stretched(QByteArrayView data)
{
    const qsizetype firstLine = data.indexOf('\n') + 1;
    const QByteArrayView unit = firstLine > 0 && firstLine < data.size() ? data.sliced(firstLine) : data;
    QByteArray out;
    out.reserve(kStretched + unit.size() + firstLine);
    out.append(data.first(firstLine));
    while (out.size() < kStretched)
        out.append(unit);
    return out;
}
} // namespace

int FuzzMimeBody(const uint8_t *bytes, size_t size)
{
    const QByteArrayView data(reinterpret_cast<const char *>(bytes), qsizetype(size));
    QByteArrayView body;
    const QList<HeaderField> fields = ParseHeaderBlock(data, &body);
    CheckFields(fields);

    // However the reads cut the body, the same text.
    const QString whole = Decode(fields, body, {});
    FUZZ_CHECK(Decode(fields, body, FuzzCuts(body, 6)) == whole);
    if (body.size() <= 256) {
        QList<qsizetype> everyByte;
        for (qsizetype i = 1; i < body.size(); ++i)
            everyByte << i;
        FUZZ_CHECK(Decode(fields, body, everyByte) == whole);
    }
    FUZZ_CHECK(DecodeEntity(ParseEntityInfo(fields), body) == whole);

    if (size == 0)
        return 0;
    const QByteArray stretched = Stretched(data);
    const QList<HeaderField> stretchedFields = ParseHeaderBlock(stretched, &body);
    CheckFields(stretchedFields);
    QList<qsizetype> pieces;
    for (qsizetype at = kStretchedPiece; at < body.size(); at += kStretchedPiece)
        pieces << at;
    (void)Decode(stretchedFields, body, pieces);
    // The same header block as the POP reader reads it.
    pop::RetrDecoder retr;
    (void)retr.Feed(stretched);
    CheckFields(retr.Headers());
    return 0;
}
