#pragma once
#include "charsets.h"
#include "htmltext.h"
#include "mimeheaders.h"
#include "transferdecoding.h"

#include <QByteArray>
#include <QString>

#include <memory>

namespace mime {

// A multipart body is held whole until it ends (its text part may come
// after an HTML part or be nested anywhere). Past this size the body is
// shown as it came instead, streaming, so memory stays bounded whatever
// the server sends.
constexpr qsizetype kMaxHeldMultipart = 64 * 1024 * 1024;
// Multiparts nested deeper than this are shown as their raw text: a message
// built to nest without end must not exhaust the stack.
constexpr int kMaxNesting = 24;

// One entity that is not multipart, as its body streams in: text parts as
// text in their charset, HTML as readable text, anything else (or text
// marked as an attachment) as one line "[Attachment: name, size bytes]".
class LeafDecoder {
public:
    explicit LeafDecoder(const EntityInfo &info);
    QString Feed(QByteArrayView raw);
    QString Finish();

private:
    enum class Show { Text, Html, Attachment };
    QString Convert(const QByteArray &decoded, const QByteArray &raw);

    EntityInfo m_info;
    Show m_show;
    TransferDecoder m_transfer;
    TextDecoder m_text;
    Utf8OrLatin1Decoder m_rawText; // what broke out of its transfer encoding
    HtmlToText m_html;
    qint64 m_size = 0;
};

// The body of a retrieved message as text a person reads, given the
// message's header fields. Fed the raw body in pieces (CRLF line ends), it
// returns text for each piece as soon as the structure allows; Finish
// returns the rest. A body it cannot make sense of shows as it came.
class BodyDecoder {
public:
    explicit BodyDecoder(const QList<HeaderField> &headers);
    QString Feed(QByteArrayView raw);
    QString Finish();

private:
    EntityInfo m_info;
    std::unique_ptr<LeafDecoder> m_leaf;
    bool m_holding = false; // a multipart body, held whole
    QByteArray m_held;
    Utf8OrLatin1Decoder m_raw;
};

// The text of a complete entity body; exposed for tests.
QString DecodeEntity(const EntityInfo &info, QByteArrayView body, int depth = 0);

// "[Attachment: report.pdf, 12,345 bytes]"; a nameless one shows its type.
QString AttachmentLine(const QString &name, const QByteArray &type, qint64 size);

} // namespace mime
