#pragma once
#include "charsets.h"
#include "htmltext.h"
#include "mimeheaders.h"
#include "transferdecoding.h"

#include <QByteArray>
#include <QString>

#include <memory>

namespace mime {

// RFC 2046 5.1.1 allows boundaries of 70 characters, and a delimiter line
// must fit in RFC 5322's 998 octets. A longer boundary is none a sender
// meant: such a multipart shows as it came.
constexpr qsizetype kMaxBoundary = 998 - 4;
// Until its first delimiter a multipart body is held: without any, it shows
// as it came. A preamble is a line or two; past this size the body is shown
// so at once, streaming, so that neither memory nor the work left for the
// body's end grows with what the server sends.
constexpr qsizetype kMaxPreamble = 1024 * 1024;
// Multiparts nested deeper than this are shown as their raw text: a message
// built to nest without end must not exhaust the stack.
constexpr int kMaxNesting = 24;

// Turns the body of one entity into text as it streams in: Feed returns the
// text of each piece as soon as the structure allows, Finish the rest.
class EntityDecoder {
public:
    virtual ~EntityDecoder() = default;
    virtual QString Feed(QByteArrayView raw) = 0;
    virtual QString Finish() = 0;
};

// One entity that is not multipart, as its body streams in: text parts as
// text in their charset, HTML as readable text, anything else (or text
// marked as an attachment) as one line "[Attachment: name, size bytes]".
class LeafDecoder final : public EntityDecoder {
public:
    explicit LeafDecoder(const EntityInfo &info);
    QString Feed(QByteArrayView raw) override;
    QString Finish() override;

private:
    enum class Show { Text, Html, Attachment };
    QString Convert(QByteArrayView decoded, QByteArrayView raw);

    EntityInfo m_info;
    Show m_show;
    TransferDecoder m_transfer;
    TextDecoder m_text;
    Utf8OrLatin1Decoder m_rawText; // what broke out of its transfer encoding
    HtmlToText m_html;
    qint64 m_size = 0;
};

// The decoder for an entity nested `depth` multiparts deep: a multipart is
// decoded part by part as its parts arrive (of an alternative, the one a
// person reads), so that its end has no more left to do than any piece.
std::unique_ptr<EntityDecoder> MakeEntityDecoder(const EntityInfo &info, int depth = 0);

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
    std::unique_ptr<EntityDecoder> m_entity;
};

// The text of a complete entity body; exposed for tests.
QString DecodeEntity(const EntityInfo &info, QByteArrayView body, int depth = 0);

// "[Attachment: report.pdf, 12,345 bytes]"; a nameless one shows its type.
QString AttachmentLine(const QString &name, const QByteArray &type, qint64 size);

} // namespace mime
