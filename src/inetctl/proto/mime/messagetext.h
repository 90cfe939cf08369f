#pragma once
#include "bodydecoder.h"
#include "charsets.h"
#include "lineends.h"
#include "mimeheaders.h"

#include <QPair>
#include <QString>
#include <QStringList>

#include <memory>

namespace mime {

using HeaderText = QPair<QString, QString>;

// A received message as its reader gets it, the one road from octets to
// text: header fields as text (encoded words decoded), then the body as text
// (transfer encodings undone, the charset converted, of a multipart its text
// part and a line per attachment) piece by piece as it arrives. With
// `decode` false it is the source instead: values only unfolded and the
// body's octets as sent, read as UTF-8 line by line, else Latin-1. Either
// way every line ends in '\n' (mail's CR LF, and a lone CR, made one), and
// each header field is one line that nothing the sender wrote can break,
// reorder or pad into more (textcore::OneLine).
class MessageText {
public:
    MessageText(const QList<HeaderField> &headers, bool decode);
    ~MessageText();

    const QList<HeaderText> &Headers() const { return m_headers; }
    // The text of the next body octets (CR LF line ends, as received); it
    // may be empty while a multipart body is held until its end.
    QString Feed(QByteArrayView body);
    QString Finish();

private:
    QList<HeaderText> m_headers;
    std::unique_ptr<BodyDecoder> m_decoder; // null: the source
    Utf8OrLatin1Decoder m_source;
    LineEnds m_lineEnds;
};

// A text cut into pieces of at most maxChars, after a line end where one is
// in the second half of a piece, never inside a surrogate pair: no single
// event asks the view to lay out megabytes at once.
QStringList CutForDelivery(const QString &text, qsizetype maxChars);

} // namespace mime
