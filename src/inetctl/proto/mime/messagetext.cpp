#include "messagetext.h"
#include "encodedwords.h"
#include "oneline.h"

namespace mime {

MessageText::MessageText(const QList<HeaderField> &headers, bool decode)
{
    m_headers.reserve(headers.size());
    // A field is shown as one line of its own, in the source as well: a line
    // break the sender encoded (or wrote as U+2028) would show a header the
    // message does not have, a direction override would reorder the lines
    // after it, and padding would push text onto a line that looks its own.
    for (const auto &[name, value] : headers)
        m_headers.append({textcore::OneLine(QString::fromLatin1(name)),
                          textcore::OneLine(decode ? DecodeHeaderValue(value) : DecodeCharset(value, {}))});
    if (decode)
        m_decoder = std::make_unique<BodyDecoder>(headers);
}

MessageText::~MessageText() = default;

QString MessageText::Feed(QByteArrayView body)
{
    return m_lineEnds.Feed(m_decoder ? m_decoder->Feed(body) : m_source.Decode(body));
}

QString MessageText::Finish()
{
    return m_lineEnds.Feed(m_decoder ? m_decoder->Finish() : m_source.Finish());
}

QStringList CutForDelivery(const QString &text, qsizetype maxChars)
{
    QStringList pieces;
    qsizetype at = 0;
    while (at < text.size()) {
        qsizetype length = text.size() - at;
        if (length > maxChars) {
            const qsizetype nl = text.lastIndexOf(QLatin1Char('\n'), at + maxChars - 1);
            length = nl >= at + maxChars / 2 ? nl + 1 - at : maxChars;
            if (text[at + length].isLowSurrogate())
                --length;
        }
        pieces.append(text.mid(at, length));
        at += length;
    }
    return pieces;
}

} // namespace mime
