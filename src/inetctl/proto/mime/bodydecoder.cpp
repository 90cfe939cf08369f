#include "bodydecoder.h"
#include "oneline.h"

namespace mime {

namespace {
// A complete body is fed to a leaf decoder in slices of this size, so that
// the octets decoded from one slice never need a second full copy.
constexpr qsizetype kDecodeSlice = 256 * 1024;

QString RawText(QByteArrayView body)
{
    Utf8OrLatin1Decoder decoder;
    const QString text = decoder.Decode(body);
    return text + decoder.Finish();
}

// A part's text goes on a line of its own.
void AppendText(QString *out, const QString &text)
{
    if (text.isEmpty())
        return;
    if (!out->isEmpty() && !out->endsWith(QLatin1Char('\n')))
        *out += QStringLiteral("\r\n");
    *out += text;
}

QString Grouped(qint64 n)
{
    QString digits = QString::number(n);
    for (qsizetype at = digits.size() - 3; at > 0; at -= 3)
        digits.insert(at, QLatin1Char(','));
    return digits;
}

// The parts between "--boundary" lines (RFC 2046 5.1.1): the line break
// before a delimiter belongs to it, the preamble and epilogue are dropped,
// and a missing close delimiter ends the last part at the end of the body.
QList<QByteArrayView> SplitParts(QByteArrayView body, const QByteArray &boundary, bool *found)
{
    const QByteArray dashes = "--" + boundary;
    const QByteArray needle = '\n' + dashes;
    QList<QByteArrayView> parts;
    qsizetype partStart = -1;
    qsizetype from = 0;
    bool atStart = true; // the body's first line is a line start too
    *found = false;
    for (;;) {
        qsizetype at;
        if (atStart && body.startsWith(dashes)) {
            at = 0;
        } else {
            const qsizetype k = body.indexOf(needle, from);
            if (k < 0)
                break;
            at = k + 1;
        }
        atStart = false;
        qsizetype after = at + dashes.size();
        const bool close = body.sliced(after).startsWith("--");
        if (close)
            after += 2;
        qsizetype lineEnd = body.indexOf('\n', after);
        if (lineEnd < 0)
            lineEnd = body.size();
        bool delimiter = true; // only blanks may follow on the line
        for (qsizetype k = after; k < lineEnd && delimiter; ++k)
            delimiter = body[k] == ' ' || body[k] == '\t' || body[k] == '\r';
        if (!delimiter) {
            from = at;
            continue;
        }
        *found = true;
        if (partStart >= 0) {
            qsizetype end = at;
            if (end > partStart && body[end - 1] == '\n')
                --end;
            if (end > partStart && body[end - 1] == '\r')
                --end;
            parts.append(body.sliced(partStart, end - partStart));
        }
        if (close)
            return parts;
        partStart = qMin(lineEnd + 1, body.size());
        from = partStart - 1;
        if (from < 0 || partStart >= body.size())
            break;
    }
    if (partStart >= 0 && partStart < body.size())
        parts.append(body.sliced(partStart));
    return parts;
}

struct Part {
    EntityInfo info;
    QByteArrayView body;
};

Part ReadPart(QByteArrayView entity, bool inDigest)
{
    Part part;
    const QList<HeaderField> fields = ParseHeaderBlock(entity, &part.body);
    part.info = ParseEntityInfo(fields, inDigest);
    return part;
}

// The alternative a person reads: plain text first, else HTML, else a
// nested multipart (an HTML page with its pictures), else the first.
qsizetype ChooseAlternative(const QList<Part> &parts)
{
    for (int pass = 0; pass < 3; ++pass)
        for (qsizetype k = 0; k < parts.size(); ++k) {
            const EntityInfo &info = parts[k].info;
            if (info.attachment)
                continue;
            if ((pass == 0 && info.IsText() && info.subtype == "plain") || (pass == 1 && info.IsHtml())
                || (pass == 2 && info.IsMultipart()))
                return k;
        }
    return 0;
}
} // namespace

QString AttachmentLine(const QString &name, const QByteArray &type, qint64 size)
{
    // The name is the sender's: it must not break the line, pad itself into
    // what looks like another, or reorder the lines after it.
    QString shown = textcore::OneLine(name);
    if (shown.isEmpty())
        shown = textcore::OneLine(QString::fromLatin1(type));
    return QStringLiteral("[Attachment: %1, %2 %3]\r\n")
        .arg(shown, Grouped(size), size == 1 ? QStringLiteral("byte") : QStringLiteral("bytes"));
}

LeafDecoder::LeafDecoder(const EntityInfo &info)
    : m_info(info),
      m_show(info.attachment ? Show::Attachment
             : info.IsText() ? Show::Text
             : info.IsHtml() ? Show::Html
                             : Show::Attachment),
      m_transfer(ParseTransferEncoding(info.transferEncoding)), m_text(info.charset)
{
}

QString LeafDecoder::Feed(QByteArrayView raw)
{
    QByteArray decoded, broken;
    m_transfer.Feed(raw, &decoded, &broken);
    return Convert(decoded, broken);
}

QString LeafDecoder::Finish()
{
    QByteArray decoded, broken;
    m_transfer.Finish(&decoded, &broken);
    QString out = Convert(decoded, broken);
    switch (m_show) {
    case Show::Text:
        out += m_text.Finish() + m_rawText.Finish();
        break;
    case Show::Html:
        out += m_html.Feed(m_text.Finish());
        out += m_html.Finish();
        out += m_rawText.Finish();
        break;
    case Show::Attachment:
        out = AttachmentLine(m_info.fileName, m_info.type + '/' + m_info.subtype, m_size);
        break;
    }
    return out;
}

QString LeafDecoder::Convert(const QByteArray &decoded, const QByteArray &raw)
{
    if (m_show == Show::Attachment) {
        m_size += decoded.size() + raw.size();
        return QString();
    }
    QString out = m_show == Show::Html ? m_html.Feed(m_text.Decode(decoded)) : m_text.Decode(decoded);
    if (!raw.isEmpty()) {
        // The decoded text ends where the encoding broke; the raw text follows.
        if (m_show == Show::Html) {
            out += m_html.Feed(m_text.Finish());
            out += m_html.Finish();
        } else {
            out += m_text.Finish();
        }
        out += m_rawText.Decode(raw);
    }
    return out;
}

QString DecodeEntity(const EntityInfo &info, QByteArrayView body, int depth)
{
    if (!info.IsMultipart()) {
        LeafDecoder leaf(info);
        QString out;
        for (qsizetype at = 0; at < body.size(); at += kDecodeSlice)
            out += leaf.Feed(body.sliced(at, qMin(kDecodeSlice, body.size() - at)));
        return out + leaf.Finish();
    }
    bool found = false;
    const QList<QByteArrayView> pieces =
        info.boundary.isEmpty() || depth >= kMaxNesting ? QList<QByteArrayView>() : SplitParts(body, info.boundary, &found);
    if (!found)
        return RawText(body);
    QList<Part> parts;
    for (QByteArrayView piece : pieces)
        parts.append(ReadPart(piece, info.subtype == "digest"));
    QString out;
    if (info.subtype == "alternative") {
        if (!parts.isEmpty()) {
            const Part &chosen = parts[ChooseAlternative(parts)];
            AppendText(&out, DecodeEntity(chosen.info, chosen.body, depth + 1));
        }
        return out;
    }
    for (const Part &part : std::as_const(parts))
        AppendText(&out, DecodeEntity(part.info, part.body, depth + 1));
    return out;
}

BodyDecoder::BodyDecoder(const QList<HeaderField> &headers) : m_info(ParseEntityInfo(headers))
{
    if (!m_info.IsMultipart())
        m_leaf = std::make_unique<LeafDecoder>(m_info);
    else
        m_holding = !m_info.boundary.isEmpty(); // without a boundary: shown raw
}

QString BodyDecoder::Feed(QByteArrayView raw)
{
    if (m_leaf)
        return m_leaf->Feed(raw);
    if (!m_holding)
        return m_raw.Decode(raw);
    if (m_held.size() + raw.size() <= kMaxHeldMultipart) {
        m_held.append(raw.data(), raw.size());
        return QString();
    }
    // Too large to hold: what is held and everything after it shows raw.
    m_holding = false;
    QString out = m_raw.Decode(m_held);
    out += m_raw.Decode(raw);
    m_held = QByteArray();
    return out;
}

QString BodyDecoder::Finish()
{
    if (m_leaf)
        return m_leaf->Finish();
    if (!m_holding)
        return m_raw.Finish();
    m_holding = false;
    QString out = DecodeEntity(m_info, m_held);
    m_held = QByteArray();
    return out;
}

} // namespace mime
